// SPDX-License-Identifier: GPL-3.0-or-later
#include "persistence/journalreplay.h"
#include "persistence/recoverypolicy.h"
#include "testsupport.h"

// The two decisions of a start-up after a crash, with no window and no file: what becomes
// of each journal found, and the list that a journal's changes make.
class TestRecovery : public QObject
{
    Q_OBJECT

private slots:
    void replays_data();
    void replays();
    void decides_data();
    void decides();
    void neverDeletesWhatIsNotSafe();
    void leaves_data();
    void leaves();
};

namespace {

// "i3 D" inserts D at 3, "r1 X" replaces row 1 with X, "d0" removes row 0, "a" removes all.
// The list shows rows of notes.dat as "#n", the journal's by their titles.
QString replayed(const QString &start, const QString &script, qint64 inserts = -1)
{
    std::vector<QStringList> rows;
    if (!start.startsWith(u'#'))
        for (const QString &title : start.split(u' ', Qt::SkipEmptyParts))
            rows.push_back({title});
    const QStringList changes = script.split(u';', Qt::SkipEmptyParts);
    if (inserts < 0)
        inserts = std::count_if(changes.begin(), changes.end(),
                                [](const QString &change) { return change.startsWith(u'i'); });
    JournalReplay replay = start.startsWith(u'#') ? JournalReplay(start.mid(1).toInt(), inserts)
                                                  : JournalReplay(std::move(rows), inserts);
    for (const QString &change : changes) {
        const QString position = change.mid(1).section(u' ', 0, 0);
        const QString title = change.section(u' ', 1);
        const JournalChange kind = change[0] == u'i'   ? JournalChange::Insert
                                   : change[0] == u'r' ? JournalChange::Replace
                                   : change[0] == u'd' ? JournalChange::Remove
                                                       : JournalChange::RemoveAll;
        if (!replay.apply(kind, position.toLongLong(), {title}))
            return QStringLiteral("refused at ") + change;
    }
    if (replay.applied() != changes.size())
        return QStringLiteral("counted %1").arg(replay.applied());
    QStringList shown;
    const ReplayedList list = replay.takeList();
    for (const int entry : list.order)
        shown << (ReplayedList::isFileRow(entry) ? QStringLiteral("#%1").arg(entry)
                                                 : list.rowOf(entry).value(0));
    return shown.join(u' ');
}

using Opened = JournalFacts::Opened;

JournalFacts facts(Opened opened, const QString &what, qint64 lastChange = 0)
{
    JournalFacts known;
    known.opened = opened;
    known.intact = !what.contains(QLatin1String("damaged"));
    known.readable = !what.contains(QLatin1String("unreadable"));
    known.empty = what.contains(QLatin1String("empty"));
    known.justMade = what.contains(QLatin1String("just made"));
    known.setAside = what.contains(QLatin1String("aside"));
    known.savedEqual = what.contains(QLatin1String("saved"));
    known.baseEqual = what.contains(QLatin1String("base"));
    known.listKept = what.contains(QLatin1String("list"));
    known.lastChange = lastChange;
    return known;
}

} // namespace

void TestRecovery::replays_data()
{
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("list");

    QTest::newRow("nothing changed") << "#3"
                                     << ""
                                     << "#0 #1 #2";
    QTest::newRow("an insert at the end") << "#3"
                                          << "i3 D"
                                          << "#0 #1 #2 D";
    QTest::newRow("an insert anywhere else") << "#3"
                                             << "i1 D"
                                             << "refused at i1 D";
    QTest::newRow("an edit of the first") << "#3"
                                          << "r0 X"
                                          << "X #1 #2";
    QTest::newRow("an edit of the middle") << "#3"
                                           << "r1 X"
                                           << "#0 X #2";
    QTest::newRow("an edit of the last") << "#3"
                                         << "r2 X"
                                         << "#0 #1 X";
    QTest::newRow("an edit beyond the list") << "#3"
                                             << "r3 X"
                                             << "refused at r3 X";
    QTest::newRow("an edit before it") << "#3"
                                       << "r-1 X"
                                       << "refused at r-1 X";
    QTest::newRow("a delete of the first") << "#3"
                                           << "d0"
                                           << "#1 #2";
    QTest::newRow("a delete of the middle") << "#3"
                                            << "d1"
                                            << "#0 #2";
    QTest::newRow("a delete of the last") << "#3"
                                          << "d2"
                                          << "#0 #1";
    QTest::newRow("a delete beyond the list") << "#3"
                                              << "d3"
                                              << "refused at d3";
    QTest::newRow("deletes move the rows below up") << "#4"
                                                    << "d0;d1;r1 X;d0"
                                                    << "X";
    QTest::newRow("an added note edited, a note above it deleted") << "#3"
                                                                   << "i3 D;d0;r2 E;i3 F"
                                                                   << "#1 #2 E F";
    QTest::newRow("Delete All, then an add") << "#3"
                                             << "i3 D;a;i0 E"
                                             << "E";
    QTest::newRow("Delete All, then a delete") << "#3"
                                               << "a;d0"
                                               << "refused at d0";
    QTest::newRow("Delete All of an empty list") << "#0"
                                                 << "a;i0 E;a"
                                                 << "";
    QTest::newRow("a longer list, an add, then deletes and an edit above it")
        << "#13"
        << "i13 N;d12;d5;r10 X;d0"
        << "#1 #2 #3 #4 #6 #7 #8 #9 #10 X N";
    QTest::newRow("onto the list the journal kept") << "K L M"
                                                    << "d1;i2 N;r0 X"
                                                    << "X M N";
    QTest::newRow("past int") << "#3"
                              << "r4294967296 X"
                              << "refused at r4294967296 X";
}

