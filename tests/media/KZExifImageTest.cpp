#include "media/KZExifImage.h"

#include "MediaFileFixtures.h"
#include "TestSupport.h"
#include "services/KZDateUtilities.h"

#include <QDateTime>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <thread>

#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

class ExifReader : public ::testing::Test {
protected:
    std::optional<KZEXIFStruct> read(const fs::path& file, quint16 options = KZExifImage::MakeAndModel)
    {
        return KZExifImage::sharedControl().exifInfoWithURL(file, options);
    }

    // A picture of that size with those entries, read back.
    KZEXIFStruct readNew(const kztest::MetadataEntries& entries, int width = 8, int height = 8)
    {
        const fs::path file = kztest::writeImage(dir_ / ("p" + std::to_string(count_++) + ".jpg"), width, height);
        EXPECT_TRUE(entries.empty() || kztest::setImageMetadata(file, entries));
        const auto exif = read(file);
        EXPECT_TRUE(exif);
        return exif.value_or(KZEXIFStruct());
    }

    kztest::TempDir dir_;
    int count_ = 0;
};

} // namespace

TEST_F(ExifReader, SizeFollowsTheOrientation)
{
    struct Case {
        int width, height;
        const char* orientation;
        quint64 shownWidth, shownHeight;
        qint16 shownOrientation;
    };
    for (const Case& c : {Case{400, 300, "6", 300, 400, 6}, Case{400, 300, "8", 300, 400, 8},
                          Case{400, 300, "3", 400, 300, 3}, Case{300, 400, "6", 300, 400, 6},
                          Case{400, 300, "0", 400, 300, 1}, Case{400, 300, "9", 400, 300, 1}}) {
        const KZEXIFStruct exif = readNew({{"Exif.Image.Orientation", c.orientation}}, c.width, c.height);
        EXPECT_EQ(exif.width(), c.shownWidth) << c.orientation;
        EXPECT_EQ(exif.height(), c.shownHeight) << c.orientation;
        EXPECT_EQ(exif.orientation(), c.shownOrientation) << c.orientation;
    }
}

TEST_F(ExifReader, DateTakenWithSubSecondsFromTheirDigits)
{
    const double base = KZDateUtilities::timeIntervalSinceReferenceDate(
        QDateTime(QDate(2019, 5, 3), QTime(12, 34, 56), QTimeZone::utc()));
    struct Case {
        const char* date;
        const char* subSeconds;
        double expected;
    };
    for (const Case& c : {Case{"2019:05:03 12:34:56", "5", base + 0.5}, Case{"2019:05:03 12:34:56", "50", base + 0.5},
                          Case{"2019:05:03 12:34:56", "050", base + 0.05},
                          Case{"2019:05:03 12:34:56", "123", base + 0.123}, Case{"2019:05:03 12:34:56", "x1", base},
                          Case{"2019-05-03 12:34:56", "5", 0}, Case{"2019:05:03", "5", 0}}) {
        const KZEXIFStruct exif =
            readNew({{"Exif.Photo.DateTimeOriginal", c.date}, {"Exif.Photo.SubSecTimeOriginal", c.subSeconds}});
        EXPECT_NEAR(exif.dateTakenSecs(), c.expected, 1e-6) << c.date << " " << c.subSeconds;
    }
}

TEST_F(ExifReader, CameraByOptionTrimmed)
{
    const fs::path both = kztest::writeImage(dir_ / "both.jpg", 8, 8);
    ASSERT_TRUE(kztest::setImageMetadata(both, {{"Exif.Image.Make", "  Canon "}, {"Exif.Image.Model", " EOS 5D "}}));
    EXPECT_EQ(read(both, KZExifImage::MakeAndModel)->camera(), QStringLiteral("Canon, EOS 5D"));
    EXPECT_EQ(read(both, KZExifImage::ModelOnly)->camera(), QStringLiteral("EOS 5D"));
    EXPECT_EQ(read(both, KZExifImage::MakeOnly)->camera(), QStringLiteral("Canon"));
    // A make of blanks is no make: no stray comma before the model.
    EXPECT_EQ(readNew({{"Exif.Image.Make", "   "}, {"Exif.Image.Model", "X100"}}).camera(), QStringLiteral("X100"));
    EXPECT_TRUE(readNew({}).camera().isNull());
}

