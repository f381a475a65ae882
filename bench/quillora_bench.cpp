// SPDX-License-Identifier: GPL-3.0-or-later
// Measures start-up, reading, saving, memory and single commands with realistic notes files
// of 1,000 to 300,000 notes, each figure against a floor measured in the same run, and
// prints one table. Runs on the offscreen platform; figures are medians after a warm-up.
//   quillora_bench [--quick] [--finding | --recovery]
#include "dialogs/newnote.h"
#include "find/notefinder.h"
#include "find/notematcher.h"
#include "mainwindow/quillora.h"
#include "notesgenerator.h"
#include "persistence/notesfile.h"
#include "persistence/sessionjournal.h"

#include <QApplication>
#include <QDataStream>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QMainWindow>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QTextStream>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>
#include <QtEndian>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

QTextStream out(stdout);

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0 : values.at(values.size() / 2);
}

// Runs `step` once to warm up, then `repetitions` times, and gives the median in ms.
double measure(int repetitions, const std::function<double()> &step)
{
    step();
    QList<double> times;
    for (int i = 0; i < repetitions; ++i)
        times.append(step());
    return median(times);
}

// Measures the program's step and its floor in turns, so that both meet the same state of
// the disk and the page cache; gives the two medians in ms after one warm-up of each.
std::pair<double, double> measurePair(int repetitions, const std::function<double()> &program,
                                      const std::function<double()> &floor)
{
    program();
    floor();
    QList<double> programTimes, floorTimes;
    for (int i = 0; i < repetitions; ++i) {
        programTimes.append(program());
        floorTimes.append(floor());
    }
    return {median(programTimes), median(floorTimes)};
}

// Lets the event loop deliver everything that is pending: layouts, paints, timers.
void settle()
{
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }
}

double elapsedMs(const QElapsedTimer &timer)
{
    return double(timer.nsecsElapsed()) / 1e6;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The floor's decoder: every string straight from the buffer, trusting the layout.
QList<QStringList> decodeDirect(const QByteArray &bytes)
{
    const char *data = bytes.constData();
    const qsizetype size = bytes.size();
    qsizetype pos = 0;
    const auto count = [&] {
        if (size - pos < 4)
            return quint32(0);
        pos += 4;
        return qFromBigEndian<quint32>(data + pos - 4);
    };
    QList<QStringList> rows;
    const quint32 rowCount = count();
    rows.reserve(qMin<qsizetype>(rowCount, size / 4));
    for (quint32 i = 0; i < rowCount && pos < size; ++i) {
        QStringList row;
        const quint32 strings = count();
        row.reserve(strings);
        for (quint32 j = 0; j < strings; ++j) {
            const quint32 length = count();
            if (length == 0xFFFFFFFFu || length > size - pos) {
                row.append(QString());
                continue;
            }
            QString text(length / 2, Qt::Uninitialized);
            qFromBigEndian<char16_t>(data + pos, length / 2, text.data());
            pos += length;
            row.append(text);
        }
        rows.append(row);
    }
    return rows;
}

// A bare list configured as the program's.
QTreeWidget *makeBareTree()
{
    auto *tree = new QTreeWidget;
    tree->setColumnCount(4);
    tree->setHeaderLabels({"Title", "Note", "Date", "hidden column"});
    QFont font;
    font.setPointSize(9);
    tree->setFont(font);
    tree->setColumnWidth(0, 100);
    tree->setColumnWidth(1, 250);
    tree->setColumnWidth(2, 50);
    tree->setColumnHidden(3, true);
    tree->setUniformRowHeights(true);
    tree->resize(482, 200);
    return tree;
}

void fillTree(QTreeWidget *tree, const QList<QStringList> &rows)
{
    QList<QTreeWidgetItem *> items;
    items.reserve(rows.size());
    for (const QStringList &row : rows)
        items.append(new QTreeWidgetItem(row));
    tree->addTopLevelItems(items);
}

// Start-up of the program in `dir`, whose notes.dat it loads, until shown, painted, idle.
double startProgram(const QString &dir)
{
    QDir::setCurrent(dir);
    QElapsedTimer timer;
    timer.start();
    Quillora window;
    window.show();
    settle();
    return elapsedMs(timer);
}

double startFloor(const QString &file)
{
    QElapsedTimer timer;
    timer.start();
    const QList<QStringList> rows = decodeDirect(readFile(file));
    QTreeWidget *tree = makeBareTree();
    fillTree(tree, rows);
    tree->show();
    settle();
    const double ms = elapsedMs(timer);
    delete tree;
    return ms;
}

double startBareWindow()
{
    QElapsedTimer timer;
    timer.start();
    QMainWindow window;
    window.resize(500, 350);
    window.setCentralWidget(makeBareTree());
    window.show();
    settle();
    return elapsedMs(timer);
}

// The rows of a notes file, as the program's reader gives them.
QList<QStringList> readRows(const QString &file)
{
    QFile device(file);
    device.open(QIODevice::ReadOnly);
    QDataStream stream(&device);
    stream.setVersion(QDataStream::Qt_4_6);
    QList<QStringList> rows;
    readNoteRows(stream, rows);
    return rows;
}

double readProgram(const QString &file)
{
    QElapsedTimer timer;
    timer.start();
    readRows(file);
    return elapsedMs(timer);
}

double readFloor(const QString &file)
{
    QElapsedTimer timer;
    timer.start();
    const QList<QStringList> rows = decodeDirect(readFile(file));
    return elapsedMs(timer);
}

// Writes back what earlier saves left in the page cache, so that no save pays for the one
// before it: without this the figures vary several-fold with the kernel's writeback.
void flushDirtyPages()
{
#ifdef Q_OS_UNIX
    ::sync();
#endif
}

// One write of bytes already encoded, a flush to disk, a rename and a flush of the folder:
// the least a save that lasts through a power cut does.
double saveFloor(const QString &dir, const QByteArray &bytes)
{
    const QString target = QDir(dir).filePath("floor.dat");
    QElapsedTimer timer;
    timer.start();
    QFile file(target + ".tmp");
    file.open(QIODevice::WriteOnly);
    file.write(bytes);
    file.flush();
#ifdef Q_OS_UNIX
    ::fsync(file.handle());
#endif
    file.close();
    std::rename(QFile::encodeName(target + ".tmp").constData(),
                QFile::encodeName(target).constData());
#ifdef Q_OS_UNIX
    const int folder = ::open(QFile::encodeName(dir).constData(), O_RDONLY | O_DIRECTORY);
    ::fsync(folder);
    ::close(folder);
#endif
    return elapsedMs(timer);
}

qint64 peakRssKb()
{
    const QList<QByteArray> lines = readFile("/proc/self/status").split('\n');
    for (const QByteArray &line : lines)
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    return -1;
}

// Peak memory of one start-up, measured in a process of its own.
qint64 childPeakKb(const QString &mode, const QString &path)
{
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {"--child", mode, path});
    child.waitForFinished(-1);
    return child.readAllStandardOutput().trimmed().toLongLong();
}

