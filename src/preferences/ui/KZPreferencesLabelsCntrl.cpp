#include "preferences/ui/KZPreferencesLabelsCntrl.h"

#include "preferences/KZLabelsTable.h"
#include "preferences/KZPreferencesDefaults.h"
#include "preferences/ui/KZPreferencesLabelsCellView.h"

#include "platform/NotificationCenter.h"
#include "platform/StringTable.h"
#include "platform/UserDefaults.h"
#include "settings/KZDefaultsKeys.h"

#include <QApplication>
#include <QCheckBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>

namespace {

QString text(const QString& key)
{
    return platform::localizedString(key);
}

QColor neutralColour()
{
    const QVariantMap colours =
        platform::UserDefaults::standard().dictionaryForKey(KZDefaultsKey::disable_lable_colors);
    auto part = [&](const QString& key) {
        const QVariant value = colours.value(key);
        bool ok = false;
        const double d = value.toDouble(&ok);
        return static_cast<float>(ok && value.typeId() != QMetaType::QString ? std::clamp(d, 0.0, 1.0) : 0.843);
    };
    return QColor::fromRgbF(part(KZLabelKey::red_label_on_color), part(KZLabelKey::green_label_on_color),
                            part(KZLabelKey::blue_label_on_color), 1.0f);
}

} // namespace

KZPreferencesLabelsCntrl::KZPreferencesLabelsCntrl(QObject* appDelegate, QWidget* parent)
    : QWidget(parent), appDelegate_(appDelegate)
{
    setObjectName(QStringLiteral("labelsView"));
    buildLayout();
    auto& defaults = platform::UserDefaults::standard();
    auto reload = [guard = QPointer<KZPreferencesLabelsCntrl>(this)](const QVariant&) {
        QMetaObject::invokeMethod(qApp, [guard] {
            if (guard)
                guard->scheduleReload();
        }, Qt::QueuedConnection);
    };
    labelsObservation_ = defaults.observe(KZDefaultsKey::file_type_labels, reload);
    disableObservation_ = defaults.observe(KZDefaultsKey::disable_lables, reload);
    updateTableViewRegistration_ = platform::NotificationCenter::defaultCenter().addObserver(
        QStringLiteral("updateTableView"), platform::bundleIdentifier(),
        [guard = QPointer<KZPreferencesLabelsCntrl>(this)](const platform::Notification&) {
            QMetaObject::invokeMethod(qApp, [guard] {
                if (guard)
                    guard->scheduleReload();
            }, Qt::QueuedConnection);
        });
    updateTableView();
}

KZPreferencesLabelsCntrl::~KZPreferencesLabelsCntrl()
{
    updateTableViewRegistration_.cancel();
}

QSize KZPreferencesLabelsCntrl::paneSize()
{
    return {620, 560};
}

void KZPreferencesLabelsCntrl::buildLayout()
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 16, 20, 18);
    layout->setSpacing(10);

    descriptionTxt_ = new QLabel(text(QStringLiteral("pref_labels_description")).arg(KZLabelsTable::maximumLabels));
    descriptionTxt_->setObjectName(QStringLiteral("descriptionTxt"));
    descriptionTxt_->setWordWrap(true);
    layout->addWidget(descriptionTxt_);

    scroll_ = new QScrollArea;
    scroll_->setObjectName(QStringLiteral("labelTableView"));
    scroll_->setWidgetResizable(true);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll_->setFrameShape(QFrame::StyledPanel);
    rowsView_ = new QWidget;
    rowsView_->setObjectName(QStringLiteral("labelRows"));
    rowsView_->setAutoFillBackground(true);
    QPalette rowsPalette = rowsView_->palette();
    rowsPalette.setColor(QPalette::Window, rowsPalette.color(QPalette::Base));
    rowsView_->setPalette(rowsPalette);
    rowsLayout_ = new QVBoxLayout(rowsView_);
    rowsLayout_->setContentsMargins(0, 2, 0, 2);
    rowsLayout_->setSpacing(0);
    rowsLayout_->addStretch(1);
    scroll_->setWidget(rowsView_);
    layout->addWidget(scroll_, 1);

    auto* bottom = new QHBoxLayout;
    disableBox_ = new QCheckBox(text(QStringLiteral("pref_disable_labels")));
    disableBox_->setObjectName(QStringLiteral("disableLabelsBox"));
    addBtn_ = new QPushButton(text(QStringLiteral("pref_add_label")));
    addBtn_->setObjectName(QStringLiteral("addLabelBtn"));
    addBtn_->setAutoDefault(false);
    restoreBtn_ = new QPushButton(text(QStringLiteral("pref_restore_labels")));
    restoreBtn_->setObjectName(QStringLiteral("restoreLabelsBtn"));
    restoreBtn_->setAutoDefault(false);
    bottom->addWidget(disableBox_);
    bottom->addStretch(1);
    bottom->addWidget(addBtn_);
    bottom->addWidget(restoreBtn_);
    layout->addLayout(bottom);

    connect(addBtn_, &QPushButton::clicked, this, &KZPreferencesLabelsCntrl::addAction);
    connect(restoreBtn_, &QPushButton::clicked, this, &KZPreferencesLabelsCntrl::restoreAction);
    connect(disableBox_, &QCheckBox::clicked, this, &KZPreferencesLabelsCntrl::disableAction);
}

