// SPDX-License-Identifier: GPL-3.0-or-later
// The start-up's part of the session journal: the journals of crashed sessions are found,
// read, and dealt with as recoverypolicy.h decides.
#include "sessionjournal.h"

#include "fileaccess.h"
#include "journalfiles.h"
#include "journalreplay.h"
#include "mainwindow/noterow.h"
#include "recoverypolicy.h"
#include "sqlitestatement.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <climits>
#include <memory>
#include <vector>

namespace {

// What a journal may take beyond its own size while it is read.
constexpr sqlite3_int64 ReadingHeapCap = 32 << 20;

// Journals of this notes file in both places, with their numbers, whose databases exist.
// A -wal left without its database is removed on the way.
QStringList journalsOf(const QString &notesFile)
{
    QStringList found;
    const QString local = QFileInfo(notesFile).absoluteDir().filePath(QLatin1String(JournalStem));
    for (const QString &stem : {local, fallbackStem(notesFile)}) {
        const QFileInfo info(stem);
        const QStringList names = info.dir().entryList({info.fileName() + QLatin1Char('*')},
                                                       QDir::Files | QDir::Hidden | QDir::System);
        for (int number = 0; number < MaxJournals; ++number) {
            const QString name = numbered(info.fileName(), number);
            const bool database = names.contains(name);
            if (names.contains(name + QLatin1String("-wal")) && !database)
                removeFile(info.dir().filePath(name + QLatin1String("-wal")));
            if (database)
                found << info.dir().filePath(name);
        }
    }
    return found;
}

// Copies `from` into the new file `to`, which only its owner may read, and syncs it. Done
// before SQLite opens `to`.
bool copyInto(const QString &from, const QString &to)
{
    if (createExclusive(to) != 0)
        return false;
    QFile source(from);
    QFile target(to);
    bool copied = source.open(QIODevice::ReadOnly) && target.open(QIODevice::WriteOnly);
    while (copied && !source.atEnd()) {
        const QByteArray chunk = source.read(1 << 20);
        copied = source.error() == QFileDevice::NoError && target.write(chunk) == chunk.size();
    }
    copied = copied && source.error() == QFileDevice::NoError && syncToDisk(target);
    target.close();
    if (!copied)
        removeFile(to);
    return copied;
}

// An exclusive WAL journal is read under a write lock, which a folder or file system that
// cannot be written does not give: such a journal is read from a copy in the folder of
// rescued notes, which goes on as the session's journal where it is replayed. The original
// is left as it is. Empty where no copy could be made.
QString copyToRescueFolder(const QString &journal, const QString &notesFile)
{
    if (!QDir().mkpath(rescueDirectory()))
        return QString();
    for (int number = 0; number < MaxJournals; ++number) {
        const QString name = numbered(fallbackStem(notesFile), number);
        if (fileExists(name) || fileExists(walOf(name)))
            continue;
        if (!copyInto(journal, name))
            return QString();
        if (fileExists(walOf(journal)) && !copyInto(walOf(journal), walOf(name))) {
            removeFile(name);
            return QString();
        }
        hideFile(name);
        hideFile(walOf(name));
        syncFolderOf(name, nullptr);
        return name;
    }
    return QString();
}

bool sameFile(const NotesFileStamp &a, const NotesFileStamp &b)
{
    // The device number may change across a reboot.
    return a.exists == b.exists &&
           (!a.exists || (a.size == b.size && a.modified == b.modified && a.inode == b.inode));
}

NotesFileStamp stampFrom(const Statement &query, int first)
{
    NotesFileStamp stamp;
    stamp.exists = query.integer(first) != 0;
    stamp.size = query.integer(first + 1);
    stamp.modified = query.integer(first + 2);
    stamp.inode = quint64(query.integer(first + 3));
    return stamp;
}

// One journal of a crashed session, open for reading and locked.
struct CrashedJournal
{
    QString path;
    sqlite3 *db = nullptr;
    JournalFacts facts;
    NotesFileStamp base;
    NotesFileStamp saved;
    qint64 listSeq = -1;