// A journal of `changes` changes of a crashed session over the notes in `dir`: edits,
// deletes and additions spread over the list.
void writeCrashedJournal(const QString &dir, int rows, int changes)
{
    const QString notes = QDir(dir).filePath("notes.dat");
    SessionJournal journal(notes);
    journal.recover(stampOf(notes), rows);
    const QStringList row = {"Changed", "a changed note", "2026-12-09 10:00 AM", "a changed note"};
    for (int i = 0; i < changes; ++i) {
        const int position = int((quint64(i) * 2654435761u) % quint64(rows));
        switch (i % 3) {
        case 0:
            journal.recordChange(SessionJournal::Change::Replace, position, row);
            break;
        case 1:
            journal.recordChange(SessionJournal::Change::Remove, position);
            --rows;
            break;
        default:
            journal.recordChange(SessionJournal::Change::Insert, rows, row);
            ++rows;
        }
    }
}

// Start-up after a crash, the box that says so answered at once.
double startRecovering(const QString &dir)
{
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget()))
            box->accept();
    });
    answer.start(0);
    return startProgram(dir);
}

// A warm start-up in a function of its own, for profiling:
//   valgrind --tool=callgrind --toggle-collect='*warmStartup*' quillora_bench --child warm DIR
// (after a crash too: "--child crash DIR" leaves a journal that each start-up replays)
Q_NEVER_INLINE void warmStartup(const QString &dir)
{
    startRecovering(dir);
}

// The same for the floor:  ... --toggle-collect='*warmFloor*' quillora_bench --child warm-floor DIR
Q_NEVER_INLINE void warmFloor(const QString &dir)
{
    startFloor(QDir(dir).filePath("notes.dat"));
}

// One command in a window already shown, for profiling, e.g.
//   valgrind --tool=callgrind --toggle-collect='*profiledCommand*' quillora_bench --child add DIR
// with "add", "done", "delete" or "deleteall".
Q_NEVER_INLINE void profiledCommand(Quillora &window, const QString &command)
{
    auto *tree = window.findChild<QTreeWidget *>();
    auto *newDialog = window.findChild<NewNote *>();
    if (command == "add") {
        newDialog->titleEdit->setText("A new note");
        newDialog->noteEdit->setPlainText("Its text,\non two lines.");
        QMetaObject::invokeMethod(&window, "setTreeWidget");
    } else if (command == "done") {
        QMetaObject::invokeMethod(&window, "editTreeWidget");
    } else if (command == "delete") {
        QMetaObject::invokeMethod(&window, "deleteNote");
    } else if (command == "deleteall") {
        QTimer answer;
        QObject::connect(&answer, &QTimer::timeout, [] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget()))
                box->button(QMessageBox::Yes)->click();
        });
        answer.start(0);
        QMetaObject::invokeMethod(&window, "deleteAll");
    }
    settle();
    tree->viewport()->repaint();
}

