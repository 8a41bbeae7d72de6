#pragma once

#include "app/ui/KZWindowFlipAnimator.h"
#include "app/ui/KZWindowTransitionAnimator.h"

#include "TestSupport.h"

#include <chrono>

namespace kztest {

// Runs the event loop until neither shared window animator has a flip or a
// zoom running or waiting. The animators outlive every test: one left
// turning after its windows are gone makes the next test's first transition
// wait behind it, and that test's window never comes forward.
inline bool settleWindowTransitions(std::chrono::milliseconds timeout = std::chrono::seconds(30))
{
    return processEventsUntil(
        [] {
            return !KZWindowFlipAnimator::sharedWindowFlipAnimator().isFlipping()
                && !KZWindowTransitionAnimator::sharedControl().isRunning();
        },
        timeout);
}

// Lets the transitions a test started end before its windows go.
class SettleTransitionsOnExit {
public:
    SettleTransitionsOnExit() = default;
    ~SettleTransitionsOnExit() { settleWindowTransitions(); }
    SettleTransitionsOnExit(const SettleTransitionsOnExit&) = delete;
    SettleTransitionsOnExit& operator=(const SettleTransitionsOnExit&) = delete;
};

} // namespace kztest
