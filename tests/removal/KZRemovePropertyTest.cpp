// Random removals over random trees. Whatever the options, clashes, stops and
// files changed or vanished while the removal runs, no file that existed
// before may be lost or replaced: it is where it was, or in the Trash with a
// trashinfo naming its old place, or in the destination folder, or deleted
// while a copy of its group stays.

#include "RemovalTestSupport.h"

#include "platform/FileStat.h"
#include "platform/Trash.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iostream>
#include <map>
#include <random>
#include <set>
#include <sstream>

using namespace removaltest;

namespace {

struct FileState {
    quint64 inode = 0;
    std::string content;
};

std::map<fs::path, FileState> snapshot(const std::vector<fs::path>& roots)
{
    std::map<fs::path, FileState> files;
    for (const fs::path& root : roots) {
        std::error_code ec;
        for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
             it.increment(ec)) {
            if (it->is_symlink() || !it->is_regular_file())
                continue;
            files[it->path()] = {platform::statPath(it->path(), false)->inode, kztest::readFile(it->path())};
        }
    }
    return files;
}

// Where each file is now: every path that shows it.
std::map<quint64, std::vector<fs::path>> pathsByInode(const std::map<fs::path, FileState>& files)
{
    std::map<quint64, std::vector<fs::path>> byInode;
    for (const auto& [path, state] : files)
        byInode[state.inode].push_back(path);
    return byInode;
}

// One test per seed, so that a failure names the seed that replays it.
class KZRemoveProperty : public ::testing::TestWithParam<unsigned> {};

// What a failing seed did, for a failure that does not replay: the options,
// then each file operation in order with what the simulated user did there.
struct Replay {
    std::ostringstream text;
    ~Replay()
    {
        if (::testing::Test::HasFailure())
            std::cerr << "Replay of the failing seed:\n" << text.str() << std::flush;
    }
};

} // namespace

