#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace platform {
class UserDefaults;
}

namespace kztest {

// How long a test waits for what it expects to happen. A test waits for the
// event itself; this bound only ends a run that went wrong, and a loaded CI
// machine (two cores, several suites at once) stays well inside it.
inline constexpr std::chrono::milliseconds kPatience = std::chrono::seconds(60);
inline constexpr int kPatienceMs = static_cast<int>(kPatience.count());

// Where byte `at` of an ASCII text lies, as a reader's message names it:
// "line 3, column 9".
inline QString lineAndColumn(const QByteArray& text, qsizetype at)
{
    return QStringLiteral("line %1, column %2").arg(text.left(at).count('\n') + 1).arg(at - text.lastIndexOf('\n', at - 1));
}

// A folder removed with everything in it when the object goes away.
class TempDir {
public:
    TempDir();
    // A folder inside `parent` (another volume, say), removed like the others.
    explicit TempDir(const std::filesystem::path& parent);
    virtual ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::filesystem::path& rel) const { return path_ / rel; }

    // Writes `bytes` to `rel` (parents created) and answers the full path.
    std::filesystem::path write(const std::filesystem::path& rel, const std::string& bytes) const;
    std::filesystem::path mkdir(const std::filesystem::path& rel) const;

private:
    std::filesystem::path path_;
};

// The ordinary user the tests run steps as, where root passes checks of
// owner and permission that a user fails.
inline constexpr unsigned kOrdinaryUser = 65534;

// A place that the user `uid` may pass and write into whatever TMPDIR is:
// the temporary folder when it may, otherwise the first of /tmp, /var/tmp
// and /dev/shm it may; the temporary folder when this process is not root
// (it is then the user itself). A child that becomes the user takes it for
// its TMPDIR, so that what it makes there it can make.
std::filesystem::path placeWritableBy(unsigned uid = kOrdinaryUser);

// A TempDir in placeWritableBy(uid): every folder above it lets the user
// pass, and the test gives the folder itself, or what it holds, to the user
// as the case needs (it is made private to this process, as any TempDir).
class UserFolder : public TempDir {
public:
    explicit UserFolder(unsigned uid = kOrdinaryUser);
};

// Standard user defaults of their own, on a file in a fresh folder, for as
// long as the object lives; the standard defaults are dropped afterwards.
class ScopedDefaults {
public:
    ScopedDefaults();
    ~ScopedDefaults();
    ScopedDefaults(const ScopedDefaults&) = delete;
    ScopedDefaults& operator=(const ScopedDefaults&) = delete;

    platform::UserDefaults& operator*() const;
    platform::UserDefaults* operator->() const { return &**this; }
    // Where the defaults are stored.
    std::filesystem::path file() const { return dir_ / "defaults.plist"; }
    const TempDir& dir() const { return dir_; }

private:
    TempDir dir_;
};

// The folder that HOME and the XDG variables point at for this test run.
const std::filesystem::path& sandboxHome();

// Runs `body` in a process of its own (the test program started again for
// it, as GoogleTest's "threadsafe" death tests do), so that a crash fails the
// test instead of ending the run. The test fails unless `body` returns
// without a failed expectation. A child started so runs the test from its
// beginning again: make what the body uses (folders, files) inside it.
void expectCleanRunInChild(const std::function<void()>& body);

// A writable folder on another file system than the temporary folders, for
// moves that must copy across volumes; nothing when the machine has none.
// The caller makes its own folder inside and removes it.
std::optional<std::filesystem::path> otherVolume();

// A one-shot flag that threads wait on with a generous bound, so that a fault
// shows up as a failed test instead of a hung test run.
class Gate {
public:
    void open()
    {
        std::lock_guard lock(mutex_);
        open_ = true;
        cv_.notify_all();
    }
    bool wait(std::chrono::milliseconds bound = kPatience)
    {
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, bound, [&] { return open_.load(); });
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    // Atomic although the lock guards it: the timed wait goes through
    // pthread_cond_clockwait, which this ThreadSanitizer does not see take
    // the lock back, and it would report the flag's read after it.
    std::atomic<bool> open_{false};
};

