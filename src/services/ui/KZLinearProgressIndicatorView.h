#pragma once

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

// A bar-shaped progress indicator: in determinate mode a light bar grows
// from the left over a darker rounded background; in indeterminate mode
// slanted stripes slide sideways over the light gradient. Main thread only.
class KZLinearProgressIndicatorView : public QWidget {
    Q_OBJECT
public:
    enum class Mode { Idle, Determinate, Indeterminate };

    explicit KZLinearProgressIndicatorView(QWidget* parent = nullptr);

    // Stops whatever runs and shows an empty bar.
    void startDeterminateAnimation();
    // Resizes the bar to (width − 2) × percent / 100, held inside the view.
    void updateProgress(double percent);
    void stopDeterminateAnimation();
    // Stops whatever runs and starts the stripes and their clock.
    void startIndeterminateAnimation();
    // Clears the flag; the clock stops at its next tick.
    void stopIndeterminateAnimation();
    // One step of the stripes (the clock calls it; tests may too).
    void incrementOffset();

    Mode mode() const { return mode_; }
    bool isInderminate() const { return isInderminate_; }
    void setIsInderminate(bool flag) { isInderminate_ = flag; }
    qint16 animateDirection() const { return animateDirection_; }
    void setAnimateDirection(qint16 direction) { animateDirection_ = direction; }
    qint16 offset() const { return offset_; }
    double markerHeight() const;
    double barWidth() const { return barWidth_; }
    bool isClockRunning() const { return clock_.isActive(); }

    QSize sizeHint() const override { return {200, 20}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void stopRunning();
    void clockTick();

    Mode mode_ = Mode::Idle;
    bool isInderminate_ = false;
    qint16 animateDirection_ = 1;
    qint16 offset_ = 0;
    double barWidth_ = 0;
    QTimer clock_;
    QElapsedTimer updatedTime_;
};
