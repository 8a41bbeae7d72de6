#pragma once

#include <QAbstractButton>
#include <QColor>

// A small swatch of a colour that opens the colour panel when clicked and
// reports the colour the user picks there.
class KZColorWell : public QAbstractButton {
    Q_OBJECT
public:
    explicit KZColorWell(QWidget* parent = nullptr);

    QColor color() const { return color_; }
    void setColor(const QColor& color);

    QSize sizeHint() const override { return {30, 20}; }

Q_SIGNALS:
    // The user picked `color` in the panel.
    void colorPicked(const QColor& color);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void openPanel();

    QColor color_;
};
