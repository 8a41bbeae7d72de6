#include "RemovalTestSupport.h"

#include "UnreadExports.h"
#include "support/MusicFolderShapes.h"
#include "engine/KZAppSuppInfo.h"
#include "media/KZiTunesSupport.h"
#include "removal/KZRemoveCntrl.h"
#include "services/KZFilesUtilities.h"
#include "services/KZMusicLibraryFolders.h"

#include <QFile>

#include <gtest/gtest.h>

using namespace removaltest;

namespace {

// Two groups: a track of the music library with a loose copy beside it, and
// a pair of plain files. The track and one of the pair are marked.
struct MusicFixture : Fixture {
    KZFoundItemArray all;
    KZFoundItemRef track, plain;

    MusicFixture()
    {
        all = modeltest::makeItems(
            {{.path = dir.write("Music/iTunes Media/a.mp3", "song"), .group = 1, .marked = true,
              .owner = KZAppSuppInfo::ITunes},
             {.path = dir.write("loose/a.mp3", "song"), .group = 1},
             {.path = dir.write("docs/x", "plain"), .group = 2, .marked = true},
             {.path = dir.write("keep/x", "plain"), .group = 2}});
        all[0]->setTrackID(QStringLiteral("00FF00FF00FF00FF"));
        track = all[0];
        plain = all[2];
    }
    std::shared_ptr<KZRemove> run()
    {
        auto removal = engine({track, plain}, all);
        removal->doMove();
        return removal;
    }
    void expectTrackStayed(const KZRemove& removal) const
    {
        EXPECT_EQ(kztest::readFile(track->url()), "song");
        EXPECT_EQ(removal.outcomeOf(track), QStringLiteral("music_not_removed"));
        EXPECT_EQ(removal.tally().musicKept, 1u);
        EXPECT_TRUE(removal.itunesUndo().empty());
        const auto removed = removal.removedArray().value_or(KZFoundItemArray{});
        EXPECT_FALSE(removed.contains(track));
        EXPECT_FALSE(track->isRemoved());
        for (const auto& [op, path] : fs->calls)
            EXPECT_NE(path, track->url()) << op << " was asked for the track";
    }
};

} // namespace

TEST(KZRemoveMusic, ATrashLeavesTheTrackInItsLibraryAndSaysWhy)
{
    emptyTrash();
    MusicFixture f;
    const auto removal = f.run();
    f.expectTrackStayed(*removal);
    // The other marked item is not held back by the track.
    EXPECT_FALSE(fs::exists(f.plain->recordedURL()));
    EXPECT_EQ(removal->tally().trashed, 1u);
    EXPECT_EQ(removal->removedArray().value_or(KZFoundItemArray{}), KZFoundItemArray{f.plain});
    ASSERT_EQ(removal->errorAlerts().size(), 1u);
    EXPECT_EQ(removal->errorAlerts()[0].key, QStringLiteral("music_not_removed_sing"));
    EXPECT_EQ(countIn(trashFiles()), 1u);
}

TEST(KZRemoveMusic, AMoveWithLinksLeavesTheTrackAndNoJobTakesIt)
{
    MusicFixture f;
    f.panel->isMoveToTrash = false;
    f.panel->isCreateAlias = true;
    const fs::path dest = f.dir.mkdir("dest");
    f.panel->urlToMove = dest;
    const auto removal = f.run();
    f.expectTrackStayed(*removal);
    EXPECT_EQ(removal->tally().moved, 1u);
    EXPECT_FALSE(fs::exists(dest / "Music"));
    // Handed to a job directly, as a tool might, the track still stays.
    for (const KZRemove::Job job : {KZRemove::TrashJob, KZRemove::MoveJob, KZRemove::CopyJob}) {
        MusicFixture g;
        KZRemove engine(g.panel, g.fs);
        EXPECT_EQ(engine.moveItems({g.track}, job, dest), 0) << job;
        g.expectTrackStayed(engine);
    }
    EXPECT_FALSE(fs::exists(dest / "Music"));
}

