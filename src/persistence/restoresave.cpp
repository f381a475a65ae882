// SPDX-License-Identifier: GPL-3.0-or-later
#include "mainwindow/quillora.h"

#include "mainwindow/noterow.h"
#include "notesstore.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QPoint>
#include <QPushButton>
#include <QSettings>
#include <QTreeWidget>

void Quillora::readSettingsAtStart()
{
    {
        QSettings settings(QStringLiteral("Tolvane"), QStringLiteral("Quillora"));
        move(settings.value(QStringLiteral("pos"), QPoint(200, 200)).toPoint());
    }

    // Each row becomes an item as it is read, and all of them enter the list in one
    // insertion once the file is read: the view lays itself out once, not once per row.
    QList<QTreeWidgetItem *> items;
    const LoadedNotes loaded =
        loadNotesFile(QLatin1String(NotesFileName),
                      [&items](QStringList &&row) { items.append(new QTreeWidgetItem(row)); });
    notesFileNeedsBackup = loaded.incomplete;
    loadedStamp = loaded.stamp;
    noteTree->addTopLevelItems(items);

    // From here on, any change to the list is one that the file does not hold yet.
    const QAbstractItemModel *model = noteTree->model();
    const auto markChanged = [this] {
        notesChanged = true;
    };
    connect(model, &QAbstractItemModel::rowsInserted, this, markChanged);
    connect(model, &QAbstractItemModel::rowsRemoved, this, markChanged);
    connect(model, &QAbstractItemModel::dataChanged, this, markChanged);
    connect(model, &QAbstractItemModel::modelReset, this, markChanged);
}

void Quillora::writeSettingsWhenExit()
{
    {
        QSettings settings(QStringLiteral("Tolvane"), QStringLiteral("Quillora"));
        // The position is stored first, whatever becomes of the notes file. An unchanged
        // position is not written again: rewriting the settings file costs a flush to disk.
        const QString key = QStringLiteral("pos");
        if (!settings.contains(key) || settings.value(key) != QVariant(pos()))
            settings.setValue(key, pos());
    }

    const QString fileName = QLatin1String(NotesFileName);
    const QList<QStringList> rows = noteRows();
    const NotesFileStamp onDisk = stampOf(fileName);
    // Nothing is lost by a save that cannot be made (a notes.dat the user made read-only)
    // while the file on disk still holds the list.
    const bool fileHoldsList = !notesChanged && (rows.isEmpty() || onDisk == loadedStamp);
    QString reason;
    if (saveNotesOnExit(fileName, onDisk, rows, &reason)) {
        loadedStamp = stampOf(fileName);
        notesChanged = false;
        leaveAllowed = true;
        return;
    }
    leaveAllowed = fileHoldsList || rescueUnsavedNotes(fileName, rows, reason);
}

QList<QStringList> Quillora::noteRows() const
{
    QList<QStringList> rows;
    rows.reserve(noteTree->topLevelItemCount());
    for (int i = 0; i < noteTree->topLevelItemCount(); ++i) {
        const QTreeWidgetItem *note = noteTree->topLevelItem(i);
        rows.append({note->text(ColumnTitle), note->text(ColumnPreview), note->text(ColumnDate),
                     note->text(ColumnBody)});
    }
    return rows;
}

bool Quillora::saveNotesOnExit(const QString &fileName, const NotesFileStamp &onDisk,
                               const QList<QStringList> &rows, QString *reason)
{
    if (!notesFileWritable(fileName, reason))
        return false;
    // The file on disk is copied aside before it is replaced when this run could not load
    // it whole, or when someone else wrote it since: another Quillora, or a sync tool. If
    // the copy cannot be made, the file is left alone rather than lose what it holds.
    if (onDisk.exists && (notesFileNeedsBackup || onDisk != loadedStamp)) {
        QString why;
        if (!keepBackupOf(fileName, QDateTime::currentDateTime(), &why)) {
            *reason = QStringLiteral("No copy of the notes.dat on disk could be kept: %1").arg(why);
            return false;
        }
        notesFileNeedsBackup = false;
        loadedStamp = onDisk;
    }
    return saveNotesFile(fileName, rows, reason);
}

bool Quillora::rescueUnsavedNotes(const QString &fileName, const QList<QStringList> &rows,
                                  const QString &reason)
{
    const QString where = QDir::toNativeSeparators(QFileInfo(fileName).absoluteFilePath());
    QString rescueReason;
    const QString rescued =
        QDir::toNativeSeparators(rescueNotes(rows, QDateTime::currentDateTime(), &rescueReason));

    if (!unattended) {
        QMessageBox box(QMessageBox::Warning, QStringLiteral("Notes Not Saved"), QString(),
                        QMessageBox::NoButton, this);
        // Paths and the system's words are shown as they are, never as markup.
        box.setTextFormat(Qt::PlainText);
        QPushButton *goBack = nullptr;
        if (!rescued.isEmpty()) {
            box.setText(QStringLiteral("Your notes could not be saved to %1:\n%2\n\n"
                                       "All of them were saved to %3 instead.")
                            .arg(where, reason, rescued));
            box.setStandardButtons(QMessageBox::Ok);
        } else {
            box.setText(
                QStringLiteral("Your notes could not be saved to %1:\n%2\n\n"
                               "Nor could a copy of them be saved in %3:\n%4\n\n"
                               "Go back to keep your notes and try again later, or "
                               "leave and lose the changes made since Quillora "
                               "started.")
                    .arg(where, reason, QDir::toNativeSeparators(rescueDirectory()), rescueReason));
            goBack = box.addButton(QStringLiteral("Go Back"), QMessageBox::RejectRole);
            box.addButton(QStringLiteral("Leave Anyway"), QMessageBox::DestructiveRole);
            box.setDefaultButton(goBack);
            box.setEscapeButton(goBack);
        }
        failedSaveBox = &box;
        box.exec();
        if (!unattended)
            return !goBack || box.clickedButton() != goBack;
    }

    if (!rescued.isEmpty()) {
        qWarning("Quillora: could not save the notes to %s (%s); all of them were saved to %s",
                 qUtf8Printable(where), qUtf8Printable(reason), qUtf8Printable(rescued));
    } else {
        lostNotes = true;
        qWarning("Quillora: could not save the notes to %s (%s), nor a copy of them in %s (%s); "
                 "the changes made since Quillora started are lost",
                 qUtf8Printable(where), qUtf8Printable(reason),
                 qUtf8Printable(QDir::toNativeSeparators(rescueDirectory())),
                 qUtf8Printable(rescueReason));
    }
    return true;
}
