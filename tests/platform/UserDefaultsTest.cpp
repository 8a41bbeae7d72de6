#include "platform/UserDefaults.h"

#include "platform/Log.h"
#include "platform/PropertyList.h"
#include "support/CommaDecimalLocale.h"
#include "support/TestSupport.h"

#include <QDateTime>
#include <QPoint>
#include <QStringList>

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using platform::Subscription;
using platform::UserDefaults;

namespace {

QString key(const char* name) { return QString::fromLatin1(name); }

// Collects log lines for the duration of a test.
struct LogCapture {
    LogCapture() { platform::setLogSink([this](const QString& line) { lines << line; }); }
    ~LogCapture() { platform::setLogSink({}); }
    QStringList lines;
};

// Defaults of 80,000 bare keys: about 2 MB that would take libplist seconds.
std::string packedWithKeys()
{
    std::string xml = "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict>";
    for (int k = 0; k < 80000; ++k)
        xml += "<key>k" + std::to_string(k) + "</key><true/>";
    return xml + "</dict></plist>";
}

std::function<void(const QVariant&)> recordInto(QVariantList* values)
{
    return [values](const QVariant& v) { values->append(v); };
}

class UserDefaultsTest : public ::testing::Test {
protected:
    fs::path file() const { return dir_ / "maravex/defaults.plist"; }
    void writeFile(const std::string& bytes) const { dir_.write("maravex/defaults.plist", bytes); }
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

TEST_F(UserDefaultsTest, ValuesSurviveARestartWithTheirTypesAndReloadTellsObservers)
{
    const QVariantMap values{
        {key("number"), 42}, // an int: read back as qint64 before and after
        {key("huge"), quint64(18446744073709551615ULL)},
        {key("name"), QStringLiteral("Ünïcödé ✓")},
        {key("split"), QStringList{QStringLiteral("0.0, 0.0, 200.0, 300.0")}},
        {key("blob"), QByteArray("\x00\x01", 2)},
        {key("when"), QDateTime(QDate(2022, 2, 2), QTime(2, 2, 2), Qt::UTC)},
    };
    auto defaults = open();
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        defaults->setValue(it.key(), it.value());
    EXPECT_TRUE(defaults->lastError().isEmpty()) << defaults->lastError().toStdString();
    EXPECT_EQ(defaults->value(key("number")).typeId(), QMetaType::LongLong);
    EXPECT_EQ(defaults->value(key("split")).typeId(), QMetaType::QVariantList);
    auto restarted = open();
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        EXPECT_EQ(restarted->value(it.key()).metaType(), defaults->value(it.key()).metaType()) << it.key().toStdString();
        EXPECT_EQ(restarted->value(it.key()), defaults->value(it.key())) << it.key().toStdString();
    }

    // A change made by another instance reaches this one's observers on
    // reload, for the changed key only.
    QVariantList name, number;
    auto s1 = restarted->observe(key("name"), recordInto(&name));
    auto s2 = restarted->observe(key("number"), recordInto(&number));
    defaults->setValue(key("name"), key("changed elsewhere"));
    restarted->reload();
    EXPECT_EQ(name, QVariantList{key("changed elsewhere")});
    EXPECT_TRUE(number.isEmpty());
}

TEST_F(UserDefaultsTest, TypedGettersConvertLikeFoundation)
{
    struct Case {
        QVariant value;
        bool asBool;
        qint64 asInteger;
        double asDouble;
        QString asString;
    };
    const Case cases[] = {
        {QVariant(), false, 0, 0.0, QString()},
        {true, true, 1, 1.0, key("1")},
        {-2.75, true, -2, -2.75, key("-2.75")},
        {key("YES"), true, 0, 0.0, key("YES")},
        {key(" 12 "), true, 12, 12.0, key(" 12 ")},
        {quint64(18446744073709551615ULL), true, INT64_MAX, 18446744073709551615.0, key("18446744073709551615")},
        {QVariantList{1}, false, 0, 0.0, QString()},
    };
    auto defaults = open();
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "row " << (&c - cases));
        defaults->setValue(key("k"), c.value);
        EXPECT_EQ(defaults->boolForKey(key("k")), c.asBool);
        EXPECT_EQ(defaults->integerForKey(key("k")), c.asInteger);
        EXPECT_DOUBLE_EQ(defaults->doubleForKey(key("k")), c.asDouble);
        EXPECT_EQ(defaults->stringForKey(key("k")), c.asString);
    }
    EXPECT_EQ(defaults->arrayForKey(key("k")), QVariantList{qint64(1)});
    EXPECT_TRUE(defaults->dictionaryForKey(key("k")).isEmpty());
}

