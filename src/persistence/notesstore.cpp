// SPDX-License-Identifier: GPL-3.0-or-later
#include "notesstore.h"

#include "notesfile.h"

#include <QDataStream>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

constexpr auto OwnerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

bool syncToDisk(QFile &file)
{
    if (!file.flush())
        return false;
#ifdef Q_OS_UNIX
    return ::fsync(file.handle()) == 0;
#else
    return true;
#endif
}

void setError(QString *error, const QString &reason)
{
    if (error)
        *error = reason;
}

// Opens a file that did not exist before: "<stem><suffix>", else "<stem>-1<suffix>",
// "<stem>-2<suffix>" ... NewOnly never replaces a file that is already there.
bool openNewFile(QFile &file, const QString &stem, const QString &suffix, QString *error)
{
    for (int attempt = 0; attempt < 1000; ++attempt) {
        file.setFileName(attempt == 0
                             ? stem + suffix
                             : stem + QLatin1Char('-') + QString::number(attempt) + suffix);
        if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly, OwnerOnly))
            return true;
        if (!file.exists())
            break;
    }
    setError(error, file.errorString());
    return false;
}

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

#ifdef Q_OS_UNIX
qint64 nanoseconds(const struct timespec &time)
{
    return qint64(time.tv_sec) * 1000000000 + time.tv_nsec;
}
#endif

} // namespace

bool NotesFileStamp::operator==(const NotesFileStamp &other) const
{
    return exists == other.exists && size == other.size && modified == other.modified &&
           changed == other.changed && device == other.device && inode == other.inode;
}

NotesFileStamp stampOf(const QString &fileName)
{
    NotesFileStamp stamp;
#ifdef Q_OS_UNIX
    struct stat info;
    if (::stat(QFile::encodeName(fileName).constData(), &info) != 0)
        return stamp;
    stamp.exists = true;
    stamp.size = info.st_size;
    stamp.device = info.st_dev;
    stamp.inode = info.st_ino;
#ifdef Q_OS_DARWIN
    stamp.modified = nanoseconds(info.st_mtimespec);
    stamp.changed = nanoseconds(info.st_ctimespec);
#else
    stamp.modified = nanoseconds(info.st_mtim);
    stamp.changed = nanoseconds(info.st_ctim);
#endif
#else
    const QFileInfo info(fileName);
    if (!info.exists())
        return stamp;
    stamp.exists = true;
    stamp.size = info.size();
    stamp.modified = info.lastModified().toMSecsSinceEpoch();
    stamp.changed = info.birthTime().toMSecsSinceEpoch();
#endif
    return stamp;
}

LoadedNotes loadNotesFile(const QString &fileName)
{
    LoadedNotes loaded;
    loaded.stamp = stampOf(fileName);
    if (!loaded.stamp.exists)
        return loaded;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        loaded.incomplete = true;
        return loaded;
    }
    QDataStream stream(&file);
    stream.setVersion(QDataStream::Qt_4_6);
    loaded.incomplete = readNoteRowsChecked(stream, loaded.rows) != NotesReadResult::Whole;
    // A row of more than four strings, from another writer, loses the rest at the save.
    for (qsizetype i = 0; i < loaded.rows.size() && !loaded.incomplete; ++i)
        loaded.incomplete = loaded.rows.at(i).size() > 4;
    return loaded;
}

bool notesFileWritable(const QString &fileName, QString *error)
{
    if (!QFile::exists(fileName))
        return true;
    // Append does not empty the file; it only asks whether writing is allowed.
    QFile file(fileName);
    if (file.open(QIODevice::WriteOnly | QIODevice::Append))
        return true;
    setError(error, file.errorString());
    return false;
}

bool keepBackupOf(const QString &fileName, const QDateTime &when, QString *error)
{
    QFile original(fileName);
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
    }
    return copied;
}

bool saveNotesFile(const QString &fileName, const QList<QStringList> &rows, QString *error)
{
    const QFileDevice::Permissions permissions =
        QFile::exists(fileName) ? QFile::permissions(fileName) : OwnerOnly;
    QSaveFile file(fileName);
    // Where the directory takes no temporary file, write in place, as long as the file
    // itself may be written: a save that could be made is made.
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly)) {
        setError(error, file.errorString());
        return false;
    }
    file.setPermissions(permissions);
    // Flushed here, not left to commit(): a small file sits in the device's buffer until
    // then, and Qt 6.4's commit() renames the file into place even when that last write
    // fails, a full disk leaving a truncated notes.dat.
    if (!writeRows(file, rows) || !file.flush()) {
        setError(error, file.errorString());
        file.cancelWriting();
        return false;
    }
    if (file.commit())
        return true;
    setError(error, file.errorString());
    return false;
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
    if (!QDir().mkpath(directory)) {
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
    if (writeRows(file, rows) && syncToDisk(file))
        return QFileInfo(file).absoluteFilePath();
    setError(error, file.errorString());
    discard(file);
    return QString();
}
