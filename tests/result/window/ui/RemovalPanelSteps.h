#pragma once

// The removal as a user starts it from a result window: Remove, Start on the
// page the panel opens with, then Close once the final card shows.

#include "TestSupport.h"
#include "removal/ui/KZRemovePanelWidget.h"
#include "result/window/ui/KZResultWindowCntrl.h"

#include <QCoreApplication>
#include <QPointer>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <chrono>

namespace kztest {

// Use with ASSERT_NO_FATAL_FAILURE: a step that does not come fails the test.
inline void removeThroughThePanel(KZResultWindowCntrl* window)
{
    QTest::mouseClick(window->removeBtn(), Qt::LeftButton);
    QPointer<KZRemovePanelWidget> panel;
    ASSERT_TRUE(processEventsUntil([&] {
        panel = window->findChild<KZRemovePanelWidget*>();
        return panel && panel->visibleCard() == KZRemovePanelWidget::Card::Choose;
    }));
    QTest::mouseClick(panel->startButton(), Qt::LeftButton);
    ASSERT_TRUE(processEventsUntil(
        [&] { return panel && panel->visibleCard() == KZRemovePanelWidget::Card::Final; }, std::chrono::seconds(30)));
    QTest::mouseClick(panel->findChild<QPushButton*>(QStringLiteral("removalClose")), Qt::LeftButton);
    ASSERT_TRUE(processEventsUntil([&] {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return !panel && !window->isRemoving();
    }));
}

} // namespace kztest