// A user whose locale writes "0,799" keeps the label colours and every
// other real across a restart, and reads a list another program wrote.
TEST_F(UserDefaultsTest, RealsSurviveARestartInALocaleWithADecimalComma)
{
    const kztest::CommaDecimalLocale comma;
    ASSERT_EQ(comma.why(), "");
    const QVariantList labels{QVariantMap{{key("red_label_on_color"), 0.799},
                                          {key("alpha_label_off_color"), 1.0},
                                          {key("green_label_on_color"), 1.5e-7},
                                          {key("offset"), -1234.25}}};
    open()->setValue(key("file_type_labels"), labels);
    EXPECT_EQ(open()->value(key("file_type_labels")), labels);
    EXPECT_EQ(kztest::readFile(file()).find("0,799"), std::string::npos);

    writeFile("<plist version=\"1.0\"><dict><key>r</key><real>0.799</real></dict></plist>");
    EXPECT_EQ(open()->doubleForKey(key("r")), 0.799);
}

TEST_F(UserDefaultsTest, ADamagedFileIsMovedAsideAndRegisteredValuesApply)
{
    const std::string damaged[] = {
        "this is not a property list",
        "",
        "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>reduce_transparence</key>",
        "<?xml version=\"1.0\"?><plist version=\"1.0\"><array><true/></array></plist>", // wrong root
        std::string("bplist00\x01\x02\x03", 11),
        packedWithKeys(), // refused for the time it would take to read
    };
    for (const std::string& content : damaged) {
        SCOPED_TRACE(content.substr(0, 80));
        fs::remove_all(file().parent_path());
        writeFile(content);
        LogCapture log;
        auto defaults = open();
        defaults->registerDefaults({{key("reduce_transparence"), false}});
        EXPECT_FALSE(defaults->boolForKey(key("reduce_transparence")));
        EXPECT_FALSE(fs::exists(file()));
        const auto aside = setAside();
        ASSERT_EQ(aside.size(), 1u);
        EXPECT_EQ(kztest::readFile(aside.front()), content); // nothing lost
        ASSERT_EQ(log.lines.size(), 1);
        EXPECT_TRUE(log.lines.front().contains(QStringLiteral("defaults.plist.damaged-")));
        // Said to whoever tells the user, once.
        const auto reset = defaults->takeReset();
        ASSERT_TRUE(reset);
        EXPECT_EQ(reset->movedTo, aside.front());
        EXPECT_FALSE(reset->reason.isEmpty());
        EXPECT_FALSE(defaults->takeReset());

        defaults->setValue(key("reduce_transparence"), true);
        EXPECT_TRUE(platform::PropertyList::readDictionary(file()));
    }

    // A good file, or none, is no reset.
    EXPECT_FALSE(open()->takeReset());
    fs::remove_all(file().parent_path());
    EXPECT_FALSE(open()->takeReset());

    // Damaged twice within one second: the first copy is kept too.
    fs::remove_all(file().parent_path());
    writeFile("first");
    LogCapture log;
    open();
    writeFile("second");
    open();
    EXPECT_EQ(setAside().size(), 2u);
}

