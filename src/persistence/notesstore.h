// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QStringList>

#include <functional>

class QDateTime;
class QString;

// The notes file, relative to the working directory at the moment it is used.
inline constexpr char NotesFileName[] = "notes.dat";

// What identifies a file on disk, taken from its metadata alone (no reading): which file
// it is (device and inode, on Windows volume and file index), its size and the time of its
// last write, as finely as the system keeps it. Two stamps differ when the file appeared,
// vanished, or was written or replaced between them; a change of its metadata alone (its
// permissions, a hard link, an extended attribute) leaves the stamp as it was.
struct NotesFileStamp
{
    bool exists = false;
    qint64 size = 0;
    qint64 modified = 0;
    quint64 device = 0;
    quint64 inode = 0;

    bool operator==(const NotesFileStamp &other) const;
    bool operator!=(const NotesFileStamp &other) const { return !(*this == other); }
};

NotesFileStamp stampOf(const QString &fileName);

struct LoadedNotes
{
    // The file exists but was not taken in whole: it could not be opened, ran short, held
    // a malformed string, bytes behind its rows, or rows of more than four strings.
    // Saving over it would lose them.
    bool incomplete = false;
    // The file as it was when it was read, taken from the file opened, before reading.
    NotesFileStamp stamp;
    // Where the file is missing or empty: the file read instead, the newest that a save
    // left whole under its temporary name ("notes.dat.XXXXXX") but never renamed. On FAT
    // and exFAT a power cut during the rename can leave the old name gone, or empty once
    // the volume is repaired, and the new one not made.
    QString unfinishedSave;
};

// Reads the file, handing each row to `take` as soon as it is read, in file order. Where
// the file is missing or empty, reads the newest whole file an unfinished save left instead.
LoadedNotes loadNotesFile(const QString &fileName, const std::function<void(QStringList &&)> &take);

// The functions below put the system's reason for a failure into `error` when given one.

// Whether the file could be opened for writing where it is (true when it does not exist).
// A read-only or locked notes file is left as it is.
bool notesFileWritable(const QString &fileName, QString *error = nullptr);

// Copies the file's bytes, owner-only, to "<fileName>.bak-yyyyMMdd-HHmmss", adding "-1",
// "-2" ... rather than ever replacing an earlier backup. False if the copy was not made
// in full; a half-written copy is removed. `kept`, when given, is told the copy's name.
bool keepBackupOf(const QString &fileName, const QDateTime &when, QString *error = nullptr,
                  QString *kept = nullptr);

// Replaces the file with `rows` atomically: a temporary file in the same directory is
// written, flushed to disk and renamed over the old one, so a failure at any point leaves
// the previous file whole. A new file is readable by its owner only; an existing one
// keeps its permissions. Where the folder takes no new file, the file is written in place
// only if `inPlace` allows it.
// `beforeReplace`, if given, is told the new file's stamp before it takes the old one's
// place; where it returns false, the old file stays and the save fails.
bool saveNotesFile(const QString &fileName, const QList<QStringList> &rows,
                   QString *error = nullptr, bool inPlace = false,
                   const std::function<bool(const NotesFileStamp &)> &beforeReplace = {});

// The user's own data folder for Quillora: ~/.local/share/Tolvane/Quillora on Linux,
// %LOCALAPPDATA%\Tolvane\Quillora on Windows.
QString rescueDirectory();

// Writes `rows` in the notes-file format to a new, owner-only file
// "notes-rescued-yyyyMMdd-HHmmss.dat" in rescueDirectory(), never replacing an earlier
// one, and flushes it to disk. Returns its full path, or an empty string if no complete
// copy could be written.
QString rescueNotes(const QList<QStringList> &rows, const QDateTime &when,
                    QString *error = nullptr);
