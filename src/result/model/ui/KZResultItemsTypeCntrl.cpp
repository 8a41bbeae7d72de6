#include "result/model/ui/KZResultItemsTypeCntrl.h"
#include "result/model/ui/KZResultChromeViews.h"

#include "engine/KZResultInfoKeys.h"
#include "platform/MainThread.h"
#include "platform/NotificationCenter.h"
#include "platform/StringTable.h"
#include "platform/UserDefaults.h"
#include "result/model/KZFoundItemsCntrl.h"
#include "result/model/KZFoundListCntrl.h"
#include "result/model/KZListNotifications.h"
#include "result/model/KZResultCntrl.h"
#include "result/model/KZResultSourcesTypeItem.h"
#include "result/model/KZResultTabStrip.h"
#include "result/model/KZSplitViewSettings.h"
#include "settings/KZDefaultsKeys.h"
#include "settings/KZTags.h"

#include <QApplication>
#include <QEvent>
#include <QFontMetrics>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QScrollArea>
#include <QSplitter>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <cmath>

int KZResultItemsTypeCntrl::positionsWriteDelayMs = 250;

namespace {

constexpr qint64 kExpandAll = 4;
constexpr qint64 kCollapseAll = 5;
// The preview pane never gets narrower (side by side) or lower (stacked).
constexpr int kPreviewMinimum = 166;
constexpr int kThickDivider = 9;
constexpr int kThinDivider = 1;
// A split that has not been laid out yet is given this extent for its
// first proportions.
constexpr int kUnlaidExtent = 1000;

platform::NotificationCenter& center()
{
    return platform::NotificationCenter::defaultCenter();
}

// A subview's frame in the split's own y-up coordinates.
QRectF upFrame(const QSplitter* split, int index)
{
    const QRect r = split->widget(index)->geometry();
    return QRectF(r.x(), split->height() - r.y() - r.height(), r.width(), r.height());
}

class PlainPane : public KZPreviewPane {
public:
    PlainPane() : area_(new QScrollArea) {}
    QWidget* view() override { return area_; }

private:
    QScrollArea* area_;
};

} // namespace

// ---- Construction ---------------------------------------------------------------------

KZResultItemsTypeCntrl::KZResultItemsTypeCntrl(const QVariantMap& info, KZResultCntrl* resultCntrl,
                                               KZResultTabParts parts)
    : fileTypeTag_(info.value(QStringLiteral("tag")).toULongLong())
    , fileTypeItem_(info.value(QStringLiteral("fileType")).value<KZFileTypeLabelRef>())
    , sources_(info.value(KZResultKey::searchSources).value<std::vector<KZSourceItemRef>>())
    , searchStoppeByUser_(info.value(KZResultKey::stoppedByUser).toBool())
    , resultCntrl_(resultCntrl)
    , parts_(std::move(parts))
{
    if (fileTypeTag_ == KZTag::missingTracks) {
        // A result without missing tracks still gets its tab, with an empty list.
        const QVariant deads = info.contains(KZResultKey::foundDeads) ? info.value(KZResultKey::foundDeads)
                                                                      : QVariant(QVariantList());
        if (parts_.makeDeadTracks) {
            deadTracksCntrl_ = parts_.makeDeadTracks(
                {{QStringLiteral("fileType"), QVariant::fromValue(fileTypeItem_)},
                 {QStringLiteral("tabView"), info.value(QStringLiteral("tab"))},
                 {QStringLiteral("KZResultSearchWasStoppedByUser"), searchStoppeByUser_},
                 {KZResultKey::foundDeads, deads},
                 {QStringLiteral("KZResultRemoveButton"), info.value(QStringLiteral("KZResultRemoveButton"))},
                 {QStringLiteral("KZResultSelectionInfoField"), info.value(QStringLiteral("KZResultSelectionInfoField"))}});
        }
        if (deadTracksCntrl_ && deadTracksCntrl_->resultView()) {
            resultView_ = deadTracksCntrl_->resultView();
        } else {
            resultView_ = new QWidget;
            resultView_->setObjectName(QStringLiteral("ResultView"));
        }
        return;
    }
    buildResultView(info);
}

