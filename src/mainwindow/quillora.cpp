// SPDX-License-Identifier: GPL-3.0-or-later
#include "quillora.h"

#include "dialogs/editnote.h"
#include "dialogs/newnote.h"
#include "noterow.h"

#include <QAbstractItemModel>
#include <QCloseEvent>
#include <QFont>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QSplitter>
#include <QTextEdit>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

Quillora::Quillora(QWidget *parent) : QMainWindow(parent)
{
    newNoteDialog = new NewNote(this);
    editNoteDialog = new EditNote(this);

    createActions();
    noteTree = new QTreeWidget;
    createFindField();
    createToolBars();

    noteTree->setColumnCount(NoteColumnCount);
    noteTree->setHeaderLabels({QStringLiteral("Title"), QStringLiteral("Note"),
                               QStringLiteral("Date"), QStringLiteral("hidden column")});
    noteTree->setAccessibleName(QStringLiteral("Notes"));
    // Every row is one line of the same font: the view measures one row, not every row of
    // the list after each command.
    noteTree->setUniformRowHeights(true);

    QFont font;
    font.setPointSize(9);
    noteTree->setFont(font);
    noteTree->setColumnWidth(ColumnTitle, 100);
    noteTree->setColumnWidth(ColumnPreview, 250);
    noteTree->setColumnWidth(ColumnDate, 50);
    noteTree->setColumnHidden(ColumnBody, true);

    noteViewer = new QTextEdit;
    noteViewer->setReadOnly(true);
    noteViewer->setFont(font);
    noteViewer->setAccessibleName(QStringLiteral("Note viewer"));

    auto *splitter = new QSplitter(Qt::Vertical);
    splitter->addWidget(noteTree);
    splitter->addWidget(noteViewer);
    splitter->setSizes({200, 100});

    // The find bar above the list: the count, then the field at the right end.
    auto *findBar = new QHBoxLayout;
    findBar->addStretch();
    findBar->addWidget(findCount);
    findBar->addWidget(findField);

    auto *layout = new QVBoxLayout;
    layout->addLayout(findBar);
    layout->addWidget(splitter);

    centralPanel = new QWidget;
    centralPanel->setLayout(layout);
    setCentralWidget(centralPanel);

    resize(500, 350);
    setWindowTitle(QStringLiteral("Quillora"));
    setWindowIcon(QIcon(QStringLiteral(":/icons/quillora.png")));

    connect(newNoteDialog, &NewNote::addButtonClicked, this, &Quillora::setTreeWidget);
    connect(editNoteDialog, &EditNote::doneButtonClicked, this, &Quillora::editTreeWidget);
    connect(noteTree, &QTreeWidget::clicked, this, &Quillora::showNote);
    connect(noteTree, &QTreeWidget::activated, this, &Quillora::showNote);

    // The list has the focus from the start, and comes before the find bar in the tab
    // order.
    setTabOrder(noteTree, noteViewer);
    setTabOrder(noteViewer, findField);
    noteTree->setFocus();

    watchDrafts();
    readSettingsAtStart();
}

void Quillora::watchDrafts()
{
    using Window = SessionJournal::Window;
    for (const Window window : {Window::NewNote, Window::EditNote}) {
        const int index = int(window);
        draftPause[index] = new QTimer(this);
        draftPause[index]->setSingleShot(true);
        draftPause[index]->setInterval(1000);
        draftDeadline[index] = new QTimer(this);
        draftDeadline[index]->setSingleShot(true);
        draftDeadline[index]->setInterval(2000);
        for (QTimer *timer : {draftPause[index], draftDeadline[index]})
            connect(timer, &QTimer::timeout, this, [this, window] { recordDraft(window); });
    }
    const auto changed = [this](Window window) {
        return [this, window] {
            draftChanged(window);
        };
    };
    connect(newNoteDialog->titleEdit, &QLineEdit::textChanged, this, changed(Window::NewNote));
    connect(newNoteDialog->noteEdit, &QTextEdit::textChanged, this, changed(Window::NewNote));
    connect(editNoteDialog->titleEdit, &QLineEdit::textChanged, this, changed(Window::EditNote));
    connect(editNoteDialog->noteEdit, &QTextEdit::textChanged, this, changed(Window::EditNote));
    // An edit given up is no draft any more; a new note given up stays in its window.
    connect(editNoteDialog, &QDialog::rejected, this, [this] {
        editPending = false;
        draftPause[int(Window::EditNote)]->stop();
        draftDeadline[int(Window::EditNote)]->stop();
        journal->clearDraft(Window::EditNote);
    });
}

