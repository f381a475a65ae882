// SPDX-License-Identifier: GPL-3.0-or-later
#include "notesfile.h"

#include <QDataStream>
#include <QIODevice>
#include <QtEndian>

#include <cstring>

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

// Reads the layout straight from the device, in chunks of a bounded buffer. The stream's
// own readers are not used: its string reader allocates up to a mebibyte per string before
// it knows whether the bytes exist, and it cannot tell the caller how much of the data it
// consumed. A sequential device, whose size is not known beforehand, is read whole.
class RowReader
{
public:
    RowReader(QIODevice *device, QDataStream::ByteOrder order)
        : device(device), bigEndian(order == QDataStream::BigEndian)
    {
        if (device->isSequential()) {
            buffer = device->readAll();
            end = fetched = buffer.size();
        } else {
            left = qMax<qint64>(0, device->size() - device->pos());
            buffer.resize(qsizetype(qMin<qint64>(left, Chunk)));
        }
    }

    bool atEnd() const { return remaining() == 0; }
    qint64 consumed() const { return fetched - (end - pos); }
    bool malformed() const { return sawMalformed; }
    bool ranShort() const { return sawShort; }

    // A field cut short reads as 0 and leaves the reader at the end of the data.
    quint32 readCount()
    {
        if (end - pos < 4)
            refill();
        if (end - pos < 4) {
            pos = end;
            sawShort = true;
            return 0;
        }
        const char *field = buffer.constData() + pos;
        pos += 4;
        return bigEndian ? qFromBigEndian<quint32>(field) : qFromLittleEndian<quint32>(field);
    }

    // Room is reserved for at most as many items as the rest of the data could hold at
    // four bytes each, so a huge count in a small file costs nothing.
    qsizetype reservable(quint32 count) const
    {
        return qsizetype(qMin<qint64>(count, remaining() / 4));
    }

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
        // The string is allocated only once the data is known to hold it.
        if (length > remaining()) {
            skipToEnd();
            sawShort = true;
            return QString();
        }
        QString text(length / 2, Qt::Uninitialized);
        char16_t *to = reinterpret_cast<char16_t *>(text.data());
        for (qint64 units = length / 2; units > 0;) {
            if (end - pos < 2)
                refill();
            const qint64 step = qMin(units, (end - pos) / 2);
            if (step == 0) {
                // The file was cut short while it was read.
                sawShort = true;
                return QString();
            }
            if (bigEndian)
                qFromBigEndian<char16_t>(buffer.constData() + pos, step, to);
            else
                qFromLittleEndian<char16_t>(buffer.constData() + pos, step, to);
            pos += step * 2;
            to += step;
            units -= step;
        }
        return text;
    }

private:
    static constexpr qint64 Chunk = 1 << 18;

    qint64 remaining() const { return end - pos + left; }

    // Reads the next chunk behind the few bytes not yet taken, which move to the front.
    void refill()
    {
        const qint64 kept = end - pos;
        if (left == 0 || kept > 3)
            return;
        memmove(buffer.data(), buffer.constData() + pos, size_t(kept));
        const qint64 wanted = qMin(left, buffer.size() - kept);
        const qint64 got = qMax<qint64>(0, device->read(buffer.data() + kept, wanted));
        // A file cut short meanwhile ends here.
        left = got == wanted ? left - got : 0;
        fetched += got;
        pos = 0;
        end = kept + got;
    }

    void skipToEnd()
    {
        if (left > 0)
            device->seek(device->pos() + left);
        fetched += left;
        left = 0;
        pos = end;
    }

    QIODevice *device;
    bool bigEndian;
    QByteArray buffer;
    qint64 pos = 0;
    qint64 end = 0;
    // What was read from the device, and what it holds behind that.
    qint64 fetched = 0;
    qint64 left = 0;
    bool sawMalformed = false;
    bool sawShort = false;
};

} // namespace

NotesReadResult readNoteRowsChecked(QDataStream &stream,
                                    const std::function<void(QStringList &&)> &take)
{
    QIODevice *device = stream.device();
    if (!device)
        return NotesReadResult::Whole;

    const qint64 start = device->pos();
    RowReader reader(device, stream.byteOrder());
    // An empty file holds nothing that a save could lose.
    if (reader.atEnd())
        return NotesReadResult::Whole;

    bool countsMet = true;
    const quint32 rowCount = reader.readCount();
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
        take(std::move(row));
        if (reader.atEnd()) {
            countsMet = countsMet && i + 1 == rowCount;
            break;
        }
    }
    // Leave the device just behind the rows, as a stream reader would.
    if (!device->isSequential())
        device->seek(start + reader.consumed());

    const bool whole = countsMet && !reader.ranShort() && !reader.malformed() && reader.atEnd();
    return whole ? NotesReadResult::Whole : NotesReadResult::Partial;
}

NotesReadResult readNoteRowsChecked(QDataStream &stream, QList<QStringList> &rows)
{
    rows.clear();
    return readNoteRowsChecked(stream, [&rows](QStringList &&row) { rows.append(std::move(row)); });
}

QDataStream &readNoteRows(QDataStream &stream, QList<QStringList> &rows)
{
    readNoteRowsChecked(stream, rows);
    return stream;
}
