#pragma once

#include <QWidget>

#include <functional>

// The 350-point centre disc of the progress window: a light-to-dark gradient
// disc that carries the progress image, the counters and the buttons. Once
// the search has ended it casts a soft shadow, so it seems to rise.
class KZSearchProgressCenterView : public QWidget {
    Q_OBJECT
public:
    explicit KZSearchProgressCenterView(QWidget* parent = nullptr);
    void setSearchRunningProvider(std::function<bool()> provider) { searchRunning_ = std::move(provider); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::function<bool()> searchRunning_;
};