// The main window's find field.
QLineEdit *findField(const QWidget &window)
{
    for (QLineEdit *candidate : window.findChildren<QLineEdit *>())
        if (candidate->accessibleName() == QLatin1String("Find"))
            return candidate;
    return nullptr;
}

// Types `query` into the find field at once and waits for the full count.
void searchFor(const QWidget &window, const QString &query)
{
    auto *finder = window.findChild<NoteFinder *>();
    findField(window)->setText(query);
    while (!finder->isScanning())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    while (finder->isScanning())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    settle();
}

// A word that the generated notes hold here and there, for a search that is active.
const QString ActiveQuery = QStringLiteral("deadline budget");

int runChild(const QString &mode, const QString &path)
{
    if (mode == "add" || mode == "done" || mode == "delete" || mode == "deleteall") {
        QDir::setCurrent(path);
        auto *window = new Quillora;
        window->show();
        settle();
        auto *tree = window->findChild<QTreeWidget *>();
        tree->setCurrentItem(tree->topLevelItem(50));
        // Done is given in an Edit Note window already open.
        if (mode == "done")
            QMetaObject::invokeMethod(window, "editNote");
        settle();
        profiledCommand(*window, mode);
        std::_Exit(0);
    }
    if (mode == "crash") {
        // A crashed session's journal of 10000 changes over DIR/notes.dat, which a "warm"
        // start-up then replays each time.
        writeCrashedJournal(path, int(readRows(QDir(path).filePath("notes.dat")).size()), 10000);
        return 0;
    }
    if (mode == "warm") {
        startRecovering(path);
        warmStartup(path);
    } else if (mode == "warm-floor") {
        startFloor(QDir(path).filePath("notes.dat"));
        warmFloor(path);
    } else if (mode == "program" || mode == "searching") {
        QDir::setCurrent(path);
        auto *window = new Quillora;
        window->show();
        settle();
        if (mode == "searching")
            searchFor(*window, ActiveQuery);
    } else if (mode == "floor") {
        const QList<QStringList> rows = decodeDirect(readFile(path));
        QTreeWidget *tree = makeBareTree();
        fillTree(tree, rows);
        tree->show();
        settle();
    }
    std::printf("%lld\n", peakRssKb());
    std::fflush(stdout);
    std::_Exit(0);
}

QString writeNotesDir(const QString &root, const QString &name, const QByteArray &bytes)
{
    const QString dir = QDir(root).filePath(name);
    QDir().mkpath(dir);
    QFile file(QDir(dir).filePath("notes.dat"));
    file.open(QIODevice::WriteOnly);
    file.write(bytes);
    return dir;
}

struct Row
{
    QString figure;
    double value;
    double floor;
    QString unit;
    double limit; // the ratio the target allows
};

QList<Row> table;

void report(const QString &figure, double value, double floor, const QString &unit, double limit);

// Finding: one pass of the matcher over every note's title and text, case and accents
// ignored, against one case-sensitive QStringView::indexOf pass over the same text, both on
// one thread. The word is found nowhere, so that every note is looked at whole.
void reportFinding(const QList<QStringList> &rows)
{
    const QString word = QStringLiteral("zqxjv");
    const NoteQuery query(word);
    int found = 0;
    // The floor of both passes.
    const auto plainPass = [&] {
        QElapsedTimer timer;
        timer.start();
        for (const QStringList &row : rows)
            found += QStringView(row.at(0)).indexOf(word) >= 0 ||
                     QStringView(row.at(3)).indexOf(word) >= 0;
        return elapsedMs(timer);
    };
    const auto [matcher, plain] = measurePair(
        5,
        [&] {
            QElapsedTimer timer;
            timer.start();
            for (const QStringList &row : rows)
                found += query.matches(row.at(0), row.at(3));
            return elapsedMs(timer);
        },
        plainPass);
    report(QString("finding, a full pass over %1 notes, one thread, vs indexOf").arg(rows.size()),
           matcher, plain, "ms", 0);
    // The same pass on every core, chunks of 2048 notes taken in turn, against the same floor.
    const int threads = QThread::idealThreadCount();
    const auto [parallel, plainAgain] = measurePair(
        5,
        [&] {
            QElapsedTimer timer;
            timer.start();
            std::atomic<int> next{0}, hits{0};
            std::vector<std::thread> pool;
            for (int i = 0; i < threads; ++i)
                pool.emplace_back([&] {
                    int local = 0;
                    for (int begin; (begin = next.fetch_add(2048)) < rows.size();)
                        for (int row = begin; row < std::min<int>(begin + 2048, rows.size()); ++row)
                            local += query.matches(rows.at(row).at(0), rows.at(row).at(3));
                    hits += local;
                });
            for (std::thread &thread : pool)
                thread.join();
            found += hits;
            return elapsedMs(timer);
        },
        plainPass);
    report(QString("finding, a full pass over %1 notes, %2 threads, vs indexOf on one")
               .arg(rows.size())
               .arg(threads),
           parallel, plainAgain, "ms", 0);
    if (found)
        out << "  (the word was found: " << found << ")\n";
}

