#include "app/search/KZSearchPreparation.h"

#include "app/search/KZSourcesCntrl.h"
#include "media/KZAppsSupport.h"
#include "platform/StringTable.h"

#include "MediaFakes.h"
#include "SearchTestSupport.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

using namespace searchtest;
namespace fs = std::filesystem;

namespace {

// A photo application that quits and opens when told to, behind a fresh guard.
struct PhotosApp {
    kztest::FakeProcessWatcher watcher;
    kztest::ScopedScriptRunner scripts;
    PhotosApp()
    {
        auto guard = std::make_unique<KZAppsSupport>(&watcher);
        guard->setWaitLimit(std::chrono::milliseconds(200));
        KZAppsSupport::setSharedControl(std::move(guard));
        scripts.runner->onOpen = [this] { watcher.launch(KZAppsSupport::photosIdentifier); };
        scripts.runner->onScript = [this](const QString& script) {
            if (script.endsWith(QStringLiteral("to quit")))
                watcher.terminate(KZAppsSupport::photosIdentifier);
        };
    }
    ~PhotosApp() { KZAppsSupport::setSharedControl(nullptr); }
    QStringList opened()
    {
        std::lock_guard lock(scripts.runner->mutex);
        return scripts.runner->opened;
    }
};

KZSourceItemRef sourceAt(const fs::path& path)
{
    return KZSourceItem::create({{QStringLiteral("url"), QVariant::fromValue(path)}});
}

KZSourceItemRef photosLibraryAt(const fs::path& path)
{
    auto source = sourceAt(path);
    source->setIsPhotosLib(true);
    return source;
}

QString manageQuestion()
{
    return platform::localizedString(QStringLiteral("manage_photos_app"));
}

TEST(SearchLibraryGuard, AllowedPhotoLibraryIsReopenedOnceAndTheQuestionComesOncePerRun)
{
    AlertScope alerts;
    PhotosApp app;
    kztest::TempDir dir;
    const fs::path first = dir.mkdir("A.photoslibrary"), second = dir.mkdir("B.photoslibrary");
    KZSourcesCntrl cntrl;
    cntrl.addSavedSources({photosLibraryAt(first), photosLibraryAt(second)});

    const auto outcome = KZSearchPreparation::prepare(cntrl, false, true);

    ASSERT_TRUE(outcome.proceed);
    EXPECT_TRUE(outcome.watchLibraries);
    EXPECT_EQ(alerts.presenter->count(manageQuestion()), 1);
    ASSERT_EQ(cntrl.sources().size(), 2u);
    EXPECT_TRUE(cntrl.sources()[0]->isCurrentLibrary());
    // Only the first library checked is opened by the preparation.
    ASSERT_FALSE(app.opened().isEmpty());
    EXPECT_TRUE(app.opened().constFirst().endsWith(QString::fromStdString(second.string())));
    EXPECT_TRUE(KZAppsSupport::sharedControl().managePhotosWasAsked());
}

// With the platform's runner no application can be quit or opened: the
// search starts on the library without asking, opening or waiting.
TEST(SearchLibraryGuard, UnreachablePhotoApplicationIsNotAskedAbout)
{
    AlertScope alerts;
    PhotosApp app;
    app.scripts.usePlatformRunner();
    kztest::TempDir dir;
    KZSourcesCntrl cntrl;
    cntrl.addSavedSources({photosLibraryAt(dir.mkdir("A.photoslibrary"))});

    const auto outcome = KZSearchPreparation::prepare(cntrl, false, true);

    ASSERT_TRUE(outcome.proceed);
    EXPECT_TRUE(outcome.watchLibraries);
    EXPECT_TRUE(alerts.presenter->shown.empty());
    ASSERT_EQ(cntrl.sources().size(), 1u);
    EXPECT_TRUE(cntrl.sources()[0]->isCurrentLibrary());
}

TEST(SearchLibraryGuard, RefusedPhotoLibraryLeavesTheSourcesAndAloneStartsNothing)
{
    AlertScope alerts;
    PhotosApp app;
    kztest::TempDir dir;
    const fs::path plain = dir.mkdir("plain");
    KZSourcesCntrl cntrl;
    cntrl.addSavedSources({sourceAt(plain), photosLibraryAt(dir.mkdir("A.photoslibrary"))});
    alerts.presenter->answers = {KZErrorDelegate::SecondButton};

    auto outcome = KZSearchPreparation::prepare(cntrl, false, true);
    ASSERT_TRUE(outcome.proceed);
    ASSERT_EQ(cntrl.sources().size(), 1u);
    EXPECT_EQ(cntrl.sources()[0]->path(), plain);
    EXPECT_FALSE(outcome.watchLibraries);
    EXPECT_TRUE(app.opened().isEmpty());

    KZSourcesCntrl alone;
    alone.addSavedSources({photosLibraryAt(dir / "A.photoslibrary")});
    alerts.presenter->answers = {KZErrorDelegate::SecondButton};
    outcome = KZSearchPreparation::prepare(alone, false, true);
    EXPECT_FALSE(outcome.proceed);
    EXPECT_TRUE(alone.sources().empty());
    EXPECT_EQ(alerts.presenter->count(platform::localizedString(QStringLiteral("no_source"), QStringLiteral("Errors"))),
              1);
}

TEST(SearchLibraryGuard, AnswerToALaunchReopensTheCurrentLibraryOrEndsTheWatch)
{
    AlertScope alerts;
    PhotosApp app;
    kztest::TempDir dir;
    const auto current = photosLibraryAt(dir.mkdir("A.photoslibrary"));
    current->setIsCurrentLibrary(true);
    const auto other = photosLibraryAt(dir.mkdir("B.photoslibrary"));
    KZAppsSupport& guard = KZAppsSupport::sharedControl();

    guard.addObservers();
    EXPECT_TRUE(KZSearchPreparation::appWatchAnswered(KZAppsSupport::photosIdentifier, true, {current, other}));
    ASSERT_EQ(app.opened().size(), 1);
    EXPECT_TRUE(app.opened().constFirst().endsWith(QStringLiteral("A.photoslibrary")));
    // Reopened and quit again, and the watch is back on.
    EXPECT_TRUE(app.scripts.runner->recorded().constLast().endsWith(QStringLiteral("to quit")));
    EXPECT_TRUE(guard.isObserving());

    EXPECT_FALSE(KZSearchPreparation::appWatchAnswered(KZAppsSupport::photosIdentifier, false, {current}));
    EXPECT_FALSE(guard.isObserving());
    EXPECT_EQ(app.opened().size(), 1);
}

} // namespace
