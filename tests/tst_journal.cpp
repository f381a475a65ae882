// SPDX-License-Identifier: GPL-3.0-or-later
#include "dialogs/editnote.h"
#include "dialogs/newnote.h"
#include "mainwindow/quillora.h"
#include "notebytes.h"
#include "persistence/notesfile.h"
#include "persistence/notesstore.h"
#include "persistence/sessionjournal.h"
#include "persistence/sqlitestatement.h"
#include "testsupport.h"

#include <QAction>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSettings>
#include <QTextEdit>
#include <QTimer>
#include <QTreeWidget>

#include <sqlite3.h>

#include <optional>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

using namespace NoteBytes;

// The session journal: a session that ends without its exit save (a kill, a crash, a power
// cut: here the window destroyed without closing it, which leaves the journal as a kill
// would) comes back at the next start exactly as it was shown, drafts included.
class TestJournal : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void aCrashLosesNothing_data();
    void aCrashLosesNothing();
    void damagedJournalCostsNoNote_data();
    void damagedJournalCostsNoNote();
    void journalIsOnDiskBeforeTheListShowsTheChange();
    void leavingLeavesNoJournal_data();
    void leavingLeavesNoJournal();
    void aFailedPrepareIsTriedAgain();
    void aFallbackJournalIsFoundByAnyPath();

private:
    ScopedWorkDir *workDir = nullptr;
};

namespace {

const QString NotesFile = QStringLiteral("notes.dat");
const QString Journal = QStringLiteral(".notes.dat.journal");
const QStringList NoteA = {"A", "alpha", "2012-05-01 10:30 AM", "alpha"};
const QStringList NoteB = {"B", "beta", "2012-05-02 11:30 PM", "beta"};
const QStringList NoteC = {"C", "gamma", "2012-05-03 09:00 AM", QString()};
const QByteArray Original = count(3) + row(NoteA) + row(NoteB) + row(NoteC);

QList<QStringList> rowsOf(Quillora &window)
{
    QList<QStringList> rows;
    const auto *tree = window.findChild<QTreeWidget *>();
    for (int i = 0; i < tree->topLevelItemCount(); ++i) {
        const QTreeWidgetItem *note = tree->topLevelItem(i);
        rows << QStringList{note->text(0), note->text(1), note->text(2), note->text(3)};
    }
    return rows;
}

QList<QStringList> rowsIn(const QByteArray &bytes)
{
    QList<QStringList> rows;
    QDataStream stream(bytes);
    readNoteRows(stream, rows);
    return rows;
}

QAction *action(Quillora &window, const QString &text)
{
    for (QAction *candidate : window.findChildren<QAction *>())
        if (candidate->text() == text)
            return candidate;
    qFatal("no action %s", qPrintable(text));
}

void select(Quillora &window, int row)
{
    auto *tree = window.findChild<QTreeWidget *>();
    tree->setCurrentItem(tree->topLevelItem(row));
}

// Answers every "Notes Recovered" box with OK while it lives, and keeps what they said.
// With a delay, each box is answered once it has been shown for that long.
class RecoveryBoxes
{
public:
    explicit RecoveryBoxes(int delayMs = 0)
    {
        ++UnexpectedBoxGuard::expected;
        QObject::connect(&poll, &QTimer::timeout, [this, delayMs] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box || !box->isVisible())
                return;
            if (!shown.isValid())
                shown.start();
            if (shown.elapsed() < delayMs)
                return;
            shown.invalidate();
            texts << box->windowTitle() + u'|' + box->text();
            if (box->windowTitle() == QLatin1String("Are you sure?"))
                box->button(QMessageBox::Yes)->click();
            else
                box->accept();
        });
        poll.start(5);
    }
    ~RecoveryBoxes() { --UnexpectedBoxGuard::expected; }
    QStringList texts;

private:
    QTimer poll;
    QElapsedTimer shown;
};

// Lets the start-up's queued work run: the recovery box, the drafts back in their windows.
void settle()
{
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
}

// Waits until no draft is due any more, so that what the windows hold is in the journal.
bool draftsWritten(Quillora &window)
{
    return QTest::qWaitFor([&window] {
        for (const QTimer *timer : window.findChildren<QTimer *>(Qt::FindDirectChildrenOnly))
            if (timer->isActive())
                return false;
        return true;
    });
}

// Runs the commands of a script on the window: "add T", "edit N T" (Done), "type N T" (the
// Edit Note window left open with a new title), "draft T" (the New Note window left open),
// "cancel" (the Edit Note window), "wait" (until the drafts are written), "delete N",
// "deleteall", "fail" (the journal's next sync fails), "retry" (and it can be written again,
// at once).
std::optional<SystemCalls> faults;

