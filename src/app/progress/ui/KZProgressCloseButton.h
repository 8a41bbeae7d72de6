#pragma once

#include <QAbstractButton>

// The small round close button of the progress window: a grey disc with a
// cross, paler while it is disabled.
class KZProgressCloseButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit KZProgressCloseButton(QWidget* parent = nullptr);
    QSize sizeHint() const override { return {16, 16}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    bool hovered_ = false;
};
