// SPDX-License-Identifier: GPL-3.0-or-later
#include "noterow.h"

#include <QDateTime>

QStringList makeNoteRow(const QString &title, const QString &text, const QDateTime &when)
{
    // Only an empty title is replaced; blanks are a title the user chose.
    const QString shownTitle = title.isEmpty() ? QStringLiteral("Untitled") : title;
    // Qt 6 formats AM/PM in the C locale, so the stamp reads the same in every language.
    return {shownTitle, text.simplified(), when.toString(QLatin1String(DateFormat)), text};
}
