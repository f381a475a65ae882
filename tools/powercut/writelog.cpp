// SPDX-License-Identifier: GPL-3.0-or-later
#include "writelog.h"

#include <QIODevice>
#include <QRandomGenerator>
#include <QtEndian>

namespace {

constexpr quint64 LogMagic = 0x6a736677736872ULL;
constexpr quint64 LogVersion = 1;
constexpr int EntryBytes = 32;

quint64 word(const QByteArray &block, int at)
{
    return qFromLittleEndian<quint64>(block.constData() + at);
}

} // namespace

WriteLog readWriteLog(QIODevice &log)
{
    WriteLog read;
    if (!log.seek(0)) {
        read.error = QStringLiteral("cannot read the log");
        return read;
    }
    const QByteArray super = log.read(28);
    if (super.size() < 28 || word(super, 0) != LogMagic) {
        read.error = QStringLiteral("not a dm-log-writes log");
        return read;
    }
    if (word(super, 8) != LogVersion) {
        read.error = QStringLiteral("log version %1 unknown").arg(word(super, 8));
        return read;
    }
    read.declared = word(super, 16);
    read.sectorSize = qFromLittleEndian<quint32>(super.constData() + 24);
    if (read.sectorSize < 512 || read.sectorSize > 65536 ||
        (read.sectorSize & (read.sectorSize - 1))) {
        read.error = QStringLiteral("sector size %1 impossible").arg(read.sectorSize);
        return read;
    }
    const qint64 size = log.size();
    const qint64 blockBytes = read.sectorSize;
    qint64 at = blockBytes;
    for (quint64 n = 0; n < read.declared; ++n) {
        if (at + blockBytes > size || !log.seek(at)) {
            read.cut = true;
            break;
        }
        const QByteArray block = log.read(blockBytes);
        if (block.size() < blockBytes) {
            read.cut = true;
            break;
        }
        WriteLogEntry entry;
        entry.sector = word(block, 0);
        entry.sectors = word(block, 8);
        entry.flags = word(block, 16);
        const quint64 dataLength = word(block, 24);
        at += blockBytes;
        if (entry.is(WriteLogEntry::Mark)) {
            if (dataLength > quint64(blockBytes - EntryBytes)) {
                read.error = QStringLiteral("entry %1: a mark longer than its block").arg(n);
                break;
            }
            entry.mark = block.mid(EntryBytes, int(dataLength));
        } else if (!entry.is(WriteLogEntry::Discard) && entry.sectors > 0) {
            // A length that does not fit what is left of the log is a log cut short.
            if (entry.sectors > quint64(size - at) / quint64(blockBytes)) {
                read.cut = true;
                break;
            }
            entry.dataAt = at;
            at += qint64(entry.sectors) * blockBytes;
        }
        read.entries.append(entry);
    }
    return read;
}

bool replayWriteLog(QIODevice &log, const WriteLog &read, QIODevice &image, int end,
                    const QList<int> &skipped)
{
    const qint64 blockBytes = read.sectorSize;
    const QByteArray zeros(1 << 20, '\0');
    end = qMin(end, int(read.entries.size()));
    for (int n = 0; n < end; ++n) {
        const WriteLogEntry &entry = read.entries.at(n);
        if (skipped.contains(n) || entry.sectors == 0)
            continue;
        if (!image.seek(qint64(entry.sector) * blockBytes))
            return false;
        qint64 left = qint64(entry.sectors) * blockBytes;
        if (entry.is(WriteLogEntry::Discard)) {
            for (qint64 part; left > 0; left -= part) {
                part = qMin<qint64>(left, zeros.size());
                if (image.write(zeros.constData(), part) != part)
                    return false;
            }
            continue;
        }
        if (entry.dataAt < 0 || !log.seek(entry.dataAt))
            return false;
        while (left > 0) {
            const QByteArray part = log.read(qMin<qint64>(left, 1 << 20));
            if (part.isEmpty() || image.write(part) != part.size())
                return false;
            left -= part.size();
        }
    }
    return true;
}

QList<CrashState> crashStates(const WriteLog &log, int samples, quint32 seed)
{
    QList<CrashState> states;
    QList<int> barriers;
    QByteArray seen;
    QList<QByteArray> seenBefore;
    for (int n = 0; n < log.entries.size(); ++n) {
        seenBefore.append(seen);
        const WriteLogEntry &entry = log.entries.at(n);
        if (entry.is(WriteLogEntry::Mark))
            seen = entry.mark;
        if (entry.isBarrier()) {
            barriers.append(n);
            states.append({n + 1, {}, seen});
        }
    }
    // Where writes lie between two barriers, some of them may reach the disk and others
    // not.
    QRandomGenerator random(seed);
    for (int tries = 0; samples > 0 && tries < samples * 20 && barriers.size() > 0; ++tries) {
        const int pick = int(random.bounded(quint32(barriers.size())));
        const int from = barriers.at(pick) + 1;
        const int to = pick + 1 < barriers.size() ? barriers.at(pick + 1) : int(log.entries.size());
        QList<int> writes;
        for (int n = from; n < to; ++n) {
            if (log.entries.at(n).sectors > 0)
                writes.append(n);
        }
        if (writes.size() < 2)
            continue;
        CrashState state{to, {}, to < log.entries.size() ? seenBefore.at(to) : seen};
        for (int n : writes) {
            if (random.bounded(2u))
                state.skipped.append(n);
        }
        if (state.skipped.isEmpty() || state.skipped.size() == writes.size())
            continue;
        states.append(state);
        --samples;
    }
    return states;
}
