#include "media/KZSongTagCntrl.h"

#include "MediaFileFixtures.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

KZSongInfo read(const fs::path& file, bool withDuration = true)
{
    return KZSongTagCntrl::sharedControl().songMetatadaWithURL(file, {}, withDuration);
}

bool hasNoTags(const KZSongInfo& info)
{
    return info.songName().isNull() && info.artist().isNull() && info.album().isNull() && info.genre().isNull()
        && info.year().isNull();
}

class SongTagReader : public ::testing::Test {
protected:
    kztest::TempDir dir_;
};

} // namespace

TEST_F(SongTagReader, DurationAndBitRateAreTruncated)
{
    const fs::path mono = kztest::writeWav(dir_ / "mono.wav", {.sampleRate = 8000, .seconds = 59.9});
    EXPECT_EQ(read(mono).duration(), 59);
    EXPECT_EQ(read(mono).bitRate(), 64u);
    EXPECT_TRUE(hasNoTags(read(mono)));
    EXPECT_EQ(read(mono, false).duration(), 0); // tags only
    const fs::path cd = kztest::writeWav(dir_ / "cd.wav", {.sampleRate = 44100, .channels = 2, .bitsPerSample = 16});
    EXPECT_EQ(read(cd).bitRate(), 1411u);
}

TEST_F(SongTagReader, TagsAndTheYearOfADateTag)
{
    const std::pair<QString, QString> years[] = {
        {QStringLiteral("2019"), QStringLiteral("2019")},
        {QStringLiteral("2019/05/03 12:34:56"), QStringLiteral("2019")},
        {QStringLiteral("2019-05-03"), QStringLiteral("2019")},
        {QStringLiteral("May 2019"), QString()},
        {QStringLiteral("20190"), QString()},
    };
    for (const auto& [date, year] : years) {
        const fs::path file = kztest::writeWav(dir_ / "tagged.wav", {.seconds = 3});
        ASSERT_TRUE(kztest::tagWav(file, {.title = QStringLiteral("Tïtle"), .artist = QStringLiteral("Artist"),
                                          .album = QStringLiteral("Album"), .genre = QStringLiteral("Genre"),
                                          .date = date}));
        const KZSongInfo info = read(file);
        EXPECT_EQ(info.songName(), QStringLiteral("Tïtle"));
        EXPECT_EQ(info.artist() + info.album() + info.genre(), QStringLiteral("ArtistAlbumGenre"));
        EXPECT_EQ(info.year(), year) << date.toStdString();
        EXPECT_EQ(info.year().isNull(), year.isNull()) << date.toStdString();
        EXPECT_EQ(info.duration(), 3);
    }
}

TEST_F(SongTagReader, ContentDecidesOverTheName)
{
    EXPECT_EQ(KZSongTagCntrl::hintForFileExtension(QStringLiteral("mp3")), KZSongTagCntrl::FileType::MPEG);
    EXPECT_EQ(KZSongTagCntrl::hintForFileExtension(QStringLiteral("M4P")), KZSongTagCntrl::FileType::Unknown);
    const fs::path wave = kztest::writeWav(dir_ / "real.wav", {.seconds = 4});
    ASSERT_TRUE(kztest::tagWav(wave, {.title = QStringLiteral("Wave")}));
    for (const char* name : {"named.mp3", "named.m4a", "named.MP3", "named.flac", "named"}) {
        fs::copy_file(wave, dir_ / name);
        const KZSongInfo info = read(dir_ / name);
        EXPECT_EQ(info.songName(), QStringLiteral("Wave")) << name;
        EXPECT_EQ(info.duration(), 4) << name;
    }
}

TEST_F(SongTagReader, DamagedAndHostileFilesGiveWhatCanBeRead)
{
    const fs::path wave = kztest::writeWav(dir_ / "good.wav", {.seconds = 2});
    ASSERT_TRUE(kztest::tagWav(wave, {.title = QStringLiteral("Good")}));
    const std::string bytes = kztest::readFile(wave);
    std::string huge = bytes;
    huge.replace(16, 4, "\xf0\xff\xff\x7f"); // the format chunk claims 2 GB
    const std::pair<const char*, std::string> files[] = {
        {"empty.wav", ""},
        {"header.wav", bytes.substr(0, 20)},
        {"half.wav", bytes.substr(0, bytes.size() / 2)},
        {"huge.wav", huge},
        {"noise.mp3", std::string(4096, '\xff')},
        {"text.flac", "not a sound at all\n"},
        {"box.m4a", std::string("\0\0\0\x08" "ftyp\xff\xff\xff\xff" "moov", 16)},
        {"id3.mp3", std::string("ID3\x04\0\0\x7f\x7f\x7f\x7f", 10) + "x"},
        {"form.aiff", std::string("FORM\xff\xff\xff\xff" "AIFFCOMM\xff\xff\xff\xff", 20)},
    };
    for (const auto& [name, content] : files)
        EXPECT_NO_THROW(read(dir_.write(name, content))) << name;
    EXPECT_TRUE(hasNoTags(read(dir_ / "empty.wav")));
    EXPECT_TRUE(hasNoTags(read(dir_ / "text.flac")));

    // Only regular files are opened: a pipe would never answer.
    const fs::path pipe = dir_ / "pipe.wav";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0644), 0);
    fs::create_directory(dir_ / "folder.mp3");
    for (const fs::path& odd : {pipe, dir_ / "folder.mp3", dir_ / "missing.wav"}) {
        const KZSongInfo info = read(odd);
        EXPECT_TRUE(hasNoTags(info) && info.duration() == 0 && info.bitRate() == 0) << odd;
    }
}