void Quillora::draftChanged(SessionJournal::Window window)
{
    draftPause[int(window)]->start();
    if (!draftDeadline[int(window)]->isActive())
        draftDeadline[int(window)]->start();
}

void Quillora::recordDraft(SessionJournal::Window window)
{
    draftPause[int(window)]->stop();
    draftDeadline[int(window)]->stop();
    if (const std::optional<SessionJournal::Draft> draft = draftOf(window))
        journal->recordDraft(*draft);
    else
        journal->clearDraft(window);
}

// What a note window holds; nothing for an Edit Note window that holds no change.
std::optional<SessionJournal::Draft> Quillora::draftOf(SessionJournal::Window window) const
{
    SessionJournal::Draft draft;
    draft.window = window;
    if (window == SessionJournal::Window::NewNote) {
        draft.title = newNoteDialog->titleText();
        draft.text = newNoteDialog->noteText();
        return draft;
    }
    if (!editPending || !editNoteDialog->holdsChanges())
        return std::nullopt;
    draft.target = editedNote.isValid() ? editedNote.row() : -1;
    draft.title = editNoteDialog->titleText();
    draft.text = editNoteDialog->noteText();
    return draft;
}

SessionJournal::Snapshot Quillora::journalSnapshot() const
{
    SessionJournal::Snapshot snapshot;
    snapshot.rows = noteRows();
    for (const auto window : {SessionJournal::Window::NewNote, SessionJournal::Window::EditNote}) {
        const std::optional<SessionJournal::Draft> draft = draftOf(window);
        if (draft && (!draft->title.isEmpty() || !draft->text.isEmpty() ||
                      window == SessionJournal::Window::EditNote))
            snapshot.drafts << *draft;
    }
    return snapshot;
}

// Said once each time the journal stops holding every change, in a box that takes the focus
// from no window: the user may be typing a note.
void Quillora::showJournalFailure(const QString &where, const QString &what)
{
    if (!journalFailureBox) {
        journalFailureBox =
            new QMessageBox(QMessageBox::Warning, QStringLiteral("Session Journal Not Written"),
                            QString(), QMessageBox::Ok, this);
        journalFailureBox->setTextFormat(Qt::PlainText);
        journalFailureBox->setWindowModality(Qt::NonModal);
        journalFailureBox->setAttribute(Qt::WA_ShowWithoutActivating);
        journalFailureBox->setAttribute(Qt::WA_DeleteOnClose);
    }
    journalFailureBox->setText(
        QStringLiteral("Quillora could not write its session journal %1:\n%2\n\n"
                       "Your changes are kept until you leave Quillora, and saved then, but "
                       "until the journal can be written again they are not safe from a crash. "
                       "Quillora tries again as you go on working.")
            .arg(where, what));
    journalFailureBox->show();
}

Quillora::~Quillora()
{
    // The list empties itself while the base classes are destroyed; by then this is no
    // longer a Quillora whose change flag could be set.
    disconnect(noteTree->model(), nullptr, this, nullptr);
}

void Quillora::closeEvent(QCloseEvent *event)
{
    writeSettingsWhenExit();
    if (leaveAllowed)
        event->accept();
    else
        event->ignore();
}

void Quillora::closeUnattended()
{
    unattended = true;
    // A request to end while the failed-save box waits for an answer: nobody answered.
    if (failedSaveBox)
        failedSaveBox->reject();
    else
        close();
}
