#include "services/KZFilesUtilities.h"
#include "services/KZSearchInProgress.h"
#include "services/KZStartupDiskName.h"
#include "services/KZSystemVersionNumber.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

#include <sys/utsname.h>
#include <thread>
#include <vector>

namespace {

TEST(KZSystemVersionNumber, ReleasesEncodeInVersionOrder)
{
    const std::pair<const char*, int> cases[] = {
        {"6.1.0-18-amd64", 6001000}, {"5.10.209", 5010209}, {"4.19", 4019000}, {"6.8.0+", 6008000},
        {"5.15.0-rc1", 5015000}, {"6.18.44-fc-v1300", 6018044}, {"3", 3000000}, {"", 0}, {"abc", 0},
        {"7.1234.5678", 7999999}, // parts clamp instead of spilling into the next
    };
    for (const auto& [release, number] : cases)
        EXPECT_EQ(KZSystemVersionNumberFromRelease(release), number) << release;
    utsname info{};
    ASSERT_EQ(::uname(&info), 0);
    EXPECT_EQ(KZSystemVersionNumber(), KZSystemVersionNumberFromRelease(info.release));
    EXPECT_GE(KZSystemVersionNumber(), 65824); // the old cut-off callers compare with
}

TEST(KZStartupDiskName, IsTheRootNameAndTheSameFromEveryThread)
{
    const QString name = KZStartupDiskName();
    EXPECT_FALSE(name.isEmpty());
    EXPECT_EQ(name, KZFilesUtilities::sharedControl().itemNameWithURL("/").value_or(QString()));
    std::vector<QString> seen(8);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < seen.size(); ++i)
        threads.emplace_back([&seen, i] { seen[i] = KZStartupDiskName(); });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(seen, std::vector<QString>(8, name));
}

TEST(KZStartupDiskName, UnknownIsAskedAgainAndAKnownNameIsReadOnce)
{
    // The reader fails twice, then answers; after that it is never asked again.
    int calls = 0;
    KZStartupDiskNameCache cache([&calls]() -> std::optional<QString> {
        ++calls;
        if (calls < 3)
            return std::nullopt;
        return QStringLiteral("Data");
    });
    const QString expected[] = {QString(), QString(), QStringLiteral("Data"), QStringLiteral("Data")};
    for (const QString& name : expected)
        EXPECT_EQ(cache.name(), name);
    EXPECT_EQ(calls, 3);

    cache.setName(QString()); // a null name leaves the stored one
    EXPECT_EQ(cache.name(), QStringLiteral("Data"));
    cache.setName(QStringLiteral("Other"));
    EXPECT_EQ(cache.name(), QStringLiteral("Other"));
    EXPECT_EQ(calls, 3);
}

TEST(KZStartupDiskName, ThreadsRacingOnFirstUseShareOneRead)
{
    std::atomic<int> calls{0};
    kztest::Gate release;
    KZStartupDiskNameCache cache([&]() -> std::optional<QString> {
        ++calls;
        release.wait(); // every other caller arrives while this read is under way
        return QStringLiteral("Root");
    });
    std::vector<QString> seen(8);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < seen.size(); ++i)
        threads.emplace_back([&, i] { seen[i] = cache.name(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    release.open();
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(calls.load(), 1);
    EXPECT_EQ(seen, std::vector<QString>(8, QStringLiteral("Root")));
}

TEST(KZSearchInProgress, AFlagSetOnOneThreadIsSeenOnAnother)
{
    KZSetSearchInProgress(false);
    int published = 0;
    kztest::Gate set;
    std::thread worker([&] {
        published = 42;
        KZSetSearchInProgress(true);
        set.open();
    });
    ASSERT_TRUE(set.wait());
    EXPECT_TRUE(KZIsSearchInProgress());
    EXPECT_EQ(published, 42);
    worker.join();
    KZSetSearchInProgress(false);
    EXPECT_FALSE(KZIsSearchInProgress());
}

} // namespace