// The word that only the note a tenth of the way down the list holds, in the notes of
// findingDir.
const QString PlantedWord = QStringLiteral("qorvantix");

// Plants PlantedWord in the note a tenth of the way down `rows`, and writes the notes to a
// folder of their own.
QString findingDir(const QString &root, QList<QStringList> &rows)
{
    QStringList &planted = rows[rows.size() / 10];
    planted[3] += QStringLiteral(" and ") + PlantedWord;
    return writeNotesDir(root, QString("find%1").arg(rows.size()), encodeNotes(rows));
}

// Finding in the window over the notes of findingDir(rows):
// - from the pause in typing to the full count, and the longest time the event loop was held
//   meanwhile, seen by a timer due every millisecond (the floor of the count is the indexOf
//   pass of reportFinding);
// - from the pause to the first match, a tenth of the way down from the current note, made
//   current and shown in the viewer, against an indexOf scan on one thread up to it.
void reportFindingInWindow(const QString &dir, const QList<QStringList> &rows)
{
    const int size = int(rows.size());
    QDir::setCurrent(dir);
    Quillora window;
    window.show();
    settle();
    auto *finder = window.findChild<NoteFinder *>();
    auto *tree = window.findChild<QTreeWidget *>();
    QTextEdit *viewer = nullptr;
    for (QTextEdit *candidate : window.findChildren<QTextEdit *>())
        if (candidate->window() == &window)
            viewer = candidate;
    QLineEdit *field = findField(window);
    const auto waitFor = [](const std::function<bool()> &done) {
        while (!done())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    };
    QList<double> counts, held, firsts;
    for (int round = 0; round < 5; ++round) {
        field->clear();
        settle();
        QElapsedTimer timer;
        double longest = 0;
        QElapsedTimer sinceTick;
        QTimer tick;
        tick.setInterval(1);
        QObject::connect(&tick, &QTimer::timeout, [&] {
            longest = std::max(longest, elapsedMs(sinceTick));
            sinceTick.start();
        });
        field->setText(QStringLiteral("zqxjv"));
        // The pause, then the scan.
        waitFor([&] { return finder->isScanning(); });
        timer.start();
        sinceTick.start();
        tick.start();
        waitFor([&] { return !finder->isScanning(); });
        counts << elapsedMs(timer);
        held << longest;
    }
    const int target = size / 10;
    for (int round = 0; round < 5; ++round) {
        field->clear();
        tree->setCurrentItem(tree->topLevelItem(0));
        settle();
        field->setText(PlantedWord);
        waitFor([&] { return finder->isScanning(); });
        QElapsedTimer timer;
        timer.start();
        waitFor([&] {
            return tree->currentIndex().row() == target &&
                   viewer->toPlainText().contains(PlantedWord);
        });
        firsts << elapsedMs(timer);
        waitFor([&] { return !finder->isScanning(); });
    }
    const double upToIt = measure(5, [&] {
        QElapsedTimer timer;
        timer.start();
        int row = 0;
        while (row < size - 1 && QStringView(rows.at(row).at(0)).indexOf(PlantedWord) < 0 &&
               QStringView(rows.at(row).at(3)).indexOf(PlantedWord) < 0)
            ++row;
        return row == target ? elapsedMs(timer) : -1;
    });
    std::sort(counts.begin(), counts.end());
    std::sort(held.begin(), held.end());
    std::sort(firsts.begin(), firsts.end());
    report(QString("finding in the window, full count, %1 notes, vs 1 s").arg(size), counts.at(2),
           1000, "ms", 1.0);
    report(QString("finding in the window, longest hold of the event loop, %1 notes, vs 16 ms")
               .arg(size),
           held.at(4), 16, "ms", 1.0);
    report(QString("finding in the window, first match a tenth of the way down, %1 notes, vs "
                   "indexOf up to it")
               .arg(size),
           firsts.at(2), upToIt, "ms", 0);
    report(QString("finding in the window, first match a tenth of the way down, %1 notes, vs "
                   "100 ms")
               .arg(size),
           firsts.at(2), 100, "ms", 1.0);
}

