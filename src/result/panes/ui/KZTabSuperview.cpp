#include "result/panes/ui/KZTabSuperview.h"

#include "result/panes/KZTabColours.h"

#include "platform/MainThread.h"
#include "platform/NotificationCenter.h"
#include "services/KZSharedFunctions.h"
#include "platform/UserDefaults.h"
#include "services/ui/KZAnimationTiming.h"
#include "settings/KZDefaultsKeys.h"
#include "settings/KZNotificationNames.h"

#include <QApplication>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QPainter>
#include <QPointer>
#include <QVariantAnimation>

#include <algorithm>
#include <cmath>

namespace {

using KZTabColours::Rgba;
using KZTabColours::toColor;

QColor colour(double r, double g, double b, double a)
{
    return toColor({r, g, b, a});
}

} // namespace

KZTabSuperview::KZTabSuperview(const QRect& rect, const KZFileTypeLabelRef& label, bool isSelected, QWidget* parent)
    : QWidget(parent), fileTypeItem_(label), isSelected_(isSelected)
{
    setGeometry(rect);
    setAttribute(Qt::WA_TranslucentBackground);
    if (label) {
        QPointer<KZTabSuperview> self(this);
        lookObservation_ = platform::NotificationCenter::defaultCenter().addObserver(
            KZNotification::updateTabsUserDefault, static_cast<const void*>(label.get()),
            [self](const platform::Notification&) {
                platform::runOnMain([self] {
                    if (self)
                        self->updateTabLayer();
                });
            });
    }
    updateTabLayer();
}

KZTabSuperview::~KZTabSuperview() = default;

KZTabSuperview::Components KZTabSuperview::onComponents() const
{
    const auto label = fileTypeItem();
    if (!label)
        return {};
    std::lock_guard guard(label->fileTypeLabelLock());
    return {label->redOnColor(), label->greenOnColor(), label->blueOnColor(), label->onAlphaValue()};
}

KZTabSuperview::Components KZTabSuperview::offComponents() const
{
    const auto label = fileTypeItem();
    if (!label)
        return {};
    std::lock_guard guard(label->fileTypeLabelLock());
    return {label->redOffColor(), label->greenOffColor(), label->blueOffColor(), label->offAlphaValue()};
}

KZTabSuperview::Components KZTabSuperview::offColorComponent() const
{
    return KZTabColours::offColorComponent(offComponents());
}

QColor KZTabSuperview::newMainOnColor() const
{
    return toColor(KZTabColours::mainOn(onComponents()));
}

QColor KZTabSuperview::newMainOffColor() const
{
    return toColor(KZTabColours::mainOff(offComponents()));
}

QColor KZTabSuperview::newStrokeOnColor() const
{
    return toColor(KZTabColours::strokeOn(onComponents()));
}

QColor KZTabSuperview::newStrokeOffColor() const
{
    return toColor(KZTabColours::strokeOff(offComponents()));
}

QColor KZTabSuperview::newXLayerStrokeOnColor() const
{
    return toColor(KZTabColours::xLayerStrokeOn(onComponents()));
}

QColor KZTabSuperview::textColor() const
{
    const double w = KZTabColours::textWhite(isSelected_ ? onComponents() : offColorComponent());
    return colour(w, w, w, 1.0);
}

bool KZTabSuperview::fadesEnabled()
{
    return !platform::UserDefaults::standard().boolForKey(KZDefaultsKey::disable_lables);
}

void KZTabSuperview::fadeIn()
{
    fadeTo(1.0, {});
}

void KZTabSuperview::fadeOut(std::function<void()> done)
{
    fadeTo(0.0, std::move(done));
}

