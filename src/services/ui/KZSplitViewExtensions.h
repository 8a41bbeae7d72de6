#pragma once

#include <QString>
#include <QVariantList>

class QSplitter;

// A split view's layout kept in the user's defaults: one string per pane
// (see KZSplitViewPaneSetting). Qt::Horizontal splitters, panes side by
// side, use the widths; Qt::Vertical ones the heights. Strings that are not
// ours, and strings for panes that the splitter does not have, are ignored:
// the splitter keeps its layout.
namespace KZSplitViewExtensions {

// The first pane takes three quarters, the second a quarter less one point.
void setIntialFrame(QSplitter& splitter);
// Shows or hides the first pane by the first stored string and moves the
// first divider to its width (height).
void restorePositionsWithKey(QSplitter& splitter, const QString& key);
// Shows or hides every pane by its string and gives it the stored width
// (height).
void restoreSavedPositionsWithKey(QSplitter& splitter, const QString& key);

// The strings that describe the splitter now, and storing them under `key`.
QVariantList positionStrings(const QSplitter& splitter);
void savePositionsWithKey(const QSplitter& splitter, const QString& key);

} // namespace KZSplitViewExtensions
