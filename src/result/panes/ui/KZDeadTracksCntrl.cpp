#include "result/panes/ui/KZDeadTracksCntrl.h"

#include "media/KZApplescript.h"
#include "media/KZAppsSupport.h"
#include "platform/MainThread.h"
#include "platform/NotificationCenter.h"
#include "platform/OperationQueue.h"
#include "platform/StringTable.h"
#include "result/model/KZListNotifications.h"
#include "services/KZFilesUtilities.h"
#include "services/KZNumberUtilities.h"
#include "services/ui/KZAnimationTiming.h"
#include "services/ui/KZFocusRing.h"
#include "services/ui/Popover.h"
#include "settings/KZNotificationNames.h"

#include <QAbstractButton>
#include <QAbstractTableModel>
#include <QApplication>
#include <QClipboard>
#include <QGraphicsOpacityEffect>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPropertyAnimation>
#include <QStyle>
#include <QTableView>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

platform::NotificationCenter& center()
{
    return platform::NotificationCenter::defaultCenter();
}

QString localized(const char* key)
{
    return platform::localizedString(QLatin1StringView(key));
}

// The queue of the library changes, made on first use and never destroyed,
// so that a script still running at exit has somewhere to return.
platform::OperationQueue& removalQueue()
{
    static auto* queue = new platform::OperationQueue(QStringLiteral("KZDeadTracks"));
    return *queue;
}

enum Column { CheckColumn, SongColumn, AlbumColumn, ArtistColumn, LocationColumn, ColumnCount };

} // namespace

// The table's rows: the tab's tracks while it is on screen, none while it is
// hidden.
class KZDeadTracksModel : public QAbstractTableModel {
public:
    using QAbstractTableModel::QAbstractTableModel;

    void setItems(const std::vector<KZDeadTrackItemRef>* items)
    {
        beginResetModel();
        items_ = items;
        endResetModel();
    }
    const KZDeadTrackItemRef* itemAt(int row) const
    {
        return items_ && row >= 0 && std::size_t(row) < items_->size() ? &(*items_)[std::size_t(row)] : nullptr;
    }

    int rowCount(const QModelIndex& parent = {}) const override
    {
        return parent.isValid() || !items_ ? 0 : int(items_->size());
    }
    int columnCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : ColumnCount; }

    QVariant data(const QModelIndex& index, int role) const override
    {
        const KZDeadTrackItemRef* ref = itemAt(index.row());
        if (!ref || !*ref)
            return {};
        const KZDeadTrackItem& item = **ref;
        if (index.column() == CheckColumn)
            return role == Qt::CheckStateRole ? QVariant(item.isMarked() ? Qt::Checked : Qt::Unchecked) : QVariant();
        if (role != Qt::DisplayRole && role != Qt::ToolTipRole)
            return {};
        switch (index.column()) {
        case SongColumn:
            return item.songName();
        case AlbumColumn:
            return item.album();
        case ArtistColumn:
            return item.artist();
        case LocationColumn:
            return item.path();
        default:
            return {};
        }
    }

    bool setData(const QModelIndex& index, const QVariant& value, int role) override
    {
        const KZDeadTrackItemRef* ref = itemAt(index.row());
        if (!ref || !*ref || index.column() != CheckColumn || role != Qt::CheckStateRole)
            return false;
        // The box shows the mark: a ticked box is a marked track.
        (*ref)->setIsMarked(value.value<Qt::CheckState>() == Qt::Checked);
        Q_EMIT dataChanged(index, index, {Qt::CheckStateRole});
        return true;
    }

    Qt::ItemFlags flags(const QModelIndex& index) const override
    {
        Qt::ItemFlags flags = QAbstractTableModel::flags(index);
        if (index.column() == CheckColumn)
            flags |= Qt::ItemIsUserCheckable;
        return flags;
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
            return {};
        switch (section) {
        case CheckColumn:
            return QStringLiteral("\u2713");
        case SongColumn:
            return localized("deads_song_name");
        case AlbumColumn:
            return localized("deads_album");
        case ArtistColumn:
            return localized("deads_artist");
        case LocationColumn:
            return localized("deads_old_location");
        default:
            return {};
        }
    }

