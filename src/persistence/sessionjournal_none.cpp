// SPDX-License-Identifier: GPL-3.0-or-later
// Where the program is built without SQLite, there is no session journal: changes are
// kept until the program is left, as the exit save always did.
#include "sessionjournal.h"

SessionJournal::SessionJournal(const QString &notesFile) : notesFile(notesFile) {}

SessionJournal::~SessionJournal() = default;

SessionJournal::Recovery SessionJournal::recover(const NotesFileStamp &, int)
{
    return {};
}

bool SessionJournal::recordChange(Change, int, const QStringList &, const Window *)
{
    return false;
}

bool SessionJournal::recordDraft(const Draft &)
{
    return false;
}

bool SessionJournal::clearDraft(Window)
{
    return false;
}

bool SessionJournal::recordList(const QList<QStringList> &)
{
    return false;
}

bool SessionJournal::recordSaved(const NotesFileStamp &)
{
    return false;
}

void SessionJournal::remove() {}
