#include "services/ui/KZImageView.h"

#include "services/KZFilesUtilities.h"
#include "services/ui/KZImages.h"

#include <QPainter>

KZImageView::KZImageView(const QString& name, QWidget* parent)
    : QWidget(parent)
    , name_(name)
{
    refresh();
}

void KZImageView::setName(const QString& name)
{
    name_ = name;
    refresh();
}

void KZImageView::setEnabled(bool flag)
{
    imageEnabled_ = flag;
    refresh();
}

void KZImageView::refresh()
{
    const QImage image = KZImages::imageNamed(name_);
    if (imageEnabled_ || image.isNull()) {
        shown_ = image;
    } else {
        shown_ = KZFilesUtilities::sharedControl().ghostIconWithIcon(image, image.size());
        shown_.setDevicePixelRatio(image.devicePixelRatio());
    }
    updateGeometry();
    update();
}

QSize KZImageView::sizeHint() const
{
    return shown_.isNull() ? QSize(16, 16) : shown_.deviceIndependentSize().toSize();
}

void KZImageView::paintEvent(QPaintEvent*)
{
    if (shown_.isNull())
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    // Scaled down to fit, never up, and centred.
    QSizeF size = shown_.deviceIndependentSize();
    if (size.width() > width() || size.height() > height())
        size.scale(QSizeF(this->size()), Qt::KeepAspectRatio);
    painter.drawImage(QRectF(QPointF((width() - size.width()) / 2, (height() - size.height()) / 2), size), shown_);
}
