// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>

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

// Puts what was written to the file on the disk itself.
bool syncToDisk(QFileDevice &file);

// Puts the folder that holds `fileName` on the disk itself, so that a file just created or
// renamed there is found under its name after a power cut. A file system that cannot sync
// a folder at all counts as done. On Windows the steps of a save write through already.
bool syncFolderOf(const QString &fileName, QString *error);

// Whether the folder of `fileName` takes a new file, so that a save can write beside the
// file and rename; where it does not, the file is written in place.
bool folderTakesNewFiles(const QString &fileName);

// Whether the existing file can be opened for reading, or for writing, as far as other
// programs are concerned: on Windows, waits while another one holds it open so that it
// cannot be; false, with the system's reason, if it still cannot be opened. Elsewhere no
// program holds a file that way, and it is true at once.
bool waitOutHold(const QString &fileName, bool writing, QString *error);

// Replaces `fileName` atomically with what `write` writes: a temporary file in the same
// folder is written, flushed to disk and put in its place, so a failure or a crash at any
// point leaves the previous file whole. A new file is readable by its owner only; an
// existing one keeps its permissions (and on Windows its attributes). `beforeReplace`, if
// given, is told the stamp of the new file once it is on disk, before it takes the old
// one's place.
bool replaceFile(const QString &fileName, const std::function<bool(QFileDevice &)> &write,
                 QString *error,
                 const std::function<void(const NotesFileStamp &)> &beforeReplace = {});