void KZTabSuperview::fadeTo(double target, std::function<void()> done)
{
    if (fade_)
        fade_->stop();
    auto* animation = new QVariantAnimation(this);
    fade_ = animation;
    animation->setStartValue(opacity_);
    animation->setEndValue(target);
    animation->setDuration(KZAnimationTiming::milliseconds(kFadeSeconds));
    connect(animation, &QVariantAnimation::valueChanged, this,
            [this](const QVariant& value) { setContainerOpacity(value.toDouble()); });
    connect(animation, &QVariantAnimation::finished, this, [this, target, done = std::move(done)] {
        setContainerOpacity(target);
        if (done)
            done();
    });
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

void KZTabSuperview::setIsSelected(bool selected)
{
    isSelected_ = selected;
    updateTabLayer();
}

void KZTabSuperview::updateTabLayer()
{
    if (highlighted_) {
        drawTabHighlight();
        return;
    }
    fill_ = isSelected_ ? newMainOnColor() : newMainOffColor();
    stroke_ = isSelected_ ? newStrokeOnColor() : newStrokeOffColor();
    update();
}

void KZTabSuperview::drawTabHighlight()
{
    highlighted_ = true;
    fill_ = toColor(KZTabColours::pressedFill(isSelected_ ? onComponents() : offComponents()));
    stroke_ = newStrokeOffColor();
    if (lineWidth_ == kLineWidth) {
        lineWidth_ = kThinLineWidth;
        lineWasNotTiny_ = true;
    }
    update();
}

void KZTabSuperview::removeTabHighlight()
{
    highlighted_ = false;
    if (lineWasNotTiny_) {
        lineWasNotTiny_ = false;
        lineWidth_ = kLineWidth;
    }
    updateTabLayer();
}

void KZTabSuperview::setSavedPath(const QPainterPath& path)
{
    savedPath_ = path;
    update();
}

QRectF KZTabSuperview::tabRect() const
{
    return savedPath_.boundingRect().translated(2.0, 0.0);
}

void KZTabSuperview::setContainerOpacity(double opacity)
{
    opacity_ = opacity;
    update();
}

QImage KZTabSuperview::tabImageWithOptions(const QVariantMap& options, qreal devicePixelRatio) const
{
    const auto label = fileTypeItem();
    const bool square = options.value(QStringLiteral("imageIsSquare")).toBool();
    const QSizeF size = square ? QSizeF(15, 15)
                               : QSizeF(width(), options.value(QStringLiteral("layerHeight")).toDouble());
    QImage image((size * devicePixelRatio).toSize(), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(devicePixelRatio);
    image.fill(Qt::transparent);
    if (!label || size.isEmpty())
        return image;

    const QString text = square ? label->firstChar() : label->name();
    const QString fontName = options.value(QStringLiteral("fontName")).toString();
    QFont font = fontName.isEmpty() ? QApplication::font() : QFont(fontName);
    // A named fixed-pitch face that is not installed becomes the system's.
    if (fontName == QLatin1String("Monaco") && !QFontInfo(font).fixedPitch())
        font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    const double fontSize = options.value(QStringLiteral("fontSize")).toDouble();
    // The image is measured in points as pixels, so the letter is too.
    if (fontSize > 0)
        font.setPixelSize(std::max(1, int(std::lround(fontSize))));
    const Components on = onComponents();
    const double w = KZTabColours::unit(KZContrastingTextWhite(
        options.value(QStringLiteral("fontColorIsBlack")).toBool(), KZTabColours::unit(on.r),
        KZTabColours::unit(on.g), KZTabColours::unit(on.b)));
    const QColor ink = colour(w, w, w, 1.0);

    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setFont(font);
    painter.setPen(ink);
    const QSizeF textSize = QFontMetricsF(font).size(Qt::TextSingleLine, text);
    const double available = textSize.width() >= size.width() - 4 ? size.width() - 8 : size.width();
    const double x = available / 2 - std::ceil(textSize.width()) / 2 + (square ? 0.5 : 0.0);
    const double y = size.height() / 2 - std::ceil(textSize.height()) / 2;
    if (square || textSize.width() <= available)
        painter.drawText(QRectF(x, y, available, textSize.height()), Qt::AlignLeft | Qt::AlignVCenter, text);
    if (options.value(QStringLiteral("drawCircle")).toBool()) {
        painter.setPen(QPen(ink, 1.0));
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(QRectF(0.5, 0.5, size.width() - 1, size.height() - 1));
    }
    return image;
}

QPointF KZTabSuperview::imageLayerOrigin(const QVariantMap& options, const QSizeF& imageSize) const
{
    QString text = options.value(QStringLiteral("layerOrigin")).toString().trimmed();
    text.remove(QLatin1Char('{')).remove(QLatin1Char('}'));
    const QStringList parts = text.split(QLatin1Char(','));
    bool okX = false, okY = false;
    const double x = parts.size() == 2 ? parts[0].trimmed().toDouble(&okX) : 0.0;
    const double y = parts.size() == 2 ? parts[1].trimmed().toDouble(&okY) : 0.0;
    if (okX && okY && (x != 0.0 || y != 0.0))
        return {x, height() - y - imageSize.height()};
    return {width() / 2.0 - imageSize.width() / 2.0, height() / 2.0 - imageSize.height() / 2.0};
}

void KZTabSuperview::paintEvent(QPaintEvent*)
{
    if (opacity_ <= 0 || savedPath_.isEmpty())
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(opacity_);
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill_);
    painter.drawPath(savedPath_);
    QPen pen(stroke_, lineWidth_);
    pen.setJoinStyle(Qt::RoundJoin);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(strokePath());
    paintContents(painter);
}
