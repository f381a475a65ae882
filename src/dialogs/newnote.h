// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>

class QLineEdit;
class QPushButton;
class QTextEdit;

// Modeless dialog that collects a new note. "Add" hides it and then signals the owner,
// which reads the fields and empties them.
class NewNote : public QDialog
{
    Q_OBJECT

public:
    explicit NewNote(QWidget *parent);

    QString titleText() const;
    QString noteText() const;

    QLineEdit *titleEdit;
    QTextEdit *noteEdit;
    QPushButton *acceptButton;
    QPushButton *cancelButton;

signals:
    void addButtonClicked();

public slots:
    void emitSignal();
};
