// SPDX-License-Identifier: GPL-3.0-or-later
#include "fileaccess.h"
#include "notesstore.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <string>

#include <aclapi.h>
#include <io.h>
#include <windows.h>

namespace {

// Virus scanners, sync clients, the search indexer and backup tools open a file for a
// moment after it changes, often without sharing writing or deleting. While they hold it,
// opening it for writing fails with ERROR_SHARING_VIOLATION and replacing it with
// ERROR_ACCESS_DENIED. A step that fails so is tried again, pausing a little longer each
// time, for about two seconds in all; any other error ends it at once.
constexpr qint64 PatienceMs = 2000;
constexpr DWORD LongestPauseMs = 250;

enum class Step
{
    Opening,
    Replacing
};

bool heldByAnother(DWORD error, Step step)
{
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION)
        return true;
    // Opening a read-only file fails with ERROR_ACCESS_DENIED too, and no wait mends that.
    return step == Step::Replacing && error == ERROR_ACCESS_DENIED;
}

// Runs `attempt`, which gives ERROR_SUCCESS or the system's error, until it succeeds, fails
// for another reason than a hold, or the patience is spent.
template <typename Attempt> DWORD retryWhileHeld(Step step, Attempt attempt)
{
    QElapsedTimer waited;
    waited.start();
    DWORD pause = 10;
    for (;;) {
        const DWORD result = attempt();
        if (result == ERROR_SUCCESS || !heldByAnother(result, step) ||
            waited.elapsed() + pause > PatienceMs)
            return result;
        ::Sleep(pause);
        pause = std::min(pause * 2, LongestPauseMs);
    }
}

std::wstring nativePath(const QString &fileName)
{
    return QDir::toNativeSeparators(fileName).toStdWString();
}

DWORD resultOf(BOOL succeeded)
{
    return succeeded ? DWORD(ERROR_SUCCESS) : ::GetLastError();
}

// Opens and closes the file as Qt opens files (sharing reading and writing), waiting out a
// hold by another program.
DWORD probe(const QString &fileName, DWORD access)
{
    const std::wstring path = nativePath(fileName);
    return retryWhileHeld(Step::Opening, [&] {
        const HANDLE handle =
            ::CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE)
            return ::GetLastError();
        ::CloseHandle(handle);
        return DWORD(ERROR_SUCCESS);
    });
}

// The new file takes the old one's place with its attributes and access rules, as if it
// had been written in place. A rule that cannot be carried over does not stop the save.
void copyAttributes(const std::wstring &from, std::wstring to, DWORD attributes)
{
    PACL rules = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetNamedSecurityInfoW(from.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                nullptr, &rules, nullptr, &descriptor) == ERROR_SUCCESS) {
        SECURITY_DESCRIPTOR_CONTROL control = 0;
        DWORD revision = 0;
        ::GetSecurityDescriptorControl(descriptor, &control, &revision);
        // Rules that the old file inherited are inherited anew from the folder.
        const SECURITY_INFORMATION which =
            DACL_SECURITY_INFORMATION |
            ((control & SE_DACL_PROTECTED) ? PROTECTED_DACL_SECURITY_INFORMATION
                                           : UNPROTECTED_DACL_SECURITY_INFORMATION);
        ::SetNamedSecurityInfoW(to.data(), SE_FILE_OBJECT, which, nullptr, nullptr, rules, nullptr);
        ::LocalFree(descriptor);
    }
    attributes &= FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                  FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    ::SetFileAttributesW(to.c_str(), attributes ? attributes : FILE_ATTRIBUTE_NORMAL);
}

} // namespace

bool syncToDisk(QFileDevice &file)
{
    return file.flush() && ::FlushFileBuffers(HANDLE(::_get_osfhandle(file.handle())));
}

bool syncFolderOf(const QString &, QString *)
{
    return true;
}

bool waitOutHold(const QString &fileName, bool writing, QString *error)
{
    const DWORD result = probe(fileName, writing ? GENERIC_WRITE : GENERIC_READ);
    if (result == ERROR_SUCCESS)
        return true;
    setError(error, qt_error_string(int(result)));
    return false;
}

