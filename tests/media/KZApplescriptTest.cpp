#include "media/KZApplescript.h"
#include "media/KZAppsSupport.h"

#include "support/MediaFakes.h"
#include "platform/Log.h"
#include "platform/StringTable.h"
#include "services/KZErrorDelegate.h"
#include "support/ScriptedPresenter.h"

#include <gtest/gtest.h>

using platform::ScriptResult;
using Status = platform::ScriptResult::Status;

namespace {

// The quotation marks of a script that end or begin a string literal.
int unescapedQuotes(const QString& script)
{
    int count = 0;
    for (qsizetype i = 0; i < script.size(); ++i) {
        if (script[i] == u'\\')
            ++i;
        else if (script[i] == u'"')
            ++count;
    }
    return count;
}

class Bridge : public ::testing::Test {
protected:
    Bridge()
    {
        KZAppsSupport::setSharedControl(std::make_unique<KZAppsSupport>(&watcher_));
        KZErrorDelegate::sharedControl().setPresenter(presenter_);
        platform::setLogSink([this](const QString& line) { log_ << line; });
    }
    ~Bridge() override
    {
        platform::setLogSink({});
        KZErrorDelegate::sharedControl().setPresenter(nullptr);
        KZAppsSupport::setSharedControl(nullptr);
    }
    std::vector<KZAlertPresenter::Alert> alerts() const
    {
        std::lock_guard lock(presenter_->mutex);
        std::vector<KZAlertPresenter::Alert> shown;
        for (const auto& call : presenter_->calls)
            shown.push_back(call.alert);
        return shown;
    }
    static QString error(const char* key) { return platform::localizedString(QLatin1StringView(key), QStringLiteral("Errors")); }

    KZApplescript bridge_;
    kztest::FakeProcessWatcher watcher_;
    kztest::ScopedScriptRunner scripts_;
    kztest::RecordingScriptRunner*& runner_ = scripts_.runner;
    std::shared_ptr<kztest::ScriptedPresenter> presenter_ = std::make_shared<kztest::ScriptedPresenter>();
    QStringList log_;
};

} // namespace

TEST(ScriptTexts, AreByteForByteTheFixedTexts)
{
    EXPECT_EQ(KZApplescript::activateSourceScript(),
              u"tell application \"iTunes\" \n activate \n set the view of the front browser window to playlist "
              u"\"Music\" \n end tell");
    EXPECT_EQ(KZApplescript::addingScriptWithString(QStringLiteral("/a.mp3\n/b.mp3")),
              u"set savedDelim to AppleScript's text item delimiters \n set AppleScript's text item delimiters to "
              u"\"\n\" \n set pathFiles to every text item of \"/a.mp3\n/b.mp3\" \n set AppleScript's text item "
              u"delimiters to savedDelim \n tell application \"iTunes\" \n repeat with i in pathFiles \n set theFile "
              u"to (i as POSIX file) \n try \n add theFile \n end try \n end repeat \n end tell");
    EXPECT_EQ(KZApplescript::deletionScriptWithString(QStringLiteral("00ff\nA1")),
              u"set savedDelim to AppleScript's text item delimiters \n set AppleScript's text item delimiters to "
              u"\"\n\" \n set IDsList to every text item of \"00ff\nA1\" \n set AppleScript's text item delimiters "
              u"to savedDelim \n tell application \"iTunes\" \n repeat with i in IDsList \n set aTrack to i \n try \n "
              u"delete (tracks in playlist 1 whose persistent ID is aTrack) \n end try \n end repeat\n end tell");
    EXPECT_EQ(KZApplescript::markPhotosScriptWithString(QStringLiteral("m1"), QStringLiteral("dup")),
              u"set notMarkedItems to {} \n set savedDelim to AppleScript's text item delimiters \n set "
              u"AppleScript's text item delimiters to \"\n\" \n set IDsList to every text item of \"m1\" \n set "
              u"AppleScript's text item delimiters to savedDelim \n tell application \"Photos\" \n with timeout of "
              u"30000 seconds \n repeat with i in IDsList \n if media item id i exists then \n try \n set aPhoto to "
              u"media item id i \n set currTag to keywords of aPhoto \n if currTag is not equal to missing value then "
              u"\n if currTag does not contain \"dup\" then \n set currTag to currTag & \"dup\" \n set keywords of "
              u"aPhoto to currTag \n end if \n else \n set keywords of aPhoto to \"dup\" \n end if \n end try \n else "
              u"\n set notMarkedItems to notMarkedItems & i \n end if \n end repeat \n end timeout \n end tell \n "
              u"return notMarkedItems");
    // Only a keyword equal to ours comes off, never one that contains it.
    EXPECT_EQ(KZApplescript::undoPhotosScriptWithString(QStringLiteral("m1"), QStringLiteral("dup")),
              u"set savedDelim to AppleScript's text item delimiters \n set AppleScript's text item delimiters to "
              u"\"\n\" \n set IDsList to every text item of \"m1\" \n set AppleScript's text item delimiters to "
              u"savedDelim \n set currTag to {} \n tell application \"Photos\" \n with timeout of 30000 seconds \n "
              u"repeat with i in IDsList \n try \n if media item id i exists then \n set aPhoto to media item id i \n "
              u"set currTag to keywords of aPhoto \n if currTag is not equal to missing value then \n if currTag "
              u"contains \"dup\" then \n set newTag to {} \n repeat with loopItem in currTag \n if contents of "
              u"loopItem is not equal to \"dup\" then \n set newTag to newTag & loopItem \n end if \n end repeat \n "
              u"set keywords of aPhoto to newTag \n end if \n end if \n end if \n end try \n end repeat \n end "
              u"timeout \n end tell");
    EXPECT_EQ(KZApplescript::quitScriptWithName(QStringLiteral("Photos")), u"tell application \"Photos\" to quit");
}

