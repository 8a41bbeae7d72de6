#include "services/KZFilesUtilities.h"
#include "services/KZSearchInProgress.h"
#include "services/KZStartupDiskName.h"
#include "services/KZSystemVersionNumber.h"

#include <QStringList>

#include <gtest/gtest.h>

#include <sys/utsname.h>
#include <thread>
#include <vector>

namespace {

TEST(KZSystemVersionNumber, ReleasesEncodeInVersionOrder)
{
    const struct {
        const char* release;
        int number;
    } cases[] = {
        {"6.1.0-18-amd64", 6001000},
        {"5.10.209", 5010209},
        {"4.19", 4019000},
        {"6.8.0+", 6008000},
        {"5.15.0-rc1", 5015000},
        {"6.18.44-fc-v1300", 6018044},
        {"3", 3000000},
        {"", 0},
        {"abc", 0},
        {"7.1234.5678", 7999999}, // parts clamp instead of spilling into the next
    };
    for (const auto& c : cases)
        EXPECT_EQ(KZSystemVersionNumberFromRelease(c.release), c.number) << c.release;

    const char* ordered[] = {"2.6.32", "4.19.304", "5.10.209", "5.15.0", "6.1.0", "6.10.0", "10.0.0"};
    for (size_t i = 1; i < std::size(ordered); ++i)
        EXPECT_LT(KZSystemVersionNumberFromRelease(ordered[i - 1]), KZSystemVersionNumberFromRelease(ordered[i]))
            << ordered[i - 1] << " < " << ordered[i];
}

TEST(KZSystemVersionNumber, RunningKernelCountsAsARecentSystem)
{
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
    for (const QString& other : seen)
        EXPECT_EQ(other, name);
}

TEST(KZSearchInProgress, FlagIsSeenAcrossThreads)
{
    EXPECT_FALSE(KZIsSearchInProgress());
    std::thread([] { KZSetSearchInProgress(true); }).join();
    EXPECT_TRUE(KZIsSearchInProgress());
    KZSetSearchInProgress(false);
    EXPECT_FALSE(KZIsSearchInProgress());
}

} // namespace
