#include "result/model/KZColumnKeys.h"
#include "result/window/KZColumnFit.h"
#include "result/window/KZTableHeaderCntrl.h"

#include <gtest/gtest.h>

#include <numeric>

namespace {

int at(const QList<int>& widths, const QString& identifier)
{
    return widths.at(KZTableHeaderCntrl::indexOf(identifier));
}

int sum(const QList<int>& widths)
{
    return std::accumulate(widths.begin(), widths.end(), 0);
}

using namespace KZColumnKey;

TEST(ColumnFit, ANarrowListShowsEveryColumnAndGivesTheRestToTheName)
{
    // The list beside the preview: 706 points, members indented in the check column.
    const QList<int> widths = KZColumnFit::resultListWidths(706, false, 64, 290);
    EXPECT_EQ(sum(widths), 706) << "no column out of sight";
    EXPECT_EQ(at(widths, location_tag_col), 0);
    EXPECT_EQ(at(widths, check_col), 64);
    EXPECT_EQ(at(widths, size_col), 80);
    EXPECT_EQ(at(widths, kind_col), 160);
    EXPECT_EQ(at(widths, date_modified_col), 100) << "a long date without its time";
    EXPECT_GT(at(widths, name_col), at(widths, date_modified_col) * 2);
}

TEST(ColumnFit, AWideListGivesTheNameRoomBeforeTheFullDate)
{
    const QList<int> wide = KZColumnFit::resultListWidths(1000, true, 64, 290);
    EXPECT_EQ(sum(wide), 1000);
    EXPECT_EQ(at(wide, location_tag_col), 28);
    EXPECT_EQ(at(wide, name_col), 400);
    EXPECT_EQ(at(wide, date_modified_col), 1000 - 64 - 28 - 400 - 80 - 160);

    const QList<int> wider = KZColumnFit::resultListWidths(1600, true, 64, 290);
    EXPECT_EQ(at(wider, date_modified_col), 290) << "the full date once the name has its room";
    EXPECT_EQ(at(wider, name_col), 1600 - 64 - 28 - 290 - 80 - 160) << "and the name everything after";
}

TEST(ColumnFit, BelowTheLeastWidthsTheListScrolls)
{
    const QList<int> widths = KZColumnFit::resultListWidths(300, true, 28, 290);
    for (int i = 0; i < widths.size(); ++i)
        EXPECT_EQ(widths.at(i), KZTableHeaderCntrl::all().at(i).minWidth) << i;
    EXPECT_GT(sum(widths), 300);
}

} // namespace
