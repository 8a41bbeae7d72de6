#pragma once

#include "app/progress/KZProgressRingGeometry.h"
#include "result/panes/ui/KZTabSuperview.h"

#include <QFont>

// One arc-shaped tab of the progress ring: the base tab in the label's
// selected colours, its outline an arc about the ring's centre, the size
// found along it and the type's letter near its counter-clockwise end. It
// covers the whole ring view and takes no pointer events itself; the ring
// asks it whether its outline holds a point.
class KZProgressTabView : public KZTabSuperview {
    Q_OBJECT
public:
    // A tab for `label` in a view of `rect`, turning about `centre` (in the
    // view's coordinates).
    KZProgressTabView(const QRect& rect, const KZFileTypeLabelRef& label, QPointF centre, QWidget* parent);

    // Lays the tab out; the outline is rebuilt only when it moved or changed
    // width. Posts "updatefileTypeCount", since the size shown may change.
    void updateTabWithLayerAndWithAperture(double halfAperture, double height, double angle);
    const KZProgressRingGeometry::Tab& geometry() const { return geometry_; }
    double oldHalfAngleAperture() const { return oldHalfAngleAperture_; }
    void setCentre(QPointF centre);

    qint64 tagged() const { return tagged_; }
    void setTagged(qint64 value) { tagged_ = value; }

    static QVariantMap imageLayerOptions();

    // The size text as it is drawn: whole, in the largest font it fits, or
    // empty when it fits in none. Centred on `centre`, turned `rotation`
    // degrees clockwise (view coordinates).
    struct SizeText {
        QString text;
        QFont font;
        QPointF centre;
        double rotation = 0;
        double length = 0;
    };
    SizeText sizeText() const;

protected:
    QPainterPath strokePath() const override { return stroke_; }
    void paintContents(QPainter& painter) override;

private:
    void rebuild();
    QPointF flipped(QPointF yUp) const;

    QPointF centre_;
    KZProgressRingGeometry::Tab geometry_;
    double oldHalfAngleAperture_ = 0;
    double builtAngle_ = 0;
    qint64 tagged_ = 0;
    QPainterPath stroke_;
    QImage icon_;
    // The last fit of the size text, measured again only when the text, its
    // room or the font changed: the ring repaints every tab on each refresh
    // of a search.
    struct SizeFit {
        QString text;
        QFont base;
        double largest = 0;
        double length = 0;
        double points = 0;
    };
    mutable SizeFit fit_;
};
