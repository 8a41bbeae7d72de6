#pragma once

#include <QAbstractButton>

// The small round close button of the progress window: a grey disc with a
// cross, red under the pointer, paler while it is disabled and while its
// window is not the active one. The pointer only lights it up in the active
// window; the window's activation brings back the plain look.
class KZProgressCloseButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit KZProgressCloseButton(QWidget* parent = nullptr);
    QSize sizeHint() const override { return {16, 16}; }

    enum class Look { Plain, Hover, Pressed, Disabled, WindowNotActive };
    Look look() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    bool event(QEvent* event) override;

private:
    bool hovered_ = false;
};
