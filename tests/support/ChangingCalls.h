#pragma once

// A child of the test program, traced (ptrace) while it runs one job, so
// that every call by which the job changes a disk is counted, and the child
// can be killed right after any one of them: nothing in the program itself
// is read or set for it. The child marks the start and the end of the job
// by raising SIGUSR2 (ignored while untraced): only calls between the two
// count. A call counts once it succeeded: a creation (an open that may
// create, mkdir, mknod, link, symlink), a rename, an unlink or rmdir, a
// write or copy into a regular file (the journal, an undo file, a
// .trashinfo, a copied item) and a truncation.
//
// x86_64 only; elsewhere (or where the kernel refuses tracing) the cases
// that need it skip.

#include <fcntl.h>
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/user.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

namespace kztest {

struct TracedRun {
    bool started = false;  // the child could be run and traced
    int calls = 0;         // changing calls counted between the marks
    bool killed = false;   // killed right after the call asked for
    int status = 0;        // as waitpid tells the child's end
    std::vector<std::string> names; // what each counted call was
};

inline bool tracingAvailable()
{
#if defined(__x86_64__)
    return true;
#else
    return false;
#endif
}

namespace tracedetail {

#if defined(__x86_64__)
inline bool isRegularFd(pid_t tid, long fd)
{
    if (fd <= 2)
        return false; // the child's own output is no change to a disk
    struct stat st {};
    const std::string link = "/proc/" + std::to_string(tid) + "/fd/" + std::to_string(fd);
    return ::stat(link.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The name of the changing call the registers show at its end, or null.
inline const char* changing(pid_t tid, const user_regs_struct& r)
{
    if (static_cast<long long>(r.rax) < 0)
        return nullptr; // it failed: nothing changed
    switch (r.orig_rax) {
    case SYS_open:
        return (r.rsi & O_CREAT) || (r.rsi & O_TRUNC) ? "open-create" : nullptr;
    case SYS_openat:
        return (r.rdx & O_CREAT) || (r.rdx & O_TRUNC) ? "openat-create" : nullptr;
    case SYS_creat:
        return "creat";
    case SYS_mkdir:
    case SYS_mkdirat:
        return "mkdir";
    case SYS_mknod:
    case SYS_mknodat:
        return "mknod";
    case SYS_link:
    case SYS_linkat:
        return "link";
    case SYS_symlink:
    case SYS_symlinkat:
        return "symlink";
    case SYS_rename:
    case SYS_renameat:
    case SYS_renameat2:
        return "rename";
    case SYS_unlink:
    case SYS_unlinkat:
        return "unlink";
    case SYS_rmdir:
        return "rmdir";
    case SYS_truncate:
    case SYS_ftruncate:
        return "truncate";
    case SYS_write:
    case SYS_pwrite64:
    case SYS_writev:
    case SYS_pwritev:
    case SYS_pwritev2:
        return r.rax > 0 && isRegularFd(tid, long(r.rdi)) ? "write" : nullptr;
    case SYS_copy_file_range:
        return r.rax > 0 && isRegularFd(tid, long(r.rdx)) ? "copy" : nullptr;
    case SYS_sendfile:
        return r.rax > 0 && isRegularFd(tid, long(r.rdi)) ? "copy" : nullptr;
    default:
        return nullptr;
    }
}
#endif

} // namespace tracedetail

// Runs `path` with `argv` and `envp` in a traced child, killed (SIGKILL)
// right after its `killAfter`-th changing call between the marks (0: run to
// its end). Waits for its end.
inline TracedRun runTraced(const std::string& path, std::vector<std::string> argv, std::vector<std::string> env,
                           int killAfter)
{
    TracedRun run;
#if defined(__x86_64__)
    std::vector<char*> args;
    for (auto& a : argv)
        args.push_back(a.data());
    args.push_back(nullptr);
    std::vector<char*> envp;
    for (auto& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0)
        return run;
    if (pid == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDOUT_FILENO);
        if (::ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0)
            ::_exit(126);
        ::execve(path.c_str(), args.data(), envp.data());
        ::_exit(127);
    }
    int status = 0;
    // The stop at the exec.
    if (::waitpid(pid, &status, 0) != pid || !WIFSTOPPED(status)) {
        run.status = status;
        return run;
    }
    run.started = true;
    ::ptrace(PTRACE_SETOPTIONS, pid, nullptr,
             PTRACE_O_TRACESYSGOOD | PTRACE_O_TRACECLONE | PTRACE_O_EXITKILL);
    ::ptrace(PTRACE_SYSCALL, pid, nullptr, nullptr);
    std::map<pid_t, bool> inCall; // per thread: between entry and exit
    int marks = 0;
    bool killSent = false;
    for (;;) {
        const pid_t tid = ::waitpid(-1, &status, __WALL);
        if (tid < 0)
            break;
        if (WIFEXITED(status) || WIFSIGNALED(status)) {
            inCall.erase(tid);
            if (tid == pid) {
                run.status = status;
                // The other threads have gone with it; reap what is left.
                while (::waitpid(-1, &status, __WALL | WNOHANG) > 0) {
                }
                break;
            }
            continue;
        }
        if (!WIFSTOPPED(status))
            continue;
        const int sig = WSTOPSIG(status);
        int deliver = 0;
        if (sig == (SIGTRAP | 0x80)) {
            bool& entering = inCall[tid];
            entering = !entering;
            if (!entering && marks == 1 && !killSent) {
                user_regs_struct regs {};
                if (::ptrace(PTRACE_GETREGS, tid, nullptr, &regs) == 0)
                    if (const char* name = tracedetail::changing(tid, regs)) {
                        ++run.calls;
                        run.names.emplace_back(name);
                        if (killAfter > 0 && run.calls == killAfter) {
                            ::kill(pid, SIGKILL);
                            killSent = true;
                            run.killed = true;
                        }
                    }
            }
        } else if (sig == SIGTRAP && (status >> 16) != 0) {
            // A new thread: it arrives stopped, and is let go when its own
            // stop comes.
        } else if (sig == SIGUSR2) {
            ++marks; // the job starts, or has ended
        } else if (sig == SIGSTOP && (status >> 16) == 0 && !inCall.count(tid)) {
            inCall[tid] = false; // a new thread's first stop
        } else {
            deliver = sig;
        }
        ::ptrace(PTRACE_SYSCALL, tid, nullptr, reinterpret_cast<void*>(long(deliver)));
    }
#else
    (void)path;
    (void)argv;
    (void)env;
    (void)killAfter;
#endif
    return run;
}

} // namespace kztest
