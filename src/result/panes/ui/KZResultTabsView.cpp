#include "result/panes/ui/KZResultTabsView.h"

#include "platform/MainThread.h"
#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"
#include "result/panes/KZResultTabsDelegate.h"
#include "result/panes/KZTabStripLogic.h"
#include "result/panes/ui/KZResultBarItemView.h"
#include "result/panes/ui/KZResultTabItemView.h"
#include "services/KZErrorDelegate.h"
#include "settings/KZDefaultsKeys.h"
#include "settings/KZNotificationNames.h"
#include "settings/KZTags.h"

#include <QAction>
#include <QEvent>
#include <QMenu>

#include <cmath>

namespace Logic = KZTabStripLogic;

namespace {

const QString kTag = QStringLiteral("tag");
const QString kFoundFileTypes = QStringLiteral("KZResultFoundFileTypes");
const QString kFoundItemsCount = QStringLiteral("KZResultFoundItemsCount");
const QString kFoundItemsSize = QStringLiteral("KZResultFoundItemsSize");
const QString kSearchedForDeads = QStringLiteral("KZResultSearchedForDeads");
const QString kFoundDeadsCount = QStringLiteral("KZResultFoundDeadsCount");

platform::NotificationCenter& center()
{
    return platform::NotificationCenter::defaultCenter();
}

quint64 tagOf(const QVariantMap& userInfo)
{
    return userInfo.value(kTag).toULongLong();
}

} // namespace

KZResultTabsView::KZResultTabsView(KZResultTabsDelegate* delegate, QWidget* parent)
    : QWidget(parent),
      delegate_(delegate),
      notificationObject_(delegate && delegate->notificationObject() ? delegate->notificationObject()
                                                                     : static_cast<const void*>(this)),
      hBarArea_(new QWidget),
      vBarArea_(new QWidget)
{
    setObjectName(QStringLiteral("resultTabsView"));
    setFixedHeight(int(Logic::kTabTop + Logic::kTabHeight));
    setMinimumWidth(int(Logic::kMinSelfWidth));
    hBarArea_->setObjectName(QStringLiteral("resultTabsHorizontalBars"));
    hBarArea_->setFixedHeight(int(KZResultBarItemView::kHorizontalHeight));
    hBarArea_->installEventFilter(this);
    vBarArea_->setObjectName(QStringLiteral("resultTabsVerticalBars"));
    vBarArea_->setFixedWidth(int(KZResultBarItemView::kVerticalWidth + 2));
    vBarArea_->installEventFilter(this);

    QPointer<KZResultTabsView> self(this);
    selectionObservation_ = center().addObserver(KZNotification::updateTabSelection, notificationObject_,
                                                 [self](const platform::Notification& note) {
                                                     if (self)
                                                         self->updateTabSelection(tagOf(note.userInfo));
                                                 });
    removeObservation_ =
        center().addObserver(KZNotification::removeTab, notificationObject_, [self](const platform::Notification& note) {
            if (self)
                self->removeUserDeletedTab(false, tagOf(note.userInfo));
        });

    fileTypeLabels_ = platform::UserDefaults::standard().arrayForKey(KZDefaultsKey::file_type_labels);
    // The preferences may write the labels from any thread.
    labelsObservation_ =
        platform::UserDefaults::standard().observe(KZDefaultsKey::file_type_labels, [self](const QVariant&) {
            platform::runOnMain([self] {
                if (self)
                    self->labelsDidChange();
            });
        });
}

KZResultTabsView::~KZResultTabsView()
{
    selectionObservation_.cancel();
    removeObservation_.cancel();
    labelsObservation_.cancel();
    for (auto& [tag, items] : tabs_) {
        delete items.horizontalBar;
        delete items.verticalBar;
    }
    // The bar areas belong to the window once it has placed them.
    if (!hBarArea_->parent())
        delete hBarArea_;
    if (!vBarArea_->parent())
        delete vBarArea_;
}

std::vector<quint64> KZResultTabsView::orderedTags() const
{
    std::vector<quint64> tags;
    for (const auto& [tag, items] : tabs_)
        tags.push_back(tag);
    return tags;
}

QList<quint64> KZResultTabsView::allOrderedTabsKeys() const
{
    QList<quint64> keys;
    for (const quint64 tag : orderedTags())
        keys.append(tag);
    return keys;
}

QObject* KZResultTabsView::tabView(quint64 tag) const
{
    return tab(tag);
}

