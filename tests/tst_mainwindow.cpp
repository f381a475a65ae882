// SPDX-License-Identifier: GPL-3.0-or-later
#include "dialogs/editnote.h"
#include "dialogs/newnote.h"
#include "find/notefinder.h"
#include "mainwindow/noterow.h"
#include "mainwindow/quillora.h"
#include "persistence/notesstore.h"
#include "testsupport.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAction>
#include <QDateTime>
#include <QFile>
#include <QHeaderView>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSettings>
#include <QSplitter>
#include <QTextBlock>
#include <QTextEdit>
#include <QTimer>
#include <QToolBar>
#include <QTreeWidget>
#include <functional>

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void windowIsBuiltAsTheUserSeesIt();
    void menusAndToolBarHoldTheCommands();
    void iconsHaveTheirSizes();
    void noteRowFollowsTheRules_data();
    void noteRowFollowsTheRules();
    void addingANote();
    void editingWritesBackIntoTheLoadedNote();
    void editedNoteDeletedMeanwhileIsKeptAsANewNote();
    void viewerShowsTextNeverMarkup();
    void deletingOneNote();
    void deletingAllAsksFirst();
    void rowsStayAsTheyWereDrawn_data();
    void rowsStayAsTheyWereDrawn();
    void aboutBoxNamesTheProgram();
    void closingSavesOnceAndIsAccepted();
    void exitSavesOnceWithoutClosing();
    void findsAsYouType_data();
    void findsAsYouType();

private:
    ScopedWorkDir *workDir = nullptr;
};

namespace {

QTreeWidget *noteTree(Quillora &window)
{
    return window.findChild<QTreeWidget *>();
}

QTextEdit *noteViewer(Quillora &window)
{
    return window.centralWidget()->findChild<QTextEdit *>();
}

QAction *action(Quillora &window, const QString &text)
{
    for (QAction *candidate : window.findChildren<QAction *>())
        if (candidate->text() == text)
            return candidate;
    qFatal("no action %s", qPrintable(text));
}

QStringList texts(const QList<QAction *> &actions)
{
    QStringList out;
    for (const QAction *entry : actions)
        out << (entry->isSeparator() ? QStringLiteral("|") : entry->text());
    return out;
}

QStringList rowTexts(const QTreeWidgetItem *item)
{
    return {item->text(0), item->text(1), item->text(2), item->text(3)};
}

void addNote(Quillora &window, const QString &title, const QString &text)
{
    action(window, QStringLiteral("&New Note"))->trigger();
    auto *dialog = window.findChild<NewNote *>();
    dialog->titleEdit->setText(title);
    dialog->noteEdit->setPlainText(text);
    dialog->acceptButton->click();
}

// Answers the next modal message box from inside its own event loop.
void answerMessageBox(const std::function<void(QMessageBox *)> &answer)
{
    ++UnexpectedBoxGuard::expected;
    auto *poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, poll, [poll, answer] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            poll->stop();
            poll->deleteLater();
            --UnexpectedBoxGuard::expected;
            answer(box);
        }
    });
    poll->start(10);
}

const QRegularExpression
    StampPattern(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d (0[1-9]|1[0-2]):\\d\\d (AM|PM)$"));

} // namespace

void TestMainWindow::init()
{
    workDir = new ScopedWorkDir;
    QSettings(QStringLiteral("Tolvane"), QStringLiteral("Quillora")).clear();
}

void TestMainWindow::cleanup()
{
    delete workDir;
    workDir = nullptr;
}

