#include "platform/ProcProcessWatcher.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace platform;
namespace fs = std::filesystem;

namespace {

// A child running a copy of sleep under a name no other process has.
class Child {
public:
    explicit Child(const fs::path& program)
    {
        const std::string path = program.string();
        char* argv[] = {const_cast<char*>(path.c_str()), const_cast<char*>("30"), nullptr};
        if (::posix_spawn(&pid_, path.c_str(), nullptr, nullptr, argv, environ) != 0)
            pid_ = 0;
    }
    ~Child() { end(); }
    pid_t pid() const { return pid_; }
    void end()
    {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
            pid_ = 0;
        }
    }

private:
    pid_t pid_ = 0;
};

struct Recorder {
    std::mutex mutex;
    std::vector<ProcessEvent> events;
    void add(const ProcessEvent& event)
    {
        std::lock_guard lock(mutex);
        events.push_back(event);
    }
    bool has(ProcessEvent::Kind kind, pid_t pid)
    {
        std::lock_guard lock(mutex);
        return std::any_of(events.begin(), events.end(),
                           [&](const ProcessEvent& e) { return e.kind == kind && e.pid == pid; });
    }
};

class ProcWatcher : public ::testing::Test {
protected:
    ProcWatcher()
    {
        name_ = "kzwatched" + std::to_string(::getpid());
        program_ = dir_ / name_;
        fs::copy_file("/bin/sleep", program_);
        fs::permissions(program_, fs::perms::owner_all);
    }
    std::vector<WatchedApplication> applications() const
    {
        return {{QStringLiteral("org.example.Sleeper"), QStringLiteral("Sleeper"),
                 {QString::fromStdString(name_)}}};
    }

    kztest::TempDir dir_;
    std::string name_;
    fs::path program_;
};

} // namespace

TEST_F(ProcWatcher, SeesALaunchOnItsScanAndTheExit)
{
    ProcProcessWatcher watcher(applications(), std::chrono::milliseconds(50));
    EXPECT_FALSE(watcher.isScanning());
    Recorder recorder;
    Subscription subscription = watcher.observe([&](const ProcessEvent& e) { recorder.add(e); });
    EXPECT_TRUE(watcher.isScanning());
    EXPECT_FALSE(watcher.isRunning(QStringLiteral("org.example.Sleeper")));

    Child child(program_);
    ASSERT_GT(child.pid(), 0);
    ASSERT_TRUE(kztest::waitUntil([&] { return recorder.has(ProcessEvent::Kind::Launched, child.pid()); }));
    EXPECT_TRUE(watcher.isRunning(QStringLiteral("org.example.Sleeper")));
    {
        std::lock_guard lock(recorder.mutex);
        EXPECT_EQ(recorder.events.front().identifier, QStringLiteral("org.example.Sleeper"));
        EXPECT_EQ(recorder.events.front().name, QStringLiteral("Sleeper"));
    }
    const pid_t pid = child.pid();
    child.end();
    ASSERT_TRUE(kztest::waitUntil([&] { return recorder.has(ProcessEvent::Kind::Terminated, pid); }));
    EXPECT_FALSE(watcher.isRunning(QStringLiteral("org.example.Sleeper")));

    subscription.cancel();
    EXPECT_FALSE(watcher.isScanning());
}

TEST_F(ProcWatcher, AProcessRunningBeforeTheWatchIsNoLaunchAndItsExitComesThroughThePidfd)
{
    Child child(program_);
    ASSERT_GT(child.pid(), 0);
    // No scan after the first one within the test: only the pidfd can tell the exit.
    ProcProcessWatcher watcher(applications(), std::chrono::hours(1));
    ASSERT_TRUE(kztest::waitUntil([&] { return watcher.isRunning(QStringLiteral("org.example.Sleeper")); }));
    Recorder recorder;
    Subscription subscription = watcher.observe([&](const ProcessEvent& e) { recorder.add(e); });
    const pid_t pid = child.pid();
    child.end();
    EXPECT_TRUE(kztest::waitUntil([&] { return recorder.has(ProcessEvent::Kind::Terminated, pid); }));
}

TEST_F(ProcWatcher, ACallbackMayEndItsOwnSubscriptionAndTheWatchStartsAgainLater)
{
    ProcProcessWatcher watcher(applications(), std::chrono::milliseconds(20));
    std::atomic<int> calls{0};
    std::mutex mutex; // the subscription is written here and cancelled on the watcher's thread
    Subscription subscription;
    {
        std::lock_guard lock(mutex);
        subscription = watcher.observe([&](const ProcessEvent&) {
            std::lock_guard inner(mutex);
            ++calls;
            subscription.cancel();
        });
    }
    Child first(program_);
    ASSERT_TRUE(kztest::waitUntil([&] { return calls.load() == 1; }));
    ASSERT_TRUE(kztest::waitUntil([&] { return !watcher.isScanning(); }));
    first.end();
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    EXPECT_EQ(calls.load(), 1);

    Recorder recorder;
    Subscription again = watcher.observe([&](const ProcessEvent& e) { recorder.add(e); });
    Child second(program_);
    EXPECT_TRUE(kztest::waitUntil([&] { return recorder.has(ProcessEvent::Kind::Launched, second.pid()); }));
}

TEST(ProcWatcherOfThisPlatform, KnowsNoApplicationAndNeverScans)
{
    ProcProcessWatcher watcher({});
    Subscription subscription = watcher.observe([](const ProcessEvent&) { ADD_FAILURE(); });
    EXPECT_FALSE(watcher.isScanning());
    EXPECT_FALSE(watcher.isRunning(QStringLiteral("com.apple.Photos")));
    EXPECT_FALSE(watcher.isRunning(QString()));
}
