// SPDX-License-Identifier: GPL-3.0-or-later
#include "editnote.h"

#include "noteform.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTextEdit>

EditNote::EditNote(QWidget *parent) : QDialog(parent)
{
    const NoteForm form = buildNoteForm(this, QStringLiteral("Edit Note"), QStringLiteral("Done"));
    titleEdit = form.titleEdit;
    noteEdit = form.noteEdit;
    acceptButton = form.acceptButton;
    cancelButton = form.cancelButton;
    connect(acceptButton, &QPushButton::clicked, this, &EditNote::emitSignal);
    loadedTitle = shownTitle = titleEdit->text();
    loadedText = shownText = noteEdit->toPlainText();
}

QString EditNote::titleText() const
{
    const QString title = titleEdit->text();
    return title == shownTitle ? loadedTitle : title;
}

QString EditNote::noteText() const
{
    const QString text = noteEdit->toPlainText();
    return text == shownText ? loadedText : text;
}

void EditNote::setNote(const QString &title, const QString &text)
{
    // Plain text on purpose: a note is never taken as markup, so tags survive an edit and
    // an <img> in a note cannot make the toolkit read a file.
    titleEdit->setText(title);
    noteEdit->setPlainText(text);
    loadedTitle = title;
    loadedText = text;
    shownTitle = titleEdit->text();
    shownText = noteEdit->toPlainText();
}

bool EditNote::holdsChanges() const
{
    return titleEdit->text() != shownTitle || noteEdit->toPlainText() != shownText;
}

void EditNote::emitSignal()
{
    emit doneButtonClicked();
}
