// SPDX-License-Identifier: GPL-3.0-or-later
#include "quillora.h"

#include "dialogs/editnote.h"
#include "dialogs/newnote.h"
#include "noterow.h"

#include <QDateTime>
#include <QLineEdit>
#include <QMessageBox>
#include <QTextCursor>
#include <QTextEdit>
#include <QTreeWidget>

void Quillora::newNote()
{
    newNoteDialog->show();
}

void Quillora::editNote()
{
    if (noteTree->topLevelItemCount() <= 0)
        return;
    const QTreeWidgetItem *note = noteTree->currentItem();
    if (!note)
        return;
    editNoteDialog->setNote(note->text(ColumnTitle), note->text(ColumnBody));
    editedNote = noteTree->currentIndex();
    editPending = true;
    editNoteDialog->show();
}

void Quillora::setTreeWidget()
{
    const QStringList row = makeNoteRow(newNoteDialog->titleText(), newNoteDialog->noteText(),
                                        QDateTime::currentDateTime());
    // On disk before the list shows it, the window's draft cleared with it.
    const auto window = SessionJournal::Window::NewNote;
    journal->recordChange(SessionJournal::Change::Insert, noteTree->topLevelItemCount(), row,
                          &window);
    noteTree->addTopLevelItem(new QTreeWidgetItem(row));
    newNoteDialog->titleEdit->clear();
    newNoteDialog->noteEdit->clear();
}

void Quillora::editTreeWidget()
{
    const QStringList row = makeNoteRow(editNoteDialog->titleText(), editNoteDialog->noteText(),
                                        QDateTime::currentDateTime());
    // The edit belongs to the note the dialog was filled from, not to whichever row the
    // user has clicked since. If that note was deleted meanwhile, the text the user just
    // confirmed is kept as a new note rather than dropped.
    if (editPending) {
        const auto window = SessionJournal::Window::EditNote;
        if (editedNote.isValid()) {
            journal->recordChange(SessionJournal::Change::Replace, editedNote.row(), row, &window);
            QTreeWidgetItem *note = noteTree->topLevelItem(editedNote.row());
            for (int column = 0; column < NoteColumnCount; ++column)
                note->setText(column, row.at(column));
        } else {
            journal->recordChange(SessionJournal::Change::Insert, noteTree->topLevelItemCount(),
                                  row, &window);
            noteTree->addTopLevelItem(new QTreeWidgetItem(row));
        }
    }
    editPending = false;
    editedNote = QPersistentModelIndex();
    editNoteDialog->close();
    noteViewer->clear();
}

void Quillora::showNote()
{
    const QTreeWidgetItem *note = noteTree->currentItem();
    if (!note)
        return;
    const QString body = note->text(ColumnBody);
    const QString title = note->text(ColumnTitle);

    // Built with a cursor, never parsed: a note's text is shown as it is stored, and
    // markup in it (an <img> naming a local file above all) is never acted on.
    noteViewer->clear();
    QTextCursor cursor(noteViewer->document());
    QTextCharFormat titleFormat;
    titleFormat.setFontWeight(QFont::Bold);
    cursor.insertText(title + QChar(QChar::LineSeparator), titleFormat);
    cursor.insertBlock(QTextBlockFormat(), QTextCharFormat());
    cursor.insertText(body);
    noteViewer->setFontPointSize(9);
    markFoundInViewer();
}

void Quillora::deleteNote()
{
    // The current index gives the row without searching the list for the item.
    const int row = noteTree->currentItem() ? noteTree->currentIndex().row() : -1;
    if (row >= 0 && row < noteTree->topLevelItemCount())
        journal->recordChange(SessionJournal::Change::Remove, row);
    delete noteTree->takeTopLevelItem(row);
    noteViewer->clear();
}

void Quillora::deleteAll()
{
    if (noteTree->topLevelItemCount() <= 0)
        return;
    const auto answer = QMessageBox::warning(this, QStringLiteral("Are you sure?"),
                                             QStringLiteral("You are going to delete all notes"),
                                             QMessageBox::Yes | QMessageBox::Cancel);
    if (answer != QMessageBox::Yes)
        return;
    journal->recordChange(SessionJournal::Change::RemoveAll, 0);
    noteTree->clear();
    noteViewer->clear();
}

void Quillora::showAboutWindow()
{
    QMessageBox::about(this, QStringLiteral("About"),
                       QStringLiteral("<h3>Quillora</h3>"
                                      "<p>version 1.0 beta</p>"
                                      "<p>Contact: notes@example.org</p>"
                                      "<p>Visit the publishers website</br>"
                                      "<a href=\"https://www.example.org/quillora\">"
                                      " https://www.example.org/quillora </a>"
                                      " for updates</p>"));
}
