#include "result/panes/ui/KZDeadTracksCntrl.h"

#include "ModelChecker.h"
#include "TestSupport.h"
#include "media/KZApplescript.h"
#include "platform/NotificationCenter.h"
#include "platform/StringTable.h"
#include "result/model/KZListNotifications.h"
#include "services/KZErrorDelegate.h"
#include "services/ui/KZAnimationTiming.h"
#include "settings/KZNotificationNames.h"
#include "settings/KZTags.h"
#include "support/MediaFakes.h"
#include "support/ScriptedPresenter.h"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QPushButton>
#include <QTableView>

#include <gtest/gtest.h>

using Status = platform::ScriptResult::Status;

namespace {

platform::NotificationCenter& center()
{
    return platform::NotificationCenter::defaultCenter();
}

QVariantMap track(const QString& id, const QString& song)
{
    return {{u"songName"_qs, song},
            {u"album"_qs, QString(song + u" album"_qs)},
            {u"artist"_qs, QString(song + u" artist"_qs)},
            {u"trackID"_qs, id},
            {u"url"_qs, QUrl::fromLocalFile(QString(u"/music/"_qs + song + u".mp3"_qs))}};
}

class DeadTracksTab : public ::testing::Test {
protected:
    DeadTracksTab()
    {
        KZAnimationTiming::setScale(0.01);
        KZErrorDelegate::sharedControl().setPresenter(presenter_);
        closed_ = center().addObserver(KZNotification::removePanelDidClose, platform::bundleIdentifier(),
                                       [this](const platform::Notification& note) {
                                           ++panelClosed_;
                                           closeHadUserInfo_ = !note.userInfo.isEmpty();
                                       });
        spinnerStopped_ = center().addObserver(KZNotification::KZStopProgressIndicator,
                                               static_cast<const void*>(&tab_),
                                               [this](const platform::Notification& note) {
                                                   stopTag_ = note.userInfo.value(u"tag"_qs).toULongLong();
                                               });
        removeBtn_.setText(u"Remove"_qs);
        selectionInfo_.setText(u"3 selected"_qs);
    }
    ~DeadTracksTab() override
    {
        if (checker_) {
            EXPECT_TRUE(checker_->failures().isEmpty()) << checker_->report().toStdString();
        }
        checker_.reset();
        cntrl_.reset();
        KZErrorDelegate::sharedControl().setPresenter(nullptr);
        platform::ScriptRunner::setShared(nullptr);
        KZAnimationTiming::setScale(1.0);
    }

    void make(const QVariantList& deads, bool stopped = false, bool withDeads = true)
    {
        QVariantMap info{{u"fileType"_qs, QVariant::fromValue(KZFileTypeLabel::create(KZTag::missingTracks))},
                         {u"tabView"_qs, QVariant::fromValue<QObject*>(&tab_)},
                         {u"KZResultRemoveButton"_qs, QVariant::fromValue<QObject*>(&removeBtn_)},
                         {u"KZResultSelectionInfoField"_qs, QVariant::fromValue<QObject*>(&selectionInfo_)},
                         {u"KZResultSearchWasStoppedByUser"_qs, stopped}};
        if (withDeads)
            info.insert(u"KZResultFoundDeads"_qs, deads);
        cntrl_ = std::make_unique<KZDeadTracksCntrl>(info);
        // The table's model keeps Qt's rules through every change the test makes.
        checker_ = std::make_unique<kztest::ModelChecker>(model());
        cntrl_->resultView()->resize(700, 400);
        cntrl_->resultView()->show();
        center().post(KZNotification::superviewDidUnhide, static_cast<const void*>(cntrl_->resultView()));
        settle();
    }
    static void settle() { kztest::processEventsUntil([] { return false; }, std::chrono::milliseconds(50)); }

