#include "media/KZSongTagCntrl.h"

#include "MediaFileFixtures.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <thread>

#include <sys/stat.h>

namespace fs = std::filesystem;
using kztest::SongTags;
using kztest::WavShape;

namespace {

KZSongInfo read(const fs::path& file, const QString& extension = {})
{
    return KZSongTagCntrl::sharedControl().songMetatadaWithURL(file, extension, true);
}

void expectNoTags(const KZSongInfo& info, const std::string& what)
{
    EXPECT_TRUE(info.songName().isNull()) << what;
    EXPECT_TRUE(info.artist().isNull()) << what;
    EXPECT_TRUE(info.album().isNull()) << what;
    EXPECT_TRUE(info.genre().isNull()) << what;
    EXPECT_TRUE(info.year().isNull()) << what;
}

class SongTagReader : public ::testing::Test {
protected:
    kztest::TempDir dir_;
};

} // namespace

TEST_F(SongTagReader, DurationAndBitRateOfGeneratedWavesAreTruncated)
{
    struct Case {
        WavShape shape;
        qint64 duration;
        quint32 bitRate;
    };
    const Case cases[] = {
        {{.sampleRate = 8000, .channels = 1, .bitsPerSample = 8, .seconds = 59.9}, 59, 64},
        {{.sampleRate = 44100, .channels = 2, .bitsPerSample = 16, .seconds = 2.0}, 2, 1411},
        {{.sampleRate = 8000, .channels = 1, .bitsPerSample = 8, .seconds = 0.5}, 0, 64},
    };
    int n = 0;
    for (const Case& c : cases) {
        const fs::path file = kztest::writeWav(dir_ / ("s" + std::to_string(n++) + ".wav"), c.shape);
        const KZSongInfo info = read(file);
        EXPECT_EQ(info.duration(), c.duration) << file;
        EXPECT_EQ(info.bitRate(), c.bitRate) << file;
        expectNoTags(info, file.string());
        // Without the duration asked for, only the tags are read.
        const KZSongInfo tagsOnly = KZSongTagCntrl::sharedControl().songMetatadaWithURL(file, {}, false);
        EXPECT_EQ(tagsOnly.duration(), 0);
        EXPECT_EQ(tagsOnly.bitRate(), 0u);
    }
}

TEST_F(SongTagReader, TagsOfATaggedWaveAndItsYear)
{
    struct Case {
        QString date;
        QString year; // null: no year
    };
    const Case cases[] = {
        {QStringLiteral("2019"), QStringLiteral("2019")},
        {QStringLiteral("2019/05/03 12:34:56"), QStringLiteral("2019")},
        {QStringLiteral("2019-05-03"), QStringLiteral("2019")},
        {QStringLiteral("May 2019"), QString()},
        {QStringLiteral("20190"), QString()},
    };
    for (const Case& c : cases) {
        const fs::path file = kztest::writeWav(dir_ / "tagged.wav", {.seconds = 3});
        ASSERT_TRUE(kztest::tagWav(file, {.title = QStringLiteral("Tïtle"),
                                          .artist = QStringLiteral("Artist"),
                                          .album = QStringLiteral("Album"),
                                          .genre = QStringLiteral("Genre"),
                                          .date = c.date}));
        const KZSongInfo info = read(file);
        EXPECT_EQ(info.songName(), QStringLiteral("Tïtle"));
        EXPECT_EQ(info.artist(), QStringLiteral("Artist"));
        EXPECT_EQ(info.album(), QStringLiteral("Album"));
        EXPECT_EQ(info.genre(), QStringLiteral("Genre"));
        EXPECT_EQ(info.year(), c.year) << c.date.toStdString();
        EXPECT_EQ(info.year().isNull(), c.year.isNull()) << c.date.toStdString();
        EXPECT_EQ(info.duration(), 3);
    }
}

