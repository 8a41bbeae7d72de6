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

    fs::path jpeg(const std::string& name, int width, int height, const kztest::MetadataEntries& entries = {})
    {
        const fs::path file = kztest::writeImage(dir_ / name, width, height);
        if (!entries.empty()) {
            EXPECT_TRUE(kztest::setImageMetadata(file, entries)) << name;
        }
        return file;
    }

    kztest::TempDir dir_;
};

double secondsOf(int y, int mo, int d, int h, int mi, int s)
{
    return KZDateUtilities::timeIntervalSinceReferenceDate(
        QDateTime(QDate(y, mo, d), QTime(h, mi, s), QTimeZone::utc()));
}

} // namespace

TEST_F(ExifReader, SizeFollowsTheOrientation)
{
    struct Case {
        int width, height;
        const char* orientation; // nullptr: none stored
        quint64 shownWidth, shownHeight;
        qint16 shownOrientation;
    };
    const Case cases[] = {
        {400, 300, "6", 300, 400, 6},
        {400, 300, "8", 300, 400, 8},
        {400, 300, "3", 400, 300, 3},
        {300, 400, "6", 300, 400, 6}, // already upright: no exchange
        {400, 300, "0", 400, 300, 1},
        {400, 300, "9", 400, 300, 1},
        {400, 300, nullptr, 400, 300, 1},
    };
    int n = 0;
    for (const Case& c : cases) {
        kztest::MetadataEntries entries;
        if (c.orientation)
            entries.emplace_back("Exif.Image.Orientation", c.orientation);
        const fs::path file = jpeg("o" + std::to_string(n++) + ".jpg", c.width, c.height, entries);
        const auto exif = read(file);
        ASSERT_TRUE(exif) << file;
        EXPECT_EQ(exif->width(), c.shownWidth) << file;
        EXPECT_EQ(exif->height(), c.shownHeight) << file;
        EXPECT_EQ(exif->orientation(), c.shownOrientation) << file;
    }
}

TEST_F(ExifReader, DateTakenWithSubSecondsFromTheirDigits)
{
    const double base = secondsOf(2019, 5, 3, 12, 34, 56);
    struct Case {
        const char* date;
        const char* subSeconds; // nullptr: none stored
        double expected;
    };
    const Case cases[] = {
        {"2019:05:03 12:34:56", nullptr, base},
        {"2019:05:03 12:34:56", "5", base + 0.5},
        {"2019:05:03 12:34:56", "50", base + 0.5},
        {"2019:05:03 12:34:56", "050", base + 0.05},
        {"2019:05:03 12:34:56", "123", base + 0.123},
        {"2019:05:03 12:34:56", "000", base},
        {"2019:05:03 12:34:56", "x12", base},
        {"2019-05-03 12:34:56", "5", 0},  // does not parse: no sub-seconds either
        {"2019:05:03", "5", 0},
    };
    int n = 0;
    for (const Case& c : cases) {
        kztest::MetadataEntries entries{{"Exif.Photo.DateTimeOriginal", c.date}};
        if (c.subSeconds)
            entries.emplace_back("Exif.Photo.SubSecTimeOriginal", c.subSeconds);
        const auto exif = read(jpeg("d" + std::to_string(n++) + ".jpg", 8, 8, entries));
        ASSERT_TRUE(exif);
        EXPECT_NEAR(exif->dateTakenSecs(), c.expected, 1e-6) << c.date << " " << (c.subSeconds ? c.subSeconds : "");
    }
    EXPECT_DOUBLE_EQ(KZExifImage::subSecondsFromDigits(QStringLiteral(" 0071 ")), 0.0071);
    EXPECT_DOUBLE_EQ(KZExifImage::subSecondsFromDigits(QString()), 0.0);
}

TEST_F(ExifReader, CameraByOptionTrimmedOfSpaces)
{
    const fs::path both = jpeg("both.jpg", 8, 8, {{"Exif.Image.Make", "  Canon "}, {"Exif.Image.Model", " EOS 5D  "}});
    EXPECT_EQ(read(both, KZExifImage::MakeAndModel)->camera(), QStringLiteral("Canon, EOS 5D"));
    EXPECT_EQ(read(both, KZExifImage::ModelOnly)->camera(), QStringLiteral("EOS 5D"));
    EXPECT_EQ(read(both, KZExifImage::MakeOnly)->camera(), QStringLiteral("Canon"));

    EXPECT_EQ(read(jpeg("model.jpg", 8, 8, {{"Exif.Image.Model", "X100"}}))->camera(), QStringLiteral("X100"));
    // A make of blanks is no make: no stray comma in front of the model.
    EXPECT_EQ(read(jpeg("blank.jpg", 8, 8, {{"Exif.Image.Make", "   "}, {"Exif.Image.Model", "X100"}}))->camera(),
              QStringLiteral("X100"));
    EXPECT_TRUE(read(jpeg("none.jpg", 8, 8))->camera().isNull());
}