KZResultTabItemView* KZResultTabsView::tab(quint64 tag) const
{
    const auto found = tabs_.find(tag);
    return found == tabs_.end() ? nullptr : found->second.tab.data();
}

KZResultBarItemView* KZResultTabsView::horizontalBar(quint64 tag) const
{
    const auto found = tabs_.find(tag);
    return found == tabs_.end() ? nullptr : found->second.horizontalBar.data();
}

KZResultBarItemView* KZResultTabsView::verticalBar(quint64 tag) const
{
    const auto found = tabs_.find(tag);
    return found == tabs_.end() ? nullptr : found->second.verticalBar.data();
}

std::optional<quint64> KZResultTabsView::selectedTag() const
{
    for (const auto& [tag, items] : tabs_) {
        if (items.tab && items.tab->isSelected())
            return tag;
    }
    return std::nullopt;
}

double KZResultTabsView::minWidth() const
{
    return Logic::minWidth(Logic::kMinSelfWidth, tabs_.size());
}

// ---- Building --------------------------------------------------------------------------

KZFileTypeLabelRef KZResultTabsView::fileTypeWithTag(quint64 tag, quint64 filesCount, quint64 size)
{
    KZFileTypeLabelRef label = KZFileTypeLabel::create(tag);
    label->setFilesCount(filesCount);
    label->setSize(size);
    return label;
}

void KZResultTabsView::createTabsWithTabInfo(const QVariantMap& tabInfo)
{
    // Tabs of an earlier call show labels that are about to go.
    for (auto& [tag, items] : tabs_) {
        delete items.tab;
        delete items.horizontalBar;
        delete items.verticalBar;
    }
    tabs_.clear();
    fileTypes_.clear();
    const QVariantMap found = tabInfo.value(kFoundFileTypes).toMap();
    if (found.size() < 2) {
        for (const QVariant& value : found) {
            if (const auto label = value.value<KZFileTypeLabelRef>())
                label->setShowSingleName(true);
        }
    } else {
        fileTypes_[quint64(KZTag::allDuplicates)] =
            fileTypeWithTag(quint64(KZTag::allDuplicates), tabInfo.value(kFoundItemsCount).toULongLong(),
                            tabInfo.value(kFoundItemsSize).toULongLong());
    }
    for (auto it = found.begin(); it != found.end(); ++it) {
        if (const auto label = it.value().value<KZFileTypeLabelRef>())
            fileTypes_[label->tag()] = label;
    }
    if (tabInfo.value(kSearchedForDeads).toBool()) {
        fileTypes_[quint64(KZTag::missingTracks)] =
            fileTypeWithTag(quint64(KZTag::missingTracks), tabInfo.value(kFoundDeadsCount).toULongLong(), 0);
    }
    createTabs();
}

void KZResultTabsView::createTabs()
{
    bool first = true;
    for (const auto& [tag, label] : fileTypes_) {
        if (first)
            label->setCanBeRemoved(false);
        first = false;
        if (!tabs_.count(tag))
            createTabWithTag(tag);
    }
    for (const auto& [tag, label] : fileTypes_)
        createBarsWithTag(tag);
    rebuildRow();
}

void KZResultTabsView::createEmptyFoldersTab(const QVariantMap& tabInfo)
{
    const quint64 tag = quint64(KZTag::emptyFolders);
    // A second delivery refreshes the counts of the tab already there.
    if (const auto existing = fileTypes_.find(tag); existing != fileTypes_.end() && tabs_.count(tag)) {
        existing->second->setFilesCount(tabInfo.value(kFoundItemsCount).toULongLong());
        return;
    }
    fileTypes_[tag] = fileTypeWithTag(tag, tabInfo.value(kFoundItemsCount).toULongLong(), 0);
    createTabWithTag(tag);
    createBarsWithTag(tag);
    rebuildRow();
}

void KZResultTabsView::createTabWithTag(quint64 tag)
{
    const auto label = fileTypes_.at(tag);
    const int w = int(Logic::minWidth(Logic::kMinSelfWidth, fileTypes_.size()));
    auto* tabView = new KZResultTabItemView(QRect(0, 0, w, int(Logic::kTabHeight)), label, delegate_, this);
    tabView->setObjectName(QStringLiteral("resultTab%1").arg(tag));
    tabView->show();
    tabs_[tag].tab = tabView;
}

