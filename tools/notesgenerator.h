// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QStringList>

// Seeded, realistic notes: titles of 0 to 60 characters, bodies from empty to 20,000
// characters with line breaks, text beyond ASCII and some characters outside the Basic
// Multilingual Plane, time stamps in the program's format. The same seed gives the same
// notes on every machine.
QList<QStringList> generateNotes(int count, quint32 seed);

// Rows of only `strings` strings each (0 to 4), as an older or foreign writer might leave.
QList<QStringList> generateShortRows(int count, int strings, quint32 seed);

// The rows as the notes file holds them.
QByteArray encodeNotes(const QList<QStringList> &rows);
