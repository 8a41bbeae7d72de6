#include "RemovalTestSupport.h"

#include "MediaFakes.h"
#include "engine/KZAppSuppInfo.h"
#include "media/KZApplescript.h"
#include "media/KZAppsSupport.h"
#include "platform/StringTable.h"
#include "removal/KZRemoveCntrl.h"
#include "removal/KZRestoreRemovedFiles.h"

#include <gtest/gtest.h>

using namespace removaltest;

namespace {

// Photo-library items, each with a copy outside the library that stays.
struct PhotosFixture : Fixture {
    kztest::FakeProcessWatcher watcher;
    kztest::ScopedScriptRunner scripts;
    fs::path library;
    KZFoundItemArray all;
    KZFoundItemArray inLibrary;

    explicit PhotosFixture(const std::vector<QString>& ids)
    {
        library = dir / "Photos Library.photoslibrary";
        std::vector<modeltest::ItemShape> shapes;
        for (std::size_t i = 0; i < ids.size(); ++i) {
            const std::string name = "p" + std::to_string(i) + ".jpg";
            const std::string content = "photo " + std::to_string(i);
            shapes.push_back({.path = dir.write("Photos Library.photoslibrary/originals/" + name, content),
                              .group = qint64(i + 1), .marked = true, .owner = KZAppSuppInfo::Photos});
            shapes.push_back({.path = dir.write("keep/" + name, content), .group = qint64(i + 1)});
        }
        all = modeltest::makeItems(shapes);
        for (std::size_t i = 0; i < ids.size(); ++i) {
            all[qsizetype(2 * i)]->setTrackID(ids[i]);
            inLibrary.append(all[qsizetype(2 * i)]);
        }
        panel->photosLibraries = {library};
        // The photo application quits and opens when told to.
        KZAppsSupport::setSharedControl(std::make_unique<KZAppsSupport>(&watcher));
        scripts.runner->onOpen = [this] { watcher.launch(KZAppsSupport::photosIdentifier); };
        scripts.runner->onScript = [this](const QString& script) {
            if (script.endsWith(QStringLiteral("to quit")))
                watcher.terminate(KZAppsSupport::photosIdentifier);
        };
    }
    ~PhotosFixture() { KZAppsSupport::setSharedControl(nullptr); }

    std::shared_ptr<KZRemove> run(std::chrono::milliseconds settle = std::chrono::milliseconds(0))
    {
        auto removal = engine(inLibrary, all);
        removal->photosSettleDelay = settle;
        removal->doMove();
        return removal;
    }
    bool allInPlace() const
    {
        for (const KZFoundItemRef& item : all)
            if (!fs::exists(item->recordedURL()))
                return false;
        return true;
    }
};

QStringList alertKeys(const KZRemove& removal)
{
    QStringList keys;
    for (const auto& alert : removal.errorAlerts())
        keys << alert.key;
    return keys;
}

} // namespace

