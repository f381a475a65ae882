// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "persistence/journalreplay.h"
#include "persistence/notesstore.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class PreparedStatements;
struct sqlite3;

// The session journal: while Quillora runs, every change to the list and the text of an
// open note window are kept in a small SQLite database beside notes.dat,
// ".notes.dat.journal", so that a kill, a crash or a power cut loses nothing. A normal
// exit removes it once notes.dat is saved; the next start finds it only after a crash,
// and recovers from it.
//
// Each change is one transaction, committed and synced before the call returns. The
// database is held with an exclusive lock for the whole session, in WAL mode with no
// shared-memory file. Strings are stored as BLOBs of UTF-16 units, SQL NULL only for a
// null string, so that every string comes back exactly as it went in.
//
// Where the folder cannot take the journal (read-only, or a network file system), it is
// kept in the folder of rescued notes under a name made from notes.dat's full path.
class SessionJournal
{
public:
    enum class Window
    {
        NewNote = 0,
        EditNote = 1
    };

    struct Draft
    {
        Window window = Window::NewNote;
        // For Edit Note, the position of the note that Done will write into; -1 where that
        // note is gone and Done makes a new one.
        int target = -1;
        QString title;
        QString text;
        QDateTime written;
    };

    struct Recovery
    {
        // Whether the list is what a crashed session showed: `list` then replaces the
        // rows read from notes.dat.
        bool replayed = false;
        ReplayedList list;
        QList<Draft> drafts;
        int changes = 0;
        QDateTime lastChange;
        // Where the notes of a journal that could not be replayed were saved, and why.
        QString rescueFile;
        QString rescueReason;
        // Where the notes.dat found was kept before a list was replayed over it.
        QString keptFile;
        // A journal whose replay could not be trusted, kept under its name or marked.
        bool setAside = false;
        // Journals left as they were because they could not be opened.
        QStringList unopened;
        bool found() const
        {
            return replayed || !rescueFile.isEmpty() || setAside || !unopened.isEmpty();
        }
    };

    // `notesFile` is the notes file this session loads and saves, relative to the
    // working directory.
    explicit SessionJournal(const QString &notesFile);
    ~SessionJournal();
    SessionJournal(const SessionJournal &) = delete;
    SessionJournal &operator=(const SessionJournal &) = delete;

    // Looks for the journals of crashed sessions of this notes file. One that belongs to
    // the notes.dat read (`loaded`, of `fileRows` rows) is replayed and kept as this
    // session's journal; the notes of any other are rescued and it is removed. A journal
    // held by a running Quillora is never touched.
    Recovery recover(const NotesFileStamp &loaded, int fileRows);

    using Change = JournalChange;

    // Records one change to the list, made at `position` (a new row's position, or the
    // position of the row replaced or removed), and clears the draft of `done`'s window
    // in the same transaction. The journal is created with the first change. False where
    // the journal could not be written. After a failure, each later change tries again,
    // at most once in `retryInterval`: once the journal can be written, it takes the whole
    // list and the open drafts from the snapshot, and holds every change from then on.
    bool recordChange(Change change, int position, const QStringList &row = {},
                      const Window *done = nullptr);
    // Replaces the draft of a window; an empty draft of New Note clears it.
    bool recordDraft(const Draft &draft);
    bool clearDraft(Window window);

    // The whole list, before notes.dat is written in place.
    bool recordList(const QList<QStringList> &rows);
    // The stamp of the new notes.dat, before it takes the old one's place; a journal that
    // failed is tried again first. False where a journal is there that could not take it.
    bool recordSaved(const NotesFileStamp &stamp);
    // Once notes.dat is saved, or the list is safe elsewhere as Quillora leaves: removes
    // the journal and its files, or with `files` false only closes it. No journal is made
    // again in this session.
    void remove(bool files = true);

    // What the window shows: the whole list and its open drafts.
    struct Snapshot
    {
        QList<QStringList> rows;
        QList<Draft> drafts;
    };
    void setSnapshot(std::function<Snapshot()> take) { takeSnapshot = std::move(take); }
    // Told where the journal is and what failed, once each time the journal stops holding
    // every change.
    void setFailureHandler(std::function<void(const QString &where, const QString &what)> tell)
    {
        tellFailure = std::move(tell);
    }
    // The least time between two tries to write a journal that failed, in milliseconds.
    static inline qint64 retryInterval = 3000;

    // Whether the journal holds every change of this session: opened, and not failed since
    // it last took the whole list.
    bool holdsChanges() const { return db && !failed; }
    bool isBroken() const { return failed; }
    QString fileName() const { return path; }

private:
    bool ready();
    bool comeBack();
    bool open(const NotesFileStamp &stamp);
    bool abandon(const char *what);
    bool begin();
    bool commit();
    bool writeDraft(const Draft &draft);
    bool writeList(const QList<QStringList> &rows, const QList<Draft> *drafts);
    bool fail(const char *what);
    void fail(const QString &what, const QString &why);

    QString notesFile;
    QString path;
    sqlite3 *db = nullptr;
    std::unique_ptr<PreparedStatements> statements;
    bool failed = false;
    bool finished = false;
    QElapsedTimer sinceFailure;
    std::function<Snapshot()> takeSnapshot;
    std::function<void(const QString &, const QString &)> tellFailure;
    bool draftStored[2] = {false, false};
    // notes.dat as this session's changes found it.
    NotesFileStamp base;
};
