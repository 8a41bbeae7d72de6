#include "ModelTestSupport.h"

#include "MediaFileFixtures.h"
#include "TestSupport.h"
#include "engine/KZResultInfoKeys.h"
#include "media/KZExifImage.h"
#include "media/KZSongTagCntrl.h"
#include "platform/FinderInfo.h"
#include "result/model/KZFoundImage.h"
#include "result/model/KZFoundSong.h"
#include "result/model/KZLibraryLookups.h"
#include "services/KZNumberUtilities.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace modeltest;
namespace fs = std::filesystem;

namespace {

// Readers that count their reads and take a moment over each, so that
// concurrent first requests really meet.
class CountingSongReader : public KZSongTagCntrl {
public:
    KZSongInfo songMetatadaWithURL(const fs::path& url, const QString& extension, bool isDuration) const override
    {
        ++reads;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return KZSongTagCntrl::songMetatadaWithURL(url, extension, isDuration);
    }
    mutable std::atomic<int> reads{0};
};

class ScriptedExifReader : public KZExifImage {
public:
    std::optional<KZEXIFStruct> exifInfoWithURL(const fs::path& url, quint16 options) const override
    {
        ++reads;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (answer)
            return answer;
        return KZExifImage::exifInfoWithURL(url, options);
    }
    mutable std::atomic<int> reads{0};
    std::optional<KZEXIFStruct> answer;
};

class FoundMediaItems : public ::testing::Test {
protected:
    void SetUp() override
    {
        auto songs = std::make_unique<CountingSongReader>();
        songs_ = songs.get();
        KZSongTagCntrl::setSharedControl(std::move(songs));
        auto images = std::make_unique<ScriptedExifReader>();
        images_ = images.get();
        KZExifImage::setSharedControl(std::move(images));
    }
    void TearDown() override
    {
        KZSongTagCntrl::setSharedControl(nullptr);
        KZExifImage::setSharedControl(nullptr);
        KZLibraryLookups::install({});
    }

    std::shared_ptr<KZFoundSong> song(const ItemShape& shape)
    {
        auto item = std::dynamic_pointer_cast<KZFoundSong>(KZFoundSong::itemWithTreeNode(*makeNode(shape)));
        EXPECT_TRUE(item);
        return item;
    }
    std::shared_ptr<KZFoundImage> image(const ItemShape& shape)
    {
        auto item = std::dynamic_pointer_cast<KZFoundImage>(KZFoundImage::itemWithTreeNode(*makeNode(shape)));
        EXPECT_TRUE(item);
        return item;
    }

    kztest::TempDir dir_;
    CountingSongReader* songs_ = nullptr;
    ScriptedExifReader* images_ = nullptr;
};

KZEXIFStruct exifOf(quint64 width, quint64 height)
{
    KZEXIFStruct exif;
    exif.setWidth(width);
    exif.setHeight(height);
    return exif;
}

} // namespace

TEST_F(FoundMediaItems, ModelMakesSongsBeforeImages)
{
    const KZFoundItemsCntrl model(nullptr, {});
    struct Case {
        ItemShape shape;
        bool song, image;
    };
    const Case cases[] = {
        {{.path = dir_ / "tune.wav"}, true, false},
        {{.path = dir_ / "photo.jpg"}, false, true},
        // A sound by its type code wins over an image by its extension.
        {{.path = dir_ / "cover.jpg", .osType = platform::osTypeFromString(u"MPG3")}, true, false},
        {{.path = dir_ / "notes.txt"}, false, false},
    };
    for (const Case& c : cases) {
        const KZFoundItemRef item = model.makeItem(*makeNode(c.shape));
        EXPECT_EQ(dynamic_cast<KZFoundSong*>(item.get()) != nullptr, c.song) << c.shape.path;
        EXPECT_EQ(dynamic_cast<KZFoundImage*>(item.get()) != nullptr, c.image) << c.shape.path;
    }
}

TEST_F(FoundMediaItems, SongTagsAreReadOnceWhateverTheOutcome)
{
    const fs::path tagged = kztest::writeWav(dir_ / "tagged.wav", {.seconds = 75.5});
    ASSERT_TRUE(kztest::tagWav(tagged, {.title = QStringLiteral("Song"), .artist = QStringLiteral("Band"),
                                        .date = QStringLiteral("2019")}));
    const auto item = song({.path = tagged});
    EXPECT_FALSE(item->tagAlreadyTaken());
    EXPECT_EQ(item->songName(), QStringLiteral("Song"));
    EXPECT_EQ(item->artist(), QStringLiteral("Band"));
    EXPECT_EQ(item->year(), QStringLiteral("2019"));
    EXPECT_EQ(item->album(), QStringLiteral("")); // absent: empty, not asked again
    EXPECT_EQ(item->duration(), 75);
    EXPECT_EQ(item->formattedTime(), QStringLiteral("01:15"));
    EXPECT_EQ(item->formattedBitRate(), QStringLiteral("64 kbps"));
    EXPECT_EQ(item->cfBitRate(), QVariant::fromValue<quint32>(64));
    EXPECT_EQ(songs_->reads.load(), 1);

    // Untagged and gone: every value empty or 0, and still one read each.
    const auto untagged = song({.path = kztest::writeWav(dir_ / "plain.wav", {.seconds = 0.2})});
    EXPECT_EQ(untagged->artist(), QStringLiteral(""));
    EXPECT_EQ(untagged->album(), QStringLiteral(""));
    EXPECT_EQ(untagged->duration(), 0);
    EXPECT_EQ(untagged->bitRate(), 64u);
    EXPECT_EQ(songs_->reads.load(), 2);
    const auto gone = song({});
    EXPECT_EQ(gone->songName(), QStringLiteral(""));
    EXPECT_EQ(gone->duration(), 0);
    EXPECT_EQ(gone->bitRate(), 0u);
    EXPECT_TRUE(gone->tagAlreadyTaken());
    EXPECT_EQ(songs_->reads.load(), 2);
}