TEST(KZRemoveMusic, APermanentDeletionLeavesTheTracksAndCountsThemTogether)
{
    Fixture f;
    f.setLevel(0);
    const KZFoundItemArray all = modeltest::makeItems(
        {{.path = f.dir.write("Music/a.mp3", "song"), .group = 1, .marked = true, .owner = KZAppSuppInfo::ITunes},
         {.path = f.dir.write("Music/b.mp3", "song"), .group = 1, .marked = true, .owner = KZAppSuppInfo::ITunes},
         {.path = f.dir.write("docs/x", "plain"), .group = 2, .marked = true},
         {.path = f.dir.write("keep/x", "plain"), .group = 2}});
    f.fs->local = [](const fs::path&) { return std::optional<bool>(false); };
    f.alerts.presenter->script = [](const KZAlertPresenter::Alert&) {
        return KZAlertPresenter::Answer{KZAlertPresenter::SecondButton};
    };
    auto removal = f.engine({all[0], all[1], all[2]}, all);
    removal->doMove();
    EXPECT_TRUE(removal->thereAreShared.load());
    EXPECT_FALSE(fs::exists(f.dir / "docs/x"));
    EXPECT_EQ(removal->tally().deleted, 1u);
    EXPECT_EQ(kztest::readFile(f.dir / "Music/a.mp3"), "song");
    EXPECT_EQ(kztest::readFile(f.dir / "Music/b.mp3"), "song");
    EXPECT_EQ(removal->tally().musicKept, 2u);
    EXPECT_EQ(removal->tally().lastMember, 0u) << "a group of tracks alone is no last member: nothing of it goes";
    ASSERT_EQ(removal->errorAlerts().size(), 1u);
    EXPECT_EQ(removal->errorAlerts()[0].key, QStringLiteral("music_not_removed_plur"));
    EXPECT_EQ(removal->errorAlerts()[0].names, QStringList{QStringLiteral("2")});
}

// A removal of tracks alone asks nothing about the volume and ends with
// nothing told as removed.
TEST(KZRemoveMusic, TracksAloneAskNothingAndRemoveNothing)
{
    MusicFixture f;
    f.fs->local = [](const fs::path&) { return std::optional<bool>(false); };
    auto removal = f.engine({f.track}, f.all);
    removal->doMove();
    EXPECT_EQ(f.alerts.shown(), 0u);
    f.expectTrackStayed(*removal);
    EXPECT_EQ(KZRemoveCompletionText(removal->tally(), true), QStringLiteral("No item was removed."));
}

// The panel does not count a track among what will go.
TEST(KZRemoveMusic, ThePanelTellsTheTracksStayAndLeavesThemOutOfTheSize)
{
    MusicFixture f;
    const quint64 total = f.track->size() + f.plain->size();
    auto cntrl = KZRemoveCntrl::create({{QStringLiteral("itemsToRemove"), QVariant::fromValue(KZFoundItemArray{f.track, f.plain})},
                                        {QStringLiteral("size"), QVariant::fromValue<quint64>(total)}},
                                       nullptr);
    EXPECT_EQ(cntrl->musicItemsKept(), 1u);
    EXPECT_EQ(cntrl->totSize(), f.plain->size());
    EXPECT_TRUE(KZRemoveMusicNote(0).isEmpty());
    EXPECT_TRUE(KZRemoveMusicNote(1).startsWith(QStringLiteral("One marked track")));
    EXPECT_TRUE(KZRemoveMusicNote(3).startsWith(QStringLiteral("3 marked tracks")));
}

namespace {

// The user's music library, whose export at Music/Library/Library.xml cannot
// be read; the files of a plain search found in its folder, each with a copy
// outside it, and a plain pair elsewhere. Every one of them is marked.
struct UnreadLibraryFixture : Fixture {
    fs::path libraryFolder = dir.mkdir("Music/Library");
    fs::path media = dir.mkdir("Music/Library/Media");
    KZFoundItemArray all, inside;
    KZFoundItemRef plain;

    UnreadLibraryFixture(kztest::UnreadExport form, bool namesMedia)
    {
        KZiTunesSupport::setSharedControl(nullptr);
        KZiTunesSupport::setRefusalTeller([](const fs::path&, const QString&) {});
        const fs::path file = kztest::writeUnreadExport(libraryFolder / "Library.xml", form,
                                                        namesMedia ? media : fs::path());
        defaults->setValue(KZDefaultsKey::iTunes_library_path, QFile::decodeName(file.c_str()));
        KZiTunesSupport::installMediaFolderProvider();
        all = modeltest::makeItems(
            {{.path = dir.write("Music/Library/Media/a.mp3", "song"), .group = 1, .marked = true},
             {.path = dir.write("loose/a.mp3", "song"), .group = 1},
             {.path = dir.write("Music/Library/Media/Album/b.mp3", "other song"), .group = 2, .marked = true},
             {.path = dir.write("loose/b.mp3", "other song"), .group = 2},
             {.path = dir.write("docs/x", "plain"), .group = 3, .marked = true},
             {.path = dir.write("keep/x", "plain"), .group = 3}});
        inside = {all[0], all[2]};
        plain = all[4];
    }
    ~UnreadLibraryFixture()
    {
        KZFilesUtilities::setiTunesFolderProvider({});
        KZMusicLibraryFolders::setUnreadLibraryProvider({});
        KZiTunesSupport::setRefusalTeller({});
        KZiTunesSupport::setSharedControl(nullptr);
    }
    void expectInsideStayed(const KZRemove& removal) const
    {
        for (const KZFoundItemRef& item : inside) {
            EXPECT_TRUE(fs::exists(item->recordedURL())) << item->recordedURL();
            EXPECT_EQ(removal.outcomeOf(item), QStringLiteral("music_not_removed"));
            EXPECT_FALSE(item->isRemoved());
        }
        EXPECT_EQ(removal.tally().musicKept, inside.size());
    }
};

} // namespace

