#include "TestSupport.h"
#include "FuseMounts.h"
#include "RunConditions.h"

#include "platform/Resources.h"
#include "platform/StringTable.h"
#include "platform/UserDefaults.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <signal.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <fstream>
#include <iterator>
#include <mutex>
#include <map>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <random>
#include <sched.h>
#include <stdexcept>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace kztest {

namespace {
fs::path makeUniqueDir(const fs::path& parent, const char* prefix)
{
    std::string templ = (parent / (std::string(prefix) + "XXXXXX")).string();
    if (!::mkdtemp(templ.data()))
        throw std::runtime_error("mkdtemp failed");
    return fs::path(templ);
}

// The exit status of a child that could not isolate itself.
constexpr int kUnavailableStatus = 77;

// The folders of this process's live TempDirs: whatever names a path in
// them belongs to the running case.
std::mutex liveFoldersMutex;
std::vector<fs::path>& liveFolders()
{
    static auto* folders = new std::vector<fs::path>;
    return *folders;
}

// In a case's child (and its children), where every TempDir made is told
// to the parent, which reads it once the child has ended: a folder made
// and removed there may still back a loop device. -1 elsewhere.
int childFoldersFd = -1;
constexpr const char* kChildFoldersFdVar = "KZ_TEST_CHILD_FOLDERS_FD";

void tellFolderToParent(const fs::path& folder)
{
    static const int inherited = [] {
        const char* fd = std::getenv(kChildFoldersFdVar);
        return fd ? std::atoi(fd) : -1;
    }();
    const int fd = childFoldersFd >= 0 ? childFoldersFd : inherited;
    if (fd < 0)
        return;
    const std::string line = folder.native() + "\n";
    [[maybe_unused]] const ssize_t written = ::write(fd, line.data(), line.size());
}

// A file the case's child tells its folders into (see childFoldersFd);
// kept open across an exec where the child is a program started afresh.
int folderListForChild(bool acrossExec)
{
    return ::open(fs::temp_directory_path().c_str(), O_TMPFILE | O_RDWR | O_APPEND | (acrossExec ? 0 : O_CLOEXEC),
                  0600);
}

std::vector<fs::path> foldersToldBy(int fd)
{
    std::vector<fs::path> folders;
    if (fd < 0)
        return folders;
    std::string text;
    char buffer[4096];
    for (off_t at = 0;;) {
        const ssize_t n = ::pread(fd, buffer, sizeof buffer, at);
        if (n <= 0)
            break;
        text.append(buffer, std::size_t(n));
        at += n;
    }
    ::close(fd);
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
        if (!line.empty())
            folders.emplace_back(line);
    return folders;
}

bool inFolders(const std::string& text, const std::vector<fs::path>& folders)
{
    for (const fs::path& folder : folders)
        if (text.starts_with(folder.native() + "/"))
            return true;
    return false;
}

// Mount points of the mount namespace of `pid` that lie in `folders`,
// unmounted there, the deepest first, by a child that enters it. The
// mount table is read, and no mount is asked anything: a stopped daemon
// holds nothing here. Bounded; false when the namespace could not be
// entered.
bool unmountInNamespaceOf(pid_t pid, const std::vector<fs::path>& folders)
{
    const int ns = ::open(("/proc/" + std::to_string(pid) + "/ns/mnt").c_str(), O_RDONLY | O_CLOEXEC);
    if (ns < 0)
        return false;
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t helper = ::fork();
    if (helper == 0) {
        if (::setns(ns, CLONE_NEWNS) != 0)
            ::_exit(1);
        std::vector<std::string> points;
        std::ifstream table("/proc/self/mountinfo");
        for (std::string line; std::getline(table, line);) {
            std::istringstream fields(line);
            std::string id, parent, device, root, point;
            fields >> id >> parent >> device >> root >> point;
            std::string unescaped;
            for (std::size_t i = 0; i < point.size(); ++i) {
                if (point[i] == '\\' && i + 3 < point.size()) {
                    unescaped += char(std::stoi(point.substr(i + 1, 3), nullptr, 8));
                    i += 3;
                } else {
                    unescaped += point[i];
                }
            }
            if (inFolders(unescaped, folders))
                points.push_back(unescaped);
        }
        std::sort(points.begin(), points.end(), [](const auto& a, const auto& b) { return a.size() > b.size(); });
        for (const std::string& point : points)
            ::umount2(point.c_str(), MNT_DETACH);
        ::_exit(0);
    }
    ::close(ns);
    if (helper < 0)
        return false;
    int status = 0;
    pid_t ended = 0;
    for (Deadline deadline(std::chrono::seconds(5)); (ended = ::waitpid(helper, &status, WNOHANG)) == 0 && !deadline.passed();)
        ::usleep(10 * 1000);
    if (ended == 0) {
        ::kill(helper, SIGKILL);
        ::waitpid(helper, &status, 0);
        return false;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Called once a case's child in a private mount namespace has ended:
// nothing it mounted or attached may outlive it. A child that ended past
// its clean-ups (an _exit on the way) leaves a FUSE daemon serving a mount
// of its namespace, which the daemon itself keeps alive, and the loop
// devices it attached. The daemon's mounts are unmounted inside its own
// namespace, the daemon waited for and ended where it does not end, and a
// loop device of an image in the case's folders detached.
void takeDownWhatTheChildLeft(int toldFolders)
{
    std::vector<fs::path> folders = foldersToldBy(toldFolders);
    {
        std::lock_guard lock(liveFoldersMutex);
        folders.insert(folders.end(), liveFolders().begin(), liveFolders().end());
    }
    if (folders.empty())
        return;
    std::vector<pid_t> leftovers;
    if (DIR* proc = ::opendir("/proc")) {
        while (const dirent* entry = ::readdir(proc)) {
            char* end = nullptr;
            const long pid = std::strtol(entry->d_name, &end, 10);
            if (pid <= 0 || *end || pid == ::getpid() || !fusedetail::running(pid_t(pid)))
                continue;
            std::ifstream cmdline(std::string("/proc/") + entry->d_name + "/cmdline");
            for (std::string argument; std::getline(cmdline, argument, '\0');)
                if (inFolders(argument, folders)) {
                    leftovers.push_back(pid_t(pid));
                    break;
                }
        }
        ::closedir(proc);
    }
    for (const pid_t pid : leftovers) {
        std::fprintf(stderr, "the case left process %d behind: taken down\n", int(pid));
        unmountInNamespaceOf(pid, folders);
        if (fusedetail::awaitEnd(pid, kFuseLetGo))
            continue;
        ::kill(pid, SIGTERM);
        if (!fusedetail::awaitEnd(pid, std::chrono::seconds(1))) {
            ::kill(pid, SIGKILL);
            fusedetail::awaitEnd(pid, std::chrono::seconds(1));
        }
    }
    for (const fs::path& folder : folders)
        for (const std::string& device : loopDevicesAttachedUnder(folder.native())) {
            std::fprintf(stderr, "the case left %s attached to an image in %s: detached\n", device.c_str(),
                         folder.c_str());
            detachLoopDevice(device);
        }
}

bool writeProcFile(const char* path, const std::string& text)
{
    std::ofstream out(path);
    out << text;
    out.flush();
    return bool(out);
}

// Root may make a mount namespace outright; another user makes a user
// namespace around it that maps the own ids to themselves, so that owners
// and getuid() read the same inside.
bool enterPrivateMountNamespace()
{
    if (::unshare(CLONE_NEWNS) != 0) {
        const uid_t uid = ::getuid();
        const gid_t gid = ::getgid();
        if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0)
            return false;
        if (!writeProcFile("/proc/self/setgroups", "deny")
            || !writeProcFile("/proc/self/uid_map", std::to_string(uid) + ' ' + std::to_string(uid) + " 1")
            || !writeProcFile("/proc/self/gid_map", std::to_string(gid) + ' ' + std::to_string(gid) + " 1"))
            return false;
    }
    // Nothing mounted here may reach the namespace that the tests run in.
    return ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}
} // namespace

int failuresOfCurrentTest()
{
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    if (!test)
        return ::testing::Test::HasFailure() ? 1 : 0;
    const ::testing::TestResult* result = test->result();
    int failures = 0;
    for (int i = 0; i < result->total_part_count(); ++i)
        failures += result->GetTestPartResult(i).failed() ? 1 : 0;
    return failures;
}

void runInChild(const std::function<void()>& body)
{
    // An exception let out of a forked child would reach GoogleTest's
    // handler there, and the child would go on to run the rest of the
    // suite beside its parent (as whatever user it had become).
    try {
        body();
    } catch (const std::exception& e) {
        ADD_FAILURE() << "exception in the child: " << e.what();
    } catch (...) {
        ADD_FAILURE() << "exception in the child";
    }
}

std::optional<fs::path> otherVolume()
{
    struct stat temp {};
    if (::stat(fs::temp_directory_path().c_str(), &temp) != 0)
        return std::nullopt;
    for (const char* candidate : {"/dev/shm", "/var/tmp", "/tmp"}) {
        struct stat there {};
        if (::stat(candidate, &there) == 0 && S_ISDIR(there.st_mode) && there.st_dev != temp.st_dev
            && ::access(candidate, W_OK | X_OK) == 0)
            return fs::path(candidate);
    }
    return std::nullopt;
}

void expectCleanRunInChild(const std::function<void()>& body)
{
    const std::string style = GTEST_FLAG_GET(death_test_style);
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            // A child reports nothing of its own: its failures are said on
            // standard error, which the parent shows, and in its exit status.
            ::testing::TestPartResultArray results;
            {
                const ::testing::ScopedFakeTestPartResultReporter intercept(
                    ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ALL_THREADS, &results);
                body();
            }
            int failures = 0;
            for (int i = 0; i < results.size(); ++i) {
                const ::testing::TestPartResult& result = results.GetTestPartResult(i);
                if (result.failed()) {
                    ++failures;
                    std::fprintf(stderr, "%s:%d: %s\n", result.file_name() ? result.file_name() : "?",
                                 result.line_number(), result.message());
                }
            }
            std::error_code ec;
            fs::remove_all(sandboxHome(), ec);
            std::_Exit(failures == 0 ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
    GTEST_FLAG_SET(death_test_style, style);
}

TempDir::TempDir()
    : TempDir(fs::temp_directory_path())
{
}

TempDir::TempDir(const fs::path& parent)
    : path_(makeUniqueDir(parent, "kztest-"))
{
    tellFolderToParent(path_);
    std::lock_guard lock(liveFoldersMutex);
    liveFolders().push_back(path_);
}

namespace {
// Whether the user `uid` may enter `folder` and make entries in it: asked in
// a child that is that user, so that every folder above, ACLs and mount
// options answer as they would for it.
bool writableBy(unsigned uid, const fs::path& folder)
{
    const pid_t child = ::fork();
    if (child == 0) {
        const bool ok = ::setgroups(0, nullptr) == 0 && ::setgid(gid_t(uid)) == 0 && ::setuid(uid_t(uid)) == 0
            && ::access(folder.c_str(), W_OK | X_OK) == 0;
        ::_exit(ok ? 0 : 1);
    }
    int status = 0;
    return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace

fs::path placeWritableBy(unsigned uid)
{
    const fs::path temp = fs::temp_directory_path();
    if (::geteuid() != 0)
        return temp;
    // Asked once for each user and temporary folder: a fork each time would
    // cost every case that makes a removal fixture.
    static std::mutex mutex;
    static std::map<std::pair<unsigned, fs::path>, fs::path> answers;
    const std::lock_guard lock(mutex);
    if (const auto known = answers.find({uid, temp}); known != answers.end())
        return known->second;
    fs::path place;
    if (writableBy(uid, temp)) {
        place = temp;
    } else {
        for (const char* candidate : {"/tmp", "/var/tmp", "/dev/shm"})
            if (writableBy(uid, candidate)) {
                place = candidate;
                break;
            }
    }
    if (place.empty())
        throw std::runtime_error("no folder here that user " + std::to_string(uid) + " can write into");
    answers[{uid, temp}] = place;
    return place;
}

UserFolder::UserFolder(unsigned uid)
    : TempDir(placeWritableBy(uid))
{
}

TempDir::~TempDir()
{
    {
        std::lock_guard lock(liveFoldersMutex);
        std::erase(liveFolders(), path_);
    }
    std::error_code ec;
    // Tests make folders unreadable on purpose; give the permissions back so
    // that the clean-up can descend into them.
    for (auto it = fs::recursive_directory_iterator(path_, fs::directory_options::skip_permission_denied, ec);
         it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (ec)
            break;
        if (it->is_directory(ec) && !it->is_symlink(ec))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
}

fs::path TempDir::write(const fs::path& rel, const std::string& bytes) const
{
    const fs::path full = path_ / rel;
    fs::create_directories(full.parent_path());
    std::ofstream out(full, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return full;
}

fs::path TempDir::mkdir(const fs::path& rel) const
{
    const fs::path full = path_ / rel;
    fs::create_directories(full);
    return full;
}

ScopedLanguage::ScopedLanguage(const QString& language)
{
    const fs::path shipped = platform::resourceDirectory();
    fs::copy(shipped, dir_.path(), fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    const fs::path table = dir_ / "strings/en/Default.json";
    QFile file(QString::fromStdString(table.string()));
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error("the shipped string table cannot be read");
    QJsonObject texts = QJsonDocument::fromJson(file.readAll()).object();
    file.close();
    texts.insert(QStringLiteral("language"), language);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(QJsonDocument(texts).toJson()) < 0)
        throw std::runtime_error("the string table cannot be written");
    file.close();
    platform::setResourceDirectory(dir_.path());
    platform::resetStringTables();
}

ScopedLanguage::~ScopedLanguage()
{
    platform::setResourceDirectory({});
    platform::resetStringTables();
}

ScopedDefaults::ScopedDefaults()
{
    platform::UserDefaults::setStandard(std::make_unique<platform::UserDefaults>(file()));
}

ScopedDefaults::~ScopedDefaults()
{
    platform::UserDefaults::setStandard(nullptr);
}

platform::UserDefaults& ScopedDefaults::operator*() const
{
    return platform::UserDefaults::standard();
}

bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout)
{
    const Deadline deadline(timeout);
    while (!done()) {
        if (deadline.passed())
            return done();
        QThread::msleep(1);
    }
    return true;
}

bool processEventsUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeout.count())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}

fs::path makeFolderChain(const fs::path& top, int depth, const std::string& name,
                         const std::vector<std::pair<std::string, std::string>>& bottomFiles)
{
    int fd = ::open(top.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    fs::path path = top;
    for (int i = 0; i < depth && fd >= 0; ++i) {
        const int next = ::mkdirat(fd, name.c_str(), 0755) == 0
            ? ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)
            : -1;
        ::close(fd);
        fd = next;
        path /= name;
    }
    if (fd < 0)
        return {};
    bool written = true;
    for (const auto& [file, bytes] : bottomFiles) {
        const int out = ::openat(fd, file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        written = written && out >= 0 && ::write(out, bytes.data(), bytes.size()) == ssize_t(bytes.size());
        if (out >= 0)
            ::close(out);
    }
    ::close(fd);
    return written ? path : fs::path();
}

void removeFolderChain(const fs::path& top, const std::string& name)
{
    // Down to the bottom holding one descriptor, then back up through "..",
    // so a chain of any depth needs no more than two at a time.
    int fd = ::open(top.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int depth = 0;
    for (int next; fd >= 0 && (next = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) >= 0; ++depth) {
        ::close(fd);
        fd = next;
    }
    for (; fd >= 0 && depth > 0; --depth) {
        if (DIR* listing = ::fdopendir(::dup(fd))) {
            while (const dirent* entry = ::readdir(listing)) {
                if (entry->d_type != DT_DIR)
                    ::unlinkat(fd, entry->d_name, 0);
            }
            ::closedir(listing);
        }
        const int parent = ::openat(fd, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::close(fd);
        fd = parent;
        if (fd >= 0)
            ::unlinkat(fd, name.c_str(), AT_REMOVEDIR);
    }
    if (fd >= 0)
        ::close(fd);
}

std::string readFile(const fs::path& file)
{
    // Whole-buffer reads: the tests read megabytes, which a character
    // iterator makes the slowest part of them.
    std::ifstream in(file, std::ios::binary);
    std::string bytes;
    char buffer[1 << 16];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0)
        bytes.append(buffer, std::size_t(in.gcount()));
    return bytes;
}

bool setImmutable(const fs::path& path, bool on)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    int flags = 0;
    bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (ok) {
        flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        ok = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    ::close(fd);
    return ok;
}

namespace {
constexpr const char* kFreshProcessVar = "KZ_TEST_FRESH_PROCESS";
constexpr const char* kInPrivateMountsVar = "KZ_TEST_IN_PRIVATE_MOUNTS";
} // namespace

Isolated runWithPrivateMounts(const std::function<void()>& body)
{
#if defined(__SANITIZE_THREAD__)
    // ThreadSanitizer refuses a thread started in a forked child of a
    // process that has threads, and a body may start some: the whole test
    // runs again in a fresh process inside the namespace, where this call
    // runs the body itself.
    if (std::getenv(kInPrivateMountsVar)) {
        inFreshProcess();
        const int failuresBefore = failuresOfCurrentTest();
        body();
        return failuresOfCurrentTest() > failuresBefore ? Isolated::Failed : Isolated::Passed;
    }
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    return runTestInFreshProcess(std::string(test->test_suite_name()) + "." + test->name(), true,
                                 {std::string(kInPrivateMountsVar) + "=1"});
#endif
    const int toldFolders = folderListForChild(false);
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t child = ::fork();
    if (child < 0) {
        foldersToldBy(toldFolders);
        return Isolated::Unavailable;
    }
    if (child == 0) {
        childFoldersFd = toldFolders;
        if (!enterPrivateMountNamespace())
            ::_exit(kUnavailableStatus);
        followMountNamespace();
        // The child inherits the failures its parent's test had so far:
        // only its own count.
        const int failuresBefore = failuresOfCurrentTest();
        runInChild(body);
        std::fflush(stdout);
        std::fflush(stderr);
        // _exit: the child must not run the parent's clean-ups (its TempDirs).
        ::_exit(failuresOfCurrentTest() > failuresBefore ? 1 : 0);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR)
            return Isolated::Failed;
    }
    takeDownWhatTheChildLeft(toldFolders);
    if (WIFEXITED(status) && WEXITSTATUS(status) == kUnavailableStatus)
        return Isolated::Unavailable;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? Isolated::Passed : Isolated::Failed;
}

Isolated runTestInFreshProcess(const std::string& name, bool privateMounts, const std::vector<std::string>& env)
{
    // The case says that it ran by leaving this file: a filter that
    // matches nothing passes in gtest.
    const fs::path ran = makeUniqueDir(fs::temp_directory_path(), "kzfresh-") / "ran";
    std::vector<std::string> entries;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        if (!entry.starts_with("GTEST_") && !entry.starts_with("KZ_TEST_HOME=")
            && !entry.starts_with(std::string(kFreshProcessVar) + "=")
            && !entry.starts_with(std::string(kInPrivateMountsVar) + "=")
            && !entry.starts_with(std::string(kChildFoldersFdVar) + "="))
            entries.push_back(entry);
    }
    const int toldFolders = folderListForChild(true);
    if (toldFolders >= 0)
        entries.push_back(std::string(kChildFoldersFdVar) + "=" + std::to_string(toldFolders));
    entries.push_back("KZ_TEST_HOME=" + sandboxHome().native());
    entries.push_back(std::string(kFreshProcessVar) + "=" + ran.native());
    entries.insert(entries.end(), env.begin(), env.end());
    std::vector<char*> envp;
    for (std::string& entry : entries)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::string self = fs::read_symlink("/proc/self/exe").native();
    std::string all = "--gtest_also_run_disabled_tests";
    std::string filter = "--gtest_filter=" + name;
    char* argv[] = {self.data(), all.data(), filter.data(), nullptr};

    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t child = ::fork();
    if (child < 0) {
        foldersToldBy(toldFolders);
        return Isolated::Unavailable;
    }
    if (child == 0) {
        // One thread is left after the fork, as unshare(CLONE_NEWUSER)
        // needs; the namespace outlives the exec.
        if (privateMounts && !enterPrivateMountNamespace())
            ::_exit(kUnavailableStatus);
        ::execve(self.c_str(), argv, envp.data());
        ::_exit(127);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR)
            return Isolated::Failed;
    }
    if (privateMounts)
        takeDownWhatTheChildLeft(toldFolders);
    else
        foldersToldBy(toldFolders);
    std::error_code ec;
    const bool caseRan = fs::exists(ran, ec);
    fs::remove_all(ran.parent_path(), ec);
    if (WIFEXITED(status) && WEXITSTATUS(status) == kUnavailableStatus)
        return Isolated::Unavailable;
    if (!caseRan) {
        std::fprintf(stderr, "%s did not run in the fresh process\n", name.c_str());
        return Isolated::Failed;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? Isolated::Passed : Isolated::Failed;
}

bool inFreshProcess()
{
    const char* ran = std::getenv(kFreshProcessVar);
    if (!ran || !*ran)
        return false;
    std::ofstream(ran) << "ran";
    return true;
}

void mountTmpfs(const fs::path& at, const char* options)
{
    std::error_code ec;
    fs::create_directories(at, ec);
    if (::mount("kztest", at.c_str(), "tmpfs", 0, options) != 0)
        ::_exit(kUnavailableStatus);
}

void bindMount(const fs::path& from, const fs::path& to)
{
    std::error_code ec;
    fs::create_directories(to, ec);
    if (::mount(from.c_str(), to.c_str(), nullptr, MS_BIND, nullptr) != 0)
        ::_exit(kUnavailableStatus);
}

EnvGuard::EnvGuard(const char* name)
    : name_(name)
{
    if (const char* v = std::getenv(name))
        saved_ = v;
}

EnvGuard::~EnvGuard()
{
    if (saved_)
        ::setenv(name_, saved_->c_str(), 1);
    else
        ::unsetenv(name_);
}

} // namespace kztest