TEST_F(FoundMediaItems, LibrarySongsAskTheLibraryFirstAndFallBackToTheFile)
{
    const fs::path file = kztest::writeWav(dir_ / "track.wav", {.seconds = 3});
    ASSERT_TRUE(kztest::tagWav(file, {.title = QStringLiteral("From file")}));
    std::atomic<bool> known{true};
    KZLibraryLookups lookups;
    lookups.songMetadataWithTrackID = [&](const QString& trackID) -> std::optional<KZSongInfo> {
        if (!known || trackID != QStringLiteral("id"))
            return std::nullopt;
        KZSongInfo info;
        info.setSongName(QStringLiteral("From library"));
        info.setDuration(200);
        return info;
    };
    KZLibraryLookups::install(lookups);

    const auto inLibrary = song({.path = file, .owner = KZAppSuppInfo::ITunes});
    EXPECT_EQ(inLibrary->songName(), QStringLiteral("From library"));
    EXPECT_EQ(inLibrary->duration(), 200);
    EXPECT_EQ(songs_->reads.load(), 0);

    known = false; // the track left the library since the search
    const auto leftLibrary = song({.path = file, .owner = KZAppSuppInfo::ITunes});
    EXPECT_EQ(leftLibrary->songName(), QStringLiteral("From file"));
    EXPECT_EQ(leftLibrary->duration(), 3);
    EXPECT_EQ(songs_->reads.load(), 1);
}

TEST_F(FoundMediaItems, EightThreadsOnOneItemMakeOneRead)
{
    const fs::path file = kztest::writeWav(dir_ / "shared.wav", {.seconds = 2});
    ASSERT_TRUE(kztest::tagWav(file, {.title = QStringLiteral("T"), .album = QStringLiteral("A")}));
    const auto sharedSong = song({.path = file});
    std::atomic<int> wrong{0};
    std::atomic<int> turn{0};
    onThreads(8, [&] {
        // Each thread starts with a different getter.
        const int first = turn++;
        for (int i = 0; i < 8; ++i) {
            switch ((first + i) % 4) {
            case 0: wrong += sharedSong->songName() != QStringLiteral("T"); break;
            case 1: wrong += sharedSong->album() != QStringLiteral("A"); break;
            case 2: wrong += sharedSong->duration() != 2; break;
            default: wrong += sharedSong->genre() != QStringLiteral(""); break;
            }
        }
    });
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(songs_->reads.load(), 1);

    const fs::path picture = kztest::writeImage(dir_ / "shared.jpg", 30, 20);
    ASSERT_TRUE(kztest::setImageMetadata(picture, {{"Exif.Image.Model", "Cam"}, {"Exif.Image.Orientation", "6"}}));
    const auto sharedImage = image({.path = picture});
    turn = 0;
    onThreads(8, [&] {
        const int first = turn++;
        for (int i = 0; i < 8; ++i) {
            switch ((first + i) % 3) {
            case 0: wrong += sharedImage->formattedImageSize() != QStringLiteral("20 x 30"); break;
            case 1: wrong += sharedImage->camera() != QStringLiteral("Cam"); break;
            default: wrong += sharedImage->width() != 20; break;
            }
        }
    });
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(images_->reads.load(), 1);
    EXPECT_TRUE(sharedImage->modelIsAlreadyTaken());
}

