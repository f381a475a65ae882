#pragma once

#include <QMainWindow>
#include <QPersistentModelIndex>

class EditNote;
class NewNote;
class QAction;
class QCloseEvent;
class QMenu;
class QTextEdit;
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

protected:
    void closeEvent(QCloseEvent *event) override;

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
    void readSettingsAtStart();

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

    // The note that "Edit Note" loaded into the edit dialog. A persistent index follows
    // the row when rows above it go, and turns invalid when the row itself is deleted.
    QPersistentModelIndex editedNote;
    bool editPending = false;

    // Set when "notes.dat" held more than could be loaded: its bytes are kept under a
    // new name before the first save replaces it.
    bool notesFileNeedsBackup = false;
};
