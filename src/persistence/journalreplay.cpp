// SPDX-License-Identifier: GPL-3.0-or-later
#include "journalreplay.h"

#include <climits>

JournalReplay::JournalReplay(std::vector<JournalEntry> &&start, qint64 inserts)
    : table(std::move(start))
{
    if (inserts < 0 || inserts > INT_MAX / 2 || qint64(table.size()) > INT_MAX / 2 - inserts)
        return;
    capacity = qint64(table.size()) + inserts;
    tree.assign(size_t(capacity) + 1, 0);
    removed.assign(size_t(capacity), false);
    while (highestBit * 2 < int(tree.size()))
        highestBit *= 2;
    for (size_t i = 0; i < table.size(); ++i)
        add();
}

std::vector<JournalEntry> JournalReplay::fileRows(int count)
{
    std::vector<JournalEntry> rows;
    rows.reserve(size_t(qMax(0, count)));
    for (int i = 0; i < count; ++i)
        rows.push_back({i, QStringList()});
    return rows;
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
        table.push_back({-1, std::move(row)});
        add();
        break;
    case JournalChange::Replace:
        if (slot < 0)
            return false;
        table[size_t(slot)] = {-1, std::move(row)};
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

QList<JournalEntry> JournalReplay::takeList()
{
    QList<JournalEntry> entries;
    if (!fits())
        return entries;
    entries.reserve(live());
    for (int slot = clearedBelow; slot < count; ++slot) {
        if (!removed[size_t(slot)])
            entries.append(std::move(table[size_t(slot)]));
    }
    return entries;
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
