#include "../model/ModelTestSupport.h"
#include "media/KZExifImage.h"
#include "result/model/KZFoundImage.h"
#include "result/model/KZFoundSong.h"
#include "result/model/KZLibraryLookups.h"
#include "result/window/KZFoundItemPreviewFacts.h"
#include "result/window/KZPreviewItem.h"
#include "services/KZNumberUtilities.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fstream>

using namespace modeltest;
using namespace Qt::StringLiterals;

namespace {

class ScriptedExif : public KZExifImage {
public:
    std::optional<KZEXIFStruct> exifInfoWithURL(const std::filesystem::path&, quint16) const override
    {
        return answer;
    }
    std::optional<KZEXIFStruct> answer;
};

// Remembers a decoded size as the built-in facts do.
class SizeMemo : public KZPreviewFacts {
public:
    KZPreviewImageFacts imageFacts(const KZFoundItemRef&) const override
    {
        KZPreviewImageFacts facts;
        facts.width = quint32(noted.width());
        facts.height = quint32(noted.height());
        return facts;
    }
    void notePixelSize(const KZFoundItemRef&, QSize size) override { noted = size; }
    QSize noted{0, 0};
};

class FoundItemPreviewFacts : public ::testing::Test {
protected:
    void SetUp() override
    {
        auto exif = std::make_unique<ScriptedExif>();
        exif_ = exif.get();
        KZExifImage::setSharedControl(std::move(exif));
        KZPreviewFacts::setShared(&facts_);
    }
    void TearDown() override
    {
        KZPreviewFacts::setShared(nullptr);
        KZExifImage::setSharedControl(nullptr);
        KZLibraryLookups::install({});
    }

    // The reader is scripted; the file only has to be there.
    std::filesystem::path file(const char* name) const
    {
        const std::filesystem::path path = std::filesystem::path(dir_.path().toStdString()) / name;
        std::ofstream(path) << "x";
        return path;
    }

    QTemporaryDir dir_;
    ScriptedExif* exif_ = nullptr;
    SizeMemo memo_;
    KZFoundItemPreviewFacts facts_{memo_};
};

} // namespace

TEST_F(FoundItemPreviewFacts, PictureCardShowsItsMetadataAndOnlyThePositionItHas)
{
    KZEXIFStruct exif;
    exif.setCamera(u"Cam 7"_s);
    exif.setDateTakenSecs(600000000);
    exif.setLatitude(52.5);
    exif.setLatitudeRef(u"N"_s);
    exif.setWidth(40);
    exif.setHeight(30);
    exif_->answer = exif;
    const KZFoundItemRef item = KZFoundImage::itemWithTreeNode(*makeNode({.path = file("photo.jpg")}));
    KZPreviewItem card(item);
    EXPECT_EQ(card.camera(), u"Cam 7"_s);
    EXPECT_EQ(card.latitude(), KZNumberUtilities::mpsFromDegrees(52.5, u"N"_s));
    EXPECT_EQ(card.dateTaken(), std::dynamic_pointer_cast<KZFoundImage>(item)->formattedDateTaken());
    EXPECT_FALSE(card.dateTaken().isEmpty());
    EXPECT_EQ(card.width(), 40u);
    // No longitude in the file: unknown, not zero degrees.
    EXPECT_EQ(facts_.imageFacts(item).longitude, QString());

    // A picture whose metadata has no size keeps the size a preview decoded.
    exif_->answer = KZEXIFStruct();
    const KZFoundItemRef bare = KZFoundImage::itemWithTreeNode(*makeNode({.path = file("bare.png")}));
    facts_.notePixelSize(bare, QSize(8, 6));
    EXPECT_EQ(facts_.imageFacts(bare).width, 8u);
    EXPECT_EQ(facts_.imageFacts(bare).height, 6u);
    EXPECT_EQ(facts_.imageFacts(bare).camera, QString());
}

TEST_F(FoundItemPreviewFacts, SongCardShowsTheLibraryTagsAndNoMadeUpRate)
{
    KZLibraryLookups lookups;
    lookups.songMetadataWithTrackID = [](const QString&) -> std::optional<KZSongInfo> {
        KZSongInfo info;
        info.setSongName(u"Song"_s);
        info.setArtist(u"Artist"_s);
        info.setAlbum(u"Album"_s);
        info.setDuration(200);
        return info;
    };
    KZLibraryLookups::install(lookups);
    const KZFoundItemRef item
        = KZFoundSong::itemWithTreeNode(*makeNode({.path = "/made/up/track.mp3", .owner = KZAppSuppInfo::ITunes}));
    const KZPreviewSongFacts song = facts_.songFacts(item);
    EXPECT_EQ(song.songName, u"Song"_s);
    EXPECT_EQ(song.artist, u"Artist"_s);
    EXPECT_EQ(song.album, u"Album"_s);
    EXPECT_EQ(song.time, KZNumberUtilities::secondsToFormatString(200));
    EXPECT_EQ(song.bitRate, QString()); // the library gave none
    // Neither kind answers for the other.
    EXPECT_EQ(facts_.imageFacts(item).camera, QString());
    EXPECT_EQ(facts_.songFacts(KZFoundImage::itemWithTreeNode(*makeNode({.path = "/made/up/a.jpg"}))).songName,
              QString());
}
