// SPDX-License-Identifier: GPL-3.0-or-later
#include "mainwindow/quillora.h"
#include "notebytes.h"
#include "persistence/notesfile.h"
#include "persistence/notesstore.h"
#include "testsupport.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTextEdit>
#include <QTimer>
#include <QTreeWidget>

#include <optional>

#ifdef Q_OS_UNIX
#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif
#ifdef Q_OS_WIN
#include <windows.h>
#endif

using namespace NoteBytes;

class TestPersistence : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void firstStartAndLeave();
    void loadsInFileOrderWithNothingSelected();
    void shortRowsAreSavedPaddedWithNulls();
    void positionSurvivesARestart();
    void unconvertiblePositionGoesToTheOrigin();
    void readOnlyFileIsLeftAlone();
    void fullDiskLeavesThePreviousFile();
    void damagedFileIsKeptBeforeItIsReplaced_data();
    void damagedFileIsKeptBeforeItIsReplaced();
    void anotherWritersFileIsKept_data();
    void anotherWritersFileIsKept();
    void backupNeverReplacesAnEarlierOne();
    void fileThatCannotBeKeptIsNotReplaced();
    void permissions();
    void savesInPlaceWhereNoTemporaryFileCanBeMade();

private:
    ScopedWorkDir *workDir = nullptr;
};

namespace {

const QString NotesFile = QStringLiteral("notes.dat");

QTreeWidget *noteTree(Quillora &window)
{
    return window.findChild<QTreeWidget *>();
}

QStringList backups()
{
    return QDir().entryList({QStringLiteral("notes.dat.bak-*")}, QDir::Files, QDir::Name);
}

QSettings settings()
{
    return QSettings(QStringLiteral("Tolvane"), QStringLiteral("Quillora"));
}

// Starts the window in the current directory and leaves it by closing it.
void startAndLeave()
{
    Quillora window;
    window.close();
}

const QStringList NoteA = {"A", "alpha", "2012-05-01 10:30 AM", "alpha"};
const QStringList NoteB = {"B", "beta", "2012-05-02 11:30 PM", "beta"};

} // namespace

void TestPersistence::init()
{
    workDir = new ScopedWorkDir;
    settings().clear();
}

void TestPersistence::cleanup()
{
    delete workDir;
    workDir = nullptr;
}

void TestPersistence::firstStartAndLeave()
{
    {
        Quillora window;
        QCOMPARE(window.pos(), QPoint(200, 200));
        QCOMPARE(noteTree(window)->topLevelItemCount(), 0);
        QVERIFY(!QFile::exists(NotesFile));
        window.close();
    }
    QCOMPARE(readAll(NotesFile).toHex(), QByteArray("00000000"));
    QCOMPARE(settings().value(QStringLiteral("pos")).toPoint(), QPoint(200, 200));
    QVERIFY(backups().isEmpty());
}

void TestPersistence::loadsInFileOrderWithNothingSelected()
{
    QVERIFY(writeAll(NotesFile, count(2) + row(NoteA) + row(NoteB)));
    Quillora window;
    QTreeWidget *tree = noteTree(window);
    QCOMPARE(tree->topLevelItemCount(), 2);
    QCOMPARE(tree->topLevelItem(0)->text(0), QStringLiteral("A"));
    QCOMPARE(tree->topLevelItem(1)->text(3), QStringLiteral("beta"));
    QCOMPARE(tree->topLevelItem(0)->childCount(), 0);
    QVERIFY(!tree->currentItem());
    QVERIFY(tree->selectedItems().isEmpty());
    QVERIFY(window.centralWidget()->findChild<QTextEdit *>()->toPlainText().isEmpty());
    window.close();
    QCOMPARE(readAll(NotesFile), count(2) + row(NoteA) + row(NoteB));
}

void TestPersistence::shortRowsAreSavedPaddedWithNulls()
{
    QVERIFY(writeAll(NotesFile, count(2) + row({"a", "b"}) + row({})));
    startAndLeave();
    QCOMPARE(readAll(NotesFile).toHex(), (count(2) + row({"a", "b", QString(), QString()}) +
                                          row({QString(), QString(), QString(), QString()}))
                                             .toHex());
    QVERIFY(backups().isEmpty());
}

void TestPersistence::positionSurvivesARestart()
{
    for (const QPoint where : {QPoint(321, 123), QPoint(45, 67)}) {
        Quillora window;
        window.move(where);
        window.close();
    }
    Quillora window;
    QCOMPARE(window.pos(), QPoint(45, 67));
}