void TestMainWindow::windowIsBuiltAsTheUserSeesIt()
{
    Quillora window;
    QCOMPARE(window.windowTitle(), QStringLiteral("Quillora"));
    QCOMPARE(window.size(), QSize(500, 350));
    QCOMPARE(window.pos(), QPoint(200, 200));
    QVERIFY(!window.windowIcon().isNull());
    QCOMPARE(window.metaObject()->className(), "Quillora");

    QStringList slotNames;
    const QMetaObject *meta = window.metaObject();
    for (int i = meta->methodOffset(); i < meta->methodCount(); ++i) {
        QCOMPARE(meta->method(i).methodType(), QMetaMethod::Slot);
        QCOMPARE(meta->method(i).access(), QMetaMethod::Private);
        slotNames << QString::fromLatin1(meta->method(i).methodSignature());
    }
    QCOMPARE(slotNames,
             QStringList({"newNote()", "editNote()", "setTreeWidget()", "editTreeWidget()",
                          "showNote()", "deleteNote()", "deleteAll()", "writeSettingsWhenExit()",
                          "showAboutWindow()"}));

    QTreeWidget *tree = noteTree(window);
    QTextEdit *viewer = noteViewer(window);
    QVERIFY(tree && viewer);
    QCOMPARE(tree->columnCount(), 4);
    QStringList headers;
    for (int column = 0; column < 4; ++column)
        headers << tree->headerItem()->text(column);
    QCOMPARE(headers, QStringList({"Title", "Note", "Date", "hidden column"}));
    QCOMPARE(tree->columnWidth(0), 100);
    QCOMPARE(tree->columnWidth(1), 250);
    QCOMPARE(tree->columnWidth(2), 50);
    QVERIFY(tree->isColumnHidden(3));
    QVERIFY(!tree->isSortingEnabled());
    QCOMPARE(tree->font().pointSize(), 9);
    QCOMPARE(tree->topLevelItemCount(), 0);
    QCOMPARE(QAccessible::queryAccessibleInterface(tree)->text(QAccessible::Name),
             QStringLiteral("Notes"));
    QCOMPARE(QAccessible::queryAccessibleInterface(viewer)->text(QAccessible::Name),
             QStringLiteral("Note viewer"));
    QVERIFY(viewer->isReadOnly());
    QCOMPARE(viewer->font().pointSize(), 9);
    QVERIFY(viewer->toPlainText().isEmpty());

    auto *splitter = qobject_cast<QSplitter *>(tree->parentWidget());
    QVERIFY(splitter);
    QCOMPARE(splitter->orientation(), Qt::Vertical);
    QCOMPARE(splitter->widget(0), tree);
    QCOMPARE(splitter->widget(1), viewer);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QList<int> sizes = splitter->sizes();
    QVERIFY2(qAbs(sizes[0] - 2 * sizes[1]) <= 3,
             qPrintable(QStringLiteral("%1 : %2").arg(sizes[0]).arg(sizes[1])));

    auto *newDialog = window.findChild<NewNote *>();
    auto *editDialog = window.findChild<EditNote *>();
    QVERIFY(newDialog && editDialog);
    QVERIFY(!newDialog->isVisible() && !editDialog->isVisible());
    QCOMPARE(newDialog->parentWidget(), &window);
    QCOMPARE(editDialog->parentWidget(), &window);
}

void TestMainWindow::menusAndToolBarHoldTheCommands()
{
    Quillora window;
    const QList<QAction *> menus = window.menuBar()->actions();
    QCOMPARE(texts(menus), QStringList({"Notes", "Help"}));
    QCOMPARE(texts(menus[0]->menu()->actions()),
             QStringList({"&New Note", "|", "&Edit Note", "|", "&Delete Note", "Delete &All Notes",
                          "|", "&Exit"}));
    QCOMPARE(texts(menus[1]->menu()->actions()), QStringList({"&About", "&About Qt"}));

    const QList<QToolBar *> toolBars = window.findChildren<QToolBar *>();
    QCOMPARE(toolBars.size(), 1);
    QCOMPARE(toolBars[0]->windowTitle(), QStringLiteral("main toolbar"));
    QCOMPARE(window.toolBarArea(toolBars[0]), Qt::TopToolBarArea);
    QCOMPARE(texts(toolBars[0]->actions()),
             QStringList({"&New Note", "|", "&Edit Note", "|", "&Delete Note", "Delete &All Notes",
                          "|", "&About"}));

    for (QAction *entry : menus[0]->menu()->actions() + menus[1]->menu()->actions()) {
        if (entry->isSeparator())
            continue;
        const bool iconless =
            entry->text() == QLatin1String("&Exit") || entry->text() == QLatin1String("&About Qt");
        QCOMPARE(entry->icon().isNull(), iconless);
        QVERIFY(entry->shortcut().isEmpty());
        QCOMPARE(entry->parent(), &window);
    }
}

void TestMainWindow::iconsHaveTheirSizes()
{
    QMap<QString, int> sizes = {{"quillora.png", 128}};
    for (const char *name : {"about", "delete_all", "delete_note", "edit_note", "new_note"}) {
        sizes.insert(QLatin1String(name) + QLatin1String(".png"), 24);
        sizes.insert(QLatin1String(name) + QLatin1String("@2x.png"), 48);
    }
    QCOMPARE(QDir(QStringLiteral(":/icons")).entryList(), sizes.keys());
    for (auto it = sizes.cbegin(); it != sizes.cend(); ++it) {
        QImageReader reader(QStringLiteral(":/icons/") + it.key());
        QCOMPARE(reader.format(), QByteArray("png"));
        const QImage image = reader.read();
        QCOMPARE(image.size(), QSize(it.value(), it.value()));
        QVERIFY(image.hasAlphaChannel());
    }
}

