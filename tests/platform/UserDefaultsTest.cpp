#include "platform/UserDefaults.h"

#include "platform/Log.h"
#include "platform/PropertyList.h"
#include "support/TestSupport.h"

#include <QDateTime>
#include <QPoint>
#include <QStringList>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using platform::PropertyList;
using platform::Subscription;
using platform::UserDefaults;

namespace {

using namespace std::chrono_literals;

QString key(const char* name) { return QString::fromLatin1(name); }

// Collects log lines for the duration of a test.
class LogCapture {
public:
    LogCapture()
    {
        platform::setLogSink([this](const QString& line) {
            std::lock_guard lock(mutex_);
            lines_ << line;
        });
    }
    ~LogCapture() { platform::setLogSink({}); }
    QStringList lines() const
    {
        std::lock_guard lock(mutex_);
        return lines_;
    }

private:
    mutable std::mutex mutex_;
    QStringList lines_;
};

// Remembers every value an observer was called with.
struct Recorder {
    std::function<void(const QVariant&)> callback()
    {
        return [this](const QVariant& v) {
            std::lock_guard lock(mutex);
            values.append(v);
        };
    }
    QVariantList seen()
    {
        std::lock_guard lock(mutex);
        return values;
    }
    std::mutex mutex;
    QVariantList values;
};

class UserDefaultsTest : public ::testing::Test {
protected:
    fs::path file() const { return dir_ / "config" / "maravex" / "defaults.plist"; }
    std::unique_ptr<UserDefaults> open() const { return std::make_unique<UserDefaults>(file()); }
    std::vector<fs::path> setAside() const
    {
        std::vector<fs::path> found;
        for (const auto& entry : fs::directory_iterator(file().parent_path()))
            if (entry.path().filename().string().starts_with("defaults.plist.damaged-"))
                found.push_back(entry.path());
        return found;
    }

    kztest::TempDir dir_;
};

TEST_F(UserDefaultsTest, RegisteredValuesShowUntilTheUserChangesThemAndNothingIsWrittenBefore)
{
    auto defaults = open();
    defaults->registerDefaults({{key("is_first_run"), true}, {key("last_file_type_tag"), uint(8)}});
    EXPECT_TRUE(defaults->boolForKey(key("is_first_run")));
    EXPECT_EQ(defaults->integerForKey(key("last_file_type_tag")), 8);
    EXPECT_TRUE(defaults->contains(key("is_first_run")));
    EXPECT_FALSE(defaults->contains(key("main_splitview_settings")));
    EXPECT_FALSE(fs::exists(file()));

    defaults->setValue(key("is_first_run"), false);
    EXPECT_FALSE(defaults->boolForKey(key("is_first_run")));
    EXPECT_TRUE(fs::exists(file()));
    defaults->removeValue(key("is_first_run"));
    EXPECT_TRUE(defaults->boolForKey(key("is_first_run")));
}

TEST_F(UserDefaultsTest, ValuesSurviveARestartWithTheirTypes)
{
    const QVariantMap values{
        {key("flag"), true},
        {key("number"), 42}, // an int: read back as qint64 before and after
        {key("tag"), quint64(100000000004ULL)},
        {key("huge"), quint64(18446744073709551615ULL)},
        {key("ratio"), 0.25},
        {key("name"), QStringLiteral("Ünïcödé ✓")},
        {key("split"), QStringList{QStringLiteral("0.0, 0.0, 200.0, 300.0"), QStringLiteral("x")}},
        {key("labels"), QVariantList{QVariantMap{{key("file_type_tag"), 3}, {key("label_name"), key("Music")}}}},
        {key("blob"), QByteArray("\x00\x01", 2)},
        {key("when"), QDateTime(QDate(2022, 2, 2), QTime(2, 2, 2), Qt::UTC)},
    };
    QVariantMap expected;
    {
        auto defaults = open();
        for (auto it = values.cbegin(); it != values.cend(); ++it)
            defaults->setValue(it.key(), it.value());
        for (auto it = values.cbegin(); it != values.cend(); ++it)
            expected.insert(it.key(), defaults->value(it.key()));
        EXPECT_TRUE(defaults->lastError().isEmpty()) << defaults->lastError().toStdString();
    }
    EXPECT_EQ(expected.value(key("number")).typeId(), QMetaType::LongLong);
    EXPECT_EQ(expected.value(key("split")).typeId(), QMetaType::QVariantList);

    auto restarted = open();
    for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
        SCOPED_TRACE(it.key().toStdString());
        EXPECT_EQ(restarted->value(it.key()).metaType(), it.value().metaType());
        EXPECT_EQ(restarted->value(it.key()), it.value());
    }

