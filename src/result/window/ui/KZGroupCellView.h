#pragma once

#include "result/model/KZShownList.h"
#include "result/window/KZCellFormatting.h"
#include "result/window/KZGroupRowLayout.h"

#include <QFont>

class QPainter;

// The cell of a group row, painted rather than built from widgets so that
// long lists stay light: icon, name and sizes, check box, the counter on its
// pill (KZCounterCellView) with the pop-up arrow, and the options button,
// all placed by the same layout the row's hit tests use. The marked list's
// groups use it too, without check box and menu (`markable` false).
class KZGroupCellView {
public:
    struct State {
        int style = 0;          // 1: selected in the focused list of the active window
        bool markable = true;   // the marked list's rows have no check box and no menu
        bool showOptions = true;
        bool pressed = false;   // the group's mark menu is open
        bool removing = false;  // the pill fades during a removal
        KZCellFormatting::Tint tint = KZCellFormatting::Tint::Blue;
        // Where the list's columns are; without them the controls gather
        // at the row's right end.
        std::optional<KZGroupRowLayout::Columns> columns;
    };

    explicit KZGroupCellView(const QFont& base);

    QString counterText(const KZFoundItemGroup& group) const;
    KZGroupRowLayout layout(const QRect& row, const KZFoundItemGroup& group, const State& state) const;
    void paint(QPainter* painter, const QRect& row, KZFoundItemGroup& group, const State& state) const;

private:
    QFont nameFont_;
    QFont infoFont_;
    QFont counterFont_;
};
