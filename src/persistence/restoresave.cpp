// SPDX-License-Identifier: GPL-3.0-or-later
#include "mainwindow/quillora.h"

#include "mainwindow/noterow.h"
#include "notesstore.h"
#include "recoverypolicy.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPoint>
#include <QPushButton>
#include <QSettings>
#include <QTextEdit>
#include <QThreadPool>
#include <QTimer>
#include <QTreeWidget>

#include "dialogs/editnote.h"
#include "dialogs/newnote.h"
#include "fileaccess.h"

namespace {

// Rows read before their items are made.
constexpr qsizetype RowBatch = 1024;

// The items of the list the journal's replay gave. The texts of rows the crashed session
// replaced or removed are freed on a worker thread, from copies that hold them while their
// items are deleted here: spread over the heap among the rows read, they cost the window
// as much again as the replay itself.
QList<QTreeWidgetItem *> replayedItems(QList<QTreeWidgetItem *> &&fileItems,
                                       const ReplayedList &list)
{
    QList<QTreeWidgetItem *> replayed;
    replayed.reserve(qsizetype(list.order.size()));
    for (const int entry : list.order) {
        if (ReplayedList::isFileRow(entry)) {
            replayed.append(fileItems.at(entry));
            fileItems[entry] = nullptr;
        } else {
            replayed.append(new QTreeWidgetItem(list.rowOf(entry)));
        }
    }
    fileItems.removeAll(nullptr);
    QList<QString> texts;
    texts.reserve(fileItems.size() * 4);
    for (const QTreeWidgetItem *item : std::as_const(fileItems)) {
        for (int column = 0; column < item->columnCount(); ++column)
            texts.append(item->text(column));
    }
    qDeleteAll(fileItems);
    if (!texts.isEmpty())
        QThreadPool::globalInstance()->start(
            [dropped = std::move(texts)]() mutable { dropped.clear(); });
    return replayed;
}

} // namespace

void Quillora::readSettingsAtStart()
{
    {
        QSettings settings(QStringLiteral("Tolvane"), QStringLiteral("Quillora"));
        move(settings.value(QStringLiteral("pos"), QPoint(200, 200)).toPoint());
    }

    // The rows become items a batch at a time as they are read, so that the items lie
    // side by side in memory rather than spread among the rows' strings: the view walks
    // every item after each change to the list, and spread over a large heap that walk
    // costs several times as much. The strings of a batch are still in the cache then.
    QList<QTreeWidgetItem *> items;
    QList<QStringList> batch;
    batch.reserve(RowBatch);
    const auto makeItems = [&items, &batch] {
        for (const QStringList &row : std::as_const(batch))
            items.append(new QTreeWidgetItem(row));
        batch.clear();
    };
    const LoadedNotes loaded =
        loadNotesFile(QLatin1String(NotesFileName), [&batch, &makeItems](QStringList &&row) {
            batch.append(std::move(row));
            if (batch.size() == RowBatch)
                makeItems();
        });
    makeItems();
    notesFileNeedsBackup = loaded.incomplete;
    loadedStamp = loaded.stamp;

    // After a crash, the list is what the crashed session showed: its journal's changes
    // replayed onto the rows read, before any of them enters the list.
    journal = std::make_unique<SessionJournal>(QLatin1String(NotesFileName));
    journal->setSnapshot([this] { return journalSnapshot(); });
    journal->setFailureHandler(
        [this](const QString &where, const QString &what) { showJournalFailure(where, what); });
    const SessionJournal::Recovery recovery = journal->recover(loaded.stamp, int(items.size()));
    if (recovery.replayed)
        items = replayedItems(std::move(items), recovery.list);
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

    if (recovery.found() || !loaded.unfinishedSave.isEmpty()) {
        // Rows read from an unfinished save are not in notes.dat yet.
        notesChanged = recovery.replayed || !loaded.unfinishedSave.isEmpty();
        // Told once the window is up.
        QMetaObject::invokeMethod(
            this,
            [this, recovery, unfinished = loaded.unfinishedSave] {
                restoreRecovered(recovery, unfinished);
            },
            Qt::QueuedConnection);
    }
}