void TestRecovery::replays()
{
    QFETCH(QString, start);
    QFETCH(QString, script);
    QFETCH(QString, list);
    QCOMPARE(replayed(start, script), list);
}

void TestRecovery::decides_data()
{
    QTest::addColumn<QList<JournalFacts>>("journals");
    QTest::addColumn<QList<JournalAction>>("actions");
    using A = JournalAction;

    QTest::newRow("one of the notes.dat read")
        << QList<JournalFacts>{facts(Opened::Open, "base")} << QList<A>{A::Replay};
    QTest::newRow("one of another notes.dat")
        << QList<JournalFacts>{facts(Opened::Open, "")} << QList<A>{A::Rescue};
    QTest::newRow("one of another notes.dat that kept the whole list")
        << QList<JournalFacts>{facts(Opened::Open, "list")} << QList<A>{A::Replay};
    QTest::newRow("one whose save reached the disk")
        << QList<JournalFacts>{facts(Opened::Open, "base saved")} << QList<A>{A::Discard};
    QTest::newRow("one killed before its first change")
        << QList<JournalFacts>{facts(Opened::Open, "empty")} << QList<A>{A::Discard};
    QTest::newRow("one just made by a Quillora about to lock it")
        << QList<JournalFacts>{facts(Opened::Open, "empty just made")} << QList<A>{A::Skip};
    QTest::newRow("one whose session cannot be read")
        << QList<JournalFacts>{facts(Opened::Open, "base unreadable")} << QList<A>{A::SetAside};
    QTest::newRow("one damaged") << QList<JournalFacts>{facts(Opened::Open, "base damaged")}
                                 << QList<A>{A::SetAside};
    QTest::newRow("one set aside before, damaged")
        << QList<JournalFacts>{facts(Opened::Open, "base damaged aside")} << QList<A>{A::Skip};
    QTest::newRow("one held by a running Quillora")
        << QList<JournalFacts>{facts(Opened::Held, "base")} << QList<A>{A::Skip};
    QTest::newRow("one that cannot be opened")
        << QList<JournalFacts>{facts(Opened::Unopenable, "")} << QList<A>{A::Skip};
    QTest::newRow("a file that is no database")
        << QList<JournalFacts>{facts(Opened::NotJournal, "")} << QList<A>{A::SetAside};
    QTest::newRow("two sessions: the later one is replayed")
        << QList<JournalFacts>{facts(Opened::Open, "base", 20), facts(Opened::Open, "base", 10)}
        << QList<A>{A::Replay, A::Rescue};
    QTest::newRow("two changed in the same millisecond: the higher number")
        << QList<JournalFacts>{facts(Opened::Open, "base", 10), facts(Opened::Open, "base", 10)}
        << QList<A>{A::Rescue, A::Replay};
    QTest::newRow("the later one of another notes.dat")
        << QList<JournalFacts>{facts(Opened::Open, "base", 10), facts(Opened::Open, "", 20)}
        << QList<A>{A::Replay, A::Rescue};
    QTest::newRow("the later one damaged")
        << QList<JournalFacts>{facts(Opened::Open, "base", 10),
                               facts(Opened::Open, "base damaged", 20)}
        << QList<A>{A::Replay, A::SetAside};
}

void TestRecovery::decides()
{
    QFETCH(QList<JournalFacts>, journals);
    QFETCH(QList<JournalAction>, actions);
    QCOMPARE(decideRecovery(journals), actions);
}

