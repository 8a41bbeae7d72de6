#include "services/ui/KZThemeImageSwitchTypeCell.h"

#include "platform/Log.h"
#include "platform/NotificationCenter.h"
#include "services/ui/KZImages.h"

#include <atomic>

namespace {

const QString kTintNotification = QStringLiteral("NSControlTintDidChangeNotification");
std::atomic<int> g_tint{KZThemeImageSwitchTypeCell::BlueControlTint};

// Fills the keys of one image of the pair ("On" or "Off").
void addImages(QHash<QString, QImage>& images, const QString& side, const QString& name,
               const KZThemeImageSwitchTypeCell::ImageLookup& lookup)
{
    auto addIfValid = [&](const QString& key, const QString& imageName) {
        const QImage image = lookup(imageName);
        if (!image.isNull())
            images.insert(key, image);
    };

    const qsizetype dash = name.indexOf(QLatin1Char('-'));
    if (dash < 0) {
        addIfValid(QStringLiteral("k") + side + QStringLiteral("Image"), name);
        addIfValid(QStringLiteral("kPressed") + side + QStringLiteral("Image"), name + QStringLiteral("-pressed"));
        return;
    }
    const QString base = name.left(dash);
    const QString tint = name.mid(dash + 1);
    const bool isBlue = tint == QLatin1String("blue");
    const QString own = isBlue ? QStringLiteral("Blue") : QStringLiteral("Graphite");
    const QString other = isBlue ? QStringLiteral("Graphite") : QStringLiteral("Blue");
    const QString otherTint = isBlue ? QStringLiteral("graphite") : QStringLiteral("blue");

    addIfValid(QStringLiteral("k") + own + side + QStringLiteral("Image"), name);
    addIfValid(QStringLiteral("k") + other + side + QStringLiteral("Image"), base + QLatin1Char('-') + otherTint);
    addIfValid(QStringLiteral("k") + own + QStringLiteral("Pressed") + side + QStringLiteral("Image"),
               base + QLatin1Char('-') + tint + QStringLiteral("-pressed"));
    addIfValid(QStringLiteral("k") + other + QStringLiteral("Pressed") + side + QStringLiteral("Image"),
               base + QLatin1Char('-') + otherTint + QStringLiteral("-pressed"));
}

} // namespace

KZThemeImageSwitchTypeCell::ControlTint KZThemeImageSwitchTypeCell::systemControlTint()
{
    return ControlTint(g_tint.load());
}

void KZThemeImageSwitchTypeCell::setSystemControlTint(ControlTint tint)
{
    if (g_tint.exchange(tint) != tint)
        platform::NotificationCenter::defaultCenter().post(kTintNotification);
}

KZThemeImageSwitchTypeCell::KZThemeImageSwitchTypeCell()
    : currentTint_(systemControlTint())
{
    tintObservation_ = platform::NotificationCenter::defaultCenter().addObserver(
        kTintNotification, {}, [this](const platform::Notification&) { changeTintImage(); });
}

void KZThemeImageSwitchTypeCell::changeTintImage()
{
    currentTint_ = systemControlTint();
    if (tintChanged_)
        tintChanged_();
}

std::optional<QHash<QString, QImage>> KZThemeImageSwitchTypeCell::imagesWithDefaultImages(
    const QString& alternateImageName, const QString& imageName, const ImageLookup& lookup)
{
    if (alternateImageName.isEmpty()) {
        platform::logLine(QStringLiteral("No alternate image is provided. It is needed for the switch buttons"));
        return std::nullopt;
    }
    if (imageName.isEmpty()) {
        platform::logLine(QStringLiteral("No image is provided. It is needed for the switch buttons"));
        return std::nullopt;
    }
    const ImageLookup find = lookup ? lookup : ImageLookup([](const QString& name) { return KZImages::imageNamed(name); });
    QHash<QString, QImage> images;
    addImages(images, QStringLiteral("On"), alternateImageName, find);
    addImages(images, QStringLiteral("Off"), imageName, find);
    return images;
}

bool KZThemeImageSwitchTypeCell::setImagesWithDefaultImages(const QString& alternateImageName,
                                                            const QString& imageName, const ImageLookup& lookup)
{
    auto images = imagesWithDefaultImages(alternateImageName, imageName, lookup);
    images_ = images ? *images : QHash<QString, QImage>();
    return images.has_value();
}

QImage KZThemeImageSwitchTypeCell::imageWithState(int state, bool isPressed) const
{
    const QString tint = currentTint_ == GraphiteControlTint ? QStringLiteral("Graphite") : QStringLiteral("Blue");
    const QString side = state == 1 ? QStringLiteral("On") : QStringLiteral("Off");
    QStringList keys;
    if (isPressed) {
        keys << QStringLiteral("k") + tint + QStringLiteral("Pressed") + side + QStringLiteral("Image")
             << QStringLiteral("kPressed") + side + QStringLiteral("Image");
    } else {
        keys << QStringLiteral("k") + tint + side + QStringLiteral("Image");
    }
    keys << QStringLiteral("k") + side + QStringLiteral("Image");
    for (const QString& key : keys) {
        const QImage image = images_.value(key);
        if (!image.isNull())
            return image;
    }
    return {};
}
