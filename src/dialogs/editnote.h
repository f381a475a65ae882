// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>

class QLineEdit;
class QPushButton;
class QTextEdit;

// Modeless dialog that shows a note for changing. "Done" signals the owner and leaves
// the dialog open; the owner reads the fields and closes it.
class EditNote : public QDialog
{
    Q_OBJECT

public:
    explicit EditNote(QWidget *parent);

    QString titleText() const;
    QString noteText() const;
    void setNote(const QString &title, const QString &text);
    // Whether either field shows something else than the note it was filled with.
    bool holdsChanges() const;

    QLineEdit *titleEdit;
    QTextEdit *noteEdit;
    QPushButton *acceptButton;
    QPushButton *cancelButton;

signals:
    void doneButtonClicked();

public slots:
    void emitSignal();

private:
    // The widgets do not give every string back as it went in (a text document turns
    // "\r\n" into two paragraphs and a no-break space into a blank), so the note as
    // given and as first shown are kept: a field that still shows what it was filled
    // with hands back the original, character for character.
    QString loadedTitle;
    QString loadedText;
    QString shownTitle;
    QString shownText;
};