void TestPersistence::unconvertiblePositionGoesToTheOrigin()
{
    settings().setValue(QStringLiteral("pos"), QStringLiteral("not a point"));
    Quillora window;
    QCOMPARE(window.pos(), QPoint(0, 0));
}

void TestPersistence::readOnlyFileIsLeftAlone()
{
    const QByteArray original = count(1) + row(NoteA);
    QVERIFY(writeAll(NotesFile, original));
    QFile::setPermissions(NotesFile, QFileDevice::ReadOwner);
    {
        Quillora window;
        window.move(50, 60);
        window.close();
        QVERIFY(!window.isVisible());
    }
    QCOMPARE(readAll(NotesFile), original);
    QCOMPARE(settings().value(QStringLiteral("pos")).toPoint(), QPoint(50, 60));
    QVERIFY(!QDir(rescueDirectory()).exists());
}

void TestPersistence::fullDiskLeavesThePreviousFile()
{
#ifdef Q_OS_UNIX
    const QByteArray original = count(1) + row(NoteA);
    QVERIFY(writeAll(NotesFile, original));
    QList<QStringList> many(2000, NoteB);

    // A file-size limit makes every write past 1 KiB fail, as a full disk does.
    struct rlimit saved;
    getrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 1024;
    setrlimit(RLIMIT_FSIZE, &small);
    const bool saved_ok = saveNotesFile(NotesFile, many);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, SIG_DFL);

    QVERIFY(!saved_ok);
    QCOMPARE(readAll(NotesFile), original);
    QCOMPARE(QDir().entryList(QDir::Files), QStringList({NotesFile}));
#else
    QSKIP("needs POSIX resource limits");
#endif
}

void TestPersistence::damagedFileIsKeptBeforeItIsReplaced_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("rowsLoaded");

    QTest::newRow("cut inside a string") << count(2) + row(NoteA) + row(NoteB).left(20) << 2;
    QTest::newRow("fewer rows than counted") << count(5) + row(NoteA) << 1;
    QTest::newRow("bytes behind the rows") << count(1) + row(NoteA) + row(NoteB) << 1;
    QTest::newRow("odd string length") << count(1) + count(1) + count(5) + QByteArray(5, 'x') << 1;
    QTest::newRow("row of five strings") << count(1) + row({"t", "p", "d", "b", "extra"}) << 1;
}

void TestPersistence::damagedFileIsKeptBeforeItIsReplaced()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, rowsLoaded);
    QVERIFY(writeAll(NotesFile, bytes));
    {
        Quillora window;
        QCOMPARE(noteTree(window)->topLevelItemCount(), rowsLoaded);
        window.close();
    }
    const QStringList kept = backups();
    QCOMPARE(kept.size(), 1);
    QCOMPARE(readAll(kept.first()), bytes);
#ifdef Q_OS_UNIX
    QCOMPARE(QFile::permissions(kept.first()) & 0x7077,
             QFileDevice::ReadOwner | QFileDevice::WriteOwner);
#endif
    // The new file loads whole, so the next save makes no further backup.
    QList<QStringList> rows;
    QFile file(NotesFile);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QDataStream stream(&file);
    QCOMPARE(readNoteRowsChecked(stream, rows), NotesReadResult::Whole);
    QCOMPARE(rows.size(), rowsLoaded);
    file.close();
    startAndLeave();
    QCOMPARE(backups(), kept);
}

void TestPersistence::anotherWritersFileIsKept_data()
{
    QTest::addColumn<QByteArray>("atStart");
    QTest::addColumn<QByteArray>("written");
    QTest::addColumn<bool>("inPlace");
    QTest::addColumn<bool>("kept");

    const QByteArray mine = count(1) + row(NoteA);
    const QByteArray theirs = count(2) + row(NoteB) + row(NoteB);
    QTest::newRow("nobody else wrote it") << mine << QByteArray() << false << false;
    QTest::newRow("replaced by a longer file") << mine << theirs << false << true;
    QTest::newRow("rewritten in place, same size, a millisecond older")
        << mine << count(1) + row({"Z", "alpha", "2012-05-01 10:30 AM", "alpha"}) << true << true;
    QTest::newRow("replaced by a file of the same size and time")
        << mine << count(1) + row({"Z", "alpha", "2012-05-01 10:30 AM", "alpha"}) << false << true;
    QTest::newRow("created while this run had none") << QByteArray() << theirs << false << true;
    QTest::newRow("removed while running") << mine << QByteArray("-") << false << false;
    QTest::newRow("permissions changed, nothing written")
        << mine << QByteArray("chmod") << false << false;
}

