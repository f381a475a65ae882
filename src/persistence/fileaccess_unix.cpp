// SPDX-License-Identifier: GPL-3.0-or-later
#include "fileaccess.h"
#include "notesstore.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef Q_OS_LINUX
#include <sys/vfs.h>
#endif

namespace {

qint64 nanoseconds(const struct timespec &time)
{
    return qint64(time.tv_sec) * 1000000000 + time.tv_nsec;
}

NotesFileStamp stampFrom(const struct stat &info)
{
    NotesFileStamp stamp;
    stamp.exists = true;
    stamp.size = info.st_size;
    stamp.device = info.st_dev;
    stamp.inode = info.st_ino;
#ifdef Q_OS_DARWIN
    stamp.modified = nanoseconds(info.st_mtimespec);
#else
    stamp.modified = nanoseconds(info.st_mtim);
#endif
    return stamp;
}

} // namespace

bool syncToDisk(QFileDevice &file)
{
    return file.flush() && ::fsync(file.handle()) == 0;
}

bool syncFolderOf(const QString &fileName, QString *error)
{
    const QByteArray folder = QFile::encodeName(QFileInfo(fileName).absolutePath());
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    // Some file systems take no sync of a folder, and say so with EINVAL.
    const bool synced = fd >= 0 && (::fsync(fd) == 0 || errno == EINVAL);
    const int syncError = errno;
    if (fd >= 0)
        ::close(fd);
    if (!synced)
        setError(error, qt_error_string(syncError));
    return synced;
}

bool folderTakesNewFiles(const QString &fileName)
{
    return ::access(QFile::encodeName(QFileInfo(fileName).absolutePath()).constData(), W_OK) == 0;
}

bool waitOutHold(const QString &, bool, QString *)
{
    return true;
}

NotesFileStamp stampOf(const QString &fileName)
{
    struct stat info;
    if (::stat(QFile::encodeName(fileName).constData(), &info) != 0)
        return NotesFileStamp();
    return stampFrom(info);
}

NotesFileStamp stampOfOpen(QFileDevice &file)
{
    struct stat info;
    if (::fstat(file.handle(), &info) != 0)
        return NotesFileStamp();
    return stampFrom(info);
}

bool replaceFile(const QString &fileName, const std::function<bool(QFileDevice &)> &write,
                 QString *error, bool inPlace,
                 const std::function<bool(const NotesFileStamp &)> &beforeReplace)
{
    const QFileDevice::Permissions permissions =
        QFile::exists(fileName) ? QFile::permissions(fileName)
                                : QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    QSaveFile file(fileName);
    // Where the directory takes no temporary file, write in place when the caller allows it
    // and the file itself may be written.
    file.setDirectWriteFallback(inPlace);
    if (!file.open(QIODevice::WriteOnly)) {
        setError(error, file.errorString());
        return false;
    }
    file.setPermissions(permissions);
    // Flushed and synced here, not left to commit(): a small file sits in the device's
    // buffer until then, and Qt 6.4's commit() renames the file into place even when that
    // last write fails, a full disk leaving a truncated notes.dat; it also takes a failed
    // sync for success.
    if (!write(file) || !file.flush()) {
        setError(error, file.errorString());
        file.cancelWriting();
        return false;
    }
    if (::fsync(file.handle()) != 0) {
        setError(error, qt_error_string(errno));
        file.cancelWriting();
        return false;
    }
    // The new file as it will be found in place: the rename keeps all of it.
    struct stat info;
    if (beforeReplace && ::fstat(file.handle(), &info) != 0) {
        setError(error, qt_error_string(errno));
        file.cancelWriting();
        return false;
    }
    if (beforeReplace && !beforeReplace(stampFrom(info))) {
        setError(error, QStringLiteral("the session journal could not record the save"));
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        setError(error, file.errorString());
        return false;
    }
    // The rename is only lasting once the folder that records it is on disk: the folder of
    // the file that a symbolic link points to, which QSaveFile replaced. The file is synced
    // once more under its new name first: QSaveFile writes an unnamed file and links it
    // in, and btrfs, after a power cut, may bring back that name with none of the data
    // synced before it was given.
    const QString replaced = QFileInfo(fileName).canonicalFilePath();
    const QString target = replaced.isEmpty() ? fileName : replaced;
    const int fd = ::open(QFile::encodeName(target).constData(), O_RDONLY | O_CLOEXEC);
    const bool synced = fd >= 0 && ::fsync(fd) == 0;
    const int syncError = errno;
    if (fd >= 0)
        ::close(fd);
    if (!synced) {
        setError(error, qt_error_string(syncError));
        return false;
    }
    return syncFolderOf(target, error);
}

QByteArray sqliteFileName(const QString &fileName)
{
    return QFile::encodeName(fileName);
}

bool fileExists(const QString &fileName)
{
    struct stat info;
    return ::lstat(QFile::encodeName(fileName).constData(), &info) == 0;
}

qint64 fileSize(const QString &fileName)
{
    struct stat info;
    return ::lstat(QFile::encodeName(fileName).constData(), &info) == 0 ? qint64(info.st_size) : 0;
}

bool removeFile(const QString &fileName)
{
    return ::unlink(QFile::encodeName(fileName).constData()) == 0 || errno == ENOENT;
}

bool renameFile(const QString &from, const QString &to)
{
    return ::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
}

int createExclusive(const QString &fileName)
{
    const int fd = ::open(QFile::encodeName(fileName).constData(),
                          O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return errno;
    ::close(fd);
    return 0;
}

void hideFile(const QString &) {}

bool ownedByAnother(const QString &fileName)
{
    struct stat info;
    return ::lstat(QFile::encodeName(fileName).constData(), &info) == 0 &&
           info.st_uid != ::geteuid();
}

bool fileWritable(const QString &fileName)
{
    return ::access(QFile::encodeName(fileName).constData(), W_OK) == 0 || errno == ENOENT;
}

namespace {

// The file system's type, or 0 where it cannot be told.
unsigned long fileSystemType(const QString &folder)
{
#ifdef Q_OS_LINUX
    struct statfs info;
    if (::statfs(QFile::encodeName(folder).constData(), &info) == 0)
        return static_cast<unsigned long>(info.f_type);
#else
    Q_UNUSED(folder);
#endif
    return 0;
}

} // namespace

QString canonicalFolder(const QString &folder)
{
    const QString canonical = QFileInfo(folder).canonicalFilePath();
    return canonical.isEmpty() ? QFileInfo(folder).absoluteFilePath() : canonical;
}

bool onNetworkFileSystem(const QString &folder)
{
    switch (fileSystemType(folder)) {
    case 0x6969:     // NFS
    case 0xFF534D42: // CIFS
    case 0xFE534D42: // SMB2
    case 0x517B:     // SMB
    case 0x65735546: // FUSE (sshfs and the like)
        return true;
    }
    return false;
}

bool fileNumbersLast(const QString &folder)
{
    switch (fileSystemType(folder)) {
    case 0x4d44:     // vfat, msdos
    case 0x2011BAB0: // exFAT
    case 0x65735546: // FUSE, whose file systems (exfat-fuse among them) may number anew
        return false;
    }
    return true;
}

bool removalFollowsRename(const QString &folder)
{
    return fileNumbersLast(folder);
}

bool openFilesRemovable()
{
    return true;
}
