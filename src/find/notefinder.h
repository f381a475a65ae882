// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "find/notematcher.h"

#include <QObject>
#include <QThreadPool>
#include <QTimer>

#include <deque>
#include <vector>

class QModelIndex;
class QTreeWidget;

// Finds the notes of the list that match a query: every note's title and text is looked
// through, from a given row to the end and then from the top. The window's thread takes
// shallow copies of the notes' strings a few thousand rows at a time, in slices of a few
// milliseconds, and worker threads match them; their results come back in list order, and
// a result of an older query or of the list as it was before a change is dropped. A new
// query or the end of finding stops it. While finding is active, the list's changes keep
// the matches true without a new scan: a note added or edited is looked at alone, a
// deleted one leaves the matches.
class NoteFinder : public QObject
{
    Q_OBJECT

public:
    explicit NoteFinder(QTreeWidget *tree, QObject *parent = nullptr);
    ~NoteFinder() override;

    // Starts finding `query`, from the row `from` on. An empty query ends finding.
    void find(const QString &query, int from);
    void stop();

    bool isActive() const { return !words.isEmpty(); }
    // Whether notes are still to be looked at: the count may still grow.
    bool isScanning() const { return slice.isActive() || !flights.empty(); }
    const NoteQuery &query() const { return words; }
    // The rows that match, in order.
    const std::vector<int> &matches() const { return found; }
    bool isMatch(int row) const;
    // The matching row after `row` (or before it), wrapping; -1 where none matches.
    int nextMatch(int row, bool forward) const;

signals:
    // The first row found at or after the one finding started from, wrapping; -1 where the
    // scan ended with none.
    void firstFound(int row);
    // The matches, or whether the scan goes on, changed.
    void changed();

private:
    // Rows handed to a worker: [first, first + count), and the offsets of those that
    // matched, once it is done.
    struct Flight
    {
        int first = 0;
        int count = 0;
        bool done = false;
        std::vector<int> matched;
    };

    void step();
    void landed(int generation, int first, std::vector<int> matched);
    void finishIfDone();
    void dropFlights();
    bool looked(int row) const;
    bool rowMatches(int row) const;
    void setMatch(int row, bool matches);
    void rowsInserted(const QModelIndex &parent, int first, int last);
    void rowsRemoved(const QModelIndex &parent, int first, int last);
    void dataChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight);
    void listReset();

    QTreeWidget *tree;
    QString text;
    NoteQuery words;
    std::vector<int> found;
    QTimer slice;
    // The scan looks at [start, end), then [0, start): the rows there when it began. Rows
    // added since are looked at as they come. Rows before `looking` (in that order) have
    // their results in `found`; those from there to `next` are with the workers.
    int start = 0;
    int end = 0;
    int looking = 0;
    int next = 0;
    bool wrapped = false;
    bool lookingWrapped = false;
    bool firstSent = false;
    // Results of another generation (an older query, or the list before a change) are
    // dropped.
    int generation = 0;
    std::deque<Flight> flights;
    QThreadPool workers;
};
