#include "media/KZPhotosSupport.h"

#include "platform/StringTable.h"
#include "services/KZErrorDelegate.h"
#include "support/LibraryFixtures.h"
#include "support/ScriptedPresenter.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <map>
#include <thread>

namespace fs = std::filesystem;
using kztest::PhotosLibraryBuilder;

namespace {

QString str(const char* text)
{
    return QString::fromUtf8(text);
}

class PhotosSupportTest : public ::testing::Test {
protected:
    void SetUp() override { KZErrorDelegate::sharedControl().setPresenter(presenter); }
    void TearDown() override { KZErrorDelegate::sharedControl().setPresenter(nullptr); }

    std::vector<QString> uuidsOf(const KZPhotosAlbum& album) const
    {
        std::vector<QString> uuids;
        for (const KZPhotosImage& image : album.children)
            uuids.push_back(image.uuid);
        return uuids;
    }
    std::vector<QString> namesOf(const std::vector<KZPhotosAlbum>& albums) const
    {
        std::vector<QString> names;
        for (const KZPhotosAlbum& album : albums)
            names.push_back(album.name);
        return names;
    }

    const KZPhotosSupport& photos = KZPhotosSupport::sharedControl();
    std::shared_ptr<kztest::ScriptedPresenter> presenter = std::make_shared<kztest::ScriptedPresenter>();
    kztest::TempDir dir;
};

} // namespace

TEST_F(PhotosSupportTest, AlbumsTrashAndContainers)
{
    PhotosLibraryBuilder builder(dir / "Family.photoslibrary");
    builder.album(str("A-beach"), str("beach"))
        .album(str("A-Zoo"), str("Zoo"))
        .album(str("a-apples"), str("Apples"))
        .album(str("A-folder"), str("Folder of albums"), 0) // not an album of images
        .album(str("A-noname"), str(""))
        .image(str("v1"), "2019/beach1.jpg", str("A-BEACH")) // container uuids match case-insensitively
        .image(str("v2"), "2019/zoo.jpg", str("A-Zoo"))
        .image(str("v3"), "2019/apple.jpg", str("a-apples"))
        .image(str("v4"), "2019/beach2.jpg", str("A-beach"))
        .image(str("v5"), "2019/in-folder.jpg", str("A-folder"))
        .image(str("v6"), "2019/in-noname.jpg", str("A-noname"))
        // In two containers: the uuid that sorts first wins, even when it is
        // no listed album.
        .image(str("v7"), "2019/two.jpg", str("a-apples"))
        .sortOrder(str("A-Zoo"), str("v7"))
        .image(str("v8"), "2019/two-b.jpg", str("0-unknown"))
        .sortOrder(str("A-beach"), str("v8"))
        // Trash: the master, or its version.
        .master(str("m-t1"), str("t1.jpg"), true)
        .version(str("t1"), str("m-t1"))
        .master(str("m-t2"), str("t2.jpg"))
        .version(str("t2"), str("m-t2"), true)
        // Two versions of one master: the first row is the one used.
        .master(str("m-dup"), str("dup.jpg"))
        .version(str("first"), str("m-dup"))
        .version(str("second"), str("m-dup"))
        .sortOrder(str("A-Zoo"), str("first"))
        .sortOrder(str("A-Zoo"), str("second"));
    const fs::path library = builder.build();

    int count = -1;
    const std::vector<KZPhotosAlbum> albums = photos.photosAlbumsWithPath(library, &count);
    EXPECT_EQ(presenter->shown(), 0u);
    EXPECT_EQ(count, 9); // v1..v8 and "first"
    ASSERT_EQ(namesOf(albums), (std::vector<QString>{str("Apples"), str("beach"), str("Zoo")}));
    EXPECT_EQ(uuidsOf(albums[0]), (std::vector<QString>{str("v7"), str("v3")}));
    EXPECT_EQ(uuidsOf(albums[1]), (std::vector<QString>{str("v4"), str("v1")}));
    EXPECT_EQ(uuidsOf(albums[2]), (std::vector<QString>{str("first"), str("v2")}));
    EXPECT_EQ(albums[1].uuid, str("A-beach"));

    // The flat list: every image of every album, in album order, by its
    // absolute path below Masters.
    const std::vector<KZPhotosImageEntry> entries = photos.photosDataWithPath(library);
    ASSERT_EQ(entries.size(), 6u);
    EXPECT_EQ(entries[0].uuid, str("v7"));
    EXPECT_EQ(entries[0].imagePath, library / "Masters/2019/two.jpg");
    EXPECT_TRUE(fs::exists(entries[0].imagePath));

    const auto withChildren = photos.albumsWithChildWithPath(library);
    ASSERT_EQ(withChildren.size(), 3u);
    EXPECT_EQ(withChildren[2].first, str("Zoo"));
    EXPECT_EQ(withChildren[2].second, (QStringList{str("first"), str("v2")}));

    const KZPhotosLibraryPositions positions = photos.libraryPositionsWithPath(library);
    const QString libraryText = platform::localizedString(str("Photos_library"));
    EXPECT_EQ(positions.positionWithImageUUID(str("v3")), libraryText + str(" -> Apples"));
    EXPECT_EQ(positions.positionWithImageUUID(str("V3")), libraryText + str(" -> Apples"));
    EXPECT_EQ(positions.positionWithImageUUID(str("v5")), libraryText); // in no listed album
    EXPECT_EQ(positions.positionWithImagePath(library / "Masters/2019/zoo.jpg"), libraryText + str(" -> Zoo"));
    EXPECT_EQ(positions.positionWithImagePath(library / "Masters/2019/./beach1.jpg"), libraryText + str(" -> beach"));
    EXPECT_EQ(presenter->shown(), 0u);
}