    // reload() is the same read, on a running instance.
    restarted->setValue(key("flag"), false);
    auto other = open();
    EXPECT_TRUE(other->boolForKey(key("flag")) == false);
    other->setValue(key("name"), key("changed elsewhere"));
    restarted->reload();
    EXPECT_EQ(restarted->stringForKey(key("name")), key("changed elsewhere"));
}

TEST_F(UserDefaultsTest, TypedGettersConvertLikeFoundation)
{
    struct Case {
        const char* name;
        QVariant value;
        bool asBool;
        qint64 asInteger;
        double asDouble;
        QString asString;
    };
    const Case cases[] = {
        {"absent", QVariant(), false, 0, 0.0, QString()},
        {"true", true, true, 1, 1.0, key("1")},
        {"false", false, false, 0, 0.0, key("0")},
        {"zero", 0, false, 0, 0.0, key("0")},
        {"negative", -3, true, -3, -3.0, key("-3")},
        {"double", 2.75, true, 2, 2.75, key("2.75")},
        {"negative double", -2.75, true, -2, -2.75, key("-2.75")},
        {"small double", 0.25, true, 0, 0.25, key("0.25")},
        {"YES", key("YES"), true, 0, 0.0, key("YES")},
        {"yes", key("yes"), true, 0, 0.0, key("yes")},
        {"true text", key("TRUE"), true, 0, 0.0, key("TRUE")},
        {"NO", key("NO"), false, 0, 0.0, key("NO")},
        {"number text", key(" 12 "), true, 12, 12.0, key(" 12 ")},
        {"decimal text", key("3.5"), true, 3, 3.5, key("3.5")},
        {"zero text", key("0"), false, 0, 0.0, key("0")},
        {"word", key("banana"), false, 0, 0.0, key("banana")},
        {"huge unsigned", quint64(18446744073709551615ULL), true, INT64_MAX, 18446744073709551615.0,
         key("18446744073709551615")},
        {"list", QVariantList{1}, false, 0, 0.0, QString()},
        {"data", QByteArray("1"), false, 0, 0.0, QString()},
    };
    auto defaults = open();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        defaults->setValue(key("k"), c.value);
        EXPECT_EQ(defaults->boolForKey(key("k")), c.asBool);
        EXPECT_EQ(defaults->integerForKey(key("k")), c.asInteger);
        EXPECT_DOUBLE_EQ(defaults->doubleForKey(key("k")), c.asDouble);
        EXPECT_EQ(defaults->stringForKey(key("k")), c.asString);
    }
    defaults->setValue(key("k"), QStringList{key("a")});
    EXPECT_EQ(defaults->arrayForKey(key("k")), QVariantList{key("a")});
    EXPECT_TRUE(defaults->dictionaryForKey(key("k")).isEmpty());
    defaults->setValue(key("k"), QVariantMap{{key("a"), 1}});
    EXPECT_EQ(defaults->dictionaryForKey(key("k")).value(key("a")), QVariant(qint64(1)));
    EXPECT_TRUE(defaults->arrayForKey(key("k")).isEmpty());
    EXPECT_TRUE(defaults->dataForKey(key("k")).isEmpty());
}