void run(Quillora &window, const QString &command)
{
    const QStringList words = command.split(u' ');
    auto *newDialog = window.findChild<NewNote *>();
    auto *editDialog = window.findChild<EditNote *>();
    if (words[0] == QLatin1String("add") || words[0] == QLatin1String("draft")) {
        action(window, QStringLiteral("&New Note"))->trigger();
        newDialog->titleEdit->setText(words.value(1));
        newDialog->noteEdit->setPlainText(words.value(1).toLower() + QStringLiteral("\ntext"));
        if (words[0] == QLatin1String("add"))
            newDialog->acceptButton->click();
    } else if (words[0] == QLatin1String("edit") || words[0] == QLatin1String("type")) {
        select(window, words[1].toInt());
        action(window, QStringLiteral("&Edit Note"))->trigger();
        editDialog->titleEdit->setText(words[2]);
        if (words[0] == QLatin1String("edit"))
            editDialog->acceptButton->click();
    } else if (words[0] == QLatin1String("cancel")) {
        editDialog->cancelButton->click();
    } else if (words[0] == QLatin1String("wait")) {
        QVERIFY(draftsWritten(window));
    } else if (words[0] == QLatin1String("delete")) {
        select(window, words[1].toInt());
        action(window, QStringLiteral("&Delete Note"))->trigger();
    } else if (words[0] == QLatin1String("deleteall")) {
        action(window, QStringLiteral("Delete &All Notes"))->trigger();
    } else if (words[0] == QLatin1String("fail")) {
        if (!SystemCalls::available())
            QSKIP(withoutSystemCalls());
        faults.emplace(QByteArrayList{"posix/io/sync/fdatasync@1", "posix/io/sync/fsync@1"});
    } else if (words[0] == QLatin1String("retry")) {
        faults.reset();
        SessionJournal::retryInterval = 0;
    } else {
        qFatal("no command %s", qPrintable(command));
    }
}

} // namespace

void TestJournal::init()
{
    workDir = new ScopedWorkDir;
    QDir(rescueDirectory()).removeRecursively();
    QSettings(QStringLiteral("Tolvane"), QStringLiteral("Quillora"))
        .setValue(QStringLiteral("pos"), QPoint(200, 200));
    QVERIFY(writeAll(NotesFile, Original));
}

void TestJournal::cleanup()
{
    faults.reset();
    SessionJournal::retryInterval = 3000;
    QFile::setPermissions(workDir->path(),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    delete workDir;
    workDir = nullptr;
    QDir(rescueDirectory()).removeRecursively();
}

void TestJournal::aCrashLosesNothing_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("newDraft");
    QTest::addColumn<QString>("editDraft");

    // Sessions are separated by "crash".
    QTest::newRow("a note added") << "add D"
                                  << ""
                                  << "";
    QTest::newRow("a note edited") << "edit 1 Bee"
                                   << ""
                                   << "";
    QTest::newRow("a note deleted") << "delete 0"
                                    << ""
                                    << "";
    QTest::newRow("all notes deleted, then one added") << "deleteall;add D"
                                                       << ""
                                                       << "";
    QTest::newRow("deletes above and below an edited note, and many changes")
        << "add D;add E;delete 4;delete 0;edit 1 Cee;delete 0;add F;edit 0 Cxx"
        << ""
        << "";
    QTest::newRow("a second crash before any save") << "add D;crash;delete 1;add E;crash;add F"
                                                    << ""
                                                    << "";
    QTest::newRow("a note being written") << "add D;draft Draft"
                                          << "Draft"
                                          << "";
    QTest::newRow("a note being edited, with a note above it deleted")
        << "type 2 Cedit;wait;delete 0"
        << ""
        << "Cedit";
    QTest::newRow("a note being edited, the note itself deleted") << "type 1 Bedit;wait;delete 1"
                                                                  << ""
                                                                  << "Bedit";
    QTest::newRow("a draft given up by Add, another by cancel")
        << "draft D;wait;add E;type 0 Ax;wait;cancel;delete 1"
        << ""
        << "";
    QTest::newRow("an edit cancelled while the journal could not be written")
        << "type 0 Ax;wait;fail;add D;cancel;retry;add E"
        << ""
        << "";
}

