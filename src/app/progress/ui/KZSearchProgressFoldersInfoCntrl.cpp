#include "app/progress/ui/KZSearchProgressFoldersInfoCntrl.h"

#include "platform/StringTable.h"
#include "services/ui/KZAnimationTiming.h"

#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>
#include <QVariantAnimation>

namespace {

constexpr double kFadeSeconds = 0.25;

QLabel* makeField(QWidget* parent, qreal pointSize, const char* name)
{
    auto* label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setAlignment(Qt::AlignCenter);
    label->setTextFormat(Qt::PlainText);
    QFont font = label->font();
    font.setPointSizeF(pointSize);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, QColor::fromRgbF(0.25f, 0.25f, 0.25f));
    label->setPalette(palette);
    return label;
}

} // namespace

KZSearchProgressFoldersInfoCntrl::KZSearchProgressFoldersInfoCntrl(QWidget* parent)
    : QObject(parent)
{
    infoView_ = new QWidget(parent);
    infoView_->setObjectName(QStringLiteral("foldersInfoPanel"));
    auto* column = new QVBoxLayout(infoView_);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    titleFld_ = makeField(infoView_, 11, "foldersTitleFld");
    titleFld_->setText(platform::localizedString(QStringLiteral("comparing_folder")));
    column->addWidget(titleFld_);
    auto* row = new QHBoxLayout;
    row->setSpacing(4);
    currItemsCount_ = makeField(infoView_, 11, "currItemsCount");
    auto* slash = makeField(infoView_, 11, "foldersOf");
    slash->setText(QStringLiteral("/"));
    totItemsCount_ = makeField(infoView_, 11, "totItemsCount");
    sizeFld_ = makeField(infoView_, 11, "folderSizeFld");
    row->addStretch();
    row->addWidget(currItemsCount_);
    row->addWidget(slash);
    row->addWidget(totItemsCount_);
    row->addSpacing(10);
    row->addWidget(sizeFld_);
    row->addStretch();
    column->addLayout(row);
    infoNotAvailableStr_ = QStringLiteral("--");
    effect_ = new QGraphicsOpacityEffect(infoView_);
    effect_->setOpacity(0.0);
    infoView_->setGraphicsEffect(effect_);
    infoView_->setAttribute(Qt::WA_TransparentForMouseEvents);
    initializeForNewFolder();
}

KZSearchProgressFoldersInfoCntrl::~KZSearchProgressFoldersInfoCntrl() = default;

void KZSearchProgressFoldersInfoCntrl::initializeForNewFolder()
{
    currItemsCount_->setText(QStringLiteral("-"));
    totItemsCount_->setText(QStringLiteral("-"));
    sizeFld_->setText(infoNotAvailableStr_);
}

void KZSearchProgressFoldersInfoCntrl::setCurrent(const QString& text) { currItemsCount_->setText(text); }

void KZSearchProgressFoldersInfoCntrl::setTotals(const QString& total, const QString& size)
{
    totItemsCount_->setText(total);
    sizeFld_->setText(size);
}

QString KZSearchProgressFoldersInfoCntrl::currentText() const { return currItemsCount_->text(); }
QString KZSearchProgressFoldersInfoCntrl::totalText() const { return totItemsCount_->text(); }
QString KZSearchProgressFoldersInfoCntrl::sizeText() const { return sizeFld_->text(); }

void KZSearchProgressFoldersInfoCntrl::show(bool visible)
{
    if (visible == shown_)
        return;
    shown_ = visible;
    if (fade_)
        fade_->stop();
    auto* animation = new QVariantAnimation(this);
    animation->setStartValue(effect_->opacity());
    animation->setEndValue(visible ? 1.0 : 0.0);
    animation->setDuration(KZAnimationTiming::milliseconds(kFadeSeconds));
    connect(animation, &QVariantAnimation::valueChanged, effect_,
            [effect = effect_](const QVariant& value) { effect->setOpacity(value.toDouble()); });
    fade_ = animation;
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}
