// SPDX-License-Identifier: GPL-3.0-or-later
#include "notesstore.h"

#include "fileaccess.h"
#include "notesfile.h"

#include <QDataStream>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

void setError(QString *error, const QString &reason)
{
    if (error)
        *error = reason;
}

bool openNewFile(QFile &file, const QString &stem, const QString &suffix, QString *error,
                 bool ownerOnly)
{
    constexpr QIODevice::OpenMode mode = QIODevice::WriteOnly | QIODevice::NewOnly;
    for (int attempt = 0; attempt < 1000; ++attempt) {
        file.setFileName(attempt == 0
                             ? stem + suffix
                             : stem + QLatin1Char('-') + QString::number(attempt) + suffix);
        if (ownerOnly ? file.open(mode, QFileDevice::ReadOwner | QFileDevice::WriteOwner)
                      : file.open(mode))
            return true;
        if (!file.exists())
            break;
    }
    setError(error, file.errorString());
    return false;
}

bool makeFolders(const QString &path, QStringList *made)
{
    for (QString folder = QFileInfo(path).absoluteFilePath(); !QFileInfo::exists(folder);
         folder = QFileInfo(folder).absolutePath())
        made->prepend(folder);
    return QDir().mkpath(path);
}

bool syncMadeFolders(const QStringList &made, QString *error)
{
    for (const QString &folder : made) {
        if (!syncFolderOf(folder, error))
            return false;
    }
    return true;
}

bool makeFolder(const QString &path)
{
    QStringList made;
    return makeFolders(path, &made) && syncMadeFolders(made);
}

namespace {

// Removes a file that could not be written in full. QFile::remove() alone would not: it
// first closes the file, and a close whose last write fails leaves the file in place.
void discard(QFile &file)
{
    file.close();
    QFile::remove(file.fileName());
}

bool writeRows(QFileDevice &file, const QList<QStringList> &rows)
{
    QDataStream stream(&file);
    stream.setVersion(QDataStream::Qt_4_6);
    writeNoteRows(stream, rows);
    return stream.status() == QDataStream::Ok;
}

} // namespace

bool NotesFileStamp::operator==(const NotesFileStamp &other) const
{
    return exists == other.exists && size == other.size && modified == other.modified &&
           device == other.device && inode == other.inode;
}

namespace {

// The newest of the files a save left under its temporary name beside `fileName` that
// reads whole, or an empty string.
QString unfinishedSaveOf(const QString &fileName)
{
    const QFileInfo info(fileName);
    const QFileInfoList left = info.dir().entryInfoList(
        {info.fileName() + QStringLiteral(".??????")}, QDir::Files | QDir::Hidden, QDir::Time);
    for (const QFileInfo &candidate : left) {
        QFile file(candidate.filePath());
        if (!file.open(QIODevice::ReadOnly))
            continue;
        QDataStream stream(&file);
        stream.setVersion(QDataStream::Qt_4_6);
        bool wideRow = false;
        const NotesReadResult read = readNoteRowsChecked(
            stream, [&wideRow](QStringList &&row) { wideRow = wideRow || row.size() > 4; });
        if (read == NotesReadResult::Whole && !wideRow)
            return candidate.filePath();
    }
    return QString();
}

} // namespace

