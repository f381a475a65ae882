// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer target for the session journal's reader: the input is a journal of a crashed
// session, its database and its -wal, the first four bytes saying where the database
// ends. Recovery must never crash, whatever the files hold, and its memory is bounded by
// SQLite's heap limit.
#include "persistence/notesstore.h"
#include "persistence/sessionjournal.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>

#include <cstdint>

namespace {

void writeAll(const QString &name, const QByteArray &bytes)
{
    QFile file(name);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(bytes);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static QTemporaryDir root;
    const QDir dir(root.path());
    qputenv("XDG_DATA_HOME", dir.filePath(QStringLiteral("data")).toLocal8Bit());
    const QByteArray input =
        QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    const quint32 split = size >= 4 ? qFromBigEndian<quint32>(data) : 0;
    const QByteArray files = input.mid(4);
    const qsizetype databaseSize = qMin<qsizetype>(split, files.size());
    // No notes.dat: a journal begun without one is replayed onto the empty list.
    const QString notes = dir.filePath(QStringLiteral("notes.dat"));
    const QString journal = dir.filePath(QStringLiteral(".notes.dat.journal"));
    writeAll(journal, files.left(databaseSize));
    if (files.size() > databaseSize)
        writeAll(journal + QLatin1String("-wal"), files.mid(databaseSize));
    {
        SessionJournal session(notes);
        const SessionJournal::Recovery recovery = session.recover(stampOf(notes), 0);
        const ReplayedList &list = recovery.list;
        if (recovery.replayed && list.order.size() > size)
            abort();
        // Onto no notes.dat, every row shown is one of the journal's.
        for (const int entry : list.order) {
            if (ReplayedList::isFileRow(entry) ||
                ReplayedList::journalRow(entry) >= list.rows.size())
                abort();
        }
    }
    // What recovery kept, set aside or rescued goes before the next input.
    for (const QString &name : dir.entryList(QDir::Files | QDir::Hidden))
        QFile::remove(dir.filePath(name));
    QDir(dir.filePath(QStringLiteral("data"))).removeRecursively();
    return 0;
}