TEST_F(ExifReader, GpsPositionAndZeroDenominators)
{
    const auto exif = read(jpeg("gps.jpg", 8, 8,
                                {{"Exif.GPSInfo.GPSLatitude", "52/1 30/1 0/1"},
                                 {"Exif.GPSInfo.GPSLatitudeRef", "S"},
                                 {"Exif.GPSInfo.GPSLongitude", "13/1 22/1 3000/100"},
                                 {"Exif.GPSInfo.GPSLongitudeRef", "E"}}));
    ASSERT_TRUE(exif);
    EXPECT_DOUBLE_EQ(exif->latitude(), 52.5);
    EXPECT_DOUBLE_EQ(exif->longitude(), 13.375);
    EXPECT_EQ(exif->latitudeRef(), QStringLiteral("S"));
    EXPECT_EQ(exif->longitudeRef(), QStringLiteral("E"));

    const auto broken = read(jpeg("zero.jpg", 8, 8,
                                  {{"Exif.GPSInfo.GPSLatitude", "52/0 30/1 0/1"},
                                   {"Exif.GPSInfo.GPSLongitude", "13/1 22/1 30/0"},
                                   {"Exif.Photo.PixelXDimension", "0"},
                                   {"Exif.Image.Orientation", "6"}}));
    ASSERT_TRUE(broken);
    EXPECT_EQ(broken->latitude(), 0.0);
    EXPECT_EQ(broken->longitude(), 0.0);

    const auto none = read(jpeg("nogps.jpg", 8, 8));
    ASSERT_TRUE(none);
    EXPECT_EQ(none->latitude(), 0.0);
    EXPECT_EQ(none->longitude(), 0.0);
    EXPECT_TRUE(none->latitudeRef().isNull());
    EXPECT_TRUE(none->longitudeRef().isNull());
}

TEST_F(ExifReader, ImagesWithoutExifAndFilesThatAreNoImages)
{
    const auto png = read(kztest::writeImage(dir_ / "plain.png", 40, 30, "PNG"));
    ASSERT_TRUE(png);
    EXPECT_EQ(png->width(), 40u);
    EXPECT_EQ(png->height(), 30u);
    EXPECT_EQ(png->dateTakenSecs(), 0.0);
    EXPECT_TRUE(png->camera().isNull());

    const fs::path good = jpeg("good.jpg", 64, 48, {{"Exif.Image.Make", "Make"}, {"Xmp.dc.title", "Title"}});
    const std::string bytes = kztest::readFile(good);
    // The EXIF block's first entry claims far more data than the file holds.
    std::string badExif = bytes;
    const auto tiff = badExif.find(std::string("II\x2a\x00\x08\x00\x00\x00", 8));
    ASSERT_NE(tiff, std::string::npos);
    badExif.replace(tiff + 8 + 2 + 4, 4, "\xff\xff\xff\x0f");
    const std::pair<const char*, std::string> files[] = {
        {"text.jpg", "just some text, not a picture\n"},
        {"empty.jpg", ""},
        {"head.jpg", bytes.substr(0, 4)},
        {"half.jpg", bytes.substr(0, bytes.size() / 2)},
        {"badexif.jpg", badExif},
        {"png.jpg", kztest::readFile(kztest::writeImage(dir_ / "x.png", 8, 8, "PNG"))},
    };
    // The library's own complaints about these files are not the user's business.
    testing::internal::CaptureStderr();
    for (const auto& [name, content] : files) {
        const fs::path file = dir_.write(name, content);
        EXPECT_NO_THROW(read(file)) << name;
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_FALSE(read(dir_ / "text.jpg"));
    EXPECT_FALSE(read(dir_ / "empty.jpg"));
    // Mis-named: the content decides.
    ASSERT_TRUE(read(dir_ / "png.jpg"));
    EXPECT_EQ(read(dir_ / "png.jpg")->width(), 8u);

    const fs::path pipe = dir_ / "pipe.jpg";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0644), 0);
    fs::create_directory(dir_ / "folder.jpg");
    EXPECT_FALSE(read(pipe));
    EXPECT_FALSE(read(dir_ / "folder.jpg"));
    EXPECT_FALSE(read(dir_ / "missing.jpg"));
}

TEST_F(ExifReader, EightThreadsReadImagesWithXmpAtOnce)
{
    std::vector<fs::path> images;
    for (int i = 0; i < 8; ++i) {
        images.push_back(jpeg("t" + std::to_string(i) + ".jpg", 16 + i, 8,
                              {{"Exif.Image.Model", "M" + std::to_string(i)},
                               {"Xmp.dc.title", "T" + std::to_string(i)},
                               {"Xmp.kz.label", "L" + std::to_string(i)},
                               {"Exif.Photo.DateTimeOriginal", "2020:01:02 03:04:05"}}));
    }
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 20; ++round) {
                const int i = (t + round) % 8;
                const auto exif = KZExifImage().exifInfoWithURL(images[static_cast<std::size_t>(i)], 0);
                if (!exif || exif->width() != static_cast<quint64>(16 + i)
                    || exif->camera() != QStringLiteral("M%1").arg(i) || exif->dateTakenSecs() <= 0)
                    ++wrong;
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(wrong.load(), 0);
}