TEST(ScriptTexts, EscapeEveryInsertedValueAndNeverRescanIt)
{
    const QString hostile = QStringLiteral("a\" & (do shell script \"rm -rf ~\") & \"\\%@");
    const QString escaped = QStringLiteral("a\\\" & (do shell script \\\"rm -rf ~\\\") & \\\"\\\\%@");
    EXPECT_EQ(KZApplescript::escaped(hostile), escaped);
    EXPECT_EQ(KZApplescript::quitScriptWithName(hostile), u"tell application \"" + escaped + u"\" to quit");
    const QString mark = KZApplescript::markPhotosScriptWithString(QStringLiteral("m1"), hostile);
    EXPECT_EQ(unescapedQuotes(mark), unescapedQuotes(KZApplescript::markPhotosScriptWithString(u"m"_qs, u"k"_qs)));
    EXPECT_EQ(mark.count(escaped), 3);
}

TEST(ScriptValues, OnlyValidIdentifiersAndPathsPass)
{
    int rejected = -1;
    EXPECT_EQ(KZApplescript::validatedList(QStringLiteral("00ff\nzz\nA1\" & quit\n0123456789abcdef0\n\n0123456789ABCDEF\n"),
                                           &KZApplescript::isValidTrackID, &rejected),
              u"00ff\n0123456789ABCDEF");
    EXPECT_EQ(rejected, 3);
    EXPECT_EQ(KZApplescript::validatedList(QStringLiteral("3F25-04E0/L0/001\nx y\nq\"\n_a.b\n"),
                                           &KZApplescript::isValidMediaID, &rejected),
              u"3F25-04E0/L0/001\n_a.b");
    EXPECT_EQ(rejected, 2);
    EXPECT_EQ(KZApplescript::validatedList(QStringLiteral("/m/a\"b.mp3\nrelative.mp3\n/m/c\rd"),
                                           &KZApplescript::isValidPath, &rejected),
              u"/m/a\"b.mp3");
    EXPECT_EQ(rejected, 2);
}

TEST_F(Bridge, AHostileFileNameCannotEndTheScriptsString)
{
    const QString path = QStringLiteral("/Music/a\" & (do shell script \"touch /tmp/owned\") & \".mp3");
    EXPECT_TRUE(bridge_.undoDeletion(path + u'\n'));
    const QStringList scripts = runner_->recorded();
    ASSERT_EQ(scripts.size(), 1);
    EXPECT_EQ(unescapedQuotes(scripts[0]), unescapedQuotes(KZApplescript::addingScriptWithString(u"/x"_qs)));
    EXPECT_TRUE(scripts[0].contains(KZApplescript::escaped(path)));
}

TEST_F(Bridge, RejectedIdentifiersAreDroppedAndCountedAndNothingRunsWithoutAValidOne)
{
    EXPECT_TRUE(bridge_.notifyDeletion(QStringLiteral("00ff\nzz\" & quit\nA1")));
    ASSERT_EQ(runner_->recorded().size(), 1);
    EXPECT_EQ(runner_->recorded()[0], KZApplescript::deletionScriptWithString(u"00ff\nA1"_qs));
    EXPECT_TRUE(log_.join(u'\n').contains(u"1 track identifiers not sent"));

    EXPECT_FALSE(bridge_.notifyDeletion(QStringLiteral("not hex\n")));
    EXPECT_FALSE(bridge_.markPhotosItems(QStringLiteral("a b"), QStringLiteral("k"), nullptr));
    EXPECT_FALSE(bridge_.markPhotosItems(QStringLiteral("m1"), QString(), nullptr));
    EXPECT_EQ(runner_->recorded().size(), 1);
}