TEST_F(PhotosSupportTest, UnfiledImagesAndHostilePaths)
{
    // No albums and no sort orders at all: empty tables, not a failure.
    PhotosLibraryBuilder builder(dir / "Unfiled.photoslibrary");
    builder.image(str("u1"), "a.jpg")
        .image(str("u2"), "sub/b.jpg")
        .image(str("u3"), "name..with..dots.jpg")
        .master(str("m-h1"), str(""))
        .version(str("h1"), str("m-h1"))
        .master(str("m-h2"), str("/etc/passwd"))
        .version(str("h2"), str("m-h2"))
        .master(str("m-h3"), str("../../outside.jpg"))
        .version(str("h3"), str("m-h3"))
        .master(str("m-h4"), str("sub/../../../outside.jpg"))
        .version(str("h4"), str("m-h4"));
    const fs::path library = builder.build();

    int count = -1;
    const std::vector<KZPhotosAlbum> albums = photos.photosAlbumsWithPath(library, &count);
    EXPECT_EQ(count, 3);
    ASSERT_EQ(albums.size(), 1u);
    EXPECT_EQ(albums[0].uuid, str("ImagesWithoutAlbum"));
    EXPECT_EQ(albums[0].name, platform::localizedString(str("main_photos_album")));
    EXPECT_EQ(uuidsOf(albums[0]), (std::vector<QString>{str("u1"), str("u2"), str("u3")}));
    EXPECT_EQ(presenter->shown(), 0u);

    const fs::path masters = library / "Masters";
    for (const KZPhotosImageEntry& entry : photos.photosDataWithPath(library)) {
        const std::string path = entry.imagePath.native();
        EXPECT_EQ(path.rfind(masters.native() + "/", 0), 0u) << path;
        EXPECT_TRUE(fs::exists(entry.imagePath)) << path;
    }
    EXPECT_EQ(photos.libraryPositionsWithPath(library).positionWithImageUUID(str("u2")),
              platform::localizedString(str("Photos_library")) + str(" -> ")
                  + platform::localizedString(str("main_photos_album")));
}