// A defaults file that crashed the reader crashed every start, and one that
// held it for minutes held every start: each is moved aside like a damaged
// one, and the next start reads none. In a child, so a crash fails the test.
TEST(UserDefaultsStart, ListsTooDeepTooSlowOrTooLargeAreMovedAsideAndTheNextStartWorks)
{
    kztest::expectCleanRunInChild([] {
        const std::string head = "<?xml version=\"1.0\"?><plist version=\"1.0\">";
        std::string deep = head, hiddenKeys = head + "<dict>";
        for (int level = 0; level < 200000; ++level)
            deep += "<array><!--</array>-->";
        for (int k = 0; k < 150000; ++k)
            hiddenKeys += "<key>" + std::to_string(k) + (k % 200 == 199 ? "</key><true/><!--</dict><dict>-->" : "</key><true/>");
        hiddenKeys += "</dict></plist>";
        // Readable, but larger than any preferences.
        std::string large = head + "<dict><key>k</key><true/></dict></plist>";
        large.resize(platform::PropertyList::kSettingsFileLimit + 1, ' ');
        for (const std::string* content : {&deep, &hiddenKeys, &large}) {
            kztest::TempDir dir;
            const fs::path file = dir.write("maravex/defaults.plist", *content);
            LogCapture log;
            {
                UserDefaults defaults(file);
                const auto reset = defaults.takeReset();
                ASSERT_TRUE(reset);
                EXPECT_FALSE(fs::exists(file));
                EXPECT_TRUE(fs::exists(reset->movedTo));
                EXPECT_FALSE(reset->reason.isEmpty());
            }
            EXPECT_FALSE(UserDefaults(file).takeReset());
        }
    });
}

TEST_F(UserDefaultsTest, RevertTellsTheObserversOfChangedKeysAndIsSaved)
{
    auto defaults = open();
    defaults->registerDefaults({{key("report_empty_folders"), 0}, {key("ask_close_photos"), false}});
    defaults->setInitialValues({{key("report_empty_folders"), 0}, {key("ask_close_photos"), false}});
    defaults->setValue(key("report_empty_folders"), 2);
    QVariantList reported, askPhotos;
    auto s1 = defaults->observe(key("report_empty_folders"), recordInto(&reported));
    auto s2 = defaults->observe(key("ask_close_photos"), recordInto(&askPhotos));
    defaults->revertToInitialValues();
    EXPECT_EQ(reported, QVariantList{QVariant(qint64(0))});
    EXPECT_TRUE(askPhotos.isEmpty()); // its value did not change
    EXPECT_EQ(open()->value(key("report_empty_folders")), QVariant(qint64(0))); // stored, not just registered
}

TEST_F(UserDefaultsTest, ObserversAreCalledInOrderWithTheEffectiveValueUntilCancelled)
{
    auto defaults = open();
    defaults->registerDefaults({{key("k"), key("registered")}});
    std::vector<int> order;
    QVariantList values, other;
    auto first = defaults->observe(key("k"), [&](const QVariant& v) { order.push_back(1); values << v; });
    auto second = defaults->observe(key("k"), [&](const QVariant&) { order.push_back(2); });
    Subscription self;
    self = defaults->observe(key("k"), [&](const QVariant&) { order.push_back(3); self.cancel(); });
    auto unrelated = defaults->observe(key("other"), recordInto(&other));

    defaults->setValue(key("k"), key("a"));
    defaults->setValue(key("k"), key("a")); // no change, no call
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));

    second.cancel();
    defaults->removeValue(key("k")); // falls back to the registered value
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 1}));
    defaults->registerDefaults({{key("k"), key("new default")}});
    EXPECT_EQ(values, (QVariantList{key("a"), key("registered"), key("new default")}));
    EXPECT_TRUE(other.isEmpty());

    // A subscription may outlive its defaults object.
    defaults.reset();
    first.cancel();
}

