#include "mainwindow/quillora.h"

#include "mainwindow/noterow.h"
#include "notesstore.h"

#include <QDateTime>
#include <QFile>
#include <QPoint>
#include <QSettings>
#include <QTreeWidget>

void Quillora::readSettingsAtStart()
{
    {
        QSettings settings(QStringLiteral("Tolvane"), QStringLiteral("Quillora"));
        move(settings.value(QStringLiteral("pos"), QPoint(200, 200)).toPoint());
    }

    LoadedNotes loaded = loadNotesFile(QLatin1String(NotesFileName));
    notesFileNeedsBackup = loaded.incomplete;

    // One insertion for all rows: the view lays itself out once instead of once per row.
    QList<QTreeWidgetItem *> items;
    items.reserve(loaded.rows.size());
    for (const QStringList &row : std::as_const(loaded.rows))
        items.append(new QTreeWidgetItem(row));
    loaded.rows.clear();
    noteTree->addTopLevelItems(items);
}

void Quillora::writeSettingsWhenExit()
{
    QSettings settings(QStringLiteral("Tolvane"), QStringLiteral("Quillora"));
    // The position is stored first, whatever becomes of the notes file. An unchanged
    // position is not written again: rewriting the settings file costs a flush to disk.
    const QString key = QStringLiteral("pos");
    if (!settings.contains(key) || settings.value(key) != QVariant(pos()))
        settings.setValue(key, pos());

    const QString fileName = QLatin1String(NotesFileName);
    if (!notesFileWritable(fileName))
        return;
    // A file that was not loaded whole is copied aside before it is replaced; if the copy
    // cannot be made, the file is left alone rather than lose what it holds.
    if (notesFileNeedsBackup && QFile::exists(fileName) &&
        !keepBackupOf(fileName, QDateTime::currentDateTime()))
        return;
    notesFileNeedsBackup = false;

    QList<QStringList> rows;
    rows.reserve(noteTree->topLevelItemCount());
    for (int i = 0; i < noteTree->topLevelItemCount(); ++i) {
        const QTreeWidgetItem *note = noteTree->topLevelItem(i);
        rows.append({note->text(ColumnTitle), note->text(ColumnPreview), note->text(ColumnDate),
                     note->text(ColumnBody)});
    }
    saveNotesFile(fileName, rows);
}
