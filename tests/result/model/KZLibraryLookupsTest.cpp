#include "LibraryFixtures.h"
#include "TestSupport.h"
#include "media/KZiTunesSupport.h"
#include "platform/StringTable.h"
#include "platform/UserDefaults.h"
#include "result/model/KZLibraryLookups.h"
#include "settings/KZDefaultsKeys.h"

#include <QFile>

#include <gtest/gtest.h>

namespace fs = std::filesystem;
using namespace Qt::StringLiterals;

// The lookups the program installs answer from the music library export and
// the photo library database, and say nothing of what those do not hold.
TEST(KZLibraryLookups, ReadersAnswerTagsAndPositionsFromTheLibraries)
{
    kztest::ScopedDefaults defaults;
    kztest::TempDir dir;
    KZiTunesSupport::setSharedControl(nullptr);
    const fs::path media = dir.mkdir("Music/iTunes/iTunes Media");
    const fs::path exportFile = kztest::MusicLibraryBuilder(media)
                                    .fileTrack(1, 0xAB, media / "a.mp3", u"Song A"_s, u"Artist"_s, u"Album"_s, 61500, 256)
                                    .fileTrack(2, 0xCD, media / "b.mp3", u"Song B"_s)
                                    .write(dir / "Music/iTunes/iTunes Library.xml");
    defaults->setValue(KZDefaultsKey::iTunes_library_path, QFile::decodeName(exportFile.c_str()));
    const fs::path photos = kztest::PhotosLibraryBuilder(dir / "P.photoslibrary")
                                .album(u"alb"_s, u"Holidays"_s)
                                .image(u"img1"_s, "2020/a.bmp", u"alb"_s)
                                .image(u"img2"_s, "2020/b.bmp", std::nullopt, 60)
                                .build();

    const KZLibraryLookups lookups = KZLibraryLookups::fromReaders();
    const std::optional<KZSongInfo> song = lookups.songMetadataWithTrackID(u"ab"_s);
    ASSERT_TRUE(song);
    EXPECT_EQ(song->songName(), u"Song A"_s);
    EXPECT_EQ(song->album(), u"Album"_s);
    EXPECT_EQ(song->duration(), 61);
    EXPECT_EQ(song->bitRate(), 256u);
    EXPECT_TRUE(song->isiTunesTrackID());
    EXPECT_EQ(song->trackID(), std::optional<quint64>(0xAB));
    // A tag the export leaves out is unknown, so the file's own may stand.
    EXPECT_TRUE(lookups.songMetadataWithTrackID(u"cd"_s)->album().isNull());
    EXPECT_FALSE(lookups.songMetadataWithTrackID(u"ef"_s));

    const QHash<QString, QString> songs = lookups.songPositions({u"ab"_s, u"cd"_s, u"ef"_s});
    EXPECT_EQ(songs.size(), 1); // only a track with an album has a position
    EXPECT_TRUE(songs.value(u"ab"_s).endsWith(u" -> Album"_s));

    const QHash<QString, QString> images
        = lookups.photoPositions({u"img1"_s, u"img2"_s}, QFile::decodeName(photos.c_str()));
    const QString library = platform::localizedString(u"Photos_library"_s);
    EXPECT_EQ(images.value(u"img1"_s), library + u" -> Holidays"_s);
    EXPECT_TRUE(images.value(u"img2"_s).startsWith(library)); // the unfiled images' own album
    EXPECT_TRUE(lookups.photoPositions({u"img1"_s}, QString()).isEmpty());
    KZiTunesSupport::setSharedControl(nullptr);
}
