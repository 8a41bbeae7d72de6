#include "preferences/ui/KZPreferencesLabelsPopoverCntrl.h"

#include "preferences/KZLabelsTable.h"
#include "preferences/KZLimitationsList.h"
#include "preferences/KZPreferencesDefaults.h"
#include "preferences/ui/KZTokenDelegate.h"

#include "platform/NotificationCenter.h"
#include "platform/StringTable.h"
#include "platform/UserDefaults.h"
#include "services/ui/KZFocusRing.h"
#include "services/ui/Popover.h"
#include "settings/KZDefaultsKeys.h"
#include "settings/KZNotificationNames.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <functional>
#include <utility>

namespace {

QString text(const QString& key)
{
    return platform::localizedString(key);
}

// A press on the button that opened the popover closes it like Done and is
// not passed on to the button, which would open it again; any other press
// outside closes it without a commit.
class ExtensionsPopover : public platform::Popover {
public:
    using platform::Popover::Popover;
    std::function<QWidget*()> anchor;
    std::function<void()> anchorPressed;

protected:
    void mousePressEvent(QMouseEvent* event) override
    {
        QWidget* button = anchor ? anchor() : nullptr;
        if (button && !rect().contains(event->position().toPoint())) {
            const QRect global(button->mapToGlobal(QPoint(0, 0)), button->size());
            if (global.contains(event->globalPosition().toPoint())) {
                setAttribute(Qt::WA_NoMouseReplay, true);
                event->accept();
                if (anchorPressed)
                    anchorPressed();
                return;
            }
        }
        setAttribute(Qt::WA_NoMouseReplay, false);
        platform::Popover::mousePressEvent(event);
    }
};

} // namespace

KZPreferencesLabelsPopoverCntrl::KZPreferencesLabelsPopoverCntrl(QWidget* prefExtCntrl, QObject* parent)
    : QObject(parent), prefExtCntrl_(prefExtCntrl)
{
    buildPopover();
}

KZPreferencesLabelsPopoverCntrl::~KZPreferencesLabelsPopoverCntrl()
{
    if (popover_) {
        committing_ = false;
        delete popover_.data();
    }
}

void KZPreferencesLabelsPopoverCntrl::buildPopover()
{
    auto* popover = new ExtensionsPopover(prefExtCntrl_ ? prefExtCntrl_->window() : nullptr);
    popover->setObjectName(QStringLiteral("labelsPopover"));
    popover->anchor = [this]() -> QWidget* { return anchor_; };
    popover->anchorPressed = [this] { perfomeClose(); };
    popover_ = popover;

    auto* content = new QWidget;
    content->setObjectName(QStringLiteral("labelsPopoverView"));
    content->setFixedWidth(360);
    auto* layout = new QVBoxLayout(content);
    layout->setContentsMargins(6, 4, 6, 2);
    layout->setSpacing(8);

    titleLabel_ = new QLabel;
    QFont bold = titleLabel_->font();
    bold.setBold(true);
    titleLabel_->setFont(bold);
    layout->addWidget(titleLabel_);
    auto* caption = new QLabel(text(QStringLiteral("pref_groups_caption")));
    caption->setWordWrap(true);
    caption->setStyleSheet(QStringLiteral("color: #6d737b;"));
    layout->addWidget(caption);

    extTableView_ = new QListWidget;
    extTableView_->setObjectName(QStringLiteral("extTableView"));
    extTableView_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    extTableView_->setAlternatingRowColors(true);
    extTableView_->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed
                                   | QAbstractItemView::SelectedClicked);
    extTableView_->setFixedHeight(6 * 28 + 4);
    auto* delegate = new KZTokenDelegate(extTableView_);
    extTableView_->setItemDelegate(delegate);
    connect(delegate, &KZTokenDelegate::tokensEdited, this,
            [this](const QModelIndex& index, const QString& typed) { updateExtensions(index.row(), typed); });
    connect(extTableView_, &QListWidget::itemSelectionChanged, this, &KZPreferencesLabelsPopoverCntrl::enableRemoveBtn);
    layout->addWidget(extTableView_);

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(4);
    addBtn_ = new QToolButton;
    addBtn_->setObjectName(QStringLiteral("popoverAddBtn"));
    addBtn_->setText(QStringLiteral("+"));
    addBtn_->setToolTip(text(QStringLiteral("pref_add_group_tip")));
    removeBtn_ = new QToolButton;
    removeBtn_->setObjectName(QStringLiteral("popoverRemoveBtn"));
    removeBtn_->setText(QStringLiteral("−"));
    removeBtn_->setToolTip(text(QStringLiteral("pref_remove_group_tip")));
    for (QToolButton* button : {addBtn_, removeBtn_}) {
        button->setFixedSize(26, 24);
        QFont font = button->font();
        font.setPointSizeF(font.pointSizeF() + 3);
        button->setFont(font);
    }
    doneBtn_ = new QPushButton(text(QStringLiteral("pref_done")));
    doneBtn_->setObjectName(QStringLiteral("popoverDoneBtn"));
    doneBtn_->setDefault(true);
    // The style outlines a default button as it outlines the focus: the
    // focus on it shows by a ring of its own.
    KZFocusRing::showWhileFocused(doneBtn_, 4);
    buttons->addWidget(addBtn_);
    buttons->addWidget(removeBtn_);
    buttons->addStretch(1);
    buttons->addWidget(doneBtn_);
    layout->addLayout(buttons);

    popover->setContentWidget(content);
    connect(addBtn_, &QToolButton::clicked, this, &KZPreferencesLabelsPopoverCntrl::addAction);
    connect(removeBtn_, &QToolButton::clicked, this, &KZPreferencesLabelsPopoverCntrl::removeAction);
    connect(doneBtn_, &QPushButton::clicked, this, &KZPreferencesLabelsPopoverCntrl::doneAction);
    connect(popover, &platform::Popover::closed, this, &KZPreferencesLabelsPopoverCntrl::popoverDidClose);
    enableRemoveBtn();
}