private:
    const std::vector<KZDeadTrackItemRef>* items_ = nullptr;
};

// ---- Construction ------------------------------------------------------------------------------

KZDeadTracksCntrl::KZDeadTracksCntrl(const QVariantMap& dictionary)
    : fileTypeItem_(dictionary.value(QStringLiteral("fileType")).value<KZFileTypeLabelRef>())
    , tabView_(dictionary.value(QStringLiteral("tabView")).value<QObject*>())
    , searchStoppeByUser_(dictionary.value(QStringLiteral("KZResultSearchWasStoppedByUser")).toBool())
    , removeBtn_(qobject_cast<QAbstractButton*>(dictionary.value(QStringLiteral("KZResultRemoveButton")).value<QObject*>()))
    , selectionInfoFld_(qobject_cast<QLabel*>(dictionary.value(QStringLiteral("KZResultSelectionInfoField")).value<QObject*>()))
{
    for (const QVariant& track : dictionary.value(QStringLiteral("KZResultFoundDeads")).toList())
        deads_.push_back(std::make_shared<KZDeadTrackItem>(track.toMap()));
    buildView();

    const void* view = resultView_.data();
    observations_.push_back(center().addObserver(KZNotification::superviewDidHide, view,
                                                 [this](const platform::Notification&) { superviewDidHide(); }));
    observations_.push_back(center().addObserver(KZNotification::superviewDidUnhide, view,
                                                 [this](const platform::Notification&) { superviewDidUnhide(); }));
    foundCountStr_ = foundCountFld_->text();
    setFoundCountString();
    emptyView_->hide();
    QPointer<KZDeadTracksCntrl> guard(this);
    observations_.push_back(center().addObserver(
        KZNotification::removeButtonDidClick, platform::bundleIdentifier(), [guard](const platform::Notification&) {
            platform::runOnMain([guard] {
                if (guard)
                    guard->removeButtonDidClick();
            });
        }));
    connect(tableView_, &QTableView::doubleClicked, this, [this] { doubleClick(); });
}

KZDeadTracksCntrl::~KZDeadTracksCntrl()
{
    observations_.clear();
    if (popover_)
        delete popover_.data();
    if (resultView_)
        delete resultView_.data();
}

QVariantList KZDeadTracksCntrl::savedTracks() const
{
    QVariantList tracks;
    for (const KZDeadTrackItemRef& dead : deads_)
        tracks << dead->savedDictionary();
    return tracks;
}

QWidget* KZDeadTracksCntrl::resultView()
{
    return resultView_.data();
}

