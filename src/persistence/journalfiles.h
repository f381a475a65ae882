// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

struct sqlite3;

// Where the session journals of a notes file are, and what every connection to one is set
// to: shared by the journal's writer and its recovery.

inline constexpr char JournalStem[] = ".notes.dat.journal";
// Journals of one notes file may be numbered up to this in each of their two places.
inline constexpr int MaxJournals = 100;

inline QString walOf(const QString &journal)
{
    return journal + QLatin1String("-wal");
}

// "<stem>", "<stem>-1", "<stem>-2" ...
QString numbered(const QString &stem, int number);

// The notes file's one name, however its folder was reached (canonicalFolder()).
QString notesFileIdentity(const QString &notesFile);

// The folder of rescued notes keeps the journal of a notes file whose own folder cannot
// take it, under a name made from the notes file's identity; journals made before were
// named after its full path as given (`canonical` false).
QString fallbackStem(const QString &notesFile, bool canonical = true);

// Before a connection reads anything: defensive, no extensions, triggers or views taken
// from the file, no checkpoint on close, and the exclusive lock, so that WAL needs no
// shared memory.
bool harden(sqlite3 *db);
// Then WAL, with every commit synced.
bool configure(sqlite3 *db);

// Removes the journal and then its -wal, whose database would otherwise take it in as its
// own, and syncs their folder. `db`, the connection that holds the journal's lock, is
// closed, after the files are gone where the system lets an open file be removed.
void removeJournal(sqlite3 *&db, const QString &journal);