void Quillora::restoreRecovered(const SessionJournal::Recovery &recovery,
                                const QString &unfinishedSave)
{
    QStringList drafts;
    for (const SessionJournal::Draft &draft : recovery.drafts) {
        if (draft.window == SessionJournal::Window::NewNote) {
            newNoteDialog->titleEdit->setText(draft.title);
            newNoteDialog->noteEdit->setPlainText(draft.text);
            newNoteDialog->show();
            drafts << QStringLiteral("The New Note window holds the note you were writing.");
            continue;
        }
        const bool noteThere = draft.target >= 0 && draft.target < noteTree->topLevelItemCount();
        if (noteThere) {
            const QTreeWidgetItem *note = noteTree->topLevelItem(draft.target);
            editNoteDialog->setNote(note->text(ColumnTitle), note->text(ColumnBody));
            editedNote = noteTree->model()->index(draft.target, 0);
        } else {
            editNoteDialog->setNote(QString(), QString());
            editedNote = QPersistentModelIndex();
        }
        editNoteDialog->titleEdit->setText(draft.title);
        editNoteDialog->noteEdit->setPlainText(draft.text);
        editPending = true;
        editNoteDialog->show();
        drafts << (noteThere ? QStringLiteral("The Edit Note window holds the changes you were "
                                              "making to a note.")
                             : QStringLiteral("The Edit Note window holds the changes you were "
                                              "making to a note that was deleted since; Done "
                                              "adds them as a new note."));
    }

    // The drafts just put back are what the journal holds already.
    for (QTimer *timer : {draftPause[0], draftPause[1], draftDeadline[0], draftDeadline[1]})
        timer->stop();

    QStringList lines;
    lines << QStringLiteral("Quillora was not left the usual way last time.");
    if (!unfinishedSave.isEmpty()) {
        lines << QStringLiteral(
                     "notes.dat was missing or empty, but the save that was replacing it had "
                     "been written in full as %1: its notes are in the list, and "
                     "leaving saves them to notes.dat. %1 is left as it is.")
                     .arg(QFileInfo(unfinishedSave).fileName());
    }
    if (recovery.replayed) {
        lines << QStringLiteral("Everything it showed is back: %1 %2, the last made %3.")
                     .arg(recovery.changes)
                     .arg(recovery.changes == 1 ? QStringLiteral("change")
                                                : QStringLiteral("changes"))
                     .arg(QLocale().toString(recovery.lastChange, QLocale::ShortFormat));
    }
    if (!recovery.keptFile.isEmpty()) {
        lines << QStringLiteral("The notes.dat found was not the one that session began with; it "
                                "was kept as %1.")
                     .arg(QDir::toNativeSeparators(recovery.keptFile));
    }
    lines += drafts;
    const QString rescued = QDir::toNativeSeparators(recovery.rescueFile);
    if (recovery.setAside) {
        lines << QStringLiteral("A session journal that was damaged has been set aside.");
    }
    if (!rescued.isEmpty()) {
        lines << QStringLiteral("The notes added or edited in a session that could not be "
                                "recovered onto notes.dat (it had changed since, or its journal "
                                "was damaged) were saved to %1.")
                     .arg(rescued);
    } else if (!recovery.rescueReason.isEmpty()) {
        lines << QStringLiteral("Notes of a session that could not be recovered could not be "
                                "saved either (%1); its journal is kept.")
                     .arg(recovery.rescueReason);
    }
    for (const QString &unopened : recovery.unopened) {
        lines << QStringLiteral("The session journal %1 could not be opened; it is left as it "
                                "is, and tried again at the next start.")
                     .arg(unopened);
    }
    QMessageBox box(QMessageBox::Information, QStringLiteral("Notes Recovered"),
                    lines.join(QLatin1Char('\n')), QMessageBox::Ok, this);
    box.setTextFormat(Qt::PlainText);
    box.exec();
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

    // Nothing is written to the journal after the save: it may be gone by then. A draft
    // that was due is written again if Quillora stays.
    QList<QTimer *> due;
    for (QTimer *timer : {draftPause[0], draftPause[1], draftDeadline[0], draftDeadline[1]}) {
        if (timer->isActive())
            due << timer;
        timer->stop();
    }

    const QString fileName = QLatin1String(NotesFileName);
    const QList<QStringList> rows = noteRows();
    const NotesFileStamp onDisk = stampOf(fileName);
    const NotesFileStamp loaded = loadedStamp;
    QString reason;
    Leaving leaving;
    leaving.saved = saveNotesOnExit(fileName, onDisk, rows, &reason);
    if (leaving.saved) {
        loadedStamp = stampOf(fileName);
        notesChanged = false;
    } else {
        leaving.changed = notesChanged;
        leaving.listEmpty = rows.isEmpty();
        leaving.fileAsRead = onDisk == loaded && stampOf(fileName) == onDisk;
    }
    leaving.ordered = removalFollowsRename(QFileInfo(fileName).absolutePath());
    const JournalAtLeaving fate = journalAtLeaving(leaving);
    if (fate != JournalAtLeaving::Keep) {
        leaveAllowed = true;
        journal->remove(fate == JournalAtLeaving::Remove);
        return;
    }
    leaveAllowed = rescueUnsavedNotes(fileName, rows, reason);
    if (!leaveAllowed) {
        for (QTimer *timer : std::as_const(due))
            timer->start();
    }
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
    // Written in place, notes.dat is neither old nor new for a moment: the journal holds
    // the whole list first, so that a kill then loses nothing, or no such write is made.
    const bool inPlace = !folderTakesNewFiles(fileName);
    if (inPlace && !journal->recordList(rows)) {
        *reason = QStringLiteral("The folder takes no new file, and notes.dat is not written in "
                                 "place while the session journal cannot keep the list.");
        return false;
    }
    // Once the new file is in place, the journal is obsolete: its stamp, recorded first,
    // tells the next start so if the journal outlives the save. Where it cannot be
    // recorded, the old file stays.
    return saveNotesFile(fileName, rows, reason, inPlace, [this](const NotesFileStamp &saved) {
        return journal->recordSaved(saved);
    });
}

