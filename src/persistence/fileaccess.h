// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStringList>
#include <QtGlobal>

#include <functional>

class QByteArray;
class QFile;
class QFileDevice;
class QString;
struct NotesFileStamp;

// Shared within persistence/: two helpers of notesstore.cpp, then the steps of a save that
// each system takes its own way (fileaccess_unix.cpp, fileaccess_win.cpp). On Windows, a
// file that another program holds open for a moment (a virus scanner, a sync client, the
// search indexer) is waited for, for about two seconds, where opening it or replacing it
// fails only because of that hold.

// Puts `reason` into `error` when given one.
void setError(QString *error, const QString &reason);

// Opens a file that did not exist before: "<stem><suffix>", else "<stem>-1<suffix>",
// "<stem>-2<suffix>" ... It never replaces a file that is already there. Unless
// `ownerOnly` is false, the new file is readable and writable by its owner alone.
bool openNewFile(QFile &file, const QString &stem, const QString &suffix, QString *error,
                 bool ownerOnly = true);

// Makes the folder and those above it that are missing, telling which were made in
// `made`, outermost first; syncMadeFolders() then puts each one's name on the disk, in its
// parent. makeFolder() does both.
bool makeFolders(const QString &path, QStringList *made);
bool syncMadeFolders(const QStringList &made, QString *error = nullptr);
bool makeFolder(const QString &path);

// Puts what was written to the file on the disk itself.
bool syncToDisk(QFileDevice &file);

// Puts the folder that holds `fileName` on the disk itself, so that a file just created or
// renamed there is found under its name after a power cut. A file system that cannot sync
// a folder at all counts as done. On Windows the steps of a save write through already.
bool syncFolderOf(const QString &fileName, QString *error);

// Whether the folder of `fileName` takes a new file, so that a save can write beside the
// file and rename; where it does not, the file is written in place (on Windows the save
// fails there). Found by trying where only a try tells.
bool folderTakesNewFiles(const QString &fileName);

// Whether the existing file can be opened for reading, or for writing, as far as other
// programs are concerned: on Windows, waits while another one holds it open so that it
// cannot be; false, with the system's reason, if it still cannot be opened. Elsewhere no
// program holds a file that way, and it is true at once.
bool waitOutHold(const QString &fileName, bool writing, QString *error);

// The stamp of the file open in `file`, whatever its name leads to by now.
NotesFileStamp stampOfOpen(QFileDevice &file);

// Replaces `fileName` atomically with what `write` writes: a temporary file in the same
// folder is written, flushed to disk and put in its place, so a failure or a crash at any
// point leaves the previous file whole. A new file is readable by its owner only; an
// existing one keeps its permissions (and on Windows its attributes). Where the folder takes
// no new file, the file is written in place only if `inPlace` allows it. `beforeReplace`, if
// given, is told the stamp of the new file once it is on disk, before it takes the old one's
// place; where it returns false, the old file stays and the save fails.
bool replaceFile(const QString &fileName, const std::function<bool(QFileDevice &)> &write,
                 QString *error, bool inPlace = false,
                 const std::function<bool(const NotesFileStamp &)> &beforeReplace = {});

// The session journal's files, handled with the system's own calls, never through a QFile
// that SQLite has open too: closing a QFile would drop the POSIX locks SQLite holds on it.

// The name as SQLite takes it: the file system's bytes, on Windows UTF-8.
QByteArray sqliteFileName(const QString &fileName);

// Whether there is a file of that name; a symbolic link counts as one, whatever it leads to.
bool fileExists(const QString &fileName);
qint64 fileSize(const QString &fileName);

// True once the file is gone, whether removed now or never there.
bool removeFile(const QString &fileName);
bool renameFile(const QString &from, const QString &to);

// A new, empty file that only its owner can read and write (on Windows also hidden), made
// before SQLite opens it: 0 if made, EEXIST if a file of that name is there, else the
// system's reason as an errno value.
int createExclusive(const QString &fileName);

// Hides a file that SQLite made itself, where files are hidden by an attribute (Windows).
void hideFile(const QString &fileName);

// Whether the file belongs to another user (never on Windows, where its access list rules).
bool ownedByAnother(const QString &fileName);

// Whether the existing file may be written; true for a file that is not there.
bool fileWritable(const QString &fileName);

// One name for the folder however it was reached: symbolic links resolved, and on Windows
// a mapped drive given as its share and every name in the case it is stored in. The
// absolute path where the folder cannot be opened.
QString canonicalFolder(const QString &folder);

// Whether the folder is on a network file system, which takes no reliable lock.
bool onNetworkFileSystem(const QString &folder);

// Whether the file system that holds the folder keeps a file's number (its inode, on
// Windows its file index) from one mount to the next. FAT and exFAT volumes number their
// files anew at each mount.
bool fileNumbersLast(const QString &folder);

// Whether a file removed after a rename in the folder is gone from the disk only once the
// rename is on it, the folder synced between: not on FAT and exFAT, whose drivers keep no
// such order (nor FUSE, which may be exFAT); on Windows, NTFS and ReFS log a write-through
// rename in order, and a volume whose file system cannot be told counts as one of them.
bool removalFollowsRename(const QString &folder);

// Whether a file that is open can be removed (POSIX): a journal is then removed while its
// lock is still held. On Windows an open journal cannot be removed, so that a journal
// another Quillora opened meanwhile stays.
bool openFilesRemovable();
