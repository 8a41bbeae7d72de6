// An open result follows a change of a label's extensions made in the
// preferences' extensions popover.

#include "result/model/ModelTestSupport.h"
#include "result/model/ResultCntrlFakes.h"

#include "preferences/ui/KZPreferencesLabelsCellView.h"
#include "preferences/ui/KZPreferencesLabelsCntrl.h"
#include "preferences/ui/KZPreferencesLabelsPopoverCntrl.h"

#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"
#include "services/KZErrorDelegate.h"
#include "settings/KZDefaultsRegistry.h"
#include "settings/KZNotificationNames.h"
#include "settings/KZSearchStuff.h"
#include "ScriptedPresenter.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

using namespace modeltest;
using namespace resulttest;
using namespace Qt::StringLiterals;

TEST(PreferencesResultTest, ExtensionsChangedInThePopoverRefileThatTabsItems)
{
    kztest::ScopedDefaults defaults;
    KZDefaultsRegistry::setupDefaultsPreferences(*defaults);
    auto presenter = std::make_shared<kztest::ScriptedPresenter>();
    KZErrorDelegate::sharedControl().setPresenter(presenter);
    kztest::TempDir dir;
    const auto rawA = dir.write("raw/a.cr2", std::string(3000, 'r'));
    const auto rawB = dir.write("copy/a.cr2", std::string(3000, 'r'));
    const auto jpgA = dir.write("img/b.jpg", std::string(2000, 'j'));
    const auto jpgB = dir.write("copy/b.jpg", std::string(2000, 'j'));
    const std::vector<ItemShape> shapes{{.path = rawA, .group = 1, .tag = 1},
                                        {.path = rawB, .group = 1, .label = 1, .tag = 1},
                                        {.path = jpgA, .group = 2, .tag = 3},
                                        {.path = jpgB, .group = 2, .label = 1, .tag = 3}};
    const QVariantMap info{{u"KZResultFoundItems"_s, parcelOf(shapes)},
                           {u"KZResultFoundItemsCount"_s, quint64(shapes.size())},
                           {u"KZResultFoundFileTypes"_s, QVariantMap{{u"1"_s, QVariant()}, {u"3"_s, QVariant()}}},
                           {u"KZResultSearchedForDeads"_s, false},
                           {u"KZResultCurrentLocationLabel"_s, QVariant::fromValue<qint16>(1)},
                           {u"KZResultSearchStuffItem"_s, QVariant::fromValue(KZSearchStuff::searchStuff())}};

    FakeHost host;
    host.strip.tagsToCreate = {0, 1, 3};
    bool started = false;
    platform::Subscription startedSubscription = platform::NotificationCenter::defaultCenter().addObserver(
        KZNotification::startToShowItems, {}, [&](const platform::Notification&) { started = true; });
    auto result = std::make_unique<KZResultCntrl>(info, &host);
    ASSERT_TRUE(kztest::processEventsUntil([&] { return started; }));
    auto tagsOfRaw = [&] {
        QList<quint64> tags;
        for (const KZFoundItemRef& item : result->foundItemsCntrl()->allItems()) {
            if (item->extension() == u"cr2"_s)
                tags.append(item->fileTypeTag());
        }
        return tags;
    };
    ASSERT_EQ(tagsOfRaw(), (QList<quint64>{1, 1}));
    const int imagesUpdates = host.made.at(3)->filesListUpdates;

    KZPreferencesLabelsCntrl pane;
    pane.show();
    KZPreferencesLabelsCellView* images = pane.cellWithTag(3);
    ASSERT_TRUE(images);
    images->ellipseAction();
    KZPreferencesLabelsPopoverCntrl* popover = images->popoverCntrl();
    ASSERT_TRUE(popover && popover->isShown());
    popover->addAction();
    popover->updateExtensions(static_cast<int>(popover->groups().size()) - 1, u"cr2, nef"_s);
    popover->doneAction();

    ASSERT_TRUE(kztest::processEventsUntil([&] { return tagsOfRaw() == QList<quint64>{3, 3}; }));
    EXPECT_GT(host.made.at(3)->filesListUpdates, imagesUpdates);
    EXPECT_GT(host.made.at(1)->filesListUpdates, 0);

    result.reset();
    KZErrorDelegate::sharedControl().setPresenter(nullptr);
}