void TestPersistence::anotherWritersFileIsKept()
{
    QFETCH(QByteArray, atStart);
    QFETCH(QByteArray, written);
    QFETCH(bool, inPlace);
    QFETCH(bool, kept);

    if (!atStart.isEmpty())
        QVERIFY(writeAll(NotesFile, atStart));
    Quillora window;
    const QList<QStringList> rows =
        atStart.isEmpty() ? QList<QStringList>() : QList<QStringList>{NoteA};
    if (written == "-") {
        QVERIFY(QFile::remove(NotesFile));
    } else if (written == "chmod") {
        QVERIFY(QFile::setPermissions(NotesFile,
                                      QFile::permissions(NotesFile) | QFileDevice::ReadGroup));
    } else if (inPlace) {
        const QDateTime modified = QFileInfo(NotesFile).lastModified();
        QVERIFY(writeAll(NotesFile, written));
        QFile file(NotesFile);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(modified.addMSecs(-1), QFileDevice::FileModificationTime));
    } else if (written.size() == atStart.size()) {
#ifdef Q_OS_LINUX
        // Another file put in its place, with the same size and the same time to the
        // nanosecond: only which file it is tells them apart. Written while the old one
        // still exists, it cannot take over the old one's inode.
        struct stat before;
        QVERIFY(::stat(NotesFile.toLocal8Bit().constData(), &before) == 0);
        QVERIFY(writeAll(QStringLiteral("theirs.tmp"), written));
        QVERIFY(::rename("theirs.tmp", NotesFile.toLocal8Bit().constData()) == 0);
        const struct timespec times[2] = {before.st_atim, before.st_mtim};
        QVERIFY(::utimensat(AT_FDCWD, NotesFile.toLocal8Bit().constData(), times, 0) == 0);
        struct stat after;
        QVERIFY(::stat(NotesFile.toLocal8Bit().constData(), &after) == 0);
        QVERIFY(after.st_ino != before.st_ino);
        QCOMPARE(after.st_size, before.st_size);
        QCOMPARE(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
#else
        QSKIP("needs Linux file times");
#endif
    } else if (!written.isEmpty()) {
        QVERIFY(writeAll(QStringLiteral("theirs.tmp"), written));
        QFile::remove(NotesFile);
        QVERIFY(QFile::rename(QStringLiteral("theirs.tmp"), NotesFile));
    }
    settings().setValue(QStringLiteral("pos"), window.pos());
    std::optional<SystemCalls> watched;
    if (SystemCalls::available())
        watched.emplace(QByteArrayList{"posix/io/sync/fsync", "posix/io/dir/rename"});
    window.close();
    // The backup, then the new file, each on disk before its name is, and each name on
    // disk too: the folder is synced after each, and the new file once more under its
    // name. A file new in its folder is linked in, not renamed.
    if (watched)
        QCOMPARE(watched->calls.join(' '),
                 QByteArray(kept ? "fsync fsync " : "") +
                     (written == "-" ? "fsync fsync fsync" : "fsync rename fsync fsync"));

    const QByteArray saved = readAll(NotesFile);
    QList<QStringList> savedRows;
    QDataStream stream(saved);
    readNoteRows(stream, savedRows);
    QCOMPARE(describe(savedRows), describe(rows));
    const QStringList kept_ = backups();
    QCOMPARE(kept_.size(), kept ? 1 : 0);
    if (kept)
        QCOMPARE(readAll(kept_.first()), written);
}

