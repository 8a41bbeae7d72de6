// A picture of the result window's row of tabs, for people to look at. Runs
// only when MARAVEX_SHOTS_DIR names a folder (scripts/screenshots.sh sets it).

#include "TabStripTestSupport.h"
#include "TestSupport.h"

#include "platform/UserDefaults.h"
#include "result/panes/ui/KZResultTabItemView.h"
#include "settings/KZDefaultsRegistry.h"

#include <QDir>
#include <QLabel>
#include <QPainter>

#include <gtest/gtest.h>

namespace {

TEST(ResultTabsShots, FiveTabsOneSelectedOneBusy)
{
    const QString dir = qEnvironmentVariable("MARAVEX_SHOTS_DIR");
    if (dir.isEmpty())
        GTEST_SKIP() << "pictures only when MARAVEX_SHOTS_DIR is set";
    QDir().mkpath(dir);
    platform::UserDefaults::setStandard(nullptr);
    KZDefaultsRegistry::setupDefaultsPreferences();

    tabstest::FakeDelegate delegate;
    tabstest::Frame frame(&delegate);
    frame.window->setWindowTitle(QStringLiteral("Maravex"));
    frame.window->setAutoFillBackground(true);
    frame.content->setAutoFillBackground(true);
    QPalette palette = frame.content->palette();
    palette.setColor(QPalette::Window, Qt::white);
    frame.content->setPalette(palette);
    auto* hint = new QLabel(QStringLiteral("(the tab's list of duplicates)"), frame.content);
    hint->setStyleSheet(QStringLiteral("color: #999;"));
    hint->move(24, 24);

    frame.strip->createTabsWithTabInfo(tabstest::tabInfo({3, 4, 5, 7}));
    frame.window->resize(900, 240);
    frame.window->move(80, 80);
    frame.window->show();
    frame.strip->selectTabWithTag(4);
    frame.strip->tab(7)->manageSpinner();
    // The fades end and the spinner turns a few steps.
    kztest::processEventsUntil([] { return false; }, std::chrono::milliseconds(700));

    const QPixmap shot = frame.window->grab();
    QImage canvas(shot.size() + QSize(80, 80), QImage::Format_ARGB32_Premultiplied);
    canvas.fill(QColor(0x5d, 0x6b, 0x7d));
    QPainter painter(&canvas);
    painter.drawPixmap(40, 40, shot);
    painter.end();
    EXPECT_TRUE(canvas.save(dir + QStringLiteral("/result-tab-strip.png")));
    platform::UserDefaults::setStandard(nullptr);
}

} // namespace
