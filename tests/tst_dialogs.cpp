// SPDX-License-Identifier: GPL-3.0-or-later
#include "dialogs/editnote.h"
#include "dialogs/newnote.h"
#include "testsupport.h"

#include <QAccessible>
#include <QClipboard>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QSignalSpy>
#include <QTextEdit>

class TestDialogs : public QObject
{
    Q_OBJECT

private slots:
    void formIsTheSameInBothDialogs_data();
    void formIsTheSameInBothDialogs();
    void addHidesThenSignals();
    void doneSignalsAndStaysOpen();
    void cancelSignalsNothingAndKeepsTheInput();
    void accessorsReturnTextAsTyped();
    void pastedFormattingArrivesAsPlainText();
    void setNoteRoundTripsExactly_data();
    void setNoteRoundTripsExactly();
    void editedTextWins();
};

namespace {

struct Cell
{
    int row = -1;
    int column = -1;
    Qt::Alignment alignment;
};

Cell cellOf(QGridLayout *grid, QObject *item)
{
    for (int i = 0; i < grid->count(); ++i) {
        QLayoutItem *entry = grid->itemAt(i);
        if (entry->widget() == item || entry->layout() == item) {
            Cell cell;
            int rowSpan, columnSpan;
            grid->getItemPosition(i, &cell.row, &cell.column, &rowSpan, &columnSpan);
            cell.alignment = entry->alignment();
            return cell;
        }
    }
    return {};
}

QLabel *caption(QDialog *dialog, const QString &text)
{
    for (QLabel *label : dialog->findChildren<QLabel *>())
        if (label->text() == text)
            return label;
    return nullptr;
}

template <typename Dialog>
void checkForm(Dialog &dialog, const QString &title, const QString &accept)
{
    QCOMPARE(dialog.windowTitle(), title);
    QCOMPARE(dialog.size(), QSize(500, 200));
    QVERIFY(!dialog.isVisible());
    QVERIFY(!dialog.isModal());
    QCOMPARE(dialog.acceptButton->text(), accept);
    QCOMPARE(dialog.cancelButton->text(), QStringLiteral("cancel"));
    QVERIFY(!dialog.noteEdit->acceptRichText());
    QCOMPARE(dialog.titleEdit->font().pointSize(), 9);
    QCOMPARE(dialog.noteEdit->font().pointSize(), 9);

    auto *grid = qobject_cast<QGridLayout *>(dialog.layout());
    QVERIFY(grid);
    QLabel *titleCaption = caption(&dialog, QStringLiteral("Title:"));
    QLabel *noteCaption = caption(&dialog, QStringLiteral("Note :"));
    QVERIFY(titleCaption && noteCaption);
    // A screen reader names each field by its caption.
    QCOMPARE(QAccessible::queryAccessibleInterface(dialog.titleEdit)->text(QAccessible::Name),
             QStringLiteral("Title:"));
    QCOMPARE(QAccessible::queryAccessibleInterface(dialog.noteEdit)->text(QAccessible::Name),
             QStringLiteral("Note :"));

    QCOMPARE(cellOf(grid, titleCaption).row, 0);
    QCOMPARE(cellOf(grid, titleCaption).column, 0);
    QCOMPARE(cellOf(grid, dialog.titleEdit).row, 0);
    QCOMPARE(cellOf(grid, dialog.titleEdit).column, 1);
    QCOMPARE(cellOf(grid, noteCaption).row, 1);
    QCOMPARE(cellOf(grid, noteCaption).column, 0);
    QCOMPARE(cellOf(grid, noteCaption).alignment, Qt::AlignTop);
    QCOMPARE(cellOf(grid, dialog.noteEdit).row, 1);
    QCOMPARE(cellOf(grid, dialog.noteEdit).column, 1);
    QVERIFY(!grid->itemAtPosition(2, 0));

    // The buttons share one row under the fields, accept first.
    QLayout *buttons = grid->itemAtPosition(2, 1)->layout();
    QVERIFY(buttons);
    QCOMPARE(buttons->count(), 2);
    QCOMPARE(buttons->itemAt(0)->widget(), dialog.acceptButton);
    QCOMPARE(buttons->itemAt(1)->widget(), dialog.cancelButton);
}

} // namespace

