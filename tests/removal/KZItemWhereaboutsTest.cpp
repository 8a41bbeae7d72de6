// Where an item lies, asked of the one place that answers it: the item of
// a killed removal's intent, and the original of a copy an Undo would
// delete.

#include "RemovalTestSupport.h"

#include "platform/DiskIdentity.h"
#include "platform/FileIdentity.h"
#include "platform/FileStat.h"
#include "platform/Trash.h"
#include "removal/KZItemWhereabouts.h"

#include <gtest/gtest.h>

using namespace removaltest;
namespace where = KZItemWhereabouts;

namespace {

// The intent a removal writes for `item`; `elsewhere`: as a disk that is
// not the item's (another device number, another file system) names it.
KZPersistentUndoRecord intentFor(const fs::path& item, bool elsewhere = false)
{
    const auto st = platform::statPath(item, false);
    KZPersistentUndoRecord intent;
    intent.oldPosition = item;
    intent.device = quint64(st->device) + (elsewhere ? 1 : 0);
    intent.inode = st->inode;
    intent.identity = platform::FileIdentity::of(*st, platform::fileSystemOf(item));
    if (elsewhere) {
        intent.identity->device = intent.device;
        intent.identity->fileSystem = 0x5eedULL;
    }
    return intent;
}

} // namespace

TEST(KZItemWhereabouts, TheItemOfAKilledRemovalsIntent)
{
    kztest::TempDir d;
    enum class Case { MovedNowhere, AtItsPlace, InTrash, InTrashNamingAnotherPlace, Gone, OnAnotherDisk };
    struct Row {
        const char* name;
        Case what;
        where::IntendedWhere expected;
    };
    const Row rows[] = {
        {"never moved, as its journal says", Case::MovedNowhere, where::IntendedWhere::AtItsPlace},
        {"at its place on its disk", Case::AtItsPlace, where::IntendedWhere::AtItsPlace},
        {"in a Trash under its inode", Case::InTrash, where::IntendedWhere::InTrash},
        {"under its inode, told of another place", Case::InTrashNamingAnotherPlace, where::IntendedWhere::Gone},
        {"nowhere, its folder on its disk", Case::Gone, where::IntendedWhere::Gone},
        {"its place on a disk not its own", Case::OnAnotherDisk, where::IntendedWhere::NotKnown},
    };
    for (const Row& row : rows) {
        const fs::path item = d.write(std::string(row.name) + "/item", "item");
        const KZPersistentUndoRecord intent = intentFor(item, row.what == Case::OnAnotherDisk);
        // The journal lies on the item's own disk.
        const where::RecordSource journal{quint64(platform::statPath(item, false)->device), 0};
        std::vector<std::pair<fs::path, platform::FileStat>> withItsInode;
        if (row.what == Case::InTrash || row.what == Case::InTrashNamingAnotherPlace || row.what == Case::Gone
            || row.what == Case::MovedNowhere) {
            const fs::path named = row.what == Case::InTrashNamingAnotherPlace ? d / row.name / "other" : item;
            const auto trashed = platform::moveToTrash(item);
            ASSERT_TRUE(trashed) << row.name;
            if (row.what == Case::InTrashNamingAnotherPlace) {
                const fs::path trash = platform::trashOfTrashedItem(*trashed).value();
                fs::remove(platform::trashInfoPath(trash, trashed->filename().native()));
                ASSERT_TRUE(platform::createTrashInfo(trash, trashed->filename().native(), named));
            }
            if (row.what == Case::Gone)
                fs::remove(*trashed);
            else
                withItsInode.emplace_back(*trashed, *platform::statPath(*trashed, false));
        }
        fs::path found;
        EXPECT_EQ(where::whereIsIntended(intent, journal, row.what == Case::MovedNowhere,
                                         [&] { return withItsInode; }, &found),
                  row.expected)
            << row.name;
        EXPECT_EQ(found.empty(), row.expected != where::IntendedWhere::InTrash) << row.name;
    }
}

TEST(KZItemWhereabouts, TheOriginalOfACopyAnUndoWouldDelete)
{
    kztest::TempDir d;
    struct Row {
        const char* name;
        bool originalThere;
        bool originalIsTheCopy;
        bool folderOnAnotherDisk;
        where::OriginalWhere expected;
        bool there;
    };
    const Row rows[] = {
        {"at its place", true, false, false, where::OriginalWhere::AtItsPlace, true},
        {"at its place on another disk", true, false, true, where::OriginalWhere::NotConnected, true},
        {"gone from its disk", false, false, false, where::OriginalWhere::Gone, false},
        {"the copy itself at its place", true, true, false, where::OriginalWhere::Gone, false},
        {"missing from another disk", false, false, true, where::OriginalWhere::NotConnected, false},
    };
    for (const Row& row : rows) {
        const fs::path copy = d.write(std::string(row.name) + "/copies/item", "item");
        const fs::path original = d / row.name / "item";
        if (row.originalIsTheCopy)
            fs::create_hard_link(copy, original);
        else if (row.originalThere)
            d.write(std::string(row.name) + "/item", "item");
        KZUndoMovedItem item{copy, original, false, true};
        auto folderDisk = *platform::diskOf(original.parent_path());
        if (row.folderOnAnotherDisk) {
            folderDisk.device += 1;
            folderDisk.fileSystem = 0x5eedULL;
        }
        item.setOldFolderDisk(folderDisk);
        // Read from a record on the folder's own disk.
        const where::RecordSource source{quint64(platform::statPath(original.parent_path(), false)->device), 0};
        const where::OriginalAnswer answer = where::whereIsOriginal(item, platform::statPath(copy, false), source);
        EXPECT_EQ(answer.where, row.expected) << row.name;
        EXPECT_EQ(answer.there, row.there) << row.name;
        EXPECT_EQ(answer.place.has_value(), row.expected == where::OriginalWhere::AtItsPlace) << row.name;
    }
}
