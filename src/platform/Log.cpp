#include "platform/Log.h"

#include <QByteArray>

#include <cstdio>
#include <mutex>

namespace platform {

namespace {
std::mutex g_logMutex;
std::function<void(const QString&)> g_sink;
} // namespace

void logLine(const QString& message)
{
    std::lock_guard lock(g_logMutex);
    if (g_sink) {
        g_sink(message);
        return;
    }
    const QByteArray line = QByteArrayLiteral("maravex: ") + message.toUtf8() + '\n';
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stderr);
}

void setLogSink(std::function<void(const QString&)> sink)
{
    std::lock_guard lock(g_logMutex);
    g_sink = std::move(sink);
}

} // namespace platform
