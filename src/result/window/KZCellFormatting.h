#pragma once

#include <QList>

#include <QColor>
#include <QtGlobal>

// How the cells of the result list word and colour their text.
namespace KZCellFormatting {

struct DateForm {
    // KZDateUtilities styles: 1 short, 3 long, 4 full.
    unsigned style = 1;
    bool withTime = false;
    bool operator==(const DateForm&) const = default;
};

// The longest date form that fits a date cell `width` points wide.
DateForm dateFormForWidth(double width);
// The forms from `widest` down to the shortest, longest first: a cell whose
// text is wider than the width rule expects (another font) steps down them.
QList<DateForm> dateFormsFrom(const DateForm& widest);

// The style of a row: 1 (white text on the dark selection) only when the
// row is selected in the focused list of the active window.
int rowStyle(bool selected, bool listActive, bool windowActive);

QColor titleColour(int style, bool ghost);
QColor subTitleColour(int style, bool ghost);

// The accent of selections and highlights. Linux has no system tint to
// follow, so the blue one is used unless a caller picks the other.
enum class Tint { Blue, Graphite };
QColor tintColour(Tint tint = Tint::Blue);

// A grey of `value` (0 black .. 1 white), as the list's bars and pills are drawn in.
QColor grey(double value, double alpha = 1.0);

} // namespace KZCellFormatting
