#include "preferences/ui/KZPreferencesLabelsCellView.h"

#include "preferences/KZLabelsTable.h"
#include "preferences/KZPreferencesDefaults.h"
#include "preferences/ui/KZColorWell.h"
#include "preferences/ui/KZPreferencesLabelsCntrl.h"
#include "preferences/ui/KZPreferencesLabelsPopoverCntrl.h"
#include "preferences/ui/KZTokenFieldView.h"

#include "platform/StringTable.h"
#include "platform/UserDefaults.h"
#include "settings/KZDefaultsKeys.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPainter>
#include <QTimer>
#include <QToolButton>

namespace {

namespace L = KZLabelKey;

QString text(const QString& key)
{
    return platform::localizedString(key);
}

double component(const QVariantMap& label, const QString& key)
{
    const QVariant value = label.value(key);
    bool ok = false;
    const double d = value.toDouble(&ok);
    const bool number = value.typeId() == QMetaType::Double || value.typeId() == QMetaType::LongLong
        || value.typeId() == QMetaType::Int || value.typeId() == QMetaType::Float;
    return number && ok ? std::clamp(d, 0.0, 1.0) : 0.0;
}

QToolButton* rowButton(const QString& name, const QString& glyph, const QString& tip)
{
    auto* button = new QToolButton;
    button->setObjectName(name);
    button->setText(glyph);
    button->setToolTip(tip);
    button->setAutoRaise(true);
    button->setFixedSize(26, 24);
    return button;
}

} // namespace

KZPreferencesLabelsCellView::KZPreferencesLabelsCellView(KZPreferencesLabelsCntrl* owner, QWidget* parent)
    : QWidget(parent), owner_(owner)
{
    setObjectName(QStringLiteral("labelTableCellView"));
    setFixedHeight(40);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(12, 4, 8, 4);
    layout->setSpacing(10);

    colorWell_ = new KZColorWell;
    colorWell_->setObjectName(QStringLiteral("colorWell"));
    colorWell_->setToolTip(text(QStringLiteral("pref_label_color_tip")));
    nameField_ = new QLineEdit;
    nameField_->setObjectName(QStringLiteral("labelNameField"));
    nameField_->setFixedWidth(150);
    nameField_->setPlaceholderText(text(QStringLiteral("pref_label_name_placeholder")));
    extField_ = new KZTokenFieldView;
    extField_->setObjectName(QStringLiteral("labelExtField"));
    ellipseBtn_ = rowButton(QStringLiteral("ellipseBtn"), QStringLiteral("…"), text(QStringLiteral("pref_edit_extensions_tip")));
    ellipseBtn_->setAutoRaise(false);
    removeBtn_ = rowButton(QStringLiteral("removeLabelBtn"), QStringLiteral("−"), text(QStringLiteral("pref_remove_label_tip")));
    QFont big = removeBtn_->font();
    big.setPointSizeF(big.pointSizeF() + 3);
    removeBtn_->setFont(big);
    ellipseBtn_->setFont(big);

    layout->addWidget(colorWell_);
    layout->addWidget(nameField_);
    layout->addWidget(extField_, 1);
    layout->addWidget(ellipseBtn_);
    layout->addWidget(removeBtn_);

    connect(ellipseBtn_, &QToolButton::clicked, this, &KZPreferencesLabelsCellView::ellipseAction);
    connect(removeBtn_, &QToolButton::clicked, this, &KZPreferencesLabelsCellView::removeAction);
    connect(nameField_, &QLineEdit::editingFinished, this, &KZPreferencesLabelsCellView::fieldNameAction);
    connect(colorWell_, &KZColorWell::colorPicked, this, &KZPreferencesLabelsCellView::colorAction);
}

KZPreferencesLabelsCellView::~KZPreferencesLabelsCellView() = default;

