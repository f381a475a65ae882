// SPDX-License-Identifier: GPL-3.0-or-later
#include "quillora.h"

#include "dialogs/editnote.h"
#include "dialogs/newnote.h"
#include "noterow.h"

#include <QAbstractItemModel>
#include <QCloseEvent>
#include <QFont>
#include <QHeaderView>
#include <QIcon>
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
    createToolBars();

    noteTree = new QTreeWidget;
    noteTree->setColumnCount(NoteColumnCount);
    noteTree->setHeaderLabels({QStringLiteral("Title"), QStringLiteral("Note"),
                               QStringLiteral("Date"), QStringLiteral("hidden column")});
    noteTree->setAccessibleName(QStringLiteral("Notes"));

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

    auto *layout = new QVBoxLayout;
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
    SessionJournal::Draft draft;
    draft.window = window;
    if (window == SessionJournal::Window::NewNote) {
        draft.title = newNoteDialog->titleText();
        draft.text = newNoteDialog->noteText();
        journal->recordDraft(draft);
        return;
    }
    if (!editPending || !editNoteDialog->holdsChanges()) {
        journal->clearDraft(window);
        return;
    }
    draft.target = editedNote.isValid() ? editedNote.row() : -1;
    draft.title = editNoteDialog->titleText();
    draft.text = editNoteDialog->noteText();
    journal->recordDraft(draft);
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
