// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QtEndian>

// Builders for notes-file bytes, and a rendering of rows that tells null from empty.
namespace NoteBytes {

inline QByteArray count(quint32 value)
{
    QByteArray bytes(4, '\0');
    qToBigEndian(value, bytes.data());
    return bytes;
}

inline QByteArray text(const QString &value)
{
    QByteArray bytes = count(quint32(value.size() * 2));
    for (QChar unit : value) {
        bytes.append(char(unit.unicode() >> 8));
        bytes.append(char(unit.unicode() & 0xff));
    }
    return bytes;
}

inline QByteArray nullText()
{
    return count(0xFFFFFFFFu);
}

inline QByteArray row(const QStringList &strings)
{
    QByteArray bytes = count(quint32(strings.size()));
    for (const QString &value : strings)
        bytes += value.isNull() ? nullText() : text(value);
    return bytes;
}

inline QString describe(const QList<QStringList> &rows)
{
    QStringList out;
    for (const QStringList &strings : rows) {
        QStringList cells;
        for (const QString &value : strings)
            cells << (value.isNull() ? QStringLiteral("<null>") : u'"' + value + u'"');
        out << u'[' + cells.join(u',') + u']';
    }
    return out.join(u' ');
}

} // namespace NoteBytes