void TestJournal::aCrashLosesNothing()
{
    QFETCH(QString, script);
    QFETCH(QString, newDraft);
    QFETCH(QString, editDraft);

    RecoveryBoxes boxes;
    QList<QStringList> shown;
    auto window = std::make_unique<Quillora>();
    window->show();
    for (const QString &command : script.split(u';')) {
        if (command == QLatin1String("crash")) {
            shown = rowsOf(*window);
            window.reset();
            window = std::make_unique<Quillora>();
            window->show();
            settle();
            QCOMPARE(describe(rowsOf(*window)), describe(shown));
            continue;
        }
        run(*window, command);
    }
    QVERIFY(draftsWritten(*window));
    shown = rowsOf(*window);
    window.reset();

    // Nothing was written to notes.dat, and all of it is in the journal.
    QCOMPARE(readAll(NotesFile), Original);
    QVERIFY(QFile::exists(Journal));
    // By their names elsewhere, by their attribute on Windows.
    QVERIFY(QFileInfo(Journal).isHidden() && QFileInfo(Journal + QLatin1String("-wal")).isHidden());
    const QByteArray journaled = readAll(Journal + QLatin1String("-wal"));
    boxes.texts.clear();
    window = std::make_unique<Quillora>();
    window->show();
    settle();
    QCOMPARE(describe(rowsOf(*window)), describe(shown));
    // Recovered, drafts back in their windows, nothing is written until something changes.
    QVERIFY(draftsWritten(*window));
    QVERIFY(readAll(Journal + QLatin1String("-wal")) == journaled);
    QCOMPARE(boxes.texts.size(), 1);
    QVERIFY2(boxes.texts.first().startsWith(QLatin1String("Notes Recovered|")),
             qPrintable(boxes.texts.first()));

    auto *newDialog = window->findChild<NewNote *>();
    auto *editDialog = window->findChild<EditNote *>();
    QCOMPARE(newDialog->isVisible(), !newDraft.isEmpty());
    QCOMPARE(editDialog->isVisible(), !editDraft.isEmpty());
    if (!newDraft.isEmpty()) {
        QCOMPARE(newDialog->titleText(), newDraft);
        QCOMPARE(newDialog->noteText(), newDraft.toLower() + QStringLiteral("\ntext"));
        newDialog->acceptButton->click();
        QCOMPARE(rowsOf(*window).last().first(), newDraft);
    }
    if (!editDraft.isEmpty()) {
        QCOMPARE(editDialog->titleText(), editDraft);
        editDialog->acceptButton->click();
        // Done writes into the note it was opened on, or makes a new one where that is gone.
        const QList<QStringList> rows = rowsOf(*window);
        int written = 0;
        for (const QStringList &note : rows)
            written += note.first() == editDraft;
        QCOMPARE(written, 1);
        QCOMPARE(rows.size(), shown.size() + (editDraft == QLatin1String("Bedit") ? 1 : 0));
    }
    shown = rowsOf(*window);

    // The exit save writes the list and leaves nothing else behind.
    window->close();
    window.reset();
    QCOMPARE(describe(rowsIn(readAll(NotesFile))), describe(shown));
    QCOMPARE(QDir().entryList(QDir::Files | QDir::Hidden), QStringList{NotesFile});
    QCOMPARE(boxes.texts.size(), 1);
}

void TestJournal::damagedJournalCostsNoNote_data()
{
    QTest::addColumn<QString>("damage");
    QTest::addColumn<bool>("mayLoseTheJournal");

    QTest::newRow("the -wal cut across its last page") << "cut" << true;
    QTest::newRow("a flipped byte in the -wal") << "flip" << true;
    QTest::newRow("random bytes") << "random" << true;
    QTest::newRow("a row position beyond the list") << "position" << false;
    QTest::newRow("a million rows of a few bytes each") << "tiny rows" << false;
    QTest::newRow("another writer's notes.dat") << "theirs" << false;
    QTest::newRow("two sessions in one folder") << "two" << false;
    QTest::newRow("the save was made, the journal not removed") << "saved" << false;
    QTest::newRow("the save was made after the journal failed, the journal not removed")
        << "saved after a failure" << false;
    QTest::newRow("the save's rename half made, as a power cut on FAT leaves it")
        << "saved, rename lost" << false;
    QTest::newRow("the same, the old name left empty by the volume's repair")
        << "saved, rename lost, emptied" << false;
    QTest::newRow("no write in place while the journal cannot take the list")
        << "in-place refused" << false;
    QTest::newRow("killed while notes.dat was written in place") << "in-place" << false;
    QTest::newRow("the whole list kept, then another writer's notes.dat")
        << "list, theirs" << false;
    QTest::newRow("a read-only folder") << "read-only" << false;
    QTest::newRow("a journal whose folder became read-only") << "made read-only" << false;
    QTest::newRow("a journal whose session cannot be read") << "no session" << false;
    QTest::newRow("a journal that cannot be opened") << "unopenable" << false;
    QTest::newRow("an earlier session's journal holding a large note") << "large" << false;
}

