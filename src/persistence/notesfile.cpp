// SPDX-License-Identifier: GPL-3.0-or-later
#include "notesfile.h"

#include <QDataStream>
#include <QIODevice>
#include <QtEndian>

namespace {

// Encodes into a buffer of its own and hands it to the stream a mebibyte at a time: the
// same bytes as the stream's own writers at version 12 (a null string is the marker
// 0xFFFFFFFF), without a device call for every field, and without a second copy of a
// large file in memory.
class ChunkWriter
{
public:
    // `total` is the size of everything to be written; a small file gets a small buffer.
    ChunkWriter(QDataStream &stream, qsizetype total)
        : stream(stream), bigEndian(stream.byteOrder() == QDataStream::BigEndian),
          capacity(qBound<qsizetype>(4, total, MaxCapacity)), buffer(capacity, Qt::Uninitialized)
    {
    }
    ~ChunkWriter() { flush(); }

    void writeCount(quint32 value)
    {
        reserve(4);
        if (bigEndian)
            qToBigEndian(value, buffer.data() + used);
        else
            qToLittleEndian(value, buffer.data() + used);
        used += 4;
    }

    void writeString(const QString &text)
    {
        if (text.isNull()) {
            writeCount(0xFFFFFFFFu);
            return;
        }
        writeCount(quint32(text.size()) * 2);
        const char16_t *units = reinterpret_cast<const char16_t *>(text.constData());
        qsizetype left = text.size();
        while (left > 0) {
            reserve(2);
            const qsizetype step = qMin(left, (capacity - used) / 2);
            if (bigEndian)
                qToBigEndian<char16_t>(units, step, buffer.data() + used);
            else
                qToLittleEndian<char16_t>(units, step, buffer.data() + used);
            used += step * 2;
            units += step;
            left -= step;
        }
    }

private:
    static constexpr qsizetype MaxCapacity = 1 << 20;

    void reserve(qsizetype bytes)
    {
        if (capacity - used < bytes)
            flush();
    }

    void flush()
    {
        if (used > 0)
            stream.writeRawData(buffer.constData(), int(used));
        used = 0;
    }

    QDataStream &stream;
    bool bigEndian;
    qsizetype capacity;
    QByteArray buffer;
    qsizetype used = 0;
};

qsizetype encodedSize(const QList<QStringList> &rows)
{
    qsizetype size = 4;
    for (const QStringList &row : rows) {
        size += 4;
        for (const QString &text : row)
            size += 4 + 2 * text.size();
    }
    return size;
}

} // namespace

QDataStream &writeNoteRows(QDataStream &stream, const QList<QStringList> &rows)
{
    ChunkWriter writer(stream, encodedSize(rows));
    writer.writeCount(quint32(rows.size()));
    for (const QStringList &row : rows) {
        writer.writeCount(quint32(row.size()));
        for (const QString &text : row)
            writer.writeString(text);
    }
    return stream;
}

namespace {

// Reads the layout straight from the bytes of the file. The stream's own readers are not
// used: its string reader allocates up to a mebibyte per string before it knows whether
// the bytes exist, and it cannot tell the caller how much of the data it consumed.
class RowReader
{
public:
    RowReader(const QByteArray &data, QDataStream::ByteOrder order)
        : data(data.constData()), size(data.size()), bigEndian(order == QDataStream::BigEndian)
    {
    }

    bool atEnd() const { return pos >= size; }
    qsizetype consumed() const { return pos; }
    bool malformed() const { return sawMalformed; }
    bool ranShort() const { return sawShort; }

    // A field cut short reads as 0 and leaves the reader at the end of the data.
    quint32 readCount()
    {
        if (size - pos < 4) {
            pos = size;
            sawShort = true;
            return 0;
        }
        const quint32 value = bigEndian ? qFromBigEndian<quint32>(data + pos)
                                        : qFromLittleEndian<quint32>(data + pos);
        pos += 4;
        return value;
    }

    // Room is reserved for at most as many items as the rest of the data could hold at
    // four bytes each, so a huge count in a small file costs nothing.
    qsizetype reservable(quint32 count) const { return qMin<qsizetype>(count, (size - pos) / 4); }

    QString readString()
    {
        const quint32 length = readCount();
        if (length == 0xFFFFFFFFu)
            return QString();
        if (length == 0)
            return QString(QLatin1String(""));
        if (length & 1u) {
            // No writer makes an odd length. Like the toolkit's reader, give a null string
            // and leave the bytes where they are.
            sawMalformed = true;
            return QString();
        }
        if (length > quint64(size - pos)) {
            pos = size;
            sawShort = true;
            return QString();
        }
        const qsizetype units = length / 2;
        QString text(units, Qt::Uninitialized);
        if (bigEndian)
            qFromBigEndian<char16_t>(data + pos, units, text.data());
        else
            qFromLittleEndian<char16_t>(data + pos, units, text.data());
        pos += length;
        return text;
    }

private:
    const char *data;
    qsizetype size;
    qsizetype pos = 0;
    bool bigEndian;
    bool sawMalformed = false;
    bool sawShort = false;
};

} // namespace

NotesReadResult readNoteRowsChecked(QDataStream &stream, QList<QStringList> &rows)
{
    rows.clear();
    QIODevice *device = stream.device();
    if (!device)
        return NotesReadResult::Whole;

    // One read of everything that is left: the file's size bounds what is allocated.
    const qint64 start = device->pos();
    const QByteArray data = device->readAll();
    RowReader reader(data, stream.byteOrder());

    bool countsMet = true;
    const quint32 rowCount = reader.readCount();
    rows.reserve(reader.reservable(rowCount));
    for (quint32 i = 0; i < rowCount; ++i) {
        QStringList row;
        const quint32 stringCount = reader.readCount();
        row.reserve(reader.reservable(stringCount));
        for (quint32 j = 0; j < stringCount; ++j) {
            row.append(reader.readString());
            if (reader.atEnd()) {
                countsMet = countsMet && j + 1 == stringCount;
                break;
            }
        }
        rows.append(std::move(row));
        if (reader.atEnd()) {
            countsMet = countsMet && i + 1 == rowCount;
            break;
        }
    }
    // Leave the device just behind the rows, as a stream reader would.
    if (!device->isSequential() && reader.consumed() < data.size())
        device->seek(start + reader.consumed());

    // An empty file holds nothing that a save could lose.
    const bool whole = data.isEmpty() || (countsMet && !reader.ranShort() && !reader.malformed() &&
                                          reader.consumed() == data.size());
    return whole ? NotesReadResult::Whole : NotesReadResult::Partial;
}

QDataStream &readNoteRows(QDataStream &stream, QList<QStringList> &rows)
{
    readNoteRowsChecked(stream, rows);
    return stream;
}
