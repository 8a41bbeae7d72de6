#include "result/window/KZCellFormatting.h"
#include "result/window/ui/KZCounterCellView.h"
#include "result/window/ui/KZResultTableRowView.h"

#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

#include <functional>

namespace {

QImage painted(QSize size, const std::function<void(QPainter&)>& draw)
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    draw(painter);
    return image;
}

int greyLevel(double value)
{
    return KZCellFormatting::grey(value).red();
}

TEST(RowViews, ItemRowsPaintTheirGroupsGreyWithALineAboveAFirstMember)
{
    const QRect row(0, 0, 120, 36);
    const auto item = [&](std::optional<KZRowColourRecord> record, bool selected = false, int style = 0) {
        return painted(row.size(), [&](QPainter& p) {
            KZResultTableRowView::drawBackground(&p, row, selected, style, KZCellFormatting::Tint::Blue, record);
        });
    };

    const QImage firstOfOdd = item(KZRowColourRecord{.colorCode = -3, .isFirstGroupLine = true});
    EXPECT_EQ(firstOfOdd.pixelColor(60, 18).red(), greyLevel(0.99)) << "odd codes, negative ones too, are lighter";
    // A half-point line in the group bar's colour, on the top edge only.
    const QColor line = firstOfOdd.pixelColor(60, 0);
    EXPECT_LT(line.red(), greyLevel(0.99) - 20);
    EXPECT_GT(line.blue(), line.red()) << "the bar's blue-grey";
    EXPECT_EQ(firstOfOdd.pixelColor(60, 1).red(), greyLevel(0.99));

    const QImage laterOfEven = item(KZRowColourRecord{.colorCode = 4, .isFirstGroupLine = false});
    EXPECT_EQ(laterOfEven.pixelColor(60, 18).red(), greyLevel(0.95));
    EXPECT_EQ(laterOfEven.pixelColor(60, 0).red(), greyLevel(0.95)) << "no line inside a group";

    EXPECT_EQ(item(std::nullopt).pixelColor(60, 18), QColor(Qt::white)) << "the grouped list keeps the plain row";
    const QImage selected = item(KZRowColourRecord{.colorCode = 1, .isFirstGroupLine = true}, true, 0);
    EXPECT_EQ(selected.pixelColor(60, 18).red(), greyLevel(0.86));
    EXPECT_EQ(item(std::nullopt, true, 1).pixelColor(60, 18).rgb(), KZCellFormatting::tintColour().rgb());
}

TEST(RowViews, CounterPillLooksPressedAndFadesToHalfDuringARemoval)
{
    const QRect left(10, 10, 10, 18);
    const QRect popup(70, 10, 10, 18);
    const auto pill = [&](bool pressed, bool removing) {
        return painted({100, 40}, [&](QPainter& p) { KZCounterCellView::draw(&p, left, popup, pressed, removing); })
            .pixelColor(45, 19);
    };

    const QColor plain = pill(false, false);
    EXPECT_EQ(plain.alpha(), 255);
    EXPECT_LT(pill(true, false).red(), plain.red() - 10) << "the pressed band is darker";
    EXPECT_NEAR(pill(false, true).alpha(), 128, 2);
    EXPECT_NEAR(pill(true, true).alpha(), 128, 2);
}

} // namespace
