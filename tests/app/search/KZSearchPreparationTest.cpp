#include "app/search/KZSearchPreparation.h"

#include "app/search/KZSourcesCntrl.h"
#include "engine/KZItemReader.h"
#include "settings/KZSearchCriteria.h"
#include "platform/StringTable.h"

#include "SearchTestSupport.h"
#include "TestSupport.h"

#include <QScopeGuard>

#include <gtest/gtest.h>

#include <algorithm>

using namespace searchtest;
using namespace Qt::StringLiterals;
namespace fs = std::filesystem;

namespace {

// root/Music/Library/Media: the music library's media folder and its
// parents, as the start check knows them.
struct MusicLibrary {
    kztest::TempDir dir;
    fs::path music = dir.mkdir("Music");
    fs::path library = dir.mkdir("Music/Library");
    fs::path media = dir.mkdir("Music/Library/Media");
    MusicLibrary()
    {
        KZFilesUtilities::setiTunesFolderProvider([m = media] { return m; });
    }
    ~MusicLibrary() { KZFilesUtilities::setiTunesFolderProvider({}); }
};

KZSourceItemRef sourceAt(const fs::path& path)
{
    return KZSourceItem::create({{QStringLiteral("url"), QVariant::fromValue(path)}});
}

bool contains(const std::vector<fs::path>& list, const fs::path& path)
{
    return std::find(list.begin(), list.end(), path) != list.end();
}

// What the scan consults: the request's exclusions as the engine reads them.
KZItemReader scanReader(const KZSearchStuff& request)
{
    static const KZSearchCriteria criteria;
    return KZItemReader(criteria, request.exludedByLocation(), request.exclLocsCount(), nullptr,
                        KZFilesUtilities::sharedControl());
}

QString errorText(const char* key)
{
    return platform::localizedString(QString::fromUtf8(key), QStringLiteral("Errors"));
}

TEST(SearchPreparation, AsksAboutTheLastSourceFirstAndDropsTheMediaFolder)
{
    AlertScope alerts;
    MusicLibrary lib;
    KZSourcesCntrl cntrl;
    cntrl.addSavedSources({sourceAt(lib.media), sourceAt(lib.music)});

    const auto outcome = KZSearchPreparation::prepare(cntrl, false, true);

    ASSERT_EQ(alerts.presenter->shown.size(), 2u);
    EXPECT_EQ(alerts.presenter->shown[0].informativeText, errorText("ignore_iTunes_source_msg"));
    EXPECT_EQ(alerts.presenter->shown[1].informativeText, errorText("remove_wrong_iTunes_source_msg"));
    // Each name stands where it belongs: the library's folder, then the source.
    const auto quoted = [](const fs::path& path) -> QString { return u'\u201c' + QString::fromStdString(path.string()) + u'\u201d'; };
    EXPECT_EQ(alerts.presenter->shown[0].messageText, u"The music library in "_s + quoted(lib.library)
                                                          + u" keeps its media in "_s + quoted(lib.music)
                                                          + u" or in a folder inside it."_s);
    EXPECT_EQ(alerts.presenter->shown[1].messageText, u"The music library in "_s + quoted(lib.library)
                                                          + u" keeps its media in "_s + quoted(lib.media)
                                                          + u" or in a folder inside it."_s);
    ASSERT_TRUE(outcome.proceed);
    ASSERT_EQ(cntrl.sources().size(), 1u);
    EXPECT_EQ(cntrl.sources()[0]->path(), lib.music);
    EXPECT_TRUE(contains(outcome.request->exludedByLocation(), lib.media));
    EXPECT_EQ(outcome.request->sources().size(), 1u);
}

// Stopping the checks takes the source asked about off and searches the
// sources not yet checked as they are: no question about them, no library
// treatment, but what the user left out of them stays out. The buttons say
// which answer does what.
TEST(SearchPreparation, StoppingTheChecksSearchesTheSourcesLeftUnchecked)
{
    for (const bool mediaFolderAsked : {true, false}) {
        SCOPED_TRACE(mediaFolderAsked ? "the media folder itself" : "two levels above it");
        AlertScope alerts;
        MusicLibrary lib;
        const fs::path plain = lib.dir.mkdir("plain");
        const auto unchecked = sourceAt(plain);
        unchecked->addExcluded(lib.dir.mkdir("plain/private"));
        const auto libraryFolder = sourceAt(lib.library);
        KZSourcesCntrl cntrl;
        cntrl.addSavedSources({libraryFolder, unchecked, sourceAt(mediaFolderAsked ? lib.media : lib.music)});
        alerts.presenter->answers = {KZErrorDelegate::SecondButton};

        const auto outcome = KZSearchPreparation::prepare(cntrl, false, true);

        ASSERT_EQ(alerts.presenter->shown.size(), 1u) << "nothing asked about the sources left";
        EXPECT_EQ(alerts.presenter->shown[0].buttonTitles,
                  (QStringList{u"Continue Checking"_s, u"Stop Checking"_s, QString()}));
        ASSERT_TRUE(outcome.proceed) << "the sources left are searched";
        ASSERT_EQ(cntrl.sources().size(), 2u) << "the source asked about is taken off";
        EXPECT_EQ(outcome.request->sources(), (std::vector<KZSourceItemRef>{libraryFolder, unchecked}));
        EXPECT_EQ(libraryFolder->iTunesLibValue(), 0) << "not checked, so not taken for the music library";
        EXPECT_FALSE(outcome.watchLibraries);
        const KZItemReader reader = scanReader(*outcome.request);
        EXPECT_TRUE(reader.isExcluded(plain / "private", nullptr));
    }
}

// A source whose name holds "iTunes", with no music library anywhere: the
// question names the source as what is left out and why, names no library,
// and says what each button does. Continue keeps the source and searches
// nothing in it; Stop takes it off and searches the others unchecked.
TEST(SearchPreparation, ASourceNamedForTheMediaFolderIsSaidToBeLeftOutWhole)
{
    for (const bool goOn : {true, false}) {
        SCOPED_TRACE(goOn ? "continue checking" : "stop checking");
        AlertScope alerts;
        KZFilesUtilities::setiTunesFolderProvider([] { return fs::path(); });
        const auto noLibrary = qScopeGuard([] { KZFilesUtilities::setiTunesFolderProvider({}); });
        kztest::TempDir dir;
        const fs::path named = dir.mkdir("My iTunes");
        dir.write("My iTunes/song.mp3", "x");
        const auto plain = sourceAt(dir.mkdir("plain"));
        const auto source = sourceAt(named);
        KZSourcesCntrl cntrl;
        cntrl.addSavedSources({plain, source});
        alerts.presenter->answers = {goOn ? KZErrorDelegate::FirstButton : KZErrorDelegate::SecondButton};

        const auto outcome = KZSearchPreparation::prepare(cntrl, false, true);

        ASSERT_EQ(alerts.presenter->shown.size(), 1u);
        const auto& asked = alerts.presenter->shown[0];
        EXPECT_EQ(asked.messageText, u'\u201c' + QString::fromStdString(named.string())
                                         + u"\u201d is left out of this search, because its name holds \u201ciTunes\u201d."_s);
        EXPECT_FALSE(asked.messageText.contains(u"\u201c\u201d"_s)) << "no empty library name";
        EXPECT_EQ(asked.informativeText, errorText("iTunes_named_source_msg"));
        for (const QString& said : {u"Continue Checking keeps the source"_s, u"searches nothing in it"_s,
                                    u"Stop Checking takes this source off"_s})
            EXPECT_TRUE(asked.informativeText.contains(said)) << said.toStdString();
        ASSERT_TRUE(outcome.proceed);
        EXPECT_EQ(cntrl.sources().size(), goOn ? 2u : 1u);
        const KZItemReader reader = scanReader(*outcome.request);
        if (goOn) {
            EXPECT_TRUE(reader.isExcluded(named, nullptr)) << "the whole source, as the question says";
        }
        EXPECT_FALSE(reader.isExcluded(dir / "plain", nullptr));
    }
}

TEST(SearchPreparation, TheOnlySourceRefusedStartsNothing)
{
    AlertScope alerts;
    MusicLibrary lib;
    KZSourcesCntrl cntrl;
    cntrl.addSavedSources({sourceAt(lib.media)});

    const auto outcome = KZSearchPreparation::prepare(cntrl, false, true);

    EXPECT_FALSE(outcome.proceed);
    EXPECT_TRUE(cntrl.sources().empty());
    ASSERT_EQ(alerts.presenter->shown.size(), 1u);
    EXPECT_EQ(alerts.presenter->shown[0].informativeText, errorText("remove_wrong_iTunes_source_msg"));
}

TEST(SearchPreparation, WithoutInterfaceNothingIsAsked)
{
    AlertScope alerts;
    MusicLibrary lib;
    KZSourcesCntrl cntrl;
    cntrl.addSavedSources({sourceAt(lib.media), sourceAt(lib.music)});
    const auto outcome = KZSearchPreparation::prepare(cntrl, false, false);
    EXPECT_TRUE(alerts.presenter->shown.empty());
    EXPECT_TRUE(outcome.proceed);
    EXPECT_EQ(cntrl.sources().size(), 1u);
}

TEST(SearchPreparation, SwitchPicksTheSearchType)
{
    AlertScope alerts;
    kztest::TempDir dir;
    for (const bool folders : {false, true}) {
        KZSourcesCntrl cntrl;
        cntrl.addSavedSources({sourceAt(dir.mkdir("a"))});
        const auto outcome = KZSearchPreparation::prepare(cntrl, folders, true);
        ASSERT_TRUE(outcome.proceed);
        EXPECT_EQ(outcome.request->searchType(), folders ? KZSearchStuff::duplicateFolders : KZSearchStuff::duplicateFiles);
    }
}

TEST(SearchPreparation, SourceExclusionsJoinTheGlobalOnes)
{
    AlertScope alerts;
    kztest::TempDir dir;
    const auto system = KZFilesUtilities::sharedControl().visibleSystemPaths();
    ASSERT_FALSE(system.empty());
    const auto source = sourceAt(dir.mkdir("src"));
    source->addExcluded(dir.mkdir("src/skip"));
    KZSourcesCntrl cntrl;
    cntrl.addSavedSources({source});

    const auto outcome = KZSearchPreparation::prepare(cntrl, false, true);

    ASSERT_TRUE(outcome.proceed);
    const auto excluded = outcome.request->exludedByLocation();
    EXPECT_TRUE(contains(excluded, dir / "src/skip"));
    EXPECT_TRUE(contains(excluded, system.front()));
    EXPECT_FALSE(outcome.watchLibraries);
}

// A source nested in another was excluded from the outer one by the last
// search itself: the next start leaves it out of the outer source only, as
// that search will again, never out of every source, which would hide the
// nested source's own items.
TEST(SearchPreparation, ASearchsOwnExclusionsStayOutOfTheGlobalOnes)
{
    AlertScope alerts;
    kztest::TempDir dir;
    const auto outer = sourceAt(dir.mkdir("Main"));
    const auto nested = sourceAt(dir.mkdir("Main/Music"));
    outer->addExcluded(dir.mkdir("Main/skip"));
    outer->addExcludedProgramatically(dir / "Main/Music");
    KZSourcesCntrl cntrl;
    cntrl.addSavedSources({outer, nested});

    const auto outcome = KZSearchPreparation::prepare(cntrl, false, true);

    ASSERT_TRUE(outcome.proceed);
    const auto excluded = outcome.request->exludedByLocation();
    EXPECT_TRUE(contains(excluded, dir / "Main/skip"));
    EXPECT_FALSE(contains(excluded, dir / "Main/Music"));
    EXPECT_EQ(outcome.request->sources().size(), 2u);
}

struct MediaCase {
    const char* name;
    bool libraryFolderIsSource;
    bool mediaExcluded;
    bool watch;
};

class MediaFolderExclusion : public ::testing::TestWithParam<MediaCase> {};

TEST_P(MediaFolderExclusion, FollowsTheLibraryFolder)
{
    const MediaCase& c = GetParam();
    AlertScope alerts;
    MusicLibrary lib;
    KZSourcesCntrl cntrl;
    const fs::path plain = lib.dir.mkdir("plain");
    if (c.libraryFolderIsSource)
        cntrl.addSavedSources({sourceAt(lib.library), sourceAt(plain)});
    else
        cntrl.addSavedSources({sourceAt(plain)});

    const auto outcome = KZSearchPreparation::prepare(cntrl, false, true);
    ASSERT_TRUE(outcome.proceed);
    EXPECT_EQ(contains(outcome.request->exludedByLocation(), lib.media), c.mediaExcluded);
    EXPECT_EQ(outcome.watchLibraries, c.watch);
    EXPECT_TRUE(alerts.presenter->shown.empty());
}

INSTANTIATE_TEST_SUITE_P(Cases, MediaFolderExclusion,
                         ::testing::Values(MediaCase{"PlainFolder", false, true, false},
                                           MediaCase{"LibraryFolderFirst", true, false, true}),
                         [](const auto& param) { return std::string(param.param.name); });

// Every location the start leaves out is one the scan leaves out: a
// source's own excluded folder, the media folder of a source two levels
// above it, a source whose name holds "iTunes" and the media folder when the
// music library is no source, all appended around the global ones.
TEST(SearchPreparation, TheScanLeavesOutEveryLocationTheStartLeftOut)
{
    AlertScope alerts;
    MusicLibrary lib;
    const auto plain = sourceAt(lib.dir.mkdir("plain"));
    plain->addExcluded(lib.dir.mkdir("plain/private"));
    const fs::path named = lib.dir.mkdir("old iTunes");
    KZSourcesCntrl cntrl;
    cntrl.addSavedSources({plain, sourceAt(lib.music), sourceAt(named)});

    const auto outcome = KZSearchPreparation::prepare(cntrl, false, true);
    ASSERT_TRUE(outcome.proceed);
    EXPECT_EQ(alerts.presenter->shown.size(), 2u);

    const KZItemReader reader = scanReader(*outcome.request);
    for (const fs::path& location : {lib.dir / "plain/private", lib.media, named})
        EXPECT_TRUE(reader.isExcluded(location, nullptr)) << location;
    EXPECT_FALSE(reader.isExcluded(lib.dir / "plain", nullptr));
    for (const fs::path& system : KZFilesUtilities::sharedControl().visibleSystemPaths())
        EXPECT_TRUE(reader.isExcluded(system, nullptr)) << system;

    // Also when the only thing appended is the media folder, after the rest.
    KZSourcesCntrl alone;
    alone.addSavedSources({sourceAt(lib.dir / "plain")});
    const auto onlyMedia = KZSearchPreparation::prepare(alone, false, true);
    ASSERT_TRUE(onlyMedia.proceed);
    EXPECT_TRUE(scanReader(*onlyMedia.request).isExcluded(lib.media, nullptr));
}

// The question about the media folder is skipped only where the user has
// left that folder out already; a folder merely named for the library
// leaves the media folder in, so the user is asked. Either way the media
// folder is left out.
TEST(SearchPreparation, UserExclusionNamedForTheLibrarySkipsOnlyTheQuestion)
{
    struct Case {
        const char* excluded;
        bool asked;
    };
    for (const Case& c : {Case{"Music/Library/Media", false}, Case{"Music/Library", false},
                          Case{"Music/iTunes old", true}}) {
        SCOPED_TRACE(c.excluded);
        AlertScope alerts;
        MusicLibrary lib;
        const auto source = sourceAt(lib.music);
        source->addExcluded(lib.dir.mkdir(c.excluded));
        KZSourcesCntrl cntrl;
        cntrl.addSavedSources({source});

        const auto outcome = KZSearchPreparation::prepare(cntrl, false, true);
        ASSERT_TRUE(outcome.proceed);
        ASSERT_EQ(alerts.presenter->shown.size(), c.asked ? 1u : 0u);
        if (c.asked) {
            EXPECT_EQ(alerts.presenter->shown[0].informativeText, errorText("ignore_iTunes_source_msg"));
        }
        EXPECT_TRUE(contains(outcome.request->exludedByLocation(), lib.media));
    }
}

// A source whose own name holds "iTunes", with one of its subfolders (named
// for the library too) ticked in its exclusion list: the whole source is
// still left out, so the user is asked, with or without a music library;
// without a question the search would end on nothing checked in silence.
TEST(SearchPreparation, ASourceLeftOutWholeIsAlwaysToldWhateverItExcludes)
{
    for (const bool withLibrary : {false, true}) {
        SCOPED_TRACE(withLibrary ? "a music library elsewhere" : "no music library");
        AlertScope alerts;
        MusicLibrary lib;
        if (!withLibrary)
            KZFilesUtilities::setiTunesFolderProvider([] { return fs::path(); });
        const fs::path named = lib.dir.mkdir("Old iTunes");
        lib.dir.write("Old iTunes/a.mp3", "pair");
        lib.dir.write("Old iTunes/b.mp3", "pair");
        const auto source = sourceAt(named);
        source->addExcluded(lib.dir.mkdir("Old iTunes/iTunes Media"));
        KZSourcesCntrl cntrl;
        cntrl.addSavedSources({source});

        const auto outcome = KZSearchPreparation::prepare(cntrl, false, true);

        ASSERT_EQ(alerts.presenter->shown.size(), 1u) << "a whole source is never left out in silence";
        EXPECT_EQ(alerts.presenter->shown[0].informativeText, errorText("iTunes_named_source_msg"));
        ASSERT_TRUE(outcome.proceed);
        EXPECT_TRUE(scanReader(*outcome.request).isExcluded(named, nullptr));
    }
}

} // namespace
