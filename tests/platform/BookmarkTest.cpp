#include "platform/Bookmark.h"
#include "platform/BinaryPropertyListWriter.h"
#include "platform/PropertyList.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QVariantMap>

#include <cmath>
#include <functional>
#include <iostream>
#include <limits>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>

using namespace platform;
namespace fs = std::filesystem;

TEST(Bookmark, StoresThePathBytesAndIdentityAndFollowsARenameInTheSameFolder)
{
    kztest::TempDir dir;
    const auto item = dir.write("folder/caf\xE9", "x");
    QString error;
    const QByteArray data = createBookmark(item, &error);
    ASSERT_TRUE(data.startsWith("bplist")) << error.toStdString();
    const QVariantMap map = PropertyList::fromData(data).value_or(QVariant()).toMap();
    EXPECT_EQ(map.value(QStringLiteral("path")).toByteArray(), QByteArray::fromStdString(item.native()));
    EXPECT_TRUE(map.contains(QStringLiteral("device")) && map.contains(QStringLiteral("inode")));
    const auto resolved = resolveBookmark(data, &error);
    ASSERT_TRUE(resolved) << error.toStdString();
    EXPECT_EQ(resolved->path, item); // byte for byte
    EXPECT_FALSE(resolved->renamed);

    fs::rename(item, dir / "folder/after\xE9");
    dir.write("folder/caf\xE9", "new"); // a new item under the old name is someone else
    EXPECT_EQ(resolveBookmark(data)->path, dir / "folder/after\xE9");
    EXPECT_TRUE(resolveBookmark(data)->renamed);
}

TEST(Bookmark, DeletedOrDamagedIsMissing)
{
    kztest::TempDir dir;
    const QByteArray gone = createBookmark(dir.write("gone", "x"));
    fs::remove(dir / "gone");
    const QByteArray lost = createBookmark(dir.write("c/lost", "x"));
    fs::remove_all(dir / "c"); // the parent is gone too

    QString error;
    EXPECT_TRUE(createBookmark(dir / "missing", &error).isEmpty());
    EXPECT_FALSE(error.isEmpty());
    QVariantMap noInode{{QStringLiteral("path"), QByteArray("/tmp")}, {QStringLiteral("device"), 1}};
    QVariantMap textPath = noInode;
    textPath.insert(QStringLiteral("inode"), 1);
    textPath.insert(QStringLiteral("path"), QStringLiteral("/tmp"));
    for (const QByteArray& input : {gone, lost, QByteArray(), QByteArray("not a property list"),
                                    PropertyList::toData(QVariantList{1, 2}, PropertyList::Format::Binary),
                                    PropertyList::toData(noInode, PropertyList::Format::Binary),
                                    PropertyList::toData(textPath, PropertyList::Format::Binary)}) {
        error.clear();
        EXPECT_FALSE(resolveBookmark(input, &error));
        EXPECT_FALSE(error.isEmpty());
    }
}

// Many bookmarks into one folder: the resolver finds what resolveBookmark
// finds, listing the folder once for all the renamed and lost ones.
TEST(Bookmark, AResolverAnswersAsEachBookmarkAlone)
{
    kztest::TempDir dir;
    std::vector<QByteArray> bookmarks;
    for (const char* name : {"kept", "renamed", "also renamed", "gone"})
        bookmarks.push_back(createBookmark(dir.write(std::string("f/") + name, name)));
    bookmarks.push_back(createBookmark(dir.write("elsewhere/lost", "x")));
    fs::rename(dir / "f/renamed", dir / "f/renamed now");
    fs::rename(dir / "f/also renamed", dir / "f/also renamed now");
    fs::remove(dir / "f/gone");
    fs::remove_all(dir / "elsewhere");

    BookmarkResolver resolver;
    for (const QByteArray& bookmark : bookmarks) {
        const auto alone = resolveBookmark(bookmark);
        const auto together = resolver.resolve(bookmark);
        ASSERT_EQ(alone.has_value(), together.has_value());
        if (alone) {
            EXPECT_EQ(together->path, alone->path);
            EXPECT_EQ(together->renamed, alone->renamed);
        }
    }
    EXPECT_EQ(resolver.resolve(bookmarks[2])->path, dir / "f/also renamed now");
    EXPECT_FALSE(resolver.resolve(bookmarks[3]));
}