void TestJournal::damagedJournalCostsNoNote()
{
    QFETCH(QString, damage);
    QFETCH(bool, mayLoseTheJournal);

    RecoveryBoxes boxes;
    const QStringList theirs = {"T", "theirs", "2012-05-04 08:00 AM", "theirs"};
    QList<QStringList> shown;
    QList<QStringList> others;
#ifdef Q_OS_WIN
    if (damage.endsWith(QLatin1String("read-only")))
        QSKIP("a folder's read-only attribute does not keep new files out on Windows");
    if (damage == QLatin1String("unopenable"))
        QSKIP("a file is kept from its owner by an access list on Windows, not by its mode");
#endif
    {
        if (damage == QLatin1String("read-only") || damage == QLatin1String("in-place refused"))
            QFile::setPermissions(workDir->path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        // Made first, changed first: its journal is rescued, not replayed.
        std::optional<SessionJournal> earlier;
        if (damage == QLatin1String("large")) {
            earlier.emplace(NotesFile);
            earlier->recover(stampOf(NotesFile), 3);
            QVERIFY(earlier->recordChange(
                SessionJournal::Change::Insert, 3,
                {"Large", "large", "2012-05-05 10:00 AM", QString(40 << 20, u'x')}));
        }
        Quillora window;
        std::optional<Quillora> second;
        run(window, QStringLiteral("add D"));
        run(window, QStringLiteral("delete 1"));
        if (damage == QLatin1String("two")) {
            // A second Quillora in the same folder, while the first runs: it touches not
            // the first one's journal, and keeps its own.
            second.emplace();
            settle();
            QVERIFY(boxes.texts.isEmpty());
            run(*second, QStringLiteral("add Second"));
            others = rowsOf(*second);
        }
        if (damage == QLatin1String("saved after a failure")) {
            // E is not in the journal, which must take the list back before the save.
            run(window, QStringLiteral("fail"));
            run(window, QStringLiteral("add E"));
            faults.reset();
        }
        shown = rowsOf(window);
        if (damage == QLatin1String("in-place refused")) {
            if (!SystemCalls::available())
                QSKIP(withoutSystemCalls());
            // SQLite syncs with fdatasync, the rescue file with fsync.
            faults.emplace(QByteArrayList{"posix/io/sync/fdatasync@1"});
            window.close();
            faults.reset();
            QCOMPARE(readAll(NotesFile), Original);
            const QStringList rescued = QDir(rescueDirectory()).entryList({"notes-rescued-*"});
            QCOMPARE(rescued.size(), 1);
            QCOMPARE(describe(rowsIn(readAll(QDir(rescueDirectory()).filePath(rescued.first())))),
                     describe(shown));
            return;
        }
        if (damage.startsWith(QLatin1String("saved"))) {
            // The save is made and the journal told so, but the kill comes before the
            // journal is removed.
            std::optional<SystemCalls> faults;
            if (!SystemCalls::available())
                QSKIP(withoutSystemCalls());
            faults.emplace(QByteArrayList{"posix/io/dir/unlink@1"});
            window.close();
            QVERIFY(QFile::exists(Journal));
            QCOMPARE(describe(rowsIn(readAll(NotesFile))), describe(shown));
            if (damage.startsWith(QLatin1String("saved, rename lost"))) {
                // The old name gone, the new file still under its temporary name; beside
                // it, a later save's temporary file, cut short.
                QVERIFY(QFile::rename(NotesFile, NotesFile + QLatin1String(".Kq3xZ0")));
                QVERIFY(writeAll(NotesFile + QLatin1String(".Cut9zz"), Original.left(40)));
                QFile cut(NotesFile + QLatin1String(".Cut9zz"));
                QVERIFY(cut.open(QIODevice::ReadWrite));
                QVERIFY(cut.setFileTime(QDateTime::currentDateTime().addSecs(60),
                                        QFileDevice::FileModificationTime));
                if (damage.endsWith(QLatin1String("emptied")))
                    QVERIFY(writeAll(NotesFile, QByteArray()));
            }
        }
    }
    if (damage == QLatin1String("read-only")) {
        QVERIFY(!QFile::exists(Journal));
        QCOMPARE(QDir(rescueDirectory()).entryList({QStringLiteral("notes-*.journal")}).size(), 1);
    }

    // Ended by a crash, or left the usual way.
    const auto restart = [&](bool leave = false) {
        boxes.texts.clear();
        Quillora window;
        window.show();
        settle();
        const QList<QStringList> rows = rowsOf(window);
        if (leave)
            window.close();
        return rows;
    };
    const QByteArray wal = readAll(Journal + QLatin1String("-wal"));
    const QList<QStringList> before = rowsIn(Original);
    if (damage == QLatin1String("cut")) {
        // Cut anywhere in the last commit, the journal gives the list before that change
        // or after it, never anything else; the notes of notes.dat are always there.
        const qsizetype page = 4096 + 24;
        QVERIFY(wal.size() > page);
        QList<QStringList> beforeLast = shown;
        beforeLast.insert(1, NoteB);
        // Every byte of the frame's header, then every 13th byte of its page.
        for (qsizetype size = wal.size() - page; size < wal.size();
             size += size < wal.size() - page + 32 ? 1 : 13) {
            QVERIFY(writeAll(Journal + QLatin1String("-wal"), wal.left(size)));
            QVERIFY(writeAll(Journal, QByteArray()));
            const QString got = describe(restart());
            QVERIFY2(got == describe(shown) || got == describe(beforeLast) ||
                         got == describe(before),
                     qPrintable(QString::number(size) + QLatin1String(": ") + got));
            QFile::remove(Journal);
            QFile::remove(Journal + QLatin1String("-wal"));
        }
        QVERIFY(writeAll(Journal + QLatin1String("-wal"), wal.left(wal.size() - 1)));
        QVERIFY(writeAll(Journal, QByteArray()));
    } else if (damage == QLatin1String("flip")) {
        QByteArray flipped = wal;
        flipped[flipped.size() - 100] = char(flipped.at(flipped.size() - 100) ^ 0x20);
        QVERIFY(writeAll(Journal + QLatin1String("-wal"), flipped));
    } else if (damage == QLatin1String("random")) {
        QFile::remove(Journal + QLatin1String("-wal"));
        QByteArray noise(8192, Qt::Uninitialized);
        QRandomGenerator(7).fillRange(reinterpret_cast<quint32 *>(noise.data()), noise.size() / 4);
        QVERIFY(writeAll(Journal, noise));
    } else if (damage == QLatin1String("position")) {
        sqlite3 *db = nullptr;
        QCOMPARE(sqlite3_open(Journal.toLocal8Bit().constData(), &db), SQLITE_OK);
        QCOMPARE(sqlite3_exec(db, "UPDATE changes SET position = 99 WHERE kind = 2", nullptr,
                              nullptr, nullptr),
                 SQLITE_OK);
        sqlite3_close(db);
    } else if (damage == QLatin1String("in-place") || damage == QLatin1String("list, theirs")) {
        // Where the folder takes no new file, the whole list goes into the journal before
        // notes.dat is written in place; cut short, the file is neither old nor new.
        {
            SessionJournal journal(NotesFile);
            QVERIFY(journal.recover(stampOf(NotesFile), 3).replayed);
            QVERIFY(journal.recordList(shown));
        }
        if (damage == QLatin1String("in-place"))
            QVERIFY(writeAll(NotesFile, Original.left(40)));
    }
    if (damage == QLatin1String("list, theirs")) {
        // As a sync client writes: a new file renamed over the old one.
        QVERIFY(writeAll(QStringLiteral("theirs.tmp"), count(1) + row(theirs)));
        QVERIFY(QFile::remove(NotesFile));
        QVERIFY(QFile::rename(QStringLiteral("theirs.tmp"), NotesFile));
    } else if (damage == QLatin1String("tiny rows")) {
        // Each some 15 bytes on disk, and a list of four strings in memory.
        sqlite3 *db = nullptr;
        QCOMPARE(sqlite3_open(Journal.toLocal8Bit().constData(), &db), SQLITE_OK);
        QCOMPARE(sqlite3_exec(db,
                              "WITH RECURSIVE n(x) AS (SELECT 0 UNION ALL SELECT x + 1 FROM n"
                              " WHERE x < 999999) INSERT INTO changes(kind, position)"
                              " SELECT 0, 3 + x FROM n",
                              nullptr, nullptr, nullptr),
                 SQLITE_OK);
        sqlite3_close(db);
    } else if (damage == QLatin1String("no session")) {
        sqlite3 *db = nullptr;
        QCOMPARE(sqlite3_open(Journal.toLocal8Bit().constData(), &db), SQLITE_OK);
        QCOMPARE(sqlite3_exec(db, "DROP TABLE session", nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
    } else if (damage == QLatin1String("unopenable")) {
        // As another user's journal in a shared folder.
        QVERIFY(QFile::setPermissions(Journal, QFileDevice::Permissions()));
    } else if (damage == QLatin1String("made read-only")) {
        // As a file system remounted read-only: no lock can be taken on the journal there.
        const QFileDevice::Permissions readOnly = QFileDevice::ReadOwner | QFileDevice::ExeOwner;
        for (const QString &name : {Journal, Journal + QLatin1String("-wal"), workDir->path()})
            QVERIFY(QFile::setPermissions(name, readOnly));
    }
    if (damage == QLatin1String("theirs")) {
        // Written while the old file is there, so that it cannot take the old one's inode.
        QVERIFY(writeAll(QStringLiteral("theirs.tmp"), count(1) + row(theirs)));
        QVERIFY(QFile::remove(NotesFile));
        QVERIFY(QFile::rename(QStringLiteral("theirs.tmp"), NotesFile));
    }

    const QList<QStringList> got = restart();
    const QStringList rescued =
        QDir(rescueDirectory()).entryList({QStringLiteral("notes-rescued-*.dat")}, QDir::Files);
    QList<QStringList> rescuedRows;
    for (const QString &name : rescued)
        rescuedRows += rowsIn(readAll(QDir(rescueDirectory()).filePath(name)));
    const auto rescuedHas = [&rescuedRows](const QString &title) {
        for (const QStringList &note : rescuedRows)
            if (note.value(0) == title)
                return true;
        return false;
    };

    if (damage == QLatin1String("theirs")) {
        // Not replayed onto another file: that file is loaded, and this session's notes
        // are rescued; the journal has done its work.
        QCOMPARE(describe(got), describe({theirs}));
        QVERIFY(rescuedHas(QStringLiteral("D")));
        QVERIFY(!QFile::exists(Journal));
        QCOMPARE(boxes.texts.size(), 1);
        QVERIFY2(boxes.texts.first().contains(rescued.value(0)), qPrintable(boxes.texts.first()));
    } else if (damage == QLatin1String("list, theirs")) {
        // The list comes back, and their file is kept beside it, named in the box; leaving
        // saves the list and keeps the backup.
        QCOMPARE(describe(got), describe(shown));
        const QStringList backups = QDir().entryList({NotesFile + QLatin1String(".bak-*")});
        QCOMPARE(backups.size(), 1);
        QCOMPARE(readAll(backups.first()), count(1) + row(theirs));
        QCOMPARE(boxes.texts.size(), 1);
        QVERIFY2(boxes.texts.first().contains(backups.first()), qPrintable(boxes.texts.first()));
        restart(true);
        QCOMPARE(describe(rowsIn(readAll(NotesFile))), describe(shown));
        QCOMPARE(readAll(backups.first()), count(1) + row(theirs));
    } else if (damage == QLatin1String("two")) {
        // The session changed last is replayed, what the other added is rescued.
        QCOMPARE(describe(got), describe(others));
        QVERIFY(rescuedHas(QStringLiteral("D")));
    } else if (damage.startsWith(QLatin1String("saved, rename lost"))) {
        // The unfinished save is taken up, said so, and saved to notes.dat at leaving.
        QCOMPARE(describe(got), describe(shown));
        QCOMPARE(boxes.texts.size(), 1);
        QVERIFY2(boxes.texts.first().contains(QLatin1String("notes.dat.Kq3xZ0")),
                 qPrintable(boxes.texts.first()));
        QVERIFY(rescued.isEmpty());
        QVERIFY(!QFile::exists(Journal));
        QCOMPARE(describe(restart(true)), describe(shown));
        QCOMPARE(describe(rowsIn(readAll(NotesFile))), describe(shown));
        QVERIFY(QFile::exists(NotesFile + QLatin1String(".Kq3xZ0")));
    } else if (damage.startsWith(QLatin1String("saved"))) {
        QCOMPARE(describe(got), describe(shown));
        QVERIFY(boxes.texts.isEmpty());
        QVERIFY(rescued.isEmpty());
        QVERIFY(!QFile::exists(Journal));
    } else if (damage.endsWith(QLatin1String("read-only")) || damage == QLatin1String("in-place")) {
        QCOMPARE(describe(got), describe(shown));
        QCOMPARE(boxes.texts.size(), 1);
        // A journal in a folder that cannot be written is left as it was, and dealt with
        // once: the starts after a normal exit pass it over.
        if (damage != QLatin1String("in-place"))
            QCOMPARE(QFile::exists(Journal), damage == QLatin1String("made read-only"));
        if (damage == QLatin1String("made read-only")) {
            restart(true);
            boxes.texts.clear();
            restart(true);
            QVERIFY2(boxes.texts.isEmpty(), qPrintable(boxes.texts.join(u'\n')));
            QCOMPARE(QDir(rescueDirectory()).entryList({QStringLiteral("notes-rescued-*")}),
                     QStringList());
            // Nor once the folder can be written again.
            const QFileDevice::Permissions writable =
                QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
            for (const QString &name : {workDir->path(), Journal, Journal + QLatin1String("-wal")})
                QVERIFY(QFile::setPermissions(name, writable));
            restart(true);
            QVERIFY2(boxes.texts.isEmpty(), qPrintable(boxes.texts.join(u'\n')));
            QCOMPARE(describe(rowsIn(readAll(NotesFile))), describe(shown));
        }
    } else if (damage == QLatin1String("no session")) {
        // Kept, never deleted unread; what it holds is rescued.
        QCOMPARE(describe(got), describe(before));
        QVERIFY(rescuedHas(QStringLiteral("D")));
        QVERIFY(!QFile::exists(Journal));
        const QStringList aside =
            QDir().entryList({Journal + QLatin1String(".damaged-*")}, QDir::Hidden | QDir::Files);
        QVERIFY2(!aside.isEmpty() && !aside.first().endsWith(QLatin1String("-wal")),
                 qPrintable(aside.join(u' ')));
        // The copy holds the changes, read through the journal's own handle.
        sqlite3 *db = nullptr;
        QCOMPARE(sqlite3_open_v2(aside.first().toLocal8Bit().constData(), &db, SQLITE_OPEN_READONLY,
                                 nullptr),
                 SQLITE_OK);
        QCOMPARE(sqlite3_exec(db, "SELECT count(*) FROM changes", nullptr, nullptr, nullptr),
                 SQLITE_OK);
        sqlite3_close(db);
        QCOMPARE(boxes.texts.size(), 1);
        restart();
        QVERIFY(boxes.texts.isEmpty());
    } else if (damage == QLatin1String("unopenable")) {
        // Not touched, but named: what it holds is not in the list.
        QCOMPARE(describe(got), describe(before));
        QVERIFY(QFile::exists(Journal));
        QCOMPARE(boxes.texts.size(), 1);
        QVERIFY2(boxes.texts.first().contains(QFileInfo(Journal).absoluteFilePath()),
                 qPrintable(boxes.texts.first()));
    } else if (damage == QLatin1String("large")) {
        QCOMPARE(describe(got), describe(shown));
        QVERIFY(rescuedHas(QStringLiteral("Large")));
        for (const QStringList &note : std::as_const(rescuedRows))
            if (note.value(0) == QLatin1String("Large"))
                QCOMPARE(note.value(3).size(), 40 << 20);
    } else if (damage == QLatin1String("position") || damage == QLatin1String("tiny rows")) {
        // A change that cannot be applied, or rows that would take far more than the
        // journal's size: notes.dat as it is, the journal set aside, and
        // what it added rescued.
        QCOMPARE(describe(got), describe(before));
        QVERIFY(rescuedHas(QStringLiteral("D")));
        QVERIFY(QFile::exists(Journal));
        QCOMPARE(boxes.texts.size(), 1);
        // Set aside, it is not read again.
        restart();
        QVERIFY(boxes.texts.isEmpty());
    } else {
        // Whatever the damage, the notes of notes.dat are all there.
        for (const QStringList &note : {NoteA, NoteC})
            QVERIFY2(got.contains(note), qPrintable(describe(got)));
        QVERIFY(mayLoseTheJournal || got == shown);
    }
    if (!damage.startsWith(QLatin1String("saved")) && !damage.contains(QLatin1String("list")) &&
        damage != QLatin1String("in-place") && damage != QLatin1String("made read-only"))
        QCOMPARE(readAll(NotesFile),
                 damage == QLatin1String("theirs") ? count(1) + row(theirs) : Original);
}

void TestJournal::journalIsOnDiskBeforeTheListShowsTheChange()
{
    if (!SystemCalls::available())
        QSKIP(withoutSystemCalls());
    RecoveryBoxes boxes;
    // Watched only while the window lives.
    std::optional<SystemCalls> watched;
    QList<int> syncsSeen;
    auto window = std::make_unique<Quillora>();
    window->show();
    auto *tree = window->findChild<QTreeWidget *>();
    const auto seen = [&] {
        syncsSeen << int(watched ? watched->calls.size() : -1);
    };
    connect(tree->model(), &QAbstractItemModel::rowsInserted, this, seen);
    connect(tree->model(), &QAbstractItemModel::rowsRemoved, this, seen);
    connect(tree->model(), &QAbstractItemModel::dataChanged, this, seen);
    connect(tree->model(), &QAbstractItemModel::modelAboutToBeReset, this, seen);
    watched.emplace(QByteArrayList{"posix/io/sync/fdatasync", "posix/io/sync/fsync"});
    for (const char *command : {"add D", "edit 0 Ax", "delete 1", "deleteall"}) {
        const qsizetype before = watched->calls.size();
        syncsSeen.clear();
        run(*window, QLatin1String(command));
        QVERIFY2(
            !syncsSeen.isEmpty() && syncsSeen.first() > before,
            qPrintable(QLatin1String(command) + QLatin1String(": ") + watched->calls.join(' ')));
    }
    watched.reset();

    // A sync that fails is said in the window, once, in a box that leaves the focus where it
    // was: in the note being typed. The list goes on.
    const auto failureBoxes = [&window] {
        QStringList texts;
        for (const QMessageBox *box : window->findChildren<QMessageBox *>())
            if (box->isVisible())
                texts << box->windowTitle() + u'|' + box->text();
        return texts;
    };
    run(*window, QStringLiteral("add E"));
    run(*window, QStringLiteral("draft N"));
    auto *newDialog = window->findChild<NewNote *>();
    newDialog->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(newDialog));
    newDialog->noteEdit->setFocus();
    watched.emplace(QByteArrayList{"posix/io/sync/fdatasync@1", "posix/io/sync/fsync@1"});
    QTest::ignoreMessage(QtWarningMsg,
                         QRegularExpression(QStringLiteral("^Quillora: the session journal .* "
                                                           "could not be written")));
    QVERIFY(draftsWritten(*window));
    watched.reset();
    QCOMPARE(failureBoxes().size(), 1);
    QVERIFY2(failureBoxes().first().contains(QFileInfo(Journal).absoluteFilePath()),
             qPrintable(failureBoxes().first()));
    QCOMPARE(QApplication::activeWindow(), newDialog);
    QCOMPARE(QApplication::focusWidget(), newDialog->noteEdit);
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral(" typed on"));
    QVERIFY(newDialog->noteText().contains(QLatin1String(" typed on")));
    window->findChild<QMessageBox *>()->close();
    // Not tried again at once: this one is not in the journal.
    run(*window, QStringLiteral("add F"));

    // Once it can be written again, the next change brings the whole list back into it: a
    // crash then loses nothing the list showed.
    SessionJournal::retryInterval = 0;
    run(*window, QStringLiteral("add G"));
    SessionJournal::retryInterval = 3000;
    QVERIFY(failureBoxes().isEmpty());
    const QList<QStringList> shown = rowsOf(*window);
    QCOMPARE(shown.size(), 3);
    window.reset();
    window = std::make_unique<Quillora>();
    window->show();
    settle();
    QCOMPARE(describe(rowsOf(*window)), describe(shown));
    window->close();
    QCOMPARE(describe(rowsIn(readAll(NotesFile))), describe(shown));
    QVERIFY(!QFile::exists(Journal));
}

void TestJournal::leavingLeavesNoJournal_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<int>("boxes");

    // notes.dat is read-only: the save fails, and what the journal held is safe elsewhere.
    QTest::newRow("only drafts, the list unchanged") << "draft D;wait" << 0;
    // Answered once the drafts would have been due.
    QTest::newRow("a draft due while the warning of the rescue waits") << "add D;draft E" << 1;
}