    QAbstractItemModel* model() const { return cntrl_->tableView()->model(); }
    QString cell(int row, int column) const { return model()->index(row, column).data().toString(); }
    QStringList songs() const
    {
        QStringList list;
        for (int row = 0; row < model()->rowCount(); ++row)
            list << cell(row, 1);
        return list;
    }
    QString countLine(int count) const
    {
        return platform::localizedString(u"deads_found_count"_qs).replace(u"%@"_qs, QString::number(count));
    }
    void setMark(int row, bool marked)
    {
        model()->setData(model()->index(row, 0), marked ? Qt::Checked : Qt::Unchecked, Qt::CheckStateRole);
    }
    bool removeAndWait()
    {
        const int before = panelClosed_;
        center().post(KZNotification::removeButtonDidClick, platform::bundleIdentifier());
        return kztest::processEventsUntil([&] { return panelClosed_ > before; });
    }

    QObject tab_;
    QPushButton removeBtn_;
    QLabel selectionInfo_;
    std::unique_ptr<KZDeadTracksCntrl> cntrl_;
    std::unique_ptr<kztest::ModelChecker> checker_;
    kztest::ScopedScriptRunner scripts_;
    kztest::RecordingScriptRunner*& runner_ = scripts_.runner;
    std::shared_ptr<kztest::ScriptedPresenter> presenter_ = std::make_shared<kztest::ScriptedPresenter>();
    platform::Subscription closed_;
    platform::Subscription spinnerStopped_;
    int panelClosed_ = 0;
    bool closeHadUserInfo_ = false;
    quint64 stopTag_ = 0;
};

QVariantList fiveTracks()
{
    return {track(u"a1"_qs, u"One"_qs), track(u"b2"_qs, u"Two"_qs), track(u"c3"_qs, u"Three"_qs),
            track(u"d4"_qs, u"Four"_qs), track(u"e5"_qs, u"Five"_qs)};
}

} // namespace

TEST_F(DeadTracksTab, ListsTheTracksWithTheirMarksAndCount)
{
    QVariantMap saved = track(u"F0"_qs, u"Saved"_qs);
    saved.remove(u"url"_qs);
    saved.insert(u"path"_qs, u"/old/Saved.mp3"_qs);
    saved.insert(u"isMarked"_qs, false);
    make({track(u"a1"_qs, u"One"_qs), saved});

    ASSERT_EQ(model()->rowCount(), 2);
    EXPECT_EQ(cell(0, 1), u"One");
    EXPECT_EQ(cell(0, 2), u"One album");
    EXPECT_EQ(cell(0, 3), u"One artist");
    EXPECT_EQ(cell(0, 4), u"/music/One.mp3");
    EXPECT_EQ(cell(1, 4), u"/old/Saved.mp3");
    EXPECT_EQ(model()->index(0, 0).data(Qt::CheckStateRole).value<Qt::CheckState>(), Qt::Checked);
    EXPECT_EQ(model()->index(1, 0).data(Qt::CheckStateRole).value<Qt::CheckState>(), Qt::Unchecked);
    EXPECT_EQ(cntrl_->foundCountFld()->text(), countLine(2));
    EXPECT_TRUE(cntrl_->emptyView()->isHidden());
    EXPECT_TRUE(cntrl_->searchStoppedFld()->isHidden());
    EXPECT_EQ(removeBtn_.text(), platform::localizedString(u"remove_button_title"_qs)
                                     .replace(u"%@"_qs, platform::localizedString(u"deads_tab_name"_qs)));
    EXPECT_TRUE(selectionInfo_.text().isEmpty());
    EXPECT_EQ(stopTag_, KZTag::missingTracks);

    // A box sets its row's mark.
    setMark(0, false);
    EXPECT_FALSE(cntrl_->deads()[0]->isMarked());
    setMark(1, true);
    EXPECT_TRUE(cntrl_->deads()[1]->isMarked());

    // Hidden, the table is empty and the button gets its own title back.
    center().post(KZNotification::superviewDidHide, static_cast<const void*>(cntrl_->resultView()));
    EXPECT_EQ(model()->rowCount(), 0);
    EXPECT_EQ(removeBtn_.text(), u"Remove");
}

