#pragma once

#include "result/model/KZShownList.h"
#include "result/window/KZCellFormatting.h"
#include "result/window/KZGroupRowLayout.h"

#include <QFont>

class QPainter;

// Paints a group row (icon, name and sizes, check box, counter pill with
// its pop-up arrow, options button) from the same layout its hit tests use.
class KZGroupCellPainter {
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

    explicit KZGroupCellPainter(const QFont& base);

    QString counterText(const KZFoundItemGroup& group) const;
    KZGroupRowLayout layout(const QRect& row, const KZFoundItemGroup& group, const State& state) const;
    void paint(QPainter* painter, const QRect& row, KZFoundItemGroup& group, const State& state) const;

private:
    QFont nameFont_;
    QFont infoFont_;
    QFont counterFont_;
};