void TestJournal::leavingLeavesNoJournal()
{
    QFETCH(QString, script);
    QFETCH(int, boxes);
#ifdef Q_OS_WIN
    QSKIP("notes.dat is made read-only through its permissions");
#endif
    QVERIFY(QFile::setPermissions(NotesFile, QFileDevice::ReadOwner));
    RecoveryBoxes answers(2500);
    {
        Quillora window;
        window.show();
        for (const QString &command : script.split(u';'))
            run(window, command);
        window.close();
        QVERIFY(!window.isVisible());
    }
    QCOMPARE(answers.texts.size(), boxes);
    QCOMPARE(QDir().entryList(QDir::Files | QDir::Hidden), QStringList{NotesFile});
    QCOMPARE(QDir(rescueDirectory()).entryList({QStringLiteral("*.journal*")}, QDir::Files),
             QStringList());
}

// One error while a statement is prepared does not fail every later change.
void TestJournal::aFailedPrepareIsTriedAgain()
{
    sqlite3 *db = nullptr;
    QCOMPARE(sqlite3_open(":memory:", &db), SQLITE_OK);
    PreparedStatements statements;
    const char *sql = "INSERT INTO t VALUES (1)";
    QVERIFY(!statements.get(db, sql).run());
    QVERIFY(exec(db, "CREATE TABLE t(x)"));
    QVERIFY(statements.get(db, sql).run());
    statements.clear();
    sqlite3_close(db);
}