void TestMainWindow::noteRowFollowsTheRules_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QTime>("time");
    QTest::addColumn<QStringList>("expected");

    const QDate day(2012, 3, 5);
    QTest::newRow("afternoon uses the 12-hour clock")
        << "t"
        << "b" << QTime(14, 7) << QStringList{"t", "b", "2012-03-05 02:07 PM", "b"};
    QTest::newRow("half past midnight is 12 AM")
        << "t"
        << "b" << QTime(0, 30) << QStringList{"t", "b", "2012-03-05 12:30 AM", "b"};
    QTest::newRow("half past noon is 12 PM")
        << "t"
        << "b" << QTime(12, 30) << QStringList{"t", "b", "2012-03-05 12:30 PM", "b"};
    QTest::newRow("empty title becomes Untitled")
        << ""
        << "" << QTime(9, 0) << QStringList{"Untitled", "", "2012-03-05 09:00 AM", ""};
    QTest::newRow("blank title stays as typed")
        << "   "
        << "x" << QTime(9, 0) << QStringList{"   ", "x", "2012-03-05 09:00 AM", "x"};
    QTest::newRow("preview folds white space, body keeps it")
        << " t "
        << "  one line\n\n\ttwo  " << QTime(9, 0)
        << QStringList{" t ", "one line two", "2012-03-05 09:00 AM", "  one line\n\n\ttwo  "};
    Q_UNUSED(day);
}

void TestMainWindow::noteRowFollowsTheRules()
{
    QFETCH(QString, title);
    QFETCH(QString, text);
    QFETCH(QTime, time);
    QFETCH(QStringList, expected);
    // The stamp reads the same whatever the user's language.
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const QStringList row = makeNoteRow(title, text, QDateTime(QDate(2012, 3, 5), time));
    QLocale::setDefault(QLocale::c());
    QCOMPARE(row, expected);
}

void TestMainWindow::addingANote()
{
    Quillora window;
    QTreeWidget *tree = noteTree(window);
    auto *dialog = window.findChild<NewNote *>();

    action(window, QStringLiteral("&New Note"))->trigger();
    QVERIFY(dialog->isVisible());
    QTest::keyClicks(dialog->titleEdit, QStringLiteral("Shopping"));
    QTest::keyClicks(dialog->noteEdit, QStringLiteral(" milk"));
    QTest::keyClick(dialog->noteEdit, Qt::Key_Return);
    QTest::keyClicks(dialog->noteEdit, QStringLiteral("bread "));
    QTest::mouseClick(dialog->acceptButton, Qt::LeftButton);

    QCOMPARE(tree->topLevelItemCount(), 1);
    const QStringList row = rowTexts(tree->topLevelItem(0));
    QCOMPARE(row[0], QStringLiteral("Shopping"));
    QCOMPARE(row[1], QStringLiteral("milk bread"));
    QVERIFY2(StampPattern.match(row[2]).hasMatch(), qPrintable(row[2]));
    QCOMPARE(row[3], QStringLiteral(" milk\nbread "));
    QVERIFY(!dialog->isVisible());
    QVERIFY(dialog->titleText().isEmpty());
    QVERIFY(dialog->noteText().isEmpty());
    QVERIFY(!tree->currentItem());
    QVERIFY(noteViewer(window)->toPlainText().isEmpty());

    // New notes go to the end, and an empty one is still a note.
    addNote(window, QString(), QString());
    QCOMPARE(tree->topLevelItemCount(), 2);
    QCOMPARE(tree->topLevelItem(1)->text(0), QStringLiteral("Untitled"));
    QCOMPARE(tree->topLevelItem(1)->text(1), QString());
}

