#include "result/window/KZLastMemberGate.h"

KZLastMemberGate::Outcome KZLastMemberGate::check(bool isLast) const
{
    if (!isLast)
        return Outcome::Go;
    if (!showAgain_)
        return lastChoice_ == 1 ? Outcome::Go : Outcome::Refuse;
    return Outcome::Ask;
}

bool KZLastMemberGate::ask(const KZFoundItemRef& item, Verdict verdict)
{
    if (pending_) {
        finish(false);
        if (verdict)
            verdict(false, item);
        return false;
    }
    pending_ = std::move(verdict);
    pendingItem_ = item;
    return true;
}

void KZLastMemberGate::answer(bool mark, bool dontShowAgain)
{
    if (!pending_)
        return;
    lastChoice_ = mark ? 1 : 0;
    showAgain_ = !dontShowAgain;
    finish(mark);
}

void KZLastMemberGate::dismiss()
{
    if (pending_)
        finish(false);
}

void KZLastMemberGate::finish(bool mark)
{
    // Taken out first: the verdict may ask the next question at once.
    Verdict verdict = std::move(pending_);
    pending_ = nullptr;
    const KZFoundItemRef item = pendingItem_.lock();
    pendingItem_.reset();
    if (verdict)
        verdict(mark, item);
}