KZResultItemsTypeCntrl::~KZResultItemsTypeCntrl()
{
    observations_.clear();
    if (listSplit_) {
        listSplit_->removeEventFilter(this);
        sourcesSplit_->removeEventFilter(this);
    }
    // The list model waits for its workers; the view it draws into goes after.
    foundListCntrl_.reset();
    savePendingPositions();
    if (resultView_ && !deadTracksCntrl_)
        delete resultView_;
    deadTracksCntrl_.reset();
}

void KZResultItemsTypeCntrl::buildResultView(const QVariantMap&)
{
    resultView_ = new QWidget;
    resultView_->setObjectName(QStringLiteral("ResultView"));
    auto* layout = new QVBoxLayout(resultView_);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    sourcesSplit_ = new QSplitter(Qt::Horizontal, resultView_);
    sourcesSplit_->setObjectName(QStringLiteral("sourcesSplit"));
    sourcesSplit_->setChildrenCollapsible(false);
    layout->addWidget(sourcesSplit_);

    if (parts_.makeSourcesList) {
        sourcesListCntrl_ = parts_.makeSourcesList(
            {{QStringLiteral("fileType"), QVariant::fromValue(fileTypeItem_)},
             {KZResultKey::searchSources, QVariant::fromValue(sources_)},
             {QStringLiteral("resultCntrl"), QVariant::fromValue(resultCntrl_)},
             {QStringLiteral("searchStoppeByUser"), searchStoppeByUser_}});
    }
    QWidget* sourcesView = sourcesListCntrl_ && sourcesListCntrl_->view() ? sourcesListCntrl_->view() : new QWidget;
    sourcesSplit_->addWidget(sourcesView);
    KZResultLeftView::attach(sourcesView);

    auto* rest = new QWidget;
    auto* restLayout = new QVBoxLayout(rest);
    restLayout->setContentsMargins(0, 0, 0, 0);
    restLayout->setSpacing(0);
    sourcesSplit_->addWidget(rest);

    listSplit_ = new QSplitter(Qt::Horizontal, rest);
    listSplit_->setObjectName(QStringLiteral("listSplit"));
    restLayout->addWidget(listSplit_, 1);

    KZListOutlineParts outline;
    if (parts_.makeOutline)
        outline = parts_.makeOutline();
    outlineView_ = outline.view ? outline.view : new QWidget;
    outlineView_->setObjectName(QStringLiteral("outlineView"));
    listSplit_->addWidget(outlineView_);

    listSplit_->addWidget(buildPreviewPane());
    // Only the preview pane may be collapsed; the sources and the list never.
    listSplit_->setCollapsible(0, false);
    listSplit_->setCollapsible(1, true);

    restLayout->addWidget(buildScopeBar(rest));

    KZFoundListCntrl::Settings settings;
    settings.fileType = fileTypeItem_;
    settings.sources = sources_;
    settings.resultCntrl = resultCntrl_;
    settings.host = this;
    settings.outline = std::move(outline.outline);
    foundListCntrl_ = std::make_unique<KZFoundListCntrl>(std::move(settings));
    if (sourcesListCntrl_)
        sourcesListCntrl_->setResultOutlineCntrl(foundListCntrl_->outlineCntrl());

    observeListSettings();

    collectionViewSplitIsCollapsed_ = false;
    enableBtns();
    if (fileTypeTag_ == KZTag::emptyFolders) {
        expandAllBtn_->hide();
        contractAllBtn_->hide();
        emptyFoldersInfoBtn_->show();
    }

    sourcesWrite_ = new QTimer(this);
    sourcesWrite_->setSingleShot(true);
    connect(sourcesWrite_, &QTimer::timeout, this, [this] { writePositions(sourcesSplit_); });
    listWrite_ = new QTimer(this);
    listWrite_->setSingleShot(true);
    connect(listWrite_, &QTimer::timeout, this, [this] { writePositions(listSplit_); });
    intializeSplitViews();
    connect(sourcesSplit_, &QSplitter::splitterMoved, this, [this] { schedulePositions(sourcesSplit_); });
    connect(listSplit_, &QSplitter::splitterMoved, this, [this] {
        splitViewDidResize();
        schedulePositions(listSplit_);
    });
    sourcesSplit_->installEventFilter(this);
    listSplit_->installEventFilter(this);
}

