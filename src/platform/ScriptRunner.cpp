#include "platform/ScriptRunner.h"

#include "platform/SharedInstance.h"
#include "platform/UnavailableScriptRunner.h"

namespace platform {

namespace {

SharedInstance<ScriptRunner>& instance()
{
    static SharedInstance<ScriptRunner> shared(
        []() -> std::unique_ptr<ScriptRunner> { return std::make_unique<UnavailableScriptRunner>(); });
    return shared;
}

} // namespace

ScriptRunner& ScriptRunner::shared()
{
    return instance().get();
}

void ScriptRunner::setShared(std::unique_ptr<ScriptRunner> runner)
{
    instance().replace(std::move(runner));
}

} // namespace platform
