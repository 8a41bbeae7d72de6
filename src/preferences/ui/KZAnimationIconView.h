#pragma once

#include <QImage>
#include <QPainterPath>
#include <QPointer>
#include <QWidget>

class QVariantAnimation;

// The program's icon flying in on the first welcome page: it starts as a
// one-point square at the top-left corner and grows to 256 points while it
// swings along animationPath() to the centre.
class KZAnimationIconView : public QWidget {
    Q_OBJECT
public:
    explicit KZAnimationIconView(QWidget* parent = nullptr);

    // In the view's y-up frame; a new path on every call.
    QPainterPath animationPath() const;
    void animate();

    bool isAnimating() const;
    // The icon's current rectangle in widget (y-down) coordinates.
    QRectF iconRect() const { return iconRect_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void setProgress(double t);

    QImage icon_;
    QRectF iconRect_;
    QPointer<QVariantAnimation> animation_;
};