void TestDialogs::formIsTheSameInBothDialogs_data()
{
    QTest::addColumn<bool>("edit");
    QTest::newRow("new note") << false;
    QTest::newRow("edit note") << true;
}

void TestDialogs::formIsTheSameInBothDialogs()
{
    QFETCH(bool, edit);
    QWidget owner;
    if (edit) {
        EditNote dialog(&owner);
        checkForm(dialog, QStringLiteral("Edit Note"), QStringLiteral("Done"));
        QCOMPARE(dialog.metaObject()->className(), "EditNote");
        QCOMPARE(dialog.metaObject()->superClass(), &QDialog::staticMetaObject);
    } else {
        NewNote dialog(&owner);
        checkForm(dialog, QStringLiteral("New Note"), QStringLiteral("Add"));
        QCOMPARE(dialog.metaObject()->className(), "NewNote");
        QCOMPARE(dialog.metaObject()->superClass(), &QDialog::staticMetaObject);
    }
}

void TestDialogs::addHidesThenSignals()
{
    QWidget owner;
    NewNote dialog(&owner);
    dialog.show();
    bool visibleWhenSignalled = true;
    connect(&dialog, &NewNote::addButtonClicked, &dialog,
            [&] { visibleWhenSignalled = dialog.isVisible(); });
    QSignalSpy added(&dialog, &NewNote::addButtonClicked);
    QSignalSpy finished(&dialog, &QDialog::finished);

    QTest::mouseClick(dialog.acceptButton, Qt::LeftButton);
    QCOMPARE(added.count(), 1);
    QCOMPARE(finished.count(), 0);
    QVERIFY(!visibleWhenSignalled);
    QVERIFY(!dialog.isVisible());
    QVERIFY(dialog.titleText().isEmpty());
    QVERIFY(dialog.noteText().isEmpty());
}

void TestDialogs::doneSignalsAndStaysOpen()
{
    QWidget owner;
    EditNote dialog(&owner);
    dialog.setNote(QStringLiteral("t"), QStringLiteral("b"));
    dialog.show();
    QSignalSpy done(&dialog, &EditNote::doneButtonClicked);
    QTest::mouseClick(dialog.acceptButton, Qt::LeftButton);
    QCOMPARE(done.count(), 1);
    QVERIFY(dialog.isVisible());
}

void TestDialogs::cancelSignalsNothingAndKeepsTheInput()
{
    QWidget owner;
    NewNote newDialog(&owner);
    EditNote editDialog(&owner);
    QSignalSpy added(&newDialog, &NewNote::addButtonClicked);
    QSignalSpy done(&editDialog, &EditNote::doneButtonClicked);

    newDialog.show();
    QTest::keyClicks(newDialog.titleEdit, QStringLiteral("half"));
    QTest::keyClicks(newDialog.noteEdit, QStringLiteral("written"));
    QTest::mouseClick(newDialog.cancelButton, Qt::LeftButton);
    editDialog.setNote(QStringLiteral("t"), QStringLiteral("b"));
    editDialog.show();
    QTest::mouseClick(editDialog.cancelButton, Qt::LeftButton);

    QCOMPARE(added.count(), 0);
    QCOMPARE(done.count(), 0);
    QVERIFY(!newDialog.isVisible());
    QVERIFY(!editDialog.isVisible());
    newDialog.show();
    QCOMPARE(newDialog.titleText(), QStringLiteral("half"));
    QCOMPARE(newDialog.noteText(), QStringLiteral("written"));
}

