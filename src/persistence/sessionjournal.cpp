// SPDX-License-Identifier: GPL-3.0-or-later
// The session journal's writer: each change of a running session, committed and synced
// before the list shows it. What a start-up does with the journal of a crashed session is
// in journalrecovery.cpp.
#include "sessionjournal.h"

#include "fileaccess.h"
#include "journalfiles.h"
#include "sqlitestatement.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>

namespace {

const char Schema[] = "CREATE TABLE session(id INTEGER PRIMARY KEY CHECK (id = 1),"
                      " base_exists INTEGER, base_size INTEGER, base_modified INTEGER,"
                      " base_inode INTEGER, saved_exists INTEGER, saved_size INTEGER,"
                      " saved_modified INTEGER, saved_inode INTEGER, list_seq INTEGER,"
                      " last_change INTEGER, set_aside INTEGER NOT NULL DEFAULT 0,"
                      " notes_file BLOB);"
                      "CREATE TABLE changes(seq INTEGER PRIMARY KEY, kind INTEGER NOT NULL,"
                      " position INTEGER NOT NULL, title BLOB, preview BLOB, date BLOB,"
                      " body BLOB);"
                      "CREATE TABLE list(position INTEGER PRIMARY KEY, title BLOB,"
                      " preview BLOB, date BLOB, body BLOB);"
                      "CREATE TABLE drafts(window INTEGER PRIMARY KEY, target INTEGER,"
                      " title BLOB, body BLOB, written INTEGER);";

const char ClearDraft[] = "DELETE FROM drafts WHERE window = ?";

} // namespace

SessionJournal::SessionJournal(const QString &notesFile)
    : notesFile(notesFile), statements(std::make_unique<PreparedStatements>())
{
}

SessionJournal::~SessionJournal()
{
    // Closed without a checkpoint: the journal stays as it is for the next start.
    statements->clear();
    sqlite3_close(db);
}

void SessionJournal::fail(const QString &what, const QString &why)
{
    sinceFailure.start();
    if (db)
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    if (failed)
        return;
    failed = true;
    const QString where = QDir::toNativeSeparators(
        path.isEmpty() ? QFileInfo(notesFile).absolutePath() : QFileInfo(path).absoluteFilePath());
    qWarning("Quillora: the session journal %s could not be written (%s: %s); changes are kept "
             "only until Quillora is left, until it can be written again",
             qUtf8Printable(where), qUtf8Printable(what), qUtf8Printable(why));
    if (tellFailure)
        tellFailure(where, what + QLatin1String(": ") + why);
}

bool SessionJournal::fail(const char *what)
{
    fail(QLatin1String(what),
         db ? QString::fromUtf8(sqlite3_errmsg(db)) : QStringLiteral("not opened"));
    return false;
}

bool SessionJournal::ready()
{
    if (finished)
        return false;
    if (failed)
        return comeBack();
    return db || open(base);
}

bool SessionJournal::comeBack()
{
    if (sinceFailure.isValid() && !sinceFailure.hasExpired(retryInterval))
        return false;
    if (!db && !open(base))
        return false;
    // From here on the journal holds all that the window shows again.
    const Snapshot snapshot = takeSnapshot ? takeSnapshot() : Snapshot();
    if (!writeList(snapshot.rows, &snapshot.drafts))
        return false;
    failed = false;
    return true;
}

bool SessionJournal::open(const NotesFileStamp &stamp)
{
    const QString folder = QFileInfo(notesFile).absolutePath();
    QStringList stems;
    if (!onNetworkFileSystem(folder))
        stems << QDir(folder).filePath(QLatin1String(JournalStem));
    stems << fallbackStem(notesFile);
    int why = 0;
    for (const QString &stem : std::as_const(stems)) {
        if (stem.startsWith(rescueDirectory()) && !makeFolder(rescueDirectory()))
            continue;
        for (int number = 0; number < MaxJournals && path.isEmpty(); ++number) {
            const QString name = numbered(stem, number);
            if (!fileExists(name) && fileExists(walOf(name)))
                removeFile(walOf(name));
            int made = createExclusive(name);
            // The -wal holds the notes' text too: made here, owner-only, before SQLite
            // would make it with the folder's inherited access rules.
            if (made == 0 && (made = createExclusive(walOf(name))) != 0)
                removeFile(name);
            if (made == 0) {
                path = name;
            } else if (made != EEXIST) {
                why = made;
                break;
            }
        }
        if (!path.isEmpty())
            break;
    }
    if (path.isEmpty()) {
        fail(QStringLiteral("making it, nor one in %1")
                 .arg(QDir::toNativeSeparators(rescueDirectory())),
             qt_error_string(why));
        return false;
    }
    if (sqlite3_open_v2(sqliteFileName(path).constData(), &db,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW, nullptr) != SQLITE_OK ||
        !harden(db) || !configure(db))
        return abandon("opening");
    if (!begin() || !exec(db, Schema))
        return abandon("making");
    Statement session(db, "INSERT INTO session(id, base_exists, base_size, base_modified,"
                          " base_inode, last_change, notes_file) VALUES (1, ?, ?, ?, ?, ?, ?)");
    const QString identity = notesFileIdentity(notesFile);
    session.bind(1, stamp.exists)
        .bind(2, stamp.size)
        .bind(3, stamp.modified)
        .bind(4, qint64(stamp.inode))
        .bind(5, QDateTime::currentMSecsSinceEpoch())
        .bind(6, identity);
    if (!session.run() || !commit())
        return abandon("making");
    hideFile(walOf(path));
    // The journal and its -wal are found under their names after a power cut.
    if (!syncFolderOf(path, nullptr))
        return abandon("syncing its folder");
    return true;
}