    ~CrashedJournal() { sqlite3_close(db); }
    // Done with: closed, and its files removed.
    void discard() { removeJournal(db, path); }
};

// Opens and locks a journal, and tells what it is.
void openCrashed(CrashedJournal &journal)
{
    using Opened = JournalFacts::Opened;
    journal.facts.opened = Opened::Unopenable;
    const qint64 bytes = fileSize(journal.path) + fileSize(walOf(journal.path));
    // Memory for reading is bounded by a fixed cap and the file's size.
    sqlite3_hard_heap_limit64(ReadingHeapCap + bytes);
    if (sqlite3_open_v2(sqliteFileName(journal.path).constData(), &journal.db,
                        SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
        return;
    sqlite3_limit(journal.db, SQLITE_LIMIT_LENGTH,
                  int(qBound<qint64>(1024, bytes, qint64(1) << 30)));
    sqlite3_busy_timeout(journal.db, 0);
    if (!harden(journal.db))
        return;
    // The exclusive lock, kept from here on.
    const int locked =
        sqlite3_exec(journal.db, "BEGIN EXCLUSIVE; COMMIT", nullptr, nullptr, nullptr);
    if (locked == SQLITE_BUSY || locked == SQLITE_LOCKED) {
        journal.facts.opened = Opened::Held;
        return;
    }
    if (locked != SQLITE_OK || !configure(journal.db))
        return;
    journal.facts.opened = Opened::Open;
    {
        Statement check(journal.db, "PRAGMA quick_check");
        journal.facts.intact = check.step() == SQLITE_ROW && check.utf8(0) == "ok";
    }
    if (!journal.facts.intact)
        return;

    // A journal made by a session killed before its first change was committed holds
    // nothing.
    Statement query(journal.db,
                    "SELECT base_exists, base_size, base_modified, base_inode, saved_exists,"
                    " saved_size, saved_modified, saved_inode, list_seq, last_change, set_aside"
                    " FROM session WHERE id = 1");
    if (query.step() != SQLITE_ROW) {
        journal.facts.empty = true;
        return;
    }
    journal.base = stampFrom(query, 0);
    journal.saved = stampFrom(query, 4);
    journal.listSeq = query.isNull(8) ? -1 : query.integer(8);
    journal.facts.listKept = journal.listSeq >= 0;
    journal.facts.lastChange = query.integer(9);
    journal.facts.setAside = query.integer(10) != 0;
}

QList<SessionJournal::Draft> readDrafts(sqlite3 *db)
{
    QList<SessionJournal::Draft> drafts;
    Statement query(db, "SELECT window, target, title, body, written FROM drafts ORDER BY window");
    while (query.step() == SQLITE_ROW) {
        const qint64 window = query.integer(0);
        if (window != 0 && window != 1)
            continue;
        SessionJournal::Draft draft;
        draft.window = SessionJournal::Window(window);
        draft.target = int(qBound<qint64>(-1, query.integer(1), qint64(INT_MAX)));
        draft.title = query.text(2);
        draft.text = query.text(3);
        draft.written = QDateTime::fromMSecsSinceEpoch(query.integer(4));
        drafts << draft;
    }
    return drafts;
}

// Replays the changes onto the rows read, or onto the list the journal keeps where the
// session began to write notes.dat in place. False on a change that cannot be applied.
bool replay(sqlite3 *db, qint64 listSeq, int fileRows, QList<JournalEntry> &entries, int &changes)
{
    std::vector<JournalEntry> start;
    if (listSeq >= 0) {
        Statement list(db, "SELECT title, preview, date, body FROM list ORDER BY position");
        int result;
        while ((result = list.step()) == SQLITE_ROW)
            start.push_back({-1, list.row(0)});
        if (result != SQLITE_DONE)
            return false;
    } else {
        start = JournalReplay::fileRows(fileRows);
    }
    Statement inserts(db, "SELECT count(*) FROM changes WHERE kind = 0 AND seq > ?");
    inserts.bind(1, listSeq);
    if (inserts.step() != SQLITE_ROW)
        return false;
    JournalReplay replayed(std::move(start), inserts.integer(0));
    if (!replayed.fits())
        return false;

    Statement query(db, "SELECT kind, position, title, preview, date, body FROM changes"
                        " WHERE seq > ? ORDER BY seq");
    query.bind(1, listSeq);
    int result;
    while ((result = query.step()) == SQLITE_ROW) {
        const qint64 kind = query.integer(0);
        if (kind < 0 || kind > qint64(JournalChange::RemoveAll))
            return false;
        const auto change = JournalChange(kind);
        QStringList row;
        if (change == JournalChange::Insert || change == JournalChange::Replace)
            row = query.row(2);
        if (!replayed.apply(change, query.integer(1), std::move(row)))
            return false;
    }
    if (result != SQLITE_DONE)
        return false;
    changes = replayed.applied();
    entries = replayed.takeList();
    return true;
}

// Every note the journal's session added or edited, in the order it did, and its drafts
// as notes: as much as can be read.
QList<QStringList> rescuableRows(sqlite3 *db)
{
    QList<QStringList> rows;
    for (const char *sql : {"SELECT title, preview, date, body FROM list ORDER BY position",
                            "SELECT title, preview, date, body FROM changes"
                            " WHERE kind IN (0, 1) ORDER BY seq"}) {
        Statement query(db, sql);
        while (query.step() == SQLITE_ROW)
            rows << query.row(0);
    }
    for (const SessionJournal::Draft &draft : readDrafts(db))
        rows << makeNoteRow(draft.title, draft.text, draft.written);
    return rows;
}

QString stampName()
{
    return QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
}

// A journal that cannot be trusted is kept, never deleted: a database is marked inside,
// since it and its -wal cannot be renamed together; any other file is renamed.
void setAside(CrashedJournal &journal)
{
    if (journal.facts.opened == JournalFacts::Opened::Open &&
        exec(journal.db, "UPDATE session SET set_aside = 1"))
        return;
    sqlite3_close(journal.db);
    journal.db = nullptr;
    const QString aside = journal.path + QLatin1String(".damaged-") + stampName();
    renameFile(journal.path, aside);
    renameFile(walOf(journal.path), walOf(aside));
    syncFolderOf(journal.path, nullptr);
}

} // namespace

SessionJournal::Recovery SessionJournal::recover(const NotesFileStamp &loaded, int fileRows)
{
    base = loaded;
    Recovery recovery;
    const QStringList paths = journalsOf(notesFile);
    if (paths.isEmpty())
        return recovery;

    std::vector<std::unique_ptr<CrashedJournal>> journals;
    QList<JournalFacts> facts;
    for (const QString &found : paths) {
        auto journal = std::make_unique<CrashedJournal>();
        journal->path = found;
        if (!folderTakesNewFiles(found) || !fileWritable(found) || !fileWritable(walOf(found))) {
            const QString copy = copyToRescueFolder(found, notesFile);
            if (!copy.isEmpty())
                journal->path = copy;
        }
        openCrashed(*journal);
        journal->facts.savedEqual = journal->saved.exists && sameFile(journal->saved, loaded);
        journal->facts.baseEqual = sameFile(journal->base, loaded);
        facts << journal->facts;
        journals.push_back(std::move(journal));
    }
    const QList<JournalAction> actions = decideRecovery(facts);

    QList<QStringList> toRescue;
    QList<CrashedJournal *> rescued;
    for (size_t i = 0; i < journals.size(); ++i) {
        CrashedJournal &journal = *journals[i];
        switch (actions.at(int(i))) {
        case JournalAction::Skip:
            break;
        case JournalAction::Discard:
            journal.discard();
            break;
        case JournalAction::SetAside:
            if (journal.facts.opened == JournalFacts::Opened::Open)
                toRescue += rescuableRows(journal.db);
            setAside(journal);
            recovery.setAside = true;
            break;
        case JournalAction::Replay:
            if (replay(journal.db, journal.listSeq, fileRows, recovery.entries, recovery.changes)) {
                recovery.replayed = true;
                recovery.drafts = readDrafts(journal.db);
                recovery.lastChange = QDateTime::fromMSecsSinceEpoch(journal.facts.lastChange);
                // It goes on as this session's journal, so a second crash loses nothing.
                db = journal.db;
                journal.db = nullptr;
                path = journal.path;
                base = journal.base;
                for (const Draft &draft : std::as_const(recovery.drafts))
                    draftStored[int(draft.window)] = true;
            } else {
                recovery.entries.clear();
                toRescue += rescuableRows(journal.db);
                setAside(journal);
                recovery.setAside = true;
            }
            break;
        case JournalAction::Rescue:
            break;
        }
    }
    for (size_t i = 0; i < journals.size(); ++i) {
        CrashedJournal &journal = *journals[i];
        if (actions.at(int(i)) != JournalAction::Rescue)
            continue;
        toRescue += rescuableRows(journal.db);
        rescued << &journal;
        if (!recovery.lastChange.isValid() ||
            journal.facts.lastChange > recovery.lastChange.toMSecsSinceEpoch())
            recovery.lastChange = QDateTime::fromMSecsSinceEpoch(journal.facts.lastChange);
    }
    if (!toRescue.isEmpty()) {
        recovery.rescueFile =
            rescueNotes(toRescue, QDateTime::currentDateTime(), &recovery.rescueReason);
    }
    // Recovery data is never deleted unread, nor before it is safe elsewhere.
    if (!recovery.rescueFile.isEmpty() || toRescue.isEmpty()) {
        for (CrashedJournal *journal : std::as_const(rescued))
            journal->discard();
    }
    journals.clear();
    sqlite3_hard_heap_limit64(0);
    if (db)
        sqlite3_limit(db, SQLITE_LIMIT_LENGTH, 1000000000);
    return recovery;
}