TEST_F(SongTagReader, ContentDecidesOverTheNameAndCapitalsHintNothing)
{
    EXPECT_EQ(KZSongTagCntrl::hintForFileExtension(QStringLiteral("mp3")), KZSongTagCntrl::FileType::MPEG);
    EXPECT_EQ(KZSongTagCntrl::hintForFileExtension(QStringLiteral("MP3")), KZSongTagCntrl::FileType::Unknown);
    EXPECT_EQ(KZSongTagCntrl::hintForFileExtension(QStringLiteral("M4P")), KZSongTagCntrl::FileType::Unknown);

    // A tagged wave under the names of other formats still reads as a wave.
    const fs::path wave = kztest::writeWav(dir_ / "real.wav", {.seconds = 4});
    ASSERT_TRUE(kztest::tagWav(wave, {.title = QStringLiteral("Wave")}));
    for (const char* name : {"named.mp3", "named.m4a", "named.MP3", "named.flac", "named"}) {
        fs::copy_file(wave, dir_ / name);
        const KZSongInfo info = read(dir_ / name);
        EXPECT_EQ(info.songName(), QStringLiteral("Wave")) << name;
        EXPECT_EQ(info.duration(), 4) << name;
        EXPECT_EQ(info.bitRate(), 64u) << name;
    }
}

TEST_F(SongTagReader, DamagedAndHostileFilesGiveAnEmptyRecord)
{
    const fs::path wave = kztest::writeWav(dir_ / "good.wav", {.seconds = 2});
    ASSERT_TRUE(kztest::tagWav(wave, {.title = QStringLiteral("Good"), .date = QStringLiteral("2019")}));
    const std::string bytes = kztest::readFile(wave);

    std::string hugeChunk = bytes;
    hugeChunk.replace(4, 4, "\xff\xff\xff\x7f"); // RIFF size far beyond the file
    hugeChunk.replace(16, 4, "\xf0\xff\xff\x7f"); // fmt chunk claims 2 GB
    std::string id3Only = "ID3\x04\x00\x00\x7f\x7f\x7f\x7f";
    id3Only += std::string(64, 'x');
    const std::pair<const char*, std::string> files[] = {
        {"empty.wav", ""},
        {"header.wav", bytes.substr(0, 20)},
        {"half.wav", bytes.substr(0, bytes.size() / 2)},
        {"huge.wav", hugeChunk},
        {"noise.mp3", std::string(4096, '\xff')},
        {"text.flac", "not a sound at all\n"},
        {"box.m4a", std::string("\0\0\0\x08" "ftyp", 8) + std::string("\xff\xff\xff\xff" "moov", 8)},
        {"id3.mp3", id3Only},
        {"aiff.aiff", std::string("FORM\xff\xff\xff\xff" "AIFFCOMM\xff\xff\xff\xff", 20)},
    };
    for (const auto& [name, content] : files) {
        const fs::path file = dir_.write(name, content);
        KZSongInfo info;
        EXPECT_NO_THROW(info = read(file)) << name;
        EXPECT_TRUE(info.songName().isNull() || info.songName() == QStringLiteral("Good")) << name;
        EXPECT_GE(info.duration(), 0) << name;
    }
    expectNoTags(read(dir_ / "empty.wav"), "empty");
    expectNoTags(read(dir_ / "text.flac"), "text");

    // Nothing that is not a regular file is opened: a pipe would never answer.
    const fs::path pipe = dir_ / "pipe.wav";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0644), 0);
    fs::create_directory(dir_ / "folder.mp3");
    for (const fs::path& odd : {pipe, dir_ / "folder.mp3", dir_ / "missing.wav"}) {
        const KZSongInfo info = read(odd);
        expectNoTags(info, odd.string());
        EXPECT_EQ(info.duration(), 0) << odd;
        EXPECT_EQ(info.bitRate(), 0u) << odd;
    }
}

TEST_F(SongTagReader, EightThreadsReadAtOnce)
{
    std::vector<fs::path> songs;
    for (int i = 0; i < 8; ++i) {
        songs.push_back(kztest::writeWav(dir_ / ("t" + std::to_string(i) + ".wav"), {.seconds = 1.0 + i}));
        ASSERT_TRUE(kztest::tagWav(songs.back(), {.title = QString::number(i), .date = QStringLiteral("2001")}));
    }
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 20; ++round) {
                const int i = (t + round) % 8;
                const KZSongInfo info = read(songs[static_cast<std::size_t>(i)]);
                if (info.songName() != QString::number(i) || info.duration() != 1 + i
                    || info.year() != QStringLiteral("2001"))
                    ++wrong;
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(wrong.load(), 0);
}
