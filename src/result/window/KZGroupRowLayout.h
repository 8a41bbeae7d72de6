#pragma once

#include "result/model/KZFoundItem.h"
#include "result/model/KZFoundItemGroup.h"

#include <QPoint>
#include <QRect>
#include <QString>

#include <optional>

// Where the parts of a group row go. Painting and hit tests both use it, so
// a press lands on exactly what is drawn.
struct KZGroupRowLayout {
    enum class Part { None, Check, Counter, Arrow, Options };

    QRect icon;
    QRect name;
    QRect extraInfo;
    QRect check;
    QRect checkImage;  // the left end of the counter pill
    QRect counterText;
    QRect arrow;       // the right end of the pill: the mark menu's pop-up
    QRect pill;
    QRect options;
    bool hasCheck = true;
    bool hasOptions = true;
    // The x the mark menu is centred on.
    int menuAnchorX = 0;

    // Where the list's columns are, in the row's coordinates, so that a
    // group's controls sit under the headers they belong to: the check box
    // above the members' check boxes, the icon and name in the name column
    // with the counter, its arrow and the options at that column's end.
    struct Columns {
        int checkCentreX = 0;
        int nameLeft = 0;
        int nameRight = 0;
    };

    // `counterTextWidth`: the width the counter text needs. The marked
    // list's rows have no check box and no menu (`markable` false). Without
    // `columns` the controls gather at the row's right end.
    static KZGroupRowLayout compute(const QRect& row, int counterTextWidth, bool markable, bool showOptions,
                                    const std::optional<Columns>& columns = std::nullopt);

    Part hitTest(const QPoint& point) const;
    // Where the mark menu's first item goes for a menu `menuWidth` wide.
    QPoint menuPoint(int menuWidth) const;
};

namespace KZGroupOptions {

// Members of the group that the shown list leaves out; never below 0 (a
// removal may leave the list with more rows than the count says).
int missingCount(const KZFoundItemGroup& group);
QString showMissingTitle(const KZFoundItemGroup& group);

} // namespace KZGroupOptions