TEST_F(FoundMediaItems, ImageValuesAndTheirTexts)
{
    const fs::path picture = kztest::writeImage(dir_ / "photo.jpg", 40, 30);
    ASSERT_TRUE(kztest::setImageMetadata(picture, {{"Exif.Photo.DateTimeOriginal", "2019:05:03 12:34:56"},
                                                   {"Exif.GPSInfo.GPSLatitude", "52/1 30/1 0/1"},
                                                   {"Exif.GPSInfo.GPSLatitudeRef", "N"}}));
    const auto item = image({.path = picture});
    EXPECT_EQ(item->formattedImageSize(), QStringLiteral("40 x 30"));
    EXPECT_GT(item->dateTaken(), 0);
    EXPECT_EQ(item->cfDateTaken(), QVariant(item->dateTaken()));
    EXPECT_FALSE(item->formattedDateTaken().isEmpty());
    EXPECT_EQ(item->formattedLatitude(), KZNumberUtilities::mpsFromDegrees(52.5, QStringLiteral("N")));
    EXPECT_EQ(item->longitudeRef(), QStringLiteral(""));
    EXPECT_EQ(item->formattedLongitude(), QStringLiteral(""));
    EXPECT_EQ(item->camera(), QStringLiteral(""));
    EXPECT_EQ(images_->reads.load(), 1);

    // Sizes above 32767 print whole; a size missing one side prints nothing.
    images_->answer = exifOf(40000, 300);
    EXPECT_EQ(image({.path = picture})->formattedImageSize(), QStringLiteral("40000 x 300"));
    images_->answer = exifOf(0, 600);
    const auto half = image({.path = picture});
    EXPECT_EQ(half->formattedImageSize(), QStringLiteral(""));

    // Unreadable pictures have no date; a gone file is read again on the
    // next request, as it may come back.
    images_->answer.reset();
    const auto gone = image({});
    EXPECT_EQ(gone->formattedDateTaken(), QStringLiteral(""));
    EXPECT_FALSE(gone->cfDateTaken().isValid());
    const auto text = image({.path = dir_.write("text.jpg", "not a picture")});
    const int before = images_->reads.load();
    EXPECT_EQ(text->width(), 0u);
    EXPECT_EQ(text->height(), 0u);
    EXPECT_EQ(images_->reads.load(), before + 2);
    EXPECT_FALSE(text->modelIsAlreadyTaken());
}

TEST_F(FoundMediaItems, StoredPositionKeepsWhatARecordLacks)
{
    const auto item = image({});
    KZEXIFStruct first = exifOf(10, 10);
    first.setLatitude(12.5);
    first.setLatitudeRef(QStringLiteral("S"));
    first.setCamera(QStringLiteral("Cam"));
    item->setExifVariables(first);
    KZEXIFStruct second = exifOf(20, 10);
    second.setLatitude(0);
    item->setExifVariables(second);
    EXPECT_EQ(item->latitude(), 12.5);
    EXPECT_EQ(item->latitudeRef(), QStringLiteral("S"));
    EXPECT_EQ(item->camera(), QStringLiteral("Cam"));
    EXPECT_EQ(item->width(), 20u);
    EXPECT_EQ(images_->reads.load(), 0);
}

TEST_F(FoundMediaItems, LibraryPositionsComeFromTheInstalledReaders)
{
    const auto model = std::make_shared<KZFoundItemsCntrl>(nullptr, QVariantMap());
    KZFoundItemArray items;
    for (const ItemShape& shape : {ItemShape{.path = dir_ / "a.mp3", .owner = KZAppSuppInfo::ITunes},
                                   ItemShape{.path = dir_ / "b.mp3"},
                                   ItemShape{.path = dir_ / "c.jpg", .owner = KZAppSuppInfo::Photos},
                                   ItemShape{.path = dir_ / "d.txt", .owner = KZAppSuppInfo::ITunes}})
        items.append(model->makeItem(*makeNode(shape)));
    model->setAllItems(items);
    const QVariantMap both{{KZResultKey::searchedIniTunes, true},
                           {KZResultKey::searchedInPhotos, true},
                           {KZResultKey::photosLibraryPath, QStringLiteral("/lib")}};

    // Without readers nothing is known and nothing breaks.
    model->doGetSupportedAppsPath(both);
    for (const KZFoundItemRef& item : items)
        EXPECT_TRUE(item->supportAppPath().isEmpty());

    QStringList askedSongs, askedPhotos;
    QString askedLibrary;
    KZLibraryLookups lookups;
    lookups.songPositions = [&](const QStringList& ids) {
        askedSongs = ids;
        return QHash<QString, QString>{{QStringLiteral("id"), QStringLiteral("Music -> Album")}};
    };
    lookups.photoPositions = [&](const QStringList& ids, const QString& library) {
        askedPhotos = ids;
        askedLibrary = library;
        return QHash<QString, QString>{{QStringLiteral("id"), QStringLiteral("Photos -> Trip")}};
    };
    KZLibraryLookups::install(lookups);
    model->doGetSupportedAppsPath(both);
    EXPECT_EQ(askedSongs, QStringList{QStringLiteral("id")}); // the text file is no song
    EXPECT_EQ(askedPhotos, QStringList{QStringLiteral("id")});
    EXPECT_EQ(askedLibrary, QStringLiteral("/lib"));
    EXPECT_EQ(items[0]->pathToDisplayInCell(), QStringLiteral("Music -> Album"));
    EXPECT_TRUE(items[1]->supportAppPath().isEmpty());
    EXPECT_EQ(items[2]->pathToDisplayInCell(), QStringLiteral("Photos -> Trip"));
    EXPECT_TRUE(items[3]->supportAppPath().isEmpty());

    // A search of neither library asks neither reader.
    askedSongs.clear();
    model->doGetSupportedAppsPath({});
    EXPECT_TRUE(askedSongs.isEmpty());
}