// Every combination of what can be known of one journal, through every step: none is
// deleted unless it holds nothing, its save is on disk, or its notes are in the rescue file;
// none that cannot be trusted is replayed; and none that another Quillora holds or that
// cannot be opened is touched.
void TestRecovery::neverDeletesWhatIsNotSafe()
{
    for (const Opened opened :
         {Opened::Held, Opened::Unopenable, Opened::NotJournal, Opened::Open}) {
        for (int bits = 0; bits < 1 << 15; ++bits) {
            JournalFacts known;
            known.opened = opened;
            known.intact = bits & 1;
            known.readable = bits & 2;
            known.empty = bits & 4;
            known.setAside = bits & 8;
            known.savedEqual = bits & 16;
            known.baseEqual = bits & 32;
            known.listKept = bits & 64;
            JournalReading reading;
            reading.replayed = bits & 128;
            reading.rowsRead = bits & 256;
            reading.rowsWhole = reading.rowsRead && (bits & 512);
            const bool copy = bits & 1024;
            const bool rescued = bits & 2048;
            known.fileThere = bits & 4096;
            reading.fileKept = bits & 8192;
            known.justMade = bits & 16384;
            const JournalAction planned = decideRecovery({known}).value(0);
            const JournalAction action = afterReading(planned, known, reading);
            const JournalEnding ending = journalEnding(action, copy, rescued);
            const bool trusted =
                opened == Opened::Open && known.intact && known.readable && !known.setAside;
            const QByteArray what =
                QByteArray::number(int(opened)) + '/' + QByteArray::number(bits) + " -> " +
                QByteArray::number(int(planned)) + ", " + QByteArray::number(int(action));
            const bool safeElsewhere =
                (trusted && ((known.empty && !known.justMade) || known.savedEqual)) ||
                (rescuesRows(action, known) && rescued) || (copy && action == JournalAction::Skip);
            if (ending.discard)
                QVERIFY2(safeElsewhere, what);
            if (action == JournalAction::Replay)
                QVERIFY2(trusted && reading.replayed && !known.empty && !known.savedEqual &&
                             (known.baseEqual || known.listKept),
                         what);
            // Nothing is replayed over a file that is not its base unless that file is kept.
            if (action == JournalAction::Replay && !known.baseEqual)
                QVERIFY2(!known.fileThere || reading.fileKept, what);
            if (opened == Opened::Held || opened == Opened::Unopenable || known.setAside)
                QVERIFY2(action == JournalAction::Skip || opened == Opened::NotJournal, what);
            if (!known.intact && opened == Opened::Open && !known.setAside)
                QVERIFY2(action == JournalAction::SetAside, what);
            // A rescue that could not read every note keeps the journal.
            if (planned == JournalAction::Rescue && reading.rowsRead && !reading.rowsWhole)
                QVERIFY2(action == JournalAction::SetAside && !ending.discard, what);
        }
    }
}

void TestRecovery::leaves_data()
{
    QTest::addColumn<QString>("what");
    QTest::addColumn<JournalAtLeaving>("fate");

    QTest::newRow("saved") << "saved" << JournalAtLeaving::Remove;
    QTest::newRow("saved on a stick, whose removal may come first")
        << "saved unordered" << JournalAtLeaving::Close;
    QTest::newRow("rescued from a stick")
        << "rescued unordered changed" << JournalAtLeaving::Remove;
    QTest::newRow("not saved, changed") << "changed asread" << JournalAtLeaving::Keep;
    QTest::newRow("not saved, unchanged, the file as read") << "asread" << JournalAtLeaving::Remove;
    QTest::newRow("not saved, unchanged, the file cut") << "" << JournalAtLeaving::Keep;
    QTest::newRow("not saved, unchanged, no note") << "empty" << JournalAtLeaving::Remove;
}

void TestRecovery::leaves()
{
    QFETCH(QString, what);
    QFETCH(JournalAtLeaving, fate);
    Leaving leaving;
    leaving.saved = what.contains(QLatin1String("saved"));
    leaving.ordered = !what.contains(QLatin1String("unordered"));
    leaving.rescued = what.contains(QLatin1String("rescued"));
    leaving.changed = what.contains(QLatin1String("changed"));
    leaving.listEmpty = what.contains(QLatin1String("empty"));
    leaving.fileAsRead = what.contains(QLatin1String("asread"));
    QCOMPARE(journalAtLeaving(leaving), fate);
}

QUILLORA_TEST_MAIN(TestRecovery)

#include "tst_recovery.moc"