QWidget* KZResultItemsTypeCntrl::buildPreviewPane()
{
    previewPaneCntrl_ = parts_.makePreviewPane ? parts_.makePreviewPane() : nullptr;
    if (!previewPaneCntrl_)
        previewPaneCntrl_ = std::make_unique<PlainPane>();
    previewPane_ = new QWidget;
    previewPane_->setObjectName(QStringLiteral("previewPane"));
    auto* paneLayout = new QVBoxLayout(previewPane_);
    paneLayout->setContentsMargins(0, 0, 0, 0);
    paneLayout->addWidget(previewPaneCntrl_->view());
    emptyPreviewFld_ = new QLabel(previewPane_);
    emptyPreviewFld_->setAlignment(Qt::AlignCenter);
    // The pane shows its own notice; this one must not take the pane's clicks.
    emptyPreviewFld_->setAttribute(Qt::WA_TransparentForMouseEvents);
    return previewPane_;
}

// The bar under the list: the empty folders' info, Expand All, Collapse All
// and the spinner.
QWidget* KZResultItemsTypeCntrl::buildScopeBar(QWidget* parent)
{
    auto* bar = new KZResultListScopeBar(parent);
    auto* barLayout = new QHBoxLayout(bar);
    barLayout->setContentsMargins(8, 2, 8, 2);
    auto makeButton = [bar, barLayout](const QString& name, const QString& text) {
        auto* button = new QToolButton(bar);
        button->setObjectName(name);
        button->setText(text);
        barLayout->addWidget(button);
        return button;
    };
    emptyFoldersInfoBtn_ = makeButton(QStringLiteral("emptyFoldersInfoBtn"), QStringLiteral("i"));
    expandAllBtn_ = makeButton(QStringLiteral("expandAllBtn"), QStringLiteral("+"));
    expandAllBtn_->setProperty("tag", kExpandAll);
    contractAllBtn_ = makeButton(QStringLiteral("contractAllBtn"), QStringLiteral("-"));
    contractAllBtn_->setProperty("tag", kCollapseAll);
    spinning_ = new QLabel(QStringLiteral("\u2026"), bar);
    spinning_->setObjectName(QStringLiteral("spinning"));
    spinning_->hide();
    barLayout->addWidget(spinning_);
    barLayout->addStretch(1);
    emptyFoldersInfoBtn_->hide();
    connect(expandAllBtn_, &QToolButton::clicked, this, [this] { expandAllAction(kExpandAll); });
    connect(contractAllBtn_, &QToolButton::clicked, this, [this] { expandAllAction(kCollapseAll); });
    connect(emptyFoldersInfoBtn_, &QToolButton::clicked, this, [this] { infoButtonAction(); });
    return bar;
}

void KZResultItemsTypeCntrl::observeListSettings()
{
    observations_.push_back(center().addObserver(KZNotification::showByGroup, platform::bundleIdentifier(),
                                                 [this](const platform::Notification&) {
                                                     platform::runOnMain([self = QPointer<QObject>(this), this] {
                                                         if (self)
                                                             enableBtns();
                                                     });
                                                 }));
    observations_.push_back(center().addObserver(KZNotification::switchPositionSplitView, platform::bundleIdentifier(),
                                                 [this](const platform::Notification&) {
                                                     platform::runOnMain([self = QPointer<QObject>(this), this] {
                                                         if (self)
                                                             setListPlitViewSettings(false);
                                                     });
                                                 }));
}

// ---- Buttons, popover, menu ------------------------------------------------------------

void KZResultItemsTypeCntrl::enableBtns()
{
    if (fileTypeTag_ == KZTag::emptyFolders || !expandAllBtn_)
        return;
    const bool grouped = platform::UserDefaults::standard().boolForKey(KZDefaultsKey::show_result_by_group);
    expandAllBtn_->setEnabled(grouped);
    contractAllBtn_->setEnabled(grouped);
}

void KZResultItemsTypeCntrl::expandAllAction(qint64 senderTag)
{
    if (hidden_)
        return;
    const quint64 labelTag = fileTypeItem_ ? fileTypeItem_->tag() : fileTypeTag_;
    center().post(KZNotification::expandItems, platform::NotificationObject::number(static_cast<qint64>(labelTag)),
                  {{QStringLiteral("tag"), senderTag}});
}