TEST_F(UserDefaultsTest, ADamagedFileIsMovedAsideAndRegisteredValuesApply)
{
    const std::string damaged[] = {
        "this is not a property list",
        "",
        "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>reduce_transparence</key>",
        "<?xml version=\"1.0\"?><plist version=\"1.0\"><array><true/></array></plist>", // wrong root
        std::string("bplist00\x01\x02\x03", 11),
    };
    for (const std::string& content : damaged) {
        SCOPED_TRACE(content);
        fs::remove_all(file().parent_path());
        dir_.write(fs::relative(file(), dir_.path()), content);
        LogCapture log;

        auto defaults = open();
        defaults->registerDefaults({{key("reduce_transparence"), false}});
        EXPECT_FALSE(defaults->boolForKey(key("reduce_transparence")));
        EXPECT_FALSE(fs::exists(file()));
        const auto aside = setAside();
        ASSERT_EQ(aside.size(), 1u);
        std::ifstream in(aside.front(), std::ios::binary);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), content); // nothing lost
        ASSERT_EQ(log.lines().size(), 1);
        EXPECT_TRUE(log.lines().front().contains(QStringLiteral("defaults.plist.damaged-")));

        // The next change starts a clean file.
        defaults->setValue(key("reduce_transparence"), true);
        EXPECT_TRUE(PropertyList::readDictionary(file()));
    }

    // Damaged twice within one second: the first copy is kept too.
    fs::remove_all(file().parent_path());
    dir_.write(fs::relative(file(), dir_.path()), "first");
    LogCapture log;
    open();
    dir_.write(fs::relative(file(), dir_.path()), "second");
    open();
    EXPECT_EQ(setAside().size(), 2u);
}

TEST_F(UserDefaultsTest, RevertRestoresOnlyTheInitialKeysAndTellsTheirObservers)
{
    auto defaults = open();
    const QVariantMap registered{
        {key("report_empty_folders"), 0},
        {key("ask_close_photos"), false},
        {key("security_moving_to_trash"), 2},
        {key("disable_lables"), false},
    };
    defaults->registerDefaults(registered);
    defaults->setInitialValues({{key("report_empty_folders"), 0}, {key("ask_close_photos"), false}});

    defaults->setValue(key("report_empty_folders"), 2);
    defaults->setValue(key("security_moving_to_trash"), 1);
    defaults->setValue(key("disable_lables"), true);

    Recorder reported, askPhotos, security;
    auto s1 = defaults->observe(key("report_empty_folders"), reported.callback());
    auto s2 = defaults->observe(key("ask_close_photos"), askPhotos.callback());
    auto s3 = defaults->observe(key("security_moving_to_trash"), security.callback());

    defaults->revertToInitialValues();
    EXPECT_EQ(defaults->integerForKey(key("report_empty_folders")), 0);
    EXPECT_EQ(defaults->integerForKey(key("security_moving_to_trash")), 1);
    EXPECT_TRUE(defaults->boolForKey(key("disable_lables")));
    EXPECT_EQ(reported.seen(), QVariantList{QVariant(qint64(0))});
    EXPECT_TRUE(askPhotos.seen().isEmpty()); // its value did not change
    EXPECT_TRUE(security.seen().isEmpty());

    auto restarted = open();
    EXPECT_EQ(restarted->integerForKey(key("report_empty_folders")), 0);
    EXPECT_EQ(restarted->integerForKey(key("security_moving_to_trash")), 1);
}

