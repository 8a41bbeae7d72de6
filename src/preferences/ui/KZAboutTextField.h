#pragma once

#include <QLabel>
#include <QPointer>

#include <QAbstractButton>

// A label of the About window whose clicks act on the splash button.
class KZAboutTextField : public QLabel {
    Q_OBJECT
public:
    explicit KZAboutTextField(const QString& text, QWidget* parent = nullptr);
    void setSplashButton(QAbstractButton* splash) { splash_ = splash; }

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QPointer<QAbstractButton> splash_;
};
