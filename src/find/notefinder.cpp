// SPDX-License-Identifier: GPL-3.0-or-later
#include "notefinder.h"

#include "mainwindow/noterow.h"

#include <QElapsedTimer>
#include <QTreeWidget>

#include <algorithm>
#include <memory>
#include <utility>

namespace {

// How long one slice may hold the window's thread while it copies notes for the workers.
constexpr qint64 SliceNs = 4'000'000;
// Rows handed to a worker at a time: a few milliseconds of matching.
constexpr int FlightRows = 2048;

using Notes = std::vector<std::pair<QString, QString>>;

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

NoteFinder::~NoteFinder()
{
    // A worker still matching posts its result to this object: it ends first.
    ++generation;
    workers.waitForDone();
}

void NoteFinder::find(const QString &query, int from)
{
    text = query;
    words = NoteQuery(query);
    found.clear();
    ++generation;
    flights.clear();
    end = tree->topLevelItemCount();
    start = end > 0 ? std::clamp(from, 0, end - 1) : 0;
    looking = next = start;
    wrapped = lookingWrapped = false;
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
    const size_t most = size_t(std::max(2, 2 * workers.maxThreadCount()));
    while (flights.size() < most && timer.nsecsElapsed() < SliceNs) {
        if (!wrapped && next >= end) {
            wrapped = true;
            next = 0;
        }
        const int limit = wrapped ? start : end;
        if (next >= limit)
            break;
        const int count = std::min(FlightRows, limit - next);
        // Shallow copies: the workers read the strings, never the list's items.
        auto notes = std::make_shared<Notes>();
        notes->reserve(size_t(count));
        for (int row = next; row < next + count; ++row) {
            const QTreeWidgetItem *note = tree->topLevelItem(row);
            notes->emplace_back(note->text(ColumnTitle), note->text(ColumnBody));
        }
        flights.push_back({next, count, false, {}});
        workers.start([this, notes, query = words, generation = generation, first = next] {
            std::vector<int> matched;
            for (size_t i = 0; i < notes->size(); ++i) {
                if (query.matches(notes->at(i).first, notes->at(i).second))
                    matched.push_back(int(i));
            }
            QMetaObject::invokeMethod(
                this,
                [this, generation, first, matched = std::move(matched)]() mutable {
                    landed(generation, first, std::move(matched));
                },
                Qt::QueuedConnection);
        });
        next += count;
    }
    // Nothing more to copy, or enough with the workers: the next result starts it again.
    const bool copied = wrapped && next >= start;
    if (copied || flights.size() >= most)
        slice.stop();
    finishIfDone();
}

void NoteFinder::landed(int from, int first, std::vector<int> matched)
{
    if (from != generation)
        return;
    for (Flight &flight : flights) {
        if (flight.first == first && !flight.done) {
            flight.done = true;
            flight.matched = std::move(matched);
            break;
        }
    }
    // Results are taken in the order of the scan, so that the first match is the first
    // one at or after the row finding began from.
    int firstRow = -1;
    const size_t before = found.size();
    while (!flights.empty() && flights.front().done) {
        const Flight &flight = flights.front();
        // In one piece: no row of the flight was among the matches, and the rows after
        // it move once, not once a match.
        std::vector<int> rows;
        rows.reserve(flight.matched.size());
        for (const int offset : flight.matched)
            rows.push_back(flight.first + offset);
        if (firstRow < 0 && !rows.empty())
            firstRow = rows.front();
        found.insert(std::lower_bound(found.begin(), found.end(), flight.first), rows.begin(),
                     rows.end());
        looking = flight.first + flight.count;
        if (!lookingWrapped && looking >= end) {
            lookingWrapped = true;
            looking = 0;
        }
        flights.pop_front();
    }
    if (!firstSent && firstRow >= 0) {
        firstSent = true;
        emit firstFound(firstRow);
    }
    if (!(wrapped && next >= start) && !slice.isActive())
        slice.start();
    if (found.size() != before)
        emit changed();
    finishIfDone();
}

void NoteFinder::finishIfDone()
{
    if (!isActive() || isScanning())
        return;
    if (!firstSent) {
        firstSent = true;
        emit firstFound(-1);
    }
    emit changed();
}

void NoteFinder::dropFlights()
{
    if (flights.empty())
        return;
    // What the workers have is of the list as it was: it is copied again.
    ++generation;
    flights.clear();
    next = looking;
    wrapped = lookingWrapped;
    if (!slice.isActive())
        slice.start();
}

bool NoteFinder::looked(int row) const
{
    if (row >= end)
        return true;
    if (!lookingWrapped)
        return row >= start && row < looking;
    return row >= start || row < looking;
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
    // Rows that do not match change neither the count nor the marks: nothing to redraw.
    bool any = false;
    for (int row = first; row <= last; ++row) {
        const bool matches = rowMatches(row);
        setMatch(row, matches);
        any = any || matches;
    }
    if (any)
        emit changed();
}

void NoteFinder::rowsRemoved(const QModelIndex &parent, int first, int last)
{
    if (!isActive() || parent.isValid())
        return;
    dropFlights();
    const int count = last - first + 1;
    const auto shifted = [first, last, count](int bound) {
        return bound > last ? bound - count : std::min(bound, first);
    };
    start = shifted(start);
    end = shifted(end);
    looking = shifted(looking);
    next = shifted(next);
    found.erase(std::lower_bound(found.begin(), found.end(), first),
                std::upper_bound(found.begin(), found.end(), last));
    for (int &row : found) {
        if (row > last)
            row -= count;
    }
    emit changed();
    finishIfDone();
}

void NoteFinder::dataChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight)
{
    if (!isActive() || topLeft.parent().isValid())
        return;
    dropFlights();
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
    ++generation;
    flights.clear();
    found.clear();
    start = end = looking = next = 0;
    wrapped = lookingWrapped = true;
    slice.stop();
    emit changed();
    finishIfDone();
}
