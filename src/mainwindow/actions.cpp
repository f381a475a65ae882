// SPDX-License-Identifier: GPL-3.0-or-later
#include "quillora.h"

#include <QAction>
#include <QApplication>
#include <QIcon>
#include <QMenu>
#include <QMenuBar>
#include <QToolBar>

void Quillora::createActions()
{
    newNoteAction = new QAction(QIcon(QStringLiteral(":/icons/new_note.png")),
                                QStringLiteral("&New Note"), this);
    editNoteAction = new QAction(QIcon(QStringLiteral(":/icons/edit_note.png")),
                                 QStringLiteral("&Edit Note"), this);
    deleteNoteAction = new QAction(QIcon(QStringLiteral(":/icons/delete_note.png")),
                                   QStringLiteral("&Delete Note"), this);
    deleteAllAction = new QAction(QIcon(QStringLiteral(":/icons/delete_all.png")),
                                  QStringLiteral("Delete &All Notes"), this);
    exitAction = new QAction(QStringLiteral("&Exit"), this);
    aboutAction =
        new QAction(QIcon(QStringLiteral(":/icons/about.png")), QStringLiteral("&About"), this);
    aboutQtAction = new QAction(QStringLiteral("&About Qt"), this);

    notesMenu = menuBar()->addMenu(QStringLiteral("Notes"));
    notesMenu->addAction(newNoteAction);
    notesMenu->addSeparator();
    notesMenu->addAction(editNoteAction);
    notesMenu->addSeparator();
    notesMenu->addAction(deleteNoteAction);
    notesMenu->addAction(deleteAllAction);
    notesMenu->addSeparator();
    notesMenu->addAction(exitAction);

    connect(newNoteAction, &QAction::triggered, this, &Quillora::newNote);
    connect(editNoteAction, &QAction::triggered, this, &Quillora::editNote);
    connect(deleteNoteAction, &QAction::triggered, this, &Quillora::deleteNote);
    connect(deleteAllAction, &QAction::triggered, this, &Quillora::deleteAll);
    // Save first, then end the event loop, unless the user went back to notes that could
    // not be saved. exit() rather than quit(): since Qt 6, quit() first closes every
    // window, and the close would save a second time.
    connect(exitAction, &QAction::triggered, this, &Quillora::writeSettingsWhenExit);
    connect(exitAction, &QAction::triggered, this, [this] {
        if (leaveAllowed)
            QCoreApplication::exit(0);
    });

    helpMenu = menuBar()->addMenu(QStringLiteral("Help"));
    helpMenu->addAction(aboutAction);
    helpMenu->addAction(aboutQtAction);

    connect(aboutAction, &QAction::triggered, this, &Quillora::showAboutWindow);
    connect(aboutQtAction, &QAction::triggered, qApp, &QApplication::aboutQt);
}

void Quillora::createToolBars()
{
    QToolBar *mainToolBar = addToolBar(QStringLiteral("main toolbar"));
    mainToolBar->addAction(newNoteAction);
    mainToolBar->addSeparator();
    mainToolBar->addAction(editNoteAction);
    mainToolBar->addSeparator();
    mainToolBar->addAction(deleteNoteAction);
    mainToolBar->addAction(deleteAllAction);
    mainToolBar->addSeparator();
    mainToolBar->addAction(aboutAction);
}
