#include "app/KZCrashReporter.h"

#include "platform/Clock.h"
#include "platform/Log.h"

#include <QByteArray>
#include <QDateTime>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <unistd.h>

namespace fs = std::filesystem;

struct KZCrashReporter::LogFile {
    std::mutex lock;
    int fd = -1;
    ~LogFile()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

namespace {

std::string readSmallFile(const fs::path& file)
{
    std::string text;
    if (FILE* f = std::fopen(file.c_str(), "rb")) {
        char buffer[64];
        const size_t n = std::fread(buffer, 1, sizeof buffer, f);
        text.assign(buffer, n);
        std::fclose(f);
    }
    return text;
}

// Another copy of the program that still runs (started while the
// single-instance socket was unusable) is not a crash.
bool markerBelongsToLiveProcess(const fs::path& marker)
{
    const std::string text = readSmallFile(marker);
    char* end = nullptr;
    const long pid = std::strtol(text.c_str(), &end, 10);
    if (pid <= 0 || pid == long(::getpid()) || end == text.c_str())
        return false;
    if (::kill(pid_t(pid), 0) != 0 && errno == ESRCH)
        return false;
    const std::string comm = readSmallFile(fs::path("/proc") / std::to_string(pid) / "comm");
    const std::string own = readSmallFile("/proc/self/comm");
    return !comm.empty() && comm == own;
}

// The marker's path for the signal handler, which may only use what was
// prepared before it runs.
char g_markerPath[4096];

void removeMarkerOnExit()
{
    if (g_markerPath[0])
        ::unlink(g_markerPath);
}

void removeMarkerAndStop(int signal)
{
    removeMarkerOnExit();
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

} // namespace

void KZCrashReporter::treatTerminationAsClean()
{
    const std::string marker = markerFile().native();
    if (marker.size() >= sizeof g_markerPath)
        return;
    const bool first = g_markerPath[0] == '\0';
    std::memcpy(g_markerPath, marker.c_str(), marker.size() + 1);
    if (!first)
        return;
    std::atexit(removeMarkerOnExit);
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        std::signal(signal, removeMarkerAndStop);
}

fs::path KZCrashReporter::defaultFolder()
{
    if (const char* state = std::getenv("XDG_STATE_HOME"); state && *state == '/')
        return fs::path(state) / "maravex";
    const char* home = std::getenv("HOME");
    return fs::path(home && *home ? home : "/tmp") / ".local/state/maravex";
}

KZCrashReporter::KZCrashReporter(fs::path folder) : folder_(std::move(folder)) {}

KZCrashReporter::~KZCrashReporter()
{
    if (log_)
        platform::setLogSink({});
}

fs::path KZCrashReporter::markerFile() const
{
    return folder_ / "running";
}

fs::path KZCrashReporter::logFile() const
{
    return folder_ / "maravex.log";
}

fs::path KZCrashReporter::crashedLogFile() const
{
    return folder_ / "maravex-crashed.log";
}

std::optional<fs::path> KZCrashReporter::checkForNewCrashes()
{
    std::error_code ec;
    fs::create_directories(folder_, ec);

    std::optional<fs::path> crashed;
    if (fs::exists(markerFile(), ec) && !markerBelongsToLiveProcess(markerFile())) {
        // Kept under its own name, so that this run's log cannot overwrite it
        // before the user has had a look.
        if (fs::exists(logFile(), ec)) {
            fs::rename(logFile(), crashedLogFile(), ec);
            if (!ec)
                crashed = crashedLogFile();
        }
        if (!crashed) {
            // A run that died before it wrote anything still gets reported.
            const int fd = ::open(crashedLogFile().c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
            if (fd >= 0) {
                ::close(fd);
                crashed = crashedLogFile();
            }
        }
    }

    const std::string pid = std::to_string(::getpid()) + "\n";
    const int marker = ::open(markerFile().c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (marker >= 0) {
        [[maybe_unused]] const ssize_t n = ::write(marker, pid.data(), pid.size());
        ::close(marker);
    }

    auto log = std::make_shared<LogFile>();
    log->fd = ::open(logFile().c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0600);
    if (log->fd >= 0) {
        log_ = log;
        platform::setLogSink([log](const QString& line) {
            const QByteArray text = line.toUtf8() + '\n';
            const QByteArray console = QByteArrayLiteral("maravex: ") + text;
            std::fwrite(console.constData(), 1, size_t(console.size()), stderr);
            const QByteArray stamped =
                platform::Clock::shared().dateTime().toString(Qt::ISODateWithMs).toUtf8() + ' ' + text;
            std::lock_guard guard(log->lock);
            [[maybe_unused]] const ssize_t n = ::write(log->fd, stamped.constData(), size_t(stamped.size()));
        });
    }
    return crashed;
}

void KZCrashReporter::endCleanly()
{
    std::error_code ec;
    fs::remove(markerFile(), ec);
    if (log_) {
        platform::setLogSink({});
        log_.reset();
    }
}
