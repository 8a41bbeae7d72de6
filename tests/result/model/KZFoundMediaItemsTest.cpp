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
// concurrent first requests really meet. The image reader can be told what
// to answer.
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
        return answer ? answer : KZExifImage::exifInfoWithURL(url, options);
    }
    mutable std::atomic<int> reads{0};
    std::optional<KZEXIFStruct> answer;
};

KZEXIFStruct exifOf(quint64 width, quint64 height)
{
    KZEXIFStruct exif;
    exif.setWidth(width);
    exif.setHeight(height);
    return exif;
}

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

    template <typename Item>
    std::shared_ptr<Item> make(const ItemShape& shape)
    {
        return std::dynamic_pointer_cast<Item>(Item::itemWithTreeNode(*makeNode(shape)));
    }

    kztest::TempDir dir_;
    CountingSongReader* songs_ = nullptr;
    ScriptedExifReader* images_ = nullptr;
};

} // namespace

TEST_F(FoundMediaItems, ModelMakesSongsBeforeImages)
{
    const KZFoundItemsCntrl model(nullptr, {});
    const auto kindOf = [&](const ItemShape& shape) {
        const KZFoundItemRef item = model.makeItem(*makeNode(shape));
        return dynamic_cast<KZFoundSong*>(item.get()) ? 's' : dynamic_cast<KZFoundImage*>(item.get()) ? 'i' : '-';
    };
    EXPECT_EQ(kindOf({.path = dir_ / "tune.wav"}), 's');
    EXPECT_EQ(kindOf({.path = dir_ / "photo.jpg"}), 'i');
    // A sound by its type code wins over an image by its extension.
    EXPECT_EQ(kindOf({.path = dir_ / "cover.jpg", .osType = platform::osTypeFromString(u"MPG3")}), 's');
    EXPECT_EQ(kindOf({.path = dir_ / "notes.txt"}), '-');
}

TEST_F(FoundMediaItems, SongTagsAreReadOnceWhateverTheOutcome)
{
    const fs::path tagged = kztest::writeWav(dir_ / "tagged.wav", {.seconds = 75.5});
    ASSERT_TRUE(kztest::tagWav(tagged, {.title = QStringLiteral("Song"), .date = QStringLiteral("2019")}));
    const auto item = make<KZFoundSong>({.path = tagged});
    EXPECT_EQ(item->songName(), QStringLiteral("Song"));
    EXPECT_EQ(item->year(), QStringLiteral("2019"));
    EXPECT_EQ(item->album(), QStringLiteral("")); // absent: empty, and not asked for again
    EXPECT_EQ(item->formattedTime(), QStringLiteral("01:15"));
    EXPECT_EQ(item->formattedBitRate(), QStringLiteral("64 kbps"));
    EXPECT_EQ(songs_->reads.load(), 1);

    // Untagged: the artist and then the album make one read.
    const auto untagged = make<KZFoundSong>({.path = kztest::writeWav(dir_ / "plain.wav", {.seconds = 0.2})});
    EXPECT_EQ(untagged->artist() + untagged->album(), QStringLiteral(""));
    EXPECT_EQ(untagged->duration(), 0);
    EXPECT_EQ(songs_->reads.load(), 2);
    // Gone: nothing to read, and no second try.
    const auto gone = make<KZFoundSong>({});
    EXPECT_EQ(gone->songName(), QStringLiteral(""));
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

    const auto inLibrary = make<KZFoundSong>({.path = file, .owner = KZAppSuppInfo::ITunes});
    EXPECT_EQ(inLibrary->songName(), QStringLiteral("From library"));
    EXPECT_EQ(inLibrary->duration(), 200);
    EXPECT_EQ(songs_->reads.load(), 0);
    known = false; // the track left the library since the search
    const auto leftLibrary = make<KZFoundSong>({.path = file, .owner = KZAppSuppInfo::ITunes});
    EXPECT_EQ(leftLibrary->songName(), QStringLiteral("From file"));
    EXPECT_EQ(leftLibrary->duration(), 3);
}