void TestPersistence::backupNeverReplacesAnEarlierOne()
{
    const QDateTime when(QDate(2026, 12, 7), QTime(14, 30, 15));
    QVERIFY(writeAll(NotesFile, QByteArray("first")));
    QVERIFY(keepBackupOf(NotesFile, when));
    QVERIFY(writeAll(NotesFile, QByteArray("second")));
    QVERIFY(keepBackupOf(NotesFile, when));
    QCOMPARE(backups(),
             QStringList({"notes.dat.bak-20261207-143015", "notes.dat.bak-20261207-143015-1"}));
    QCOMPARE(readAll(QStringLiteral("notes.dat.bak-20261207-143015")), QByteArray("first"));
    QCOMPARE(readAll(QStringLiteral("notes.dat.bak-20261207-143015-1")), QByteArray("second"));

    // Rescues made in the same second: the second one's number goes before ".dat", so it
    // is still found as a notes file, and each holds its own notes.
    const QString first = rescueNotes({NoteA}, when);
    const QString second = rescueNotes({NoteB}, when);
    QCOMPARE(QFileInfo(first).fileName(), QStringLiteral("notes-rescued-20261207-143015.dat"));
    QCOMPARE(QFileInfo(second).fileName(), QStringLiteral("notes-rescued-20261207-143015-1.dat"));
    QCOMPARE(QFileInfo(second).absolutePath(), QFileInfo(first).absolutePath());
    QCOMPARE(readAll(first), count(1) + row(NoteA));
    QCOMPARE(readAll(second), count(1) + row(NoteB));
    QDir(rescueDirectory()).removeRecursively();
}

void TestPersistence::fileThatCannotBeKeptIsNotReplaced()
{
#ifdef Q_OS_UNIX
    // Write-only: it cannot be read at start-up, nor copied aside before the save.
    const QByteArray original = count(1) + row(NoteA);
    QVERIFY(writeAll(NotesFile, original));
    QFile::setPermissions(NotesFile, QFileDevice::WriteOwner);
    {
        Quillora window;
        QCOMPARE(noteTree(window)->topLevelItemCount(), 0);
        window.close();
    }
    QFile::setPermissions(NotesFile, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    QCOMPARE(readAll(NotesFile), original);
    QVERIFY(backups().isEmpty());
#else
    QSKIP("needs POSIX permissions");
#endif
}

void TestPersistence::permissions()
{
#ifdef Q_OS_UNIX
    const auto mode = [] {
        return QFile::permissions(NotesFile) & 0x7077;
    };
    startAndLeave();
    QCOMPARE(mode(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);

    const auto chosen = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
                        QFileDevice::ReadOther;
    QFile::setPermissions(NotesFile, chosen);
    startAndLeave();
    QCOMPARE(mode(), chosen);
#elif defined(Q_OS_WIN)
    // The file that replaces notes.dat takes over its attributes.
    startAndLeave();
    const std::wstring path = QDir::toNativeSeparators(NotesFile).toStdWString();
    const auto hidden = [&path] {
        return (::GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_HIDDEN) != 0;
    };
    if (!::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_HIDDEN) || !hidden())
        QSKIP("this file system keeps no hidden attribute");
    startAndLeave();
    QVERIFY(hidden());
#else
    QSKIP("needs POSIX permissions or Windows attributes");
#endif
}

void TestPersistence::savesInPlaceWhereNoTemporaryFileCanBeMade()
{
#ifdef Q_OS_UNIX
    QVERIFY(writeAll(NotesFile, count(1) + row(NoteA)));
    const auto dirMode = QFile::permissions(workDir->path());
    QFile::setPermissions(workDir->path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    {
        Quillora window;
        noteTree(window)->clear();
        window.close();
    }
    QCOMPARE(readAll(NotesFile).toHex(), QByteArray("00000000"));

    // With nothing changed, a write in place that fails may have left part of the list in
    // notes.dat: the notes are rescued, never left without a word.
    if (SystemCalls::available()) {
        QVERIFY(writeAll(NotesFile, count(1) + row(NoteA)));
        QStringList said;
        ++UnexpectedBoxGuard::expected;
        QTimer answer;
        connect(&answer, &QTimer::timeout, this, [&said] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                said << box->text();
                box->accept();
            }
        });
        answer.start(5);
        {
            Quillora window;
            // The journal's folder, then notes.dat.
            SystemCalls faults({"posix/io/sync/fsync@2"});
            window.close();
        }
        --UnexpectedBoxGuard::expected;
        QCOMPARE(said.size(), 1);
        const QStringList rescued =
            QDir(rescueDirectory()).entryList({QStringLiteral("notes-rescued-*.dat")});
        QCOMPARE(rescued.size(), 1);
        QCOMPARE(readAll(QDir(rescueDirectory()).filePath(rescued.first())), count(1) + row(NoteA));
    }
    QFile::setPermissions(workDir->path(), dirMode);
#else
    QSKIP("needs POSIX permissions");
#endif
}

QUILLORA_TEST_MAIN_AS_USER(TestPersistence)

#include "tst_persistence.moc"