void TestMainWindow::editingWritesBackIntoTheLoadedNote()
{
    Quillora window;
    QTreeWidget *tree = noteTree(window);
    auto *dialog = window.findChild<EditNote *>();
    QAction *edit = action(window, QStringLiteral("&Edit Note"));

    edit->trigger();
    QVERIFY(!dialog->isVisible());

    addNote(window, QStringLiteral("A"), QStringLiteral("alpha"));
    addNote(window, QStringLiteral("B"), QStringLiteral("beta"));
    addNote(window, QStringLiteral("C"), QString());
    tree->topLevelItem(2)->setText(ColumnBody, QStringLiteral("<b>gamma</b>\r\nline"));
    edit->trigger();
    QVERIFY(!dialog->isVisible());

    // Open A, then click B and delete C while the dialog is open.
    tree->setCurrentItem(tree->topLevelItem(0));
    tree->topLevelItem(0)->setText(ColumnDate, QStringLiteral("old"));
    edit->trigger();
    QVERIFY(dialog->isVisible());
    QCOMPARE(dialog->titleText(), QStringLiteral("A"));
    QCOMPARE(dialog->noteText(), QStringLiteral("alpha"));
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {},
                      tree->visualItemRect(tree->topLevelItem(1)).center());
    QCOMPARE(tree->currentItem(), tree->topLevelItem(1));
    dialog->noteEdit->setPlainText(QStringLiteral("alpha, changed"));
    QTest::mouseClick(dialog->acceptButton, Qt::LeftButton);

    QCOMPARE(tree->topLevelItemCount(), 3);
    QCOMPARE(tree->topLevelItem(0)->text(0), QStringLiteral("A"));
    QCOMPARE(tree->topLevelItem(0)->text(3), QStringLiteral("alpha, changed"));
    QVERIFY(StampPattern.match(tree->topLevelItem(0)->text(2)).hasMatch());
    QCOMPARE(tree->topLevelItem(1)->text(3), QStringLiteral("beta"));
    QVERIFY(!dialog->isVisible());
    QVERIFY(noteViewer(window)->toPlainText().isEmpty());

    // A note with markup and Windows line ends comes back unchanged through "Done".
    tree->setCurrentItem(tree->topLevelItem(2));
    edit->trigger();
    QTest::mouseClick(dialog->acceptButton, Qt::LeftButton);
    QCOMPARE(tree->topLevelItem(2)->text(3), QStringLiteral("<b>gamma</b>\r\nline"));

    // Rows removed above the edited note do not move the write-back.
    tree->setCurrentItem(tree->topLevelItem(2));
    edit->trigger();
    tree->setCurrentItem(tree->topLevelItem(0));
    action(window, QStringLiteral("&Delete Note"))->trigger();
    dialog->titleEdit->setText(QStringLiteral("C2"));
    QTest::mouseClick(dialog->acceptButton, Qt::LeftButton);
    QCOMPARE(tree->topLevelItemCount(), 2);
    QCOMPARE(tree->topLevelItem(0)->text(0), QStringLiteral("B"));
    QCOMPARE(tree->topLevelItem(1)->text(0), QStringLiteral("C2"));
}

void TestMainWindow::editedNoteDeletedMeanwhileIsKeptAsANewNote()
{
    Quillora window;
    QTreeWidget *tree = noteTree(window);
    auto *dialog = window.findChild<EditNote *>();
    addNote(window, QStringLiteral("A"), QStringLiteral("alpha"));
    addNote(window, QStringLiteral("B"), QStringLiteral("beta"));

    tree->setCurrentItem(tree->topLevelItem(0));
    action(window, QStringLiteral("&Edit Note"))->trigger();
    action(window, QStringLiteral("&Delete Note"))->trigger();
    dialog->noteEdit->setPlainText(QStringLiteral("alpha, rescued"));
    QTest::mouseClick(dialog->acceptButton, Qt::LeftButton);
    QCOMPARE(tree->topLevelItemCount(), 2);
    QCOMPARE(rowTexts(tree->topLevelItem(0)).at(3), QStringLiteral("beta"));
    QCOMPARE(rowTexts(tree->topLevelItem(1)).at(3), QStringLiteral("alpha, rescued"));

    // The same after "Delete All Notes".
    tree->setCurrentItem(tree->topLevelItem(0));
    action(window, QStringLiteral("&Edit Note"))->trigger();
    answerMessageBox([](QMessageBox *box) { box->button(QMessageBox::Yes)->click(); });
    action(window, QStringLiteral("Delete &All Notes"))->trigger();
    QCOMPARE(tree->topLevelItemCount(), 0);
    QTest::mouseClick(dialog->acceptButton, Qt::LeftButton);
    QCOMPARE(tree->topLevelItemCount(), 1);
    QCOMPARE(tree->topLevelItem(0)->text(0), QStringLiteral("B"));
}