void KZResultItemsTypeCntrl::infoButtonAction()
{
    if (popover_ && popover_->isVisible()) {
        popover_->close();
        return;
    }
    if (!popover_) {
        popover_ = new QFrame(resultView_, Qt::Popup);
        popover_->setObjectName(QStringLiteral("emptyFoldersPopover"));
        popover_->setFrameShape(QFrame::StyledPanel);
        popoverInfoFld_ = new QLabel(popover_);
        popoverInfoFld_->setWordWrap(true);
        popoverInfoFld_->setStyleSheet(QStringLiteral("color: #404040;"));
    }
    const QString text = platform::localizedString(QStringLiteral("empty_folders_info"));
    const QFontMetrics metrics(popoverInfoFld_->font());
    const double width = KZSplitViewSettings::popoverTextWidth(metrics.horizontalAdvance(text));
    const QRect measured = metrics.boundingRect(QRect(0, 0, static_cast<int>(std::ceil(width)), 10000),
                                                Qt::TextWordWrap, text);
    popoverInfoFld_->setText(text);
    const int viewWidth = measured.width() + static_cast<int>(KZSplitViewSettings::popoverMargin);
    const int viewHeight = measured.height() + static_cast<int>(KZSplitViewSettings::popoverMargin);
    popover_->resize(viewWidth, viewHeight);
    popoverInfoFld_->setGeometry(15, 15, viewWidth - 30, viewHeight - 30);
    // Beside the button, on its far side.
    const QPoint anchor = emptyFoldersInfoBtn_->mapToGlobal(QPoint(emptyFoldersInfoBtn_->width(), 0));
    popover_->move(anchor);
    popover_->show();
}

bool KZResultItemsTypeCntrl::validateMenuItem(qint64 tag, bool inViewMenu) const
{
    if (aboutIsOpened())
        return false;
    if (inViewMenu && (tag == kExpandAll || tag == kCollapseAll))
        return isWindowVisible() && expandAllBtn_ && expandAllBtn_->isEnabled() && fileTypeTag_ != KZTag::emptyFolders;
    return true;
}

void KZResultItemsTypeCntrl::changeViewMenuItemsTarget(bool release)
{
    if (!parts_.viewMenu)
        return;
    for (const qint64 tag : {kExpandAll, kCollapseAll}) {
        if (release)
            parts_.viewMenu->setItemAction(tag, {});
        else
            parts_.viewMenu->setItemAction(tag, [this, tag] { expandAllAction(tag); });
    }
}

// ---- Split views ---------------------------------------------------------------------

QString KZResultItemsTypeCntrl::listSplitKey() const
{
    // Side by side is what the defaults call a vertical split.
    return listSplit_ && listSplit_->orientation() == Qt::Horizontal ? KZDefaultsKey::list_ver_splitview_settings
                                                                     : KZDefaultsKey::list_hor_splitview_settings;
}

void KZResultItemsTypeCntrl::intializeSplitViews()
{
    // The sources list and the preview pane keep their size when the window
    // is resized; the list takes the difference.
    sourcesSplit_->setStretchFactor(0, 0);
    sourcesSplit_->setStretchFactor(1, 1);
    listSplit_->setStretchFactor(0, 1);
    listSplit_->setStretchFactor(1, 0);
    const auto stored =
        KZSplitViewSettings::parseStored(platform::UserDefaults::standard().value(KZDefaultsKey::main_splitview_settings));
    const int extent = sourcesSplit_->width() > 0 ? sourcesSplit_->width() : kUnlaidExtent;
    if (stored)
        sourcesSplit_->setSizes(KZSplitViewSettings::restoredSizes(stored, true, extent, sourcesSplit_->handleWidth()));
    emptyPreviewFld_->setGeometry(0, 1, previewPane_->width(), std::max(previewPane_->height() - 74, 0));
    setListPlitViewSettings(true);
}

void KZResultItemsTypeCntrl::initializeSplitConstraints(bool sideBySide)
{
    previewPane_->setMinimumSize(sideBySide ? kPreviewMinimum : 0, sideBySide ? 0 : kPreviewMinimum);
}

void KZResultItemsTypeCntrl::setListPlitViewSettings(bool)
{
    const bool sideBySide = platform::UserDefaults::standard().boolForKey(KZDefaultsKey::list_splitView_is_vertical);
    listSplit_->setOrientation(sideBySide ? Qt::Horizontal : Qt::Vertical);
    initializeSplitConstraints(sideBySide);
    // Before the first layout the split's extent means nothing; the sizes
    // are worked out again at its first resize.
    listSizesPending_ = !listSplit_->isVisible();
    restoreListSizes();
}

