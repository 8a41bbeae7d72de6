#include "services/KZOpenFileLimit.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

namespace {

TEST(KZOpenFileLimitTest, SoftLimitIsRaisedToTheHardOne)
{
    rlimit before{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &before), 0);
    if (before.rlim_max < 64)
        GTEST_SKIP() << "the hard limit leaves no room to lower the soft one";
    rlimit lowered = before;
    lowered.rlim_cur = 48;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &lowered), 0);

    const KZOpenFileLimit limit = KZRaiseOpenFileLimit();
    rlimit after{};
    ::getrlimit(RLIMIT_NOFILE, &after);
    ::setrlimit(RLIMIT_NOFILE, &before);

    EXPECT_EQ(after.rlim_cur, before.rlim_max);
    EXPECT_EQ(limit.soft, quint64(before.rlim_max));
    EXPECT_TRUE(limit.sufficesForSearch());
    EXPECT_FALSE((KZOpenFileLimit{12, 12}.sufficesForSearch())) << "too few to list a tree";
}

} // namespace