TEST_F(Bridge, AnswersFollowTheRunnersResult)
{
    runner_->answer = {Status::Ok, true, QVariantList{u"m2"_qs, QString()}, {}, 0};
    QStringList notMarked{u"stale"_qs};
    EXPECT_TRUE(bridge_.markPhotosItems(QStringLiteral("m1\nm2\n"), QStringLiteral("dup"), &notMarked));
    EXPECT_EQ(notMarked, (QStringList{u"m2"_qs, QString()}));
    EXPECT_TRUE(bridge_.undoPhotosItems(QStringLiteral("m1"), QStringLiteral("dup")));

    // A script that ran but gave nothing back changed nothing that can be told.
    runner_->answer = {Status::Ok, false, {}, {}, 0};
    EXPECT_FALSE(bridge_.notifyDeletion(QStringLiteral("ff")));
    EXPECT_TRUE(alerts().empty());
}

TEST_F(Bridge, AFailedScriptShowsItsErrorWithTheRepairHintOnlyForPhotosMinus10000)
{
    runner_->answer = {Status::Failed, false, {}, QStringLiteral("Photos got an error."), -10000};
    EXPECT_FALSE(bridge_.markPhotosItems(QStringLiteral("m1"), QStringLiteral("dup"), nullptr));
    runner_->answer.errorMessage = QStringLiteral("iTunes got an error.");
    EXPECT_FALSE(bridge_.notifyDeletion(QStringLiteral("ff")));
    runner_->answer = {Status::Failed, false, {}, QStringLiteral("Photos got another error."), -1728};
    EXPECT_FALSE(bridge_.undoPhotosItems(QStringLiteral("m1"), QStringLiteral("dup")));
    // Quitting and activating are silent.
    EXPECT_FALSE(bridge_.quitApp(QStringLiteral("Photos")));
    bridge_.bringiTunesInFront();

    const auto shown = alerts();
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_EQ(shown[0].messageText, u"Photos got an error.");
    EXPECT_EQ(shown[0].informativeText, error("repair_Photos_library"));
    EXPECT_FALSE(shown[0].informativeText.isEmpty());
    EXPECT_EQ(shown[1].messageText, u"iTunes got an error.");
    EXPECT_TRUE(shown[1].informativeText.isEmpty());
    EXPECT_TRUE(shown[2].informativeText.isEmpty());
}

TEST_F(Bridge, WithoutTheApplicationsChangesAnswerNoWithOneClearAlertAndTheWatchIsKept)
{
    scripts_.usePlatformRunner();
    KZAppsSupport::sharedControl().addObservers();
    EXPECT_FALSE(bridge_.notifyDeletion(QStringLiteral("ff\nee")));
    EXPECT_TRUE(KZAppsSupport::sharedControl().isObserving());
    EXPECT_FALSE(bridge_.undoDeletion(QStringLiteral("/m/a.mp3")));
    EXPECT_FALSE(bridge_.markPhotosItems(QStringLiteral("m1"), QStringLiteral("dup"), nullptr));
    EXPECT_FALSE(bridge_.undoPhotosItems(QStringLiteral("m1"), QStringLiteral("dup")));
    EXPECT_FALSE(bridge_.quitApp(QStringLiteral("Photos")));
    bridge_.bringiTunesInFront();

    const auto shown = alerts();
    ASSERT_EQ(shown.size(), 4u);
    EXPECT_EQ(shown[0].messageText, error("music_app_not_available"));
    EXPECT_EQ(shown[1].messageText, error("music_app_not_available"));
    EXPECT_EQ(shown[2].messageText, error("photos_app_not_available"));
    EXPECT_EQ(shown[3].messageText, error("photos_app_not_available"));
}

TEST_F(Bridge, AMusicLibraryChangeThatRanPausesTheWatchAndReloadsTheLibrary)
{
    int reloads = 0;
    KZApplescript::setMusicLibraryDidChange([&] { ++reloads; });
    KZAppsSupport::sharedControl().addObservers();
    EXPECT_TRUE(bridge_.notifyDeletion(QStringLiteral("ff")));
    EXPECT_FALSE(KZAppsSupport::sharedControl().isObserving());
    EXPECT_EQ(reloads, 1);
    EXPECT_TRUE(bridge_.undoDeletion(QStringLiteral("/m/a.mp3")));
    EXPECT_EQ(reloads, 1);
    KZApplescript::setMusicLibraryDidChange({});
}
