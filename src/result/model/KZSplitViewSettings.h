#pragma once

#include <QRectF>
#include <QString>
#include <QStringList>
#include <QVariantList>

#include <optional>

// The divider positions of a tab's split views as the user defaults keep
// them: one string per subview, "x, y, width, height, collapsed, other
// collapsed", the frame in points and the flags as "YES" or "NO". Numbers
// are written and read in the C locale, whatever the user's, so that a
// comma decimal separator can never break the fields apart.
namespace KZSplitViewSettings {

struct Subview {
    QRectF frame;
    bool collapsed = false;
    bool otherCollapsed = false;

    bool operator==(const Subview& other) const = default;
};

QString format(const Subview& subview);
// Absent when the text is not six fields of that form.
std::optional<Subview> parse(const QString& text);
// Both subviews from a defaults value; absent unless both parse.
std::optional<std::pair<Subview, Subview>> parseStored(const QVariant& value);
QVariantList storedValue(const Subview& first, const Subview& second);

// The extents of the two subviews (widths side by side, heights stacked)
// for a split of `extent` points with a divider of `divider` points:
// restored from the stored frames (a collapsed subview gets 0), or, with
// nothing stored (or nothing usable), the first subview takes three quarters.
QList<int> restoredSizes(const std::optional<std::pair<Subview, Subview>>& stored, bool sideBySide, int extent,
                         int divider);
QList<int> initialSizes(int extent, int divider);

// The empty-folders information popover: the text wraps at 350 points, and
// the popover is 30 points wider and higher than the text.
inline constexpr double popoverMaxTextWidth = 350;
inline constexpr double popoverMargin = 30;
double popoverTextWidth(double naturalWidth);

} // namespace KZSplitViewSettings