TEST_F(FoundMediaItems, EightThreadsOnOneItemMakeOneRead)
{
    const fs::path file = kztest::writeWav(dir_ / "shared.wav", {.seconds = 2});
    ASSERT_TRUE(kztest::tagWav(file, {.title = QStringLiteral("T")}));
    const fs::path picture = kztest::writeImage(dir_ / "shared.jpg", 30, 20);
    ASSERT_TRUE(kztest::setImageMetadata(picture, {{"Exif.Image.Model", "Cam"}, {"Exif.Image.Orientation", "6"}}));
    const auto song = make<KZFoundSong>({.path = file});
    const auto image = make<KZFoundImage>({.path = picture});
    std::atomic<int> wrong{0};
    std::atomic<int> turn{0};
    onThreads(8, [&] {
        // Each thread starts with a different getter.
        const int first = turn++;
        for (int i = first; i < first + 8; ++i) {
            switch (i % 6) {
            case 0: wrong += song->songName() != QStringLiteral("T"); break;
            case 1: wrong += song->duration() != 2; break;
            case 2: wrong += song->genre() != QStringLiteral(""); break;
            case 3: wrong += image->formattedImageSize() != QStringLiteral("20 x 30"); break;
            case 4: wrong += image->camera() != QStringLiteral("Cam"); break;
            default: wrong += image->width() != 20; break;
            }
        }
    });
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(songs_->reads.load(), 1);
    EXPECT_EQ(images_->reads.load(), 1);
}

TEST_F(FoundMediaItems, ImageValuesAndTheirTexts)
{
    const fs::path picture = kztest::writeImage(dir_ / "photo.jpg", 40, 30);
    ASSERT_TRUE(kztest::setImageMetadata(picture, {{"Exif.Photo.DateTimeOriginal", "2019:05:03 12:34:56"},
                                                   {"Exif.GPSInfo.GPSLatitude", "52/1 30/1 0/1"},
                                                   {"Exif.GPSInfo.GPSLatitudeRef", "N"}}));
    const auto item = make<KZFoundImage>({.path = picture});
    // The first request of a position text reads degrees and reference together.
    EXPECT_EQ(item->formattedLatitude(), KZNumberUtilities::mpsFromDegrees(52.5, QStringLiteral("N")));
    EXPECT_EQ(item->formattedImageSize(), QStringLiteral("40 x 30"));
    EXPECT_EQ(item->cfDateTaken(), QVariant(item->dateTaken()));
    EXPECT_FALSE(item->formattedDateTaken().isEmpty());
    EXPECT_EQ(item->longitudeRef() + item->formattedLongitude() + item->camera(), QStringLiteral(""));
    EXPECT_EQ(images_->reads.load(), 1);

    // Sizes above 32767 print whole; a size missing one side prints nothing.
    images_->answer = exifOf(40000, 300);
    EXPECT_EQ(make<KZFoundImage>({.path = picture})->formattedImageSize(), QStringLiteral("40000 x 300"));
    images_->answer = exifOf(0, 600);
    EXPECT_EQ(make<KZFoundImage>({.path = picture})->formattedImageSize(), QStringLiteral(""));

    // A file that gives no size is read again on the next request.
    images_->answer.reset();
    const auto text = make<KZFoundImage>({.path = dir_.write("text.jpg", "not a picture")});
    const int before = images_->reads.load();
    EXPECT_EQ(text->width() + text->height(), 0u);
    EXPECT_EQ(images_->reads.load(), before + 2);
    EXPECT_FALSE(text->cfDateTaken().isValid());
    EXPECT_FALSE(text->modelIsAlreadyTaken());

    // A record without a position keeps the stored one.
    KZEXIFStruct north = exifOf(10, 10);
    north.setLatitude(12.5);
    text->setExifVariables(north);
    text->setExifVariables(exifOf(20, 10));
    EXPECT_EQ(text->latitude(), 12.5);
    EXPECT_EQ(text->width(), 20u);
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
    model->doGetSupportedAppsPath(both); // no readers: nothing known, nothing breaks

    QStringList asked;
    KZLibraryLookups lookups;
    lookups.songPositions = [&](const QStringList& ids) {
        asked += ids;
        return QHash<QString, QString>{{QStringLiteral("id"), QStringLiteral("Music -> Album")}};
    };
    lookups.photoPositions = [&](const QStringList& ids, const QString& library) {
        asked += ids;
        asked += library;
        return QHash<QString, QString>{{QStringLiteral("id"), QStringLiteral("Photos -> Trip")}};
    };
    KZLibraryLookups::install(lookups);
    model->doGetSupportedAppsPath({}); // a search of neither library asks neither
    model->doGetSupportedAppsPath(both);
    // The text file is no song, the plain song no library track.
    EXPECT_EQ(asked, (QStringList{QStringLiteral("id"), QStringLiteral("id"), QStringLiteral("/lib")}));
    EXPECT_EQ(items[0]->pathToDisplayInCell(), QStringLiteral("Music -> Album"));
    EXPECT_EQ(items[2]->pathToDisplayInCell(), QStringLiteral("Photos -> Trip"));
    EXPECT_TRUE(items[1]->supportAppPath().isEmpty() && items[3]->supportAppPath().isEmpty());
}
