// SPDX-License-Identifier: GPL-3.0-or-later
#include "notesgenerator.h"

#include "mainwindow/noterow.h"
#include "persistence/notesfile.h"

#include <QDataStream>
#include <QDateTime>
#include <QIODevice>
#include <QRandomGenerator>

namespace {

const QString Words[] = {
    QStringLiteral("meeting"),
    QStringLiteral("groceries"),
    QStringLiteral("idea"),
    QStringLiteral("call"),
    QStringLiteral("Grüße"),
    QStringLiteral("café"),
    QStringLiteral("naïve"),
    QStringLiteral("Ελλάδα"),
    QStringLiteral("Москва"),
    QStringLiteral("東京"),
    QStringLiteral("deadline"),
    QStringLiteral("budget"),
    QStringLiteral("the"),
    QStringLiteral("and"),
    QStringLiteral("remember"),
    QStringLiteral("<todo>"),
    QStringLiteral("50%"),
    QStringLiteral("a&b"),
    QString::fromUtf8("\xF0\x9F\x93\x9D"),
    QString::fromUtf8("\xF0\x9F\x98\x80"),
};

QString text(QRandomGenerator &random, int maxLength, bool lines)
{
    const int length = int(random.bounded(maxLength + 1));
    QString out;
    out.reserve(length + 16);
    while (out.size() < length) {
        if (!out.isEmpty())
            out += (lines && random.bounded(8) == 0) ? QChar(u'\n') : QChar(u' ');
        out += Words[random.bounded(int(std::size(Words)))];
    }
    // Never cut a surrogate pair in half.
    if (out.size() > length) {
        out.truncate(length);
        if (!out.isEmpty() && out.back().isHighSurrogate())
            out.chop(1);
    }
    return out;
}

int bodyLength(QRandomGenerator &random)
{
    // Most notes are short; a few run to the longest a note here gets.
    const int roll = int(random.bounded(100));
    if (roll < 5)
        return 0;
    if (roll < 50)
        return 200;
    if (roll < 80)
        return 1000;
    if (roll < 97)
        return 3000;
    return 20000;
}

} // namespace

QList<QStringList> generateNotes(int count, quint32 seed)
{
    QRandomGenerator random(seed);
    const QDateTime start(QDate(2012, 1, 1), QTime(0, 0));
    QList<QStringList> rows;
    rows.reserve(count);
    for (int i = 0; i < count; ++i) {
        const QString title = text(random, 60, false);
        const QString body = text(random, bodyLength(random), true);
        const QDateTime when = start.addSecs(qint64(random.bounded(400000000u)));
        rows.append(makeNoteRow(title, body, when));
    }
    return rows;
}

QList<QStringList> generateShortRows(int count, int strings, quint32 seed)
{
    QList<QStringList> rows = generateNotes(count, seed);
    for (QStringList &row : rows)
        row = row.mid(0, strings);
    return rows;
}

QByteArray encodeNotes(const QList<QStringList> &rows)
{
    QByteArray bytes;
    QDataStream stream(&bytes, QIODevice::WriteOnly);
    stream.setVersion(QDataStream::Qt_4_6);
    writeNoteRows(stream, rows);
    return bytes;
}