TEST_F(DeadTracksTab, AResultWithoutTracksShowsTheEmptyViewAndTheStoppedNote)
{
    make({}, true, false);
    EXPECT_EQ(model()->rowCount(), 0);
    EXPECT_EQ(cntrl_->foundCountFld()->text(), countLine(0));
    EXPECT_TRUE(kztest::processEventsUntil([&] { return cntrl_->emptyView()->isVisible(); }));
    EXPECT_TRUE(cntrl_->searchStoppedFld()->isVisible());
}

TEST_F(DeadTracksTab, ADoubleClickCopiesTheSongNameAndShowsTheMusicApplication)
{
    make({track(u"a1"_qs, u"One"_qs), track(u"b2"_qs, u"Two"_qs)});
    QGuiApplication::clipboard()->setText(u"before"_qs);
    cntrl_->doubleClick();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), u"before");
    EXPECT_TRUE(runner_->recorded().isEmpty());

    cntrl_->tableView()->selectRow(1);
    cntrl_->doubleClick();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), u"Two");
    EXPECT_EQ(runner_->recorded(), QStringList{KZApplescript::activateSourceScript()});
}

TEST_F(DeadTracksTab, RemovalOnYesTakesOnlyTheMarkedRows)
{
    make(fiveTracks());
    setMark(1, false);
    setMark(3, false);
    ASSERT_TRUE(removeAndWait());
    EXPECT_EQ(runner_->recorded(), QStringList{KZApplescript::deletionScriptWithString(u"a1\nc3\ne5"_qs)});
    EXPECT_EQ(songs(), (QStringList{u"Two"_qs, u"Four"_qs}));
    EXPECT_FALSE(cntrl_->deads()[0]->isMarked());
    EXPECT_FALSE(cntrl_->deads()[1]->isMarked());
    EXPECT_EQ(cntrl_->foundCountFld()->text(), countLine(2));
    EXPECT_TRUE(cntrl_->tableView()->isEnabled());
    EXPECT_FALSE(closeHadUserInfo_);
    EXPECT_FALSE(cntrl_->isRemoving());
}

TEST_F(DeadTracksTab, RemovalOnNoKeepsEveryRowAndStillEndsTheRemoval)
{
    make(fiveTracks());
    runner_->answer = {Status::Failed, false, {}, u"iTunes got an error."_qs, -1728};
    ASSERT_TRUE(removeAndWait());
    EXPECT_EQ(songs().size(), 5);
    EXPECT_EQ(cntrl_->foundCountFld()->text(), countLine(5));
    EXPECT_EQ(presenter_->shown(), 1u);
}

TEST_F(DeadTracksTab, WithoutTheMusicApplicationNothingIsRemoved)
{
    scripts_.usePlatformRunner();
    make(fiveTracks());
    ASSERT_TRUE(removeAndWait());
    EXPECT_EQ(songs().size(), 5);
    EXPECT_EQ(presenter_->shown(), 1u);
    // The tab's explanation promises no removal it cannot make here.
    QStringList tips;
    for (const QAbstractButton* button : cntrl_->foundCountFld()->window()->findChildren<QAbstractButton*>())
        if (!button->toolTip().isEmpty())
            tips << button->toolTip();
    const QString info = platform::localizedString(u"deads_info"_qs);
    ASSERT_TRUE(tips.contains(info)) << tips.join(u" | "_qs).toStdString();
    EXPECT_FALSE(info.contains(u"Remove deletes"_qs)) << info.toStdString();
    EXPECT_TRUE(info.contains(u"Only the music application"_qs)) << info.toStdString();
}

TEST_F(DeadTracksTab, WithNothingMarkedOrOnAHiddenTabTheClickOnlyEndsTheRemoval)
{
    make({track(u"a1"_qs, u"One"_qs)});
    setMark(0, false);
    ASSERT_TRUE(removeAndWait());
    EXPECT_TRUE(runner_->recorded().isEmpty());

    setMark(0, true);
    cntrl_->resultView()->hide();
    center().post(KZNotification::removeButtonDidClick, platform::bundleIdentifier());
    settle();
    EXPECT_EQ(panelClosed_, 1); // the list of the tab on screen answers this one
    EXPECT_TRUE(runner_->recorded().isEmpty());
}