// A plain search made while the library could not be read (or a result
// saved then) names files of the library; no removal takes them, whichever
// way the export cannot be read, while the other marked items go.
TEST(KZRemoveMusic, AnUnreadLibraryKeepsEveryFileOfItsFolder)
{
    using kztest::UnreadExport;
    for (const auto& [form, namesMedia] : {std::pair{UnreadExport::Broken, true}, std::pair{UnreadExport::OverLimit, true},
                                           std::pair{UnreadExport::Fifo, false}, std::pair{UnreadExport::Broken, false}}) {
        SCOPED_TRACE(std::string(kztest::nameOf(form)) + (namesMedia ? " naming its media folder" : ""));
        emptyTrash();
        UnreadLibraryFixture f(form, namesMedia);
        auto removal = f.engine({f.all[0], f.all[2], f.plain}, f.all);
        removal->doMove();
        f.expectInsideStayed(*removal);
        EXPECT_FALSE(fs::exists(f.plain->recordedURL()));
        EXPECT_EQ(removal->tally().trashed, 1u);
        EXPECT_EQ(countIn(trashFiles()), 1u);
    }
}

// Moved, copied or linked, by the panel or a job handed the items directly,
// a file of the unread library stays; so does a folder that holds it.
TEST(KZRemoveMusic, AnUnreadLibraryKeepsItsFilesFromEveryJob)
{
    UnreadLibraryFixture f(kztest::UnreadExport::Fifo, false);
    f.panel->isMoveToTrash = false;
    f.panel->isCreateAlias = true;
    const fs::path dest = f.dir.mkdir("dest");
    f.panel->urlToMove = dest;
    auto removal = f.engine({f.all[0], f.all[2], f.plain}, f.all);
    removal->doMove();
    f.expectInsideStayed(*removal);
    EXPECT_EQ(removal->tally().moved, 1u);
    EXPECT_FALSE(fs::exists(dest / "Music"));

    for (const KZRemove::Job job : {KZRemove::TrashJob, KZRemove::MoveJob, KZRemove::CopyJob}) {
        UnreadLibraryFixture g(kztest::UnreadExport::Broken, true);
        KZRemove engine(g.panel, g.fs);
        engine.moveItems(g.inside, job, dest);
        g.expectInsideStayed(engine);
    }
    EXPECT_FALSE(fs::exists(dest / "Music"));

    // A folder found as a duplicate of another takes the library with it.
    UnreadLibraryFixture h(kztest::UnreadExport::Broken, false);
    h.dir.write("copy/Music/Library/Media/a.mp3", "song");
    const KZFoundItemArray folders = modeltest::makeItems(
        {{.path = h.dir / "Music", .group = 1, .marked = true, .isDirectory = true},
         {.path = h.dir / "copy/Music", .group = 1, .isDirectory = true}});
    auto folderRemoval = h.engine({folders[0]}, folders);
    folderRemoval->doMove();
    EXPECT_EQ(folderRemoval->outcomeOf(folders[0]), QStringLiteral("music_not_removed"));
    EXPECT_EQ(kztest::readFile(h.dir / "Music/Library/Media/a.mp3"), "song");
}

