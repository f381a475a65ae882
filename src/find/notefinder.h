// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "find/notematcher.h"

#include <QObject>
#include <QTimer>

#include <vector>

class QModelIndex;
class QTreeWidget;

// Finds the notes of the list that match a query: a scan of every note's title and text,
// from a given row to the end and then from the top, in slices of a few milliseconds on
// the window's thread, so that typing never waits for it. A new query or the end of finding
// stops it. While finding is active, the list's changes keep the matches true without a
// new scan: a note added or edited is looked at alone, a deleted one leaves the matches.
class NoteFinder : public QObject
{
    Q_OBJECT

public:
    explicit NoteFinder(QTreeWidget *tree, QObject *parent = nullptr);

    // Starts finding `query`, from the row `from` on. An empty query ends finding.
    void find(const QString &query, int from);
    void stop();

    bool isActive() const { return !words.isEmpty(); }
    // Whether rows are still to be looked at: the count may still grow.
    bool isScanning() const { return slice.isActive(); }
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
    void step();
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
    // added since are looked at as they come. `next` is the row it looks at next.
    int start = 0;
    int end = 0;
    int next = 0;
    bool wrapped = false;
    bool firstSent = false;
};
