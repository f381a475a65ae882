// SPDX-License-Identifier: GPL-3.0-or-later
// The reader of the kernel's write log, on logs made by hand.
#include "writelog.h"

#include <QBuffer>
#include <QTest>
#include <QtEndian>

namespace {

// A log in the kernel's layout. Each entry is "W sector count", "F" (an empty flush),
// "U sector count" (a FUA write), "D sector count" (a discard) or "M name"; the data of a
// write is its entry's number in every byte.
QByteArray makeLog(const QStringList &entries, int sectorSize = 512, int declared = -1)
{
    const auto block = [sectorSize](quint64 a, quint64 b, quint64 c, quint64 d,
                                    const QByteArray &tail = {}) {
        QByteArray bytes(sectorSize, '\0');
        for (int i = 0; i < 4; ++i)
            qToLittleEndian<quint64>(QList<quint64>{a, b, c, d}.at(i), bytes.data() + 8 * i);
        bytes.replace(32, tail.size(), tail);
        return bytes;
    };
    QByteArray log = block(0x6a736677736872ULL, 1, declared < 0 ? entries.size() : declared, 0);
    qToLittleEndian<quint32>(quint32(sectorSize), log.data() + 24);
    for (int n = 0; n < entries.size(); ++n) {
        const QStringList part = entries.at(n).split(u' ');
        const QString kind = part.at(0);
        if (kind == u'M') {
            log +=
                block(0, 0, WriteLogEntry::Mark, quint64(part.at(1).size()), part.at(1).toLatin1());
            continue;
        }
        if (kind == u'F') {
            log += block(0, 0, WriteLogEntry::Flush, 0);
            continue;
        }
        const quint64 flags = kind == u'U'   ? quint64(WriteLogEntry::Fua)
                              : kind == u'D' ? quint64(WriteLogEntry::Discard)
                                             : 0;
        const quint64 count = part.at(2).toULongLong();
        log += block(part.at(1).toULongLong(), count, flags, 0);
        if (kind != u'D')
            log += QByteArray(int(count) * sectorSize, char('a' + n));
    }
    return log;
}

// What the reader made of a log, in the notation above.
QString describe(const WriteLog &log)
{
    if (!log.valid())
        return QStringLiteral("error");
    QStringList parts;
    for (const WriteLogEntry &entry : log.entries) {
        if (entry.is(WriteLogEntry::Mark))
            parts << QStringLiteral("M ") + QString::fromLatin1(entry.mark);
        else if (entry.is(WriteLogEntry::Flush) && entry.sectors == 0)
            parts << QStringLiteral("F");
        else
            parts << QStringLiteral("%1 %2 %3")
                         .arg(entry.is(WriteLogEntry::Discard) ? QStringLiteral("D")
                              : entry.is(WriteLogEntry::Fua)   ? QStringLiteral("U")
                                                               : QStringLiteral("W"))
                         .arg(entry.sector)
                         .arg(entry.sectors);
    }
    if (log.cut)
        parts << QStringLiteral("cut");
    return parts.join(QStringLiteral(", "));
}

} // namespace

class TestWriteLog : public QObject
{
    Q_OBJECT

private slots:
    void reads_data();
    void reads();
    void replays();
    void crashStatesEndAtBarriers();
};