bool Quillora::rescueUnsavedNotes(const QString &fileName, const QList<QStringList> &rows,
                                  const QString &reason)
{
    const QString where = QDir::toNativeSeparators(QFileInfo(fileName).absoluteFilePath());
    QString rescueReason;
    const QString rescued =
        QDir::toNativeSeparators(rescueNotes(rows, QDateTime::currentDateTime(), &rescueReason));
    // The rescue file holds them all now. Where there is none, the session journal still
    // does, if it recorded every change: it stays, and the next start recovers them.
    Leaving leaving;
    leaving.rescued = !rescued.isEmpty();
    if (journalAtLeaving(leaving) == JournalAtLeaving::Remove)
        journal->remove();
    const bool journaled = rescued.isEmpty() && journal->holdsChanges();
    const QString journalName = QDir::toNativeSeparators(journal->fileName());

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
                               "%5")
                    .arg(where, reason, QDir::toNativeSeparators(rescueDirectory()), rescueReason,
                         journaled ? QStringLiteral("Go back to keep your notes and try again "
                                                    "later, or leave: they are kept in the "
                                                    "session journal %1, and come back the "
                                                    "next time Quillora starts in this folder.")
                                         .arg(journalName)
                                   : QStringLiteral("Go back to keep your notes and try again "
                                                    "later, or leave and lose the changes "
                                                    "made since Quillora started.")));
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
    } else if (journaled) {
        qWarning("Quillora: could not save the notes to %s (%s), nor a copy of them in %s (%s); "
                 "they are kept in the session journal %s and come back at the next start",
                 qUtf8Printable(where), qUtf8Printable(reason),
                 qUtf8Printable(QDir::toNativeSeparators(rescueDirectory())),
                 qUtf8Printable(rescueReason), qUtf8Printable(journalName));
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