TEST(KZRemovePhotos, OnlyItemsTheLibraryTaggedAreRemovedAndUndoTakesThatKeywordOff)
{
    PhotosFixture f({QStringLiteral("A1"), QStringLiteral("B2"), QStringLiteral("C3")});
    // The library no longer has C3.
    f.scripts.runner->answer.value = QVariantList{QStringLiteral("C3")};
    const auto removal = f.run();

    const QString keyword = platform::localizedString(QStringLiteral("delete_photos_keyword"));
    EXPECT_TRUE(f.scripts.runner->recorded().contains(
        KZApplescript::markPhotosScriptWithString(QStringLiteral("A1\nB2\nC3"), keyword)));
    ASSERT_TRUE(removal->removedArray());
    EXPECT_EQ(*removal->removedArray(), (KZFoundItemArray{f.inLibrary[0], f.inLibrary[1]}));
    // Tagged, never moved: the library owns its files.
    EXPECT_TRUE(f.allInPlace());
    EXPECT_EQ(f.panel->removedSize.load(), f.inLibrary[0]->size() + f.inLibrary[1]->size());
    EXPECT_EQ(removal->outcomeOf(f.inLibrary[2]), QStringLiteral("not_tagged"));
    EXPECT_EQ(alertKeys(*removal), QStringList{QStringLiteral("not_tagged_sing")});
    // Nothing was trashed, and the closing notice does not say so.
    EXPECT_EQ(removal->tally().tagged, 2u);
    EXPECT_EQ(removal->tally().done(), 0u);
    EXPECT_TRUE(KZRemoveCompletionText(removal->tally(), true).startsWith(QStringLiteral("Items marked in the photo")));

    const auto records = removal->photosUndo();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].keyword, keyword);
    EXPECT_EQ(records[0].ids, (QStringList{QStringLiteral("A1"), QStringLiteral("B2")}));
    EXPECT_EQ(records[0].sourcePath, f.library);
    KZUndoDict dict;
    dict.photosUndo = records;
    EXPECT_EQ(KZRestoreRemovedFiles::undoCount(dict), 2u);

    KZRestoreRemovedFiles& undo = KZRestoreRemovedFiles::sharedControl();
    undo.photosSettleDelay = std::chrono::milliseconds(0);
    const auto outcome = undo.doUndoMove(dict);
    undo.photosSettleDelay = std::chrono::milliseconds(2000);
    EXPECT_EQ(outcome.restored, 2u);
    const QString sent = f.scripts.runner->recorded().constLast();
    EXPECT_EQ(sent, KZApplescript::undoPhotosScriptWithString(QStringLiteral("A1\nB2"), keyword));
    // A user's keyword that merely contains ours stays.
    EXPECT_TRUE(sent.contains(QStringLiteral("if contents of loopItem is not equal to \"%1\" then").arg(keyword)));
}

// While the library is reopened and tagged the status line names the photo
// application, and the watch of launches and quits stays off until the
// script has answered, so the application's own work is never taken for
// the user's.
TEST(KZRemovePhotos, TheWatchStaysOffUntilTheKeywordScriptHasAnswered)
{
    PhotosFixture f({QStringLiteral("A1")});
    KZAppsSupport& apps = KZAppsSupport::sharedControl();
    apps.addObservers();
    const QString keyword = platform::localizedString(QStringLiteral("delete_photos_keyword"));
    const QString markScript = KZApplescript::markPhotosScriptWithString(QStringLiteral("A1"), keyword);
    std::vector<bool> watchedWhileTagging;
    const auto quitting = f.scripts.runner->onScript;
    f.scripts.runner->onScript = [&](const QString& script) {
        quitting(script);
        if (script == markScript)
            watchedWhileTagging.push_back(apps.isObserving());
    };
    const auto removal = f.run(std::chrono::milliseconds(1));

    EXPECT_EQ(watchedWhileTagging, std::vector<bool>{false});
    EXPECT_TRUE(apps.isObserving()) << "the watch is back once the library answered";
    EXPECT_TRUE(f.panel->statusList().contains(QStringLiteral("sending_spple_event:Photos")))
        << f.panel->statusList().join(u' ').toStdString();
    ASSERT_TRUE(removal->removedArray());
    EXPECT_EQ(removal->removedArray()->size(), 1);
    apps.removeObservers();
}

// Taking the keyword off keeps the watch off through the wait and the
// script in the same way, and puts it back after.
TEST(KZRemovePhotos, TheWatchStaysOffUntilTheUndoScriptHasAnswered)
{
    PhotosFixture f({QStringLiteral("A1")});
    const auto removal = f.run();
    KZUndoDict dict;
    dict.photosUndo = removal->photosUndo();
    ASSERT_EQ(dict.photosUndo.size(), 1u);

    KZAppsSupport& apps = KZAppsSupport::sharedControl();
    apps.addObservers();
    const QString undoScript = KZApplescript::undoPhotosScriptWithString(
        QStringLiteral("A1"), platform::localizedString(QStringLiteral("delete_photos_keyword")));
    std::vector<bool> watchedWhileUndoing;
    const auto quitting = f.scripts.runner->onScript;
    f.scripts.runner->onScript = [&](const QString& script) {
        quitting(script);
        if (script == undoScript)
            watchedWhileUndoing.push_back(apps.isObserving());
    };
    KZRestoreRemovedFiles& undo = KZRestoreRemovedFiles::sharedControl();
    undo.photosSettleDelay = std::chrono::milliseconds(1);
    const auto outcome = undo.doUndoMove(dict);
    undo.photosSettleDelay = std::chrono::milliseconds(2000);

    EXPECT_EQ(watchedWhileUndoing, std::vector<bool>{false});
    EXPECT_TRUE(apps.isObserving()) << "the watch is back once the library answered";
    EXPECT_EQ(outcome.restored, 1u);
    apps.removeObservers();
}