void TestMainWindow::viewerShowsTextNeverMarkup()
{
    Quillora window;
    QTreeWidget *tree = noteTree(window);
    QTextEdit *viewer = noteViewer(window);
    const QString body = QStringLiteral("<img src=\"/dev/zero\">\n  <i>second</i> line\n");
    addNote(window, QStringLiteral("<img src=\"/dev/zero\"> a < b"), body);
    addNote(window, QStringLiteral("<b>"), QStringLiteral("plain"));

    // Reading /dev/zero as an image would never finish; shown as text it is instant.
    tree->setCurrentItem(tree->topLevelItem(0));
    QMetaObject::invokeMethod(&window, "showNote");
    const QStringList lines = viewer->toPlainText().split(u'\n');
    QCOMPARE(lines.first(), QStringLiteral("<img src=\"/dev/zero\"> a < b"));
    QCOMPARE(lines.mid(2).join(u'\n'), body);
    QVERIFY(!viewer->toHtml().contains(QStringLiteral("<img")));
    QVERIFY(viewer->document()->firstBlock().charFormat().fontWeight() >= QFont::Bold ||
            viewer->document()->firstBlock().begin().fragment().charFormat().fontWeight() >=
                QFont::Bold);

    // A click and an activation both show the row.
    const QRect second = tree->visualItemRect(tree->topLevelItem(1));
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, second.center());
    QVERIFY(viewer->toPlainText().startsWith(QStringLiteral("<b>\n")));
    viewer->clear();
    emit tree->activated(tree->currentIndex());
    QVERIFY(viewer->toPlainText().endsWith(QStringLiteral("plain")));
    QCOMPARE(tree->topLevelItemCount(), 2);
}

void TestMainWindow::deletingOneNote()
{
    Quillora window;
    QTreeWidget *tree = noteTree(window);
    QAction *remove = action(window, QStringLiteral("&Delete Note"));
    addNote(window, QStringLiteral("A"), QStringLiteral("a"));
    addNote(window, QStringLiteral("B"), QStringLiteral("b"));

    noteViewer(window)->setPlainText(QStringLiteral("shown"));
    remove->trigger();
    QCOMPARE(tree->topLevelItemCount(), 2);
    QVERIFY(noteViewer(window)->toPlainText().isEmpty());

    tree->setCurrentItem(tree->topLevelItem(1));
    QMetaObject::invokeMethod(&window, "showNote");
    remove->trigger();
    QCOMPARE(tree->topLevelItemCount(), 1);
    QCOMPARE(tree->topLevelItem(0)->text(0), QStringLiteral("A"));
    QVERIFY(noteViewer(window)->toPlainText().isEmpty());
}

void TestMainWindow::deletingAllAsksFirst()
{
    Quillora window;
    window.show();
    QTreeWidget *tree = noteTree(window);
    QAction *deleteAll = action(window, QStringLiteral("Delete &All Notes"));

    // An empty list asks nothing: were a box shown, this would block.
    deleteAll->trigger();

    addNote(window, QStringLiteral("A"), QStringLiteral("a"));
    addNote(window, QStringLiteral("B"), QStringLiteral("b"));
    QString title, text;
    answerMessageBox([&](QMessageBox *box) {
        title = box->windowTitle();
        text = box->text();
        QCOMPARE(box->icon(), QMessageBox::Warning);
        QCOMPARE(box->standardButtons(), QMessageBox::Yes | QMessageBox::Cancel);
        box->button(QMessageBox::Cancel)->click();
    });
    deleteAll->trigger();
    QCOMPARE(title, QStringLiteral("Are you sure?"));
    QCOMPARE(text, QStringLiteral("You are going to delete all notes"));
    QCOMPARE(tree->topLevelItemCount(), 2);

    answerMessageBox([](QMessageBox *box) { QTest::keyClick(box, Qt::Key_Escape); });
    deleteAll->trigger();
    QCOMPARE(tree->topLevelItemCount(), 2);

    noteViewer(window)->setPlainText(QStringLiteral("shown"));
    answerMessageBox([](QMessageBox *box) { box->button(QMessageBox::Yes)->click(); });
    deleteAll->trigger();
    QCOMPARE(tree->topLevelItemCount(), 0);
    QVERIFY(noteViewer(window)->toPlainText().isEmpty());
}

void TestMainWindow::rowsStayAsTheyWereDrawn_data()
{
    QTest::addColumn<QString>("commands");

    QTest::newRow("an add") << "add";
    QTest::newRow("a Done") << "done 7";
    QTest::newRow("a delete at the top, the middle and the end")
        << "delete 0;delete 150;delete 297";
    QTest::newRow("scrolled to the end, a delete and an add") << "scroll;delete 280;add";
    QTest::newRow("Delete All, then an add") << "deleteall;add";
}

