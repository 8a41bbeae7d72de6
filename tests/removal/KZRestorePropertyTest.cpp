#include "RemovalTestSupport.h"

#include "platform/Bookmark.h"
#include "removal/KZRestoreRemovedFiles.h"
#include "removal/KZUndoFile.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>

using namespace removaltest;

namespace {

// Every file's content under `roots`, with where it lies.
std::multimap<std::string, fs::path> contentsUnder(const std::vector<fs::path>& roots)
{
    std::multimap<std::string, fs::path> found;
    for (const auto& root : roots) {
        std::error_code ec;
        for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec))
            if (it->is_regular_file())
                found.emplace(kztest::readFile(it->path()), it->path());
    }
    return found;
}

} // namespace

// Random removals to the Trash and to a folder, then undo and restore in a
// random order while the user writes files at the old places and empties
// Trash entries: every item the user did not delete is still somewhere, and
// every file the user wrote is untouched.
TEST(KZRestoreProperty, UndoAndRestoreNeverLoseOrReplaceAFile)
{
    for (unsigned seed = 1; seed <= 25; ++seed) {
        SCOPED_TRACE(seed);
        emptyTrash();
        std::mt19937 rng(seed);
        auto chance = [&](int percent) { return int(rng() % 100) < percent; };
        kztest::TempDir dir;
        KZRestoreRemovedFiles restore;

        const int count = 4 + int(rng() % 8);
        std::vector<fs::path> items;
        std::set<std::string> expected;
        for (int i = 0; i < count; ++i) {
            const std::string rel = "src/" + std::to_string(rng() % 3) + "/item" + std::to_string(i);
            items.push_back(dir.write(rel, "item-" + std::to_string(i)));
            expected.insert("item-" + std::to_string(i));
        }

        std::vector<KZPersistentUndoRecord> trashed;
        KZUndoDict moved;
        std::vector<fs::path> undoFiles;
        for (const auto& item : items) {
            if (chance(50)) {
                KZPersistentUndoRecord r;
                r.oldPosition = item;
                r.currPosition = *platform::moveToTrash(item);
                r.bookmark = platform::createBookmark(r.currPosition);
                trashed.push_back(r);
                if (chance(30)) {
                    undoFiles.push_back(*KZUndoFile::write(platform::homeTrashDirectory(), {}, trashed,
                                                           double(rng() % 100000)));
                    trashed.clear();
                }
            } else {
                const fs::path to = dir.mkdir("dest") / item.filename();
                fs::rename(item, to);
                moved.standardUndo.push_back({to, item, false, false});
            }
        }
        if (!trashed.empty())
            undoFiles.push_back(*KZUndoFile::write(platform::homeTrashDirectory(), {}, trashed, 1e6 + seed));

        // The user acts in between.
        std::map<fs::path, std::string> userFiles;
        for (std::size_t i = 0; i < items.size(); ++i) {
            if (chance(25)) {
                const std::string bytes = "user-" + std::to_string(i);
                dir.write(fs::relative(items[i], dir.path()), bytes);
                userFiles[items[i]] = bytes;
            }
        }
        for (const auto& entry : fs::directory_iterator(trashFiles())) {
            const std::string name = entry.path().filename().string();
            if (name.starts_with("item") && chance(20)) {
                expected.erase(kztest::readFile(entry.path()));
                fs::remove(entry.path());
                KZUndoFile::removeTrashInfoOf(entry.path());
            }
        }
        // A stranger's file under a free Trash name.
        if (chance(50))
            dir.write("stranger", "stranger");

        std::shuffle(undoFiles.begin(), undoFiles.end(), rng);
        if (chance(50)) {
            restore.doUndoMove(moved);
            restore.restoreFiles(undoFiles);
        } else {
            restore.restoreItemsOfFile(undoFiles, {});
            restore.undoMove(moved);
            restore.waitUntilIdle();
        }

        const auto found = contentsUnder({dir.path(), platform::homeTrashDirectory()});
        for (const auto& content : expected)
            EXPECT_EQ(found.count(content), 1u) << content;
        for (const auto& [path, bytes] : userFiles)
            EXPECT_EQ(kztest::readFile(path), bytes) << path;
        // Undo files stay only while they hold entries still in the Trash.
        for (const auto& file : KZUndoFile::list(platform::homeTrashDirectory())) {
            const auto contents = KZUndoFile::read(file);
            ASSERT_TRUE(contents);
            EXPECT_FALSE(contents->entries.empty());
        }
    }
}
