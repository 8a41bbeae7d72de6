#pragma once

#include "platform/MainThread.h"
#include "services/KZAlertPresenter.h"

#include <functional>
#include <mutex>
#include <vector>

namespace kztest {

// An alert presenter that records every alert and answers as its script
// says, at once, so that no test waits for a click.
struct ScriptedPresenter : KZAlertPresenter {
    struct Call {
        Alert alert;
        bool sheet, onMainThread;
    };
    std::function<Answer(const Alert&)> script = [](const Alert&) { return Answer{}; };

    Answer runModal(const Alert& alert) override { return record(alert, false), script(alert); }
    void beginSheet(const Alert& alert) override { record(alert, true); }

    std::size_t shown() const
    {
        std::lock_guard lock(mutex);
        return calls.size();
    }

    mutable std::mutex mutex;
    std::vector<Call> calls;

private:
    void record(const Alert& alert, bool sheet)
    {
        std::lock_guard lock(mutex);
        calls.push_back({alert, sheet, platform::isMainThread()});
    }
};

} // namespace kztest
