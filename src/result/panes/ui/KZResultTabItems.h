#pragma once

#include <QPointer>

class KZResultBarItemView;
class KZResultTabItemView;

// The three views of one tab of the strip: the tab itself and the two bars
// that join it to the content while it is selected. The strip owns the views
// through the widget tree; this only finds them, and a view already deleted
// reads as null.
struct KZResultTabItems {
    QPointer<KZResultTabItemView> tab;
    QPointer<KZResultBarItemView> horizontalBar;
    QPointer<KZResultBarItemView> verticalBar;
};