TEST(KZRemovePhotos, MoveTagsWithItsOwnKeywordAndNeverPassesARefusedIdentifierAsTagged)
{
    PhotosFixture f({QStringLiteral("A1"), QStringLiteral("B\" & (do shell script \"rm x\") & \"")});
    f.panel->isMoveToTrash = false;
    f.panel->isOnlyPhotos = true;
    f.panel->urlToMove = f.dir / "dest";
    const auto removal = f.run();

    const QString keyword = platform::localizedString(QStringLiteral("move_photos_keyword"));
    ASSERT_EQ(removal->photosUndo().size(), 1u);
    EXPECT_EQ(removal->photosUndo()[0].keyword, keyword);
    EXPECT_EQ(removal->photosUndo()[0].ids, QStringList{QStringLiteral("A1")});
    ASSERT_TRUE(removal->removedArray());
    EXPECT_EQ(*removal->removedArray(), KZFoundItemArray{f.inLibrary[0]});
    EXPECT_EQ(removal->tally().notTagged, 1u);
    for (const QString& script : f.scripts.runner->recorded())
        EXPECT_FALSE(script.contains(QStringLiteral("do shell script")));
    EXPECT_TRUE(f.allInPlace());
}

TEST(KZRemovePhotos, AMoveOfPhotoLibrariesLeavesOtherItemsWhereTheyAreWithoutAFolder)
{
    PhotosFixture f({QStringLiteral("A1")});
    const kztest::TempDir cwd;
    const ScopedWorkingFolder here(cwd.path());
    const KZFoundItemArray plain = f.items({{"loose/x", 7}, {"keep/x", 7}});
    f.all.append(plain);
    f.panel->isMoveToTrash = false;
    f.panel->isOnlyPhotos = true;
    auto removal = f.engine({f.inLibrary[0], plain[0]}, f.all);
    removal->photosSettleDelay = std::chrono::milliseconds(0);
    removal->doMove();

    // The library item is tagged; the other one had nowhere to go.
    EXPECT_EQ(removal->tally().tagged, 1u);
    EXPECT_EQ(removal->tally().done(), 0u);
    EXPECT_EQ(removal->tally().otherFailure, 1u);
    EXPECT_EQ(removal->outcomeOf(plain[0]), QStringLiteral("no_destination"));
    EXPECT_TRUE(fs::exists(f.dir / "loose/x"));
    EXPECT_EQ(countIn(cwd.path()), 0u);
    EXPECT_TRUE(removal->standardUndo().empty());
    ASSERT_TRUE(removal->removedArray());
    EXPECT_EQ(*removal->removedArray(), KZFoundItemArray{f.inLibrary[0]});
    EXPECT_EQ(alertKeys(*removal), QStringList{QStringLiteral("not_removed_sing")});
}

// Where no application can be reached, two library items bring neither the
// question about the time tagging takes nor a status about telling the
// application: the items stay and the report names them.
TEST(KZRemovePhotos, WithoutThePhotoApplicationNothingIsAskedRemovedMovedRecordedOrWaitedFor)
{
    PhotosFixture f({QStringLiteral("A1"), QStringLiteral("B2")});
    f.scripts.usePlatformRunner();
    // A wait for the application would stall here for an hour.
    const auto removal = f.run(std::chrono::hours(1));

    const QString question = platform::localizedString(QStringLiteral("ask_mark_speed_info"));
    for (const auto& call : f.alerts.presenter->calls)
        EXPECT_NE(call.alert.messageText, question);
    for (const QString& status : f.panel->statusList())
        EXPECT_FALSE(status.startsWith(QStringLiteral("sending_spple_event"))) << status.toStdString();

    EXPECT_FALSE(removal->removedArray());
    EXPECT_TRUE(f.allInPlace());
    EXPECT_EQ(f.panel->removedSize.load(), 0u);
    EXPECT_TRUE(removal->photosUndo().empty());
    EXPECT_EQ(removal->tally().notTagged, 2u);
    EXPECT_EQ(alertKeys(*removal), QStringList{QStringLiteral("not_tagged_plur")});
    EXPECT_FALSE(f.inLibrary[0]->isRemoved());
    EXPECT_EQ(f.inLibrary[0]->countOfItemsInGroup(), 2u);
    EXPECT_FALSE(f.panel->isWorking.load());
}

