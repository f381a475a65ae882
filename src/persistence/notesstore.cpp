#include "notesstore.h"

#include "notesfile.h"

#include <QDataStream>
#include <QDateTime>
#include <QFile>
#include <QSaveFile>

#ifdef Q_OS_UNIX
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

} // namespace

LoadedNotes loadNotesFile(const QString &fileName)
{
    LoadedNotes loaded;
    if (!QFile::exists(fileName))
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

bool notesFileWritable(const QString &fileName)
{
    if (!QFile::exists(fileName))
        return true;
    // Append does not empty the file; it only asks whether writing is allowed.
    QFile file(fileName);
    return file.open(QIODevice::WriteOnly | QIODevice::Append);
}

bool keepBackupOf(const QString &fileName, const QDateTime &when)
{
    QFile original(fileName);
    if (!original.open(QIODevice::ReadOnly))
        return false;

    const QString stem =
        fileName + QLatin1String(".bak-") + when.toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QFile backup;
    for (int attempt = 0;; ++attempt) {
        backup.setFileName(attempt == 0 ? stem
                                        : stem + QLatin1Char('-') + QString::number(attempt));
        // NewOnly never replaces a file that is already there.
        if (backup.open(QIODevice::WriteOnly | QIODevice::NewOnly, OwnerOnly))
            break;
        if (!backup.exists() || attempt >= 999)
            return false;
    }

    bool copied = true;
    while (copied && !original.atEnd()) {
        const QByteArray chunk = original.read(1 << 20);
        copied = original.error() == QFileDevice::NoError && backup.write(chunk) == chunk.size();
    }
    copied = copied && original.error() == QFileDevice::NoError && syncToDisk(backup);
    if (!copied)
        backup.remove();
    return copied;
}

bool saveNotesFile(const QString &fileName, const QList<QStringList> &rows)
{
    const QFileDevice::Permissions permissions =
        QFile::exists(fileName) ? QFile::permissions(fileName) : OwnerOnly;
    QSaveFile file(fileName);
    // Where the directory takes no temporary file, write in place, as long as the file
    // itself may be written: a save that could be made is made.
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.setPermissions(permissions);
    QDataStream stream(&file);
    stream.setVersion(QDataStream::Qt_4_6);
    writeNoteRows(stream, rows);
    if (stream.status() != QDataStream::Ok) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}