// The start-up after a crash, against a plain one of the same notes.
void reportRecovery(const QString &root, const QString &plainDir, const QByteArray &file, int rows)
{
    const QString crashedDir = writeNotesDir(root, QString("n%1-crashed").arg(rows), file);
    out << "  writing a journal of 10000 changes\n";
    out.flush();
    writeCrashedJournal(crashedDir, rows, 10000);
    const auto [recovering, plain] = measurePair(
        9, [&] { return startRecovering(crashedDir); }, [&] { return startProgram(plainDir); });
    report(QString("start-up, %1 notes, with a journal of 10000 changes").arg(rows), recovering,
           plain, "ms", 1.15);
}

void report(const QString &figure, double value, double floor, const QString &unit, double limit)
{
    table.append({figure, value, floor, unit, limit});
    out << "  " << figure << ": " << QString::number(value, 'f', 2) << ' ' << unit << " (floor "
        << QString::number(floor, 'f', 2) << ")\n";
    out.flush();
}

// The journals of windows left without a save go.
void removeJournals(const QString &dir)
{
    for (const QString &name :
         QDir(dir).entryList({".notes.dat.journal*"}, QDir::Files | QDir::Hidden))
        QFile::remove(QDir(dir).filePath(name));
}

// Times one command, settled and repainted, after `prepare`, which is not timed.
double timedCommand(QTreeWidget *tree, const std::function<void()> &prepare,
                    const std::function<void()> &command)
{
    prepare();
    settle();
    QElapsedTimer timer;
    timer.start();
    command();
    settle();
    tree->viewport()->repaint();
    return elapsedMs(timer);
}

enum Command
{
    Adding,
    Editing,
    Showing,
    Deleting,
    DeletingAll,
    CommandCount
};
const char *const CommandNames[] = {"adding one note", "editing one note (Done)",
                                    "showing one note", "deleting one note", "deleting all notes"};

// Each command with the notes of `dir` in the list, in ms: the program's, and the floor's,
// the same change made to a bare list of the same configuration holding the same rows.
// Delete All starts from a full list each time: a new window, a bare list filled anew.
// With a query, each command but Delete All is given with a search for it active.
std::pair<QList<double>, QList<double>> commandTimes(const QString &dir, int repetitions,
                                                     const QString &query = {})
{
    QList<double> program(CommandCount), floor(CommandCount);
    QDir::setCurrent(dir);
    const QStringList newRow = {"A new note", "Its text, on two lines.", "2026-12-09 10:00 AM",
                                "Its text,\non two lines."};
    {
        Quillora window;
        window.show();
        settle();
        if (!query.isEmpty())
            searchFor(window, query);
        auto *tree = window.findChild<QTreeWidget *>();
        auto *newDialog = window.findChild<NewNote *>();
        QTreeWidget *bare = makeBareTree();
        fillTree(bare, decodeDirect(readFile(QDir(dir).filePath("notes.dat"))));
        bare->show();
        // Row 50 and its neighbours hold the same notes in every list (same seed).
        const auto middle = [&] {
            tree->setCurrentItem(tree->topLevelItem(50));
        };
        const auto bareMiddle = [&] {
            bare->setCurrentItem(bare->topLevelItem(50));
        };
        const auto pairWith = [&](Command command, const std::function<void()> &prepare,
                                  const std::function<void()> &run,
                                  const std::function<void()> &floorPrepare,
                                  const std::function<void()> &floorRun) {
            const auto [measured, floorMs] = measurePair(
                repetitions, [&] { return timedCommand(tree, prepare, run); },
                [&] { return timedCommand(bare, floorPrepare, floorRun); });
            program[command] = measured;
            floor[command] = floorMs;
        };
        const auto pair = [&](Command command, const std::function<void()> &prepare,
                              const std::function<void()> &run,
                              const std::function<void()> &floorRun) {
            pairWith(command, prepare, run, bareMiddle, floorRun);
        };
        pair(
            Adding,
            [&] {
                newDialog->titleEdit->setText("A new note");
                newDialog->noteEdit->setPlainText("Its text,\non two lines.");
            },
            [&] { QMetaObject::invokeMethod(&window, "setTreeWidget"); },
            [&] { bare->addTopLevelItem(new QTreeWidgetItem(newRow)); });
        // Done is timed from the click in an Edit Note window already open; the floor
        // closes a window of its own too.
        QDialog bareDialog;
        pairWith(
            Editing,
            [&] {
                middle();
                QMetaObject::invokeMethod(&window, "editNote");
            },
            [&] { QMetaObject::invokeMethod(&window, "editTreeWidget"); },
            [&] {
                bareMiddle();
                bareDialog.show();
            },
            [&] {
                QTreeWidgetItem *item = bare->currentItem();
                for (int column = 0; column < 4; ++column)
                    item->setText(column, newRow.at(column));
                bareDialog.close();
            });
        pair(
            Showing, middle, [&] { QMetaObject::invokeMethod(&window, "showNote"); }, [] {});
        pair(
            Deleting, middle, [&] { QMetaObject::invokeMethod(&window, "deleteNote"); },
            [&] { delete bare->takeTopLevelItem(bare->currentIndex().row()); });
        delete bare;
    }
    removeJournals(dir);
    if (!query.isEmpty())
        return {program, floor};
    // The confirmation is answered at once.
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget()))
            box->button(QMessageBox::Yes)->click();
    });
    answer.start(0);
    const auto [all, allFloor] = measurePair(
        qMin(repetitions, 5),
        [&] {
            double ms;
            {
                Quillora window;
                window.show();
                auto *tree = window.findChild<QTreeWidget *>();
                ms = timedCommand(
                    tree, [&] { tree->setCurrentItem(tree->topLevelItem(50)); },
                    [&] { QMetaObject::invokeMethod(&window, "deleteAll"); });
            }
            removeJournals(dir);
            return ms;
        },
        [&] {
            // The bare list is the only holder of its strings, as the program's list is.
            std::unique_ptr<QTreeWidget> bare(makeBareTree());
            fillTree(bare.get(), decodeDirect(readFile(QDir(dir).filePath("notes.dat"))));
            bare->show();
            // After the same question, answered at once.
            return timedCommand(
                bare.get(), [&] { bare->setCurrentItem(bare->topLevelItem(50)); },
                [&] {
                    if (QMessageBox::warning(
                            bare.get(), "Are you sure?", "You are going to delete all notes",
                            QMessageBox::Yes | QMessageBox::Cancel) == QMessageBox::Yes)
                        bare->clear();
                });
        });
    program[DeletingAll] = all;
    floor[DeletingAll] = allFloor;
    return {program, floor};
}

