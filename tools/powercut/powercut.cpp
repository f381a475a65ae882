// SPDX-License-Identifier: GPL-3.0-or-later
// The power-cut harness's program (scripts/powercut.sh runs it):
//   powercut session DIR DEVICE EXPECT   drives a session in DIR through the real window,
//       marking the kernel's write log of DEVICE after each change the list shows and each
//       draft written, and writes to EXPECT what the user had seen at each mark;
//   powercut check DIR EXPECT MARK       starts the program in DIR as a user would after
//       the power came back, leaves it, and checks that all seen at MARK is there;
//   powercut states LOG SAMPLES SEED     prints the log's crash states, one a line;
//   powercut replay LOG IMAGE STATE      writes crash state STATE of LOG onto IMAGE.
#include "dialogs/editnote.h"
#include "dialogs/newnote.h"
#include "mainwindow/quillora.h"
#include "persistence/notesfile.h"
#include "persistence/notesstore.h"
#include "writelog.h"

#include <QAction>
#include <QApplication>
#include <QCryptographicHash>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTextEdit>
#include <QTextStream>
#include <QTime>
#include <QTimer>
#include <QTreeWidget>

#include <cstdio>

namespace {

QTextStream out(stdout);

QByteArray noteId(const QString &title, const QString &body)
{
    return QCryptographicHash::hash((title + QChar(0x1f) + body).toUtf8(), QCryptographicHash::Sha1)
        .toHex()
        .left(16);
}

QList<QByteArray> idsOf(const QList<QStringList> &rows)
{
    QList<QByteArray> ids;
    for (const QStringList &row : rows)
        ids << noteId(row.value(0), row.value(3));
    return ids;
}

QList<QByteArray> idsOf(QTreeWidget *tree)
{
    QList<QByteArray> ids;
    for (int row = 0; row < tree->topLevelItemCount(); ++row)
        ids << noteId(tree->topLevelItem(row)->text(0), tree->topLevelItem(row)->text(3));
    return ids;
}

// Whole rows of a notes file; false where it is missing, empty or damaged.
bool readRows(const QString &fileName, QList<QStringList> &rows)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly) || file.size() == 0)
        return false;
    QDataStream stream(&file);
    stream.setVersion(QDataStream::Qt_4_6);
    return readNoteRowsChecked(stream, rows) == NotesReadResult::Whole;
}

QAction *action(QWidget &window, const QString &text)
{
    for (QAction *candidate : window.findChildren<QAction *>())
        if (candidate->text() == text)
            return candidate;
    qFatal("no action %s", qPrintable(text));
}

// Answers every message box as soon as it shows, with Yes or its default button, and keeps
// what it said.
class BoxAnswerer : public QObject
{
public:
    QStringList said;
    BoxAnswerer()
    {
        auto *timer = new QTimer(this);
        connect(timer, &QTimer::timeout, this, [this] {
            for (QWidget *widget : QApplication::topLevelWidgets()) {
                auto *box = qobject_cast<QMessageBox *>(widget);
                if (!box || !box->isVisible())
                    continue;
                said << box->windowTitle();
                if (QAbstractButton *yes = box->button(QMessageBox::Yes))
                    yes->click();
                else if (box->defaultButton())
                    box->defaultButton()->click();
                else
                    box->accept();
            }
        });
        timer->start(20);
    }
};

// Tells the log of DEVICE that the user has seen `ids` (notes.dat's, or a rescue file's,
// once recovered) and `draft`, and writes them to EXPECT under the mark's name.
void markSeen(const QString &device, const QString &expect, const QString &name,
              const QList<QByteArray> &ids, const QString &draft = QString())
{
    QFile file(expect);
    if (!file.open(QIODevice::Append))
        qFatal("cannot write %s", qPrintable(expect));
    QByteArray text = "MARK " + name.toUtf8() + '\n';
    for (const QByteArray &id : ids)
        text += id + '\n';
    if (!draft.isEmpty())
        text += "DRAFT " + draft.toUtf8() + '\n';
    file.write(text + "END\n");
    file.close();
    if (QProcess::execute(QStringLiteral("dmsetup"),
                          {QStringLiteral("message"), device, QStringLiteral("0"),
                           QStringLiteral("mark"), name}) != 0)
        qFatal("dmsetup message failed");
    out << "marked " << name << " at " << QTime::currentTime().toString(u"HH:mm:ss.zzz")
        << Qt::endl;
}

