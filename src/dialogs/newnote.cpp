// SPDX-License-Identifier: GPL-3.0-or-later
#include "newnote.h"

#include "noteform.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTextEdit>

NewNote::NewNote(QWidget *parent) : QDialog(parent)
{
    const NoteForm form = buildNoteForm(this, QStringLiteral("New Note"), QStringLiteral("Add"));
    titleEdit = form.titleEdit;
    noteEdit = form.noteEdit;
    acceptButton = form.acceptButton;
    cancelButton = form.cancelButton;
    connect(acceptButton, &QPushButton::clicked, this, &NewNote::emitSignal);
}

QString NewNote::titleText() const
{
    return titleEdit->text();
}

QString NewNote::noteText() const
{
    return noteEdit->toPlainText();
}

void NewNote::emitSignal()
{
    hide();
    emit addButtonClicked();
}
