// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStringList>

class QDateTime;

// Column order of a note in the list and in the notes file.
enum NoteColumn
{
    ColumnTitle = 0,
    ColumnPreview = 1,
    ColumnDate = 2,
    ColumnBody = 3,
    NoteColumnCount = 4
};

// Time stamp of a note's last write: 12-hour clock, hours 01 to 12, then AM or PM.
inline constexpr char DateFormat[] = "yyyy-MM-dd hh:mm AP";

// The four column texts of a note written from a dialog at the time `when`.
QStringList makeNoteRow(const QString &title, const QString &text, const QDateTime &when);
