// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class QDialog;
class QLineEdit;
class QPushButton;
class QString;
class QTextEdit;

// The widgets of the form that both note dialogs show.
struct NoteForm
{
    QLineEdit *titleEdit;
    QTextEdit *noteEdit;
    QPushButton *acceptButton;
    QPushButton *cancelButton;
};

// Builds the note form into `dialog`: a title line and a plain-text body with their
// captions, and the accept and "cancel" buttons under the fields. "cancel" closes the
// dialog; what the accept button does is up to the dialog.
NoteForm buildNoteForm(QDialog *dialog, const QString &windowTitle, const QString &acceptText);