bool KZPreferencesLabelsPopoverCntrl::isShown() const
{
    return popover_ && popover_->isVisible();
}

void KZPreferencesLabelsPopoverCntrl::showPopover(QWidget* anchor, quint64 tag)
{
    if (isShown()) {
        perfomeClose();
        return;
    }
    const std::optional<QVariantMap> label = KZLabelsTable(platform::UserDefaults::standard()).labelWithTag(tag);
    if (!label || !popover_)
        return;
    tag_ = tag;
    anchor_ = anchor;
    extContent_ = KZPreferencesDefaults::stringList(label->value(KZLabelKey::labels_extension_array));
    originalContent_ = extContent_;
    edited_ = false;
    extensionsChanged_ = false;
    committing_ = false;
    const QString name = KZPreferencesDefaults::stringValue(label->value(KZLabelKey::label_name)).value_or(QString());
    titleLabel_->setText(text(QStringLiteral("pref_groups_title"))
                             .arg(name.isEmpty() ? text(QStringLiteral("user_added")) : name));
    reloadList();
    if (anchor)
        popover_->showRelativeTo(anchor, anchor->rect(), platform::Popover::Edge::Below);
}

void KZPreferencesLabelsPopoverCntrl::reloadList()
{
    extTableView_->clear();
    for (const QString& group : extContent_) {
        auto* item = new QListWidgetItem(group);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable);
        item->setData(Qt::UserRole + 1, text(QStringLiteral("pref_group_placeholder")));
        item->setSizeHint(QSize(0, 28));
        extTableView_->addItem(item);
    }
    enableRemoveBtn();
}

void KZPreferencesLabelsPopoverCntrl::enableRemoveBtn()
{
    removeBtn_->setEnabled(!extTableView_->selectedItems().isEmpty());
}

void KZPreferencesLabelsPopoverCntrl::addAction()
{
    commitOpenEditors();
    extContent_.append(QString());
    reloadList();
    QListWidgetItem* last = extTableView_->item(extTableView_->count() - 1);
    extTableView_->scrollToItem(last);
    extTableView_->editItem(last);
}

void KZPreferencesLabelsPopoverCntrl::removeAction()
{
    commitOpenEditors();
    if (!KZLabelsTable(platform::UserDefaults::standard()).labelWithTag(tag_))
        return;
    QList<int> rows;
    for (const QModelIndex& index : extTableView_->selectionModel()->selectedRows())
        rows.append(index.row());
    if (rows.isEmpty())
        return;
    std::sort(rows.begin(), rows.end(), std::greater<>());
    for (int row : rows) {
        if (row < extContent_.size())
            extContent_.removeAt(row);
    }
    edited_ = true;
    reloadList();
}

void KZPreferencesLabelsPopoverCntrl::updateExtensions(int row, const QString& typed)
{
    if (row < 0 || row >= extContent_.size())
        return;
    const QString group = KZLimitationsList::tokensOf(typed).join(QLatin1Char(','));
    if (group == extContent_.at(row))
        return;
    extContent_[row] = group;
    edited_ = true;
    if (QListWidgetItem* item = extTableView_->item(row))
        item->setText(group);
}

void KZPreferencesLabelsPopoverCntrl::doneAction()
{
    perfomeClose();
}

void KZPreferencesLabelsPopoverCntrl::commitOpenEditors()
{
    // An edit still open in a row counts, as if the user had pressed Return.
    auto* delegate = qobject_cast<KZTokenDelegate*>(extTableView_->itemDelegate());
    for (QLineEdit* editor : extTableView_->viewport()->findChildren<QLineEdit*>(QStringLiteral("tokenEditor"))) {
        if (delegate && editor->isVisible()) {
            Q_EMIT delegate->commitData(editor);
            Q_EMIT delegate->closeEditor(editor, QAbstractItemDelegate::NoHint);
        }
    }
}

void KZPreferencesLabelsPopoverCntrl::perfomeClose()
{
    commitOpenEditors();
    extensionsChanged_ = false;
    committedLabel_.clear();
    if (edited_ && extContent_ != originalContent_) {
        const KZLabelsTable::ExtensionsCommit commit =
            KZLabelsTable(platform::UserDefaults::standard()).commitExtensions(tag_, extContent_);
        extensionsChanged_ = commit.written && commit.extensionsChanged;
        committedLabel_ = commit.label;
    }
    committing_ = true;
    if (popover_ && popover_->isVisible())
        popover_->close();
    else
        popoverDidClose();
}

void KZPreferencesLabelsPopoverCntrl::popoverDidClose()
{
    const bool committed = std::exchange(committing_, false);
    // Closed without a commit: the edits are dropped; the next opening
    // starts again from the stored label.
    if (!committed || !extensionsChanged_)
        return;
    const quint64 tag = tag_;
    QVariantMap userInfo{{QStringLiteral("tag"), tag},
                         {KZLabelKey::labels_extension, committedLabel_.value(KZLabelKey::labels_extension)}};
    if (committedLabel_.contains(KZLabelKey::labels_type_array))
        userInfo.insert(KZLabelKey::labels_type_array, committedLabel_.value(KZLabelKey::labels_type_array));
    // After the popover has finished closing, as its own close would come.
    QTimer::singleShot(0, this, [tag, userInfo] {
        platform::NotificationCenter::defaultCenter().post(
            KZNotification::fileTypeExtensionsDidChange, platform::NotificationObject::number(static_cast<qint64>(tag)),
            userInfo);
    });
}