void TestWriteLog::reads_data()
{
    QTest::addColumn<QByteArray>("log");
    QTest::addColumn<QString>("expected");

    const QStringList session = {"W 8 2", "F", "M first", "U 0 1", "D 2 4", "M second"};
    QTest::newRow("empty") << makeLog({}) << QString();
    QTest::newRow("writes, flush, marks, FUA, discard")
        << makeLog(session) << "W 8 2, F, M first, U 0 1, D 2 4, M second";
    QTest::newRow("4096-byte sectors") << makeLog({"W 1 3", "F"}, 4096) << "W 1 3, F";
    QTest::newRow("cut in the last entry's block")
        << makeLog(session).chopped(512) << "W 8 2, F, M first, U 0 1, D 2 4, cut";
    QTest::newRow("cut in a write's data, its entry lost")
        << makeLog({"W 8 2", "F", "W 0 3"}).chopped(512) << "W 8 2, F, cut";
    QTest::newRow("cut in an entry's block")
        << makeLog({"W 8 2", "F", "M a"}).chopped(100) << "W 8 2, F, cut";
    QTest::newRow("more entries counted than written")
        << makeLog({"W 8 2", "F"}, 512, 5) << "W 8 2, F, cut";
    QTest::newRow("fewer counted than written: the rest never completed")
        << makeLog({"W 8 2", "F", "W 0 1"}, 512, 2) << "W 8 2, F";
    QByteArray wrongMagic = makeLog({"F"});
    wrongMagic[0] = 'x';
    QTest::newRow("not a log") << wrongMagic << "error";
    QByteArray version = makeLog({"F"});
    version[8] = 2;
    QTest::newRow("an unknown version") << version << "error";
    QByteArray sectorSize = makeLog({"F"});
    qToLittleEndian<quint32>(1000, sectorSize.data() + 24);
    QTest::newRow("a sector size not a power of two") << sectorSize << "error";
    QByteArray longMark = makeLog({"M a"});
    qToLittleEndian<quint64>(600, longMark.data() + 512 + 24);
    QTest::newRow("a mark longer than its block") << longMark << "error";
    QByteArray huge = makeLog({"W 0 1"});
    qToLittleEndian<quint64>(quint64(1) << 62, huge.data() + 512 + 8);
    QTest::newRow("a write longer than the log") << huge << "cut";
    QTest::newRow("short of a super block") << QByteArray(20, '\0') << "error";
}

void TestWriteLog::reads()
{
    QFETCH(QByteArray, log);
    QFETCH(QString, expected);
    QBuffer buffer(&log);
    QVERIFY(buffer.open(QIODevice::ReadOnly));
    QCOMPARE(describe(readWriteLog(buffer)), expected);
}

void TestWriteLog::replays()
{
    // Entry 0 writes 'a' over sectors 1-2, entry 2 'c' over sector 0 and entry 3
    // discards sector 2.
    QByteArray bytes = makeLog({"W 1 2", "F", "W 0 1", "D 2 1", "F"});
    QBuffer log(&bytes);
    QVERIFY(log.open(QIODevice::ReadOnly));
    const WriteLog read = readWriteLog(log);
    const auto replayed = [&](int end, const QList<int> &skipped) {
        QByteArray disk(4 * 512, '.');
        QBuffer image(&disk);
        image.open(QIODevice::ReadWrite);
        const bool ok = replayWriteLog(log, read, image, end, skipped);
        QString sectors;
        for (int sector = 0; ok && sector < 4; ++sector)
            sectors += QChar::fromLatin1(disk.at(sector * 512 + 511) ? disk.at(sector * 512) : '0');
        return ok ? sectors : QStringLiteral("failed");
    };
    QCOMPARE(replayed(0, {}), QStringLiteral("...."));
    QCOMPARE(replayed(2, {}), QStringLiteral(".aa."));
    QCOMPARE(replayed(5, {}), QStringLiteral("ca0."));
    QCOMPARE(replayed(5, {2}), QStringLiteral(".a0."));
    QCOMPARE(replayed(5, {3}), QStringLiteral("caa."));
}

void TestWriteLog::crashStatesEndAtBarriers()
{
    QByteArray bytes = makeLog(
        {"W 0 1", "M one", "F", "W 1 1", "W 2 1", "W 3 1", "M two", "U 4 1", "W 5 1", "M three"});
    QBuffer log(&bytes);
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QList<CrashState> states = crashStates(readWriteLog(log), 20, 7);
    QVERIFY(states.size() > 2);
    QCOMPARE(states.at(0).end, 3);
    QCOMPARE(states.at(0).seen, QByteArray("one"));
    QCOMPARE(states.at(1).end, 8);
    QCOMPARE(states.at(1).seen, QByteArray("two"));
    for (const CrashState &state : states.mid(2)) {
        // Only writes between the flush and the FUA write are ever left out: after the
        // FUA write the only later write is alone. The user had seen "two" then: a state
        // that lacks a write made before it is one the program must survive.
        QCOMPARE(state.end, 7);
        QVERIFY(!state.skipped.isEmpty());
        for (int skipped : state.skipped)
            QVERIFY(skipped >= 3 && skipped <= 5);
        QCOMPARE(state.seen, QByteArray("two"));
    }
}

QTEST_GUILESS_MAIN(TestWriteLog)
#include "tst_writelog.moc"
