#include "services/ui/KZSplitViewExtensions.h"

#include "platform/UserDefaults.h"
#include "support/TestSupport.h"

#include <QSplitter>
#include <QWidget>

#include <gtest/gtest.h>

#include <memory>

namespace {

const QString kKey = QStringLiteral("list_ver_splitview_settings");

class SplitViewTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        platform::UserDefaults::setStandard(std::make_unique<platform::UserDefaults>(dir_ / "defaults.plist"));
    }
    void TearDown() override { platform::UserDefaults::setStandard(nullptr); }

    // Two panes, a one-point divider, shown so that the sizes are real.
    static std::unique_ptr<QSplitter> splitter(Qt::Orientation orientation, int w = 800, int h = 500)
    {
        auto s = std::make_unique<QSplitter>(orientation);
        s->setHandleWidth(1);
        s->setChildrenCollapsible(true);
        s->addWidget(new QWidget);
        s->addWidget(new QWidget);
        s->resize(w, h);
        s->show();
        return s;
    }
    static void store(const QVariantList& strings) { platform::UserDefaults::standard().setValue(kKey, strings); }

    kztest::TempDir dir_;
};

TEST_F(SplitViewTest, InitialFrameGivesTheSecondPaneAQuarterLessOne)
{
    auto side = splitter(Qt::Horizontal);
    KZSplitViewExtensions::setIntialFrame(*side);
    EXPECT_EQ(side->sizes(), (QList<int>{600, 199}));
    auto stacked = splitter(Qt::Vertical);
    KZSplitViewExtensions::setIntialFrame(*stacked);
    EXPECT_EQ(stacked->sizes(), (QList<int>{375, 124}));
}

TEST_F(SplitViewTest, RestorePositionsHidesAndMovesTheDivider)
{
    auto s = splitter(Qt::Horizontal);
    store({QStringLiteral("0.000000, 0.000000, 250.000000, 400.000000, YES, NO"),
           QStringLiteral("251.000000, 0.000000, 549.000000, 400.000000, NO, YES")});
    KZSplitViewExtensions::restorePositionsWithKey(*s, kKey);
    EXPECT_TRUE(s->widget(0)->isHidden());
    s->widget(0)->show();
    EXPECT_EQ(s->sizes().first(), 250);

    // Stacked panes read the height.
    auto stacked = splitter(Qt::Vertical);
    KZSplitViewExtensions::restorePositionsWithKey(*stacked, kKey);
    stacked->widget(0)->show();
    EXPECT_EQ(stacked->sizes().first(), 400);
}

TEST_F(SplitViewTest, MalformedSettingsLeaveTheLayoutAlone)
{
    const QVariantList stored[] = {
        {},
        {QString()},
        {QStringLiteral("250")},
        {QStringLiteral("0.0, 0.0, 250.0, 400.0")},
        {QStringLiteral("0.0, 0.0, wide, tall, YES, NO")},
        {QStringLiteral("0.0,0.0,250.0,400.0,YES,NO")},
        {QStringLiteral("0.0, 0.0, -5.0, 400.0, YES, NO")},
        {QVariantMap{}},
    };
    for (const QVariantList& strings : stored) {
        store(strings);
        for (auto restore : {&KZSplitViewExtensions::restorePositionsWithKey,
                             &KZSplitViewExtensions::restoreSavedPositionsWithKey}) {
            auto s = splitter(Qt::Horizontal);
            s->setSizes({300, 499});
            restore(*s, kKey);
            EXPECT_EQ(s->sizes(), (QList<int>{300, 499})) << strings.value(0).toString().toStdString();
            EXPECT_FALSE(s->widget(0)->isHidden());
            EXPECT_FALSE(s->widget(1)->isHidden());
        }
    }
    // A missing key is the same.
    platform::UserDefaults::standard().removeValue(kKey);
    auto s = splitter(Qt::Horizontal);
    s->setSizes({300, 499});
    KZSplitViewExtensions::restoreSavedPositionsWithKey(*s, kKey);
    EXPECT_EQ(s->sizes(), (QList<int>{300, 499}));
}

TEST_F(SplitViewTest, SavedPositionsRoundTrip)
{
    struct Row { Qt::Orientation orientation; QList<int> sizes; bool hideSecond; };
    const Row rows[] = {
        {Qt::Horizontal, {250, 549}, false},
        {Qt::Horizontal, {700, 99}, false},
        {Qt::Vertical, {120, 379}, false},
        {Qt::Horizontal, {520, 279}, true},
    };
    for (const Row& r : rows) {
        auto s = splitter(r.orientation);
        s->setSizes(r.sizes);
        s->widget(1)->setHidden(r.hideSecond);
        KZSplitViewExtensions::savePositionsWithKey(*s, kKey);
        const QVariantList strings = platform::UserDefaults::standard().arrayForKey(kKey);
        ASSERT_EQ(strings.size(), 2);
        EXPECT_TRUE(strings[0].toString().endsWith(r.hideSecond ? QStringLiteral("NO, YES") : QStringLiteral("NO, NO")));

        auto restored = splitter(r.orientation);
        KZSplitViewExtensions::restoreSavedPositionsWithKey(*restored, kKey);
        EXPECT_EQ(restored->widget(1)->isHidden(), r.hideSecond);
        if (!r.hideSecond)
            EXPECT_EQ(restored->sizes(), r.sizes);
        else
            EXPECT_EQ(restored->sizes().first(), s->sizes().first());
    }
}

TEST_F(SplitViewTest, MoreStringsThanPanesAreIgnored)
{
    auto s = splitter(Qt::Horizontal);
    store({QStringLiteral("0, 0, 200, 500, NO, NO"), QStringLiteral("201, 0, 599, 500, NO, NO"),
           QStringLiteral("0, 0, 10, 10, YES, YES")});
    KZSplitViewExtensions::restoreSavedPositionsWithKey(*s, kKey);
    EXPECT_EQ(s->sizes(), (QList<int>{200, 599}));

    // A bad string for one pane leaves that pane's size to the splitter.
    store({QStringLiteral("bad"), QStringLiteral("201, 0, 100, 500, YES, NO")});
    KZSplitViewExtensions::restoreSavedPositionsWithKey(*s, kKey);
    EXPECT_FALSE(s->widget(0)->isHidden());
    EXPECT_TRUE(s->widget(1)->isHidden());
}

} // namespace
