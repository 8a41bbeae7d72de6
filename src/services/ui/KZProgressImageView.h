#pragma once

#include "services/KZProgressGeometry.h"

#include <QImage>
#include <QPointer>
#include <QWidget>

#include <optional>

class QVariantAnimation;

// The large round progress display, 316 points square: a turning spinner
// while the amount of work is unknown, then a ring that grows clockwise from
// the top with the percentage done. Main thread only.
class KZProgressImageView : public QWidget {
    Q_OBJECT
public:
    explicit KZProgressImageView(QWidget* parent = nullptr);
    ~KZProgressImageView() override;

    // Shows and turns the spinner; does nothing in determinate mode or
    // while it already turns.
    void startIndeterminateAnimation();
    void stopIndeterminateAnimation();
    // Shows the ring (fading in); does nothing in indeterminate mode.
    void startDeterminateAnimation();
    void stopDeterminateAnimation();
    // Redraws the ring for percentageValue(); 0 or less, or above 100,
    // keeps the ring as it was.
    void updateDeterminateProgress();
    // Stops the spinner, and the ring when in determinate mode.
    void stopAnimation();
    // Stores the mode; leaving indeterminate mode stops the spinner and,
    // when `startAnimation`, shows the ring.
    void setIsInderminate(bool flag, bool startAnimation);
    // Adds the thin dark ring behind the spinner (the saved-result opener).
    void drawSpinningBackground();

    bool isInderminate() const { return isInderminate_; }
    void setIsInderminate(bool flag) { isInderminate_ = flag; }
    double percentageValue() const { return percentageValue_; }
    void setPercentageValue(double value) { percentageValue_ = value; }

    // What is on screen (tests and the progress window's own checks).
    bool isSpinning() const;
    bool showsRing() const { return ringShown_; }
    bool showsSpinningBackground() const { return backdropShown_; }
    std::optional<KZProgressGeometry::RingArc> ringArc() const { return arc_; }
    qreal spinnerAngle() const { return spinnerAngle_; } // degrees, clockwise on screen

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QVariantAnimation* fade(qreal& opacity);

    bool isInderminate_ = true;
    double percentageValue_ = 0;
    bool spinnerShown_ = false;
    bool ringShown_ = false;
    bool backdropShown_ = false;
    qreal spinnerAngle_ = 0;
    qreal spinnerOpacity_ = 0;
    qreal ringOpacity_ = 0;
    std::optional<KZProgressGeometry::RingArc> arc_;
    QPointer<QVariantAnimation> spin_;
    QPointer<QVariantAnimation> spinnerFade_;
    QPointer<QVariantAnimation> ringFade_;
    QImage spinner_;
};
