#pragma once

#include "removal/KZRemoveInfo.h"

#include <QFontMetrics>
#include <QSize>

// The size of an explanation: its own width up to the wrap width, and the
// height of the text wrapped there.
inline QSize KZRemoveInfoTextSize(const QFontMetrics& metrics, const QString& text)
{
    constexpr int flags = Qt::TextWordWrap | Qt::AlignLeft;
    // Measured as drawn (not by advance), so a short text never wraps.
    const int natural = metrics.boundingRect(QRect(0, 0, 100000, 10000), flags, text).width();
    const int width = qMin(natural, KZRemoveInfoMaxWidth);
    const QRect box = metrics.boundingRect(QRect(0, 0, width, 10000), flags, text);
    return QSize(width, box.height());
}
