// Pictures compared by what they show, through a whole search: when the
// question is asked, what the preference and the answer switch on, and which
// files take part as pictures.

#include "EngineTestSupport.h"

#include "ScriptedPresenter.h"
#include "media/decoder/KZImageDecoder.h"
#include "platform/Paths.h"
#include "platform/StringTable.h"
#include "platform/UserDefaults.h"
#include "services/KZErrorDelegate.h"
#include "settings/KZDefaultsKeys.h"
#include "support/TestSupport.h"

#include <QBuffer>
#include <QColor>
#include <QImage>

#include <gtest/gtest.h>

using namespace enginetest;

namespace {

QImage picture(int seed)
{
    QImage image(29, 17, QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixelColor(x, y, QColor((x * 5 + seed) % 256, (y * 13) % 256, (x * y + seed) % 256, 255));
    return image;
}

std::string encoded(const QImage& image, const char* format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    EXPECT_TRUE(image.save(&buffer, format));
    return bytes.toStdString();
}

using NameGroups = std::set<std::set<std::string>>;

NameGroups nameGroups(const std::vector<FoundRow>& rows)
{
    NameGroups groups;
    for (const auto& paths : groupSet(rows)) {
        std::set<std::string> names;
        for (const auto& path : paths)
            names.insert(path.filename().string());
        groups.insert(names);
    }
    return groups;
}

class KZImageContentSearchTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        KZErrorDelegate::sharedControl().setPresenter(presenter);
        QImage tagged = picture(1);
        tagged.setText(QStringLiteral("Comment"), QStringLiteral("saved again with other metadata"));
        const std::string png = encoded(picture(1), "PNG");
        pictures.write("a.png", png);
        pictures.write("b.bmp", encoded(picture(1), "BMP"));
        pictures.write("c.png", encoded(tagged, "PNG"));
        pictures.write("other.png", encoded(picture(2), "PNG"));
        // The same bytes under an extension that is not listed as written:
        // ordinary files, grouped by their bytes.
        pictures.write("d.PNG", png);
        pictures.write("e.PNG", png);
        // Not pictures at all: ordinary files, whatever their names say.
        pictures.write("broken1.png", "not a picture, only its name");
        pictures.write("broken2.png", "not a picture, only its name");
        library.mkdir("Pictures.photoslibrary");
    }
    void TearDown() override
    {
        KZErrorDelegate::sharedControl().setPresenter(nullptr);
        kzmedia::installImageDecoder(&kzmedia::decodeImageRGBA);
    }

    SearchResult search(qint64 preference, bool withLibrary)
    {
        defaults->setValue(KZDefaultsKey::check_image_metadata_option, preference);
        const KZSourceItemRef folder = folderSource(pictures.path());
        const KZSourceItemRef photos = KZSourceItem::create(
            {{str("url"), QVariant::fromValue(library / "Pictures.photoslibrary")}, {str("isPhotosLib"), true}});
        return runSearchAnswering(withLibrary ? std::vector<KZSourceItemRef>{folder, photos}
                                              : std::vector<KZSourceItemRef>{folder},
                                  sizeAndContentCriteria());
    }

    const NameGroups byPixels{{"a.png", "b.bmp", "c.png"}, {"d.PNG", "e.PNG"}, {"broken1.png", "broken2.png"}};
    const NameGroups byBytes{{"a.png", "d.PNG", "e.PNG"}, {"broken1.png", "broken2.png"}};

    kztest::ScopedDefaults defaults;
    std::shared_ptr<kztest::ScriptedPresenter> presenter = std::make_shared<kztest::ScriptedPresenter>();
    kztest::TempDir pictures;
    kztest::TempDir library;
};