// A disk taken out, and another one given its old device number: the
// folder of the item now stands on the other disk, whose inodes bear the
// same numbers without being the item. A rename is looked for only on the
// item's own disk; here the entry holding the old inode is someone else's.
TEST(Bookmark, ARenameIsNotFollowedOntoAnotherDiskUnderTheOldDeviceNumber)
{
    kztest::TempDir dir;
    const fs::path item = dir.write("f/item", "x");
    const QByteArray own = createBookmark(item);
    QVariantMap map = PropertyList::fromData(own)->toMap();
    ASSERT_TRUE(map.contains(QStringLiteral("fileSystem")));
    // What the same folder holds once another file system answers there.
    map.insert(QStringLiteral("fileSystem"), map.value(QStringLiteral("fileSystem")).toULongLong() ^ 0x5a5a5a5aULL);
    const QByteArray otherDisk = PropertyList::toData(map, PropertyList::Format::Binary);
    fs::rename(item, dir / "f/renamed");

    ASSERT_TRUE(resolveBookmark(own));
    EXPECT_EQ(resolveBookmark(own)->path, dir / "f/renamed") << "on its own disk the rename is followed";
    QString error;
    EXPECT_FALSE(resolveBookmark(otherDisk, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("can no longer be found"))) << error.toStdString();
    BookmarkResolver resolver;
    EXPECT_FALSE(resolver.resolve(otherDisk));
    EXPECT_EQ(resolver.resolve(own)->path, dir / "f/renamed");
    // Standing where it was, the item is in place whatever the number says.
    fs::rename(dir / "f/renamed", item);
    EXPECT_FALSE(resolveBookmark(otherDisk)) << "another disk's item at the old path is not the item";
}

// A bookmark is a property list inside another one (a saved result, an undo
// file): one nested deep enough to crash the reader is damaged, not a crash.
// In a child, so that a crash fails the test.
TEST(Bookmark, ABookmarkNestedTooDeeplyIsDamaged)
{
    kztest::expectCleanRunInChild([] {
        const QByteArray deep = "<?xml version=\"1.0\"?><plist version=\"1.0\">"
                                + QByteArray("<array><!--</array>-->").repeated(2000);
        QString error;
        EXPECT_FALSE(resolveBookmark(deep, &error));
        EXPECT_TRUE(error.contains(QStringLiteral("nested too deeply"))) << error.toStdString();
        const QByteArray saved = PropertyList::toData(QVariantMap{{QStringLiteral("item"), deep}},
                                                      PropertyList::Format::Binary);
        const auto outer = PropertyList::fromData(saved);
        ASSERT_TRUE(outer);
        EXPECT_FALSE(resolveBookmark(outer->toMap().value(QStringLiteral("item")).toByteArray(), &error));
    });
}

// A stored bookmark is input: a device, an inode or a time written as a
// real too large for its integer (1e30, infinity) is damage, never a number
// made up by the conversion; a whole real that fits still reads.
TEST(Bookmark, NumbersOutOfRangeAreDamage)
{
    kztest::TempDir dir;
    const fs::path file = dir.write("kept", "x");
    const auto reference = [&](const QVariant& device, const QVariant& birth) {
        const auto stored = PropertyList::fromData(createBookmark(file));
        EXPECT_TRUE(stored);
        QVariantMap map = stored ? stored->toMap() : QVariantMap();
        map.insert(QStringLiteral("device"), device);
        map.insert(QStringLiteral("birthSeconds"), birth);
        map.insert(QStringLiteral("modifiedSeconds"), birth);
        return PropertyList::toData(map, PropertyList::Format::Binary);
    };
    const double infinity = std::numeric_limits<double>::infinity();
    for (const double wild : {1e30, -1.0, infinity, -infinity, std::nan(""), 0.5}) {
        SCOPED_TRACE(wild);
        EXPECT_FALSE(bookmarkTarget(reference(wild, 7)));
        const auto target = bookmarkTarget(reference(7, wild));
        ASSERT_TRUE(target);
        EXPECT_FALSE(target->identity.birth);
        EXPECT_FALSE(target->identity.modified);
    }
    const auto whole = bookmarkTarget(reference(12.0, 1e9));
    ASSERT_TRUE(whole);
    EXPECT_EQ(whole->device, 12u);
    ASSERT_TRUE(whole->identity.birth);
    EXPECT_EQ(whole->identity.birth->seconds, 1000000000);
    EXPECT_EQ(storedUnsigned(QVariant(qint64(-1))), std::optional<quint64>(~quint64(0)));
    EXPECT_FALSE(storedUnsigned(QVariant(QStringLiteral("12"))));
}

