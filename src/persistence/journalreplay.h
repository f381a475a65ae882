// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QStringList>

#include <vector>

// One change to the list, as the session journal records it.
enum class JournalChange
{
    Insert = 0,
    Replace = 1,
    Remove = 2,
    RemoveAll = 3
};

// The list a replay ends with, in order: each entry is the index of a row of notes.dat as
// it was read (0 or more), or, below 0, the journal's row rows[-1 - entry]. Four bytes an
// entry: a replay over a long list makes no copy of it.
struct ReplayedList
{
    std::vector<int> order;
    std::vector<QStringList> rows;

    static bool isFileRow(int entry) { return entry >= 0; }
    static int journalEntry(size_t row) { return -1 - int(row); }
    static size_t journalRow(int entry) { return size_t(-1 - qint64(entry)); }
    const QStringList &rowOf(int entry) const { return rows[journalRow(entry)]; }
};

// A crashed session's changes replayed, in the order they were made, onto the list it
// began with: the rows of notes.dat, or the whole list the journal kept. Finding the row at
// a position and removing it each cost log n, so that a journal of many deletes over a long
// list is replayed in one pass. No I/O: the rows and changes are handed in.
class JournalReplay
{
public:
    // The list begins as the first `fileRows` rows of notes.dat, or as `kept`, the whole
    // list the journal kept; the changes to come add at most `inserts` rows.
    JournalReplay(int fileRows, qint64 inserts);
    JournalReplay(std::vector<QStringList> &&kept, qint64 inserts);

    // False where the list would be too long to replay.
    bool fits() const { return capacity >= 0; }
    // Applies one change at `position` (a new row's position, or that of the row replaced
    // or removed). False on a change that cannot have been made to this list: the replay
    // cannot be trusted then.
    bool apply(JournalChange change, qint64 position, QStringList &&row = {});
    int applied() const { return changes; }
    // The list as it stands after the changes applied.
    ReplayedList takeList();

private:
    void begin(size_t start, qint64 inserts);
    int live() const { return prefix(count) - prefix(clearedBelow); }
    int slotAt(int position) const;
    void add();
    void removeAt(int slot);
    int prefix(int index) const;

    // Every row that was ever in the list, by slot, as the entries of ReplayedList.
    std::vector<int> table;
    std::vector<QStringList> rows;
    std::vector<bool> removed;
    // A Fenwick tree over every row that was ever in the list, counting those still there.
    std::vector<int> tree;
    int highestBit = 1;
    qint64 capacity = -1;
    int count = 0;
    // Rows below this slot went in a Delete All.
    int clearedBelow = 0;
    int changes = 0;
};
