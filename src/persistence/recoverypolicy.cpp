// SPDX-License-Identifier: GPL-3.0-or-later
#include "recoverypolicy.h"

namespace {

JournalAction actionAlone(const JournalFacts &facts)
{
    using Opened = JournalFacts::Opened;
    if (facts.opened == Opened::Held || facts.opened == Opened::OtherOwner ||
        facts.opened == Opened::Unopenable)
        return JournalAction::Skip;
    if (facts.opened == Opened::NotJournal)
        return JournalAction::SetAside;
    if (facts.setAside)
        return JournalAction::Skip;
    if (!facts.intact || !facts.readable)
        return JournalAction::SetAside;
    if (facts.empty && facts.justMade)
        return JournalAction::Skip;
    if (facts.empty || facts.savedEqual)
        return JournalAction::Discard;
    return JournalAction::Rescue;
}

} // namespace

QList<JournalAction> decideRecovery(const QList<JournalFacts> &journals)
{
    QList<JournalAction> actions;
    int chosen = -1;
    for (int i = 0; i < journals.size(); ++i) {
        const JournalFacts &facts = journals.at(i);
        actions << actionAlone(facts);
        if (actions.last() == JournalAction::Rescue && (facts.listKept || facts.baseEqual) &&
            (chosen < 0 || facts.lastChange >= journals.at(chosen).lastChange))
            chosen = i;
    }
    if (chosen >= 0)
        actions[chosen] = JournalAction::Replay;
    return actions;
}

bool replayKeepsFileFirst(const JournalFacts &facts)
{
    return facts.fileThere && !facts.baseEqual;
}

JournalAction afterReading(JournalAction planned, const JournalFacts &facts,
                           const JournalReading &reading)
{
    if (planned == JournalAction::Replay && replayKeepsFileFirst(facts) && !reading.fileKept)
        return JournalAction::Rescue;
    if (planned == JournalAction::Replay && !reading.replayed)
        return JournalAction::SetAside;
    if (planned == JournalAction::Rescue && reading.rowsRead && !reading.rowsWhole)
        return JournalAction::SetAside;
    return planned;
}

bool namedUnopened(JournalAction action, const JournalFacts &facts)
{
    return action == JournalAction::Skip && facts.opened == JournalFacts::Opened::Unopenable;
}

bool rescuesRows(JournalAction action, const JournalFacts &facts)
{
    return action == JournalAction::Rescue ||
           (action == JournalAction::SetAside && facts.opened == JournalFacts::Opened::Open);
}

JournalEnding journalEnding(JournalAction action, bool copy, bool rescued)
{
    JournalEnding ending;
    // A copy of one passed over is of no use; one rescued goes once its notes are safe.
    ending.discard = action == JournalAction::Discard || (action == JournalAction::Skip && copy) ||
                     (action == JournalAction::Rescue && rescued);
    // A journal in a folder that cannot be written is dealt with once, where what it held
    // is safe: in the copy that goes on as this session's journal, in the copy set aside,
    // or in the rescue file.
    ending.markHandled = copy && (action != JournalAction::Rescue || rescued);
    return ending;
}

JournalAtLeaving journalAtLeaving(const Leaving &leaving)
{
    if (leaving.saved)
        return leaving.ordered ? JournalAtLeaving::Remove : JournalAtLeaving::Close;
    // Nothing is lost by a save that cannot be made (a notes.dat the user made read-only)
    // while the file on disk still holds the list: judged after the save, which may have
    // cut short a file it wrote in place. The journal then holds no change of the list.
    const bool fileHoldsList = !leaving.changed && (leaving.listEmpty || leaving.fileAsRead);
    return leaving.rescued || fileHoldsList ? JournalAtLeaving::Remove : JournalAtLeaving::Keep;
}
