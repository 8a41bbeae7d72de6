#pragma once

#include "result/model/KZFoundItem.h"
#include "result/model/KZFoundItemGroup.h"

#include <QPoint>
#include <QRect>
#include <QString>

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

    // `counterTextWidth`: the width the counter text needs. The marked
    // list's rows have no check box and no menu (`markable` false).
    static KZGroupRowLayout compute(const QRect& row, int counterTextWidth, bool markable, bool showOptions);

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