void KZResultTabsView::createBarsWithTag(quint64 tag)
{
    KZResultTabItems& items = tabs_[tag];
    if (items.horizontalBar)
        return;
    const auto label = fileTypes_.at(tag);
    items.horizontalBar = new KZResultBarItemView(hBarArea_->rect(), label, false, hBarArea_);
    items.horizontalBar->setTab(items.tab);
    items.verticalBar = new KZResultBarItemView(vBarArea_->rect(), label, true, vBarArea_);
    const bool selected = items.tab && items.tab->isSelected();
    items.horizontalBar->setSelected(selected);
    items.verticalBar->setSelected(selected);
}

void KZResultTabsView::rebuildRow()
{
    const std::vector<quint64> tags = orderedTags();
    const Logic::Row row = Logic::rowLayout(tags);
    double needed = row.trailing;
    for (const double gap : row.gapsBefore)
        needed += gap + row.minTabWidth;
    setMinimumWidth(std::max(int(Logic::kMinSelfWidth), int(std::ceil(needed))));
    layoutRow();
}

// Every tab as wide as the first, the row spread over the strip's width; a
// layout would hand the odd pixels to some tabs only.
void KZResultTabsView::layoutRow()
{
    const std::vector<quint64> tags = orderedTags();
    if (tags.empty())
        return;
    const Logic::Row row = Logic::rowLayout(tags);
    double gaps = row.trailing;
    for (const double gap : row.gapsBefore)
        gaps += gap;
    const int tabWidth = std::max(row.minTabWidth, int((width() - gaps) / double(tags.size())));
    double x = 0;
    for (std::size_t i = 0; i < tags.size(); ++i) {
        x += row.gapsBefore[i];
        if (KZResultTabItemView* tabView = tabs_[tags[i]].tab) {
            tabView->setMinimumWidth(row.minTabWidth);
            tabView->setGeometry(int(x), int(Logic::kTabTop), tabWidth, int(Logic::kTabHeight));
        }
        x += tabWidth;
    }
    placeBars();
}

void KZResultTabsView::placeBars()
{
    const double margin = std::max(0, hBarArea_->width() - width());
    for (auto& [tag, items] : tabs_) {
        if (items.horizontalBar) {
            items.horizontalBar->setGeometry(hBarArea_->rect());
            items.horizontalBar->setRightMargin(margin);
            items.horizontalBar->update();
        }
        if (items.verticalBar)
            items.verticalBar->setGeometry(vBarArea_->rect());
    }
}

void KZResultTabsView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    layoutRow();
}

bool KZResultTabsView::eventFilter(QObject* watched, QEvent* event)
{
    if ((watched == hBarArea_ || watched == vBarArea_)
        && (event->type() == QEvent::Resize || event->type() == QEvent::Move))
        placeBars();
    return QWidget::eventFilter(watched, event);
}

// ---- Selection -------------------------------------------------------------------------

void KZResultTabsView::selectTabWithTag(quint64 tag)
{
    center().post(KZNotification::updateTabSelection, notificationObject_, {{kTag, QVariant::fromValue(tag)}});
}

void KZResultTabsView::updateTabSelection(quint64 requested)
{
    const quint64 tag = Logic::resolveSelection(orderedTags(), requested);
    for (auto& [key, items] : tabs_) {
        const bool selected = key == tag;
        if (items.tab)
            items.tab->setSelected(selected);
        if (items.horizontalBar)
            items.horizontalBar->setSelected(selected);
        if (items.verticalBar)
            items.verticalBar->setSelected(selected);
    }
    updateCycleAction();
    center().post(KZNotification::showViewWithSelection, notificationObject_, {{kTag, QVariant::fromValue(tag)}});
}

bool KZResultTabsView::canCycleTabs() const
{
    if (delegate_ && (delegate_->aboutIsOpened() || delegate_->isRemoving()))
        return false;
    const bool visible = delegate_ ? delegate_->isWindowVisible() : isVisible();
    return visible && tabs_.size() > 1;
}

void KZResultTabsView::cycleTabs()
{
    if (!canCycleTabs())
        return;
    const auto next = Logic::nextForCycle(orderedTags(), selectedTag());
    if (!next)
        return;
    if (KZResultTabItemView* tabView = tab(*next))
        tabView->manageSpinner();
    selectTabWithTag(*next);
}

