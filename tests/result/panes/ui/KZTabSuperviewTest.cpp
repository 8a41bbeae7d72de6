#include "result/panes/ui/KZTabSuperview.h"

#include "settings/KZFileTypeLabel.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <cmath>

namespace {

KZFileTypeLabelRef labelWith(double on, double off)
{
    auto label = KZFileTypeLabel::create(1);
    label->setRedOnColor(on);
    label->setGreenOnColor(on);
    label->setBlueOnColor(on);
    label->setOnAlphaValue(1.0);
    label->setRedOffColor(off);
    label->setGreenOffColor(off);
    label->setBlueOffColor(off);
    label->setOffAlphaValue(1.0);
    return label;
}

TEST(TabSuperview, ColoursFollowTheLabel)
{
    struct Case {
        const char* name;
        double on, off;
        bool selected;
        double textGrey;
    };
    const Case cases[] = {
        {"white selected", 1.0, 0.5, true, 0.15},
        {"black selected", 0.0, 0.5, true, 1.0},
        {"light unselected", 0.2, 0.9, false, 0.15},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto label = labelWith(c.on, c.off);
        KZTabSuperview tab(QRect(0, 0, 100, 30), label, c.selected);
        EXPECT_NEAR(tab.textColor().redF(), c.textGrey, 1e-3);
        // Strokes are opaque and a tenth darker than their fill's base.
        EXPECT_NEAR(tab.newStrokeOnColor().redF(), std::max(0.0, c.on - 0.1), 1e-3);
        EXPECT_EQ(tab.newStrokeOnColor().alphaF(), 1.0f);
        // The unselected fill is the off colour a fifth darker in brightness.
        EXPECT_NEAR(tab.newMainOffColor().valueF(), std::max(0.0, c.off - 0.2), 2e-3);
        EXPECT_EQ(tab.fillColor(), c.selected ? tab.newMainOnColor() : tab.newMainOffColor());
    }
}

// A tab follows its own label: when the label tells of a new look, the tab
// takes the new colours on the main loop's next turn; another label's news
// leaves it as it is.
TEST(TabSuperview, ATabTakesItsOwnLabelsNewLookWhenTheLabelTellsOfIt)
{
    const auto label = labelWith(0.6, 0.5);
    const auto other = labelWith(0.3, 0.3);
    KZTabSuperview tab(QRect(0, 0, 100, 30), label, true);
    const QColor before = tab.fillColor();
    for (auto set : {&KZFileTypeLabel::setRedOnColor, &KZFileTypeLabel::setGreenOnColor, &KZFileTypeLabel::setBlueOnColor})
        ((*label).*set)(0.1);
    EXPECT_EQ(tab.fillColor(), before) << "nothing changes before the label tells";
    label->updateTabs();
    QCoreApplication::processEvents();
    EXPECT_NEAR(tab.fillColor().redF(), 0.1, 1e-3);
    EXPECT_EQ(tab.fillColor(), tab.newMainOnColor());
    EXPECT_EQ(tab.strokeColor(), tab.newStrokeOnColor());

    label->setRedOnColor(0.9);
    other->updateTabs();
    QCoreApplication::processEvents();
    EXPECT_NEAR(tab.fillColor().redF(), 0.1, 1e-3) << "another label's news";
}

TEST(TabSuperview, PressedLookThinsOnlyTheStandardLine)
{
    const auto label = labelWith(0.6, 0.5);
    for (const double width : {KZTabSuperview::kLineWidth, KZTabSuperview::kThinLineWidth}) {
        SCOPED_TRACE(width);
        KZTabSuperview tab(QRect(0, 0, 100, 30), label, true);
        tab.setLineWidth(width);
        const QColor fill = tab.fillColor();
        tab.drawTabHighlight();
        EXPECT_EQ(tab.lineWidth(), KZTabSuperview::kThinLineWidth);
        EXPECT_NEAR(tab.fillColor().redF(), 0.45, 1e-3);
        EXPECT_EQ(tab.strokeColor(), tab.newStrokeOffColor());
        tab.removeTabHighlight();
        EXPECT_EQ(tab.lineWidth(), width);
        EXPECT_EQ(tab.fillColor(), fill);
    }
}

TEST(TabSuperview, HitTestAndImage)
{
    const auto label = labelWith(0.6, 0.5);
    label->setName(QStringLiteral("Images"));
    KZTabSuperview tab(QRect(0, 0, 100, 100), label, true);
    QPainterPath triangle;
    triangle.moveTo(10, 10);
    triangle.lineTo(90, 10);
    triangle.lineTo(10, 90);
    triangle.closeSubpath();
    tab.setSavedPath(triangle);
    EXPECT_TRUE(tab.pathContainsPoint({20, 20}));
    EXPECT_FALSE(tab.pathContainsPoint({80, 80})) << "inside the box, outside the outline";
    EXPECT_EQ(tab.tabRect(), QRectF(12, 10, 80, 80));

    const QImage image = tab.tabImageWithOptions({{QStringLiteral("imageIsSquare"), true},
                                                  {QStringLiteral("fontSize"), 12.0},
                                                  {QStringLiteral("drawCircle"), true}});
    EXPECT_EQ(image.size(), QSize(15, 15));
    int inked = 0;
    for (int y = 0; y < 15; ++y)
        for (int x = 0; x < 15; ++x)
            inked += qAlpha(image.pixel(x, y)) > 0;
    EXPECT_GT(inked, 20);
}

TEST(TabSuperview, ImageOrigin)
{
    const auto label = labelWith(0.6, 0.5);
    KZTabSuperview tab(QRect(0, 0, 100, 60), label, true);
    struct Case {
        const char* origin;
        QPointF expected;
    };
    const Case cases[] = {
        {"0, 0", {42.5, 22.5}},
        {"", {42.5, 22.5}},
        {"not a point", {42.5, 22.5}},
        {"10, 5", {10, 40}},
        {"{267.0, 271.0}", {267, -226}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.origin);
        EXPECT_EQ(tab.imageLayerOrigin({{QStringLiteral("layerOrigin"), QString::fromLatin1(c.origin)}}, QSizeF(15, 15)),
                  c.expected);
    }
}

} // namespace
