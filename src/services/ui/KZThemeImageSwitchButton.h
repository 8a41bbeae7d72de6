#pragma once

#include "services/ui/KZThemeImageSwitchTypeCell.h"

#include <QAbstractButton>

// A two-state button drawn only by its images: the on image (the
// "alternate" one) and the off image, each with optional pressed and tinted
// forms found by name. A click inside toggles the state and emits clicked();
// releasing outside changes nothing. It takes the focus from Tab (Space
// toggles it) and shows it with a ring.
class KZThemeImageSwitchButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit KZThemeImageSwitchButton(QWidget* parent = nullptr);
    KZThemeImageSwitchButton(const QString& alternateImageName, const QString& imageName, QWidget* parent = nullptr);

    // Builds the images from the two names (see KZThemeImageSwitchTypeCell);
    // false, with a log line, when a name is missing.
    bool setImageNames(const QString& alternateImageName, const QString& imageName,
                       const KZThemeImageSwitchTypeCell::ImageLookup& lookup = {});

    // 1 on, 0 off.
    int state() const { return isChecked() ? 1 : 0; }
    // Shows the state without emitting clicked().
    void setNewState(int state);

    const KZThemeImageSwitchTypeCell& cell() const { return cell_; }
    // The image on screen now.
    QImage currentImage() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    // The focus ring's room on each side of the image.
    static constexpr int kFocusMargin = 3;
    KZThemeImageSwitchTypeCell cell_;
};