// A journal kept in the folder of rescued notes is found whichever way its notes file's
// folder was reached.
void TestJournal::aFallbackJournalIsFoundByAnyPath()
{
#ifdef Q_OS_WIN
    QSKIP("a folder's read-only attribute does not keep new files out on Windows");
#endif
    QVERIFY(QDir().mkpath(QStringLiteral("real")));
    QVERIFY(QFile::link(workDir->filePath(QStringLiteral("real")), QStringLiteral("link")));
    const QString real = workDir->filePath(QStringLiteral("real/notes.dat"));
    QVERIFY(writeAll(real, Original));
    QVERIFY(QFile::setPermissions(QStringLiteral("real"),
                                  QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    {
        SessionJournal crashed(workDir->filePath(QStringLiteral("link/notes.dat")));
        crashed.recover(stampOf(real), 3);
        QVERIFY(crashed.recordChange(SessionJournal::Change::Insert, 3, NoteA));
    }
    SessionJournal journal(real);
    const bool replayed = journal.recover(stampOf(real), 3).replayed;
    QVERIFY(QFile::setPermissions(QStringLiteral("real"), QFileDevice::ReadOwner |
                                                              QFileDevice::WriteOwner |
                                                              QFileDevice::ExeOwner));
    QVERIFY(replayed);
}

QUILLORA_TEST_MAIN_AS_USER(TestJournal)

#include "tst_journal.moc"
