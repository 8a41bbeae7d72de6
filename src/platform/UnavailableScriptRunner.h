#pragma once

#include "platform/ScriptRunner.h"

namespace platform {

// The runner of a platform without the applications: nothing is run, and
// every call answers NotAvailable at once.
class UnavailableScriptRunner final : public ScriptRunner {
public:
    bool canReachApplications() const override { return false; }
    ScriptResult run(const QString& script) override;
    ScriptResult openWithApplication(const QString& path, const QString& appName) override;
};

} // namespace platform
