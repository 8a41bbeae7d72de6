// The cases' FUSE sticks leave nothing behind: no daemon, no mount and no
// loop device, whether the case ends through its clean-ups or past them.
// A daemon left serving a mount of a dead case's namespace keeps that
// namespace, and the loop device under it, for good.

#include "FuseMounts.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using kztest::FuseKind;
using kztest::FuseStick;

namespace {

constexpr int kUnavailable = 77;

std::vector<std::string> loopDevicesBacking(const fs::path& folder)
{
    return kztest::loopDevicesAttachedUnder(folder.native());
}

std::vector<pid_t> processesNaming(const fs::path& folder)
{
    std::vector<pid_t> found;
    if (DIR* proc = ::opendir("/proc")) {
        while (const dirent* entry = ::readdir(proc)) {
            char* end = nullptr;
            const long pid = std::strtol(entry->d_name, &end, 10);
            if (pid <= 0 || *end || !kztest::fusedetail::running(pid_t(pid)))
                continue;
            std::ifstream cmdline(std::string("/proc/") + entry->d_name + "/cmdline");
            for (std::string argument; std::getline(cmdline, argument, '\0');)
                if (argument.starts_with(folder.native() + "/")) {
                    found.push_back(pid_t(pid));
                    break;
                }
        }
        ::closedir(proc);
    }
    return found;
}

void eachStickOnALoopDevice(const std::function<void(FuseKind, FuseStick::Options)>& body)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to attach and mount disks";
    FuseStick::Options onDevice;
    onDevice.vfatOnLoopDevice = true;
    for (const FuseKind kind : {FuseKind::Exfat, FuseKind::Vfat}) {
        SCOPED_TRACE(kztest::nameOf(kind));
        body(kind, onDevice);
    }
}

} // namespace

// Replugged, the stick is at its place on the same device, served by a new
// daemon; gone with its case, nothing of it is left.
TEST(FuseHarness, AStickReplugsOnItsDeviceAndLeavesNothingBehind)
{
    eachStickOnALoopDevice([](FuseKind kind, const FuseStick::Options& options) {
        kztest::TempDir d;
        const auto outcome = kztest::runWithPrivateMounts([&] {
            FuseStick stick(kind, d.path(), options);
            if (!stick.made())
                ::_exit(kUnavailable);
            const std::string device = stick.device();
            std::ofstream(stick.at() / "f") << "kept";
            const auto daemons = processesNaming(d.path());
            ASSERT_EQ(daemons.size(), 1u);
            ASSERT_TRUE(stick.replug());
            EXPECT_EQ(stick.device(), device);
            EXPECT_EQ(kztest::readFile(stick.at() / "f"), "kept");
            EXPECT_FALSE(kztest::fusedetail::running(daemons[0])) << "the daemon of the first mount ended";
            EXPECT_EQ(processesNaming(d.path()).size(), 1u);
        });
        if (outcome == kztest::Isolated::Unavailable) {
            std::fprintf(stderr, "%s could not be made or mounted here\n", kztest::nameOf(kind));
            return;
        }
        EXPECT_EQ(outcome, kztest::Isolated::Passed);
        EXPECT_TRUE(loopDevicesBacking(d.path()).empty());
        EXPECT_TRUE(processesNaming(d.path()).empty());
    });
}

// A case's child that ends past its clean-ups, a stick mounted in the
// case's folder and another in a folder the child made (and removed, as a
// failed step's clean-up would): each daemon is unmounted in its namespace
// and ended, and each loop device detached, once the child has ended.
TEST(FuseHarness, WhatAChildLeftPastItsCleanUpsIsTakenDown)
{
    eachStickOnALoopDevice([](FuseKind kind, const FuseStick::Options& options) {
        kztest::TempDir d;
        const auto outcome = kztest::runWithPrivateMounts([&] {
            FuseStick stick(kind, d.path(), options);
            auto own = std::make_unique<kztest::TempDir>();
            std::ofstream(d / "own") << own->path().native();
            auto inOwn = std::make_unique<FuseStick>(kind, own->path(), options);
            if (!stick.made() || !inOwn->made())
                ::_exit(kUnavailable);
            // Gone without its stick's clean-up.
            (void)inOwn.release();
            ::umount2((own->path() / "mnt").c_str(), MNT_DETACH);
            own.reset();
            ::_exit(0);
        });
        if (outcome == kztest::Isolated::Unavailable) {
            std::fprintf(stderr, "%s could not be made or mounted here\n", kztest::nameOf(kind));
            return;
        }
        EXPECT_EQ(outcome, kztest::Isolated::Passed);
        const fs::path own = kztest::readFile(d / "own");
        ASSERT_FALSE(own.empty());
        for (const fs::path& folder : {d.path(), own}) {
            EXPECT_TRUE(loopDevicesBacking(folder).empty()) << folder;
            EXPECT_TRUE(processesNaming(folder).empty()) << folder;
        }
    });
}

// A case that lets its loop device go late, or twice, finds the number
// taken by another case's image meanwhile: that image stays attached.
TEST(LoopHarness, ALateLetGoLeavesTheNumberToTheCaseThatHasItNow)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to attach loop devices";
    kztest::TempDir d;
    const fs::path mine = d / "mine.img";
    const fs::path theirs = d / "theirs.img";
    ASSERT_TRUE(kztest::shell("truncate -s 1M " + mine.native() + " " + theirs.native()));
    const std::string device = kztest::shellOutput("losetup -f --show " + mine.native());
    if (device.empty())
        GTEST_SKIP() << "no loop device here";
    ASSERT_TRUE(kztest::detachLoopDevice(device, mine));
    // Let go once the last of those who opened it meanwhile closes it.
    if (!kztest::shell("losetup " + device + " " + theirs.native()))
        GTEST_SKIP() << "a case beside this one took the number, or holds it still";
    EXPECT_TRUE(kztest::detachLoopDevice(device, mine)) << "mine is gone from it";
    EXPECT_TRUE(kztest::isAttachedTo(device, theirs)) << "the other case's image was let go";
    // Let go once the last of those who opened it meanwhile closes it.
    EXPECT_TRUE(kztest::detachLoopDevice(device, theirs));
}

// A loop device that a case's child attached in its own mount namespace,
// where the kernel names its image from that file system's root, goes
// with the case when the child ended past its clean-ups.
TEST(LoopHarness, ADeviceAChildLeftInItsNamespaceIsLetGo)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to attach loop devices";
    kztest::TempDir d;
    const fs::path image = d / "left.img";
    ASSERT_TRUE(kztest::shell("truncate -s 1M " + image.native()));
    const auto outcome = kztest::runWithPrivateMounts([&] {
        if (kztest::shellOutput("losetup -f --show " + image.native()).empty())
            ::_exit(kUnavailable);
        ::_exit(0);
    });
    if (outcome == kztest::Isolated::Unavailable)
        GTEST_SKIP() << "no loop device or private mount namespace here";
    EXPECT_EQ(outcome, kztest::Isolated::Passed);
    EXPECT_TRUE(loopDevicesBacking(d.path()).empty());
}
