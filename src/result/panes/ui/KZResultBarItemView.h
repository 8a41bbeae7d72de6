#pragma once

#include "result/panes/KZTabStrokes.h"
#include "result/panes/ui/KZTabSuperview.h"

#include <QPointer>

class KZResultTabItemView;

// One of the two bars that join the selected tab to the content below: the
// horizontal bar runs across the window just under the row of tabs, the
// vertical bar down the left side of the content. Both are filled with the
// label's "on" colour and shown only while their tab is selected; thin
// strokes continue the tab's outline round them so that the tab and its bars
// read as one shape.
class KZResultBarItemView : public KZTabSuperview {
    Q_OBJECT
public:
    static constexpr double kHorizontalHeight = 5.0;
    static constexpr double kVerticalWidth = 4.0;

    KZResultBarItemView(const QRect& rect, const KZFileTypeLabelRef& label, bool isVertical,
                        QWidget* parent = nullptr);

    bool isVertical() const { return isVertical_; }
    // The tab whose outline the horizontal bar continues.
    void setTab(KZResultTabItemView* tab);
    KZResultTabItemView* tab() const { return tab_; }
    // How much shorter than the bar its strokes run (the part of the window
    // that the row of tabs does not span).
    double rightMargin() const { return rightMargin_; }
    void setRightMargin(double margin);

    // Shown at once under "disable_lables", else faded in and out.
    void setSelected(bool selected);
    // The strokes' segments in this view's coordinates (y down), for the
    // current size and the tab's place.
    std::vector<QLineF> strokeSegments() const;
    // The tab's left edge and width in this bar's coordinates; zero when the
    // tab is gone.
    QPair<double, double> tabSpan() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool isVertical_;
    QPointer<KZResultTabItemView> tab_;
    double rightMargin_ = 0;
};
