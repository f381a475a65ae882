// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

class QIODevice;

// The log that the kernel's dm-log-writes target keeps of every write that reached the
// disk: a super block, then one block per entry, each followed by the data it wrote.
// Sectors and lengths are in the log's sector size.
struct WriteLogEntry
{
    enum Flag : quint64
    {
        Flush = 1 << 0,
        Fua = 1 << 1,
        Discard = 1 << 2,
        Mark = 1 << 3,
        Metadata = 1 << 4,
    };
    quint64 sector = 0;
    quint64 sectors = 0;
    quint64 flags = 0;
    QByteArray mark;
    // Where the data written begins in the log, in bytes; -1 for an entry without data.
    qint64 dataAt = -1;

    bool is(Flag flag) const { return flags & flag; }
    // A point the disk had made durable: what came before it survives a power cut.
    bool isBarrier() const { return is(Flush) || is(Fua); }
};

struct WriteLog
{
    quint32 sectorSize = 0;
    quint64 declared = 0;
    QList<WriteLogEntry> entries;
    // The log ends before the entries the super block counts: a recording cut short.
    bool cut = false;
    QString error;

    bool valid() const { return error.isEmpty(); }
};

// Reads the log's entries, not their data. A damaged log is read up to the damage.
WriteLog readWriteLog(QIODevice &log);

// Writes entries [0, end) of `log` onto `image`, but for those in `skipped`, as the disk
// would hold them: a discard leaves zeros.
bool replayWriteLog(QIODevice &log, const WriteLog &read, QIODevice &image, int end,
                    const QList<int> &skipped = {});

// The crash states of a log: every prefix ending at a flush or FUA entry, then `samples`
// seeded states that keep all up to one barrier and only some of the writes after it,
// as a disk that reorders writes between flushes may.
struct CrashState
{
    int end = 0;
    QList<int> skipped;
    // The last mark before `end`; empty where none.
    QByteArray seen;
};
QList<CrashState> crashStates(const WriteLog &log, int samples, quint32 seed);
