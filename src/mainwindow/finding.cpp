// SPDX-License-Identifier: GPL-3.0-or-later
// Finding in the main window: the field, its keys, the count, and the match shown.
#include "quillora.h"

#include "find/notefinder.h"
#include "noterow.h"

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QShortcut>
#include <QStyledItemDelegate>
#include <QTextDocument>
#include <QTextEdit>
#include <QTimer>
#include <QTreeWidget>

namespace {

// How long typing pauses before the notes are looked through.
constexpr int FindPauseMs = 120;

// The rows of the list that match are drawn in bold on a tint of the selection's colour;
// only the rows on screen are drawn at all.
class MatchDelegate : public QStyledItemDelegate
{
public:
    MatchDelegate(const NoteFinder *finder, QObject *parent)
        : QStyledItemDelegate(parent), finder(finder)
    {
    }

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        if (!finder->isActive() || !finder->isMatch(index.row()))
            return;
        option->font.setBold(true);
        QColor tint = option->palette.color(QPalette::Highlight);
        tint.setAlpha(48);
        option->backgroundBrush = tint;
    }

private:
    const NoteFinder *finder;
};

} // namespace

void Quillora::createFindField()
{
    findField = new QLineEdit(this);
    findField->setAccessibleName(QStringLiteral("Find"));
    findField->setPlaceholderText(QStringLiteral("Find in notes"));
    findField->setClearButtonEnabled(true);
    findField->setMaximumWidth(220);
    findField->installEventFilter(this);
    findCount = new QLabel(this);
    // Its text is its accessible name: a screen reader reads the count itself.
    findCount->setObjectName(QStringLiteral("findCount"));
    findCount->setContentsMargins(6, 0, 6, 0);

    finder = new NoteFinder(noteTree, this);
    noteTree->setItemDelegate(new MatchDelegate(finder, noteTree));
    findPause = new QTimer(this);
    findPause->setSingleShot(true);
    findPause->setInterval(FindPauseMs);

    // A key ends the search that runs: no result of an older query is shown.
    connect(findField, &QLineEdit::textChanged, this, [this] {
        if (finder->isActive())
            finder->stop();
        noteViewer->setExtraSelections({});
        findPause->start();
    });
    connect(findPause, &QTimer::timeout, this, &Quillora::startFinding);
    connect(finder, &NoteFinder::firstFound, this, &Quillora::showFirstFound);
    connect(finder, &NoteFinder::changed, this, &Quillora::showFindCount);
    connect(noteTree, &QTreeWidget::currentItemChanged, this, [this] {
        if (!findMoving)
            movedSinceFind = true;
        showFindCount();
    });

    auto *findKey = new QShortcut(QKeySequence::Find, this);
    connect(findKey, &QShortcut::activated, this, [this] {
        findField->setFocus(Qt::ShortcutFocusReason);
        findField->selectAll();
    });
    auto *nextKey = new QShortcut(QKeySequence::FindNext, this);
    connect(nextKey, &QShortcut::activated, this, [this] { goToMatch(true); });
    auto *previousKey = new QShortcut(QKeySequence::FindPrevious, this);
    connect(previousKey, &QShortcut::activated, this, [this] { goToMatch(false); });
}

bool Quillora::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != findField || event->type() != QEvent::KeyPress)
        return QMainWindow::eventFilter(watched, event);
    const auto *key = static_cast<QKeyEvent *>(event);
    const bool shift = key->modifiers() & Qt::ShiftModifier;
    switch (key->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        // A query typed and sent at once is looked for at once.
        if (!findWithoutPause())
            goToMatch(!shift);
        return true;
    case Qt::Key_Down:
        goToMatch(true);
        return true;
    case Qt::Key_Up:
        goToMatch(false);
        return true;
    case Qt::Key_Escape:
        endFinding();
        return true;
    default:
        return QMainWindow::eventFilter(watched, event);
    }
}

void Quillora::startFinding()
{
    movedSinceFind = false;
    const int from = noteTree->currentItem() ? noteTree->currentIndex().row() : 0;
    finder->find(findField->text(), from);
    noteTree->viewport()->update();
    markFoundInViewer();
}

void Quillora::showFirstFound(int row)
{
    // The user went to another note meanwhile: that one stays.
    if (row >= 0 && !movedSinceFind)
        selectFound(row);
}

bool Quillora::findWithoutPause()
{
    if (!findPause->isActive())
        return false;
    findPause->stop();
    startFinding();
    return true;
}

void Quillora::goToMatch(bool forward)
{
    findWithoutPause();
    const int current = noteTree->currentItem() ? noteTree->currentIndex().row() : -1;
    const int row = finder->nextMatch(current, forward);
    if (row >= 0)
        selectFound(row);
}

void Quillora::selectFound(int row)
{
    QTreeWidgetItem *note = noteTree->topLevelItem(row);
    if (!note)
        return;
    findMoving = true;
    noteTree->setCurrentItem(note);
    findMoving = false;
    noteTree->scrollToItem(note);
    showNote();
    showFindCount();
}

void Quillora::endFinding()
{
    // Emptied, the field ends the search; the pause its change started ends too.
    findField->clear();
    findPause->stop();
    finder->stop();
    noteTree->viewport()->update();
    noteViewer->setExtraSelections({});
    noteTree->setFocus(Qt::OtherFocusReason);
}

void Quillora::showFindCount()
{
    const std::vector<int> &matches = finder->matches();
    QString text;
    if (finder->isActive() && !matches.empty()) {
        const int current = noteTree->currentItem() ? noteTree->currentIndex().row() : -1;
        const auto at = std::lower_bound(matches.begin(), matches.end(), current);
        const int which = at != matches.end() && *at == current ? int(at - matches.begin()) + 1 : 0;
        text = QStringLiteral("%1 of %2").arg(which).arg(matches.size());
        if (finder->isScanning())
            text += QChar(0x2026);
    } else if (finder->isActive() && !finder->isScanning()) {
        text = QStringLiteral("No matches");
    }
    if (findCount->text() != text)
        findCount->setText(text);
    noteTree->viewport()->update();
}

// Every occurrence of the query in the note shown, the first scrolled into view. The viewer
// holds the title, a line break and a paragraph break, then the text.
void Quillora::markFoundInViewer()
{
    const QTreeWidgetItem *note = noteTree->currentItem();
    if (!finder->isActive() || !note || noteViewer->document()->isEmpty()) {
        noteViewer->setExtraSelections({});
        return;
    }
    const QString title = note->text(ColumnTitle);
    QList<QTextEdit::ExtraSelection> marks;
    QTextCharFormat found;
    found.setBackground(QColor(255, 213, 79));
    found.setForeground(Qt::black);
    const auto mark = [&](const QString &text, qsizetype offset) {
        for (const auto &[from, to] : finder->query().occurrences(text)) {
            QTextEdit::ExtraSelection selection;
            selection.cursor = QTextCursor(noteViewer->document());
            selection.cursor.setPosition(int(offset + from));
            selection.cursor.setPosition(int(offset + to), QTextCursor::KeepAnchor);
            selection.format = found;
            marks << selection;
        }
    };
    mark(title, 0);
    mark(note->text(ColumnBody), title.size() + 2);
    noteViewer->setExtraSelections(marks);
    if (!marks.isEmpty()) {
        QTextCursor first = marks.first().cursor;
        first.clearSelection();
        noteViewer->setTextCursor(first);
        noteViewer->ensureCursorVisible();
    }
}