TEST_P(KZRemoveProperty, RandomRemovalsNeverLoseOrReplaceAFile)
{
    const std::vector<std::string> folders = {"a", "b", "c", "a/d", "b/e/f"};
    const std::vector<std::string> names = {"Report.pdf", "Report.txt", "x", "Scans", "photo.jpg"};
    const unsigned seed = GetParam();
    std::mt19937 rng(seed);
    auto chance = [&](double p) { return std::uniform_real_distribution<double>(0, 1)(rng) < p; };
    auto pick = [&](std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng); };

    emptyTrash();
    Fixture f;
    Replay replay;
    const fs::path dest = f.dir.mkdir("dest");

    // Groups of equal files under clashing names.
    std::vector<modeltest::ItemShape> shapes;
    const int groups = 1 + int(pick(6));
    for (int g = 1; g <= groups; ++g) {
        const int members = 2 + int(pick(3));
        for (int m = 0; m < members; ++m) {
            fs::path path;
            do
                path = f.dir / "tree" / folders[pick(folders.size())] / names[pick(names.size())];
            while (fs::exists(path));
            f.dir.write(path.lexically_relative(f.dir.path()), "group " + std::to_string(g));
            shapes.push_back({.path = path, .group = g});
        }
    }
    // Clashes with the plain names and with the numbered ones a rename
    // would try first.
    for (const std::string& name : names) {
        const fs::path plain = name;
        const std::vector<fs::path> taken = {plain, plain.stem().native() + "  1" + plain.extension().native(),
                                             plain.stem().native() + "  2" + plain.extension().native()};
        for (const fs::path& clash : taken)
            if (chance(0.5)) {
                f.dir.write("dest" / clash, "clash " + clash.string());
                replay.text << "clash " << clash << '\n';
            }
    }

    KZFoundItemArray all = modeltest::makeItems(shapes);
    KZFoundItemArray marked;
    std::vector<fs::path> markedPaths;
    for (qsizetype i = 0; i < all.size(); ++i) {
        all[i]->setIsMarked(chance(0.6));
        if (all[i]->isMarked()) {
            marked.append(all[i]);
            markedPaths.push_back(shapes[size_t(i)].path);
        }
    }
    const auto model = modeltest::makeModel(all);

    const bool toTrash = chance(0.5);
    const bool shared = toTrash && chance(0.25);
    f.panel->isMoveToTrash = toTrash;
    f.panel->urlToMove = dest;
    f.panel->renameMove = chance(0.5);
    f.panel->createFolders = chance(0.4);
    f.panel->isCreateAlias = chance(0.4);
    f.panel->mastersAlias = model->masterForAliasArrayWithArray(marked);
    f.setLevel(int(pick(4)));
    f.alerts.presenter->script = [&](const KZAlertPresenter::Alert& alert) {
        const auto button = chance(0.5) ? KZAlertPresenter::FirstButton : KZAlertPresenter::SecondButton;
        const bool suppress = chance(0.3);
        replay.text << "  asked \"" << alert.messageText.toStdString() << "\": button " << int(button)
                    << (suppress ? ", not again" : "") << '\n';
        return KZAlertPresenter::Answer{button, false, suppress};
    };
    if (shared)
        f.fs->local = [](const fs::path&) { return std::optional<bool>(false); };

    replay.text << "trash " << toTrash << " shared " << shared << " rename " << f.panel->renameMove << " folders "
                << f.panel->createFolders << " links " << f.panel->isCreateAlias << '\n';
    for (const auto& path : markedPaths)
        replay.text << "marked " << path << '\n';
    const auto before = snapshot({f.dir.path()});
    std::set<fs::path> touchedByUser;
    const int stopAt = chance(0.2) ? int(pick(12)) : -1;
    int ops = 0;
    std::set<quint64> touchedInodes;
    f.fs->before = [&](const std::string& op, const fs::path& at) {
        replay.text << op << ' ' << at << '\n';
        if (stopAt >= 0 && ops++ == stopAt) {
            f.panel->wasStopped = true;
            replay.text << "  stopped\n";
        }
        if (!markedPaths.empty() && chance(0.1)) {
            // The user changes or removes a marked file that the removal has
            // not reached. (Copies that stay are left alone: a user who
            // deletes every copy loses the file whatever a program does.)
            const auto& victim = markedPaths[pick(markedPaths.size())];
            const auto st = platform::statPath(victim, false);
            if (st && before.count(victim) && st->inode == before.at(victim).inode) {
                touchedByUser.insert(victim);
                touchedInodes.insert(st->inode);
                const bool remove = chance(0.5);
                replay.text << "  the user " << (remove ? "removes " : "changes ") << victim << '\n';
                if (remove)
                    fs::remove(victim);
                else
                    f.dir.write(victim.lexically_relative(f.dir.path()), "changed by the user, longer");
            }
        }
        return 0;
    };

    auto engine = f.engine(marked, all);
    engine->doMove();
    ASSERT_FALSE(f.panel->isWorking.load());

    const auto after = snapshot({f.dir.path(), trashFiles()});
    auto byInode = pathsByInode(after);
    const auto removed = engine->removedArray().value_or(KZFoundItemArray{});

    for (const auto& [path, was] : before) {
        if (touchedByUser.count(path))
            continue;
        SCOPED_TRACE(path.string());
        // Not replaced: whatever is at the old path now is the file itself,
        // or a hard link to an equal copy that stays.
        if (after.count(path) && after.at(path).inode != was.inode && !touchedInodes.count(after.at(path).inode)) {
            EXPECT_TRUE(f.panel->isCreateAlias);
            EXPECT_EQ(after.at(path).content, was.content);
        }
        bool accounted = false;
        for (const fs::path& place : byInode[was.inode]) {
            if (!touchedInodes.count(was.inode)) {
                EXPECT_EQ(after.at(place).content, was.content);
            }
            if (place == path || place.lexically_relative(dest).native().rfind("..", 0) != 0) {
                accounted = true;
            } else if (place.parent_path() == trashFiles()) {
                const auto info = platform::readTrashInfo(place);
                ASSERT_TRUE(info);
                EXPECT_EQ(info->originalPath, path);
                accounted = true;
            } else if (place != path) {
                // A hard link left at another removed item's place.
                accounted = f.panel->isCreateAlias;
            }
        }
        if (!accounted) {
            // Deleted: only a permanent deletion that the user chose, with
            // an equal copy still on disk outside everything removed.
            EXPECT_TRUE(engine->thereAreShared.load());
            bool copyStays = false;
            for (const auto& [other, state] : after)
                copyStays |= state.content == was.content && other != path
                    && other.parent_path() != trashFiles() && !touchedByUser.count(other);
            EXPECT_TRUE(copyStays);
        }
    }

    // Only items whose own job succeeded are reported, each counted out
    // of its group exactly once.
    std::map<qint64, quint32> present;
    for (qsizetype i = 0; i < all.size(); ++i) {
        const auto& item = all[i];
        const fs::path path = shapes[size_t(i)].path;
        const bool reported = removed.contains(item);
        if (reported) {
            EXPECT_TRUE(item->isMarked());
            const auto now = platform::statPath(path, false);
            EXPECT_TRUE(!now || now->inode != before.at(path).inode) << path;
        } else {
            ++present[item->groupID()];
            if (!touchedByUser.count(path) && !(engine->thereAreShared.load() && !fs::exists(path))) {
                EXPECT_EQ(platform::statPath(path, false)->inode, before.at(path).inode) << path;
            }
        }
    }
    for (const auto& item : all)
        EXPECT_EQ(item->countOfItemsInGroup(), present[item->groupID()]) << item->groupID();
}