LoadedNotes loadNotesFile(const QString &fileName, const std::function<void(QStringList &&)> &take)
{
    LoadedNotes loaded;
    loaded.stamp = stampOf(fileName);
    // An empty file holds no note: on FAT, a power cut in the rename can leave the old name
    // with its clusters freed, which the volume's repair then makes empty.
    if (!loaded.stamp.exists || loaded.stamp.size == 0) {
        const QString unfinished = unfinishedSaveOf(fileName);
        if (!unfinished.isEmpty()) {
            loaded = loadNotesFile(unfinished, take);
            loaded.unfinishedSave = unfinished;
            return loaded;
        }
        if (!loaded.stamp.exists)
            return loaded;
    }
    QFile file(fileName);
    // The reader keeps a buffer of its own.
    if (!waitOutHold(fileName, false, nullptr) ||
        !file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        loaded.incomplete = true;
        return loaded;
    }
    // The stamp of the file whose rows are read: the name may have been given to another
    // file while this one was waited for.
    loaded.stamp = stampOfOpen(file);
    QDataStream stream(&file);
    stream.setVersion(QDataStream::Qt_4_6);
    // A row of more than four strings, from another writer, loses the rest at the save.
    bool wideRow = false;
    const NotesReadResult read = readNoteRowsChecked(stream, [&](QStringList &&row) {
        wideRow = wideRow || row.size() > 4;
        take(std::move(row));
    });
    loaded.incomplete = read != NotesReadResult::Whole || wideRow;
    return loaded;
}

bool notesFileWritable(const QString &fileName, QString *error)
{
    if (!QFile::exists(fileName))
        return true;
    if (!waitOutHold(fileName, true, error))
        return false;
    // Append does not empty the file; it only asks whether writing is allowed.
    QFile file(fileName);
    if (file.open(QIODevice::WriteOnly | QIODevice::Append))
        return true;
    setError(error, file.errorString());
    return false;
}

bool keepBackupOf(const QString &fileName, const QDateTime &when, QString *error, QString *kept)
{
    QFile original(fileName);
    if (!waitOutHold(fileName, false, error))
        return false;
    if (!original.open(QIODevice::ReadOnly)) {
        setError(error, original.errorString());
        return false;
    }

    QFile backup;
    const QString stem =
        fileName + QLatin1String(".bak-") + when.toString(QStringLiteral("yyyyMMdd-HHmmss"));
    if (!openNewFile(backup, stem, QString(), error))
        return false;

    bool copied = true;
    while (copied && !original.atEnd()) {
        const QByteArray chunk = original.read(1 << 20);
        copied = original.error() == QFileDevice::NoError && backup.write(chunk) == chunk.size();
    }
    copied = copied && original.error() == QFileDevice::NoError && syncToDisk(backup);
    if (!copied) {
        setError(error, original.error() != QFileDevice::NoError ? original.errorString()
                                                                 : backup.errorString());
        discard(backup);
        return false;
    }
    if (!syncFolderOf(backup.fileName(), error)) {
        discard(backup);
        return false;
    }
    if (kept)
        *kept = QFileInfo(backup).absoluteFilePath();
    return true;
}

bool saveNotesFile(const QString &fileName, const QList<QStringList> &rows, QString *error,
                   bool inPlace, const std::function<bool(const NotesFileStamp &)> &beforeReplace)
{
    return replaceFile(
        fileName, [&rows](QFileDevice &file) { return writeRows(file, rows); }, error, inPlace,
        beforeReplace);
}

QString rescueDirectory()
{
    // The application object carries no names, so the organisation and application are
    // added here: the same folder as AppLocalDataLocation with those names set.
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QLatin1String("/Tolvane/Quillora");
}

QString rescueNotes(const QList<QStringList> &rows, const QDateTime &when, QString *error)
{
    const QString directory = rescueDirectory();
    // A folder made here is found after a power cut only once its name is on disk too: the
    // rescue file is named in the box only then.
    QStringList made;
    if (!makeFolders(directory, &made)) {
        setError(
            error,
            QStringLiteral("cannot create the folder %1").arg(QDir::toNativeSeparators(directory)));
        return QString();
    }
    QFile file;
    const QString stem = directory + QLatin1String("/notes-rescued-") +
                         when.toString(QStringLiteral("yyyyMMdd-HHmmss"));
    if (!openNewFile(file, stem, QStringLiteral(".dat"), error))
        return QString();
    if (!writeRows(file, rows) || !syncToDisk(file))
        setError(error, file.errorString());
    else if (syncFolderOf(file.fileName(), error) && syncMadeFolders(made, error))
        return QFileInfo(file).absoluteFilePath();
    discard(file);
    return QString();
}
