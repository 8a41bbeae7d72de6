#pragma once

#include <QImage>
#include <QString>
#include <QWidget>

// Shows a named image, or a faded copy of it while "disabled". Only the
// picture changes: the widget's own enabled state, and so its events and
// tool tip, stay as they were.
class KZImageView : public QWidget {
    Q_OBJECT
public:
    explicit KZImageView(const QString& name = {}, QWidget* parent = nullptr);

    QString name() const { return name_; }
    void setName(const QString& name);

    // Deliberately hides QWidget::setEnabled: the view is a picture whose
    // look follows the state of something else, so it must keep receiving
    // clicks and showing its tool tip while it looks disabled.
    void setEnabled(bool flag);
    bool showsEnabledImage() const { return imageEnabled_; }
    // The picture on screen now.
    QImage image() const { return shown_; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void refresh();

    QString name_;
    bool imageEnabled_ = true;
    QImage shown_;
};