bool SessionJournal::abandon(const char *what)
{
    fail(what);
    // It holds no session yet: the next try makes it anew.
    statements->clear();
    removeJournal(db, path);
    path.clear();
    return false;
}

bool SessionJournal::begin()
{
    return exec(db, "BEGIN IMMEDIATE");
}

bool SessionJournal::commit()
{
    return exec(db, "COMMIT");
}

bool SessionJournal::recordChange(Change change, int position, const QStringList &row,
                                  const Window *done)
{
    if (!ready())
        return false;
    if (!begin())
        return fail("recording a change");
    Statement &insert =
        statements->get(db, "INSERT INTO changes(kind, position, title, preview, date, body)"
                            " VALUES (?, ?, ?, ?, ?, ?)");
    insert.bind(1, qint64(change)).bind(2, position);
    if (change == Change::Insert || change == Change::Replace)
        insert.bindRow(3, row);
    bool ok = insert.run();
    Statement &touched = statements->get(db, "UPDATE session SET last_change = ?");
    ok = ok && touched.bind(1, QDateTime::currentMSecsSinceEpoch()).run();
    // The note an Edit Note draft belongs to moves up with each delete above it, and is
    // gone with its own.
    if (ok && change == Change::Remove && draftStored[int(Window::EditNote)]) {
        Statement target(db, "UPDATE drafts SET target = CASE WHEN target = ?1 THEN -1"
                             " WHEN target > ?1 THEN target - 1 ELSE target END"
                             " WHERE window = 1 AND target >= 0");
        ok = target.bind(1, position).run();
    } else if (ok && change == Change::RemoveAll && draftStored[int(Window::EditNote)]) {
        ok = exec(db, "UPDATE drafts SET target = -1 WHERE window = 1");
    }
    if (ok && done && draftStored[int(*done)]) {
        Statement &cleared = statements->get(db, ClearDraft);
        ok = cleared.bind(1, qint64(*done)).run();
    }
    if (!ok || !commit())
        return fail("recording a change");
    if (done)
        draftStored[int(*done)] = false;
    return true;
}

bool SessionJournal::recordDraft(const Draft &draft)
{
    if (draft.window == Window::NewNote && draft.title.isEmpty() && draft.text.isEmpty())
        return clearDraft(draft.window);
    if (!ready())
        return false;
    return writeDraft(draft) || fail("recording a draft");
}

bool SessionJournal::writeDraft(const Draft &draft)
{
    Statement &insert =
        statements->get(db, "INSERT OR REPLACE INTO drafts(window, target, title, body, written)"
                            " VALUES (?, ?, ?, ?, ?)");
    insert.bind(1, qint64(draft.window))
        .bind(2, draft.target)
        .bind(3, draft.title)
        .bind(4, draft.text)
        .bind(5, QDateTime::currentMSecsSinceEpoch());
    if (!insert.run())
        return false;
    draftStored[int(draft.window)] = true;
    return true;
}

bool SessionJournal::clearDraft(Window window)
{
    if (failed || !db || !draftStored[int(window)])
        return !failed;
    Statement &cleared = statements->get(db, ClearDraft);
    if (!cleared.bind(1, qint64(window)).run())
        return fail("clearing a draft");
    draftStored[int(window)] = false;
    return true;
}

bool SessionJournal::recordList(const QList<QStringList> &rows)
{
    if (finished || (!db && !open(base)))
        return false;
    if (!writeList(rows, nullptr))
        return false;
    failed = false;
    return true;
}

bool SessionJournal::writeList(const QList<QStringList> &rows, const QList<Draft> *drafts)
{
    if (!begin() || !exec(db, "DELETE FROM list"))
        return fail("recording the list");
    Statement insert(db, "INSERT INTO list(position, title, preview, date, body)"
                         " VALUES (?, ?, ?, ?, ?)");
    for (int i = 0; i < rows.size(); ++i) {
        if (!insert.bind(1, i).bindRow(2, rows.at(i)).run())
            return fail("recording the list");
    }
    if (drafts) {
        if (!exec(db, "DELETE FROM drafts"))
            return fail("recording the list");
        for (const Draft &draft : *drafts) {
            if (!writeDraft(draft))
                return fail("recording the list");
        }
    }
    if (!exec(db, "UPDATE session SET list_seq = (SELECT coalesce(max(seq), 0) FROM changes)") ||
        !commit())
        return fail("recording the list");
    if (drafts) {
        draftStored[0] = draftStored[1] = false;
        for (const Draft &draft : *drafts)
            draftStored[int(draft.window)] = true;
    }
    return true;
}

bool SessionJournal::recordSaved(const NotesFileStamp &stamp)
{
    // A journal that failed is tried once more, at once: the stamp is what tells the next
    // start that the journal is obsolete, should it outlive the save.
    if (failed) {
        sinceFailure.invalidate();
        comeBack();
    }
    // No journal was ever made: none can outlive the save.
    if (!db)
        return true;
    if (failed)
        return false;
    Statement saved(db, "UPDATE session SET saved_exists = ?, saved_size = ?, saved_modified = ?,"
                        " saved_inode = ?");
    saved.bind(1, stamp.exists)
        .bind(2, stamp.size)
        .bind(3, stamp.modified)
        .bind(4, qint64(stamp.inode));
    return saved.run() || fail("recording the save");
}

void SessionJournal::remove(bool files)
{
    finished = true;
    if (!db)
        return;
    statements->clear();
    if (files) {
        removeJournal(db, path);
    } else {
        sqlite3_close(db);
        db = nullptr;
    }
    path.clear();
}
