// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer target for the notes-file reader. Besides crashes and sanitizer reports it
// checks two properties: no more rows or strings come out than the input's bytes could
// hold, and a file read whole is written back byte for byte.
#include "persistence/notesfile.h"

#include <QByteArray>
#include <QDataStream>
#include <QIODevice>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input =
        QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    QDataStream in(input);
    in.setVersion(QDataStream::Qt_4_6);
    QList<QStringList> rows;
    const NotesReadResult result = readNoteRowsChecked(in, rows);

    // Every row costs at least its 4-byte count, every string its 4-byte length.
    const qsizetype fields = qsizetype(size) / 4 + 1;
    if (rows.size() > fields || rows.capacity() > 2 * fields)
        std::abort();
    qsizetype strings = 0;
    for (const QStringList &row : rows) {
        if (row.capacity() > 2 * fields)
            std::abort();
        strings += row.size();
    }
    if (strings > fields)
        std::abort();

    if (result == NotesReadResult::Whole && size > 0) {
        QByteArray output;
        QDataStream out(&output, QIODevice::WriteOnly);
        out.setVersion(QDataStream::Qt_4_6);
        writeNoteRows(out, rows);
        if (output != input)
            std::abort();
    }
    return 0;
}
