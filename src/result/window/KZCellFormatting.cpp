#include "result/window/KZCellFormatting.h"

namespace KZCellFormatting {

DateForm dateFormForWidth(double width)
{
    if (width >= 220)
        return {4, true};
    if (width >= 170)
        return {4, false};
    if (width >= 140)
        return {3, true};
    if (width >= 100)
        return {3, false};
    return {1, false};
}

QList<DateForm> dateFormsFrom(const DateForm& widest)
{
    static const QList<DateForm> forms{{4, true}, {4, false}, {3, true}, {3, false}, {1, false}};
    const qsizetype at = forms.indexOf(widest);
    return at < 0 ? QList<DateForm>{widest} : forms.mid(at);
}

int rowStyle(bool selected, bool listActive, bool windowActive)
{
    return selected && listActive && windowActive ? 1 : 0;
}

QColor titleColour(int style, bool ghost)
{
    // A ghost stays grey when selected: it is never the user's choice.
    if (ghost)
        return QColor(128, 128, 128);
    if (style == 1)
        return Qt::white;
    return QColor::fromRgbF(0.25f, 0.25f, 0.25f);
}

QColor subTitleColour(int style, bool ghost)
{
    if (ghost)
        return QColor(170, 170, 170);
    if (style == 1)
        return Qt::white;
    return QColor(85, 85, 85);
}

QColor tintColour(Tint tint)
{
    return tint == Tint::Blue ? QColor::fromRgbF(0.266f, 0.501f, 0.882f) : QColor::fromRgbF(0.372f, 0.439f, 0.498f);
}

QColor grey(double value, double alpha)
{
    return QColor::fromRgbF(float(value), float(value), float(value), float(alpha));
}

} // namespace KZCellFormatting
