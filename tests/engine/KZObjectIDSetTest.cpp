#include "engine/KZObjectIDSet.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

TEST(KZObjectIDSetTest, EachPairIsNewOnce)
{
    KZObjectIDSet set;
    EXPECT_TRUE(set.insert(1, 2));
    EXPECT_FALSE(set.insert(1, 2));
    EXPECT_TRUE(set.insert(2, 1)) << "device and inode are not interchangeable";
    EXPECT_TRUE(set.insert(1, 3));
    EXPECT_TRUE(set.insert(1, 0)) << "inode 0 names no file and is never remembered";
    EXPECT_TRUE(set.insert(1, 0));
    set.clear();
    EXPECT_TRUE(set.insert(1, 2));
}

TEST(KZObjectIDSetTest, KeepsEveryPairThroughGrowth)
{
    KZObjectIDSet set;
    for (quint64 inode = 1; inode <= 50000; ++inode)
        ASSERT_TRUE(set.insert(7, inode * 4096)) << inode;
    for (quint64 inode = 1; inode <= 50000; ++inode)
        ASSERT_FALSE(set.insert(7, inode * 4096)) << inode;
    EXPECT_TRUE(set.insert(8, 4096));
}

TEST(KZObjectIDSetTest, ThreadsMeetingTheSamePairsFileEachOnce)
{
    // Two scan workers over overlapping trees: every pair is new to exactly
    // one of them.
    KZObjectIDSet set;
    std::atomic<int> fresh{0};
    auto work = [&](quint64 from) {
        for (quint64 inode = from; inode < from + 30000; ++inode)
            if (set.insert(3, inode))
                ++fresh;
    };
    std::thread one(work, 1);
    std::thread two(work, 10001);
    one.join();
    two.join();
    EXPECT_EQ(fresh.load(), 40000);
}

} // namespace