void KZPreferencesLabelsCellView::setLabel(const QVariantMap& label, const QColor& neutral)
{
    label_ = label;
    tag_ = KZLabelsTable::tagOf(label).value_or(0);
    // Named per label, so that a script can reach one row's controls.
    const QString suffix = QLatin1Char('-') + QString::number(tag_);
    setObjectName(QStringLiteral("labelTableCellView") + suffix);
    colorWell_->setObjectName(QStringLiteral("colorWell") + suffix);
    nameField_->setObjectName(QStringLiteral("labelNameField") + suffix);
    extField_->setObjectName(QStringLiteral("labelExtField") + suffix);
    ellipseBtn_->setObjectName(QStringLiteral("ellipseBtn") + suffix);
    removeBtn_->setObjectName(QStringLiteral("removeLabelBtn") + suffix);
    customizable_ = KZPreferencesDefaults::stringValue(label.value(L::customizable_tag)).value_or(QString())
        != L::not_customizable;
    drawSeparator_ = KZPreferencesDefaults::unsignedValue(label.value(L::draw_separator)).value_or(0) != 0;

    const QColor own = QColor::fromRgbF(static_cast<float>(component(label, L::red_label_on_color)),
                                        static_cast<float>(component(label, L::green_label_on_color)),
                                        static_cast<float>(component(label, L::blue_label_on_color)), 1.0f);
    colorWell_->setColor(neutral.isValid() ? neutral : own);

    // A name being typed is not overwritten by a refresh from elsewhere.
    const QString name = KZPreferencesDefaults::stringValue(label.value(L::label_name)).value_or(QString());
    if (!nameField_->hasFocus() || !nameField_->isModified())
        nameField_->setText(name);
    nameField_->setReadOnly(!customizable_);
    nameField_->setFocusPolicy(customizable_ ? Qt::StrongFocus : Qt::NoFocus);
    nameField_->setFrame(customizable_);

    ellipseBtn_->setVisible(customizable_);
    removeBtn_->setVisible(customizable_);
    const QString extensions = KZPreferencesDefaults::stringValue(label.value(L::labels_extension)).value_or(QString());
    extField_->setText(extensions);
    extField_->setPlaceholderText(
        customizable_ ? text(QStringLiteral("placeholder_labels_generic"))
                      : KZPreferencesDefaults::stringValue(label.value(L::placeholder_string)).value_or(QString()));
    update();
}

void KZPreferencesLabelsCellView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!justAdded_)
        return;
    justAdded_ = false;
    // The new label's name is typed at once.
    QTimer::singleShot(0, nameField_, [field = nameField_] {
        field->setFocus(Qt::OtherFocusReason);
        field->selectAll();
    });
}

void KZPreferencesLabelsCellView::ellipseAction()
{
    if (!customizable_)
        return;
    if (!popoverCntrl_)
        popoverCntrl_ = std::make_unique<KZPreferencesLabelsPopoverCntrl>(this);
    popoverCntrl_->showPopover(ellipseBtn_, tag_);
}

void KZPreferencesLabelsCellView::removeAction()
{
    if (!customizable_)
        return;
    const quint64 tag = tag_;
    QPointer<KZPreferencesLabelsCntrl> owner = owner_;
    // The row goes away with the reload that the removal asks for.
    KZLabelsTable(platform::UserDefaults::standard()).removeLabel(tag);
    if (owner)
        owner->updateTableView();
}

void KZPreferencesLabelsCellView::fieldNameAction()
{
    if (!customizable_)
        return;
    const std::optional<QString> stored =
        KZLabelsTable(platform::UserDefaults::standard()).renameLabel(tag_, nameField_->text());
    if (stored) {
        nameField_->setText(*stored);
    } else {
        // Nothing stored: the field shows the name that stays.
        const auto label = KZLabelsTable(platform::UserDefaults::standard()).labelWithTag(tag_);
        nameField_->setText(label ? KZPreferencesDefaults::stringValue(label->value(L::label_name)).value_or(QString())
                                  : QString());
    }
    nameField_->setModified(false);
}

void KZPreferencesLabelsCellView::colorAction(const QColor& color)
{
    if (!color.isValid())
        return;
    const QColor rgb = color.toRgb();
    if (KZLabelsTable(platform::UserDefaults::standard()).recolourLabel(tag_, rgb.redF(), rgb.greenF(), rgb.blueF()))
        colorWell_->setColor(QColor::fromRgbF(rgb.redF(), rgb.greenF(), rgb.blueF(), 1.0f));
}

void KZPreferencesLabelsCellView::paintEvent(QPaintEvent* event)
{
    QWidget::paintEvent(event);
    if (!drawSeparator_)
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const double grey = 0.782;
    painter.setPen(QPen(QColor::fromRgbF(grey, grey, grey, 1.0), 1.0, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(0, height() - 0.5), QPointF(width(), height() - 0.5));
}
