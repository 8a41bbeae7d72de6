#include "result/model/ui/KZResultChromeViews.h"

#include "TestSupport.h"

#include <QApplication>
#include <QImage>
#include <QMouseEvent>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace {

QImage picture(QWidget& widget)
{
    return widget.grab().toImage();
}

TEST(ResultChrome, TheBackdropFadesFromWhiteToABluishGrey)
{
    KZResultWindowView view;
    view.resize(120, 300);
    const QImage image = picture(view);
    EXPECT_EQ(image.pixelColor(60, 0), QColor(Qt::white));
    const QColor bottom = image.pixelColor(60, 299);
    EXPECT_LT(bottom.red(), 250);
    EXPECT_GT(bottom.blue(), bottom.red()) << "bluish, not neutral";
    // Darker all the way down.
    EXPECT_GT(image.pixelColor(60, 100).red(), image.pixelColor(60, 200).red());
}

TEST(ResultChrome, TheListBarIsClosedByADarkerLineAtEachSide)
{
    KZResultListScopeBar bar;
    bar.resize(200, 24);
    const QImage image = picture(bar);
    const int fill = qRound(0.93 * 255);
    const int line = qRound(0.55 * 255);
    EXPECT_EQ(image.pixelColor(100, 12), QColor(fill, fill, fill));
    EXPECT_EQ(image.pixelColor(0, 12), QColor(line, line, line));
    EXPECT_EQ(image.pixelColor(199, 12), QColor(line, line, line));
    EXPECT_EQ(image.pixelColor(1, 12), QColor(fill, fill, fill));
}

TEST(ResultChrome, TheSourcesSeparatorStaysOnThePanesBottomEdge)
{
    QWidget pane;
    pane.setAutoFillBackground(true);
    QPalette palette = pane.palette();
    palette.setColor(QPalette::Window, Qt::white);
    pane.setPalette(palette);
    pane.resize(200, 100);
    KZResultLeftView::attach(&pane);
    // A child added later (the pane's own rows) does not cover it.
    auto* rows = new QWidget(&pane);
    rows->setAutoFillBackground(true);
    rows->setPalette(palette);
    rows->setGeometry(pane.rect());
    rows->show();
    const int grey = qRound(0.78 * 255);
    for (const QSize size : {QSize(200, 100), QSize(320, 150)}) {
        pane.resize(size);
        rows->setGeometry(pane.rect());
        const QImage image = picture(pane);
        EXPECT_EQ(image.pixelColor(size.width() - 2, size.height() - 1), QColor(grey, grey, grey)) << size.width();
        EXPECT_EQ(image.pixelColor(size.width() / 2, size.height() - 2), QColor(Qt::white)) << size.width();
    }
}

class ButtonContainer : public ::testing::Test {
protected:
    void SetUp() override
    {
        holder.resize(100, 40);
        holder.setBeep([this] { ++beeps; });
    }
    // Sends a mouse event at `x` (the pointer is 20 points down) and answers
    // whether the container kept it.
    bool send(QEvent::Type type, int x)
    {
        const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
        QMouseEvent event(type, QPointF(x, 20), holder.mapToGlobal(QPointF(x, 20)), Qt::LeftButton, held,
                          Qt::NoModifier);
        QApplication::sendEvent(&holder, &event);
        return event.isAccepted();
    }

    KZBtnSuperview holder;
    int beeps = 0;
};

TEST_F(ButtonContainer, AClickInsideBeepsAndGoesNoFurther)
{
    EXPECT_TRUE(send(QEvent::MouseButtonPress, 50));
    EXPECT_TRUE(holder.mouseIsDown());
    EXPECT_TRUE(send(QEvent::MouseButtonRelease, 50));
    EXPECT_EQ(beeps, 1);
    EXPECT_FALSE(holder.mouseIsDown());
}

TEST_F(ButtonContainer, APressThatLeavesCountsOnlyWhenItComesBack)
{
    send(QEvent::MouseButtonPress, 50);
    send(QEvent::MouseMove, 150);
    EXPECT_TRUE(holder.mouseIsDownAndOut());
    EXPECT_FALSE(holder.mouseIsHover());
    send(QEvent::MouseButtonRelease, 150);
    EXPECT_EQ(beeps, 0) << "released outside";
    EXPECT_FALSE(holder.mouseIsDownAndOut());

    send(QEvent::MouseButtonPress, 50);
    send(QEvent::MouseMove, -30);
    send(QEvent::MouseMove, 60);
    EXPECT_FALSE(holder.mouseIsDownAndOut());
    EXPECT_TRUE(holder.mouseIsHover());
    send(QEvent::MouseButtonRelease, 60);
    EXPECT_EQ(beeps, 1) << "back inside before the release";
}

TEST_F(ButtonContainer, AnEnabledButtonKeepsItsClicksADisabledOneIsAnswered)
{
    auto* button = new QPushButton(QStringLiteral("Remove"), &holder);
    button->setGeometry(holder.rect());
    int clicks = 0;
    QObject::connect(button, &QPushButton::clicked, [&clicks] { ++clicks; });
    holder.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&holder, kztest::kPatienceMs));
    // Through the window, as the pointer's clicks come: to the button under
    // the pointer.
    const auto click = [this] {
        QTest::mouseClick(holder.windowHandle(), Qt::LeftButton, Qt::NoModifier, QPoint(50, 20));
    };
    click();
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(beeps, 0);
    button->setEnabled(false);
    click();
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(beeps, 1);
}

} // namespace
