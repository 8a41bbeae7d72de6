// Pictures of the progress window in its main states, for people to look at.
// Runs only when MARAVEX_SHOTS_DIR names a folder (scripts/screenshots.sh
// sets it); the window is driven through its controller with a hand-set
// clock, so every picture shows the same state on every run.

#include "app/progress/KZProgressRingGeometry.h"
#include "app/progress/KZSearchProgressCore.h"
#include "app/progress/ui/KZProgressTabView.h"
#include "app/progress/ui/KZProgressTabs.h"
#include "app/progress/ui/KZSearchProgress.h"
#include "app/progress/ui/KZSearchProgressExtraInfoCntrl.h"
#include "app/progress/ui/KZSearchProgressWindow.h"
#include "ManualClock.h"
#include "TestSupport.h"

#include "platform/UserDefaults.h"
#include "services/KZSearchInProgress.h"
#include "settings/KZDefaultsRegistry.h"

#include <QDir>
#include <QPainter>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>
#include <thread>

namespace {

namespace G = KZProgressRingGeometry;

void pause(int ms)
{
    kztest::processEventsUntil([] { return false; }, std::chrono::milliseconds(ms));
}

// The window over a calm desktop colour, as a person would see it.
bool save(QWidget* window, const QString& file)
{
    const QPixmap shot = window->grab();
    QImage canvas(shot.size() + QSize(80, 80), QImage::Format_ARGB32_Premultiplied);
    canvas.fill(QColor(0x5d, 0x6b, 0x7d));
    QPainter painter(&canvas);
    painter.drawPixmap(40, 40, shot);
    painter.end();
    return canvas.save(file);
}

TEST(ProgressWindowShots, RunningFinalAndHovered)
{
    const QString dir = qEnvironmentVariable("MARAVEX_SHOTS_DIR");
    if (dir.isEmpty())
        GTEST_SKIP() << "pictures only when MARAVEX_SHOTS_DIR is set";
    QDir().mkpath(dir);
    KZDefaultsRegistry::setupDefaultsPreferences();

    QWidget searchWindow;
    searchWindow.resize(509, 509);
    auto progress = KZSearchProgress::create(&searchWindow, true);
    KZSearchProgressWindow* window = progress->progressWindow();
    auto& core = progress->core();
    kztest::ScopedManualClock clock;
    core.setStartsClock(false);
    progress->core().prepareToSearch({{QStringLiteral("showInterface"), true}});
    window->move(100, 100);

    auto advance = [&](double seconds) {
        const double end = clock->now() + seconds;
        while (clock->now() < end) {
            clock->advance(1.0 / 60.0);
            core.tick();
            QCoreApplication::processEvents();
        }
    };
    // Mid-search: counters moving, spinner turning, two types on the ring.
    progress->core().setItemsToCheckCount(12840);
    progress->core().setCheckedCount(7311);
    progress->core().setFoundCount(412);
    progress->core().setFoundSize(1386420224);
    core.addFoundItemOfType(3, 902000000);
    core.addFoundItemOfType(4, 41000000);
    advance(2.5);
    pause(900);
    EXPECT_TRUE(save(window, dir + QStringLiteral("/progress-running.png")));

    // The end: three types, the final ring sized by their bytes.
    core.addFoundItemOfType(7, 3200000);
    progress->core().setCheckedCount(12840);
    progress->core().setIsSearching(false);
    advance(0.1);
    kztest::processEventsUntil([&] { return window->tabsView()->hasFinalRing() && window->tabsView()->layers().empty(); });
    pause(700);
    EXPECT_TRUE(save(window, dir + QStringLiteral("/progress-final-ring.png")));

    // Pointing at a tab brings it forward and shows its type.
    KZProgressTabs* ring = window->tabsView();
    const auto& tab = *ring->shownTabs().at(1);
    const double radius = G::kInnerRadius + tab.geometry().thickness / 2;
    const QPointF c = ring->ringCentre();
    QTest::mouseMove(ring, QPointF(c.x() + radius * std::cos(tab.geometry().angle),
                                   c.y() - radius * std::sin(tab.geometry().angle)).toPoint());
    pause(800);
    EXPECT_TRUE(save(window, dir + QStringLiteral("/progress-hovered-tab.png")));

    progress.reset();
    KZSetSearchInProgress(false);
}

// A search stopped part way with many types found: the ring's narrow and
// lowest tabs, and the window telling that the search did not end by itself.
TEST(ProgressWindowShots, StoppedWithManyTypes)
{
    const QString dir = qEnvironmentVariable("MARAVEX_SHOTS_DIR");
    if (dir.isEmpty())
        GTEST_SKIP() << "pictures only when MARAVEX_SHOTS_DIR is set";
    KZDefaultsRegistry::setupDefaultsPreferences();
    QWidget searchWindow;
    searchWindow.resize(509, 509);
    auto progress = KZSearchProgress::create(&searchWindow, true);
    KZSearchProgressWindow* window = progress->progressWindow();
    auto& core = progress->core();
    core.setStartsClock(false);
    core.prepareToSearch({{QStringLiteral("showInterface"), true}});
    window->move(100, 100);
    const std::pair<quint64, quint64> types[] = {{1, 921600},   {2, 4200},      {3, 1386420224}, {4, 52000000},
                                                 {5, 310000},   {6, 2900000000}, {7, 88000}};
    for (const auto& [tag, size] : types)
        core.addFoundItemOfType(tag, size);
    core.setFoundCount(264);
    core.stopAction();
    core.setIsSearching(false);
    core.tick();
    kztest::processEventsUntil([&] { return window->tabsView()->hasFinalRing() && window->tabsView()->layers().empty(); });
    pause(900);
    EXPECT_TRUE(save(window, dir + QStringLiteral("/progress-stopped.png")));
    progress.reset();
    KZSetSearchInProgress(false);
}

} // namespace
