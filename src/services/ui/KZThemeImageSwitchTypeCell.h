#pragma once

#include "platform/Subscription.h"

#include <QHash>
#include <QImage>
#include <QString>

#include <functional>
#include <optional>

// The image logic of the two-state image switch: which of its up to twelve
// images shows for a state, a pressed look and the control tint. The button
// owns one; tests use it alone.
class KZThemeImageSwitchTypeCell {
public:
    // The system's control tints that change the images. Linux has no system
    // tint: it is blue unless the program sets another.
    enum ControlTint { BlueControlTint = 1, GraphiteControlTint = 6 };
    static ControlTint systemControlTint();
    // Changes the tint and tells every cell ("NSControlTintDidChangeNotification").
    // Main thread only: the cells repaint their buttons.
    static void setSystemControlTint(ControlTint tint);

    // Image names are looked up with this; the default is KZImages.
    using ImageLookup = std::function<QImage(const QString& name)>;

    KZThemeImageSwitchTypeCell();
    KZThemeImageSwitchTypeCell(const KZThemeImageSwitchTypeCell&) = delete;
    KZThemeImageSwitchTypeCell& operator=(const KZThemeImageSwitchTypeCell&) = delete;

    // Builds the image dictionary from the on ("alternate") and off image
    // names. Without one of the names it logs why, clears the images and
    // answers false.
    bool setImagesWithDefaultImages(const QString& alternateImageName, const QString& imageName,
                                    const ImageLookup& lookup = {});
    const QHash<QString, QImage>& images() const { return images_; }

    // The image for `state` (1 on, anything else off).
    QImage imageWithState(int state, bool isPressed) const;

    ControlTint currentTint() const { return currentTint_; }
    // Reads the system tint again; `changed` is called afterwards (the button
    // repaints).
    void changeTintImage();
    void setTintChangeHandler(std::function<void()> changed) { tintChanged_ = std::move(changed); }

    // The dictionary for one pair of names, as a pure function.
    static std::optional<QHash<QString, QImage>> imagesWithDefaultImages(const QString& alternateImageName,
                                                                         const QString& imageName,
                                                                         const ImageLookup& lookup);

private:
    QHash<QString, QImage> images_;
    ControlTint currentTint_ = BlueControlTint;
    std::function<void()> tintChanged_;
    platform::Subscription tintObservation_;
};
