#include "EngineTestSupport.h"

#include "engine/KZCompareCodes.h"
#include "engine/KZCrc32.h"
#include "engine/KZImageRecord.h"

#include "support/TestSupport.h"

#include <QColor>
#include <QImage>

#include <gtest/gtest.h>

using namespace enginetest;

namespace {

QImage picture(int seed)
{
    QImage image(37, 23, QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixelColor(x, y, QColor((x * 7 + seed) % 256, (y * 11) % 256, (x * y + seed) % 256, 255));
    return image;
}

fs::path save(const QImage& image, const fs::path& path, const char* format)
{
    EXPECT_TRUE(image.save(QString::fromStdString(path.string()), format)) << path;
    return path;
}

class KZImageRecordTest : public ::testing::Test {
protected:
    kztest::TempDir dir;
};

TEST_F(KZImageRecordTest, SamePixelsInAnyFileFormatAreTheSamePicture)
{
    ObservingReader reader;
    KZCrc32 crc{nullptr, &reader};
    QImage tagged = picture(1);
    tagged.setText(QStringLiteral("Comment"), QStringLiteral("saved again with other metadata"));
    QImage changed = picture(1);
    changed.setPixelColor(36, 22, QColor(0, 0, 1));
    const fs::path png = save(picture(1), dir / "a.png", "PNG");
    struct Case {
        const char* name;
        fs::path other;
        qint16 expected;
    };
    const std::vector<Case> cases{
        {"the same picture as BMP", save(picture(1), dir / "b.bmp", "BMP"), KZCompare::kSame},
        {"re-saved with a comment", save(tagged, dir / "c.png", "PNG"), KZCompare::kSame},
        {"one pixel differs", save(changed, dir / "d.png", "PNG"), KZCompare::kAfter},
        {"another picture", save(picture(2), dir / "e.png", "PNG"), KZCompare::kAfter},
        {"not a picture", dir.write("f.png", "PNG but not really"), KZCompare::kNotComparable},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<KZNodeCache> one;
        std::unique_ptr<KZNodeCache> two;
        const qint16 r = crc.compareContentOfPhoto(png, c.other, &one, &two);
        if (c.expected == KZCompare::kAfter)
            EXPECT_TRUE(r == KZCompare::kAfter || r == KZCompare::kBefore) << r;
        else
            EXPECT_EQ(r, c.expected);
    }
    const auto record = crc.CRCForImageWithURL(png);
    ASSERT_TRUE(record);
    const auto& image = static_cast<const KZImageRecord&>(*record);
    EXPECT_EQ(image.width(), 37u);
    EXPECT_EQ(image.height(), 23u);
    EXPECT_EQ(image.pixelLength(), 37u * 23u * 4u);
}

TEST_F(KZImageRecordTest, UnreadableOrEmptyFileHasNoRecord)
{
    ObservingReader reader;
    KZCrc32 crc{nullptr, &reader};
    const fs::path png = save(picture(3), dir / "a.png", "PNG");
    reader.refused = png;
    EXPECT_FALSE(crc.CRCForImageWithURL(png));
    EXPECT_FALSE(crc.CRCForImageWithURL(dir.write("empty.png", "")));
}

} // namespace