namespace {

NotesFileStamp stampOfHandle(HANDLE handle)
{
    NotesFileStamp stamp;
    BY_HANDLE_FILE_INFORMATION info;
    if (::GetFileInformationByHandle(handle, &info)) {
        stamp.exists = true;
        stamp.size = qint64(info.nFileSizeHigh) << 32 | info.nFileSizeLow;
        // In units of 100 nanoseconds.
        stamp.modified =
            qint64(info.ftLastWriteTime.dwHighDateTime) << 32 | info.ftLastWriteTime.dwLowDateTime;
        stamp.device = info.dwVolumeSerialNumber;
        stamp.inode = quint64(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
    }
    return stamp;
}

} // namespace

NotesFileStamp stampOf(const QString &fileName)
{
    // Asking for no access reads the metadata whoever holds the file.
    const HANDLE handle = ::CreateFileW(
        nativePath(fileName).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return NotesFileStamp();
    const NotesFileStamp stamp = stampOfHandle(handle);
    ::CloseHandle(handle);
    return stamp;
}

NotesFileStamp stampOfOpen(QFileDevice &file)
{
    return stampOfHandle(HANDLE(::_get_osfhandle(file.handle())));
}

bool folderTakesNewFiles(const QString &fileName)
{
    // Neither a folder's read-only attribute nor its access rules alone tell it: shares,
    // removable media and access lists that refuse writing are found by trying. The trial
    // file is gone when its handle closes.
    const QString trial = QFileInfo(fileName).absoluteDir().filePath(
        QStringLiteral(".quillora-%1.tmp").arg(::GetCurrentProcessId()));
    const HANDLE handle = ::CreateFileW(nativePath(trial).c_str(), GENERIC_WRITE, 0, nullptr,
                                        CREATE_NEW,
                                        FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return ::GetLastError() == ERROR_FILE_EXISTS;
    ::CloseHandle(handle);
    return true;
}

bool replaceFile(const QString &fileName, const std::function<bool(QFileDevice &)> &write,
                 QString *error, bool,
                 const std::function<bool(const NotesFileStamp &)> &beforeReplace)
{
    // A symbolic link stays one: the file it points to is replaced, as QSaveFile does.
    const QFileInfo info(fileName);
    const QString finalName =
        info.isSymbolicLink() && info.exists() ? info.canonicalFilePath() : fileName;
    const std::wstring target = nativePath(finalName);
    const DWORD attributes = ::GetFileAttributesW(target.c_str());
    // Renaming over a read-only file may succeed, where writing to it would not.
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
        setError(error, qt_error_string(ERROR_ACCESS_DENIED));
        return false;
    }

    // Named so that whoever finds it after a crash or a power cut knows what it is: the
    // new notes file of an unfinished save. Such a file is theirs to delete. It takes the
    // folder's access rules, as any new file there does.
    QFile file;
    const QString stem = finalName + QLatin1String(".saving-") +
                         QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    if (!openNewFile(file, stem, QStringLiteral(".tmp"), error, false))
        return false;

    const std::wstring temporary = nativePath(file.fileName());
    const bool written = write(file) && syncToDisk(file);
    QString reason = written ? QString() : file.errorString();
    file.close();
    if (written) {
        if (attributes != INVALID_FILE_ATTRIBUTES)
            copyAttributes(target, temporary, attributes);
        if (beforeReplace && !beforeReplace(stampOf(file.fileName()))) {
            reason = QStringLiteral("the session journal could not record the save");
        } else {
            const DWORD result = retryWhileHeld(Step::Replacing, [&] {
                return resultOf(::MoveFileExW(temporary.c_str(), target.c_str(),
                                              MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH));
            });
            if (result == ERROR_SUCCESS)
                return true;
            reason = qt_error_string(int(result));
        }
    }
    // Whoever held the old file may have opened the new one by now too.
    retryWhileHeld(Step::Replacing, [&] { return resultOf(::DeleteFileW(temporary.c_str())); });
    setError(error, reason);
    return false;
}

QByteArray sqliteFileName(const QString &fileName)
{
    return QDir::toNativeSeparators(fileName).toUtf8();
}

bool fileExists(const QString &fileName)
{
    return ::GetFileAttributesW(nativePath(fileName).c_str()) != INVALID_FILE_ATTRIBUTES;
}

qint64 fileSize(const QString &fileName)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExW(nativePath(fileName).c_str(), GetFileExInfoStandard, &data))
        return 0;
    return qint64((quint64(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
}

bool removeFile(const QString &fileName)
{
    if (::DeleteFileW(nativePath(fileName).c_str()))
        return true;
    const DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

bool renameFile(const QString &from, const QString &to)
{
    return ::MoveFileExW(nativePath(from).c_str(), nativePath(to).c_str(), MOVEFILE_WRITE_THROUGH);
}

int createExclusive(const QString &fileName)
{
    // Qt gives a new file an owner-only access list for these permissions.
    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly,
                   QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        return fileExists(fileName) ? EEXIST : EACCES;
    file.close();
    ::SetFileAttributesW(nativePath(fileName).c_str(), FILE_ATTRIBUTE_HIDDEN);
    return 0;
}

void hideFile(const QString &fileName)
{
    const std::wstring path = nativePath(fileName);
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_HIDDEN))
        ::SetFileAttributesW(path.c_str(), attributes | FILE_ATTRIBUTE_HIDDEN);
}

bool ownedByAnother(const QString &)
{
    return false;
}

bool fileWritable(const QString &fileName)
{
    const DWORD attributes = ::GetFileAttributesW(nativePath(fileName).c_str());
    return attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_READONLY);
}

namespace {

// The volume that holds the folder, as GetVolumeInformationW takes it.
std::wstring volumeOf(const QString &folder)
{
    wchar_t volume[MAX_PATH + 1];
    if (!::GetVolumePathNameW(nativePath(folder).c_str(), volume, MAX_PATH + 1))
        return std::wstring();
    return volume;
}

} // namespace

QString canonicalFolder(const QString &folder)
{
    const QString absolute = QFileInfo(folder).absoluteFilePath();
    const HANDLE handle = ::CreateFileW(
        nativePath(absolute).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return absolute;
    wchar_t name[32768];
    const DWORD length = ::GetFinalPathNameByHandleW(handle, name, DWORD(std::size(name)),
                                                     FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    ::CloseHandle(handle);
    if (length == 0 || length >= std::size(name))
        return absolute;
    // "\\?\UNC\server\share\..." for a share, "\\?\C:\..." for a drive.
    QString canonical = QString::fromWCharArray(name, int(length));
    if (canonical.startsWith(QLatin1String("\\\\?\\UNC\\")))
        canonical = QLatin1String("\\\\") + canonical.mid(8);
    else if (canonical.startsWith(QLatin1String("\\\\?\\")))
        canonical = canonical.mid(4);
    return QDir::fromNativeSeparators(canonical);
}

bool onNetworkFileSystem(const QString &folder)
{
    // A mapped network drive, or a share reached by its UNC path.
    const std::wstring volume = volumeOf(folder);
    return !volume.empty() && ::GetDriveTypeW(volume.c_str()) == DRIVE_REMOTE;
}

namespace {

// The name of the file system that holds the folder ("NTFS", "FAT32", "exFAT" ...), or an
// empty one where it cannot be told.
QString fileSystemOf(const QString &folder)
{
    const std::wstring volume = volumeOf(folder);
    wchar_t system[MAX_PATH + 1];
    if (volume.empty() || !::GetVolumeInformationW(volume.c_str(), nullptr, 0, nullptr, nullptr,
                                                   nullptr, system, MAX_PATH + 1))
        return QString();
    return QString::fromWCharArray(system);
}

} // namespace

bool fileNumbersLast(const QString &folder)
{
    const QString name = fileSystemOf(folder);
    return !name.startsWith(QLatin1String("FAT"), Qt::CaseInsensitive) &&
           name.compare(QLatin1String("exFAT"), Qt::CaseInsensitive) != 0;
}

bool removalFollowsRename(const QString &folder)
{
    // NTFS and ReFS log a write-through rename before a later removal. A volume whose
    // file system cannot be told (a folder mounted into another volume, say) counts as
    // one of them, as it does for the numbers of its files.
    return fileNumbersLast(folder);
}

bool openFilesRemovable()
{
    return false;
}