// The tree changes between the search and the removal: kept copies are
// deleted, edited or replaced by links, folders gain or lose entries, and
// parent folders are swapped for links (also while the removal runs). At the
// safe level, every file that existed is afterwards in place (or in a folder
// moved aside), in the Trash with a valid trashinfo, or at the destination;
// and every group that still had a copy outside the Trash keeps one.
TEST_P(KZRemoveProperty, ChangesBetweenSearchAndRemovalLoseNothing)
{
    const std::vector<std::string> folders = {"a", "b", "c", "a/d", "b/e/f"};
    const unsigned seed = GetParam();
    std::mt19937 rng(seed * 7919);
    auto chance = [&](double p) { return std::uniform_real_distribution<double>(0, 1)(rng) < p; };
    auto pick = [&](std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng); };

    emptyTrash();
    Fixture f;
    f.setLevel(2);
    const fs::path dest = f.dir.mkdir("dest");
    const fs::path tree = f.dir / "tree";
    for (const std::string& folder : folders)
        fs::create_directories(tree / folder);
    const bool folderItems = chance(0.4);

    std::vector<modeltest::ItemShape> shapes;
    std::map<qint64, std::string> groupContent;
    const int groups = 1 + int(pick(5));
    for (int g = 1; g <= groups; ++g) {
        groupContent[g] = "group " + std::to_string(g);
        const int members = 2 + int(pick(3));
        for (int m = 0; m < members; ++m) {
            const fs::path path = tree / folders[pick(folders.size())] / ("g" + std::to_string(g) + "m" + std::to_string(m));
            const fs::path rel = path.lexically_relative(f.dir.path());
            if (folderItems) {
                f.dir.write(rel / "in", groupContent[g]);
                f.dir.write(rel / "sub/deeper", groupContent[g]);
            } else {
                f.dir.write(rel, groupContent[g]);
            }
            shapes.push_back({.path = path, .group = g, .isDirectory = folderItems});
        }
    }
    KZFoundItemArray all = modeltest::makeItems(shapes);
    KZFoundItemArray marked;
    std::vector<fs::path> markedPaths, keptPaths;
    // One member of every group stays unmarked, as the marking rules leave it.
    std::map<qint64, std::vector<qsizetype>> members;
    for (qsizetype i = 0; i < all.size(); ++i)
        members[all[i]->groupID()].push_back(i);
    for (const auto& [group, indexes] : members) {
        const qsizetype kept = indexes[pick(indexes.size())];
        for (const qsizetype i : indexes) {
            const bool mark = i != kept && chance(0.7);
            all[i]->setIsMarked(mark);
            (mark ? markedPaths : keptPaths).push_back(shapes[size_t(i)].path);
            if (mark)
                marked.append(all[i]);
        }
    }
    const auto model = modeltest::makeModel(all);

    // Between the search and the removal.
    auto swapParent = [&](const fs::path& item) {
        const fs::path parent = item.parent_path();
        std::error_code ec;
        if (parent == tree || parent == f.dir.path() || fs::symlink_status(parent, ec).type() != fs::file_type::directory)
            return;
        fs::path aside = parent;
        aside += ".aside" + std::to_string(pick(1000));
        fs::rename(parent, aside, ec);
        if (!ec)
            fs::create_directory_symlink(tree / folders[pick(folders.size())], parent, ec);
    };
    for (const fs::path& kept : keptPaths) {
        if (!chance(0.3))
            continue;
        std::error_code ec;
        switch (pick(3)) {
        case 0:
            fs::remove_all(kept, ec);
            break;
        case 1:
            if (folderItems)
                std::ofstream(kept / "sub/added") << "the user's";
            else
                std::ofstream(kept, std::ios::app) << " edited";
            break;
        default:
            fs::remove_all(kept, ec);
            fs::create_symlink(markedPaths.empty() ? tree : markedPaths[pick(markedPaths.size())], kept, ec);
        }
    }
    for (const fs::path& item : markedPaths) {
        if (folderItems && chance(0.2))
            std::ofstream(item / "sub/added later") << "the user's";
        if (chance(0.1))
            swapParent(item);
    }

    const bool toTrash = chance(0.6);
    const bool shared = toTrash && chance(0.3);
    f.panel->isMoveToTrash = toTrash;
    f.panel->itemsArefiles = !folderItems;
    f.panel->urlToMove = dest;
    f.panel->renameMove = chance(0.5);
    f.panel->createFolders = chance(0.3);
    f.panel->isCreateAlias = !folderItems && chance(0.4);
    f.panel->mastersAlias = model->masterForAliasArrayWithArray(marked);
    f.alerts.presenter->script = [](const KZAlertPresenter::Alert&) {
        return KZAlertPresenter::Answer{KZAlertPresenter::SecondButton};
    };
    if (shared)
        f.fs->local = [](const fs::path&) { return std::optional<bool>(false); };
    Replay replay;
    replay.text << "folders " << folderItems << " trash " << toTrash << " shared " << shared << " rename "
                << f.panel->renameMove << " create " << f.panel->createFolders << " links " << f.panel->isCreateAlias
                << '\n';
    for (const auto& path : markedPaths)
        replay.text << "marked " << path << '\n';
    // While it runs: a parent folder swapped between the check and the act.
    f.fs->before = [&](const std::string& op, const fs::path& path) {
        replay.text << op << ' ' << path << '\n';
        if (op != "locked" && chance(0.15)) {
            replay.text << "  parent swapped\n";
            swapParent(path);
        }
        return 0;
    };

    const auto before = snapshot({f.dir.path()});
    std::map<qint64, bool> hadCopy;
    for (const auto& [path, state] : before)
        for (const auto& [group, content] : groupContent)
            hadCopy[group] |= state.content == content;

    auto engine = f.engine(marked, all);
    engine->doMove();
    ASSERT_FALSE(f.panel->isWorking.load());

    const auto after = snapshot({f.dir.path(), trashFiles()});
    auto byInode = pathsByInode(after);
    const fs::path trash = trashFiles();
    for (const auto& [path, was] : before) {
        SCOPED_TRACE(path.string());
        bool accounted = false;
        for (const fs::path& place : byInode[was.inode]) {
            EXPECT_EQ(after.at(place).content, was.content);
            const fs::path inTrash = place.lexically_relative(trash);
            if (!inTrash.empty() && inTrash.native().rfind("..", 0) != 0) {
                // The item at the top of the Trash carries the trashinfo.
                const auto info = platform::readTrashInfo(trash / *inTrash.begin());
                EXPECT_TRUE(info);
            }
            accounted = true;
        }
        if (!accounted) {
            EXPECT_TRUE(shared);
            bool copyStays = false;
            for (const auto& [other, state] : after)
                copyStays |= state.content == was.content && other.lexically_relative(trash).native().rfind("..", 0) == 0;
            EXPECT_TRUE(copyStays);
        }
    }
    for (const auto& [group, content] : groupContent) {
        if (!hadCopy[group])
            continue;
        bool copyStays = false;
        for (const auto& [other, state] : after)
            copyStays |= state.content == content && other.lexically_relative(trash).native().rfind("..", 0) == 0;
        EXPECT_TRUE(copyStays) << "group " << group;
    }
}

INSTANTIATE_TEST_SUITE_P(Seeds, KZRemoveProperty, ::testing::Range(1u, 61u),
                         [](const ::testing::TestParamInfo<unsigned>& seed) { return "Seed" + std::to_string(seed.param); });