TEST_F(UserDefaultsTest, ObserversAreCalledInOrderWithTheEffectiveValueUntilCancelled)
{
    auto defaults = open();
    defaults->registerDefaults({{key("k"), key("registered")}});
    std::vector<int> order;
    QVariantList values;
    auto first = defaults->observe(key("k"), [&](const QVariant& v) { order.push_back(1); values << v; });
    auto second = defaults->observe(key("k"), [&](const QVariant&) { order.push_back(2); });
    auto third = std::make_unique<Subscription>(
        defaults->observe(key("k"), [&](const QVariant&) { order.push_back(3); }));
    Recorder other;
    auto unrelated = defaults->observe(key("other"), other.callback());

    defaults->setValue(key("k"), key("a"));
    defaults->setValue(key("k"), key("a")); // no change, no call
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));

    second.cancel();
    third.reset();
    defaults->removeValue(key("k")); // falls back to the registered value
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 1}));
    EXPECT_EQ(values, (QVariantList{key("a"), key("registered")}));

    defaults->registerDefaults({{key("k"), key("new default")}});
    EXPECT_EQ(values.last(), QVariant(key("new default")));
    EXPECT_TRUE(other.seen().isEmpty());

    // A subscription may outlive its defaults object.
    defaults.reset();
    first.cancel();
}

TEST_F(UserDefaultsTest, ReloadTellsObserversWhatChangedOnDisk)
{
    auto defaults = open();
    defaults->setValue(key("a"), 1);
    defaults->setValue(key("b"), 2);
    Recorder a, b;
    auto sa = defaults->observe(key("a"), a.callback());
    auto sb = defaults->observe(key("b"), b.callback());

    auto elsewhere = open();
    elsewhere->setValue(key("a"), 5);
    defaults->reload();
    EXPECT_EQ(a.seen(), QVariantList{QVariant(qint64(5))});
    EXPECT_TRUE(b.seen().isEmpty());
}

TEST_F(UserDefaultsTest, AnObserverMayCancelItselfWhileBeingCalled)
{
    auto defaults = open();
    int calls = 0;
    Subscription self;
    self = defaults->observe(key("k"), [&](const QVariant&) {
        ++calls;
        self.cancel();
    });
    defaults->setValue(key("k"), 1);
    defaults->setValue(key("k"), 2);
    EXPECT_EQ(calls, 1);
}

TEST_F(UserDefaultsTest, CancelWaitsForACallRunningOnAnotherThread)
{
    auto defaults = open();
    std::mutex mutex;
    std::condition_variable cv;
    bool entered = false, release = false;
    std::atomic<bool> finished{false};
    std::atomic<int> calls{0};

    auto subscription = defaults->observe(key("k"), [&](const QVariant&) {
        ++calls;
        std::unique_lock lock(mutex);
        entered = true;
        cv.notify_all();
        cv.wait_for(lock, 10s, [&] { return release; });
        finished = true;
    });

    std::thread setter([&] { defaults->setValue(key("k"), 1); });
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(cv.wait_for(lock, 10s, [&] { return entered; }));
    }
    auto cancelled = std::async(std::launch::async, [&] {
        subscription.cancel();
        return finished.load(); // must already be true
    });
    EXPECT_EQ(cancelled.wait_for(100ms), std::future_status::timeout);
    {
        std::lock_guard lock(mutex);
        release = true;
    }
    cv.notify_all();
    EXPECT_TRUE(cancelled.get());
    setter.join();

    defaults->setValue(key("k"), 2);
    EXPECT_EQ(calls.load(), 1);
}

