#pragma once

#include <QWidget>

// A small indeterminate spinner drawn as rotating spokes.
class KZSourceSpinner : public QWidget {
public:
    explicit KZSourceSpinner(QWidget* parent = nullptr);
    void startAnimation();
    void stopAnimation();
    bool isAnimating() const { return timer_ != 0; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    int timer_ = 0;
    int step_ = 0;
};