QList<KZPreferencesLabelsCellView*> KZPreferencesLabelsCntrl::cells() const
{
    return cells_;
}

KZPreferencesLabelsCellView* KZPreferencesLabelsCntrl::cellWithTag(quint64 tag) const
{
    for (KZPreferencesLabelsCellView* cell : cells_) {
        if (cell->tag() == tag)
            return cell;
    }
    return nullptr;
}

void KZPreferencesLabelsCntrl::scheduleReload()
{
    if (reloadScheduled_)
        return;
    reloadScheduled_ = true;
    QTimer::singleShot(0, this, [this] {
        reloadScheduled_ = false;
        updateTableView();
    });
}

void KZPreferencesLabelsCntrl::updateTableView()
{
    auto& defaults = platform::UserDefaults::standard();
    const bool disabled = defaults.boolForKey(KZDefaultsKey::disable_lables);
    disableBox_->setChecked(disabled);
    const QColor neutral = disabled ? neutralColour() : QColor();

    QList<KZPreferencesLabelsCellView*> kept;
    QList<KZPreferencesLabelsCellView*> unused = cells_;
    for (const QVariantMap& label : KZLabelsTable(defaults).labels()) {
        const std::optional<quint64> tag = KZLabelsTable::tagOf(label);
        // A label without a usable tag cannot be told apart from others.
        if (!tag)
            continue;
        KZPreferencesLabelsCellView* cell = nullptr;
        for (KZPreferencesLabelsCellView* candidate : unused) {
            if (candidate->tag() == *tag) {
                cell = candidate;
                unused.removeOne(candidate);
                break;
            }
        }
        if (!cell)
            cell = new KZPreferencesLabelsCellView(this, rowsView_);
        cell->setLabel(label, neutral);
        if (justAdded_ == *tag) {
            cell->setJustAdded(true);
            justAdded_.reset();
        }
        kept.append(cell);
    }
    for (KZPreferencesLabelsCellView* cell : unused) {
        rowsLayout_->removeWidget(cell);
        cell->hide();
        cell->deleteLater();
    }
    for (qsizetype i = 0; i < kept.size(); ++i) {
        rowsLayout_->removeWidget(kept.at(i));
        rowsLayout_->insertWidget(static_cast<int>(i), kept.at(i));
        kept.at(i)->show();
    }
    cells_ = kept;
    disableEnableAddBtn();
}

void KZPreferencesLabelsCntrl::disableEnableAddBtn()
{
    addBtn_->setEnabled(KZLabelsTable(platform::UserDefaults::standard()).canAddLabel());
}

void KZPreferencesLabelsCntrl::disableAction(bool disabled)
{
    platform::UserDefaults::standard().setValue(KZDefaultsKey::disable_lables, disabled);
    updateTableView();
}

void KZPreferencesLabelsCntrl::addAction()
{
    quint64 tag = 0;
    switch (KZLabelsTable(platform::UserDefaults::standard()).addLabel(&tag)) {
    case KZLabelsTable::AddResult::TableFull:
        return;
    case KZLabelsTable::AddResult::NoTagLeft:
        QApplication::beep();
        return;
    case KZLabelsTable::AddResult::Added:
        break;
    }
    justAdded_ = tag;
    updateTableView();
    QTimer::singleShot(0, scroll_, [scroll = scroll_] {
        scroll->verticalScrollBar()->setValue(scroll->verticalScrollBar()->maximum());
    });
}

void KZPreferencesLabelsCntrl::restoreAction()
{
    KZLabelsTable(platform::UserDefaults::standard()).restoreLabels();
    updateTableView();
}