void TestDialogs::accessorsReturnTextAsTyped()
{
    QWidget owner;
    NewNote dialog(&owner);
    dialog.show();
    QTest::keyClicks(dialog.titleEdit, QStringLiteral("  <b>spaced</b>  "));
    QTest::keyClicks(dialog.noteEdit, QStringLiteral(" <i>line</i> & more "));
    QTest::keyClick(dialog.noteEdit, Qt::Key_Return);
    QTest::keyClicks(dialog.noteEdit, QStringLiteral("second"));
    QCOMPARE(dialog.titleText(), QStringLiteral("  <b>spaced</b>  "));
    QCOMPARE(dialog.noteText(), QStringLiteral(" <i>line</i> & more \nsecond"));

    dialog.titleEdit->clear();
    QTest::keyClicks(dialog.titleEdit, QStringLiteral("   "));
    QCOMPARE(dialog.titleText(), QStringLiteral("   "));
}

void TestDialogs::pastedFormattingArrivesAsPlainText()
{
    QWidget owner;
    NewNote dialog(&owner);
    auto *mime = new QMimeData;
    mime->setHtml(QStringLiteral("<b>bold</b> and <i>italic</i>"));
    mime->setText(QStringLiteral("bold and italic"));
    QApplication::clipboard()->setMimeData(mime);
    dialog.noteEdit->paste();
    QCOMPARE(dialog.noteText(), QStringLiteral("bold and italic"));
    QVERIFY(!dialog.noteEdit->toHtml().contains(QStringLiteral("font-weight:700")));
}

void TestDialogs::setNoteRoundTripsExactly_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");

    QTest::newRow("bold markup") << "<b>title</b>"
                                 << "<b>bold</b> text";
    QTest::newRow("html document") << "t"
                                   << "<html><body><p>para</p></body></html>";
    QTest::newRow("image naming a device") << "<img src=\"/dev/zero\">"
                                           << "<img src=\"/dev/zero\">";
    QTest::newRow("several lines") << "t"
                                   << "  first\n\n  second  \nthird\n";
    QTest::newRow("windows line ends") << "t"
                                       << "one\r\ntwo\r\n";
    QTest::newRow("no-break space and separators")
        << QString::fromUtf16(u"a\u00a0b") << QString::fromUtf16(u"x\u00a0y\u2028z\u2029w");
    QTest::newRow("blanks only") << "   "
                                 << "   ";
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("title longer than a line edit holds") << QString(40000, u't') << "b";
}

void TestDialogs::setNoteRoundTripsExactly()
{
    QFETCH(QString, title);
    QFETCH(QString, text);
    QWidget owner;
    EditNote dialog(&owner);
    dialog.setNote(title, text);
    QCOMPARE(dialog.titleText(), title);
    QCOMPARE(dialog.noteText(), text);
    // The body is shown as the characters it holds, never as formatted text.
    QVERIFY(!dialog.noteEdit->document()->toHtml().contains(QStringLiteral("<img")));
}

void TestDialogs::editedTextWins()
{
    QWidget owner;
    EditNote dialog(&owner);
    dialog.show();
    dialog.setNote(QStringLiteral("old title"), QStringLiteral("one\r\ntwo"));
    dialog.titleEdit->selectAll();
    QTest::keyClicks(dialog.titleEdit, QStringLiteral("new title"));
    dialog.noteEdit->moveCursor(QTextCursor::End);
    QTest::keyClicks(dialog.noteEdit, QStringLiteral("!"));
    QCOMPARE(dialog.titleText(), QStringLiteral("new title"));
    QCOMPARE(dialog.noteText(), QStringLiteral("one\ntwo!"));

    // A second load replaces whatever was typed.
    dialog.setNote(QStringLiteral("second"), QStringLiteral("body"));
    QCOMPARE(dialog.titleText(), QStringLiteral("second"));
    QCOMPARE(dialog.noteText(), QStringLiteral("body"));
}

QUILLORA_TEST_MAIN(TestDialogs)
#include "tst_dialogs.moc"
