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
#include <QMessageBox>
#include <QSplitter>
#include <QTextEdit>
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

    readSettingsAtStart();
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
