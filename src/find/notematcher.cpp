// SPDX-License-Identifier: GPL-3.0-or-later
#include "notematcher.h"

#include <algorithm>
#include <array>
#include <memory>

namespace {

// Each UTF-16 code unit's folded form, 0 for one that is dropped. Surrogates stay as they
// are. Made once, from Qt's Unicode tables: a letter whose canonical decomposition is a
// letter and marks becomes that letter, then its case is folded.
const std::array<char16_t, 0x10000> &foldTable()
{
    static const std::unique_ptr<std::array<char16_t, 0x10000>> table = [] {
        auto made = std::make_unique<std::array<char16_t, 0x10000>>();
        for (char32_t unit = 0; unit < 0x10000; ++unit) {
            const QChar c(char16_t(unit), 0);
            if (c.isSurrogate()) {
                (*made)[unit] = char16_t(unit);
                continue;
            }
            char32_t base = unit;
            while (QChar::decompositionTag(base) == QChar::Canonical) {
                const QString parts = QChar::decomposition(base);
                const bool marksAfter = std::all_of(parts.begin() + 1, parts.end(),
                                                    [](QChar part) { return part.isMark(); });
                if (parts.isEmpty() || !marksAfter || parts.at(0).isSurrogate())
                    break;
                base = parts.at(0).unicode();
            }
            const char32_t folded = QChar::toCaseFolded(base);
            (*made)[unit] = QChar::isMark(base) || folded > 0xFFFF ? char16_t(0) : char16_t(folded);
        }
        return made;
    }();
    return *table;
}

// Folds `text` into `folded`, and where `origins` is given, the index in `text` of each
// unit of `folded`.
void fold(QStringView text, QString &folded, QList<qsizetype> *origins = nullptr)
{
    const std::array<char16_t, 0x10000> &table = foldTable();
    folded.resize(text.size());
    if (origins)
        origins->resize(text.size());
    char16_t *out = reinterpret_cast<char16_t *>(folded.data());
    qsizetype length = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t unit = table[text[i].unicode()];
        if (!unit)
            continue;
        if (origins)
            (*origins)[length] = i;
        out[length++] = unit;
    }
    folded.truncate(length);
    if (origins)
        origins->resize(length);
}

} // namespace

QString foldForFinding(QStringView text)
{
    QString folded;
    fold(text, folded);
    return folded;
}

NoteQuery::NoteQuery(QStringView query)
{
    qsizetype start = 0;
    for (qsizetype i = 0; i <= query.size(); ++i) {
        if (i < query.size() && !query[i].isSpace())
            continue;
        // A word that is nothing but marks finds everything: it is left out.
        const QString folded = foldForFinding(query.sliced(start, i - start));
        if (!folded.isEmpty() && !words.contains(folded))
            words << folded;
        start = i + 1;
    }
}

bool NoteQuery::matches(QStringView title, QStringView text) const
{
    if (words.isEmpty())
        return false;
    // Reused by each call on a thread: a long note is folded without a new allocation.
    thread_local QString foldedTitle;
    thread_local QString foldedText;
    fold(title, foldedTitle);
    fold(text, foldedText);
    return std::all_of(words.begin(), words.end(), [](const QString &word) {
        return foldedTitle.contains(word) || foldedText.contains(word);
    });
}

QList<std::pair<qsizetype, qsizetype>> NoteQuery::occurrences(QStringView text) const
{
    QString folded;
    QList<qsizetype> origins;
    fold(text, folded, &origins);
    QList<std::pair<qsizetype, qsizetype>> found;
    for (const QString &word : words) {
        for (qsizetype at = folded.indexOf(word); at >= 0;
             at = folded.indexOf(word, at + word.size())) {
            qsizetype end = origins.at(at + word.size() - 1) + 1;
            while (end < text.size() && foldTable()[text[end].unicode()] == 0)
                ++end;
            found.append({origins.at(at), end});
        }
    }
    std::sort(found.begin(), found.end());
    // One range for matches that overlap, as two words may.
    QList<std::pair<qsizetype, qsizetype>> merged;
    for (const auto &range : std::as_const(found)) {
        if (!merged.isEmpty() && range.first < merged.last().second)
            merged.last().second = std::max(merged.last().second, range.second);
        else
            merged.append(range);
    }
    return merged;
}
