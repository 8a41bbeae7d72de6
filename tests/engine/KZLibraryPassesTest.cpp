#include "EngineTestSupport.h"

#include "LibraryFixtures.h"
#include "ScriptedPresenter.h"
#include "TestSupport.h"
#include "engine/KZAppSuppInfo.h"
#include "media/KZiTunesSupport.h"
#include "platform/StringTable.h"
#include "platform/UserDefaults.h"
#include "services/KZErrorDelegate.h"
#include "settings/KZDefaultsKeys.h"

#include <QFile>

#include <gtest/gtest.h>


using namespace enginetest;
using namespace Qt::StringLiterals;

namespace {

KZSourceItemRef musicSource(const fs::path& media)
{
    return KZSourceItem::create({{u"url"_s, QVariant::fromValue(media)}, {u"iTunesLibValue"_s, 1}});
}

KZSourceItemRef photosSource(const fs::path& package)
{
    return KZSourceItem::create({{u"url"_s, QVariant::fromValue(package)}, {u"isPhotosLib"_s, true}});
}

QVariantMap leavingOut(QVariantMap criteria, int tag, const fs::path& library = {})
{
    criteria.insert(u"ExcludedApps"_s,
                    QVariantList{QVariantMap{{u"tag"_s, tag}, {u"libraryPath"_s, QFile::decodeName(library.c_str())}}});
    return criteria;
}

class LibraryPasses : public ::testing::Test {
protected:
    void SetUp() override
    {
        KZiTunesSupport::setSharedControl(nullptr);
        KZErrorDelegate::sharedControl().setPresenter(presenter);
        defaults->setValue(KZDefaultsKey::iTunes_library_path, QFile::decodeName(exportFile.c_str()));
    }
    void TearDown() override
    {
        KZErrorDelegate::sharedControl().setPresenter(nullptr);
        KZiTunesSupport::setSharedControl(nullptr);
    }

    std::size_t questions() const
    {
        std::lock_guard lock(presenter->mutex);
        return std::size_t(std::count_if(presenter->calls.begin(), presenter->calls.end(), [](const auto& call) {
            return call.alert.messageText.contains(u"missing"_s);
        }));
    }

    // Two tracks whose files are there (one also copied into `folder`), one
    // whose file is gone and one whose file is a link to nothing.
    void writeMusicLibrary()
    {
        const std::string song = randomBytes(5000, 1);
        dir.write("Media/a.wav", song);
        dir.write("Media/b.wav", randomBytes(5000, 2));
        dir.write("Folder/copy.wav", song);
        fs::create_symlink(dir / "nowhere.wav", media / "link.wav");
        kztest::MusicLibraryBuilder(media)
            .fileTrack(1, 0xA1, media / "a.wav", u"A"_s)
            .fileTrack(2, 0xB2, media / "b.wav", u"B"_s)
            .fileTrack(3, 0xC3, media / "gone.wav", u"Gone"_s, u"Artist"_s, u"Album"_s)
            .fileTrack(4, 0xD4, media / "link.wav", u"Link"_s)
            .write(exportFile);
    }

    kztest::ScopedDefaults defaults;
    std::shared_ptr<kztest::ScriptedPresenter> presenter = std::make_shared<kztest::ScriptedPresenter>();
    kztest::TempDir dir;
    const fs::path media = dir.mkdir("Media");
    const fs::path folder = dir.mkdir("Folder");
    const fs::path exportFile = dir / "iTunes Library.xml";
};

} // namespace

TEST_F(LibraryPasses, LibraryTrackMeetsItsCopyInAFolderAndCarriesItsOwner)
{
    writeMusicLibrary();
    const SearchResult result = runSearchAnswering({musicSource(media), folderSource(folder)}, sizeAndContentCriteria());
    EXPECT_EQ(groupSet(result.rows), (Groups{{media / "a.wav", folder / "copy.wav"}}));
    for (const FoundRow& row : result.rows) {
        const bool inLibrary = row.path == media / "a.wav";
        EXPECT_EQ(row.owner, inLibrary ? KZAppSuppInfo::ITunes : KZAppSuppInfo::None) << row.path;
        EXPECT_EQ(row.trackID, inLibrary ? u"a1"_s : QString()) << row.path;
    }
    EXPECT_TRUE(result.info.value(u"KZResultSearchedIniTunes"_s).toBool());
}

