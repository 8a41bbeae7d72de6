#include "result/panes/KZTabClickTracker.h"

bool KZTabClickTracker::press(const Hit& hit, const Context& context)
{
    *this = KZTabClickTracker();
    if (context.removing)
        return false;
    if (hit.onCross) {
        downOnCross_ = true;
        return true;
    }
    // The selected tab has nothing to offer on its body.
    if (!context.selected && hit.onBody) {
        downOnBody_ = true;
        return true;
    }
    return false;
}

void KZTabClickTracker::drag(const Hit& hit)
{
    if (!tracking())
        return;
    // The first move of a click is often only the jitter of the press itself.
    if (!firstDragSeen_) {
        firstDragSeen_ = true;
        return;
    }
    if (downOnCross_)
        crossOut_ = !hit.onCross;
    else
        bodyOut_ = !hit.onBody;
}

KZTabClickTracker::Outcome KZTabClickTracker::release(const Hit& hit, const Context& context)
{
    Outcome outcome = Outcome::None;
    if (tracking() && !context.removing) {
        // The release over the cross decides, wherever the press began.
        if (hit.onCross)
            outcome = Outcome::Remove;
        else if (downOnBody_ && hit.onBody && !context.selected)
            outcome = Outcome::Select;
    }
    *this = KZTabClickTracker();
    return outcome;
}