// The end of a generous bound for a loop that runs while other threads work:
// a thread that never finishes shows up as a failed test, not a hung run.
class Deadline {
public:
    explicit Deadline(std::chrono::milliseconds bound = kPatience)
        : end_(std::chrono::steady_clock::now() + bound)
    {
    }
    bool passed() const { return std::chrono::steady_clock::now() >= end_; }

private:
    std::chrono::steady_clock::time_point end_;
};

// Waits, without running the event loop, until `done` answers true or
// `timeout` passes; answers `done`'s last answer.
bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = kPatience);

// Runs the Qt event loop until `done` answers true or `timeout` passes.
bool processEventsUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = kPatience);

// A chain of `depth` folders named `name` below `top`, each made relative to
// its parent (the full path may pass what the system takes in one call, and
// rebuilding it for every level makes a deep chain slow), with the given
// files at the bottom. Answers the deepest folder's path; empty on failure.
std::filesystem::path makeFolderChain(const std::filesystem::path& top, int depth, const std::string& name,
                                      const std::vector<std::pair<std::string, std::string>>& bottomFiles = {});

// Removes the chain of folders named `name` below `top`, and the files in
// them, from the bottom up and relative to each parent.
void removeFolderChain(const std::filesystem::path& top, const std::string& name);

// The whole content of a file as bytes; empty when it cannot be read.
std::string readFile(const std::filesystem::path& file);

// Sets or clears the immutable flag; false where the file system or the
// privileges do not allow it (tests skip then).
bool setImmutable(const std::filesystem::path& path, bool on);

// Runs `body` in a child process with a mount namespace of its own, where it
// can mount a second file system or a bind mount that no other process sees
// and that vanish with the child. Expectations that fail in the child are
// printed there and make the outcome Failed. Unavailable: the system gives
// no such namespace (or refused a mount below), and the caller skips.
enum class Isolated { Passed, Failed, Unavailable };
Isolated runWithPrivateMounts(const std::function<void()>& body);
// Runs `body` in a forked child: an exception it lets out fails the test
// there, and the child goes on to its own exit.
void runInChild(const std::function<void()>& body);
// The failures the running test has had so far. A forked child starts with
// its parent's: it tells its own by how many more it ends with.
int failuresOfCurrentTest();

// Runs the test `name` ("Suite.DISABLED_Case", which runs only so) of this
// program alone in a process started afresh (fork, then exec), with `env`
// added to the environment. A forked child of this process may start no
// thread under ThreadSanitizer, and a removal or a search starts some: a
// case that needs a child of its own runs there. The process shares this
// one's home folder (and so its Trash and settings) and temporary folder;
// with `privateMounts` it runs in a mount namespace of its own, as
// runWithPrivateMounts' body does, and mountTmpfs() and bindMount() serve
// there too. Failed when the case failed or matched no test of the program.
Isolated runTestInFreshProcess(const std::string& name, bool privateMounts = false,
                               const std::vector<std::string>& env = {});
// True only inside the process that runTestInFreshProcess() started: its
// DISABLED_ case skips when run by hand.
bool inFreshProcess();

// Only inside runWithPrivateMounts(): a fresh tmpfs at `at` (made when
// missing; `options` as mount(8) takes them, a size among them), or the
// folder `from` shown again at `to`.
void mountTmpfs(const std::filesystem::path& at, const char* options = "mode=0755");
void bindMount(const std::filesystem::path& from, const std::filesystem::path& to);

// The shipped resources as a localization whose "language" key reads
// `language`, for as long as the object lives; the string tables are read
// afresh on both ends.
class ScopedLanguage {
public:
    explicit ScopedLanguage(const QString& language);
    ~ScopedLanguage();
    ScopedLanguage(const ScopedLanguage&) = delete;
    ScopedLanguage& operator=(const ScopedLanguage&) = delete;

private:
    TempDir dir_;
};

// Restores an environment variable when the scope ends.
class EnvGuard {
public:
    explicit EnvGuard(const char* name);
    ~EnvGuard();
    EnvGuard(const EnvGuard&) = delete;
    EnvGuard& operator=(const EnvGuard&) = delete;

private:
    const char* name_;
    std::optional<std::string> saved_;
};

} // namespace kztest
