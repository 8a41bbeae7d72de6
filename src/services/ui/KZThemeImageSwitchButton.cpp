#include "services/ui/KZThemeImageSwitchButton.h"

#include "services/ui/KZFocusRing.h"

#include <QPainter>

KZThemeImageSwitchButton::KZThemeImageSwitchButton(QWidget* parent)
    : QAbstractButton(parent)
{
    // The state flips only on a release inside the button, which is what a
    // checkable QAbstractButton does; the pressed look follows isDown().
    setCheckable(true);
    setFocusPolicy(Qt::TabFocus);
    cell_.setTintChangeHandler([this] { update(); });
}

KZThemeImageSwitchButton::KZThemeImageSwitchButton(const QString& alternateImageName, const QString& imageName,
                                                   QWidget* parent)
    : KZThemeImageSwitchButton(parent)
{
    setImageNames(alternateImageName, imageName);
}

bool KZThemeImageSwitchButton::setImageNames(const QString& alternateImageName, const QString& imageName,
                                             const KZThemeImageSwitchTypeCell::ImageLookup& lookup)
{
    const bool ok = cell_.setImagesWithDefaultImages(alternateImageName, imageName, lookup);
    updateGeometry();
    update();
    return ok;
}

void KZThemeImageSwitchButton::setNewState(int state)
{
    const QSignalBlocker blocker(this);
    setChecked(state == 1);
    update();
}

QImage KZThemeImageSwitchButton::currentImage() const
{
    return cell_.imageWithState(state(), isDown());
}

QSize KZThemeImageSwitchButton::sizeHint() const
{
    QSize size;
    for (const QImage& image : cell_.images())
        size = size.expandedTo(image.deviceIndependentSize().toSize());
    // Room around the image for the focus ring.
    const int ring = 2 * kFocusMargin;
    return (size.isEmpty() ? QSize(16, 16) : size) + QSize(ring, ring);
}

void KZThemeImageSwitchButton::paintEvent(QPaintEvent*)
{
    const QImage image = currentImage();
    if (image.isNull())
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    // Unscaled and centred, as an image-only button without a border shows it.
    const QSizeF size = image.deviceIndependentSize();
    const QRectF target(QPointF((width() - size.width()) / 2, (height() - size.height()) / 2), size);
    painter.drawImage(target, image);
    if (hasFocus())
        KZFocusRing::paint(painter, target.adjusted(-kFocusMargin, -kFocusMargin, kFocusMargin, kFocusMargin),
                           (target.height() + 2 * kFocusMargin) / 2, this);
}

void KZThemeImageSwitchButton::focusInEvent(QFocusEvent* event)
{
    QAbstractButton::focusInEvent(event);
    update();
}

void KZThemeImageSwitchButton::focusOutEvent(QFocusEvent* event)
{
    QAbstractButton::focusOutEvent(event);
    update();
}
