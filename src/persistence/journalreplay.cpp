// SPDX-License-Identifier: GPL-3.0-or-later
#include "journalreplay.h"

#include <climits>

JournalReplay::JournalReplay(int fileRows, qint64 inserts)
{
    begin(size_t(qMax(0, fileRows)), inserts);
    if (!fits())
        return;
    for (int row = 0; row < fileRows; ++row)
        table.push_back(row);
}

JournalReplay::JournalReplay(std::vector<QStringList> &&kept, qint64 inserts)
{
    begin(kept.size(), inserts);
    if (!fits())
        return;
    rows = std::move(kept);
    for (size_t row = 0; row < rows.size(); ++row)
        table.push_back(ReplayedList::journalEntry(row));
}

void JournalReplay::begin(size_t start, qint64 inserts)
{
    if (inserts < 0 || inserts > INT_MAX / 2 || start > size_t(INT_MAX / 2 - inserts))
        return;
    capacity = qint64(start) + inserts;
    table.reserve(size_t(capacity));
    removed.assign(size_t(capacity), false);
    // Every slot of the start counts one, in one pass: node i counts the slots
    // i - lowest bit of i + 1 to i.
    tree.resize(size_t(capacity) + 1);
    for (qint64 i = 1; i <= capacity; ++i) {
        const qint64 first = i - (i & -i) + 1;
        tree[size_t(i)] = int(qMax<qint64>(0, qMin<qint64>(i, qint64(start)) - first + 1));
    }
    count = int(start);
    while (highestBit * 2 < int(tree.size()))
        highestBit *= 2;
}

bool JournalReplay::apply(JournalChange change, qint64 position, QStringList &&row)
{
    if (!fits() || position < -1 || position > INT_MAX)
        return false;
    const int slot = slotAt(int(position));
    switch (change) {
    case JournalChange::Insert:
        // Rows are only ever added at the end of the list.
        if (position != live() || count >= capacity)
            return false;
        table.push_back(ReplayedList::journalEntry(rows.size()));
        rows.push_back(std::move(row));
        add();
        break;
    case JournalChange::Replace:
        if (slot < 0)
            return false;
        // A row of the journal's own is replaced where it is stored.
        if (!ReplayedList::isFileRow(table[size_t(slot)])) {
            rows[ReplayedList::journalRow(table[size_t(slot)])] = std::move(row);
        } else {
            table[size_t(slot)] = ReplayedList::journalEntry(rows.size());
            rows.push_back(std::move(row));
        }
        break;
    case JournalChange::Remove:
        if (slot < 0)
            return false;
        removeAt(slot);
        removed[size_t(slot)] = true;
        break;
    case JournalChange::RemoveAll:
        // Every row so far is gone; the tree keeps counting them, positions skip them.
        clearedBelow = count;
        break;
    default:
        return false;
    }
    ++changes;
    return true;
}

ReplayedList JournalReplay::takeList()
{
    ReplayedList list;
    if (!fits())
        return list;
    // Kept in place: the live slots close up towards the front.
    size_t kept = 0;
    for (int slot = clearedBelow; slot < count; ++slot) {
        if (!removed[size_t(slot)])
            table[kept++] = table[size_t(slot)];
    }
    table.resize(kept);
    list.order = std::move(table);
    list.rows = std::move(rows);
    return list;
}

// The slot of the row at `position` among those live; -1 beyond the list.
int JournalReplay::slotAt(int position) const
{
    if (position < 0 || position >= live())
        return -1;
    int wanted = position + 1 + prefix(clearedBelow);
    int index = 0;
    for (int step = highestBit; step > 0; step >>= 1) {
        if (index + step < int(tree.size()) && tree[size_t(index + step)] < wanted) {
            index += step;
            wanted -= tree[size_t(index)];
        }
    }
    return index;
}

void JournalReplay::add()
{
    const int index = ++count;
    for (int i = index; i < int(tree.size()); i += i & -i)
        ++tree[size_t(i)];
}

void JournalReplay::removeAt(int slot)
{
    for (int i = slot + 1; i < int(tree.size()); i += i & -i)
        --tree[size_t(i)];
}

int JournalReplay::prefix(int index) const
{
    int sum = 0;
    for (int i = index; i > 0; i -= i & -i)
        sum += tree[size_t(i)];
    return sum;
}