// The value below which `share` of the values lie.
double percentile(QList<double> values, double share)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0
                            : values.at(qMin(values.size() - 1, qsizetype(values.size() * share)));
}

qint64 journalBytes(const QString &dir)
{
    qint64 bytes = 0;
    for (const QFileInfo &file :
         QDir(dir).entryInfoList({".notes.dat.journal*"}, QDir::Files | QDir::Hidden))
        bytes += file.size();
    return bytes;
}

// What the session journal costs: each command's commit, beside what one fdatasync of a
// page costs on the same disk; and its size after 1,000 commands and ten minutes of typing
// (a draft a second), in KiB.
struct JournalCosts
{
    QList<double> commits;
    QList<double> syncs;
    double sizeKb = 0;
};

JournalCosts journalCosts(const QString &dir, int rows)
{
    JournalCosts costs;
    const QString notes = QDir(dir).filePath("notes.dat");
    {
        SessionJournal journal(notes);
        journal.recover(stampOf(notes), rows);
        const QStringList row = {"A new note", "Its text, on two lines.", "2026-12-09 10:00 AM",
                                 QString(500, u'x')};
        for (int i = 0; i < 1000; ++i) {
            QElapsedTimer timer;
            timer.start();
            journal.recordChange(
                i % 2 ? SessionJournal::Change::Remove : SessionJournal::Change::Insert, rows, row);
            costs.commits.append(elapsedMs(timer));
        }
        SessionJournal::Draft draft;
        for (int second = 0; second < 600; ++second) {
            draft.title = "Typing";
            draft.text = QString(second * 10, u'y');
            journal.recordDraft(draft);
        }
        costs.sizeKb = journalBytes(dir) / 1024.0;
        journal.remove();
    }
#ifdef Q_OS_UNIX
    const QByteArray page(4096, 'p');
    const int fd = ::open(QFile::encodeName(QDir(dir).filePath("sync.probe")).constData(),
                          O_WRONLY | O_CREAT | O_TRUNC, 0600);
    for (int i = 0; fd >= 0 && i < 300; ++i) {
        QElapsedTimer timer;
        timer.start();
        if (::write(fd, page.constData(), size_t(page.size())) != page.size() ||
            ::fdatasync(fd) != 0)
            break;
        costs.syncs.append(elapsedMs(timer));
    }
    if (fd >= 0)
        ::close(fd);
    QFile::remove(QDir(dir).filePath("sync.probe"));
#endif
    return costs;
}