void KZResultItemsTypeCntrl::restoreListSizes()
{
    const bool sideBySide = listSplit_->orientation() == Qt::Horizontal;
    const auto stored = KZSplitViewSettings::parseStored(platform::UserDefaults::standard().value(listSplitKey()));
    const int size = sideBySide ? listSplit_->width() : listSplit_->height();
    const int extent = size > 0 ? size : kUnlaidExtent;
    // Nothing stored (or nothing readable): the list takes three quarters.
    listSplit_->setSizes(KZSplitViewSettings::restoredSizes(stored, sideBySide, extent, listSplit_->handleWidth()));
    splitViewDidResize();
}

void KZResultItemsTypeCntrl::splitViewDidResize()
{
    const QList<int> sizes = listSplit_->sizes();
    const bool collapsed = sizes.size() > 1 && sizes[1] == 0;
    const void* outline = outlineView_;
    if (collapsed) {
        // Told on every resize while collapsed: the outline may have been
        // rebuilt meanwhile.
        collectionViewSplitIsCollapsed_ = true;
        center().post(KZNotification::splitViewDidCollapse, outline);
        listSplit_->setHandleWidth(kThickDivider);
        return;
    }
    if (!collectionViewSplitIsCollapsed_)
        return;
    collectionViewSplitIsCollapsed_ = false;
    center().post(KZNotification::splitViewDidUncollapse, outline);
    listSplit_->setHandleWidth(kThinDivider);
}

void KZResultItemsTypeCntrl::schedulePositions(QSplitter* split)
{
    // A drag moves the divider many times a second; the defaults file is
    // rewritten once it rests.
    QTimer* timer = split == sourcesSplit_ ? sourcesWrite_ : listWrite_;
    if (positionsWriteDelayMs <= 0) {
        writePositions(split);
        return;
    }
    timer->start(positionsWriteDelayMs);
}

void KZResultItemsTypeCntrl::writePositions(QSplitter* split)
{
    if (!split || split->count() < 2)
        return;
    const QList<int> sizes = split->sizes();
    const bool first = sizes[0] == 0;
    const bool second = sizes[1] == 0;
    const QVariantList value = KZSplitViewSettings::storedValue({upFrame(split, 0), first, second},
                                                                {upFrame(split, 1), second, first});
    platform::UserDefaults::standard().setValue(
        split == sourcesSplit_ ? KZDefaultsKey::main_splitview_settings : listSplitKey(), value);
}

void KZResultItemsTypeCntrl::savePendingPositions()
{
    if (sourcesWrite_ && sourcesWrite_->isActive()) {
        sourcesWrite_->stop();
        writePositions(sourcesSplit_);
    }
    if (listWrite_ && listWrite_->isActive()) {
        listWrite_->stop();
        writePositions(listSplit_);
    }
}

bool KZResultItemsTypeCntrl::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Resize && (watched == listSplit_ || watched == sourcesSplit_)) {
        if (watched == listSplit_ && listSizesPending_) {
            listSizesPending_ = false;
            restoreListSizes();
            return QObject::eventFilter(watched, event);
        }
        if (watched == listSplit_)
            splitViewDidResize();
        schedulePositions(static_cast<QSplitter*>(watched));
    }
    return QObject::eventFilter(watched, event);
}

// ---- The tab's face to the result controller -----------------------------------------------

QObject* KZResultItemsTypeCntrl::resultView() const
{
    return resultView_.data();
}

void KZResultItemsTypeCntrl::setResultViewHidden(bool hidden)
{
    if (hidden_ == hidden)
        return;
    hidden_ = hidden;
    if (resultView_)
        resultView_->setHidden(hidden);
    changeViewMenuItemsTarget(hidden);
    const void* view = resultView_.data();
    center().post(hidden ? KZNotification::superviewDidHide : KZNotification::superviewDidUnhide, view);
}

void KZResultItemsTypeCntrl::saveCurrentConfiguration(QVariantMap& request)
{
    if (foundListCntrl_)
        foundListCntrl_->saveCurrentConfiguration(request);
}

void KZResultItemsTypeCntrl::updateMarkedInfoWithDict(const KZMarkedInfoUpdate& info)
{
    platform::runOnMainAndWait([this, &info] {
        if (foundListCntrl_)
            foundListCntrl_->updateMarkedInfo(info);
        if (sourcesListCntrl_)
            sourcesListCntrl_->updateMarkedInfo(info);
    });
}

