#include "app/progress/ui/KZSearchProgressExtraInfoCntrl.h"

#include "platform/MainThread.h"
#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"
#include "services/KZNumberUtilities.h"
#include "services/ui/KZAnimationTiming.h"
#include "settings/KZDefaultsKeys.h"
#include "settings/KZNotificationNames.h"

#include <QBuffer>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QTimer>
#include <QVBoxLayout>
#include <QVariantAnimation>

namespace {

constexpr double kFadeSeconds = 0.5;
constexpr double kCloseDelaySeconds = 0.5;

QLabel* makeField(QWidget* parent, qreal pointSize, const QColor& colour, const char* name)
{
    auto* label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setAlignment(Qt::AlignCenter);
    QFont font = label->font();
    font.setPointSizeF(pointSize);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
    label->setTextFormat(Qt::PlainText);
    return label;
}

} // namespace

KZSearchProgressExtraInfoCntrl::KZSearchProgressExtraInfoCntrl(QWidget* parent)
    : QObject(parent)
{
    infoView_ = new QWidget(parent);
    infoView_->setObjectName(QStringLiteral("fileTypeInfoPanel"));
    auto* column = new QVBoxLayout(infoView_);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    const QColor grey = QColor::fromRgbF(0.25f, 0.25f, 0.25f);
    nameFld_ = makeField(infoView_, 14, grey, "fileTypeNameFld");
    nameFld_->setTextFormat(Qt::RichText);
    column->addWidget(nameFld_);
    auto* row = new QHBoxLayout;
    row->setSpacing(6);
    itemsFoundFld_ = makeField(infoView_, 11, grey, "fileTypeItemsFoundFld");
    sizeFld_ = makeField(infoView_, 11, grey, "fileTypeSizeFld");
    auto* separator = makeField(infoView_, 11, grey, "fileTypeSeparator");
    separator->setText(QStringLiteral("\u00b7"));
    row->addStretch();
    row->addWidget(itemsFoundFld_);
    row->addWidget(separator);
    row->addWidget(sizeFld_);
    row->addStretch();
    column->addLayout(row);
    // Fully transparent until the first type is shown, but laid out.
    effect_ = new QGraphicsOpacityEffect(infoView_);
    effect_->setOpacity(0.0);
    infoView_->setGraphicsEffect(effect_);
    infoView_->setAttribute(Qt::WA_TransparentForMouseEvents);

    timer_ = new QTimer(this);
    timer_->setSingleShot(true);
    connect(timer_, &QTimer::timeout, this, [this] { hideView(); });
}

KZSearchProgressExtraInfoCntrl::~KZSearchProgressExtraInfoCntrl()
{
    countObservation_.cancel();
    remotionObservation_.cancel();
}

QImage KZSearchProgressExtraInfoCntrl::image(const KZFileTypeLabel& label, qreal devicePixelRatio)
{
    double r, g, b;
    {
        std::lock_guard guard(label.fileTypeLabelLock());
        r = label.redOnColor();
        g = label.greenOnColor();
        b = label.blueOnColor();
    }
    auto clampF = [](double v) { return float(std::clamp(v, 0.0, 1.0)); };
    QImage img(QSize(12, 12) * devicePixelRatio, QImage::Format_ARGB32_Premultiplied);
    img.setDevicePixelRatio(devicePixelRatio);
    img.fill(Qt::transparent);
    QPainter painter(&img);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(QColor::fromRgbF(clampF(r), clampF(g), clampF(b)));
    painter.setPen(QPen(QColor::fromRgbF(clampF(r - 0.05), clampF(g - 0.05), clampF(b - 0.05)), 2.0));
    painter.drawEllipse(QRectF(1, 1, 10, 10));
    return img;
}

