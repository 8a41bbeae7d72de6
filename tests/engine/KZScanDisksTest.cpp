// A scan reads each disk it meets once, while it is there, and the found
// list carries what it read beside the device numbers: what is made later
// from a found item names the disk the scan read it on.

#include "EngineTestSupport.h"

#include "engine/KZScanDisks.h"
#include "platform/DiskIdentity.h"
#include "platform/FileStat.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <thread>

#include <unistd.h>

using namespace enginetest;

namespace {

platform::FileStat statOn(quint64 device, std::optional<quint64> mount = 7)
{
    platform::FileStat st;
    st.device = dev_t(device);
    st.inode = 1;
    st.mountId = mount;
    return st;
}

// Each disk at "/disk/<device number>", told by that number.
platform::FileSystemFacts factsNamedByPath(const fs::path& path)
{
    platform::FileSystemFacts facts;
    facts.identity = std::stoull(path.filename().native());
    facts.volume = 0x77;
    facts.mount = 42;
    return facts;
}

fs::path diskPath(quint64 device)
{
    return fs::path("/disk") / std::to_string(device);
}

} // namespace

// Threads that meet three disks in turn, in runs as a walk meets a folder's
// items: each disk is read once between them, and kept as it was read.
TEST(KZScanDisks, EachDiskIsReadOnceHoweverManyItemsAndThreadsMeetIt)
{
    std::atomic<int> calls{0};
    KZScanDisks disks([&calls](const fs::path& path) {
        ++calls;
        return factsNamedByPath(path);
    });
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&disks, t] {
            for (int i = 0; i < 6000; ++i) {
                const quint64 device = 1 + quint64((i / 50 + t) % 3);
                disks.note(statOn(device), [device] { return diskPath(device); });
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(calls.load(), 3);
    EXPECT_EQ(disks.readings(), 3u);
    for (quint64 device : {1u, 2u, 3u}) {
        const KZScanDisks::Facts disk = disks.find(device);
        ASSERT_TRUE(disk) << device;
        EXPECT_EQ(disk->identity, device);
        EXPECT_EQ(disk->mount, 42u);
    }
    EXPECT_EQ(disks.find(4), nullptr) << "a number the scan never met";
}

// A thread remembers the disk it noted last for one scan only: the next
// scan, whose table may take the address of the one before, reads the disk
// again, as its number may be another disk's by then.
TEST(KZScanDisks, EveryScanReadsItsOwnDisks)
{
    int calls = 0;
    const auto reader = [&calls](const fs::path&) {
        platform::FileSystemFacts facts;
        facts.identity = quint64(++calls);
        return facts;
    };
    for (int scan = 1; scan <= 3; ++scan) {
        auto disks = std::make_unique<KZScanDisks>(reader);
        disks->note(statOn(5), [] { return diskPath(5); });
        disks->note(statOn(5), [] { return diskPath(5); });
        ASSERT_TRUE(disks->find(5));
        EXPECT_EQ(disks->find(5)->identity, quint64(scan));
        EXPECT_EQ(disks->readings(), 1u);
    }
    EXPECT_EQ(calls, 3);
}

// One file system shown through two mounts (a bind mount among the searched
// folders): an item's record does not say which mount showed it, so its
// disk names no mount; its other marks stay, and it is read once.
TEST(KZScanDisks, ADiskMetThroughTwoMountsNamesNeitherMount)
{
    KZScanDisks disks(&factsNamedByPath);
    for (quint64 mount : {1u, 2u, 1u, 2u})
        disks.note(statOn(5, mount), [] { return diskPath(5); });
    disks.note(statOn(6, 3), [] { return diskPath(6); });
    disks.note(statOn(6, 3), [] { return diskPath(6); });
    EXPECT_EQ(disks.readings(), 2u);
    ASSERT_TRUE(disks.find(5) && disks.find(6));
    EXPECT_EQ(disks.find(5)->identity, 5u);
    EXPECT_EQ(disks.find(5)->volume, 0x77u);
    EXPECT_FALSE(disks.find(5)->mount);
    EXPECT_EQ(disks.find(6)->mount, 42u) << "a disk met through one mount keeps it";
}

// A search hands its found list over with the disk of its items, read once
// however many items and folders it walked, as the disk says of itself.
TEST(KZScanDisks, ASearchReadsTheDiskOfItsItemsOnce)
{
    kztest::TempDir dir;
    for (int i = 0; i < 60; ++i)
        dir.write("tree/" + std::to_string(i % 6) + "/sub/f" + std::to_string(i), "copy " + std::to_string(i / 3));
    const SearchResult result = runSearch({dir / "tree"}, sizeAndContentCriteria());
    EXPECT_EQ(result.rows.size(), 60u);
    ASSERT_TRUE(result.disks);
    EXPECT_EQ(result.disks->readings(), 1u);
    const KZScanDisks::Facts disk = result.disks->find(quint64(platform::statPath(dir / "tree", false)->device));
    ASSERT_TRUE(disk);
    EXPECT_EQ(disk->marks(), platform::fileSystemOf(dir / "tree").marks());
}

// A second disk mounted inside the searched folder: each disk is read once,
// and each is kept under its own number. A search starts threads, so the
// case runs in a process of its own, in a mount namespace of its own.
TEST(KZScanDisks, ASearchOverTwoDisksReadsEachOnceAndKeepsThemApart)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to mount a disk";
    const kztest::Isolated outcome =
        kztest::runTestInFreshProcess("KZScanDisksInMounts.DISABLED_ASearchOverTwoDisks", true);
    if (outcome == kztest::Isolated::Unavailable)
        GTEST_SKIP() << "no private mount namespace here";
    EXPECT_EQ(outcome, kztest::Isolated::Passed);
}

TEST(KZScanDisksInMounts, DISABLED_ASearchOverTwoDisks)
{
    if (!kztest::inFreshProcess())
        GTEST_SKIP() << "run by the case above";
    kztest::TempDir dir;
    kztest::mountTmpfs(dir / "tree/disk");
    for (int i = 0; i < 20; ++i) {
        const std::string name = std::to_string(i % 4) + "/f" + std::to_string(i);
        dir.write("tree/" + name, "copy " + std::to_string(i / 2));
        dir.write("tree/disk/" + name, "copy " + std::to_string(i / 2));
    }
    const SearchResult result = runSearch({dir / "tree"}, sizeAndContentCriteria());
    EXPECT_FALSE(result.rows.empty());
    ASSERT_TRUE(result.disks);
    EXPECT_EQ(result.disks->readings(), 2u);
    for (const fs::path& where : {dir / "tree", dir / "tree/disk"}) {
        const KZScanDisks::Facts disk = result.disks->find(quint64(platform::statPath(where, false)->device));
        ASSERT_TRUE(disk) << where;
        EXPECT_EQ(disk->marks(), platform::fileSystemOf(where).marks()) << where;
    }
}