TEST_F(ExifReader, GpsPositionAndZeroDenominators)
{
    const KZEXIFStruct exif = readNew({{"Exif.GPSInfo.GPSLatitude", "52/1 30/1 0/1"},
                                       {"Exif.GPSInfo.GPSLatitudeRef", "S"},
                                       {"Exif.GPSInfo.GPSLongitude", "13/1 22/1 3000/100"},
                                       {"Exif.GPSInfo.GPSLongitudeRef", "E"}});
    EXPECT_DOUBLE_EQ(exif.latitude(), 52.5);
    EXPECT_DOUBLE_EQ(exif.longitude(), 13.375);
    EXPECT_EQ(exif.latitudeRef() + exif.longitudeRef(), QStringLiteral("SE"));

    const KZEXIFStruct zero =
        readNew({{"Exif.GPSInfo.GPSLatitude", "52/0 30/1 0/1"}, {"Exif.GPSInfo.GPSLongitude", "13/1 22/1 30/0"}});
    EXPECT_EQ(zero.latitude(), 0.0);
    EXPECT_EQ(zero.longitude(), 0.0);
    const KZEXIFStruct none = readNew({});
    EXPECT_EQ(none.latitude() + none.longitude(), 0.0);
    EXPECT_TRUE(none.latitudeRef().isNull() && none.longitudeRef().isNull());
}

TEST_F(ExifReader, FilesWithoutExifAndFilesThatAreNoImages)
{
    const auto png = read(kztest::writeImage(dir_ / "plain.png", 40, 30, "PNG"));
    ASSERT_TRUE(png);
    EXPECT_EQ(png->width() * 100 + png->height(), 4030u);
    EXPECT_EQ(png->dateTakenSecs(), 0.0);

    const fs::path good = kztest::writeImage(dir_ / "good.jpg", 64, 48);
    ASSERT_TRUE(kztest::setImageMetadata(good, {{"Exif.Image.Make", "Make"}, {"Xmp.dc.title", "Title"}}));
    const std::string bytes = kztest::readFile(good);
    // The first entry of the EXIF block claims far more data than there is.
    std::string badExif = bytes;
    const auto tiff = badExif.find(std::string("II\x2a\0\x08\0\0\0", 8));
    ASSERT_NE(tiff, std::string::npos);
    badExif.replace(tiff + 8 + 2 + 4, 4, "\xff\xff\xff\x0f");
    const std::pair<const char*, std::string> files[] = {
        {"text.jpg", "just some text, not a picture\n"},
        {"empty.jpg", ""},
        {"half.jpg", bytes.substr(0, bytes.size() / 2)},
        {"badexif.jpg", badExif},
        {"png.jpg", kztest::readFile(dir_ / "plain.png")},
    };
    // The library's own complaints about these files are not the user's business.
    testing::internal::CaptureStderr();
    for (const auto& [name, content] : files)
        EXPECT_NO_THROW(read(dir_.write(name, content))) << name;
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_FALSE(read(dir_ / "text.jpg"));
    EXPECT_FALSE(read(dir_ / "empty.jpg"));
    EXPECT_EQ(read(dir_ / "png.jpg").value_or(KZEXIFStruct()).width(), 40u); // the content decides

    const fs::path pipe = dir_ / "pipe.jpg";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0644), 0);
    fs::create_directory(dir_ / "folder.jpg");
    for (const fs::path& odd : {pipe, dir_ / "folder.jpg", dir_ / "missing.jpg"})
        EXPECT_FALSE(read(odd)) << odd;
}

TEST_F(ExifReader, EightThreadsReadImagesWithXmpAtOnce)
{
    std::vector<fs::path> images;
    for (int i = 0; i < 8; ++i) {
        images.push_back(kztest::writeImage(dir_ / (std::to_string(i) + ".jpg"), 16 + i, 8));
        ASSERT_TRUE(kztest::setImageMetadata(images.back(), {{"Exif.Image.Model", "M" + std::to_string(i)},
                                                             {"Xmp.dc.title", "T"},
                                                             {"Xmp.kz.label", "L" + std::to_string(i)}}));
    }
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            for (int i = t; i < t + 16; ++i) {
                const auto exif = KZExifImage().exifInfoWithURL(images[static_cast<std::size_t>(i % 8)], 0);
                wrong += !exif || exif->width() != static_cast<quint64>(16 + i % 8)
                    || exif->camera() != QStringLiteral("M%1").arg(i % 8);
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(wrong.load(), 0);
}