// Everything about finding, with the notes of `dir` (`size` generated notes): the matcher's
// speed, the window's while it finds, its memory with a search active, and the commands
// given with one active against the same without.
void reportSearching(const QString &root, const QString &dir, int size, int repetitions)
{
    {
        QList<QStringList> rows = generateNotes(size, 2026);
        reportFinding(rows);
        const QString planted = findingDir(root, rows);
        reportFindingInWindow(planted, rows);
    }
    report(QString("peak memory, %1 notes, a search active vs none").arg(size),
           childPeakKb("searching", dir) / 1024.0, childPeakKb("program", dir) / 1024.0, "MiB",
           1.05);
    const QList<double> without = commandTimes(dir, repetitions).first;
    removeJournals(dir);
    const QList<double> with = commandTimes(dir, repetitions, ActiveQuery).first;
    removeJournals(dir);
    for (Command command : {Adding, Editing, Deleting})
        report(
            QString("%1, %2 notes, a search active vs none").arg(CommandNames[command]).arg(size),
            with[command], without[command], "ms", 1.1);
}

} // namespace

// The table of every figure reported, for the README.
int printTable()
{
    out << "\n| figure | measured | floor | ratio | target | met "
           "|\n|---|---:|---:|---:|---:|:-:|\n";
    for (const Row &row : std::as_const(table)) {
        const double ratio = row.floor > 0 ? row.value / row.floor : 0;
        QString target = "-";
        QString met = "-";
        if (row.limit > 0) {
            target = QString("≤ %1×").arg(row.limit, 0, 'g', 3);
            met = ratio <= row.limit ? "yes" : "NO";
        } else if (row.limit < 0) {
            target = QString("≤ +%1 MiB").arg(-row.limit, 0, 'f', 0);
            met = row.value - row.floor <= -row.limit ? "yes" : "NO";
        }
        out << "| " << row.figure << " | " << QString::number(row.value, 'f', 2) << ' ' << row.unit
            << " | " << QString::number(row.floor, 'f', 2) << ' ' << row.unit << " | "
            << QString::number(ratio, 'f', 2) << " | " << target << " | " << met << " |\n";
    }
    out.flush();
    return 0;
}