TEST_F(UserDefaultsTest, ChangesFromOtherThreadsReachObserversAndTheFile)
{
    auto defaults = open();
    Recorder seen;
    std::atomic<int> offMainCalls{0};
    const auto mainThread = std::this_thread::get_id();
    auto s = defaults->observe(key("shared"), [&](const QVariant& v) {
        if (std::this_thread::get_id() != mainThread)
            ++offMainCalls;
        seen.callback()(v);
    });

    constexpr int kThreads = 8;
    constexpr int kKeysPerThread = 25;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kKeysPerThread; ++i) {
                defaults->setValue(QStringLiteral("t%1-k%2").arg(t).arg(i), t * 1000 + i);
                defaults->setValue(key("shared"), t * 1000 + i);
                (void)defaults->integerForKey(key("shared"));
            }
        });
    }
    for (auto& thread : threads)
        thread.join();

    EXPECT_GT(offMainCalls.load(), 0);
    EXPECT_FALSE(seen.seen().isEmpty());
    EXPECT_TRUE(defaults->lastError().isEmpty()) << defaults->lastError().toStdString();

    // Every value made it to disk, and the shared key holds a value that
    // some thread wrote last.
    auto restarted = open();
    for (int t = 0; t < kThreads; ++t)
        for (int i = 0; i < kKeysPerThread; ++i)
            EXPECT_EQ(restarted->integerForKey(QStringLiteral("t%1-k%2").arg(t).arg(i)), t * 1000 + i);
    EXPECT_EQ(restarted->value(key("shared")), defaults->value(key("shared")));
}

TEST_F(UserDefaultsTest, RefusedValuesAndFailedWritesAreReported)
{
    auto defaults = open();
    defaults->setValue(key("k"), 1);
    {
        LogCapture log;
        defaults->setValue(key("k"), QVariant(QPoint(1, 2)));
        EXPECT_EQ(defaults->integerForKey(key("k")), 1);
        EXPECT_TRUE(defaults->lastError().contains(key("k")));
        EXPECT_EQ(log.lines().size(), 1);
    }
    defaults->setValue(key("k"), QVariant()); // an invalid value removes
    EXPECT_FALSE(defaults->contains(key("k")));
    EXPECT_TRUE(defaults->lastError().isEmpty());

    // A file where the folder should be makes the write fail, even for root.
    LogCapture log;
    const fs::path folder = file().parent_path();
    fs::remove_all(folder);
    dir_.write(fs::relative(folder, dir_.path()), "in the way");
    defaults->setValue(key("k"), 7);
    EXPECT_EQ(defaults->integerForKey(key("k")), 7); // kept for this run
    EXPECT_TRUE(defaults->lastError().contains(key("defaults.plist"))) << defaults->lastError().toStdString();
    EXPECT_FALSE(log.lines().isEmpty());

    fs::remove(folder);
    defaults->setValue(key("k"), 8);
    EXPECT_TRUE(defaults->lastError().isEmpty());
    EXPECT_EQ(open()->integerForKey(key("k")), 8);
}

// Restores an environment variable when the test ends.
class EnvGuard {
public:
    explicit EnvGuard(const char* name) : name_(name)
    {
        if (const char* v = std::getenv(name))
            old_ = v;
    }
    ~EnvGuard()
    {
        if (old_)
            ::setenv(name_, old_->c_str(), 1);
        else
            ::unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(UserDefaultsStandard, LivesInTheConfigFolderAndCanBeReplaced)
{
    EnvGuard config("XDG_CONFIG_HOME");
    const fs::path home = kztest::sandboxHome();
    EXPECT_EQ(UserDefaults::defaultFilePath(), fs::path(std::getenv("XDG_CONFIG_HOME")) / "maravex/defaults.plist");
    ::setenv("XDG_CONFIG_HOME", "relative/ignored", 1);
    EXPECT_EQ(UserDefaults::defaultFilePath(), home / ".config/maravex/defaults.plist");
    ::unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(UserDefaults::defaultFilePath(), home / ".config/maravex/defaults.plist");

    kztest::TempDir dir;
    UserDefaults::setStandard(std::make_unique<UserDefaults>(dir / "test.plist"));
    EXPECT_EQ(UserDefaults::standard().filePath(), dir / "test.plist");
    UserDefaults::setStandard(nullptr);
    EXPECT_EQ(UserDefaults::standard().filePath(), UserDefaults::defaultFilePath());
    EXPECT_EQ(&UserDefaults::standard(), &UserDefaults::standard());
    UserDefaults::setStandard(nullptr);
}

} // namespace
