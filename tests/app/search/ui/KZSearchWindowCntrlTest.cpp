#include "app/progress/KZSearchProgressCore.h"
#include "app/progress/ui/KZSearchProgress.h"
#include "app/search/KZResultModelHandOff.h"
#include "app/search/ui/KZSearchView.h"
#include "app/search/ui/KZSearchWindowCntrl.h"
#include "app/search/ui/KZSearchWindowLayout.h"
#include "engine/KZFoundListParcel.h"
#include "engine/KZResultInfoKeys.h"
#include "engine/TreeToCheck.h"
#include "media/KZiTunesSupport.h"
#include "platform/StringTable.h"
#include "platform/UserDefaults.h"
#include "services/KZFilesUtilities.h"
#include "settings/KZDefaultsKeys.h"
#include "support/LibraryFixtures.h"
#include "result/model/KZResultCntrl.h"

#include "app/search/SearchTestSupport.h"
#include "app/ui/SettledTransitions.h"
#include "TestSupport.h"

#include "services/ui/KZThemeImageSwitchButton.h"

#include <QFile>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <thread>

using namespace searchtest;
namespace fs = std::filesystem;

namespace {

// The search window as the program builds it, on screen.
struct SearchWindow {
    QObject owner;
    KZSearchWindowLayout layout = buildSearchWindowLayout(&owner);
    KZSearchWindowCntrl* cntrl = layout.windowCntrl;
    KZSearchView* view = cntrl->searchView();
    SearchWindow() { cntrl->setTheWindow(layout.window); }
    // The progress window's flip runs at full length and outlives a search
    // that ends quickly; it ends before the windows go.
    ~SearchWindow() { EXPECT_TRUE(kztest::settleWindowTransitions()); }
    SearchWindow(const SearchWindow&) = delete;
    SearchWindow& operator=(const SearchWindow&) = delete;
    KZSourcesCntrl& sources() { return view->sourcesCntrl(); }
};

std::string bytes(char fill, std::size_t count)
{
    return std::string(count, fill);
}

TEST(SearchEndToEnd, StartRunsTheEngineAndHandsTheResultToTheModel)
{
    AlertScope alerts;
    kztest::TempDir tree;
    tree.write("photos/2023/beach.jpg", bytes('b', 40000));
    tree.write("backup/beach.jpg", bytes('b', 40000));
    tree.write("photos/2023/notes.txt", bytes('n', 3000));
    tree.write("backup/notes copy.txt", bytes('n', 3000));
    tree.write("photos/unique.bin", bytes('u', 5000));

    SearchWindow window;
    QSignalSpy handled(window.cntrl, &KZSearchWindowCntrl::searchEndHandled);
    window.sources().addChosenItems({tree / "photos", tree / "backup"});
    ASSERT_EQ(window.sources().sources().size(), 2u);

    window.view->startButton()->click();
    ASSERT_NE(window.cntrl->progressCntrl(), nullptr);
    ASSERT_TRUE(window.cntrl->observesSearchEnd());
    ASSERT_TRUE(kztest::processEventsUntil([&] { return !handled.isEmpty(); }, std::chrono::seconds(60)));

    EXPECT_GE(handled.first().first().toULongLong(), 4u);
    ASSERT_NE(window.cntrl->resultHandOff(), nullptr);
    ASSERT_NE(window.cntrl->resultHandOff()->resultCntrl(), nullptr);
    EXPECT_NE(window.cntrl->resultHandOff()->resultCntrl()->foundItemsCntrl(), nullptr);
    // Once the model is set up the engine's controller is let go.
    EXPECT_TRUE(kztest::processEventsUntil([&] { return window.cntrl->searchCntrl() == nullptr; },
                                           std::chrono::seconds(30)));
    EXPECT_TRUE(kztest::processEventsUntil([&] { return !window.cntrl->observesSearchEnd(); }));
    EXPECT_EQ(alerts.presenter->count(platform::localizedString(QStringLiteral("no_items_found"), QStringLiteral("Errors"))), 0);
}

TEST(SearchEndToEnd, NothingFoundSaysSoOnceTheProgressWindowIsUp)
{
    AlertScope alerts;
    kztest::TempDir tree;
    tree.write("letters/ada.txt", "Dear Ada");
    tree.write("letters/charles.txt", "Dear Charles");

    SearchWindow window;
    QSignalSpy handled(window.cntrl, &KZSearchWindowCntrl::searchEndHandled);
    window.sources().addChosenItems({tree / "letters"});
    window.view->startButton()->click();
    ASSERT_TRUE(kztest::processEventsUntil([&] { return !handled.isEmpty(); }, std::chrono::seconds(60)));

    EXPECT_EQ(handled.first().first().toULongLong(), 0u);
    const QString noItems = platform::localizedString(QStringLiteral("no_items_found"), QStringLiteral("Errors"));
    ASSERT_EQ(alerts.presenter->count(noItems), 1);
    EXPECT_TRUE(alerts.presenter->shown.back().informativeText.isEmpty());
    EXPECT_EQ(window.cntrl->resultHandOff(), nullptr);
    const auto progress = window.cntrl->progressCntrl();
    ASSERT_NE(progress, nullptr);
    EXPECT_TRUE(!progress->window() || progress->core().windowIsShown());
}

// The music library's folder as the only source, no duplicates in it, and
// the question about its missing tracks answered Yes: the tracks are the
// result, offered by the progress window and handed over, never "nothing
// was found".
TEST(SearchEndToEnd, MissingTracksAskedForAreAResultWithoutAnyDuplicate)
{
    AlertScope alerts;
    kztest::ScopedDefaults defaults;
    KZiTunesSupport::setSharedControl(nullptr);
    const auto forget = qScopeGuard([] { KZiTunesSupport::setSharedControl(nullptr); });
    kztest::TempDir tree;
    const fs::path library = tree.mkdir("Music/Library");
    const fs::path media = tree.mkdir("Music/Library/Media");
    tree.write("Music/Library/Media/single.mp3", bytes('s', 3000));
    const fs::path exportFile = kztest::MusicLibraryBuilder(media)
                                    .fileTrack(1, 0xA1, media / "single.mp3", QStringLiteral("Single"))
                                    .fileTrack(2, 0xB2, media / "gone.mp3", QStringLiteral("Gone"))
                                    .fileTrack(3, 0xC3, media / "lost.mp3", QStringLiteral("Lost"))
                                    .write(library / "iTunes Library.xml");
    defaults->setValue(KZDefaultsKey::iTunes_library_path, QFile::decodeName(exportFile.c_str()));
    KZFilesUtilities::setiTunesFolderProvider([media] { return media; });

    SearchWindow window;
    QSignalSpy handled(window.cntrl, &KZSearchWindowCntrl::searchEndHandled);
    QVariantMap handedOver;
    window.cntrl->setResultReceiver([&handedOver](const QVariantMap& info) { handedOver = info; });
    window.sources().addChosenItems({library});
    window.view->startButton()->click();
    ASSERT_TRUE(kztest::processEventsUntil([&] { return !handled.isEmpty(); }, std::chrono::seconds(60)));

    EXPECT_EQ(alerts.presenter->count(platform::localizedString(QStringLiteral("missing_files_detected"))), 1);
    EXPECT_EQ(alerts.presenter->count(platform::localizedString(QStringLiteral("no_items_found"), QStringLiteral("Errors"))), 0);
    EXPECT_EQ(handedOver.value(KZResultKey::foundItemsCount).toULongLong(), 0u);
    EXPECT_EQ(handedOver.value(KZResultKey::foundDeads).toList().size(), 2);
    const auto progress = window.cntrl->progressCntrl();
    ASSERT_NE(progress, nullptr);
    EXPECT_TRUE(progress->core().searchIsValid()) << "the progress window offers the result";
}

// A saved search that cannot be read searched nothing: the end of the search
// says so, whether or not the other sources held duplicates, and never passes
// it off as "no duplicates".
TEST(SearchEndToEnd, ASavedSearchThatCannotBeSearchedIsSaidWithItsReason)
{
    AlertScope alerts;
    kztest::TempDir tree;
    tree.write("letters/ada.txt", "Dear Ada");
    tree.write("letters/charles.txt", "Dear Charles");
    const fs::path broken = tree.write("broken.savedSearch", R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict><key>RawQueryDict</key><dict>
<key>RawQuery</key><string>kMDItemFSName == "*"</string>
<key>SerchScopes</key><array/></dict></dict></plist>)");
    const QString noItems = platform::localizedString(QStringLiteral("no_items_found"), QStringLiteral("Errors"));
    const auto search = [&](const fs::path& folder) {
        SearchWindow window;
        QSignalSpy handled(window.cntrl, &KZSearchWindowCntrl::searchEndHandled);
        window.sources().addSavedSources(
            {KZSourceItem::create({{QStringLiteral("url"), QVariant::fromValue(broken)},
                                   {QStringLiteral("isSmartFolder"), true}}),
             KZSourceItem::create({{QStringLiteral("url"), QVariant::fromValue(folder)}})});
        ASSERT_EQ(window.sources().sources().size(), 2u);
        window.view->startButton()->click();
        ASSERT_TRUE(kztest::processEventsUntil([&] { return !handled.isEmpty(); }, std::chrono::seconds(60)));
        kztest::processEventsUntil([&] { return alerts.presenter->count(QStringLiteral("broken.savedSearch")) > 0; },
                                   std::chrono::seconds(10));
    };

    search(tree / "letters");
    EXPECT_EQ(alerts.presenter->count(noItems), 0);
    ASSERT_EQ(alerts.presenter->count(QStringLiteral("broken.savedSearch")), 1);
    EXPECT_TRUE(alerts.presenter->shown.back().messageText.contains(QStringLiteral("no search scopes")))
        << alerts.presenter->shown.back().messageText.toStdString();
    EXPECT_EQ(alerts.presenter->shown.back().informativeText,
              platform::localizedString(QStringLiteral("saved_search_not_searched_none"), QStringLiteral("Errors")));

    tree.write("letters/copy of ada.txt", "Dear Ada");
    search(tree / "letters");
    ASSERT_EQ(alerts.presenter->count(QStringLiteral("broken.savedSearch")), 2);
    EXPECT_EQ(alerts.presenter->shown.back().informativeText,
              platform::localizedString(QStringLiteral("saved_search_not_searched_mess"), QStringLiteral("Errors")));
}

// Stopping the checks at a wrong source takes that source off; what was
// already checked is still searched, and with nothing left nothing starts.
TEST(SearchStart, StoppingTheChecksAtAWrongSourceSearchesWhatIsLeft)
{
    AlertScope alerts;
    kztest::TempDir tree;
    const fs::path plain = tree.mkdir("plain");
    const fs::path media = tree.mkdir("Music/Library/Media");
    KZFilesUtilities::setiTunesFolderProvider([media] { return media; });
    const auto mediaSource = [&] { return KZSourceItem::create({{QStringLiteral("url"), QVariant::fromValue(media)}}); };
    {
        alerts.presenter->answers = {KZErrorDelegate::SecondButton};
        SearchWindow window;
        window.sources().addSavedSources({mediaSource()});
        window.view->startButton()->click();
        EXPECT_EQ(window.cntrl->progressCntrl(), nullptr);
        EXPECT_EQ(window.cntrl->searchCntrl(), nullptr);
        EXPECT_FALSE(window.cntrl->observesSearchEnd());
        EXPECT_TRUE(window.sources().sources().empty());
    }
    alerts.presenter->answers = {KZErrorDelegate::SecondButton};
    SearchWindow window;
    QSignalSpy handled(window.cntrl, &KZSearchWindowCntrl::searchEndHandled);
    window.sources().addSavedSources(
        {KZSourceItem::create({{QStringLiteral("url"), QVariant::fromValue(plain)}}), mediaSource()});
    window.view->startButton()->click();
    ASSERT_NE(window.cntrl->searchCntrl(), nullptr) << "the folder checked before the stop is searched";
    ASSERT_EQ(window.sources().sources().size(), 1u);
    EXPECT_EQ(window.sources().sources()[0]->path(), plain);
    ASSERT_TRUE(kztest::processEventsUntil([&] { return !handled.isEmpty(); }, std::chrono::seconds(60)));
}

TEST(SearchStart, SwitchOnSearchesForFolders)
{
    AlertScope alerts;
    kztest::TempDir tree;
    SearchWindow window;
    window.sources().addChosenItems({tree.mkdir("a")});
    window.view->toggleBtn()->click();
    EXPECT_EQ(window.cntrl->searchType(), 1);
    std::shared_ptr<KZSearchProgress> progress;
    const auto request = window.cntrl->preliminaryToScanWithOption(false, &progress);
    ASSERT_NE(progress, nullptr);
    EXPECT_EQ(request->searchType(), KZSearchStuff::duplicateFolders);
    EXPECT_EQ(progress->window(), nullptr) << "without interface no progress window is made";
}

TEST(SearchEnd, StoppedByAnErrorDropsItsFoundItems)
{
    AlertScope alerts;
    kztest::TempDir tree;
    SearchWindow window;
    int received = 0;
    window.cntrl->setResultReceiver([&](const QVariantMap&) { ++received; });
    window.sources().addChosenItems({tree.mkdir("a")});
    std::shared_ptr<KZSearchProgress> progress;
    window.cntrl->preliminaryToScanWithOption(false, &progress);
    ASSERT_NE(progress, nullptr);
    progress->core().stopSearchingDueError();

    KZFoundList list;
    list.prepend(std::make_unique<TreeToCheck>());
    const QVariant parcel = KZFoundListParcel::toVariant(std::move(list));
    const QVariantMap info{{KZResultKey::foundItemsCount, 1}, {KZResultKey::foundItems, parcel}};
    // Delivered on another thread, as the engine does.
    std::thread engine([&] { window.cntrl->searchDidTerminate(info); });
    ASSERT_TRUE(kztest::processEventsUntil([&] { return parcel.value<KZFoundListParcel>().isEmpty(); }));
    engine.join();
    EXPECT_EQ(received, 0);
    EXPECT_EQ(window.cntrl->resultHandOff(), nullptr);
}

} // namespace
