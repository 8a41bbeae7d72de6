#include "platform/Bookmark.h"
#include "platform/PropertyList.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QVariantMap>

using namespace platform;
namespace fs = std::filesystem;

TEST(Bookmark, StoresThePathBytesAndIdentity)
{
    kztest::TempDir dir;
    const auto item = dir.write("caf\xE9.txt", "x");
    QString error;
    const QByteArray data = createBookmark(item, &error);
    ASSERT_FALSE(data.isEmpty()) << error.toStdString();
    ASSERT_TRUE(data.startsWith("bplist"));

    const auto value = PropertyList::fromData(data);
    ASSERT_TRUE(value);
    const QVariantMap map = value->toMap();
    EXPECT_EQ(map.value(QStringLiteral("path")).toByteArray(), QByteArray::fromStdString(item.native()));
    EXPECT_FALSE(map.value(QStringLiteral("pathString")).toString().isEmpty());
    EXPECT_TRUE(map.contains(QStringLiteral("device")));
    EXPECT_TRUE(map.contains(QStringLiteral("inode")));

    const auto resolved = resolveBookmark(data, &error);
    ASSERT_TRUE(resolved) << error.toStdString();
    EXPECT_EQ(resolved->path, item); // byte for byte
    EXPECT_FALSE(resolved->renamed);
}

TEST(Bookmark, FollowsARenameInTheSameFolder)
{
    kztest::TempDir dir;
    const auto item = dir.write("folder/before", "x");
    const QByteArray data = createBookmark(item);
    fs::rename(item, dir / "folder/after\xE9");
    // A new item under the old name is someone else.
    dir.write("folder/before", "new");

    const auto resolved = resolveBookmark(data);
    ASSERT_TRUE(resolved);
    EXPECT_EQ(resolved->path, dir / "folder/after\xE9");
    EXPECT_TRUE(resolved->renamed);
}

TEST(Bookmark, ReferencesFolders)
{
    kztest::TempDir dir;
    const auto folder = dir.mkdir("Photos");
    const QByteArray data = createBookmark(folder);
    fs::rename(folder, dir / "Pictures");
    const auto resolved = resolveBookmark(data);
    ASSERT_TRUE(resolved);
    EXPECT_EQ(resolved->path, dir / "Pictures");
}

TEST(Bookmark, MovedOrDeletedItemsAreMissing)
{
    kztest::TempDir dir;
    const auto moved = dir.write("a/moved", "x");
    const QByteArray movedData = createBookmark(moved);
    dir.mkdir("b");
    fs::rename(moved, dir / "b/moved");
    QString error;
    EXPECT_FALSE(resolveBookmark(movedData, &error));
    EXPECT_FALSE(error.isEmpty());

    const auto gone = dir.write("gone", "x");
    const QByteArray goneData = createBookmark(gone);
    fs::rename(dir / "a", dir / "a2"); // a folder with no trace of it
    fs::remove(gone);
    EXPECT_FALSE(resolveBookmark(goneData));

    const auto lost = dir.write("c/lost", "x");
    const QByteArray lostData = createBookmark(lost);
    fs::remove_all(dir / "c"); // the parent is gone too
    EXPECT_FALSE(resolveBookmark(lostData));
}

TEST(Bookmark, RejectsBadInput)
{
    kztest::TempDir dir;
    QString error;
    EXPECT_TRUE(createBookmark(dir / "missing", &error).isEmpty());
    EXPECT_FALSE(error.isEmpty());

    QVariantMap noInode;
    noInode.insert(QStringLiteral("path"), QByteArray("/tmp"));
    noInode.insert(QStringLiteral("device"), 1);
    QVariantMap textPath = noInode;
    textPath.insert(QStringLiteral("inode"), 1);
    textPath.insert(QStringLiteral("path"), QStringLiteral("/tmp"));
    const QByteArray inputs[] = {
        QByteArray(),
        QByteArray("not a property list"),
        PropertyList::toData(QVariantList{1, 2}, PropertyList::Format::Binary),
        PropertyList::toData(noInode, PropertyList::Format::Binary),
        PropertyList::toData(textPath, PropertyList::Format::Binary),
    };
    for (const auto& input : inputs) {
        error.clear();
        EXPECT_FALSE(resolveBookmark(input, &error));
        EXPECT_FALSE(error.isEmpty());
    }
}
