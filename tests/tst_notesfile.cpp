// SPDX-License-Identifier: GPL-3.0-or-later
#include "notebytes.h"
#include "persistence/notesfile.h"
#include "testsupport.h"

#include <QBuffer>
#include <QDataStream>

using namespace NoteBytes;

class TestNotesFile : public QObject
{
    Q_OBJECT

private slots:
    void writesTheWorkedExampleByteForByte();
    void reads_data();
    void reads();
    void roundTrips_data();
    void roundTrips();
    void hugeCountsReserveNoMoreThanTheFileHolds();
    void leavesTheStreamBehindTheRows();
};

namespace {

QByteArray encode(const QList<QStringList> &rows)
{
    QByteArray bytes;
    QDataStream stream(&bytes, QIODevice::WriteOnly);
    stream.setVersion(QDataStream::Qt_4_6);
    writeNoteRows(stream, rows);
    return bytes;
}

NotesReadResult decode(const QByteArray &bytes, QList<QStringList> &rows)
{
    QDataStream stream(bytes);
    stream.setVersion(QDataStream::Qt_4_6);
    return readNoteRowsChecked(stream, rows);
}

// The most address space the process ever held, in KiB; 0 where unknown.
qint64 peakKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    return status.open(QIODevice::ReadOnly | QIODevice::Text)
               ? QString::fromLatin1(status.readAll())
                     .section(QStringLiteral("VmPeak:"), 1)
                     .section(u'k', 0, 0)
                     .toLongLong()
               : 0;
}

} // namespace

void TestNotesFile::writesTheWorkedExampleByteForByte()
{
    const QByteArray expected = QByteArray::fromHex(
        "00000001"
        "00000004"
        "00000002"
        "0061"
        "00000002"
        "0062"
        "00000026"
        "0032003000310032002d00300035002d00300031002000310030003a0033003000200041004d"
        "00000002"
        "0062");
    QCOMPARE(expected.size(), 68);
    const QList<QStringList> rows = {{"a", "b", "2012-05-01 10:30 AM", "b"}};
    QCOMPARE(encode(rows).toHex(), expected.toHex());
    QCOMPARE(encode({}).toHex(), QByteArray("00000000"));
}

void TestNotesFile::reads_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<bool>("whole");

    const QStringList note = {"Title", "preview", "2012-05-01 10:30 AM", "body"};
    const QString noteText =
        QStringLiteral("[\"Title\",\"preview\",\"2012-05-01 10:30 AM\",\"body\"]");

    QTest::newRow("empty file") << QByteArray() << "" << true;
    QTest::newRow("empty list") << count(0) << "" << true;
    QTest::newRow("one complete note") << count(1) + row(note) << noteText << true;
    QTest::newRow("only a row count") << count(1) << "[]" << false;
    QTest::newRow("row count cut short") << QByteArray::fromHex("0000") << "" << false;
    QTest::newRow("count larger than the rows present")
        << count(3) + row(note) << noteText << false;
    QTest::newRow("count smaller than the rows present")
        << count(1) + row(note) + row({"x"}) << noteText << false;
    QTest::newRow("row ends after its second string")
        << count(1) + count(4) + text("a") + text("b") << "[\"a\",\"b\"]" << false;
    QTest::newRow("string cut inside its bytes")
        << count(1) + count(2) + text("a") + text("bcd").left(7) << "[\"a\",<null>]" << false;
    QTest::newRow("string cut inside its length")
        << count(1) + count(2) + text("a") + QByteArray(2, '\0') << "[\"a\",\"\"]" << false;
    QTest::newRow("null and empty strings")
        << count(1) + count(2) + nullText() + text("") << "[<null>,\"\"]" << true;
    QTest::newRow("rows of two strings")
        << count(2) + row({"a", "b"}) + row({"c", "d"}) << "[\"a\",\"b\"] [\"c\",\"d\"]" << true;
    QTest::newRow("row with no strings") << count(1) + count(0) << "[]" << true;
    QTest::newRow("row count 0xFFFFFFFF in a small file")
        << count(0xFFFFFFFFu) + row({"a", "b"}) << "[\"a\",\"b\"]" << false;
    QTest::newRow("string count 0xFFFFFFFF in a small file")
        << count(1) + count(0xFFFFFFFFu) + text("a") << "[\"a\"]" << false;
    QTest::newRow("string length larger than the file")
        << count(1) + count(1) + count(0x7FFFFFF0u) + QByteArray(6, 'x') << "[<null>]" << false;
    QTest::newRow("odd string length")
        << count(1) + count(1) + count(3) + QByteArray(3, 'x') << "[<null>]" << false;
    QTest::newRow("odd string length as the file's last bytes")
        << count(1) + count(2) + text("a") + count(3) << "[\"a\",<null>]" << false;
}

