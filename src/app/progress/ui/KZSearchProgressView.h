#pragma once

#include <QWidget>

// The progress window's main view: the round backdrop behind the disc. Only
// its circle takes the pointer, so the ring's tabs in its corners stay
// reachable.
class KZSearchProgressView : public QWidget {
    Q_OBJECT
public:
    explicit KZSearchProgressView(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
};
