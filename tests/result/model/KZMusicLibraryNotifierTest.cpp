#include "result/model/KZMusicLibraryNotifier.h"

#include "media/KZApplescript.h"
#include "platform/ScriptRunner.h"
#include "services/KZErrorDelegate.h"
#include "support/ScriptedPresenter.h"

#include <gtest/gtest.h>

namespace {

struct Runner : platform::ScriptRunner {
    QStringList scripts;
    platform::ScriptResult run(const QString& script) override
    {
        scripts << script;
        return {platform::ScriptResult::Status::Ok, true, {}, {}, 0};
    }
    platform::ScriptResult openWithApplication(const QString&, const QString&) override { return {}; }
};

} // namespace

TEST(MusicLibraryNotifier, SendsTheDeletedTracksThroughTheScriptBridge)
{
    auto runner = std::make_unique<Runner>();
    Runner* recorded = runner.get();
    platform::ScriptRunner::setShared(std::move(runner));
    EXPECT_TRUE(KZMusicLibraryNotifier::sharedControl().notifyDeletion(QStringLiteral("00ff\nA1")));
    EXPECT_EQ(recorded->scripts, QStringList{KZApplescript::deletionScriptWithString(QStringLiteral("00ff\nA1"))});

    // On this platform the application cannot be reached: the user is told.
    platform::ScriptRunner::setShared(nullptr);
    auto presenter = std::make_shared<kztest::ScriptedPresenter>();
    KZErrorDelegate::sharedControl().setPresenter(presenter);
    EXPECT_FALSE(KZMusicLibraryNotifier::sharedControl().notifyDeletion(QStringLiteral("00ff")));
    EXPECT_EQ(presenter->shown(), 1u);
    KZErrorDelegate::sharedControl().setPresenter(nullptr);
}