// A folder inside Masters that is a link out of the package must not let a
// row pass a file elsewhere off as the library's copy; links that stay inside,
// and a library reached through a link of its own, are the library's.
TEST_F(PhotosSupportTest, ImagesWhoseFolderLeadsOutOfThePackageAreLeftOut)
{
    PhotosLibraryBuilder builder(dir / "Linked.photoslibrary");
    builder.image(str("u1"), "a.jpg").image(str("u2"), "out/x.jpg").image(str("u3"), "in/y.jpg").image(str("u4"),
                                                                                                     "deep/z.jpg");
    const fs::path library = builder.build();
    const fs::path masters = library / "Masters";
    dir.write("elsewhere/x.jpg", "not the library's");
    fs::remove_all(masters / "out");
    fs::create_directory_symlink(dir / "elsewhere", masters / "out");
    dir.write("Linked.photoslibrary/Masters/real/y.jpg", "inside");
    fs::remove_all(masters / "in");
    fs::create_directory_symlink("real", masters / "in");
    fs::create_directory(dir / "elsewhere/sub");
    fs::remove_all(masters / "deep");
    fs::create_directory_symlink(dir / "elsewhere/sub", masters / "deep"); // a link out, one level down

    const auto uuids = [&](const fs::path& at) {
        std::vector<QString> found;
        for (const KZPhotosImageEntry& entry : photos.photosDataWithPath(at))
            found.push_back(entry.uuid);
        std::sort(found.begin(), found.end());
        return found;
    };
    EXPECT_EQ(uuids(library), (std::vector<QString>{str("u1"), str("u3")}));
    fs::create_directory_symlink(library, dir / "Shortcut.photoslibrary");
    EXPECT_EQ(uuids(dir / "Shortcut.photoslibrary"), (std::vector<QString>{str("u1"), str("u3")}));

    // Masters itself a link out: nothing of it is the library's.
    const fs::path outside = dir.mkdir("Outside Masters");
    fs::rename(masters, outside / "Masters");
    fs::create_directory_symlink(outside / "Masters", masters);
    EXPECT_TRUE(uuids(library).empty());
}

// Thousands of images in a few folders: each folder is resolved once, and
// every image keeps the answer of its own folder, in album order.
TEST_F(PhotosSupportTest, EachFolderIsResolvedOnceForAllItsImages)
{
    const fs::path library("/library.photoslibrary");
    const fs::path masters = library / "Masters";
    std::vector<KZPhotosAlbum> albums(2);
    for (int i = 0; i < 3000; ++i) {
        const char* folder = i % 3 == 0 ? "2020/a" : i % 3 == 1 ? "2021" : "out";
        albums[size_t(i % 2)].children.push_back(
            {QString::number(i), QStringLiteral("%1/%2.jpg").arg(QLatin1String(folder)).arg(i), std::nullopt});
    }
    std::map<std::string, int> resolved;
    const auto resolve = [&](const fs::path& folder) {
        ++resolved[folder.native()];
        return folder.filename() == "out" ? fs::path("/elsewhere") : folder;
    };
    const std::vector<KZPhotosImageEntry> entries =
        KZPhotosSupport::entriesInsideLibrary(albums, masters, library, resolve);

    EXPECT_EQ(resolved, (std::map<std::string, int>{{(masters / "2020/a").native(), 1},
                                                      {(masters / "2021").native(), 1},
                                                      {(masters / "out").native(), 1}}));
    ASSERT_EQ(entries.size(), 2000u);
    EXPECT_EQ(entries.front().uuid, QStringLiteral("0"));
    EXPECT_EQ(entries.front().imagePath, masters / "2020/a/0.jpg");
    EXPECT_EQ(entries[1].uuid, QStringLiteral("4")); // 2 lies out; the first album holds the even ones
    EXPECT_EQ(entries.back().imagePath, masters / "2020/a/2997.jpg"); // 2999 lies out
    for (const KZPhotosImageEntry& entry : entries)
        EXPECT_NE(entry.imagePath.parent_path().filename(), "out") << entry.imagePath;

    // A path holding a NUL names, where the system reads it, another file.
    std::vector<KZPhotosAlbum> withNul(1);
    withNul[0].children.push_back({QStringLiteral("nul"), QStringLiteral("2021/a.jpg") + QChar(u'\0') + u"x.jpg",
                                   std::nullopt});
    withNul[0].children.push_back({QStringLiteral("kept"), QStringLiteral("2021/a.jpg"), std::nullopt});
    const auto kept = KZPhotosSupport::entriesInsideLibrary(withNul, masters, library, resolve);
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept.front().uuid, QStringLiteral("kept"));
}

