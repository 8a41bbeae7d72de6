#include "result/panes/KZTabColours.h"

#include "services/KZSharedFunctions.h"

#include <algorithm>
#include <cmath>

namespace KZTabColours {

namespace {

Rgba clamped(double r, double g, double b, double a)
{
    return {unit(r), unit(g), unit(b), unit(a)};
}

// The colour with its HSB brightness lowered; hue and saturation kept.
Rgba darker(const Rgba& c, double by)
{
    const QColor rgb = QColor::fromRgbF(float(unit(c.r)), float(unit(c.g)), float(unit(c.b)));
    const QColor hsv = rgb.toHsv();
    const float hue = hsv.hsvHueF(); // -1 for greys; fromHsvF takes it as hue 0
    const QColor back =
        QColor::fromHsvF(hue < 0 ? 0.0f : hue, hsv.hsvSaturationF(), float(unit(hsv.valueF() - by))).toRgb();
    return clamped(back.redF(), back.greenF(), back.blueF(), c.a);
}

} // namespace

double unit(double value)
{
    return std::isnan(value) ? 0.0 : std::clamp(value, 0.0, 1.0);
}

QColor toColor(const Rgba& c)
{
    return QColor::fromRgbF(float(unit(c.r)), float(unit(c.g)), float(unit(c.b)), float(unit(c.a)));
}

Rgba offColorComponent(const Rgba& off)
{
    return darker(off, 0.2);
}

Rgba onStrokeColorComponent(const Rgba& on)
{
    return darker({on.r - 0.1, on.g - 0.1, on.b - 0.1, on.a}, 0.2);
}

Rgba mainOn(const Rgba& on)
{
    return clamped(on.r, on.g, on.b, on.a);
}

Rgba mainOff(const Rgba& off)
{
    return offColorComponent(off);
}

Rgba strokeOn(const Rgba& on)
{
    return clamped(on.r - 0.1, on.g - 0.1, on.b - 0.1, 1.0);
}

Rgba strokeOff(const Rgba& off)
{
    const Rgba base = offColorComponent(off);
    return clamped(base.r - 0.1, base.g - 0.1, base.b - 0.1, 1.0);
}

Rgba xLayerStrokeOn(const Rgba& on)
{
    const Rgba base = onStrokeColorComponent(on);
    return clamped(base.r - 0.1, base.g - 0.1, base.b - 0.1, 1.0);
}

Rgba pressedFill(const Rgba& raw)
{
    return clamped(raw.r - 0.15, raw.g - 0.15, raw.b - 0.15, 1.0);
}

double textWhite(const Rgba& background)
{
    return unit(KZContrastingTextWhite(false, unit(background.r), unit(background.g), unit(background.b)));
}

} // namespace KZTabColours
