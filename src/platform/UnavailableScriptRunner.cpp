#include "platform/UnavailableScriptRunner.h"

namespace platform {

ScriptResult UnavailableScriptRunner::run(const QString&)
{
    return {};
}

ScriptResult UnavailableScriptRunner::openWithApplication(const QString&, const QString&)
{
    return {};
}

} // namespace platform
