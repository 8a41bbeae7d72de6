#include "platform/ProcessWatcher.h"

#include "platform/ProcProcessWatcher.h"
#include "platform/SharedInstance.h"

#include <memory>
#include <vector>

namespace platform {

namespace {

SharedInstance<ProcessWatcher>& instance()
{
    // The music and photo applications the program manages do not exist on
    // this platform: the watcher knows no application and reports nothing.
    static SharedInstance<ProcessWatcher> shared([]() -> std::unique_ptr<ProcessWatcher> {
        return std::make_unique<ProcProcessWatcher>(std::vector<WatchedApplication>{});
    });
    return shared;
}

} // namespace

ProcessWatcher& ProcessWatcher::shared()
{
    return instance().get();
}

void ProcessWatcher::setShared(std::unique_ptr<ProcessWatcher> watcher)
{
    instance().replace(std::move(watcher));
}

} // namespace platform