void KZSearchProgressExtraInfoCntrl::showInfoWithItem(const QVariantMap& userInfo)
{
    const auto label = userInfo.value(QStringLiteral("fileTypeItem")).value<KZFileTypeLabelRef>();
    if (!label)
        return;
    item_ = label;
    const bool disabled = platform::UserDefaults::standard().boolForKey(KZDefaultsKey::disable_lables);
    {
        std::lock_guard guard(label->fileTypeLabelLock());
        const QString name = label->name().toHtmlEscaped();
        if (disabled) {
            nameFld_->setText(name);
        } else {
            // The disc is drawn inline, sitting a point below the baseline.
            const QImage disc = image(*label, infoView_->devicePixelRatioF());
            QByteArray png;
            QBuffer buffer(&png);
            buffer.open(QIODevice::WriteOnly);
            disc.save(&buffer, "PNG");
            nameFld_->setText(QStringLiteral(" <img src=\"data:image/png;base64,%1\" width=12 height=12 "
                                             "style=\"vertical-align: -1px\"> %2")
                                  .arg(QString::fromLatin1(png.toBase64()), name));
        }
        writeInfo();
    }
    if (targetAlpha_ == 0.0) {
        fadeTo(1.0);
        QPointer<KZSearchProgressExtraInfoCntrl> self(this);
        auto& center = platform::NotificationCenter::defaultCenter();
        countObservation_ = center.addObserver(KZNotification::updatefileTypeCount, platform::bundleIdentifier(),
                                               [self](const platform::Notification&) {
                                                   platform::runOnMain([self] {
                                                       if (self)
                                                           self->writeInfo();
                                                   });
                                               });
        remotionObservation_ = center.addObserver(KZNotification::installRemotion, platform::bundleIdentifier(),
                                                  [self](const platform::Notification&) {
                                                      platform::runOnMain([self] {
                                                          if (self)
                                                              self->installRemotion();
                                                      });
                                                  });
    }
    invalidateTimer();
}

void KZSearchProgressExtraInfoCntrl::writeInfo()
{
    const auto label = item_.lock();
    if (!label)
        return;
    quint64 size = 0, count = 0;
    {
        std::lock_guard guard(label->fileTypeLabelLock());
        size = label->size();
        count = label->filesCount();
    }
    const auto& numbers = KZNumberUtilities::sharedControl();
    sizeFld_->setText(numbers.sizeToFormatString(size, 4, true));
    itemsFoundFld_->setText(numbers.numberToFormatString(static_cast<double>(count)));
}

void KZSearchProgressExtraInfoCntrl::installRemotion()
{
    timer_->start(KZAnimationTiming::milliseconds(kCloseDelaySeconds));
}

void KZSearchProgressExtraInfoCntrl::hideView()
{
    if (targetAlpha_ > 0.0) {
        fadeTo(0.0);
        countObservation_.cancel();
        remotionObservation_.cancel();
    }
}

void KZSearchProgressExtraInfoCntrl::invalidateTimer()
{
    timer_->stop();
}

bool KZSearchProgressExtraInfoCntrl::closePending() const
{
    return timer_->isActive();
}

double KZSearchProgressExtraInfoCntrl::alpha() const
{
    return targetAlpha_;
}

QString KZSearchProgressExtraInfoCntrl::nameText() const { return nameFld_->text(); }
QString KZSearchProgressExtraInfoCntrl::countText() const { return itemsFoundFld_->text(); }
QString KZSearchProgressExtraInfoCntrl::sizeText() const { return sizeFld_->text(); }

void KZSearchProgressExtraInfoCntrl::fadeTo(double alpha)
{
    targetAlpha_ = alpha;
    if (fade_)
        fade_->stop();
    auto* animation = new QVariantAnimation(this);
    animation->setStartValue(effect_->opacity());
    animation->setEndValue(alpha);
    animation->setDuration(KZAnimationTiming::milliseconds(kFadeSeconds));
    connect(animation, &QVariantAnimation::valueChanged, effect_,
            [effect = effect_](const QVariant& value) { effect->setOpacity(value.toDouble()); });
    fade_ = animation;
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}
