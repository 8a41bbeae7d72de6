// A result saved from a disk of each kind, then the searched folder or a
// folder inside it renamed, and the result reopened. A renamed folder is
// followed only where the disk keeps what proves it the folder that was
// there (a birth time: ext4; a generation number: ext4 with 128-byte inodes,
// which keeps no birth times); on a disk that keeps neither (exFAT and vfat
// through FUSE) its items are missing, never taken for other items, and the
// items elsewhere come back.

#include "resultfiles/KZSavedResultReopen.h"

#include "FuseMounts.h"
#include "platform/FileIdentity.h"
#include "platform/FileStat.h"
#include "result/model/KZFoundItemsCntrl.h"
#include "result/model/ModelTestSupport.h"
#include "resultfiles/KZSaveResult.h"
#include "settings/KZSourceItem.h"
#include "support/LoopDisks.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <set>

namespace fs = std::filesystem;

namespace {

constexpr int kUnavailable = 77;

enum class Disk { Ext4, Ext4WithoutBirthTimes, ExfatFuse, VfatFuse };

const char* nameOf(Disk disk)
{
    switch (disk) {
    case Disk::Ext4:
        return "ext4";
    case Disk::Ext4WithoutBirthTimes:
        return "ext4 with 128-byte inodes";
    case Disk::ExfatFuse:
        return "exFAT through FUSE";
    case Disk::VfatFuse:
        return "vfat through FUSE";
    }
    return "";
}

// An ext4 image of its own mounted at folder/mnt, in the case's own mount
// namespace, or a FUSE stick there.
struct MountedDisk {
    fs::path at;
    std::unique_ptr<kztest::FuseStick> stick;

    MountedDisk(Disk disk, const fs::path& folder) : at(folder / "mnt")
    {
        if (disk == Disk::ExfatFuse || disk == Disk::VfatFuse) {
            stick = std::make_unique<kztest::FuseStick>(
                disk == Disk::ExfatFuse ? kztest::FuseKind::Exfat : kztest::FuseKind::Vfat, folder);
            if (!stick->made())
                ::_exit(kUnavailable);
            at = stick->at();
            return;
        }
        const fs::path image = folder / "disk.img";
        fs::create_directories(at);
        if (!kztest::shell("truncate -s 64M " + image.native())
            || !kztest::shell(std::string("mkfs.ext4 -q ") + (disk == Disk::Ext4 ? "" : "-I 128 ") + image.native())
            || !kztest::shell("mount -o loop " + image.native() + " " + at.native()))
            ::_exit(kUnavailable);
    }
    ~MountedDisk()
    {
        if (!stick)
            ::umount2(at.c_str(), MNT_DETACH);
    }
};

// Whether the disk keeps what proves a renamed folder: a birth time kept
// across a rename, or a generation number.
bool keepsFolderProof(const fs::path& folder)
{
    const auto identity = platform::FileIdentity::ofPath(folder);
    return identity && (identity->birth || identity->generation);
}

} // namespace

TEST(ReopenAfterARenameOnDisks, ARenamedFolderIsFollowedWhereItsDiskProvesIt)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to attach and mount disks";
    struct Case {
        const char* name;
        const char* from;
        const char* to;
    };
    for (const Disk disk : {Disk::Ext4, Disk::Ext4WithoutBirthTimes, Disk::ExfatFuse, Disk::VfatFuse}) {
        for (const Case& kase : {Case{"the searched folder renamed", "src", "renamed"},
                                 Case{"a folder inside it renamed", "src/sub", "src/sub now"}}) {
            SCOPED_TRACE(std::string(nameOf(disk)) + ": " + kase.name);
            kztest::TempDir d;
            const auto outcome = kztest::runWithPrivateMounts([&] {
                MountedDisk mounted(disk, d.path());
                const fs::path at = mounted.at;
                fs::create_directories(at / "src/sub");
                const std::vector<std::pair<const char*, qint64>> files{
                    {"src/a", 1}, {"src/sub/b", 1}, {"src/c", 2}, {"src/sub/d", 2}};
                std::vector<modeltest::ItemShape> shapes;
                for (const auto& [name, group] : files) {
                    std::ofstream(at / name) << "content of group " << group;
                    shapes.push_back({.path = at / name, .group = group});
                }
                const bool proves = keepsFolderProof(at / "src/sub");
                if (disk == Disk::Ext4 || disk == Disk::Ext4WithoutBirthTimes) {
                    EXPECT_TRUE(proves) << "ext4 keeps a birth time or a generation of each folder";
                }
                const fs::path file = d / "result.maravex";
                QString error;
                const KZSourceItemRef searched =
                    KZSourceItem::create({{QStringLiteral("url"), QVariant::fromValue(at / "src")}});
                ASSERT_TRUE(KZSaveResult::saveSearchResult(modeltest::makeItems(shapes), {}, {searched}, file, &error))
                    << error.toStdString();
                fs::rename(at / kase.from, at / kase.to);

                const auto saved = KZSavedResultReopen::readFile(file, &error);
                ASSERT_TRUE(saved) << error.toStdString();
                const std::vector<KZSourceItemRef> sources = KZSavedResultReopen::resolveSources(saved->sources);
                const bool searchedRenamed = std::string(kase.from) == "src";
                if (searchedRenamed && !proves) {
                    EXPECT_TRUE(sources.empty()) << "a folder renamed where nothing proves it is not followed";
                    return;
                }
                ASSERT_EQ(sources.size(), 1u);
                EXPECT_EQ(sources.front()->path(), at / (searchedRenamed ? kase.to : "src"));
                const KZReopenedResult result = KZSavedResultReopen::rebuild(*saved, sources, {});
                std::set<fs::path> paths;
                for (const ArrayCStyle* cell = result.items.head(); cell; cell = cell->next)
                    paths.insert(cell->node->item->url());
                // Where nothing proves the renamed folder, its items stay
                // missing and the others come back.
                std::set<fs::path> expected{at / "src/a", at / "src/c"};
                if (proves) {
                    expected.clear();
                    for (const auto& [name, group] : files) {
                        std::string now = name;
                        if (const std::string from = std::string(kase.from) + "/"; now.starts_with(from))
                            now = std::string(kase.to) + "/" + now.substr(from.size());
                        expected.insert(at / now);
                    }
                }
                EXPECT_EQ(result.notes.notFound, proves ? 0 : 2) << result.notes.text().toStdString();
                EXPECT_EQ(paths, expected);
            });
            if (outcome == kztest::Isolated::Unavailable) {
                std::fprintf(stderr, "%s could not be made or mounted here: left out\n", nameOf(disk));
                continue;
            }
            EXPECT_EQ(outcome, kztest::Isolated::Passed);
        }
    }
}
