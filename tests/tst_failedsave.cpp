// SPDX-License-Identifier: GPL-3.0-or-later
#include "mainwindow/quillora.h"
#include "notebytes.h"
#include "persistence/notesfile.h"
#include "persistence/notesstore.h"
#include "testsupport.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QTimer>
#include <QTreeWidget>

#ifdef Q_OS_LINUX
#include <csignal>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#endif

using namespace NoteBytes;

// Leaving when notes.dat cannot be written, for real causes: a read-only file system, a
// full disk (a file-size limit) and a folder where no backup of a changed file can be
// made. Needs root for the mounts; they are made in a private mount namespace, so they
// vanish with the test program whatever happens to it.
class TestFailedSave : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void leavingWithNotesThatCannotBeSaved_data();
    void leavingWithNotesThatCannotBeSaved();

private:
    ScopedWorkDir *workDir = nullptr;
};

#ifdef Q_OS_LINUX
namespace {

bool canMount = false;

enum class Place
{
    ReadOnlyFileSystem,
    FullDisk,
    NoRoomForBackup
};
enum class Outcome
{
    NothingShown,
    Rescued,
    NotRescued
};

const QStringList NoteA = {"A", "alpha", "2012-05-01 10:30 AM", "alpha"};
const QStringList NoteB = {"B", "beta", "2012-05-02 11:30 PM", "beta"};
const QByteArray Original = count(1) + row(NoteA);

QByteArray readAll(const QString &name)
{
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeAll(const QString &name, const QByteArray &bytes)
{
    QFile file(name);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

QStringList rescueFiles()
{
    return QDir(rescueDirectory())
        .entryList({QStringLiteral("notes-rescued-*.dat")}, QDir::Files, QDir::Name);
}

QList<QStringList> readRows(const QString &name)
{
    QFile file(name);
    QList<QStringList> rows;
    if (file.open(QIODevice::ReadOnly)) {
        QDataStream stream(&file);
        readNoteRows(stream, rows);
    }
    return rows;
}

// Answers every message box that opens while it lives, with the button of the given text,
// and keeps what the boxes said.
class BoxAnswerer
{
public:
    explicit BoxAnswerer(const QString &buttonText)
    {
        QObject::connect(&poll, &QTimer::timeout, [this, buttonText] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box || !box->isVisible())
                return;
            texts << box->text();
            for (QAbstractButton *button : box->buttons()) {
                if (button->text() == buttonText) {
                    button->click();
                    return;
                }
            }
            box->reject();
        });
        poll.start(10);
    }
    QStringList texts;

private:
    QTimer poll;
};

// A tmpfs at `path` holding notes.dat with one note. For a read-only file system the whole
// mount becomes read-only; for no room for a backup only the folder does, while notes.dat
// itself, mounted over itself, stays writable.
bool mountPlace(const QString &path, Place place)
{
    const QByteArray dir = QFile::encodeName(path);
    const QByteArray notes = dir + "/notes.dat";
    if (::mount("tmpfs", dir.constData(), "tmpfs", 0, "size=1m,mode=0755") != 0 ||
        !writeAll(QString::fromLocal8Bit(notes), Original))
        return false;
    if (place == Place::ReadOnlyFileSystem)
        return ::mount(nullptr, dir.constData(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0;
    return ::mount(notes.constData(), notes.constData(), nullptr, MS_BIND, nullptr) == 0 &&
           ::mount(nullptr, dir.constData(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) ==
               0;
}

void unmountPlace(const QString &path)
{
    const QByteArray dir = QFile::encodeName(path);
    ::umount2((dir + "/notes.dat").constData(), MNT_DETACH);
    ::umount2(dir.constData(), MNT_DETACH);
}

void limitFileSize(rlim_t bytes)
{
    struct rlimit limit;
    ::getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &limit);
}

} // namespace
#endif

void TestFailedSave::init()
{
    workDir = new ScopedWorkDir;
    QDir(rescueDirectory()).removeRecursively();
}

void TestFailedSave::cleanup()
{
#ifdef Q_OS_LINUX
    limitFileSize(RLIM_INFINITY);
    QDir::setCurrent(workDir->path());
    unmountPlace(workDir->filePath(QStringLiteral("place")));
#endif
    delete workDir;
    workDir = nullptr;
}

void TestFailedSave::leavingWithNotesThatCannotBeSaved_data()
{
#ifdef Q_OS_LINUX
    QTest::addColumn<Place>("place");
    QTest::addColumn<bool>("noteAdded");
    QTest::addColumn<bool>("systemAsked");
    QTest::addColumn<Outcome>("outcome");

    QTest::newRow("read-only file system, note added")
        << Place::ReadOnlyFileSystem << true << false << Outcome::Rescued;
    QTest::newRow("read-only file system, nothing changed")
        << Place::ReadOnlyFileSystem << false << false << Outcome::NothingShown;
    QTest::newRow("read-only file system, note added, ended by a signal")
        << Place::ReadOnlyFileSystem << true << true << Outcome::Rescued;
    QTest::newRow("full disk, note added: nowhere to rescue, the user goes back")
        << Place::FullDisk << true << false << Outcome::NotRescued;
    QTest::newRow("full disk, note added, ended by a signal")
        << Place::FullDisk << true << true << Outcome::NotRescued;
    QTest::newRow("file changed by another writer, no backup can be made")
        << Place::NoRoomForBackup << true << false << Outcome::Rescued;
#endif
}

void TestFailedSave::leavingWithNotesThatCannotBeSaved()
{
#ifdef Q_OS_LINUX
    QFETCH(Place, place);
    QFETCH(bool, noteAdded);
    QFETCH(bool, systemAsked);
    QFETCH(Outcome, outcome);

    const QString dir = workDir->filePath(QStringLiteral("place"));
    QVERIFY(QDir().mkpath(dir));
    if (place == Place::FullDisk) {
        QVERIFY(writeAll(dir + QLatin1String("/notes.dat"), Original));
    } else {
        if (!canMount)
            QSKIP("needs root and a mount namespace of its own");
        QVERIFY(mountPlace(dir, place));
    }
    QDir::setCurrent(dir);
    const QString notesPath = QDir(dir).filePath(QStringLiteral("notes.dat"));
    const QByteArray onDisk = place == Place::NoRoomForBackup ? count(1) + row(NoteB) : Original;

    BoxAnswerer answerer(outcome == Outcome::NotRescued ? QStringLiteral("Go Back")
                                                        : QStringLiteral("OK"));
    Quillora window;
    window.show();
    auto *tree = window.findChild<QTreeWidget *>();
    if (noteAdded)
        tree->addTopLevelItem(new QTreeWidgetItem(NoteB));
    const QList<QStringList> rows =
        noteAdded ? QList<QStringList>{NoteA, NoteB} : QList<QStringList>{NoteA};
    if (place == Place::NoRoomForBackup)
        QVERIFY(writeAll(notesPath, onDisk));
    if (place == Place::FullDisk)
        limitFileSize(8);

    if (systemAsked) {
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression(QStringLiteral("^Quillora: could not save the "
                                                               "notes to ") +
                                                QRegularExpression::escape(notesPath)));
        window.closeUnattended();
    } else {
        window.close();
    }
    limitFileSize(RLIM_INFINITY);

    // The file is never harmed, and nothing but the notes of this run is rescued.
    QCOMPARE(readAll(notesPath), onDisk);
    const QStringList rescued = rescueFiles();
    QCOMPARE(rescued.size(), outcome == Outcome::Rescued ? 1 : 0);
    if (!rescued.isEmpty()) {
        const QString rescuePath = QDir(rescueDirectory()).filePath(rescued.first());
        QCOMPARE(describe(readRows(rescuePath)), describe(rows));
        QCOMPARE(QFile::permissions(rescuePath) & 0x7077,
                 QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        if (!systemAsked)
            QVERIFY2(answerer.texts.value(0).contains(rescuePath),
                     qPrintable(answerer.texts.value(0)));
    }

    const bool boxExpected = !systemAsked && outcome != Outcome::NothingShown;
    QCOMPARE(answerer.texts.size(), boxExpected ? 1 : 0);
    if (boxExpected)
        QVERIFY2(answerer.texts.first().contains(notesPath), qPrintable(answerer.texts.first()));
    QCOMPARE(window.notesLost(), systemAsked && outcome == Outcome::NotRescued);

    // Going back keeps every note in the window; the next try saves them.
    const bool wentBack = boxExpected && outcome == Outcome::NotRescued;
    QCOMPARE(window.isVisible(), wentBack);
    if (wentBack) {
        QCOMPARE(tree->topLevelItemCount(), rows.size());
        window.close();
        QVERIFY(!window.isVisible());
        QCOMPARE(describe(readRows(notesPath)), describe(rows));
        QCOMPARE(answerer.texts.size(), 1);
    }
#else
    QSKIP("needs Linux mounts and resource limits");
#endif
}

int main(int argc, char **argv)
{
#ifdef Q_OS_LINUX
    // A full disk must end a write with EFBIG, not end the test program.
    std::signal(SIGXFSZ, SIG_IGN);
    canMount = ::unshare(CLONE_NEWNS) == 0 &&
               ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
#endif
    TestSandbox sandbox;
    QApplication app(argc, argv);
    TestFailedSave test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_failedsave.moc"