TEST_F(UserDefaultsTest, CancelWaitsForACallRunningOnAnotherThread)
{
    auto defaults = open();
    kztest::Gate entered, release;
    std::atomic<bool> finished{false};
    std::atomic<int> calls{0};
    auto subscription = defaults->observe(key("k"), [&](const QVariant&) {
        ++calls;
        entered.open();
        release.wait();
        finished = true;
    });

    std::thread setter([&] { defaults->setValue(key("k"), 1); });
    ASSERT_TRUE(entered.wait());
    auto cancelled = std::async(std::launch::async, [&] {
        subscription.cancel();
        return finished.load(); // must already be true
    });
    EXPECT_EQ(cancelled.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
    release.open();
    EXPECT_TRUE(cancelled.get());
    setter.join();

    defaults->setValue(key("k"), 2);
    EXPECT_EQ(calls.load(), 1);
}

TEST_F(UserDefaultsTest, ConcurrentWritersLoseNothing)
{
    auto defaults = open();
    std::atomic<int> calls{0};
    auto s = defaults->observe(key("shared"), [&](const QVariant&) { ++calls; });
    constexpr int kThreads = 8, kKeys = 25;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kKeys; ++i) {
                defaults->setValue(QStringLiteral("t%1-k%2").arg(t).arg(i), t * 1000 + i);
                defaults->setValue(key("shared"), t * 1000 + i);
                (void)defaults->integerForKey(key("shared"));
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_GT(calls.load(), 0);
    EXPECT_TRUE(defaults->lastError().isEmpty()) << defaults->lastError().toStdString();

    auto restarted = open();
    for (int t = 0; t < kThreads; ++t)
        for (int i = 0; i < kKeys; ++i)
            EXPECT_EQ(restarted->integerForKey(QStringLiteral("t%1-k%2").arg(t).arg(i)), t * 1000 + i);
    EXPECT_EQ(restarted->value(key("shared")), defaults->value(key("shared")));
}

TEST_F(UserDefaultsTest, RefusedValuesAndFailedWritesAreReported)
{
    auto defaults = open();
    defaults->setValue(key("k"), 1);
    LogCapture log;
    defaults->setValue(key("k"), QVariant(QPoint(1, 2)));
    EXPECT_EQ(defaults->integerForKey(key("k")), 1);
    EXPECT_TRUE(defaults->lastError().contains(key("k")));
    EXPECT_EQ(log.lines.size(), 1);
    defaults->setValue(key("k"), QVariant()); // an invalid value removes
    EXPECT_FALSE(defaults->contains(key("k")));
    EXPECT_TRUE(defaults->lastError().isEmpty());

    // A file where the folder should be makes the write fail, even for root.
    fs::remove_all(file().parent_path());
    dir_.write("maravex", "in the way");
    defaults->setValue(key("k"), 7);
    EXPECT_EQ(defaults->integerForKey(key("k")), 7); // kept for this run
    EXPECT_TRUE(defaults->lastError().contains(key("defaults.plist"))) << defaults->lastError().toStdString();
    EXPECT_GT(log.lines.size(), 1);

    fs::remove(file().parent_path());
    defaults->setValue(key("k"), 8);
    EXPECT_TRUE(defaults->lastError().isEmpty());
    EXPECT_EQ(open()->integerForKey(key("k")), 8);
}

TEST(UserDefaultsStandard, LivesInTheConfigFolder)
{
    kztest::EnvGuard config("XDG_CONFIG_HOME");
    EXPECT_EQ(UserDefaults::defaultFilePath(), fs::path(std::getenv("XDG_CONFIG_HOME")) / "maravex/defaults.plist");
    ::setenv("XDG_CONFIG_HOME", "relative/ignored", 1);
    EXPECT_EQ(UserDefaults::defaultFilePath(), kztest::sandboxHome() / ".config/maravex/defaults.plist");
}

} // namespace
