// SPDX-License-Identifier: GPL-3.0-or-later
#include "recoverypolicy.h"

namespace {

JournalAction actionAlone(const JournalFacts &facts)
{
    using Opened = JournalFacts::Opened;
    if (facts.opened == Opened::Held || facts.opened == Opened::Unopenable)
        return JournalAction::Skip;
    if (facts.opened == Opened::NotJournal)
        return JournalAction::SetAside;
    if (facts.setAside)
        return JournalAction::Skip;
    if (!facts.intact || !facts.readable)
        return JournalAction::SetAside;
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
