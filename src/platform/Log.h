#pragma once

#include <QString>

#include <functional>

namespace platform {

// One line on standard error, prefixed with the program's name, as the
// system log would show it. Safe from any thread.
void logLine(const QString& message);

// Redirects log lines (tests); an empty function restores standard error.
void setLogSink(std::function<void(const QString&)> sink);

} // namespace platform