TEST(KZRemovePhotos, ItemsOutsideEveryListedLibraryStayAndAreTold)
{
    PhotosFixture f({QStringLiteral("A1")});
    f.panel->photosLibraries.clear();
    const auto removal = f.run();

    EXPECT_FALSE(removal->removedArray());
    EXPECT_TRUE(f.scripts.runner->recorded().isEmpty());
    EXPECT_EQ(removal->tally().notTagged, 1u);
}

// However an item of the photo library reaches a job (a result that lost its
// owner, a removal that deletes for good), it stays in its package.
TEST(KZRemovePhotos, AnItemOfThePhotoLibraryNeverLeavesItsPackageWhateverTheJob)
{
    PhotosFixture f({QStringLiteral("A1")});
    f.setLevel(0); // the last member may go: only the library's ownership keeps it
    const KZFoundItemRef photo = f.inLibrary[0];
    const auto removal = f.engine(f.inLibrary, f.all);
    const fs::path destination = f.dir.mkdir("dest");
    removal->moveItems({photo}, KZRemove::TrashJob, {});
    removal->moveItems({photo}, KZRemove::MoveJob, destination);
    removal->moveItems({photo}, KZRemove::CopyJob, destination);
    removal->thereAreShared = true;
    removal->moveItems({photo}, KZRemove::TrashJob, {});

    EXPECT_TRUE(f.allInPlace());
    EXPECT_TRUE(fs::is_empty(destination));
    EXPECT_EQ(removal->tally().done(), 0u);
    EXPECT_EQ(removal->tally().notTagged, 4u);
    EXPECT_EQ(removal->outcomeOf(photo), QStringLiteral("not_tagged"));
}

// A folder inside a library searched as a plain folder makes plain items of
// the library's masters: they are library items by where they lie, and no job
// takes one out of the package.
TEST(KZRemovePhotos, AFileInsideALibraryPackageIsALibraryItemWhoeverMadeTheItem)
{
    emptyTrash();
    Fixture f;
    f.setLevel(0);
    const fs::path masters = f.dir.mkdir("Lib.photoslibrary/Masters");
    std::vector<modeltest::ItemShape> shapes;
    for (int i = 0; i < 3; ++i) {
        const std::string name = "m" + std::to_string(i) + ".jpg";
        const std::string content = "master " + std::to_string(i);
        shapes.push_back({.path = f.dir.write("Lib.photoslibrary/Masters/" + name, content), .group = i + 1,
                          .marked = true});
        shapes.push_back({.path = f.dir.write("copies/" + name, content), .group = i + 1});
    }
    const KZFoundItemArray all = modeltest::makeItems(shapes);
    const KZFoundItemArray masterItems{all[0], all[2], all[4]};
    const fs::path destination = f.dir.mkdir("dest");
    auto removal = f.engine(masterItems, all);
    removal->moveItems(masterItems, KZRemove::TrashJob, {});
    removal->moveItems(masterItems, KZRemove::MoveJob, destination);
    removal->moveItems(masterItems, KZRemove::CopyJob, destination);
    removal->thereAreShared = true;
    removal->moveItems(masterItems, KZRemove::TrashJob, {});

    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(fs::exists(masters / ("m" + std::to_string(i) + ".jpg"))) << i;
    EXPECT_TRUE(fs::is_empty(destination));
    EXPECT_EQ(countIn(trashFiles()), 0u);
    EXPECT_EQ(removal->tally().done(), 0u);
    EXPECT_EQ(removal->tally().notTagged, 12u);
    for (const KZFoundItemRef& item : masterItems)
        EXPECT_EQ(removal->outcomeOf(item), QStringLiteral("not_tagged"));
}