// A media folder the unread export names late keeps its files from a
// removal; where the export names none that can be read, the music
// application's default media folder does, wherever the export lies.
TEST(KZRemoveMusic, AnUnreadLibraryKeepsWhatCanBeLearnedOfItsMediaFolder)
{
    using kztest::LateEntry;
    for (const LateEntry where : {LateEntry::PastTheHead, LateEntry::DamagedHead}) {
        SCOPED_TRACE(int(where));
        emptyTrash();
        Fixture f;
        const kztest::EnvGuard home("HOME");
        ::setenv("HOME", f.dir.path().c_str(), 1);
        KZiTunesSupport::setSharedControl(nullptr);
        KZiTunesSupport::setRefusalTeller([](const fs::path&, const QString&) {});
        const fs::path file = kztest::writeExportWithLateEntry(f.dir / "Music/Library/Library.xml", where,
                                                              f.dir.mkdir("Elsewhere/Media"));
        f.defaults->setValue(KZDefaultsKey::iTunes_library_path, QFile::decodeName(file.c_str()));
        KZiTunesSupport::installMediaFolderProvider();
        const KZFoundItemArray all = modeltest::makeItems(
            {{.path = f.dir.write(where == LateEntry::PastTheHead ? "Elsewhere/Media/a.mp3"
                                                                   : "Music/iTunes/iTunes Media/a.mp3",
                                  "song"),
              .group = 1, .marked = true},
             {.path = f.dir.write("loose/a.mp3", "song"), .group = 1}});
        auto removal = f.engine({all[0]}, all);
        removal->doMove();
        EXPECT_EQ(removal->outcomeOf(all[0]), QStringLiteral("music_not_removed"));
        EXPECT_EQ(kztest::readFile(all[0]->recordedURL()), "song");
        KZFilesUtilities::setiTunesFolderProvider({});
        KZMusicLibraryFolders::setUnreadLibraryProvider({});
        KZiTunesSupport::setRefusalTeller({});
        KZiTunesSupport::setSharedControl(nullptr);
    }
}

// An export cut short whose media folder is named in a way a reader takes
// otherwise than a look for tags (a comment that does not close, a DOCTYPE,
// an attribute, CDATA, the entry twice, a binary export): a removal of the
// five marked tracks of the media folder takes none of them.
TEST(KZRemoveMusic, ACutExportKeepsItsMarkedTracksWhateverConstructNamesTheFolder)
{
    std::vector<std::pair<std::string, const kztest::MusicFolderShape*>> shapes{{"Binary", nullptr}};
    for (const kztest::MusicFolderShape& shape : kztest::musicFolderShapes())
        shapes.emplace_back(shape.name, &shape);
    for (const auto& [name, shape] : shapes) {
        SCOPED_TRACE(name);
        emptyTrash();
        Fixture f;
        const kztest::EnvGuard home("HOME");
        ::setenv("HOME", f.dir.path().c_str(), 1);
        KZiTunesSupport::setSharedControl(nullptr);
        KZiTunesSupport::setRefusalTeller([](const fs::path&, const QString&) {});
        // The export lies away from its media folder: only what the scan
        // reads in it keeps the tracks.
        const fs::path media = f.dir.mkdir("Elsewhere/Media");
        const QByteArray bytes = shape ? kztest::cutShapedExport(*shape, media) : kztest::cutBinaryExport(media);
        const fs::path file = f.dir.write("Exports/Library.xml", bytes.toStdString());
        f.defaults->setValue(KZDefaultsKey::iTunes_library_path, QFile::decodeName(file.c_str()));
        KZiTunesSupport::installMediaFolderProvider();
        std::vector<modeltest::ItemShape> specs;
        for (int i = 0; i < 5; ++i) {
            const std::string song = "song " + std::to_string(i);
            specs.push_back({.path = f.dir.write("Elsewhere/Media/" + std::to_string(i) + ".mp3", song),
                             .group = i + 1, .marked = true});
            specs.push_back({.path = f.dir.write("loose/" + std::to_string(i) + ".mp3", song), .group = i + 1});
        }
        const KZFoundItemArray all = modeltest::makeItems(specs);
        KZFoundItemArray marked;
        for (qsizetype i = 0; i < all.size(); i += 2)
            marked.push_back(all[i]);
        auto removal = f.engine(marked, all);
        removal->doMove();
        for (const KZFoundItemRef& item : marked) {
            EXPECT_TRUE(fs::exists(item->recordedURL())) << item->recordedURL();
            EXPECT_EQ(removal->outcomeOf(item), QStringLiteral("music_not_removed"));
        }
        EXPECT_EQ(removal->tally().musicKept, 5u);
        KZFilesUtilities::setiTunesFolderProvider({});
        KZMusicLibraryFolders::setUnreadLibraryProvider({});
        KZiTunesSupport::setRefusalTeller({});
        KZiTunesSupport::setSharedControl(nullptr);
    }
}