class Session
{
public:
    Session(const QString &device, const QString &expect) : device(device), expectFile(expect)
    {
        window.show();
        QTest::qWait(300);
        tree = window.findChild<QTreeWidget *>();
        newDialog = window.findChild<NewNote *>();
        editDialog = window.findChild<EditNote *>();
    }

    // The user has seen the list as it is now, and the drafts written.
    void mark(const QString &name, const QString &draft = QString(),
              const QList<QByteArray> &elsewhere = {})
    {
        markSeen(device, expectFile, name, idsOf(tree) + elsewhere, draft);
    }

    void add(const QString &title)
    {
        action(window, QStringLiteral("&New Note"))->trigger();
        newDialog->titleEdit->setText(title);
        newDialog->noteEdit->setPlainText(title + QStringLiteral(" text"));
        newDialog->acceptButton->click();
        mark(QStringLiteral("add-") + title);
    }

    void edit(int row, const QString &title)
    {
        tree->setCurrentItem(tree->topLevelItem(row));
        action(window, QStringLiteral("&Edit Note"))->trigger();
        editDialog->titleEdit->setText(title);
        editDialog->acceptButton->click();
        mark(QStringLiteral("edit-") + title);
    }

    void remove(int row)
    {
        tree->setCurrentItem(tree->topLevelItem(row));
        action(window, QStringLiteral("&Delete Note"))->trigger();
        mark(QStringLiteral("delete-%1").arg(row));
    }

    // Typed into New Note and left there for the journal to take.
    void draftNew(const QString &title)
    {
        action(window, QStringLiteral("&New Note"))->trigger();
        newDialog->titleEdit->setText(title);
        QTest::qWait(2500);
        mark(QStringLiteral("draft-") + title, QStringLiteral("new ") + title);
    }

    void draftEdit(int row, const QString &title)
    {
        tree->setCurrentItem(tree->topLevelItem(row));
        action(window, QStringLiteral("&Edit Note"))->trigger();
        editDialog->titleEdit->setText(title);
        QTest::qWait(2500);
        mark(QStringLiteral("draft-") + title, QStringLiteral("edit ") + title);
    }

    BoxAnswerer answerer;
    Quillora window;
    QTreeWidget *tree = nullptr;
    NewNote *newDialog = nullptr;
    EditNote *editDialog = nullptr;
    QString device;
    QString expectFile;
};

// The first session's commands, up to a crash that its parent makes.
int firstSession(const QString &device, const QString &expect)
{
    Session session(device, expect);
    session.mark(QStringLiteral("started"));
    session.add(QStringLiteral("first"));
    session.edit(0, QStringLiteral("edited"));
    session.remove(1);
    session.draftNew(QStringLiteral("new-draft"));
    session.newDialog->acceptButton->click();
    session.mark(QStringLiteral("added-draft"));
    session.draftEdit(2, QStringLiteral("edit-draft"));
    out << "crash me" << Qt::endl;
    QTest::qWait(60000);
    return 1;
}

// A second session over the first one's journal: its recovery, and the save at leaving of
// some thousands of notes.
int secondSession(const QString &device, const QString &expect)
{
    Session session(device, expect);
    QTest::qWait(1500);
    session.mark(QStringLiteral("recovered"));
    if (session.editDialog->isVisible())
        session.editDialog->acceptButton->click();
    session.mark(QStringLiteral("draft-done"));
    session.add(QStringLiteral("second"));
    session.window.close();
    session.mark(QStringLiteral("saved"));
    return 0;
}

const QStringList ThirdSessionNotes = {QStringLiteral("after-0"), QStringLiteral("after-1")};

QList<QByteArray> thirdSessionIds()
{
    QList<QByteArray> ids;
    for (const QString &title : ThirdSessionNotes)
        ids << noteId(title, title + QStringLiteral(" text"));
    return ids;
}

// A third, killed after Delete All and two notes.
int thirdSession(const QString &device, const QString &expect)
{
    Session session(device, expect);
    action(session.window, QStringLiteral("Delete &All Notes"))->trigger();
    QTest::qWait(300);
    session.mark(QStringLiteral("deleted-all"));
    for (const QString &title : ThirdSessionNotes)
        session.add(title);
    out << "crash me" << Qt::endl;
    QTest::qWait(60000);
    return 1;
}

