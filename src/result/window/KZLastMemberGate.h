#pragma once

#include "result/model/KZFoundItem.h"

#include <functional>

// Whether the last unmarked member of a group may be marked: the user is
// asked once per press, and may have the answer remembered for the tab.
// A pending question is a continuation, never a wait: its verdict reaches
// the request that asked, exactly once, together with the item asked about.
class KZLastMemberGate {
public:
    enum class Outcome { Go, Refuse, Ask };
    using Verdict = std::function<void(bool mark, const KZFoundItemRef& item)>;

    // What to do with a press that would mark an item; `isLast` is whether
    // it is its group's last unmarked member.
    Outcome check(bool isLast) const;

    // Opens a question about `item`. While one is open, a new request only
    // ends the open one unanswered: both verdicts are "no" and false is
    // returned (nothing is to be shown).
    bool ask(const KZFoundItemRef& item, Verdict verdict);
    // The user's answer; with `dontShowAgain` it is applied silently from now.
    void answer(bool mark, bool dontShowAgain);
    // The question closed without an answer; the remembered answer stays.
    void dismiss();

    bool isPending() const { return static_cast<bool>(pending_); }
    KZFoundItemRef pendingItem() const { return pendingItem_.lock(); }
    bool showAgain() const { return showAgain_; }
    int lastChoice() const { return lastChoice_; }

private:
    void finish(bool mark);

    bool showAgain_ = true;
    int lastChoice_ = 0;
    Verdict pending_;
    std::weak_ptr<KZFoundItem> pendingItem_;
};