TEST_F(KZImageContentSearchTest, PreferenceAndAnswerDecideAndTheQuestionNeedsAPhotoLibrary)
{
    struct Case {
        const char* what;
        qint64 preference;
        bool withLibrary;
        qint64 answer;
        std::size_t questions;
        bool pixels;
    };
    const std::vector<Case> cases{
        {"1 compares pixels without asking", 1, true, KZErrorDelegate::FirstButton, 0, true},
        {"1 also without a library", 1, false, KZErrorDelegate::FirstButton, 0, true},
        {"2 never asks and keeps the bytes", 2, true, KZErrorDelegate::SecondButton, 0, false},
        {"0 without a photo library does not ask", 0, false, KZErrorDelegate::SecondButton, 0, false},
        {"0 with a library asks; the slow answer compares pixels", 0, true, KZErrorDelegate::SecondButton, 1, true},
        {"0 with a library asks; the fast answer keeps the bytes", 0, true, KZErrorDelegate::FirstButton, 1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        {
            std::lock_guard lock(presenter->mutex);
            presenter->calls.clear();
        }
        presenter->script = [&](const KZAlertPresenter::Alert&) { return KZAlertPresenter::Answer{c.answer}; };
        const SearchResult result = search(c.preference, c.withLibrary);
        // The library here has no database, which is told too; only
        // questions count.
        std::size_t questions = 0;
        {
            std::lock_guard lock(presenter->mutex);
            for (const auto& call : presenter->calls)
                questions += call.alert.buttonTitles.size() > 1;
        }
        EXPECT_EQ(questions, c.questions);
        EXPECT_EQ(nameGroups(result.rows), c.pixels ? byPixels : byBytes);
        // Both trees number their groups from one counter, and every group's
        // members share one counter that holds the group's size.
        std::map<quint64, std::size_t> sizes;
        for (const FoundRow& row : result.rows)
            ++sizes[row.groupID];
        EXPECT_EQ(sizes.size(), nameGroups(result.rows).size()) << "each group its own number";
        for (const FoundRow& row : result.rows)
            EXPECT_EQ(row.counter, sizes[row.groupID]) << row.path;
    }
}

// A library chosen and then deleted before Start: nothing asks how its
// pictures are compared, and the user is told it is missing, by name.
TEST_F(KZImageContentSearchTest, ALibraryGoneBeforeTheStartIsToldMissingAndNotAskedAbout)
{
    defaults->setValue(KZDefaultsKey::check_image_metadata_option, qint64(0));
    const fs::path gone = library / "Gone.photoslibrary";
    const KZSourceItemRef photos
        = KZSourceItem::create({{str("url"), QVariant::fromValue(gone)}, {str("isPhotosLib"), true}});
    const SearchResult result
        = runSearchAnswering({folderSource(pictures.path()), photos}, sizeAndContentCriteria());
    ASSERT_EQ(result.notifications, 1);
    EXPECT_EQ(nameGroups(result.rows), byBytes) << "the folder is still searched";

    const QString missing = platform::localizedString(QStringLiteral("photos_library_missing"), QStringLiteral("Errors"))
                                .replace(QStringLiteral("%@"), platform::pathText(gone));
    std::lock_guard lock(presenter->mutex);
    std::size_t questions = 0;
    std::size_t told = 0;
    for (const auto& call : presenter->calls) {
        questions += call.alert.buttonTitles.size() > 1;
        told += call.alert.messageText == missing;
    }
    EXPECT_EQ(questions, 0u);
    EXPECT_EQ(told, 1u) << "the missing library is told once";
}

// The headless tool links no decoder: the module it loads on the first
// picture compares pictures as the linked decoder does.
TEST_F(KZImageContentSearchTest, TheDecoderModuleLoadedOnDemandComparesPixels)
{
    std::string error;
    const kzmedia::ImageDecodeFn module = kzmedia::loadImageDecoder(KZ_IMAGE_DECODER_MODULE, &error);
    ASSERT_NE(module, nullptr) << error;
    EXPECT_NE(module, &kzmedia::decodeImageRGBA);
    kzmedia::installImageDecoder(module);
    EXPECT_EQ(nameGroups(search(1, false).rows), byPixels);

    EXPECT_EQ(kzmedia::loadImageDecoder("/nonexistent/maravex-image-decoder.so", &error), nullptr);
    EXPECT_FALSE(error.empty());
}

} // namespace
