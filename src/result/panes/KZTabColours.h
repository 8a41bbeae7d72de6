#pragma once

#include <QColor>

// The colours of a file-type tab, each derived from the label's "on"
// (selected) and "off" components. Kept apart from the widgets so that the
// arithmetic can be checked without painting.
//
// Every component that comes out is clamped to 0...1 (NaN becomes 0): the
// derivations subtract from the label's values, and a label that is already
// dark, or a hand-edited defaults file, would otherwise give negative
// components, which QColor refuses with a warning and paints as black.
namespace KZTabColours {

struct Rgba {
    double r = 0, g = 0, b = 0, a = 0;
    bool operator==(const Rgba&) const = default;
};

double unit(double value);
QColor toColor(const Rgba& c);

// The unselected fill: the off colour a fifth darker in brightness, alpha
// kept.
Rgba offColorComponent(const Rgba& off);
// The on colour a tenth darker per component, then a fifth darker in
// brightness, alpha kept: the base of the close cross.
Rgba onStrokeColorComponent(const Rgba& on);

Rgba mainOn(const Rgba& on);
Rgba mainOff(const Rgba& off);
// Outlines are opaque and a tenth darker than the fill they surround.
Rgba strokeOn(const Rgba& on);
Rgba strokeOff(const Rgba& off);
Rgba xLayerStrokeOn(const Rgba& on);
// The pressed look: the raw label components (not the darkened off colour)
// less 0.15, opaque.
Rgba pressedFill(const Rgba& raw);
// The grey of the title on a tab of that background.
double textWhite(const Rgba& background);

} // namespace KZTabColours