void KZResultTabsView::installCycleAction(QAction* action)
{
    cycleAction_ = action;
    if (!action)
        return;
    connect(action, &QAction::triggered, this, [this] { cycleTabs(); });
    for (QObject* widget : action->associatedObjects()) {
        if (auto* menu = qobject_cast<QMenu*>(widget))
            connect(menu, &QMenu::aboutToShow, this, [this] { updateCycleAction(); });
    }
    updateCycleAction();
}

void KZResultTabsView::updateCycleAction()
{
    if (cycleAction_)
        cycleAction_->setEnabled(canCycleTabs());
}

// ---- Labels added and removed ------------------------------------------------------------

void KZResultTabsView::labelsDidChange()
{
    if (handlingLabels_) {
        labelsChangedAgain_ = true;
        return;
    }
    handlingLabels_ = true;
    do {
        labelsChangedAgain_ = false;
        const QVariantList labels = platform::UserDefaults::standard().arrayForKey(KZDefaultsKey::file_type_labels);
        if (labels.size() > fileTypeLabels_.size()) {
            createUserAddedTabs(labels);
            fileTypeLabels_ = labels;
        } else if (labels.size() < fileTypeLabels_.size()) {
            // Stored first: whatever the answer, the same deletion is not asked
            // about again.
            const QVariantList old = fileTypeLabels_;
            fileTypeLabels_ = labels;
            if (const auto tag = Logic::removedTab(orderedTags(), labels, old))
                removeUserDeletedTab(true, *tag);
        }
    } while (labelsChangedAgain_);
    handlingLabels_ = false;
}

void KZResultTabsView::createUserAddedTabs(const QVariantList& labels)
{
    if (tabs_.empty())
        return; // no result on the strip yet
    const std::vector<quint64> added = Logic::addedTabs(labels, orderedTags(), fileTypeLabels_);
    for (const quint64 tag : added)
        fileTypes_[tag] = fileTypeWithTag(tag, 0, 0);
    for (const quint64 tag : added) {
        createTabWithTag(tag);
        createBarsWithTag(tag);
        center().post(KZNotification::createNewAddedFileType, notificationObject_,
                      {{kTag, QVariant::fromValue(tag)},
                       {QStringLiteral("fileType"), QVariant::fromValue(fileTypes_.at(tag))},
                       {QStringLiteral("tab"), QVariant::fromValue(static_cast<QObject*>(tab(tag)))}});
    }
    if (!added.empty())
        rebuildRow();
}

void KZResultTabsView::removeUserDeletedTab(bool labelDeleted, quint64 tag)
{
    if (delegate_ && delegate_->isRemoving())
        return;
    // The last tab is never taken away.
    if (!tabs_.count(tag) || tabs_.size() < 2)
        return;
    const QString question = labelDeleted ? KZDefaultsKey::remove_user_deleted_tab_from_preferences
                                     : KZDefaultsKey::remove_user_deleted_tab;
    const qint64 answer = KZErrorDelegate::sharedControl().askToTheUserWithView(
        question, {}, {}, QStringLiteral("remove_button"), QStringLiteral("dont_remove_button"), {}, question, false);
    if (answer == KZErrorDelegate::FirstButton)
        removeTabWithTag(tag);
}

void KZResultTabsView::removeTabWithTag(quint64 tag)
{
    const auto found = tabs_.find(tag);
    if (found == tabs_.end())
        return;
    if (const auto next = Logic::selectionAfterRemoval(orderedTags(), tag, selectedTag()))
        selectTabWithTag(*next);

    const KZResultTabItems items = found->second;
    tabs_.erase(found);
    for (QWidget* view : {static_cast<QWidget*>(items.tab.data()), static_cast<QWidget*>(items.horizontalBar.data()),
                          static_cast<QWidget*>(items.verticalBar.data())}) {
        if (view) {
            view->hide();
            view->deleteLater();
        }
    }
    quint64 size = 0;
    if (const auto label = fileTypes_.find(tag); label != fileTypes_.end()) {
        size = label->second->size();
        fileTypes_.erase(label);
    }
    rebuildRow();
    updateCycleAction();
    center().post(KZNotification::removeFileTypeLabel, platform::bundleIdentifier(),
                  {{kTag, QVariant::fromValue(tag)}, {QStringLiteral("size"), QVariant::fromValue(size)}});
    center().post(KZNotification::deleteRemovedFiletype, notificationObject_, {{kTag, QVariant::fromValue(tag)}});
}
