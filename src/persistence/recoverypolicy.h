// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>

// Every rule of what becomes of a session journal, as pure decisions: the start-up's in
// three steps (before reading, after reading, once the rescue file is written), and the
// one of leaving. journalrecovery.cpp and restoresave.cpp carry them out and decide nothing.
//
// Before reading, in this order:
//  - a journal that a running Quillora holds, or that another user owns, is left alone, and
//    so is one set aside by an earlier start; one that cannot be opened for another reason
//    (an I/O error, a damaged lock) is left alone too, and named in the box;
//  - a file that is no database is set aside;
//  - a journal that is damaged, or whose session cannot be read, is set aside, and what can
//    be read of it is rescued: it is never deleted;
//  - one that holds nothing (killed before its first change) is discarded, unless it was
//    just made (another Quillora may be about to lock it), and so is one whose session's
//    save reached the disk;
//  - of those that belong to the notes.dat read (made from it, or holding the whole list),
//    the one changed last is replayed; every other one is rescued, then discarded. A whole
//    list is replayed over a notes.dat that is not the one its session began with (another
//    writer's, or its own write in place cut short) only once that file is kept as a backup.
// After reading: a journal whose replay fails is set aside, as a damaged one is, and so is
// one whose notes could not all be read for the rescue; one whose replay needed a backup
// that could not be made is rescued.
struct JournalFacts
{
    enum class Opened
    {
        Held,       // a running Quillora holds it
        OtherOwner, // another user owns it
        Unopenable, // it cannot be opened or locked, for a reason other than those
        NotJournal, // it is no database
        Open
    };
    Opened opened = Opened::Open;
    bool intact = true;      // passes SQLite's quick check
    bool readable = true;    // its session could be read without an error
    bool empty = false;      // it holds no session: no change was ever committed
    bool justMade = false;   // empty, and made a moment ago
    bool setAside = false;   // marked by an earlier start
    bool savedEqual = false; // its session's save is the notes.dat read
    bool baseEqual = false;  // its session began with the notes.dat read
    bool listKept = false;   // it holds the whole list
    bool fileThere = false;  // a notes.dat was read
    qint64 lastChange = 0;
};

enum class JournalAction
{
    Skip,
    Replay,
    Rescue,
    SetAside,
    Discard
};

// One action for each journal, in the order given. Of two changed in the same millisecond,
// the one given later, a journal with a higher number, counts as the later one.
QList<JournalAction> decideRecovery(const QList<JournalFacts> &journals);

// Whether notes.dat is kept as a backup before the journal is replayed over it.
bool replayKeepsFileFirst(const JournalFacts &facts);

// What reading a journal for its action gave.
struct JournalReading
{
    bool fileKept = false;  // notes.dat kept as a backup, where the replay needs it
    bool replayed = false;  // its changes applied to the list, and its drafts read
    bool rowsRead = false;  // its notes read for the rescue file
    bool rowsWhole = false; // ... every one of them
};

// The action once the journal is read.
JournalAction afterReading(JournalAction planned, const JournalFacts &facts,
                           const JournalReading &reading);

// Whether the box names a journal that was left alone.
bool namedUnopened(JournalAction action, const JournalFacts &facts);

// Whether the notes of a journal go into the rescue file.
bool rescuesRows(JournalAction action, const JournalFacts &facts);

// What is done with a journal once the rescue file is written, or was not needed
// (`rescued`). `copy`: read from a copy in the folder of rescued notes, the journal itself
// being in a folder that cannot be written.
struct JournalEnding
{
    bool discard = false;     // its files removed
    bool markHandled = false; // the original marked as dealt with, for the starts after
};
JournalEnding journalEnding(JournalAction action, bool copy, bool rescued);

// At leaving: the journal is removed once what it holds is safe without it. Where the
// removal could reach the disk before the save's rename, it is left for the next start,
// whose saved stamp discards it. Otherwise it stays, for the next start to recover.
struct Leaving
{
    bool saved = false;      // notes.dat holds the list, on disk
    bool ordered = true;     // notes.dat's folder keeps its rename before a later removal
    bool rescued = false;    // the list is in a rescue file
    bool changed = false;    // the list changed since notes.dat was read
    bool listEmpty = false;  // the list holds no note
    bool fileAsRead = false; // notes.dat is still the file read, whole after the save tried
};
enum class JournalAtLeaving
{
    Remove,
    Close, // obsolete, its files left for the next start
    Keep   // it holds what is nowhere else
};
JournalAtLeaving journalAtLeaving(const Leaving &leaving);