// The list draws every row at one height. With the longest titles and previews, and text
// outside the Basic Multilingual Plane, each command leaves the rows where a list that
// measures every row would draw them, with the same current row, selection and scrolling.
void TestMainWindow::rowsStayAsTheyWereDrawn()
{
    QFETCH(QString, commands);
    const QStringList texts = {
        QString(60, u'W'),
        QStringLiteral("Grüße, 漢字 und مرحبا"),
        QStringLiteral("\U0001F600 \U0001F389 \U0001D11E beyond the plane"),
        QString(20000, u'm'),
        QStringLiteral("e\u0301\u0302 combining, \u200F right to left"),
        QStringLiteral("a text\n\non three lines"),
    };
    QList<QStringList> rows;
    for (int i = 0; i < 300; ++i)
        rows << makeNoteRow(texts.at(i % 5), texts.at((i + 2) % texts.size()),
                            QDateTime(QDate(2026, 1, 1), QTime(9, 0)).addSecs(i * 60));
    QVERIFY(saveNotesFile(QStringLiteral("notes.dat"), rows));

    Quillora window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTreeWidget *tree = noteTree(window);
    // A list of the same configuration that measures every row.
    QTreeWidget measured;
    measured.setColumnCount(4);
    measured.setFont(tree->font());
    for (int column = 0; column < 4; ++column)
        measured.setColumnWidth(column, tree->columnWidth(column));
    measured.setColumnHidden(3, true);
    measured.resize(tree->size());
    for (const QStringList &row : std::as_const(rows))
        measured.addTopLevelItem(new QTreeWidgetItem(row));
    measured.show();
    QVERIFY(QTest::qWaitForWindowExposed(&measured));

    const auto same = [&](const QString &after) {
        QCoreApplication::processEvents();
        QCOMPARE(tree->topLevelItemCount(), measured.topLevelItemCount());
        for (int i = 0; i < tree->topLevelItemCount(); ++i) {
            QCOMPARE(rowTexts(tree->topLevelItem(i)), rowTexts(measured.topLevelItem(i)));
            QVERIFY2(tree->visualItemRect(tree->topLevelItem(i)) ==
                         measured.visualItemRect(measured.topLevelItem(i)),
                     qPrintable(after + QStringLiteral(": row %1").arg(i)));
        }
        QCOMPARE(tree->currentIndex().row(), measured.currentIndex().row());
        const auto selectedRows = [](const QTreeWidget *list) {
            QList<int> numbers;
            for (const QModelIndex &index : list->selectionModel()->selectedRows())
                numbers << index.row();
            return numbers;
        };
        QCOMPARE(selectedRows(tree), selectedRows(&measured));
        QCOMPARE(tree->verticalScrollBar()->maximum(), measured.verticalScrollBar()->maximum());
        QCOMPARE(tree->verticalScrollBar()->value(), measured.verticalScrollBar()->value());
    };
    // The list that has the focus has a current row from the start.
    measured.selectionModel()->setCurrentIndex(
        measured.model()->index(tree->currentIndex().row(), 0), QItemSelectionModel::NoUpdate);
    same(QStringLiteral("loaded"));
    for (const QString &command : commands.split(u';')) {
        const QString name = command.section(u' ', 0, 0);
        const int row = command.section(u' ', 1).toInt();
        if (name == QLatin1String("add")) {
            addNote(window, texts.at(2), texts.at(3));
            measured.addTopLevelItem(
                new QTreeWidgetItem(rowTexts(tree->topLevelItem(tree->topLevelItemCount() - 1))));
        } else if (name == QLatin1String("done")) {
            tree->setCurrentItem(tree->topLevelItem(row));
            measured.setCurrentItem(measured.topLevelItem(row));
            action(window, QStringLiteral("&Edit Note"))->trigger();
            auto *dialog = window.findChild<EditNote *>();
            dialog->titleEdit->setText(texts.at(2));
            dialog->acceptButton->click();
            const QStringList written = rowTexts(tree->topLevelItem(row));
            for (int column = 0; column < 4; ++column)
                measured.topLevelItem(row)->setText(column, written.at(column));
        } else if (name == QLatin1String("delete")) {
            tree->setCurrentItem(tree->topLevelItem(row));
            measured.setCurrentItem(measured.topLevelItem(row));
            action(window, QStringLiteral("&Delete Note"))->trigger();
            delete measured.takeTopLevelItem(row);
        } else if (name == QLatin1String("deleteall")) {
            answerMessageBox([](QMessageBox *box) { box->button(QMessageBox::Yes)->click(); });
            action(window, QStringLiteral("Delete &All Notes"))->trigger();
            measured.clear();
        } else if (name == QLatin1String("scroll")) {
            tree->scrollToBottom();
            measured.scrollToBottom();
        }
        same(command);
    }
}

