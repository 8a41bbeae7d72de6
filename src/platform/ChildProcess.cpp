#include "platform/ChildProcess.h"

#include "platform/FileOps.h"

#include <cerrno>
#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace platform {

namespace {

class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { reset(); }
    int get() const { return fd_; }
    void reset()
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }
    int* out() { return &fd_; }

private:
    int fd_ = -1;
};

// Close-on-exec, so that a child started by another thread at the same
// moment never inherits our ends and keeps them open past our child's exit.
bool makePipe(Fd& readEnd, Fd& writeEnd)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return false;
    *readEnd.out() = fds[0];
    *writeEnd.out() = fds[1];
    return true;
}

void reap(pid_t pid, int* status)
{
    while (::waitpid(pid, status, 0) < 0 && errno == EINTR) {
    }
}

} // namespace

ProcessOutput runProcess(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                         std::chrono::milliseconds timeout, std::size_t maxOutput)
{
    ProcessOutput result;
    Fd outRead, outWrite, errRead, errWrite;
    if (!makePipe(outRead, outWrite) || !makePipe(errRead, errWrite)) {
        result.error = systemErrorString(errno);
        return result;
    }

    std::vector<char*> argv;
    std::string name = program.native();
    argv.push_back(name.data());
    std::vector<std::string> args = arguments;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, outWrite.get(), STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, errWrite.get(), STDERR_FILENO);
    // A group of its own, so that a time-out also ends whatever it started.
    posix_spawnattr_setpgroup(&attributes, 0);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGINT);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes,
                             POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    pid_t pid = -1;
    const int spawnError = ::posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    outWrite.reset();
    errWrite.reset();
    if (spawnError != 0) {
        result.error = systemErrorString(spawnError);
        return result;
    }
    result.started = true;

    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + timeout;
    char buffer[65536];
    pollfd fds[2] = {{outRead.get(), POLLIN, 0}, {errRead.get(), POLLIN, 0}};
    QByteArray* sinks[2] = {&result.standardOutput, &result.standardError};
    int open = 2;
    std::size_t collected = 0;
    while (open > 0 && !result.tooMuchOutput) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            result.timedOut = true;
            break;
        }
        const int ready = ::poll(fds, 2, int(std::min<long long>(left.count(), 1000)));
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            result.error = systemErrorString(errno);
            result.timedOut = true; // cannot watch it any more: end it
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0)
                continue;
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                const std::size_t room = maxOutput - collected;
                if (std::size_t(n) > room) {
                    sinks[i]->append(buffer, qsizetype(room));
                    collected = maxOutput;
                    result.tooMuchOutput = true;
                    break;
                }
                sinks[i]->append(buffer, qsizetype(n));
                collected += std::size_t(n);
            } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
                fds[i].fd = -1; // end of this stream
                --open;
            }
        }
    }
    if (result.timedOut || result.tooMuchOutput) {
        ::kill(-pid, SIGKILL);
        ::kill(pid, SIGKILL);
    }
    outRead.reset();
    errRead.reset();
    int status = 0;
    reap(pid, &status);
    if (!result.timedOut && !result.tooMuchOutput && WIFEXITED(status))
        result.exitCode = WEXITSTATUS(status);
    return result;
}

} // namespace platform