int main(int argc, char **argv)
{
    if (argc == 4 && QByteArray(argv[1]) == "--child") {
        QApplication app(argc, argv);
        return runChild(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
    }
    QTemporaryDir root;
    qputenv("XDG_CONFIG_HOME", QDir(root.path()).filePath("config").toLocal8Bit());
    QApplication app(argc, argv);
    const bool quick = app.arguments().contains("--quick");
    // alone, at 300000 notes (10000 with --quick).
    // alone, at 100000 notes.
    if (app.arguments().contains("--finding")) {
        const int size = quick ? 10000 : 300000;
        out << "Measuring\n";
        const QString dir = writeNotesDir(root.path(), QString("n%1").arg(size),
                                          encodeNotes(generateNotes(size, 2026)));
        reportSearching(root.path(), dir, size, quick ? 11 : 7);
        return printTable();
    }
    const bool recoveryOnly = app.arguments().contains("--recovery");
    const QList<int> sizes = recoveryOnly ? QList<int>{100000}
                             : quick      ? QList<int>{1000, 10000}
                                          : QList<int>{1000, 10000, 100000, 300000};

    out << "Preparing notes files in " << root.path() << '\n';
    QMap<int, QString> dirs;
    QMap<int, QByteArray> files;
    for (int size : sizes) {
        files[size] = encodeNotes(generateNotes(size, 2026));
        dirs[size] = writeNotesDir(root.path(), QString("n%1").arg(size), files[size]);
        out << "  " << size << " notes: " << files[size].size() / 1024 << " KiB\n";
        out.flush();
    }
    const QString emptyDir = writeNotesDir(root.path(), "empty", QByteArray(4, '\0'));
    // Both counts say 0xFFFFFFFF; the one string that is there reads "AAAAAAAAAAAAAA".
    QByteArray hostile = QByteArray(12, '\0') + QByteArray("\0A").repeated(14);
    qToBigEndian(0xFFFFFFFFu, hostile.data());
    qToBigEndian(0xFFFFFFFFu, hostile.data() + 4);
    qToBigEndian(28u, hostile.data() + 8);
    const QString hostileDir = writeNotesDir(root.path(), "hostile", hostile);
    const auto repetitionsFor = [](int size) {
        return size >= 300000 ? 5 : size >= 100000 ? 7 : 11;
    };

    out << "Measuring\n";
    if (recoveryOnly) {
        reportRecovery(root.path(), dirs[100000], files[100000], 100000);
        return printTable();
    }
    QMap<int, double> startMs, saveMs, startFloorPerNote, saveFloorPerNote;
    for (int size : sizes) {
        const int repetitions = repetitionsFor(size);
        const QString file = QDir(dirs[size]).filePath("notes.dat");
        const auto [start, startFloorMs] = measurePair(
            repetitions, [&] { return startProgram(dirs[size]); },
            [&] { return startFloor(file); });
        startMs[size] = start;
        startFloorPerNote[size] = startFloorMs / size;
        report(QString("start-up, %1 notes").arg(size), start, startFloorMs, "ms",
               size == 10000 || size == 100000 ? 1.2 : 0);
        const auto [read, readFloorMs] = measurePair(
            repetitions, [&] { return readProgram(file); }, [&] { return readFloor(file); });
        report(QString("reading, %1 notes").arg(size), read, readFloorMs, "ms", 1.3);
        {
            QDir::setCurrent(dirs[size]);
            Quillora window;
            const auto [save, saveFloorMs] = measurePair(
                repetitions,
                [&] {
                    flushDirtyPages();
                    QElapsedTimer timer;
                    timer.start();
                    QMetaObject::invokeMethod(&window, "writeSettingsWhenExit");
                    return elapsedMs(timer);
                },
                [&] {
                    flushDirtyPages();
                    return saveFloor(dirs[size], files[size]);
                });
            saveMs[size] = save;
            saveFloorPerNote[size] = saveFloorMs / size;
            report(QString("exit save, %1 notes").arg(size), save, saveFloorMs, "ms", 1.3);
        }
    }

    if (sizes.contains(100000)) {
        report("peak memory, 100000 notes", childPeakKb("program", dirs[100000]) / 1024.0,
               childPeakKb("floor", QDir(dirs[100000]).filePath("notes.dat")) / 1024.0, "MiB", 1.2);
    }

    const int big = sizes.contains(100000) ? 100000 : sizes.last();
    const QString smallDir =
        writeNotesDir(root.path(), "n100", encodeNotes(generateNotes(100, 2026)));
    const QList<double> withFew = commandTimes(smallDir, 15).first;
    removeJournals(smallDir);
    for (int size : sizes) {
        if (size < 100000 && size != big)
            continue;
        const auto [withMany, floors] = commandTimes(dirs[size], size >= 300000 ? 7 : 11);
        removeJournals(dirs[size]);
        for (int command = 0; command < CommandCount; ++command) {
            const QString name = QString("%1, %2 notes").arg(CommandNames[command]).arg(size);
            report(name + " vs a bare list", withMany[command], floors[command], "ms",
                   command == Showing ? 0 : 1.2);
            report(name + " vs 100", withMany[command], withFew[command], "ms", 1.5);
        }
    }

    // The session journal, on this machine's disk (the notes are in a temporary folder:
    // where that is a tmpfs, a sync costs nothing).
    const JournalCosts costs = journalCosts(dirs[big], big);
    report(QString("journal commit per command, %1 notes, median vs fdatasync").arg(big),
           median(costs.commits), median(costs.syncs), "ms", 0);
    report(QString("journal commit per command, %1 notes, 99th percentile vs fdatasync").arg(big),
           percentile(costs.commits, 0.99), percentile(costs.syncs, 0.99), "ms", 0);
    const JournalCosts fewCosts = journalCosts(smallDir, 100);
    report(QString("journal after 1000 commands and 600 drafts, %1 notes vs 100").arg(big),
           costs.sizeKb, fewCosts.sizeKb, "KiB", 1.1);
    reportRecovery(root.path(), dirs[big], files[big], big);
    reportSearching(root.path(), dirs[sizes.last()], sizes.last(), repetitionsFor(sizes.last()));

    const double emptyStart = measure(15, [&] { return startProgram(emptyDir); });
    // The program builds its menus, tool bar, icons and both note windows besides: no target.
    report("start-up, empty notes.dat, vs a bare window with an empty list", emptyStart,
           measure(15, startBareWindow), "ms", 0);
    report("start-up, 40-byte file counting 0xFFFFFFFF",
           measure(15, [&] { return startProgram(hostileDir); }), emptyStart, "ms", 1.1);
    const double emptyPeak = childPeakKb("program", emptyDir) / 1024.0;
    const double hostilePeak = childPeakKb("program", hostileDir) / 1024.0;
    table.append(
        {"peak memory, 40-byte file counting 0xFFFFFFFF", hostilePeak, emptyPeak, "MiB", -2.0});

    if (sizes.contains(300000)) {
        report("start-up per note, 300000 vs 10000", startMs[300000] / 300000 * 1000,
               startMs[10000] / 10000 * 1000, "µs", 1.3);
        report("exit save per note, 300000 vs 10000", saveMs[300000] / 300000 * 1000,
               saveMs[10000] / 10000 * 1000, "µs", 1.3);
        // The same growth of the floors: what the toolkit and the machine add by themselves.
        report("floor start-up per note, 300000 vs 10000", startFloorPerNote[300000] * 1000,
               startFloorPerNote[10000] * 1000, "µs", 0);
        report("floor save per note, 300000 vs 10000", saveFloorPerNote[300000] * 1000,
               saveFloorPerNote[10000] * 1000, "µs", 0);
    }

    return printTable();
}