// Runs one part of the session in a process of its own, and kills it as a crash would
// once it is done.
bool crashedPart(const QString &part, const QStringList &args, const QString &expect)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), {part, args.at(2), args.at(3), expect});
    QByteArray said;
    while (!said.contains("crash me") && child.waitForReadyRead(600000))
        said += child.readAll();
    out << said;
    child.kill();
    child.waitForFinished();
    return said.contains("crash me");
}

int runSession(const QStringList &args)
{
    const QString expect = QFileInfo(args.at(4)).absoluteFilePath();
    const QString device = args.at(3);
    if (!QDir::setCurrent(args.at(2)))
        return 2;
    if (args.at(1) == QLatin1String("session-first"))
        return firstSession(device, expect);
    if (args.at(1) == QLatin1String("session-third"))
        return thirdSession(device, expect);
    if (!crashedPart(QStringLiteral("session-first"), args, expect) ||
        secondSession(device, expect) != 0 ||
        !crashedPart(QStringLiteral("session-third"), args, expect))
        return 1;
    // Another writer replaces notes.dat over the crashed session's journal: the next start
    // keeps the notes that session added in the first rescue file ever made.
    QList<QStringList> other;
    for (int n = 0; n < 5; ++n)
        other << QStringList{QStringLiteral("other-%1").arg(n), QString(), QString(),
                             QStringLiteral("from another writer")};
    if (!saveNotesFile(QStringLiteral("notes.dat"), other))
        return 1;
    markSeen(device, expect, QStringLiteral("other-writer"), idsOf(other) + thirdSessionIds());
    Session session(device, expect);
    QTest::qWait(1500);
    session.mark(QStringLiteral("rescued"), QString(), thirdSessionIds());
    session.window.close();
    session.mark(QStringLiteral("saved-again"), QString(), thirdSessionIds());
    return QDir(QStringLiteral("data/Tolvane/Quillora")).isEmpty() ? 1 : 0;
}

struct Expected
{
    QList<QByteArray> ids;
    QByteArray draft;
};

QList<std::pair<QByteArray, Expected>> readExpected(const QString &fileName)
{
    QList<std::pair<QByteArray, Expected>> marks;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return marks;
    for (QByteArray line; !(line = file.readLine()).isEmpty();) {
        line = line.trimmed();
        if (line.startsWith("MARK "))
            marks.append({line.mid(5), {}});
        else if (line.startsWith("DRAFT ") && !marks.isEmpty())
            marks.last().second.draft = line.mid(6);
        else if (line != "END" && !marks.isEmpty())
            marks.last().second.ids.append(line);
    }
    return marks;
}