void TestMainWindow::aboutBoxNamesTheProgram()
{
    Quillora window;
    QString title, text;
    answerMessageBox([&](QMessageBox *box) {
        title = box->windowTitle();
        text = box->text();
        box->accept();
    });
    action(window, QStringLiteral("&About"))->trigger();
    QCOMPARE(title, QStringLiteral("About"));
    QVERIFY(
        text.startsWith(QStringLiteral("<h3>Quillora</h3><p>version 1.0 beta</p><p>Contact: ")));
    QVERIFY(text.contains(
        QStringLiteral("@example.org</p><p>Visit the publishers website</br><a href=")));
    QVERIFY(text.endsWith(QStringLiteral(" </a> for updates</p>")));
}

void TestMainWindow::closingSavesOnceAndIsAccepted()
{
    {
        Quillora window;
        window.show();
        addNote(window, QStringLiteral("A"), QStringLiteral("a"));
        action(window, QStringLiteral("&New Note"))->trigger(); // left open on purpose
        QVERIFY(window.close());
        QVERIFY(!window.isVisible());
        QVERIFY(QFile::exists(QStringLiteral("notes.dat")));
        QVERIFY(QFile::remove(QStringLiteral("notes.dat")));
    }
    QVERIFY(!QFile::exists(QStringLiteral("notes.dat")));
    QVERIFY(QSettings(QStringLiteral("Tolvane"), QStringLiteral("Quillora"))
                .contains(QStringLiteral("pos")));
}

void TestMainWindow::exitSavesOnceWithoutClosing()
{
    {
        Quillora window;
        window.show();
        addNote(window, QStringLiteral("A"), QStringLiteral("a"));
        QTimer::singleShot(0, &window, [&] { action(window, QStringLiteral("&Exit"))->trigger(); });
        QCOMPARE(QCoreApplication::exec(), 0);
        // The loop ended without a close event: the window never saw a second save.
        QVERIFY(window.isVisible());
        QVERIFY(QFile::exists(QStringLiteral("notes.dat")));
        QVERIFY(QFile::remove(QStringLiteral("notes.dat")));
    }
    QVERIFY(!QFile::exists(QStringLiteral("notes.dat")));
}

void TestMainWindow::findsAsYouType_data()
{
    QTest::addColumn<int>("notes");
    QTest::addColumn<QString>("script");
    QTest::addColumn<int>("current");
    QTest::addColumn<QString>("count");
    QTest::addColumn<int>("marked");

    // Five notes: red in 0, 2 ("red café") and 4; "far" and "mid" only in a long list's
    // last note and its middle one. Commands: "select N" (as a click), "type Q" (then the
    // pause), "next", "previous" (Return, Shift+Return), "escape", "add T", "edit N T",
    // "delete N", "deleteall", "keys Q" (typed, the scan left running).
    QTest::newRow("the first match at or after the current note")
        << 5 << "select 1;type red" << 2 << "2 of 3" << 1;
    QTest::newRow("next wraps") << 5 << "select 1;type red;next;next" << 0 << "1 of 3" << 1;
    QTest::newRow("previous wraps") << 5 << "select 0;type red;previous" << 4 << "3 of 3" << 1;
    QTest::newRow("every word, case and accents ignored")
        << 5 << "select 0;type CAFE Red" << 2 << "1 of 1" << 2;
    QTest::newRow("no match") << 5 << "select 1;type zebra" << 1 << "No matches" << 0;
    QTest::newRow("escape ends finding") << 5 << "select 1;type red;escape" << 2 << "" << 0;
    QTest::newRow("a note added that matches joins")
        << 5 << "type red;add Fig red fig" << 0 << "1 of 4" << 1;
    QTest::newRow("a note edited that no longer matches leaves")
        << 5 << "type red;edit 4 Plain" << 0 << "1 of 2" << 0;
    QTest::newRow("a note deleted leaves, the rows below move up")
        << 5 << "type red;select 2;delete 2;next" << 3 << "2 of 2" << 1;
    QTest::newRow("delete all") << 5 << "type red;deleteall" << -1 << "No matches" << 0;
    QTest::newRow("every note of a long list, from its middle")
        << 60000 << "select 30000;type note;next" << 30001 << "30002 of 60000" << 1;
    QTest::newRow("a click while the scan runs keeps the note clicked")
        << 60000 << "keys far;select 5;wait" << 5 << "0 of 1" << 0;
    QTest::newRow("a query changed while the scan runs: the new one's result alone")
        << 60000 << "keys far;type mid" << 30000 << "1 of 1" << 1;
}

