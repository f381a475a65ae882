// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QStringList>

#include <functional>

class QDataStream;

// "notes.dat" is a QDataStream (version 12, big-endian) of a row count, then per row a
// string count and the strings. No header, no magic.

QDataStream &writeNoteRows(QDataStream &stream, const QList<QStringList> &rows);

// Replaces `rows` with the rows read from the stream's device. Never fails as a whole: a
// short or damaged file yields what it holds, and no count or length in the data can make
// the reader allocate more than the remaining bytes justify.
QDataStream &readNoteRows(QDataStream &stream, QList<QStringList> &rows);

// Whether a read took in every byte: all counts met, no malformed string, nothing left
// over. A file that was not read whole loses data when it is saved over.
enum class NotesReadResult
{
    Whole,
    Partial
};

NotesReadResult readNoteRowsChecked(QDataStream &stream, QList<QStringList> &rows);

// The same, handing each row to `take` as soon as it is read, in file order.
NotesReadResult readNoteRowsChecked(QDataStream &stream,
                                    const std::function<void(QStringList &&)> &take);
