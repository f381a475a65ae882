// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <utility>

// What finding compares: text with its case folded (Unicode's simple folding, so "Straße"
// and "STRASSE" stay apart but "Σ", "σ" and "ς" do not) and its accents and other combining
// marks dropped, whether an accented letter is one code point or a letter and a mark.
// Text beyond the Basic Multilingual Plane is compared as it is. No I/O, no widgets: safe on
// any thread.

// The text folded.
QString foldForFinding(QStringView text);

// A query: its words, split at blanks, each folded. A note matches when every word occurs
// in its title or in its text, as part of a word or more.
class NoteQuery
{
public:
    NoteQuery() = default;
    explicit NoteQuery(QStringView query);

    bool isEmpty() const { return words.isEmpty(); }
    bool matches(QStringView title, QStringView text) const;
    // Where the words occur in `text`, as [start, end) of its code units, in order and not
    // overlapping; the marks after a match's last letter are part of it.
    QList<std::pair<qsizetype, qsizetype>> occurrences(QStringView text) const;

private:
    QStringList words;
};