// What one crash state left: how many notes seen are lost or twice there, and whether
// notes.dat is damaged.
int runCheck(const QStringList &args)
{
    const QString dir = QDir(args.at(2)).absolutePath();
    const auto marks = readExpected(args.at(3));
    const QByteArray seen = args.at(4).toUtf8();
    qsizetype at = 0;
    while (at < marks.size() && marks.at(at).first != seen)
        ++at;
    if (at == marks.size()) {
        out << "no mark " << seen << Qt::endl;
        return 2;
    }
    qputenv("XDG_DATA_HOME", QDir(dir).filePath(QStringLiteral("data")).toLocal8Bit());
    QDir::setCurrent(dir);
    QByteArray draftShown;
    QStringList said;
    {
        BoxAnswerer answerer;
        Quillora window;
        window.show();
        QTest::qWait(800);
        auto *newDialog = window.findChild<NewNote *>();
        auto *editDialog = window.findChild<EditNote *>();
        if (newDialog->isVisible())
            draftShown = "new " + newDialog->titleEdit->text().toUtf8();
        else if (editDialog->isVisible())
            draftShown = "edit " + editDialog->titleEdit->text().toUtf8();
        newDialog->hide();
        editDialog->hide();
        window.close();
        QTest::qWait(100);
        said = answerer.said;
    }
    QList<QStringList> rows;
    const bool whole = readRows(QStringLiteral("notes.dat"), rows);
    const QList<QByteArray> kept = idsOf(rows);
    QList<QByteArray> rescued;
    const QDir rescues(QDir(dir).filePath(QStringLiteral("data/Tolvane/Quillora")));
    for (const QString &name : rescues.entryList({QStringLiteral("*.dat")}, QDir::Files)) {
        QList<QStringList> rescuedRows;
        readRows(rescues.filePath(name), rescuedRows);
        rescued += idsOf(rescuedRows);
    }
    // The change in flight at the cut may be there or not: the state before it or after.
    QString best;
    int bestLost = INT_MAX;
    for (qsizetype candidate = at; candidate <= qMin(at + 1, marks.size() - 1); ++candidate) {
        const Expected &expected = marks.at(candidate).second;
        int lost = 0;
        for (const QByteArray &id : expected.ids)
            lost += kept.contains(id) || rescued.contains(id) ? 0 : 1;
        int duplicated = 0;
        for (const QByteArray &id : kept)
            duplicated += kept.count(id) > expected.ids.count(id) ? 1 : 0;
        int stale = 0;
        for (const QByteArray &id : kept)
            stale += expected.ids.contains(id) ? 0 : 1;
        // A draft written more than 2 s before the cut is back in its window.
        const bool draftLost =
            candidate == at && !expected.draft.isEmpty() && draftShown != expected.draft;
        const int faults = lost + duplicated + stale + (draftLost ? 1 : 0) + (whole ? 0 : 1);
        if (faults < bestLost) {
            bestLost = faults;
            best = QStringLiteral("lost=%1 duplicated=%2 stale=%3 damaged=%4 draft=%5")
                       .arg(lost)
                       .arg(duplicated)
                       .arg(stale)
                       .arg(whole ? 0 : 1)
                       .arg(draftLost ? QStringLiteral("lost") : QStringLiteral("ok"));
        }
    }
    out << (bestLost == 0 ? "ok " : "FAIL ") << best << " boxes=" << said.join(u'|') << Qt::endl;
    return bestLost == 0 ? 0 : 1;
}

int runStates(const QStringList &args)
{
    QFile file(args.at(2));
    if (!file.open(QIODevice::ReadOnly))
        return 2;
    const WriteLog log = readWriteLog(file);
    if (!log.valid()) {
        out << "error " << log.error << Qt::endl;
        return 2;
    }
    const auto states = crashStates(log, args.at(3).toInt(), args.at(4).toUInt());
    for (qsizetype n = 0; n < states.size(); ++n) {
        QStringList skipped;
        for (int entry : states.at(n).skipped)
            skipped << QString::number(entry);
        out << n << ' ' << states.at(n).end << ' '
            << (states.at(n).seen.isEmpty() ? QByteArray("-") : states.at(n).seen) << ' '
            << (skipped.isEmpty() ? QStringLiteral("-") : skipped.join(u',')) << '\n';
    }
    out << "# entries " << log.entries.size() << (log.cut ? " cut" : "") << Qt::endl;
    return 0;
}

int runReplay(const QStringList &args)
{
    QFile file(args.at(2));
    QFile image(args.at(3));
    if (!file.open(QIODevice::ReadOnly) || !image.open(QIODevice::ReadWrite))
        return 2;
    const WriteLog log = readWriteLog(file);
    QList<int> skipped;
    const QStringList state = args.mid(4);
    const int end = state.value(0).toInt();
    for (const QString &entry : state.value(1).split(u',', Qt::SkipEmptyParts))
        if (entry != QLatin1String("-"))
            skipped << entry.toInt();
    return log.valid() && replayWriteLog(file, log, image, end, skipped) ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    const QStringList args = [&] {
        QStringList list;
        for (int i = 0; i < argc; ++i)
            list << QString::fromLocal8Bit(argv[i]);
        return list;
    }();
    const QString command = args.value(1);
    if (command == QLatin1String("states") && args.size() == 5) {
        QCoreApplication app(argc, argv);
        return runStates(args);
    }
    if (command == QLatin1String("replay") && args.size() >= 5) {
        QCoreApplication app(argc, argv);
        return runReplay(args);
    }
    if (command.startsWith(QLatin1String("session")) && args.size() == 5) {
        QApplication app(argc, argv);
        return runSession(args);
    }
    if (command == QLatin1String("check") && args.size() == 5) {
        QApplication app(argc, argv);
        return runCheck(args);
    }
    fprintf(stderr, "usage: powercut session DIR DEVICE EXPECT | check DIR EXPECT MARK |"
                    " states LOG SAMPLES SEED | replay LOG IMAGE END SKIPPED\n");
    return 2;
}
