// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>

// What the start-up does with each session journal it finds, decided from what is known of
// them, before any of it is done. The rules, in this order:
//  - a journal that a running Quillora holds, or that cannot be opened at all (another
//    user's file, say), is left alone; so is one set aside by an earlier start;
//  - a file that is no database is set aside;
//  - a journal that is damaged, or whose session cannot be read, is set aside, and what can
//    be read of it is rescued: it is never deleted;
//  - one that holds nothing (killed before its first change) is discarded, and so is one
//    whose session's save reached the disk;
//  - of those that belong to the notes.dat read (made from it, or holding the whole list),
//    the one changed last is replayed; every other one is rescued, then discarded.
// A journal whose replay then fails is set aside, as a damaged one is.
struct JournalFacts
{
    enum class Opened
    {
        Held,       // a running Quillora holds it
        Unopenable, // it cannot be opened or locked, for a reason other than a hold
        NotJournal, // it is no database
        Open
    };
    Opened opened = Opened::Open;
    bool intact = true;      // passes SQLite's quick check
    bool readable = true;    // its session could be read without an error
    bool empty = false;      // it holds no session: no change was ever committed
    bool setAside = false;   // marked by an earlier start
    bool savedEqual = false; // its session's save is the notes.dat read
    bool baseEqual = false;  // its session began with the notes.dat read
    bool listKept = false;   // it holds the whole list
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