TEST_F(LibraryPasses, MissingTracksAreAskedAboutOnceAndTheAnswerHolds)
{
    writeMusicLibrary();
    presenter->script = [](const KZAlertPresenter::Alert&) { return KZAlertPresenter::Answer{}; };
    SearchResult yes = runSearchAnswering({musicSource(media), folderSource(folder)}, sizeAndContentCriteria());
    EXPECT_EQ(questions(), 1u);
    const QVariantList deads = yes.info.value(u"KZResultFoundDeads"_s).toList();
    ASSERT_EQ(deads.size(), 2); // the gone file and the link to nothing
    const QVariantMap gone = deads.value(0).toMap();
    EXPECT_EQ(gone.value(u"url"_s).value<fs::path>(), media / "gone.wav");
    EXPECT_EQ(gone.value(u"trackID"_s).toString(), u"c3"_s);
    EXPECT_EQ(gone.value(u"artist"_s).toString(), u"Artist"_s);
    EXPECT_TRUE(gone.value(u"isiTunes"_s).toBool());
    EXPECT_EQ(deads.value(1).toMap().value(u"songName"_s).toString(), u"Link"_s);

    // No: nothing is recorded, nothing asked again, and the search goes on.
    presenter->script = [](const KZAlertPresenter::Alert&) {
        return KZAlertPresenter::Answer{KZAlertPresenter::SecondButton};
    };
    const SearchResult no = runSearchAnswering({musicSource(media), folderSource(folder)}, sizeAndContentCriteria());
    EXPECT_EQ(questions(), 2u);
    EXPECT_TRUE(no.info.value(u"KZResultFoundDeads"_s).toList().isEmpty());
    EXPECT_EQ(groupSet(no.rows), (Groups{{media / "a.wav", folder / "copy.wav"}}));

    // A question suppressed by its box answers yes without being shown.
    defaults->setValue(KZDefaultsKey::ask_show_deads, true);
    const SearchResult suppressed = runSearchAnswering({musicSource(media)}, sizeAndContentCriteria());
    EXPECT_EQ(questions(), 2u);
    EXPECT_EQ(suppressed.info.value(u"KZResultFoundDeads"_s).toList().size(), 2);
}

TEST_F(LibraryPasses, ADeadOnlySearchCountsTheMissingTracksAndComparesNothing)
{
    writeMusicLibrary();
    defaults->setValue(KZDefaultsKey::ask_show_deads, true);
    auto progress = std::make_shared<RecordingProgress>();
    const SearchResult result = runSearchAnswering({musicSource(media)}, QVariantMap(), {.progress = progress});
    EXPECT_TRUE(result.rows.empty());
    EXPECT_EQ(progress->foundCount.load(), 2u);
    EXPECT_EQ(result.info.value(u"KZResultFoundDeads"_s).toList().size(), 2);
}

TEST_F(LibraryPasses, LeftOutMusicItemsAreNeitherComparedNorMissed)
{
    writeMusicLibrary();
    dir.write("Folder/x1", randomBytes(3000, 9));
    dir.write("Folder/x2", randomBytes(3000, 9));
    // The media folder searched as a plain folder: its library files are
    // left out, and the missing tracks are not asked about.
    const SearchResult result = runSearchAnswering({folderSource(media), folderSource(folder)},
                                                leavingOut(sizeAndContentCriteria(), 1));
    EXPECT_EQ(groupSet(result.rows), (Groups{{folder / "x1", folder / "x2"}}));
    EXPECT_EQ(questions(), 0u);
    EXPECT_TRUE(result.info.value(u"KZResultFoundDeads"_s).toList().isEmpty());
}

// Reading a left-out library comes first and says so; a stop while it is
// read ends the search before any source is opened.
TEST_F(LibraryPasses, LeavingALibraryOutIsTheFirstStepAndAStopThereFindsNothing)
{
    writeMusicLibrary();
    dir.write("Folder/x1", randomBytes(3000, 9));
    dir.write("Folder/x2", randomBytes(3000, 9));
    const QString gathering = platform::localizedString(u"gathering_excluded"_s);
    const QString scanning = platform::localizedString(u"scanning"_s);
    ASSERT_NE(gathering, u"gathering_excluded"_s) << "the step has a text";

    auto plain = std::make_shared<RecordingProgress>();
    runSearchAnswering({folderSource(folder)}, sizeAndContentCriteria(), {.progress = plain});
    EXPECT_FALSE(plain->titles.contains(gathering)) << "nothing is left out, so nothing is gathered";

    auto leaving = std::make_shared<RecordingProgress>();
    const SearchResult found
        = runSearchAnswering({folderSource(folder)}, leavingOut(sizeAndContentCriteria(), 1), {.progress = leaving});
    EXPECT_EQ(groupSet(found.rows), (Groups{{folder / "x1", folder / "x2"}}));
    ASSERT_GE(leaving->titles.size(), 2);
    EXPECT_EQ(leaving->titles.mid(0, 2), (QStringList{gathering, scanning}));

    auto stopped = std::make_shared<RecordingProgress>();
    stopped->stopped = true;
    const SearchResult none
        = runSearchAnswering({folderSource(folder)}, leavingOut(sizeAndContentCriteria(), 1), {.progress = stopped});
    ASSERT_EQ(none.notifications, 1);
    EXPECT_TRUE(none.info.value(u"KZResultSearchWasStoppedByUser"_s).toBool());
    EXPECT_TRUE(none.rows.empty());
    EXPECT_EQ(none.info.value(u"KZResultFoundItemsCount"_s).toULongLong(), 0u);
    EXPECT_EQ(none.info.value(u"KZResultCheckedItemsCount"_s).toULongLong(), 0u);
    EXPECT_EQ(stopped->titles, QStringList{gathering}) << "no source was scanned";
}

