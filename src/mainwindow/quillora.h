// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "persistence/notesstore.h"
#include "persistence/sessionjournal.h"

#include <QMainWindow>
#include <QPersistentModelIndex>
#include <QPointer>

#include <memory>
#include <optional>

class EditNote;
class NewNote;
class NoteFinder;
class QAction;
class QCloseEvent;
class QLabel;
class QLineEdit;
class QMenu;
class QMessageBox;
class QTextEdit;
class QTimer;
class QTreeWidget;

// The main window: the note list above a read-only viewer, the two note dialogs, and the
// commands that work on the notes. The list is the only store of notes while the program
// runs; they are read from "notes.dat" at construction and written back on leaving.
class Quillora : public QMainWindow
{
    Q_OBJECT

public:
    explicit Quillora(QWidget *parent = nullptr);
    ~Quillora() override;

    // Leaves as closing the window does, on a request from the system (log-out, shutdown,
    // kill): nobody may be there to answer a message box, so a save that fails is rescued
    // without asking and reported on standard error.
    void closeUnattended();
    // After such a leave: true if the notes could neither be saved nor rescued.
    bool notesLost() const { return lostNotes; }

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private slots:
    void newNote();
    void editNote();
    void setTreeWidget();
    void editTreeWidget();
    void showNote();
    void deleteNote();
    void deleteAll();
    void writeSettingsWhenExit();
    void showAboutWindow();

private:
    void createActions();
    void createToolBars();
    void createFindField();
    void startFinding();
    // Starts the search that a pause in typing would start, now; false where none waits.
    bool findWithoutPause();
    void showFirstFound(int row);
    void goToMatch(bool forward);
    void selectFound(int row);
    void endFinding();
    void showFindCount();
    void markFoundInViewer();
    void readSettingsAtStart();
    void restoreRecovered(const SessionJournal::Recovery &recovery, const QString &unfinishedSave);
    void watchDrafts();
    void draftChanged(SessionJournal::Window window);
    void recordDraft(SessionJournal::Window window);
    std::optional<SessionJournal::Draft> draftOf(SessionJournal::Window window) const;
    SessionJournal::Snapshot journalSnapshot() const;
    void showJournalFailure(const QString &where, const QString &what);
    QList<QStringList> noteRows() const;
    bool saveNotesOnExit(const QString &fileName, const NotesFileStamp &onDisk,
                         const QList<QStringList> &rows, QString *reason);
    bool rescueUnsavedNotes(const QString &fileName, const QList<QStringList> &rows,
                            const QString &reason);

    QMenu *notesMenu;
    QMenu *helpMenu;
    QTreeWidget *noteTree;
    QTextEdit *noteViewer;
    QWidget *centralPanel;
    QAction *newNoteAction;
    QAction *editNoteAction;
    QAction *deleteNoteAction;
    QAction *deleteAllAction;
    QAction *exitAction;
    QAction *aboutAction;
    QAction *aboutQtAction;
    NewNote *newNoteDialog;
    EditNote *editNoteDialog;

    // Finding: the field at the right end of the tool bar, the count beside it, and the
    // scan, started once typing pauses.
    QLineEdit *findField;
    QLabel *findCount;
    NoteFinder *finder;
    QTimer *findPause;
    // Set while finding moves the current note; a move made otherwise since finding began
    // keeps the first match from moving it again.
    bool findMoving = false;
    bool movedSinceFind = false;

    // The note that "Edit Note" loaded into the edit dialog. A persistent index follows
    // the row when rows above it go, and turns invalid when the row itself is deleted.
    QPersistentModelIndex editedNote;
    bool editPending = false;

    // Set when "notes.dat" held more than could be loaded: its bytes are kept under a
    // new name before the first save replaces it.
    bool notesFileNeedsBackup = false;
    // "notes.dat" as it was loaded, or last saved: a file that differs at the save was
    // written by someone else meanwhile, and is kept before it is replaced.
    NotesFileStamp loadedStamp;
    // Whether the list has changed since it was loaded or last saved.
    bool notesChanged = false;

    // Whether the last save on leaving lets the program end: false when the notes could
    // be neither saved nor rescued and the user chose to go back to them.
    bool leaveAllowed = true;
    bool unattended = false;
    bool lostNotes = false;
    QPointer<QMessageBox> failedSaveBox;
    QPointer<QMessageBox> journalFailureBox;

    // Every change, and the text of an open note window, on disk as it is made.
    std::unique_ptr<SessionJournal> journal;
    // A draft is written once typing pauses for a second, or after two seconds of it.
    QTimer *draftPause[2] = {nullptr, nullptr};
    QTimer *draftDeadline[2] = {nullptr, nullptr};
};
