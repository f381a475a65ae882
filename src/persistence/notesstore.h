#pragma once

#include <QList>
#include <QStringList>

class QDateTime;
class QString;

// The notes file, relative to the working directory at the moment it is used.
inline constexpr char NotesFileName[] = "notes.dat";

struct LoadedNotes
{
    QList<QStringList> rows;
    // The file exists but was not taken in whole: it could not be opened, ran short, held
    // a malformed string, bytes behind its rows, or rows of more than four strings.
    // Saving over it would lose them.
    bool incomplete = false;
};

LoadedNotes loadNotesFile(const QString &fileName);

// Whether the file could be opened for writing where it is (true when it does not exist).
// A read-only or locked notes file is left as it is.
bool notesFileWritable(const QString &fileName);

// Copies the file's bytes, owner-only, to "<fileName>.bak-yyyyMMdd-HHmmss", adding "-1",
// "-2" ... rather than ever replacing an earlier backup. False if the copy was not made
// in full; a half-written copy is removed.
bool keepBackupOf(const QString &fileName, const QDateTime &when);

// Replaces the file with `rows` atomically: a temporary file in the same directory is
// written, flushed to disk and renamed over the old one, so a failure at any point leaves
// the previous file whole. A new file is readable by its owner only; an existing one
// keeps its permissions.
bool saveNotesFile(const QString &fileName, const QList<QStringList> &rows);