TEST_F(PhotosSupportTest, UnreadableLibrariesAnswerNothingAndSaySo)
{
    const fs::path broken = PhotosLibraryBuilder(dir / "NoAlbums.photoslibrary")
                                .image(str("x"), "x.jpg")
                                .withoutTable("RKAlbum")
                                .build();
    const fs::path garbage = dir.mkdir("Garbage.photoslibrary");
    dir.write("Garbage.photoslibrary/database/Photos.db", std::string(4096, 'x'));
    const fs::path trashed = PhotosLibraryBuilder(dir / "Trashed.photoslibrary")
                                 .master(str("m"), str("m.jpg"), true)
                                 .version(str("v"), str("m"))
                                 .build();
    const fs::path paths[] = {dir / "Missing.photoslibrary", dir.mkdir("Empty.photoslibrary"), broken, garbage,
                              trashed};
    const auto errorText = [](const char* key) { return platform::localizedString(str(key), str("Errors")); };
    std::size_t alerts = 0;
    for (const fs::path& library : paths) {
        SCOPED_TRACE(library.native());
        int count = -1;
        EXPECT_TRUE(photos.photosAlbumsWithPath(library, &count).empty());
        EXPECT_EQ(count, 0);
        ASSERT_EQ(presenter->shown(), ++alerts);
        const KZAlertPresenter::Alert& alert = presenter->calls.back().alert;
        // Only a library that was read may be said to hold no duplicates;
        // one that could not be read says so, with the reason.
        if (library == trashed) {
            EXPECT_EQ(alert.messageText, errorText("photos_database_not_found"));
            EXPECT_EQ(alert.informativeText, errorText("no_items_found_photos_mess"));
            continue;
        }
        EXPECT_EQ(alert.informativeText, errorText("photos_library_not_searched_mess"));
        EXPECT_NE(alert.messageText, errorText("photos_database_not_found"));
        if (library == paths[0]) {
            EXPECT_TRUE(alert.messageText.contains(str("Missing.photoslibrary"))) << alert.messageText.toStdString();
        } else {
            EXPECT_TRUE(alert.messageText.startsWith(str("The photo library could not be read: ")))
                << alert.messageText.toStdString();
        }
    }
    EXPECT_FALSE(fs::exists(dir / "Missing.photoslibrary"));
    EXPECT_TRUE(fs::is_empty(dir / "Empty.photoslibrary"));
    EXPECT_TRUE(photos.photosDataWithPath({}).empty());
}

TEST_F(PhotosSupportTest, ParallelReadersAgree)
{
    PhotosLibraryBuilder builder(dir / "Big.photoslibrary");
    builder.album(str("A"), str("One")).album(str("B"), str("Two"));
    for (int i = 0; i < 300; ++i)
        builder.image(QStringLiteral("v%1").arg(i), "img" + std::to_string(i) + ".jpg",
                      i % 3 == 0 ? std::nullopt : std::optional<QString>(i % 3 == 1 ? str("A") : str("B")));
    const fs::path library = builder.build();
    const auto expected = photos.photosDataWithPath(library);
    ASSERT_EQ(expected.size(), 300u);
    std::atomic<int> same{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&] {
            const auto entries = photos.photosDataWithPath(library);
            if (entries.size() == expected.size()
                && std::equal(entries.begin(), entries.end(), expected.begin(), [](const auto& a, const auto& b) {
                       return a.uuid == b.uuid && a.imagePath == b.imagePath;
                   }))
                ++same;
        });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(same.load(), 8);
}
