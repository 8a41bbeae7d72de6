#pragma once

#include "platform/Subscription.h"
#include "result/panes/KZTabColours.h"
#include "settings/KZFileTypeLabel.h"

#include <QColor>
#include <QImage>
#include <QPainterPath>
#include <QPointer>
#include <QVariantAnimation>
#include <QVariantMap>
#include <QWidget>

#include <functional>
#include <memory>

// The base of every coloured file-type tab. It ties one view to one label,
// derives every colour of the tab from the label's "on" and "off" colours,
// gives the pressed look and takes it away, draws the tab's small image (the
// label's first letter in a circle), and answers hit tests against the
// outline that a subclass sets. The tab follows its label: a change of the
// label's look ("updateTabsUserDefault") repaints it.
//
// GUI thread only, except that the colours are read under the label's lock.
class KZTabSuperview : public QWidget {
    Q_OBJECT
public:
    static constexpr double kLineWidth = 4.0;
    static constexpr double kThinLineWidth = 2.0;

    KZTabSuperview(const QRect& rect, const KZFileTypeLabelRef& label, bool isSelected, QWidget* parent = nullptr);
    ~KZTabSuperview() override;

    KZFileTypeLabelRef fileTypeItem() const { return fileTypeItem_.lock(); }
    bool isSelected() const { return isSelected_; }
    void setIsSelected(bool selected);

    // ---- Colours, each computed afresh from the label ----
    QColor newMainOnColor() const;
    QColor newMainOffColor() const;
    QColor newStrokeOnColor() const;
    QColor newStrokeOffColor() const;
    // The close cross and the spinner's bars.
    QColor newXLayerStrokeOnColor() const;
    QColor textColor() const;
    // What the shape is painted with now (selection and pressed look).
    QColor fillColor() const { return fill_; }
    QColor strokeColor() const { return stroke_; }
    double lineWidth() const { return lineWidth_; }
    void setLineWidth(double width) { lineWidth_ = width; }

    virtual void updateTabLayer();
    void drawTabHighlight();
    void removeTabHighlight();
    bool isHighlighted() const { return highlighted_; }

    // The outline, in this view's coordinates; empty until a subclass sets it.
    const QPainterPath& savedPath() const { return savedPath_; }
    void setSavedPath(const QPainterPath& path);
    bool pathContainsPoint(const QPointF& point) const { return savedPath_.contains(point); }
    // The outline's bounding box, moved 2 points right (room for its stroke).
    QRectF tabRect() const;

    // {"imageIsSquare", "fontName", "fontSize", "fontColorIsBlack",
    //  "drawCircle", "layerHeight"}: the tab's small image.
    QImage tabImageWithOptions(const QVariantMap& options, qreal devicePixelRatio = 1.0) const;
    // Where an image of `imageSize` goes (its top-left corner in this view):
    // at "layerOrigin" ("x, y", the image's lower-left corner measured from
    // the bottom) unless that is missing or "0, 0", else centred.
    QPointF imageLayerOrigin(const QVariantMap& options, const QSizeF& imageSize) const;
    QVariantMap imageLayerOptions() const { return imageLayerOptions_; }
    void setImageLayerOptions(const QVariantMap& options) { imageLayerOptions_ = options; }

    // The container's opacity (the owner fades it in).
    double containerOpacity() const { return opacity_; }
    void setContainerOpacity(double opacity);
    // A quarter-second fade of the container, from where it stands; `done`
    // runs once it ends (not when another fade takes over).
    static constexpr double kFadeSeconds = 0.25;
    void fadeIn();
    void fadeOut(std::function<void()> done = {});
    // False while "disable_lables" is set: bars then switch at once.
    static bool fadesEnabled();

protected:
    void paintEvent(QPaintEvent* event) override;
    // The part of the outline that is stroked; the whole outline by default.
    virtual QPainterPath strokePath() const { return savedPath_; }
    // Subclasses paint their text and image above the shape, with the
    // container's opacity already set on the painter.
    virtual void paintContents(QPainter&) {}

    using Components = KZTabColours::Rgba;
    // The label's raw components, read under its lock.
    Components onComponents() const;
    Components offComponents() const;
    Components offColorComponent() const;

private:
    void fadeTo(double target, std::function<void()> done);

    std::weak_ptr<KZFileTypeLabel> fileTypeItem_;
    bool isSelected_ = false;
    bool highlighted_ = false;
    bool lineWasNotTiny_ = false;
    double lineWidth_ = kLineWidth;
    double opacity_ = 0.0;
    QColor fill_, stroke_;
    QPainterPath savedPath_;
    QVariantMap imageLayerOptions_;
    platform::Subscription lookObservation_;
    QPointer<QVariantAnimation> fade_;
};