void TestMainWindow::findsAsYouType()
{
    QFETCH(int, notes);
    QFETCH(QString, script);
    QFETCH(int, current);
    QFETCH(QString, count);
    QFETCH(int, marked);

    QList<QStringList> rows;
    const QStringList five = {"red fruit", "yellow", "red caf\u00e9", "brown", "dark red"};
    for (int i = 0; i < notes; ++i) {
        const QString text = notes == 5       ? five.at(i)
                             : i == notes - 1 ? QStringLiteral("far away")
                             : i == notes / 2 ? QStringLiteral("the mid one")
                                              : QStringLiteral("nothing here");
        rows << makeNoteRow(QStringLiteral("Note %1").arg(i), text, QDateTime::currentDateTime());
    }
    QVERIFY(saveNotesFile(QStringLiteral("notes.dat"), rows));
    Quillora window;
    window.show();
    auto *tree = noteTree(window);
    QLineEdit *field = nullptr;
    for (QLineEdit *candidate : window.findChildren<QLineEdit *>())
        if (candidate->accessibleName() == QLatin1String("Find"))
            field = candidate;
    auto *label = window.findChild<QLabel *>(QStringLiteral("findCount"));
    auto *finder = window.findChild<NoteFinder *>();
    QVERIFY(field && label && finder);
    QCOMPARE(field->placeholderText(), QStringLiteral("Find in notes"));
    for (const QString &command : script.split(u';')) {
        const QString name = command.section(u' ', 0, 0);
        const QString rest = command.section(u' ', 1);
        if (name == QLatin1String("select")) {
            tree->setCurrentItem(tree->topLevelItem(rest.toInt()));
        } else if (name == QLatin1String("type") || name == QLatin1String("keys")) {
            field->setFocus();
            field->setText(rest);
            // A key ends the search that ran.
            QVERIFY(!finder->isActive());
            // One slice of the scan at a time, until it runs.
            while (name == QLatin1String("keys") && !finder->isScanning())
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
            if (name == QLatin1String("type"))
                QTRY_VERIFY(finder->isActive() && !finder->isScanning());
        } else if (name == QLatin1String("wait")) {
            QTRY_VERIFY(!finder->isScanning());
        } else if (name == QLatin1String("next") || name == QLatin1String("previous")) {
            QTest::keyClick(field, Qt::Key_Return,
                            name == QLatin1String("next") ? Qt::NoModifier : Qt::ShiftModifier);
        } else if (name == QLatin1String("escape")) {
            QTest::keyClick(field, Qt::Key_Escape);
            QVERIFY(field->text().isEmpty());
            QVERIFY(!finder->isActive());
        } else if (name == QLatin1String("add")) {
            addNote(window, rest.section(u' ', 0, 0), rest.section(u' ', 1));
        } else if (name == QLatin1String("edit")) {
            tree->setCurrentItem(tree->topLevelItem(rest.section(u' ', 0, 0).toInt()));
            action(window, QStringLiteral("&Edit Note"))->trigger();
            auto *dialog = window.findChild<EditNote *>();
            dialog->noteEdit->setPlainText(rest.section(u' ', 1));
            dialog->acceptButton->click();
            tree->setCurrentItem(tree->topLevelItem(0));
        } else if (name == QLatin1String("delete")) {
            action(window, QStringLiteral("&Delete Note"))->trigger();
        } else if (name == QLatin1String("deleteall")) {
            answerMessageBox([](QMessageBox *box) { box->button(QMessageBox::Yes)->click(); });
            action(window, QStringLiteral("Delete &All Notes"))->trigger();
        }
    }
    QTRY_VERIFY(!finder->isScanning());
    QCOMPARE(tree->currentItem() ? tree->currentIndex().row() : -1, current);
    QCOMPARE(label->text(), count);
    QCOMPARE(noteViewer(window)->extraSelections().size(), marked);
    // Finding wrote nothing.
    QVERIFY(!QFile::exists(QStringLiteral(".notes.dat.journal")) ||
            script.contains(QLatin1String("add")) || script.contains(QLatin1String("edit")) ||
            script.contains(QLatin1String("delete")));
}

QUILLORA_TEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