void KZDeadTracksCntrl::buildView()
{
    resultView_ = new QWidget;
    resultView_->setObjectName(QStringLiteral("deadTracksView"));
    auto* layout = new QVBoxLayout(resultView_);
    layout->setContentsMargins(16, 12, 16, 12);
    layout->setSpacing(6);

    auto* top = new QHBoxLayout;
    foundCountFld_ = new QLabel(localized("deads_found_count"), resultView_);
    foundCountFld_->setObjectName(QStringLiteral("foundCountFld"));
    QFont countFont = foundCountFld_->font();
    countFont.setBold(true);
    foundCountFld_->setFont(countFont);
    top->addWidget(foundCountFld_);
    infoBtn_ = new QToolButton(resultView_);
    infoBtn_->setObjectName(QStringLiteral("infoBtn"));
    infoBtn_->setIcon(infoBtn_->style()->standardIcon(QStyle::SP_MessageBoxInformation));
    infoBtn_->setIconSize(QSize(16, 16));
    infoBtn_->setAutoRaise(true);
    infoBtn_->setToolTip(localized("deads_info"));
    connect(infoBtn_, &QToolButton::clicked, this, [this] { shopPopoverAction(); });
    top->addWidget(infoBtn_);
    spinning_ = new QProgressBar(resultView_);
    spinning_->setObjectName(QStringLiteral("spinning"));
    spinning_->setRange(0, 0);
    spinning_->setTextVisible(false);
    spinning_->setFixedSize(80, 8);
    spinning_->hide();
    top->addWidget(spinning_);
    top->addStretch(1);
    layout->addLayout(top);

    searchStoppedFld_ = new QLabel(localized("deads_search_stopped"), resultView_);
    searchStoppedFld_->setObjectName(QStringLiteral("searchStoppedFld"));
    searchStoppedFld_->setWordWrap(true);
    searchStoppedFld_->setForegroundRole(QPalette::PlaceholderText);
    searchStoppedFld_->hide();
    layout->addWidget(searchStoppedFld_);

    auto* stack = new QGridLayout;
    model_ = new KZDeadTracksModel(this);
    tableView_ = new QTableView(resultView_);
    tableView_->setObjectName(QStringLiteral("tableView"));
    tableView_->setModel(model_);
    tableView_->setSelectionBehavior(QAbstractItemView::SelectRows);
    tableView_->setSelectionMode(QAbstractItemView::SingleSelection);
    // Tab leaves the list, as from any other control of the window.
    tableView_->setTabKeyNavigation(false);
    // The style marks only the current cell, and only in part.
    KZFocusRing::showWhileFocused(tableView_);
    tableView_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tableView_->setAlternatingRowColors(true);
    tableView_->setShowGrid(false);
    tableView_->setWordWrap(false);
    tableView_->setTextElideMode(Qt::ElideMiddle);
    tableView_->verticalHeader()->hide();
    tableView_->verticalHeader()->setDefaultSectionSize(22);
    QHeaderView* header = tableView_->horizontalHeader();
    header->setHighlightSections(false);
    header->setSectionResizeMode(CheckColumn, QHeaderView::Fixed);
    header->resizeSection(CheckColumn, 30);
    header->resizeSection(SongColumn, 200);
    header->resizeSection(AlbumColumn, 160);
    header->resizeSection(ArtistColumn, 160);
    header->setStretchLastSection(true);
    stack->addWidget(tableView_, 0, 0);

    emptyView_ = new QWidget(resultView_);
    emptyView_->setObjectName(QStringLiteral("emptyView"));
    emptyView_->setAutoFillBackground(true);
    auto* emptyLayout = new QVBoxLayout(emptyView_);
    auto* emptyLabel = new QLabel(localized("deads_empty"), emptyView_);
    QFont emptyFont = emptyLabel->font();
    emptyFont.setPointSizeF(emptyFont.pointSizeF() * 1.6);
    emptyLabel->setFont(emptyFont);
    emptyLabel->setAlignment(Qt::AlignCenter);
    emptyLabel->setEnabled(false);
    emptyLayout->addWidget(emptyLabel);
    stack->addWidget(emptyView_, 0, 0);
    layout->addLayout(stack, 1);
}

// ---- Showing -----------------------------------------------------------------------------------

