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

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <climits>
#include <memory>
#include <vector>

namespace {

// How long an empty journal counts as just made by a Quillora that is about to lock it.
constexpr qint64 JustMadeMs = 60 * 1000;

// What a journal may take beyond its own size while it is read.
constexpr sqlite3_int64 ReadingHeapCap = 32 << 20;

// What the rows read from the journals may take, counted before each becomes strings: a
// row in memory is a list of four strings, some 128 bytes beyond its text, against a few
// bytes on disk, so a journal of many tiny rows would take far more than its size. A
// journal's own rows, whose date alone is 38 bytes, take at most about three times what
// they take on disk.
class RowBudget
{
public:
    explicit RowBudget(qint64 journalBytes) : left(ReadingHeapCap + 4 * journalBytes) {}
    // False once the row at `first` of the query would go beyond it.
    bool take(const Statement &query, int first)
    {
        left -= 128 + textBytes(query, first);
        return left >= 0;
    }
    static qint64 textBytes(const Statement &query, int first)
    {
        qint64 bytes = 0;
        for (int column = first; column < first + NoteColumnCount; ++column)
            bytes += query.bytes(column);
        return bytes;
    }

private:
    qint64 left;
};

// Journals of this notes file in both places, with their numbers, whose databases exist.
// A -wal left without its database stays: the listing may be stale by now, and the writer
// removes such a -wal before it makes a journal of that name.
QStringList journalsOf(const QString &notesFile)
{
    QStringList found;
    const QString local = QFileInfo(notesFile).absoluteDir().filePath(QLatin1String(JournalStem));
    QStringList stems = {local, fallbackStem(notesFile)};
    if (fallbackStem(notesFile, false) != stems.last())
        stems << fallbackStem(notesFile, false);
    for (const QString &stem : std::as_const(stems)) {
        const QFileInfo info(stem);
        const QStringList names = info.dir().entryList({info.fileName() + QLatin1Char('*')},
                                                       QDir::Files | QDir::Hidden | QDir::System);
        for (int number = 0; number < MaxJournals; ++number) {
            const QString name = numbered(info.fileName(), number);
            if (names.contains(name))
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

// Copies the file that SQLite has open for `db` (its database, or with `wal` its -wal) into
// the new file `to`, owner-only, and syncs it. Read through SQLite's own handle: a second
// handle on the file, once closed, would drop the locks SQLite holds on it. True where there
// is no such file open.
bool copyOpenInto(sqlite3 *db, bool wal, const QString &to)
{
    sqlite3_file *from = nullptr;
    if (sqlite3_file_control(db, "main",
                             wal ? SQLITE_FCNTL_JOURNAL_POINTER : SQLITE_FCNTL_FILE_POINTER,
                             &from) != SQLITE_OK ||
        !from || !from->pMethods)
        return wal;
    sqlite3_int64 size = 0;
    if (from->pMethods->xFileSize(from, &size) != SQLITE_OK || createExclusive(to) != 0)
        return false;
    QFile target(to);
    bool copied = target.open(QIODevice::WriteOnly);
    QByteArray chunk;
    for (sqlite3_int64 offset = 0; copied && offset < size; offset += chunk.size()) {
        chunk.resize(int(qMin<sqlite3_int64>(size - offset, 1 << 20)));
        copied =
            from->pMethods->xRead(from, chunk.data(), int(chunk.size()), offset) == SQLITE_OK &&
            target.write(chunk) == chunk.size();
    }
    copied = copied && syncToDisk(target);
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
    if (!makeFolder(rescueDirectory()))
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

// The device number may change across a reboot, and on FAT and exFAT volumes the file's
// number at each mount: there, a file is told by its size and time alone.
bool sameFile(const NotesFileStamp &a, const NotesFileStamp &b, bool byNumber)
{
    return a.exists == b.exists && (!a.exists || (a.size == b.size && a.modified == b.modified &&
                                                  (!byNumber || a.inode == b.inode)));
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
    // Where it was read from a copy: the journal itself, in a folder that cannot be written.
    QString original;
    sqlite3 *db = nullptr;
    JournalFacts facts;
    NotesFileStamp base;
    NotesFileStamp saved;
    qint64 listSeq = -1;
    // The file locked, as its name led to it then.
    NotesFileStamp locked;

    ~CrashedJournal() { sqlite3_close(db); }
    // Done with: its files removed, and closed. Only while its name still leads to the file
    // locked: another Quillora may have put a journal of its own there since.
    void discard()
    {
        if (sameIdentity(stampOf(path), locked))
            removeJournal(db, path);
        sqlite3_close(db);
        db = nullptr;
    }
    static bool sameIdentity(const NotesFileStamp &a, const NotesFileStamp &b)
    {
        return a.exists && b.exists && a.device == b.device && a.inode == b.inode;
    }
};

// Opens and locks a journal, and tells what it is. A symbolic link under a journal's name is
// not followed.
void openCrashed(CrashedJournal &journal)
{
    using Opened = JournalFacts::Opened;
    JournalFacts &facts = journal.facts;
    facts.opened = Opened::Unopenable;
    // Another user's journal is never read as this user's own, whoever may write it.
    if (ownedByAnother(journal.path)) {
        facts.opened = Opened::OtherOwner;
        return;
    }
    const qint64 bytes = fileSize(journal.path) + fileSize(walOf(journal.path));
    const NotesFileStamp named = stampOf(journal.path);
    // Made by a Quillora that has not locked it yet: nothing in it, and just made.
    facts.justMade =
        bytes == 0 && named.exists &&
        qAbs(QFileInfo(journal.path).lastModified().msecsTo(QDateTime::currentDateTime())) <
            JustMadeMs;
    if (sqlite3_open_v2(sqliteFileName(journal.path).constData(), &journal.db,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW, nullptr) != SQLITE_OK)
        return;
    sqlite3_limit(journal.db, SQLITE_LIMIT_LENGTH,
                  int(qBound<qint64>(1024, bytes, qint64(1) << 30)));
    sqlite3_busy_timeout(journal.db, 0);
    if (!harden(journal.db))
        return;
    // The exclusive lock, kept from here on.
    const int locked =
        sqlite3_exec(journal.db, "BEGIN EXCLUSIVE; COMMIT", nullptr, nullptr, nullptr);
    if (locked == SQLITE_BUSY || locked == SQLITE_LOCKED)
        facts.opened = Opened::Held;
    else if (locked == SQLITE_NOTADB)
        facts.opened = Opened::NotJournal;
    if (locked != SQLITE_OK || !configure(journal.db))
        return;
    // Its name may have been given to another file between the look and the lock.
    journal.locked = stampOf(journal.path);
    if (!CrashedJournal::sameIdentity(named, journal.locked)) {
        facts.opened = Opened::Held;
        return;
    }
    facts.opened = Opened::Open;

    // A journal made by a session killed before its first change was committed holds
    // nothing, not even its tables.
    Statement tables(journal.db, "SELECT count(*) FROM sqlite_schema");
    if (tables.step() != SQLITE_ROW) {
        facts.readable = false;
    } else if (tables.integer(0) == 0) {
        facts.empty = true;
    } else {
        Statement query(journal.db, "SELECT base_exists, base_size, base_modified, base_inode,"
                                    " saved_exists, saved_size, saved_modified, saved_inode,"
                                    " list_seq, last_change, set_aside FROM session WHERE id = 1");
        facts.readable = query.step() == SQLITE_ROW;
        if (facts.readable) {
            journal.base = stampFrom(query, 0);
            journal.saved = stampFrom(query, 4);
            journal.listSeq = query.isNull(8) ? -1 : query.integer(8);
            facts.listKept = journal.listSeq >= 0;
            facts.lastChange = query.integer(9);
            facts.setAside = query.integer(10) != 0;
        }
    }
    // One set aside by an earlier start is passed over, whatever its state.
    if (!facts.setAside && !facts.empty) {
        Statement check(journal.db, "PRAGMA quick_check");
        facts.intact = check.step() == SQLITE_ROW && check.utf8(0) == "ok";
    }
}

// The drafts the journal holds. False where they could not all be read.
bool readDrafts(sqlite3 *db, QList<SessionJournal::Draft> &drafts)
{
    Statement query(db, "SELECT window, target, title, body, written FROM drafts ORDER BY window");
    int result;
    while ((result = query.step()) == SQLITE_ROW) {
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
    return result == SQLITE_DONE;
}

// Replays the changes onto the rows read, or onto the list the journal keeps where the
// session began to write notes.dat in place. False on a change that cannot be applied.
bool replay(sqlite3 *db, qint64 listSeq, int fileRows, RowBudget &budget, ReplayedList &list,
            int &changes)
{
    std::vector<QStringList> kept;
    if (listSeq >= 0) {
        Statement rows(db, "SELECT title, preview, date, body FROM list ORDER BY position");
        int result;
        while ((result = rows.step()) == SQLITE_ROW) {
            if (!budget.take(rows, 0))
                return false;
            kept.push_back(rows.row(0));
        }
        if (result != SQLITE_DONE)
            return false;
    }
    // At most as many rows added as there are changes, told by the last change's number
    // without a pass over them.
    Statement inserts(db, "SELECT coalesce(max(seq), 0) - ? FROM changes");
    inserts.bind(1, qMax<qint64>(listSeq, 0));
    if (inserts.step() != SQLITE_ROW)
        return false;
    JournalReplay replayed = listSeq >= 0 ? JournalReplay(std::move(kept), inserts.integer(0))
                                          : JournalReplay(fileRows, inserts.integer(0));
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
        if (change == JournalChange::Insert || change == JournalChange::Replace) {
            if (!budget.take(query, 2))
                return false;
            row = query.row(2);
        }
        if (!replayed.apply(change, query.integer(1), std::move(row)))
            return false;
    }
    if (result != SQLITE_DONE)
        return false;
    changes = replayed.applied();
    list = replayed.takeList();
    return true;
}

// Every note the journal's session added or edited, in the order it did, and its drafts
// as notes, into `rows`: as much as can be read. False where some of it could not be.
bool rescuableRows(sqlite3 *db, RowBudget &budget, QList<QStringList> &rows)
{
    bool whole = true;
    for (const char *sql : {"SELECT title, preview, date, body FROM list ORDER BY position",
                            "SELECT title, preview, date, body FROM changes"
                            " WHERE kind IN (0, 1) ORDER BY seq"}) {
        Statement query(db, sql);
        int result;
        while ((result = query.step()) == SQLITE_ROW) {
            // A row with no text at all holds no note: every note has its date.
            if (RowBudget::textBytes(query, 0) == 0)
                continue;
            if (!budget.take(query, 0))
                break;
            rows << query.row(0);
        }
        whole = whole && result == SQLITE_DONE;
    }
    QList<SessionJournal::Draft> drafts;
    whole = readDrafts(db, drafts) && whole;
    for (const SessionJournal::Draft &draft : std::as_const(drafts))
        rows << makeNoteRow(draft.title, draft.text, draft.written);
    return whole;
}

QString stampName()
{
    return QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
}

// A journal that cannot be trusted is kept, never deleted. A database is marked inside,
// since it and its -wal cannot be renamed together; where it cannot be marked, it is copied
// under a new name, and removed only once the copy is whole, while it is still locked. A
// file that is no database is renamed.
void setAside(CrashedJournal &journal)
{
    const bool database = journal.facts.opened == JournalFacts::Opened::Open;
    if (database && exec(journal.db, "UPDATE session SET set_aside = 1"))
        return;
    const QString aside = journal.path + QLatin1String(".damaged-") + stampName();
    if (!database) {
        sqlite3_close(journal.db);
        journal.db = nullptr;
        renameFile(journal.path, aside);
        renameFile(walOf(journal.path), walOf(aside));
        syncFolderOf(journal.path, nullptr);
        return;
    }
    if (copyOpenInto(journal.db, false, aside) && copyOpenInto(journal.db, true, walOf(aside))) {
        syncFolderOf(aside, nullptr);
        journal.discard();
    }
}

// A journal in a folder that could not be written, once dealt with, is passed over by the
// starts after, as long as it is as it was then, even once the folder can be written again:
// its mark in the folder of rescued notes is named after its place and state. Its state is
// its size and time alone, which last across mounts where a file's number does not; marks
// made before named the number too, and still count.
QString handledMark(const QString &journal, bool byNumber = false)
{
    QByteArray identity = QFileInfo(journal).absoluteFilePath().toUtf8();
    for (const QString &name : {journal, walOf(journal)}) {
        const NotesFileStamp stamp = stampOf(name);
        identity += '|' + QByteArray::number(stamp.size) + ',' + QByteArray::number(stamp.modified);
        if (byNumber)
            identity += ',' + QByteArray::number(stamp.inode);
    }
    return rescueDirectory() + QLatin1String("/notes-") +
           QString::fromLatin1(
               QCryptographicHash::hash(identity, QCryptographicHash::Sha256).toHex().left(16)) +
           QLatin1String(".journal-handled");
}

} // namespace

SessionJournal::Recovery SessionJournal::recover(const NotesFileStamp &loaded, int fileRows)
{
    base = loaded;
    Recovery recovery;
    const QStringList paths = journalsOf(notesFile);
    if (paths.isEmpty())
        return recovery;

    // One cap on memory for reading all of them: a fixed allowance and their sizes.
    qint64 bytes = 0;
    for (const QString &found : paths)
        bytes += fileSize(found) + fileSize(walOf(found));
    sqlite3_hard_heap_limit64(ReadingHeapCap + bytes);
    // The rows of a replay, dropped if it fails, and those of the rescue file.
    RowBudget replayBudget(bytes);
    RowBudget rescueBudget(bytes);

    // What is known of each before reading.
    const bool byNumber = fileNumbersLast(QFileInfo(notesFile).absolutePath());
    std::vector<std::unique_ptr<CrashedJournal>> journals;
    QList<JournalFacts> facts;
    for (const QString &found : paths) {
        auto journal = std::make_unique<CrashedJournal>();
        journal->path = found;
        if (fileExists(handledMark(found)) || fileExists(handledMark(found, true)))
            continue;
        if (!folderTakesNewFiles(found) || !fileWritable(found) || !fileWritable(walOf(found))) {
            const QString copy = copyToRescueFolder(found, notesFile);
            if (!copy.isEmpty()) {
                journal->original = found;
                journal->path = copy;
            }
        }
        openCrashed(*journal);
        journal->facts.savedEqual =
            journal->saved.exists && sameFile(journal->saved, loaded, byNumber);
        journal->facts.baseEqual = sameFile(journal->base, loaded, byNumber);
        journal->facts.fileThere = loaded.exists;
        facts << journal->facts;
        journals.push_back(std::move(journal));
    }
    const QList<JournalAction> planned = decideRecovery(facts);

    // Each read for its action, and dealt with as the reading decides.
    QList<JournalAction> actions;
    QList<QStringList> toRescue;
    for (size_t i = 0; i < journals.size(); ++i) {
        CrashedJournal &journal = *journals[i];
        JournalReading reading;
        if (planned.at(int(i)) == JournalAction::Replay && replayKeepsFileFirst(journal.facts)) {
            reading.fileKept =
                keepBackupOf(notesFile, QDateTime::currentDateTime(), nullptr, &recovery.keptFile);
        }
        if (planned.at(int(i)) == JournalAction::Replay &&
            (reading.fileKept || !replayKeepsFileFirst(journal.facts))) {
            reading.replayed = replay(journal.db, journal.listSeq, fileRows, replayBudget,
                                      recovery.list, recovery.changes) &&
                               readDrafts(journal.db, recovery.drafts);
        } else if (planned.at(int(i)) == JournalAction::Rescue) {
            reading.rowsRead = true;
            reading.rowsWhole = rescuableRows(journal.db, rescueBudget, toRescue);
        }
        const JournalAction action = afterReading(planned.at(int(i)), journal.facts, reading);
        actions << action;
        if (rescuesRows(action, journal.facts) && !reading.rowsRead)
            rescuableRows(journal.db, rescueBudget, toRescue);
        if (action == JournalAction::Replay) {
            recovery.replayed = true;
            recovery.lastChange = QDateTime::fromMSecsSinceEpoch(journal.facts.lastChange);
            // It goes on as this session's journal, so a second crash loses nothing.
            db = journal.db;
            journal.db = nullptr;
            path = journal.path;
            base = journal.base;
            for (const Draft &draft : std::as_const(recovery.drafts))
                draftStored[int(draft.window)] = true;
        } else if (planned.at(int(i)) == JournalAction::Replay) {
            recovery.list = {};
            recovery.drafts.clear();
            recovery.changes = 0;
        }
        if (namedUnopened(action, journal.facts))
            recovery.unopened << QDir::toNativeSeparators(journal.path);
        if (action == JournalAction::SetAside) {
            setAside(journal);
            recovery.setAside = true;
        }
        if (action == JournalAction::Rescue &&
            (!recovery.lastChange.isValid() ||
             journal.facts.lastChange > recovery.lastChange.toMSecsSinceEpoch()))
            recovery.lastChange = QDateTime::fromMSecsSinceEpoch(journal.facts.lastChange);
    }
    if (!toRescue.isEmpty()) {
        recovery.rescueFile =
            rescueNotes(toRescue, QDateTime::currentDateTime(), &recovery.rescueReason);
    }
    // Recovery data is never deleted unread, nor before it is safe elsewhere.
    const bool rescued = !recovery.rescueFile.isEmpty() || toRescue.isEmpty();
    for (size_t i = 0; i < journals.size(); ++i) {
        CrashedJournal &journal = *journals[i];
        const JournalEnding ending =
            journalEnding(actions.at(int(i)), !journal.original.isEmpty(), rescued);
        if (ending.discard)
            journal.discard();
        if (ending.markHandled && makeFolder(rescueDirectory()) &&
            createExclusive(handledMark(journal.original)) == 0)
            syncFolderOf(handledMark(journal.original), nullptr);
    }
    journals.clear();
    sqlite3_hard_heap_limit64(0);
    if (db)
        sqlite3_limit(db, SQLITE_LIMIT_LENGTH, 1000000000);
    return recovery;
}
