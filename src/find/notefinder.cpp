// SPDX-License-Identifier: GPL-3.0-or-later
#include "notefinder.h"

#include "mainwindow/noterow.h"

#include <QElapsedTimer>
#include <QTreeWidget>

#include <algorithm>

namespace {

// How long one slice of the scan may hold the window's thread.
constexpr qint64 SliceNs = 5'000'000;

} // namespace

NoteFinder::NoteFinder(QTreeWidget *tree, QObject *parent) : QObject(parent), tree(tree)
{
    slice.setInterval(0);
    connect(&slice, &QTimer::timeout, this, &NoteFinder::step);
    const QAbstractItemModel *model = tree->model();
    connect(model, &QAbstractItemModel::rowsInserted, this, &NoteFinder::rowsInserted);
    connect(model, &QAbstractItemModel::rowsRemoved, this, &NoteFinder::rowsRemoved);
    connect(model, &QAbstractItemModel::dataChanged, this, &NoteFinder::dataChanged);
    connect(model, &QAbstractItemModel::modelReset, this, &NoteFinder::listReset);
}

void NoteFinder::find(const QString &query, int from)
{
    text = query;
    words = NoteQuery(query);
    found.clear();
    end = tree->topLevelItemCount();
    start = end > 0 ? std::clamp(from, 0, end - 1) : 0;
    next = start;
    wrapped = false;
    firstSent = false;
    if (isActive())
        slice.start();
    else
        slice.stop();
    emit changed();
}

void NoteFinder::stop()
{
    find(QString(), 0);
}

bool NoteFinder::isMatch(int row) const
{
    return std::binary_search(found.begin(), found.end(), row);
}

int NoteFinder::nextMatch(int row, bool forward) const
{
    if (found.empty())
        return -1;
    if (forward) {
        const auto after = std::upper_bound(found.begin(), found.end(), row);
        return after == found.end() ? found.front() : *after;
    }
    const auto before = std::lower_bound(found.begin(), found.end(), row);
    return before == found.begin() ? found.back() : *(before - 1);
}

void NoteFinder::step()
{
    QElapsedTimer timer;
    timer.start();
    const int before = int(found.size());
    int firstRow = -1;
    while (timer.nsecsElapsed() < SliceNs) {
        if (!wrapped && next >= end) {
            wrapped = true;
            next = 0;
        }
        if (wrapped && next >= start) {
            slice.stop();
            break;
        }
        // Checked a few rows at a time: a clock costs more than a short note.
        for (const int last = std::min(next + 16, wrapped ? start : end); next < last; ++next) {
            if (rowMatches(next)) {
                setMatch(next, true);
                if (firstRow < 0)
                    firstRow = next;
            }
        }
    }
    if (!firstSent && (firstRow >= 0 || !slice.isActive())) {
        firstSent = true;
        emit firstFound(firstRow);
    }
    if (int(found.size()) != before || !slice.isActive())
        emit changed();
}

bool NoteFinder::looked(int row) const
{
    if (row >= end)
        return true;
    if (!wrapped)
        return row >= start && row < next;
    return row >= start || row < next;
}

bool NoteFinder::rowMatches(int row) const
{
    const QTreeWidgetItem *note = tree->topLevelItem(row);
    return note && words.matches(note->text(ColumnTitle), note->text(ColumnBody));
}

void NoteFinder::setMatch(int row, bool matches)
{
    const auto at = std::lower_bound(found.begin(), found.end(), row);
    const bool there = at != found.end() && *at == row;
    if (matches && !there)
        found.insert(at, row);
    else if (!matches && there)
        found.erase(at);
}

void NoteFinder::rowsInserted(const QModelIndex &parent, int first, int last)
{
    if (!isActive() || parent.isValid())
        return;
    // Notes are added at the end. A row put anywhere else starts the scan again.
    if (first < end) {
        find(text, start);
        return;
    }
    for (int row = first; row <= last; ++row)
        setMatch(row, rowMatches(row));
    emit changed();
}

void NoteFinder::rowsRemoved(const QModelIndex &parent, int first, int last)
{
    if (!isActive() || parent.isValid())
        return;
    const int count = last - first + 1;
    const auto shifted = [first, last, count](int bound) {
        return bound > last ? bound - count : std::min(bound, first);
    };
    start = shifted(start);
    end = shifted(end);
    next = shifted(next);
    found.erase(std::lower_bound(found.begin(), found.end(), first),
                std::upper_bound(found.begin(), found.end(), last));
    for (int &row : found) {
        if (row > last)
            row -= count;
    }
    emit changed();
}

void NoteFinder::dataChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight)
{
    if (!isActive() || topLeft.parent().isValid())
        return;
    bool any = false;
    for (int row = topLeft.row(); row <= bottomRight.row(); ++row) {
        // A row the scan has not reached yet is looked at when it comes.
        if (looked(row)) {
            setMatch(row, rowMatches(row));
            any = true;
        }
    }
    if (any)
        emit changed();
}

void NoteFinder::listReset()
{
    if (!isActive())
        return;
    found.clear();
    start = end = next = 0;
    wrapped = true;
    slice.stop();
    emit changed();
}