TEST_F(LibraryPasses, PhotoLibrariesOfAnySizeSearchEachImageOnce)
{
    for (int count : {0, 1, 2, 5}) {
        SCOPED_TRACE(count);
        kztest::TempDir here;
        kztest::PhotosLibraryBuilder builder(here / "Pictures.photoslibrary");
        builder.album(u"A1"_s, u"One"_s).album(u"A2"_s, u"Two"_s);
        for (int i = 0; i < count; ++i)
            builder.image(u"img%1"_s.arg(i), "2024/p" + std::to_string(i) + ".bmp", u"A1"_s, 20 + 10 * i);
        if (count > 0)
            builder.sortOrder(u"A2"_s, u"img0"_s); // one image in two albums
        const fs::path package = builder.build();
        const fs::path copies = here.mkdir("Copies");
        Groups expected;
        for (int i = 0; i < count; ++i) {
            const fs::path image = package / "Masters/2024" / ("p" + std::to_string(i) + ".bmp");
            fs::copy_file(image, copies / image.filename());
            expected.insert({image, copies / image.filename()});
        }
        const SearchResult result
            = runSearchAnswering({photosSource(package), folderSource(copies)}, sizeAndContentCriteria());
        EXPECT_EQ(groupSet(result.rows), expected);
        EXPECT_EQ(result.rows.size(), 2u * std::size_t(count)); // no image filed twice
        for (const FoundRow& row : result.rows) {
            if (row.path.parent_path() == copies)
                continue;
            EXPECT_EQ(row.owner, KZAppSuppInfo::Photos);
            EXPECT_EQ(row.trackID, u"img"_s + QString::fromStdString(row.path.stem().string()).mid(1));
        }
        EXPECT_EQ(result.info.value(u"KZPhotosDatabaseWasNotFound"_s).toBool(), count == 0);
    }
}

TEST_F(LibraryPasses, LeftOutPhotosFillTheLibraryTreeAndAFolderScanSkipsThem)
{
    const fs::path package = kztest::PhotosLibraryBuilder(dir / "P.photoslibrary")
                                 .image(u"i1"_s, "p1.bmp", std::nullopt, 30)
                                 .image(u"i2"_s, "p2.bmp", std::nullopt, 30)
                                 .build();
    // Masters searched as a folder holds two equal images; so does Folder.
    dir.write("Folder/x1", randomBytes(3000, 9));
    dir.write("Folder/x2", randomBytes(3000, 9));
    const SearchResult result = runSearchAnswering({folderSource(package / "Masters"), folderSource(folder)},
                                                leavingOut(sizeAndContentCriteria(), 5, package));
    EXPECT_EQ(groupSet(result.rows), (Groups{{folder / "x1", folder / "x2"}}));
}

TEST_F(LibraryPasses, LinksAndFoldersInMastersAreNoImages)
{
    kztest::PhotosLibraryBuilder builder(dir / "P.photoslibrary");
    builder.image(u"i1"_s, "p1.bmp", std::nullopt, 30)
        .image(u"i2"_s, "p2.bmp", std::nullopt, 30)
        .image(u"i3"_s, "p3.bmp", std::nullopt, 30);
    const fs::path package = builder.build();
    fs::remove(package / "Masters/p2.bmp");
    fs::create_symlink(package / "Masters/p1.bmp", package / "Masters/p2.bmp");
    fs::remove(package / "Masters/p3.bmp");
    fs::create_directory(package / "Masters/p3.bmp");
    fs::copy_file(package / "Masters/p1.bmp", folder / "p1.bmp");
    const SearchResult result = runSearchAnswering({photosSource(package), folderSource(folder)}, sizeAndContentCriteria());
    EXPECT_EQ(groupSet(result.rows), (Groups{{package / "Masters/p1.bmp", folder / "p1.bmp"}}));
}

TEST_F(LibraryPasses, StopDuringEitherPassEndsTheSearchPromptly)
{
    kztest::PhotosLibraryBuilder photos(dir / "Big.photoslibrary");
    kztest::MusicLibraryBuilder music(media);
    for (int i = 0; i < 300; ++i) {
        photos.image(u"i%1"_s.arg(i), "p" + std::to_string(i) + ".bmp", std::nullopt, i % 200);
        const fs::path track = dir.write("Media/t" + std::to_string(i), randomBytes(100, unsigned(i % 50)));
        music.fileTrack(quint64(i + 1), quint64(i + 1), track, u"T"_s);
    }
    const fs::path package = photos.build();
    music.write(exportFile);
    for (const KZSourceItemRef& source : {photosSource(package), musicSource(media)}) {
        auto progress = std::make_shared<RecordingProgress>();
        progress->stopAfterToCheck = 20;
        const SearchResult result = runSearchAnswering({source}, sizeAndContentCriteria(), {.progress = progress});
        EXPECT_TRUE(result.info.value(u"KZResultSearchWasStoppedByUser"_s).toBool());
        EXPECT_LT(result.info.value(u"KZResultItemsToCheckCount"_s).toULongLong(), 300u);
    }
}