void KZDeadTracksCntrl::fade(QWidget* widget, bool visible)
{
    auto* effect = qobject_cast<QGraphicsOpacityEffect*>(widget->graphicsEffect());
    if (!effect) {
        effect = new QGraphicsOpacityEffect(widget);
        effect->setOpacity(widget->isVisible() ? 1.0 : 0.0);
        widget->setGraphicsEffect(effect);
    }
    if (visible) {
        widget->show();
        widget->raise();
    }
    auto* animation = new QPropertyAnimation(effect, "opacity", widget);
    animation->setDuration(KZAnimationTiming::milliseconds(0.25));
    animation->setEndValue(visible ? 1.0 : 0.0);
    QPointer<QWidget> target(widget);
    // Hidden at the end, so that a transparent view never takes the clicks
    // meant for the table under it.
    connect(animation, &QPropertyAnimation::finished, widget, [target, visible] {
        if (target && !visible)
            target->hide();
    });
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

void KZDeadTracksCntrl::superviewDidUnhide()
{
    const QString title = localized("remove_button_title")
                              .replace(QStringLiteral("%@"), fileTypeItem_ ? fileTypeItem_->removeBtnTitle() : QString());
    if (selectionInfoFld_)
        selectionInfoFld_->clear();
    if (removeBtn_) {
        removeBtnOldTitle_ = removeBtn_->text();
        removeBtn_->setText(title);
    }
    updateTableView();
}

void KZDeadTracksCntrl::superviewDidHide()
{
    // The other tabs' lists do not name the button; it must not keep ours.
    if (removeBtn_ && !removeBtnOldTitle_.isNull())
        removeBtn_->setText(std::exchange(removeBtnOldTitle_, QString()));
    model_->setItems(nullptr);
}

void KZDeadTracksCntrl::updateTableView()
{
    model_->setItems(&deads_);
    if (searchStoppeByUser_ != !searchStoppedFld_->isHidden())
        fade(searchStoppedFld_, searchStoppeByUser_);
    if (deads_.empty() != !emptyView_->isHidden())
        fade(emptyView_, deads_.empty());
    const QVariantMap info{{QStringLiteral("tag"), QVariant::fromValue<quint64>(fileTypeItem_ ? fileTypeItem_->tag() : 0)}};
    center().post(KZNotification::KZStopProgressIndicator, tabView_, info);
}

void KZDeadTracksCntrl::setFoundCountString()
{
    QString count = foundCountStr_;
    count.replace(QStringLiteral("%@"), KZNumberUtilities::sharedControl().numberToFormatString(double(deads_.size())));
    foundCountFld_->setText(count);
}

// ---- Commands ----------------------------------------------------------------------------------

void KZDeadTracksCntrl::doubleClick()
{
    const QModelIndexList rows = tableView_->selectionModel()->selectedRows();
    if (rows.isEmpty())
        return;
    const KZDeadTrackItemRef* item = model_->itemAt(rows.first().row());
    if (!item || !*item)
        return;
    QGuiApplication::clipboard()->setText((*item)->songName());
    KZApplescript::sharedControl().bringiTunesInFront();
}

void KZDeadTracksCntrl::shopPopoverAction()
{
    if (!popover_) {
        popover_ = new platform::Popover(resultView_);
        auto* text = new QLabel(localized("deads_info"));
        text->setWordWrap(true);
        text->setFixedWidth(300);
        text->setContentsMargins(12, 10, 12, 10);
        popover_->setContentWidget(text);
    }
    popover_->toggleRelativeTo(infoBtn_, infoBtn_->rect());
}

void KZDeadTracksCntrl::removeButtonDidClick()
{
    // The click belongs to whichever tab is on screen.
    if (!resultView_ || resultView_->isHidden() || removing_)
        return;
    const KZDeadTracksToRemove removal = KZMarkedDeadTracks(deads_);
    if (removal.indexes.empty()) {
        center().post(KZNotification::removePanelDidClose, platform::bundleIdentifier());
        return;
    }
    removing_ = true;
    QString appName = KZFilesUtilities::sharedControl().appNameWithIdentifier(KZAppsSupport::iTunesIdentifier);
    if (appName.isEmpty())
        appName = localized("music_app_name");
    foundCountFld_->setText(QStringLiteral("%1 - %2").arg(foundCountFld_->text(), localized("sending_spple_event").arg(appName)));
    spinning_->show();
    // The marks must stay what was sent until the answer is in.
    tableView_->setEnabled(false);
    QPointer<KZDeadTracksCntrl> guard(this);
    removalQueue().addOperation([guard, ids = removal.trackIDs, indexes = removal.indexes] {
        const bool removed = KZApplescript::sharedControl().notifyDeletion(ids);
        platform::runOnMain([guard, removed, indexes] {
            if (guard)
                guard->removalDidEnd(removed, indexes);
            else
                center().post(KZNotification::removePanelDidClose, platform::bundleIdentifier());
        });
    });
}

void KZDeadTracksCntrl::removalDidEnd(bool removed, const std::vector<std::size_t>& indexes)
{
    if (removed) {
        // The view must let go of the rows before the list they point into
        // shrinks under it.
        model_->setItems(nullptr);
        KZRemoveDeadTracks(deads_, indexes);
        updateTableView();
    }
    setFoundCountString();
    spinning_->hide();
    tableView_->setEnabled(true);
    removing_ = false;
    center().post(KZNotification::removePanelDidClose, platform::bundleIdentifier());
}