void TestNotesFile::reads()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, expected);
    QFETCH(bool, whole);

    QList<QStringList> rows = {{"left over from before"}};
    // No length or count makes the reader take memory the file cannot fill, not even
    // untouched address space.
    const qint64 before = peakKb();
    const NotesReadResult result = decode(bytes, rows);
    QVERIFY(peakKb() - before < 64 * 1024);
    QCOMPARE(describe(rows), expected);
    QCOMPARE(result == NotesReadResult::Whole, whole);
}

void TestNotesFile::roundTrips_data()
{
    QTest::addColumn<QStringList>("note");

    QTest::newRow("plain ASCII") << QStringList{"a", "b", "2012-05-01 10:30 AM", "b"};
    QTest::newRow("beyond ASCII") << QStringList{"Grüße", "čšž – ü", "", "Ελληνικά"};
    QTest::newRow("line breaks") << QStringList{"t", "one two", "", "one\ntwo\r\nthree\n"};
    QTest::newRow("outside the BMP") << QStringList{QString::fromUtf8("\xF0\x9F\x93\x9D"), "", "",
                                                    QString::fromUtf8("a\xF0\x9D\x84\x9E")};
    QTest::newRow("null and empty") << QStringList{QString(), QString(""), QString(), QString("")};
    QTest::newRow("markup") << QStringList{"<b>bold</b>", "<img src=\"/dev/zero\">", "", "&amp;"};
    // Longer than the writer's buffer of a mebibyte and the reader's chunks of 256 KiB, the
    // second length field split between two chunks.
    QTest::newRow("strings across the writer's and the reader's buffers")
        << QStringList{QString(131065, u'a'), QString(262143, u'b'), QString(), "c"};
    // The same lengths, but no stretch of either string repeats another: a writer or a
    // reader that starts a buffer again at the wrong place writes other bytes. A plain
    // count would repeat every 128 KiB, a divisor of the buffers, so each unit is hashed.
    const auto unrepeated = [](qsizetype length, quint32 seed) {
        QString text(length, Qt::Uninitialized);
        for (qsizetype i = 0; i < length; ++i) {
            quint32 mixed = (quint32(i) + seed) * 2654435761u;
            mixed ^= mixed >> 15;
            text[i] = QChar(char16_t(mixed * 2246822519u >> 16));
        }
        return text;
    };
    QTest::newRow("unrepeated strings across the writer's and the reader's buffers")
        << QStringList{unrepeated(131065, 1), unrepeated(262143, 7), QString(), "c"};
}

void TestNotesFile::roundTrips()
{
    QFETCH(QStringList, note);

    const QByteArray bytes = encode({note, note});
    qsizetype expectedSize = 4 + 2 * 4;
    for (const QString &value : note)
        expectedSize += 2 * (4 + 2 * value.size());
    QCOMPARE(bytes.size(), expectedSize);

    QCOMPARE(bytes, count(2) + row(note) + row(note));

    QList<QStringList> rows;
    QCOMPARE(decode(bytes, rows), NotesReadResult::Whole);
    QCOMPARE(describe(rows), describe({note, note}));
}

void TestNotesFile::hugeCountsReserveNoMoreThanTheFileHolds()
{
    // 40 bytes that promise 0xFFFFFFFF rows of 0xFFFFFFFF strings.
    const QByteArray bytes = count(0xFFFFFFFFu) + count(0xFFFFFFFFu) + text("abcdefghijklmn");
    QCOMPARE(bytes.size(), 40);
    QList<QStringList> rows;
    decode(bytes, rows);
    QCOMPARE(rows.size(), 1);
    QVERIFY(rows.capacity() <= bytes.size() / 4);
    QVERIFY(rows.first().capacity() <= bytes.size() / 4);
}

void TestNotesFile::leavesTheStreamBehindTheRows()
{
    const QByteArray rowsPart = count(1) + row({"a"});
    QByteArray bytes = "head" + rowsPart + QByteArray("tail");
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    buffer.seek(4);
    QDataStream stream(&buffer);
    QList<QStringList> rows;
    readNoteRows(stream, rows);
    QCOMPARE(describe(rows), QStringLiteral("[\"a\"]"));
    QCOMPARE(buffer.pos(), 4 + rowsPart.size());
}

QUILLORA_TEST_MAIN(TestNotesFile)
#include "tst_notesfile.moc"
