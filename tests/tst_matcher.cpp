// SPDX-License-Identifier: GPL-3.0-or-later
#include "find/notematcher.h"
#include "testsupport.h"

#include <QRandomGenerator>

// What finding counts as a match, with no window: a table of cases, then random notes
// against a slow reference that decomposes, drops the marks and folds the case.
class TestMatcher : public QObject
{
    Q_OBJECT

private slots:
    void matches_data();
    void matches();
    void occurrences_data();
    void occurrences();
    void agreesWithTheReference();
};

namespace {

QString reference(const QString &text)
{
    QString folded;
    const QString decomposed = text.normalized(QString::NormalizationForm_D);
    for (const QChar c : decomposed) {
        if (c.isMark())
            continue;
        folded += c.isSurrogate() ? c : c.toCaseFolded();
    }
    return folded;
}

bool referenceMatches(const QString &query, const QString &title, const QString &text)
{
    const QStringList words = query.split(QRegularExpression(QStringLiteral("\\s+")));
    bool any = false;
    for (const QString &word : words) {
        const QString folded = reference(word);
        if (folded.isEmpty())
            continue;
        any = true;
        if (!reference(title).contains(folded) && !reference(text).contains(folded))
            return false;
    }
    return any;
}

} // namespace

void TestMatcher::matches_data()
{
    QTest::addColumn<QString>("query");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("matches");

    QTest::newRow("part of a word") << "uni"
                                    << ""
                                    << "communication" << true;
    QTest::newRow("words in any order, title and text") << "beta alp"
                                                        << "Alpha"
                                                        << "the beta" << true;
    QTest::newRow("one word missing") << "alpha gamma"
                                      << "Alpha"
                                      << "the beta" << false;
    QTest::newRow("case") << "HELLO"
                          << ""
                          << "hello" << true;
    QTest::newRow("accent, one code point") << "cafe"
                                            << ""
                                            << "Café au lait" << true;
    QTest::newRow("accent, a letter and a mark") << "cafe"
                                                 << ""
                                                 << "Cafe\u0301" << true;
    QTest::newRow("accented query, plain text") << "café"
                                                << ""
                                                << "cafe" << true;
    QTest::newRow("Slovak") << "velmi"
                            << ""
                            << "veľmi dobre" << true;
    QTest::newRow("sharp s, simple folding") << "ß"
                                             << ""
                                             << "STRAẞE" << true;
    QTest::newRow("dotted capital I") << "istanbul"
                                      << ""
                                      << "İstanbul" << true;
    QTest::newRow("dotless i stays apart") << "ı"
                                           << ""
                                           << "istanbul" << false;
    QTest::newRow("Greek final sigma") << "λογοσ"
                                       << ""
                                       << "ΛΟΓΟΣ λόγος" << true;
    QTest::newRow("Greek tonos") << "λογος"
                                 << ""
                                 << "λόγος" << true;
    QTest::newRow("Cyrillic") << "ёлка"
                              << ""
                              << "ЁЛКА" << true;
    QTest::newRow("Cyrillic short i: its breve is a mark too") << "и"
                                                               << ""
                                                               << "Й" << true;
    QTest::newRow("Hebrew with points") << "שלום"
                                        << ""
                                        << "שָׁלוֹם" << true;
    QTest::newRow("Arabic with vowel marks") << "كتب"
                                             << ""
                                             << "كَتَبَ" << true;
    QTest::newRow("emoji") << "🎉"
                           << "party 🎉"
                           << "" << true;
    QTest::newRow("another emoji") << "🎉"
                                   << "party 🎈"
                                   << "" << false;
    QTest::newRow("CJK") << "東京"
                         << ""
                         << "東京都" << true;
    QTest::newRow("an empty query") << "  "
                                    << "a"
                                    << "b" << false;
    QTest::newRow("a query of marks alone") << "\u0301"
                                            << "a"
                                            << "b" << false;
    QTest::newRow("a tab between words") << "alpha\tbeta"
                                         << "alpha"
                                         << "beta" << true;
    QTest::newRow("a null text") << "a"
                                 << "a" << QString() << true;
}

void TestMatcher::matches()
{
    QFETCH(QString, query);
    QFETCH(QString, title);
    QFETCH(QString, text);
    QFETCH(bool, matches);
    QCOMPARE(NoteQuery(query).matches(title, text), matches);
    QCOMPARE(referenceMatches(query, title, text), matches);
}

void TestMatcher::occurrences_data()
{
    QTest::addColumn<QString>("query");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("marked");

    QTest::newRow("every one") << "ab"
                               << "ab xab abab"
                               << "[ab] x[ab] [ab][ab]";
    QTest::newRow("with the mark after it") << "cafe"
                                            << "Cafe\u0301!"
                                            << "[Cafe\u0301]!";
    QTest::newRow("accent inside") << "ete"
                                   << "l'été"
                                   << "l'[été]";
    QTest::newRow("two words overlapping") << "abc bcd"
                                           << "abcd"
                                           << "[abcd]";
    QTest::newRow("at the very end") << "z"
                                     << "xyz"
                                     << "xy[z]";
    QTest::newRow("none") << "q"
                          << "xyz"
                          << "xyz";
}

void TestMatcher::occurrences()
{
    QFETCH(QString, query);
    QFETCH(QString, text);
    QFETCH(QString, marked);
    QString shown = text;
    const auto ranges = NoteQuery(query).occurrences(text);
    for (auto range = ranges.crbegin(); range != ranges.crend(); ++range) {
        shown.insert(range->second, u']');
        shown.insert(range->first, u'[');
    }
    QCOMPARE(shown, marked);
}

// Random notes and queries from letters that fold and decompose in every way the table
// lists, matches across the edge of a long text included.
void TestMatcher::agreesWithTheReference()
{
    const QStringList pieces = {"a", "b", "e", "E", "é", "e\u0301", "É",  "ß", "ẞ",     "s", "i",
                                "I", "İ", "ı", "σ", "ς", "Σ",       "ά",  "α", "ё",     "Ё", "е",
                                "й", "ש", "ָ",  "ك", "َ",  "🎉",       "東", " ", "\u0301"};
    QRandomGenerator random(2026);
    const auto text = [&](int length) {
        QString made;
        for (int i = 0; i < length; ++i)
            made += pieces.at(random.bounded(int(pieces.size())));
        return made;
    };
    int found = 0;
    for (int round = 0; round < 20000; ++round) {
        const QString title = text(random.bounded(6));
        const QString body = text(random.bounded(round % 100 == 0 ? 5000 : 40));
        const QString query = text(1 + random.bounded(4));
        const bool expected = referenceMatches(query, title, body);
        found += expected;
        QVERIFY2(NoteQuery(query).matches(title, body) == expected,
                 qPrintable(QStringLiteral("%1 in %2 | %3").arg(query, title, body.left(80))));
    }
    // Both outcomes were tried often.
    QVERIFY2(found > 2000 && found < 18000, qPrintable(QString::number(found)));
}

QUILLORA_TEST_MAIN(TestMatcher)

#include "tst_matcher.moc"
