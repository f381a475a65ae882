// SPDX-License-Identifier: GPL-3.0-or-later
#include "mainwindow/quillora.h"
#include "notebytes.h"
#include "persistence/notesfile.h"
#include "persistence/notesstore.h"
#include "testsupport.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QSettings>
#include <QTimer>
#include <QTreeWidget>

#include <optional>

#ifdef Q_OS_LINUX
#include <csignal>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#endif

using namespace NoteBytes;

// Leaving when notes.dat cannot be written, for real causes: a read-only file system, a
// full disk (a file-size limit), a folder where no backup of a changed file can be made,
// and system calls of the save that fail. Needs root for the mounts; they are made in a
// private mount namespace, so they vanish with the test program whatever happens to it.
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
    NoRoomForBackup,
    // Replaced by a file of over a mebibyte, with a file-size limit of one mebibyte.
    NoRoomForWholeBackup,
    Ordinary,
    ChangedByAnotherWriter
};
enum class Change
{
    None,
    Added,
    Edited,
    Deleted,
    AllDeleted
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
const QByteArray Rename = "posix/io/dir/rename";
const QByteArray Sync = "posix/io/sync/fsync";

QByteArray bytesOf(const QList<QStringList> &rows)
{
    QByteArray bytes = count(quint32(rows.size()));
    for (const QStringList &note : rows)
        bytes += row(note);
    return bytes;
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
        ++UnexpectedBoxGuard::expected;
        QObject::connect(&poll, &QTimer::timeout, [this, buttonText] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box || !box->isVisible())
                return;
            // Paths and the system's words are shown as they are, never as markup.
            texts << (box->textFormat() == Qt::PlainText ? box->text() : QStringLiteral("markup"));
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
    ~BoxAnswerer() { --UnexpectedBoxGuard::expected; }
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
    if (::mount("tmpfs", dir.constData(), "tmpfs", 0, "size=4m,mode=0755") != 0 ||
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
    // Where the window already is: leaving writes no settings, so the system calls counted
    // are those of the notes alone.
    QSettings(QStringLiteral("Tolvane"), QStringLiteral("Quillora"))
        .setValue(QStringLiteral("pos"), QPoint(200, 200));
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
    QTest::addColumn<Change>("change");
    QTest::addColumn<QByteArrayList>("failing");
    QTest::addColumn<bool>("systemAsked");
    QTest::addColumn<Outcome>("outcome");

    const QByteArrayList none;
    QTest::newRow("read-only file system, note added")
        << Place::ReadOnlyFileSystem << Change::Added << none << false << Outcome::Rescued;
    QTest::newRow("read-only file system, nothing changed")
        << Place::ReadOnlyFileSystem << Change::None << none << false << Outcome::NothingShown;
    QTest::newRow("read-only file system, note added, ended by a signal")
        << Place::ReadOnlyFileSystem << Change::Added << none << true << Outcome::Rescued;
    QTest::newRow("full disk, note added: nowhere to rescue, the user goes back")
        << Place::FullDisk << Change::Added << none << false << Outcome::NotRescued;
    QTest::newRow("full disk, note added, ended by a signal")
        << Place::FullDisk << Change::Added << none << true << Outcome::NotRescued;
    QTest::newRow("file changed by another writer, no backup can be made")
        << Place::NoRoomForBackup << Change::Added << none << false << Outcome::Rescued;
    QTest::newRow("file replaced by another writer, nothing changed here, no backup")
        << Place::NoRoomForBackup << Change::None << none << false << Outcome::Rescued;
    QTest::newRow("the backup's copy fails half way")
        << Place::NoRoomForWholeBackup << Change::None << none << false << Outcome::Rescued;
    QTest::newRow("the backup's sync fails")
        << Place::ChangedByAnotherWriter << Change::None << QByteArrayList{Sync + "@1"} << false
        << Outcome::Rescued;
    QTest::newRow("the sync of the backup's folder fails")
        << Place::ChangedByAnotherWriter << Change::Added << QByteArrayList{Sync + "@2"} << false
        << Outcome::Rescued;
    QTest::newRow("the rename into place fails, all notes deleted")
        << Place::Ordinary << Change::AllDeleted << QByteArrayList{Rename + "@1"} << false
        << Outcome::Rescued;
    QTest::newRow("the rename into place fails, note added")
        << Place::Ordinary << Change::Added << QByteArrayList{Rename + "@1"} << false
        << Outcome::Rescued;
    QTest::newRow("the new file's sync fails, note edited")
        << Place::Ordinary << Change::Edited << QByteArrayList{Sync + "@1"} << false
        << Outcome::Rescued;
    QTest::newRow("the new file's sync under its new name fails, note added")
        << Place::Ordinary << Change::Added << QByteArrayList{Sync + "@2"} << false
        << Outcome::Rescued;
    QTest::newRow("the folder's sync after the rename fails, note deleted")
        << Place::Ordinary << Change::Deleted << QByteArrayList{Sync + "@3"} << false
        << Outcome::Rescued;
    QTest::newRow("the rename and the rescue file's sync fail")
        << Place::Ordinary << Change::Added << QByteArrayList{Rename + "@1", Sync + "@2"} << false
        << Outcome::NotRescued;
    QTest::newRow("the rename and the sync of the new rescue folder into its parent fail")
        << Place::Ordinary << Change::Added << QByteArrayList{Rename + "@1", Sync + "@4"} << false
        << Outcome::NotRescued;
    QTest::newRow("the rename and the rescue folder's sync fail, ended by a signal")
        << Place::Ordinary << Change::Deleted << QByteArrayList{Rename + "@1", Sync + "@3"} << true
        << Outcome::NotRescued;
#endif
}

void TestFailedSave::leavingWithNotesThatCannotBeSaved()
{
#ifdef Q_OS_LINUX
    QFETCH(Place, place);
    QFETCH(Change, change);
    QFETCH(QByteArrayList, failing);
    QFETCH(bool, systemAsked);
    QFETCH(Outcome, outcome);

    if (!failing.isEmpty() && !SystemCalls::available())
        QSKIP(withoutSystemCalls());
    const QString dir = workDir->filePath(QStringLiteral("place"));
    QVERIFY(QDir().mkpath(dir));
    if (place != Place::ReadOnlyFileSystem && place != Place::NoRoomForBackup) {
        QVERIFY(writeAll(dir + QLatin1String("/notes.dat"), Original));
    } else {
        if (!canMount)
            QSKIP("needs root and a mount namespace of its own");
        QVERIFY(mountPlace(dir, place));
    }
    QDir::setCurrent(dir);
    const QString notesPath = QDir(dir).filePath(QStringLiteral("notes.dat"));
    const bool anotherWriter = place == Place::NoRoomForBackup ||
                               place == Place::NoRoomForWholeBackup ||
                               place == Place::ChangedByAnotherWriter;
    const QStringList theirs = {"T", "their note", "2012-05-03 09:00 AM", QString(600000, u'x')};
    const QByteArray onDisk = anotherWriter ? count(1) + row(theirs) : Original;

    BoxAnswerer answerer(outcome == Outcome::NotRescued ? QStringLiteral("Go Back")
                                                        : QStringLiteral("OK"));
    Quillora window;
    window.show();
    auto *tree = window.findChild<QTreeWidget *>();
    QList<QStringList> rows = {NoteA};
    if (change == Change::Added) {
        tree->addTopLevelItem(new QTreeWidgetItem(NoteB));
        rows.append(NoteB);
    } else if (change == Change::Edited) {
        tree->topLevelItem(0)->setText(3, QStringLiteral("changed"));
        rows.first()[3] = QStringLiteral("changed");
    } else if (change == Change::AllDeleted) {
        tree->clear();
        rows.clear();
    } else if (change == Change::Deleted) {
        delete tree->takeTopLevelItem(0);
        rows.clear();
    }
    if (anotherWriter)
        QVERIFY(writeAll(notesPath, onDisk));
    if (place == Place::FullDisk)
        limitFileSize(8);
    if (place == Place::NoRoomForWholeBackup)
        limitFileSize(1 << 20);

    {
        std::optional<SystemCalls> faults;
        if (!failing.isEmpty())
            faults.emplace(failing);
        if (systemAsked) {
            QTest::ignoreMessage(QtWarningMsg,
                                 QRegularExpression(QStringLiteral("^Quillora: could not save "
                                                                   "the notes to ") +
                                                    QRegularExpression::escape(notesPath)));
            window.closeUnattended();
        } else {
            window.close();
        }
    }
    limitFileSize(RLIM_INFINITY);

    // The file is never harmed, nothing is left beside it, and nothing but the notes of
    // this run is rescued. Only a sync after the rename comes too late to keep the file.
    const bool replaced = (failing == QByteArrayList{Sync + "@2"} ||
                           failing == QByteArrayList{Sync + "@3"}) &&
                          !anotherWriter;
    QCOMPARE(readAll(notesPath), replaced ? bytesOf(rows) : onDisk);
    QCOMPARE(QDir(dir).entryList(QDir::Files), QStringList{QStringLiteral("notes.dat")});
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
    return runTests<TestFailedSave>(argc, argv);
}

#include "tst_failedsave.moc"