void KZResultItemsTypeCntrl::updateRemovedInfoWithDict(const KZViewToUpdateRef& info)
{
    platform::runOnMainAndWait([this, &info] {
        // The tab shows how many duplicates it holds: the removed ones leave
        // its figures as they leave its lists, and return with an undo,
        // which counts the other way.
        if (fileTypeItem_ && info) {
            {
                std::lock_guard guard(fileTypeItem_->fileTypeLabelLock());
                fileTypeItem_->setFilesCount(
                    KZResultSourcesTypeItem::moved(fileTypeItem_->filesCount(), info->managedCount(), false));
                fileTypeItem_->setSize(KZResultSourcesTypeItem::moved(fileTypeItem_->size(), info->size(), false));
            }
            if (KZResultTabStrip* strip = resultCntrl_ ? resultCntrl_->tabsView() : nullptr)
                if (auto* tab = qobject_cast<QWidget*>(strip->tabView(fileTypeTag_)))
                    tab->update();
        }
        if (foundListCntrl_)
            foundListCntrl_->updateRemovedInfo();
        if (sourcesListCntrl_)
            sourcesListCntrl_->updateRemovedInfo(info);
    });
}

void KZResultItemsTypeCntrl::updateFilesList(const std::shared_ptr<KZFoundItemsCntrl>& model)
{
    platform::runOnMainAndWait([this, &model] {
        if (foundListCntrl_)
            foundListCntrl_->updateFilesList(model);
    });
}

void KZResultItemsTypeCntrl::showMissingMembers(const KZGroupOptionRequest& info)
{
    if (foundListCntrl_)
        foundListCntrl_->showMissingMembers(info);
}

void KZResultItemsTypeCntrl::revealGroup(const KZGroupOptionRequest& info)
{
    if (sourcesListCntrl_)
        sourcesListCntrl_->selectRowWithTag(info.ownerTag.toULongLong(), info.senderTag.toULongLong());
    if (!foundListCntrl_)
        return;
    const QVariant row = info.groupItem;
    KZFoundItemRef item = row.value<KZFoundItemRef>();
    if (!item) {
        if (const auto group = row.value<KZFoundItemGroupRef>(); group && !group->items().isEmpty())
            item = group->items().first();
    }
    foundListCntrl_->revealGroup(item);
}

// ---- The tab's face to its list model -----------------------------------------------------

bool KZResultItemsTypeCntrl::isWindowVisible() const
{
    return resultView_ && resultView_->window()->isVisible();
}

QVariant KZResultItemsTypeCntrl::window() const
{
    return QVariant::fromValue<QObject*>(resultView_ ? resultView_->window() : nullptr);
}

void KZResultItemsTypeCntrl::makeResultViewFirstResponder()
{
    if (resultView_)
        resultView_->setFocus();
}

bool KZResultItemsTypeCntrl::aboutIsOpened() const
{
    return parts_.aboutIsOpened && parts_.aboutIsOpened();
}

void KZResultItemsTypeCntrl::beep()
{
    if (parts_.beep)
        parts_.beep();
    else
        QApplication::beep();
}

void KZResultItemsTypeCntrl::setSelectionInfo(const QString& text)
{
    if (parts_.setSelectionInfo)
        parts_.setSelectionInfo(text);
}

void KZResultItemsTypeCntrl::setRemoveButtonTitle(const QString& title)
{
    if (parts_.setRemoveButtonTitle)
        parts_.setRemoveButtonTitle(title);
}

void KZResultItemsTypeCntrl::startSpinner()
{
    if (spinning_)
        spinning_->show();
}

void KZResultItemsTypeCntrl::stopSpinner()
{
    if (spinning_)
        spinning_->hide();
}

QVariantList KZResultItemsTypeCntrl::viewsToDisable() const
{
    QVariantList views;
    for (const QSplitter* split : {listSplit_, sourcesSplit_}) {
        for (int i = 0; split && i < split->count(); ++i)
            views.append(QVariant::fromValue<QObject*>(split->widget(i)));
    }
    return views;
}

KZFoundListHost::Panel KZResultItemsTypeCntrl::openRemovalPanel(const QVariantMap& request)
{
    return parts_.openRemovalPanel ? parts_.openRemovalPanel(request) : nullptr;
}

KZFoundListHost::Panel KZResultItemsTypeCntrl::exportItems(const QVariantMap& request)
{
    return parts_.exportItems ? parts_.exportItems(request) : nullptr;
}