// A stored path holding a NUL names, where the system reads it, the item
// before the NUL: the reference is damaged, however well the rest matches.
TEST(Bookmark, APathHoldingANulIsDamage)
{
    kztest::TempDir dir;
    const fs::path file = dir.write("kept", "x");
    const auto stored = PropertyList::fromData(createBookmark(file));
    ASSERT_TRUE(stored);
    QVariantMap map = stored->toMap();
    const std::string bytes = file.native() + std::string("\0/x", 3);
    map.insert(QStringLiteral("path"), QByteArray(bytes.data(), qsizetype(bytes.size())));
    for (const auto format : {PropertyList::Format::Binary, PropertyList::Format::Xml}) {
        const QByteArray data = PropertyList::toData(map, format);
        ASSERT_FALSE(data.isEmpty());
        EXPECT_FALSE(bookmarkTarget(data));
        QString error;
        EXPECT_FALSE(resolveBookmark(data, &error));
        EXPECT_FALSE(error.isEmpty());
    }
}

// What this program writes is read without a map of it; whatever a
// reference holds, odd keys and values too, it reads as its map reads.
TEST(Bookmark, AReferenceReadsAlikeWhateverWroteIt)
{
    kztest::TempDir dir;
    const QVariantMap made = PropertyList::fromData(createBookmark(dir.write("item", "x")))->toMap();
    ASSERT_TRUE(made.contains(QStringLiteral("fileSystem")));
    const auto with = [&made](const QString& key, const QVariant& value) {
        QVariantMap map = made;
        if (value.isValid())
            map.insert(key, value);
        else
            map.remove(key);
        return map;
    };
    const std::vector<QVariantMap> maps{made,
                                        with(QStringLiteral("inode"), QVariant()),
                                        with(QStringLiteral("device"), QStringLiteral("12")),
                                        with(QStringLiteral("birthSeconds"), 1.7e9),
                                        with(QStringLiteral("birthNanoseconds"), 1e30),
                                        with(QStringLiteral("folder"), qint64(1)),
                                        with(QStringLiteral("path"), QStringLiteral("/as/text")),
                                        with(QString::fromUtf8("caf\xC3\xA9"), true),
                                        with(QStringLiteral("extra"), QVariantList{1, 2}),
                                        with(QStringLiteral("folders"), QByteArray("\x01" "12345678\x00", 10)),
                                        with(QStringLiteral("folders"), QByteArray("\x01" "1234", 5)),
                                        with(QStringLiteral("folders"), 7)};
    for (const QVariantMap& map : maps) {
        BinaryPropertyListWriter writer;
        const QByteArray binary = writer.finish(writer.value(map));
        const QByteArray xml = PropertyList::toData(map, PropertyList::Format::Xml);
        const std::optional<BookmarkTarget> fast = bookmarkTarget(binary);
        const std::optional<BookmarkTarget> slow = bookmarkTarget(xml);
        ASSERT_EQ(fast.has_value(), slow.has_value()) << PropertyList::toData(map, PropertyList::Format::Xml).toStdString();
        if (fast) {
            EXPECT_EQ(fast->path, slow->path);
            EXPECT_EQ(fast->identity, slow->identity);
            EXPECT_EQ(fast->foldersAbove(), slow->foldersAbove());
        }
    }
}

