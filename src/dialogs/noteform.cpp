// SPDX-License-Identifier: GPL-3.0-or-later
#include "noteform.h"

#include <QDialog>
#include <QFont>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTextEdit>

NoteForm buildNoteForm(QDialog *dialog, const QString &windowTitle, const QString &acceptText)
{
    auto *titleLabel = new QLabel(QStringLiteral("Title:"));
    auto *noteLabel = new QLabel(QStringLiteral("Note :"));

    QFont font;
    font.setPointSize(9);

    NoteForm form;
    form.titleEdit = new QLineEdit;
    form.titleEdit->setFont(font);
    form.noteEdit = new QTextEdit;
    form.noteEdit->setFont(font);
    // Formatted text pasted or dropped in arrives as plain text.
    form.noteEdit->setAcceptRichText(false);
    form.acceptButton = new QPushButton(acceptText);
    form.cancelButton = new QPushButton(QStringLiteral("cancel"));

    // Screen readers announce a field by its caption.
    titleLabel->setBuddy(form.titleEdit);
    noteLabel->setBuddy(form.noteEdit);

    auto *buttonRow = new QHBoxLayout;
    buttonRow->addWidget(form.acceptButton);
    buttonRow->addWidget(form.cancelButton);

    auto *grid = new QGridLayout;
    grid->addWidget(titleLabel, 0, 0);
    grid->addWidget(form.titleEdit, 0, 1);
    grid->addWidget(noteLabel, 1, 0, Qt::AlignTop);
    grid->addWidget(form.noteEdit, 1, 1);
    grid->addLayout(buttonRow, 2, 1);
    dialog->setLayout(grid);

    dialog->setWindowTitle(windowTitle);
    QObject::connect(form.cancelButton, &QPushButton::clicked, dialog, &QDialog::close);
    dialog->resize(500, 200);
    return form;
}
