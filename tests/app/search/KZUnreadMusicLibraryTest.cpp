#include "app/search/KZSearchPreparation.h"

#include "app/search/KZSourcesCntrl.h"
#include "engine/EngineTestSupport.h"
#include "media/KZiTunesSupport.h"
#include "platform/Paths.h"
#include "platform/UserDefaults.h"
#include "services/KZMusicLibraryFolders.h"
#include "settings/KZDefaultsKeys.h"

#include "SearchTestSupport.h"
#include "TestSupport.h"
#include "UnreadExports.h"

#include <QFile>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

using namespace searchtest;
namespace fs = std::filesystem;

namespace {

using kztest::UnreadExport;

// The user's music library as the program finds it, through the default
// that names its export, Music/Library/Library.xml, which cannot be read.
// Its media folder, Music/Library/Media, holds a pair of songs; a pair of
// plain files lies beside the library.
struct UnreadMusicLibrary {
    kztest::TempDir dir;
    kztest::ScopedDefaults defaults;
    fs::path music = dir.mkdir("Music");
    fs::path library = dir.mkdir("Music/Library");
    fs::path media = dir.mkdir("Music/Library/Media");

    UnreadMusicLibrary(UnreadExport form, bool namesMedia)
    {
        KZiTunesSupport::setSharedControl(nullptr);
        const fs::path file = kztest::writeUnreadExport(library / "Library.xml", form, namesMedia ? media : fs::path());
        defaults->setValue(KZDefaultsKey::iTunes_library_path, QFile::decodeName(file.c_str()));
        KZiTunesSupport::installMediaFolderProvider();
        dir.write("Music/Library/Media/a.mp3", "song");
        dir.write("Music/Library/Media/Album/b.mp3", "song");
        dir.write("Music/Library/c.mp3", "song");
        dir.write("Music/x.txt", "plain");
        dir.write("plain/x.txt", "plain");
    }
    ~UnreadMusicLibrary()
    {
        KZFilesUtilities::setiTunesFolderProvider({});
        KZMusicLibraryFolders::setUnreadLibraryProvider({});
        KZiTunesSupport::setSharedControl(nullptr);
    }
    fs::path exportFile() const { return library / "Library.xml"; }
};

KZSourceItemRef sourceAt(const fs::path& path)
{
    return KZSourceItem::create({{QStringLiteral("url"), QVariant::fromValue(path)}});
}

// What a search prepared as the program prepares it finds, by path.
std::vector<fs::path> searched(const KZSearchStuff& request)
{
    enginetest::SearchOptions options;
    options.excludedLocations = request.exludedByLocation();
    std::vector<fs::path> found;
    for (const enginetest::FoundRow& row :
         enginetest::runSearchAnswering(request.sources(), enginetest::sizeAndContentCriteria(), options).rows)
        found.push_back(row.path);
    std::sort(found.begin(), found.end());
    return found;
}

struct Case {
    const char* name;
    UnreadExport form;
    bool namesMedia;
};

class UnreadMusicLibrarySearch : public ::testing::TestWithParam<Case> {};

// While the export cannot be read, what stands for its media folder stays
// out of a search of a folder that holds it, as the media folder of a
// library that is read does: the media folder its head names, else the
// folder that holds the export. The refusal is told once, naming the file.
TEST_P(UnreadMusicLibrarySearch, LeavesTheLibraryOutAndSaysWhyOnce)
{
    const Case& c = GetParam();
    AlertScope alerts;
    UnreadMusicLibrary lib(c.form, c.namesMedia);
    const fs::path keptOut = c.namesMedia ? lib.media : lib.library;

    for (int search = 0; search < 2; ++search) {
        KZSourcesCntrl cntrl;
        cntrl.addSavedSources({sourceAt(lib.music), sourceAt(lib.dir / "plain")});
        const auto outcome = KZSearchPreparation::prepare(cntrl, false, true);
        ASSERT_TRUE(outcome.proceed);
        const std::vector<fs::path> found = searched(*outcome.request);
        EXPECT_TRUE(std::none_of(found.begin(), found.end(),
                                 [&keptOut](const fs::path& path) { return platform::isInsideFolder(path, keptOut); }))
            << "a file of the library was searched as a plain file";
        EXPECT_TRUE(std::find(found.begin(), found.end(), lib.dir / "plain/x.txt") != found.end());
        const auto places = KZSearchPreparation::musicLibraryExclusions(*outcome.request);
        EXPECT_TRUE(std::find(places.begin(), places.end(), keptOut) != places.end())
            << "a reopened result leaves the library's files out too";
    }
    const QString file = QFile::decodeName(lib.exportFile().c_str());
    EXPECT_EQ(alerts.presenter->count(file), 1) << "the refusal is told once, naming the file";
    for (const auto& alert : alerts.presenter->shown) {
        if (alert.messageText.contains(file)) {
            EXPECT_TRUE(alert.messageText.startsWith(QStringLiteral("The music library was not read.")));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Forms, UnreadMusicLibrarySearch,
                         ::testing::Values(Case{"BrokenNamingItsMediaFolder", UnreadExport::Broken, true},
                                           Case{"OverTheLimitNamingItsMediaFolder", UnreadExport::OverLimit, true},
                                           Case{"BrokenNamingNone", UnreadExport::Broken, false},
                                           Case{"Fifo", UnreadExport::Fifo, false}),
                         [](const auto& param) { return std::string(param.param.name); });

// The folder that stands for an unread library's media folder, or one inside
// it, chosen as a source, is no plain folder either: nothing in it is found.
TEST(UnreadMusicLibrarySource, IsNotSearchedAsAPlainFolder)
{
    for (const char* chosen : {"Music/Library", "Music/Library/Media"}) {
        SCOPED_TRACE(chosen);
        AlertScope alerts;
        UnreadMusicLibrary lib(UnreadExport::Fifo, false);
        KZSourcesCntrl cntrl;
        cntrl.addSavedSources({sourceAt(lib.dir / chosen), sourceAt(lib.dir / "plain")});
        const auto outcome = KZSearchPreparation::prepare(cntrl, false, true);
        ASSERT_TRUE(outcome.proceed);
        const std::vector<fs::path> found = searched(*outcome.request);
        EXPECT_TRUE(std::none_of(found.begin(), found.end(), [&lib](const fs::path& path) {
            return platform::isInsideFolder(path, lib.library);
        }));
    }
}

// A folder that directly holds the media folder an unread export names is
// searched as a plain folder, its plain files found, the media folder alone
// left out; the music library is no source of the search then.
TEST(UnreadMusicLibrarySource, HoldingTheNamedMediaFolderIsSearchedWithoutIt)
{
    {
        AlertScope alerts;
        UnreadMusicLibrary lib(UnreadExport::Broken, true);
        lib.dir.write("Music/Library/Other/c.mp3", "song");
        KZSourcesCntrl cntrl;
        cntrl.addSavedSources({sourceAt(lib.library)});
        const auto outcome = KZSearchPreparation::prepare(cntrl, false, true);
        ASSERT_TRUE(outcome.proceed);
        ASSERT_EQ(outcome.request->sources().size(), 1u);
        EXPECT_EQ(outcome.request->sources().front()->iTunesLibValue(), 0);
        EXPECT_FALSE(outcome.watchLibraries);
        const std::vector<fs::path> found = searched(*outcome.request);
        EXPECT_EQ(found, (std::vector<fs::path>{lib.library / "Other/c.mp3", lib.library / "c.mp3"}));
        const auto places = KZSearchPreparation::musicLibraryExclusions(*outcome.request);
        EXPECT_TRUE(std::find(places.begin(), places.end(), lib.media) != places.end());
    }
}

// What can be learned of an unread export's media folder stays out of a
// search of a folder that holds it: the folder its "Music Folder" entry
// names after the tracks, or, where the entry is damaged, the music
// application's default media folder beside a library kept elsewhere.
TEST(UnreadMusicLibrarySearch, LeavesOutTheMediaFolderNamedLateOrTheDefaultOne)
{
    using kztest::LateEntry;
    for (const LateEntry where : {LateEntry::AfterTheTracks, LateEntry::DamagedHead}) {
        SCOPED_TRACE(int(where));
        AlertScope alerts;
        UnreadMusicLibrary lib(UnreadExport::Fifo, false);
        const kztest::EnvGuard home("HOME");
        ::setenv("HOME", lib.dir.path().c_str(), 1);
        const fs::path keptOut = where == LateEntry::AfterTheTracks ? lib.dir.mkdir("Elsewhere/Media")
                                                                    : lib.dir.mkdir("Music/iTunes/iTunes Media");
        fs::remove(lib.exportFile());
        kztest::writeExportWithLateEntry(lib.exportFile(), where, lib.dir / "Elsewhere/Media");
        std::ofstream(keptOut / "d.mp3") << "song";
        lib.dir.write("plain/d.mp3", "song");
        KZSourcesCntrl cntrl;
        cntrl.addSavedSources({sourceAt(lib.dir.path())});
        const auto outcome = KZSearchPreparation::prepare(cntrl, false, true);
        ASSERT_TRUE(outcome.proceed);
        const std::vector<fs::path> found = searched(*outcome.request);
        EXPECT_TRUE(std::find(found.begin(), found.end(), lib.dir / "plain/x.txt") != found.end());
        EXPECT_TRUE(std::none_of(found.begin(), found.end(),
                                 [&keptOut](const fs::path& path) { return platform::isInsideFolder(path, keptOut); }));
    }
}

} // namespace