namespace {

// A bookmark made of `item` with `change` applied to its record: what the
// record of an item made earlier, or by an older program, looks like.
QByteArray recordOf(const fs::path& item, const std::function<void(QVariantMap&)>& change)
{
    QVariantMap map = PropertyList::fromData(createBookmark(item)).value_or(QVariant()).toMap();
    change(map);
    return PropertyList::toData(map, PropertyList::Format::Binary);
}

void dropBirth(QVariantMap& map)
{
    map.remove(QStringLiteral("birthSeconds"));
    map.remove(QStringLiteral("birthNanoseconds"));
}

// The path each resolver finds, alone and in a batch, which must agree.
std::optional<fs::path> resolvedPath(const QByteArray& bookmark)
{
    const auto alone = resolveBookmark(bookmark);
    BookmarkResolver resolver;
    const auto together = resolver.resolve(bookmark);
    EXPECT_EQ(alone.has_value(), together.has_value());
    if (alone && together) {
        EXPECT_EQ(alone->path, together->path);
    }
    return alone ? std::optional<fs::path>(alone->path) : std::nullopt;
}

} // namespace

// A record whose item is gone, while another entry of its folder holds its
// inode number: what a file system that hands the freed number to the next
// item shows. The entry is followed only when it is proved the item: its
// kind, then its birth time, a folder's generation, or for a file recorded
// without birth time its size and date; nothing recorded proves nothing.
TEST(Bookmark, ARenameIsFollowedOnlyToTheItemItself)
{
    kztest::TempDir dir;
    const fs::path file = dir.write("f/file", "same bytes");
    const fs::path folder = dir.mkdir("f/folder");
    const fs::path gone = dir / "f/gone";
    const auto onInodeOf = [&gone](const fs::path& holder, const std::function<void(QVariantMap&)>& change) {
        return recordOf(holder, [&](QVariantMap& map) {
            map.insert(QStringLiteral("path"), QByteArray::fromStdString(gone.native()));
            change(map);
        });
    };
    const auto ownBirth = [](QVariantMap& map) {
        map.insert(QStringLiteral("birthNanoseconds"), (map.value(QStringLiteral("birthNanoseconds")).toULongLong() + 1) % 1000000000);
    };
    const bool births = PropertyList::fromData(createBookmark(file))->toMap().contains(QStringLiteral("birthSeconds"));

    EXPECT_EQ(resolvedPath(onInodeOf(file, [](QVariantMap&) {})), file) << "a file renamed is followed";
    EXPECT_EQ(resolvedPath(onInodeOf(folder, [](QVariantMap&) {})), folder) << "a folder renamed is followed";
    EXPECT_FALSE(resolvedPath(onInodeOf(file, [](QVariantMap& map) { map.insert(QStringLiteral("folder"), true); })))
        << "a file where a folder was";
    EXPECT_FALSE(resolvedPath(onInodeOf(folder, [](QVariantMap& map) { map.insert(QStringLiteral("folder"), false); })))
        << "a folder where a file was";
    if (births) {
        EXPECT_FALSE(resolvedPath(onInodeOf(file, ownBirth))) << "a file of another birth time";
        EXPECT_FALSE(resolvedPath(onInodeOf(folder, ownBirth))) << "a folder of another birth time";
    }
    // Recorded without a birth time: a file by its size and date.
    const auto sizeAndDate = [](QVariantMap& map) {
        dropBirth(map);
        map.insert(QStringLiteral("size"), quint64(10));
        map.insert(QStringLiteral("modifiedSeconds"), quint64(1600000000));
        map.insert(QStringLiteral("modifiedNanoseconds"), quint64(0));
    };
    const timespec times[2] = {{0, UTIME_OMIT}, {1600000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
    EXPECT_EQ(resolvedPath(onInodeOf(file, sizeAndDate)), file) << "size and date where no birth time was kept";
    EXPECT_FALSE(resolvedPath(onInodeOf(file, [&](QVariantMap& map) {
        sizeAndDate(map);
        map.insert(QStringLiteral("size"), quint64(11));
    }))) << "another size";
    EXPECT_FALSE(resolvedPath(onInodeOf(file, [&](QVariantMap& map) {
        sizeAndDate(map);
        map.insert(QStringLiteral("folder"), true);
    }))) << "a file where a folder without birth time was";
    // A record of device and inode alone, from before the rest was kept,
    // proves no entry: the item is missing, though in place it is found.
    const auto bare = [](QVariantMap& map) {
        for (const QString& key : map.keys())
            if (key != QStringLiteral("path") && key != QStringLiteral("pathString") && key != QStringLiteral("device")
                && key != QStringLiteral("inode"))
                map.remove(key);
    };
    EXPECT_FALSE(resolvedPath(onInodeOf(file, bare)));
    EXPECT_FALSE(resolvedPath(onInodeOf(folder, bare)));
    EXPECT_EQ(resolvedPath(recordOf(file, bare)), file);
    // At its own name, a stranger of another kind on the item's inode is
    // not the item either.
    EXPECT_FALSE(resolvedPath(recordOf(file, [](QVariantMap& map) { map.insert(QStringLiteral("folder"), true); })));
    if (births) {
        EXPECT_FALSE(resolvedPath(recordOf(file, ownBirth)));
    } else {
        GTEST_SKIP() << "the temporary folder's file system keeps no birth times: the birth time cases were left out";
    }
}

namespace {

// A folder on a disk that hands a freed inode number to the next item made
// beside it (ext4 does at once; a memory file system never does): the
// temporary folder's, else another volume's. None where there is none.
std::unique_ptr<kztest::TempDir> folderWhereInodesAreReused()
{
    std::vector<std::optional<fs::path>> candidates{fs::temp_directory_path(), kztest::otherVolume()};
    for (const auto& parent : candidates) {
        if (!parent)
            continue;
        auto dir = std::make_unique<kztest::TempDir>(*parent);
        const fs::path probe = dir->mkdir("probe");
        const auto inode = statPath(probe, false)->inode;
        fs::remove(probe);
        const bool reused = statPath(dir->write("taker", ""), false)->inode == inode;
        fs::remove(*dir / "taker");
        if (reused)
            return dir;
    }
    return nullptr;
}

// Makes files beside `gone` (already deleted) until one takes its inode;
// that file's path, or none after a few tries.
std::optional<fs::path> takeInode(const kztest::TempDir& dir, quint64 inode, bool asFolder)
{
    for (int i = 0; i < 16; ++i) {
        const std::string name = "newcomer " + std::to_string(i);
        const fs::path made = asFolder ? dir.mkdir(name) : dir.write(name, "");
        if (statPath(made, false)->inode == inode)
            return made;
    }
    return std::nullopt;
}

} // namespace

// The same where the disk really hands the freed inode out again: a deleted
// folder, file, and folder told by its generation alone are missing, never
// the newcomer that took their number.
TEST(Bookmark, AnItemDeletedIsNotFoundInTheNewcomerOnItsInode)
{
    const auto dir = folderWhereInodesAreReused();
    if (!dir)
        GTEST_SKIP() << "no disk here hands a freed inode number out again (the temporary folder and "
                        "another volume are memory file systems)";
    struct Case {
        const char* name;
        bool wasFolder;
        bool newcomerFolder;
        bool byGeneration;
    };
    for (const Case& kase : {Case{"a file where a folder was", true, false, false},
                             Case{"a folder where a file was", false, true, false},
                             Case{"a file of another birth time", false, false, false},
                             Case{"a folder of another birth time", true, true, false},
                             Case{"a folder of another generation", true, true, true}}) {
        SCOPED_TRACE(kase.name);
        // Of another size than the empty newcomers: where no birth time is
        // kept, size and date would prove the newcomer.
        const fs::path item = kase.wasFolder ? dir->mkdir("item") : dir->write("item", "item bytes");
        const quint64 inode = statPath(item, false)->inode;
        std::optional<quint64> generation = folderGenerationAt(AT_FDCWD, item.c_str());
        if (kase.byGeneration && !generation) {
            fs::remove(item);
            std::cout << "(no generations here: " << kase.name << " left out)\n";
            continue;
        }
        const QByteArray bookmark = recordOf(item, [&](QVariantMap& map) {
            if (kase.byGeneration) {
                dropBirth(map);
                map.insert(QStringLiteral("generation"), *generation);
            }
        });
        fs::remove(item);
        const auto newcomer = takeInode(*dir, inode, kase.newcomerFolder);
        if (newcomer) {
            EXPECT_FALSE(resolvedPath(bookmark)) << "followed onto " << newcomer->native();
        } else {
            std::cout << "(the freed inode went to no newcomer: " << kase.name << " left out)\n";
        }
        for (const auto& entry : fs::directory_iterator(dir->path()))
            fs::remove_all(entry.path());
    }
    // And a real rename on that disk is still followed, a folder by its
    // generation too.
    const fs::path folder = dir->mkdir("folder");
    const QByteArray byGeneration = recordOf(folder, [&](QVariantMap& map) {
        if (const auto generation = folderGenerationAt(AT_FDCWD, folder.c_str())) {
            dropBirth(map);
            map.insert(QStringLiteral("generation"), *generation);
        }
    });
    const QByteArray plain = createBookmark(folder);
    fs::rename(folder, *dir / "renamed");
    EXPECT_EQ(resolvedPath(plain), *dir / "renamed");
    EXPECT_EQ(resolvedPath(byGeneration), *dir / "renamed");
}

namespace {

// Resolved alone and in a batch, which must agree: the path, and whether it
// is another than the stored one.
std::optional<ResolvedBookmark> resolvedBoth(const QByteArray& bookmark)
{
    const auto alone = resolveBookmark(bookmark);
    BookmarkResolver resolver;
    const auto together = resolver.resolve(bookmark);
    EXPECT_EQ(alone.has_value(), together.has_value());
    if (alone && together) {
        EXPECT_EQ(alone->path, together->path);
        EXPECT_EQ(alone->renamed, together->renamed);
    }
    return alone;
}

QByteArray withFolders(const fs::path& item)
{
    return createBookmark(item, nullptr, FoldersAbove::Recorded);
}

} // namespace

// What a bookmark records above its item: every folder from below the disk's
// root, or below the last link on the way (the place the path leads on to),
// each with what proves it. A bookmark made as before records none.
TEST(Bookmark, TheFoldersAboveAreRecordedBelowTheLastLink)
{
    kztest::TempDir dir;
    const fs::path file = dir.write("real/a/b/file", "x");
    fs::create_directory_symlink(dir / "real", dir / "link");
    const auto direct = bookmarkTarget(withFolders(file));
    ASSERT_TRUE(direct);
    const size_t depth = size_t(std::distance(file.parent_path().begin(), file.parent_path().end())) - 1;
    ASSERT_FALSE(direct->foldersAbove().empty());
    EXPECT_LE(direct->foldersAbove().size(), depth);
    EXPECT_EQ(direct->foldersAbove().back().inode, statPath(dir / "real/a/b", false)->inode);
    EXPECT_EQ(direct->foldersAbove().rbegin()[2].inode, statPath(dir / "real", false)->inode);
    for (const FileIdentity& folder : direct->foldersAbove()) {
        EXPECT_TRUE(folder.folder.value_or(false));
        EXPECT_EQ(folder.device, direct->device);
    }
    const auto throughLink = bookmarkTarget(withFolders(dir / "link/a/b/file"));
    ASSERT_TRUE(throughLink);
    ASSERT_EQ(throughLink->foldersAbove().size(), 2u);
    EXPECT_EQ(throughLink->foldersAbove().front().inode, statPath(dir / "real/a", false)->inode);
    EXPECT_TRUE(bookmarkTarget(createBookmark(file))->foldersAbove().empty());
    // A path that no longer holds the item recorded names other folders.
    FileIdentity stranger = *FileIdentity::ofPath(file);
    stranger.inode += 1;
    EXPECT_TRUE(bookmarkTarget(bookmarkOf(file, stranger, nullptr, FoldersAbove::Recorded))->foldersAbove().empty());
}

// The searched folder, or a folder above it, renamed after the result was
// saved: each item is found at its place in the renamed folder, also when
// it was renamed there too, or a new folder took the old name. A move to
// another folder, an item deleted, and a bookmark made before the folders
// were kept, stay missing.
TEST(Bookmark, AFolderAboveRenamedIsFollowedToTheItem)
{
    struct Case {
        const char* name;
        std::function<void(const kztest::TempDir&)> change;
        const char* file;   // where the file is found, or nullptr
        const char* folder; // where the folder item is found, or nullptr
    };
    const std::vector<Case> cases{
        {"the searched folder renamed",
         [](const kztest::TempDir& d) { fs::rename(d / "top/searched", d / "top/renamed"); },
         "top/renamed/sub/file", "top/renamed/sub/item folder"},
        {"two folders renamed, one above the searched one",
         [](const kztest::TempDir& d) {
             fs::rename(d / "top", d / "top now");
             fs::rename(d / "top now/searched/sub", d / "top now/searched/sub now");
         },
         "top now/searched/sub now/file", "top now/searched/sub now/item folder"},
        {"a new folder made under the old name",
         [](const kztest::TempDir& d) {
             fs::rename(d / "top/searched", d / "top/old");
             d.write("top/searched/sub/file", "a newcomer");
             d.mkdir("top/searched/sub/item folder");
         },
         "top/old/sub/file", "top/old/sub/item folder"},
        {"the items renamed in the renamed folder too",
         [](const kztest::TempDir& d) {
             fs::rename(d / "top/searched", d / "top/renamed");
             fs::rename(d / "top/renamed/sub/file", d / "top/renamed/sub/file now");
             fs::rename(d / "top/renamed/sub/item folder", d / "top/renamed/sub/folder now");
         },
         "top/renamed/sub/file now", "top/renamed/sub/folder now"},
        {"moved to another folder",
         [](const kztest::TempDir& d) {
             fs::rename(d / "top/searched", d / "top/renamed");
             fs::rename(d / "top/renamed/sub/file", d / "top/file");
             fs::rename(d / "top/renamed/sub/item folder", d / "top/renamed/item folder");
         },
         nullptr, nullptr},
        {"deleted in the renamed folder",
         [](const kztest::TempDir& d) {
             fs::rename(d / "top/searched", d / "top/renamed");
             fs::remove(d / "top/renamed/sub/file");
             fs::remove(d / "top/renamed/sub/item folder");
         },
         nullptr, nullptr},
        {"the folder moved into another folder",
         [](const kztest::TempDir& d) {
             d.mkdir("elsewhere");
             fs::rename(d / "top/searched", d / "elsewhere/searched");
         },
         nullptr, nullptr},
    };
    for (const Case& kase : cases) {
        SCOPED_TRACE(kase.name);
        kztest::TempDir d;
        const fs::path file = d.write("top/searched/sub/file", "bytes of the file");
        const fs::path folder = d.mkdir("top/searched/sub/item folder");
        const QByteArray fileMark = withFolders(file), folderMark = withFolders(folder);
        const QByteArray older = createBookmark(file);
        ASSERT_FALSE(bookmarkTarget(fileMark)->foldersAbove().empty());
        kase.change(d);
        for (const auto& [mark, expected] : {std::pair{fileMark, kase.file}, std::pair{folderMark, kase.folder}}) {
            const auto resolved = resolvedBoth(mark);
            if (expected) {
                ASSERT_TRUE(resolved);
                EXPECT_EQ(resolved->path, d / expected);
                EXPECT_TRUE(resolved->renamed);
            } else {
                EXPECT_FALSE(resolved) << "found at " << resolved->path.native();
            }
        }
        EXPECT_FALSE(resolvedBoth(older)) << "a bookmark made before the folders were kept follows no folder";
    }
    // Unchanged, nothing is renamed; and the bookmark of the searched folder
    // itself follows a rename of the folder above it.
    kztest::TempDir d;
    const fs::path file = d.write("top/searched/file", "x");
    const QByteArray source = withFolders(d / "top/searched");
    EXPECT_FALSE(resolvedBoth(withFolders(file))->renamed);
    fs::rename(d / "top", d / "top now");
    EXPECT_EQ(resolvedBoth(source)->path, d / "top now/searched");
}

// A renamed folder is found by its inode only where that entry is proved
// the folder (its birth time, or its generation): a folder deleted, its
// inode number handed to a new folder beside it, is not followed, nor is
// the newcomer's item under the old name.
TEST(Bookmark, AFolderDeletedIsNotFoundInTheNewcomerOnItsInode)
{
    const auto dir = folderWhereInodesAreReused();
    if (!dir)
        GTEST_SKIP() << "no disk here hands a freed inode number out again";
    const fs::path file = dir->write("searched/file", "the item");
    const QByteArray bookmark = withFolders(file);
    const quint64 inode = statPath(dir->path() / "searched", false)->inode;
    fs::remove_all(dir->path() / "searched");
    const auto newcomer = takeInode(*dir, inode, true);
    if (!newcomer)
        GTEST_SKIP() << "the freed inode went to no newcomer";
    dir->write(fs::relative(*newcomer / "file", dir->path()), "the item");
    EXPECT_FALSE(resolvedPath(bookmark));
}

// Many bookmarks of items of one folder, resolved by one resolver: each
// walks the way its own record of the folders above (and its own disk)
// gives, whatever another of that folder found before or after it.
TEST(Bookmark, ABatchFollowsEachItemsOwnRecordOfTheFoldersAbove)
{
    kztest::TempDir d;
    const QByteArray kept = withFolders(d.write("top/searched/one", "x"));
    const QVariantMap other = PropertyList::fromData(withFolders(d.write("top/searched/two", "y")))->toMap();
    const auto changed = [&other](const QString& key, const QVariant& value) {
        QVariantMap map = other;
        map.insert(key, value);
        BinaryPropertyListWriter writer;
        return writer.finish(writer.value(map));
    };
    ASSERT_GE(other.value(QStringLiteral("folders")).toByteArray().size(), 10);
    const std::vector<QByteArray> strangers{
        changed(QStringLiteral("folders"), QByteArray("\x01" "\x00\x00\x00\x00\x00\x00\x00\x07\x00", 10)),
        changed(QStringLiteral("fileSystem"), other.value(QStringLiteral("fileSystem")).toULongLong() + 1)};
    fs::rename(d / "top/searched", d / "top/renamed");
    for (const QByteArray& stranger : strangers) {
        for (const bool strangerFirst : {true, false}) {
            BookmarkResolver resolver;
            if (strangerFirst) {
                EXPECT_FALSE(resolver.resolve(stranger));
            }
            const auto found = resolver.resolve(kept);
            ASSERT_TRUE(found);
            EXPECT_EQ(found->path, d / "top/renamed/one");
            if (!strangerFirst) {
                EXPECT_FALSE(resolver.resolve(stranger));
            }
        }
    }
}

// The disk back under another device number, through another mount: a
// renamed folder above the item is followed there as on the number it had.
TEST(Bookmark, AFolderAboveRenamedIsFollowedOnADiskBackUnderAnotherNumber)
{
    kztest::TempDir d;
    QVariantMap map = PropertyList::fromData(withFolders(d.write("top/searched/file", "x")))->toMap();
    if (!map.contains(QStringLiteral("fileSystem")))
        GTEST_SKIP() << "the disk here tells no identity of its own";
    for (const char* key : {"device", "mount"})
        if (map.contains(QString::fromLatin1(key)))
            map.insert(QString::fromLatin1(key), map.value(QString::fromLatin1(key)).toULongLong() + 1);
    BinaryPropertyListWriter writer;
    const QByteArray renumbered = writer.finish(writer.value(map));
    fs::rename(d / "top/searched", d / "top/renamed");
    const auto found = resolvedBoth(renumbered);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->path, d / "top/renamed/file");
}
