#pragma once

// Recording stand-ins for what surrounds a tab's list model: its outline,
// the views and menus of its tab, and the alert presenter.

#include "result/model/KZFoundListCntrl.h"
#include "result/model/KZFoundListHost.h"
#include "result/model/KZListOutline.h"
#include "platform/MainThread.h"
#include "services/KZAlertPresenter.h"

#include <QObject>
#include <QStringList>

#include <atomic>
#include <map>
#include <vector>

namespace listtest {

struct OutlineLog {
    std::vector<KZListHandOff> handOffs;
    std::vector<quint64> itemsCounts;
    std::vector<bool> gatheringKind;
    std::vector<KZListRow> selected;
    std::vector<bool> expanded;
    std::vector<std::pair<KZFoundItemGroupRef, qsizetype>> rowsUpdated;
    std::map<quint64, QList<KZListRow>> selectedByTags;
    int afterMarked = 0;
    int selectionResets = 0;
    int savedSelections = 0;
    // Calls that came from another thread than the main one: the outline
    // draws, so every one of them would be a fault.
    std::atomic<int> offMainCalls{0};
};

class FakeOutline : public KZListOutline {
public:
    explicit FakeOutline(OutlineLog* log, KZSortDescriptors descriptors = {})
        : log_(log), descriptors_(std::move(descriptors)) {}

    void showNewData(const KZListHandOff& data) override
    {
        check();
        log_->handOffs.push_back(data);
    }
    void setItemsCount(quint64 count) override
    {
        check();
        log_->itemsCounts.push_back(count);
    }
    void setSearchStoppeByUser(bool) override {}
    KZSortDescriptors sortDescriptors() const override
    {
        check();
        return descriptors_;
    }
    void setSortDescriptors(const KZSortDescriptors& descriptors) override { descriptors_ = descriptors; }
    void setCurrSelectedTag(quint64) override {}
    void setupShowByGroup(bool) override {}
    void setEmptyPreview() override {}
    void expandAllGroups(bool expand) override { log_->expanded.push_back(expand); }
    void setIsGatheringKind(bool gathering) override
    {
        check();
        log_->gatheringKind.push_back(gathering);
    }
    void selectFoundItem(const KZListRow& row) override
    {
        check();
        log_->selected.push_back(row);
    }
    void updateListAfterMarked() override
    {
        check();
        ++log_->afterMarked;
    }
    void updateRowsForGroup(const KZFoundItemGroupRef& group, qsizetype old) override
    {
        log_->rowsUpdated.emplace_back(group, old);
    }
    void revealGroup(const KZFoundItemGroupRef&) override {}
    void saveLastVisbleItem() override {}
    void updateQuickLookPanelDelegate() override {}
    void changeMenuItemsTarget(bool) override {}
    void getInfoOfSelectedItemsWithArray(const KZShownList&, quint64) override { ++log_->savedSelections; }
    void setSelectedItemsByTags(const std::map<quint64, QList<KZListRow>>& rows) override
    {
        log_->selectedByTags = rows;
    }
    void resetSelectionState() override { ++log_->selectionResets; }
    bool checkForSelectionWithTag(qint64) const override { return hasSelection; }
    QString markedMenuItemTitle() const override { return QStringLiteral("Mark"); }
    QVariant removalCoverView() const override { return QStringLiteral("cover"); }
    QVariantList tableColumns() const override { return {QStringLiteral("name_col"), QStringLiteral("size_col")}; }

    bool hasSelection = false;

private:
    void check() const
    {
        if (!platform::isMainThread())
            ++log_->offMainCalls;
    }

    OutlineLog* log_;
    KZSortDescriptors descriptors_;
};

class FakeMenu : public KZResultMenu {
public:
    std::map<qint64, std::function<void()>> actions;
    std::map<qint64, QString> titles;
    void setItemAction(qint64 tag, std::function<void()> action) override { actions[tag] = std::move(action); }
    void setItemTitle(qint64 tag, const QString& title) override { titles[tag] = title; }
};

class FakeListHost : public KZFoundListHost {
public:
    QObject view;
    bool hidden = false;
    bool windowVisible = true;
    bool aboutOpen = false;
    int beeps = 0;
    int spinnerStarts = 0;
    int spinnerStops = 0;
    int firstResponder = 0;
    QString removeTitle;
    FakeMenu menu;
    std::vector<QVariantMap> removalRequests;
    std::vector<QVariantMap> exportRequests;

    QObject* resultView() const override { return const_cast<QObject*>(&view); }
    bool isResultViewHidden() const override { return hidden; }
    bool isWindowVisible() const override { return windowVisible; }
    QVariant window() const override { return QStringLiteral("window"); }
    void makeResultViewFirstResponder() override { ++firstResponder; }
    bool aboutIsOpened() const override { return aboutOpen; }
    void beep() override { ++beeps; }
    void setSelectionInfo(const QString&) override {}
    void setRemoveButtonTitle(const QString& title) override { removeTitle = title; }
    void startSpinner() override { ++spinnerStarts; }
    void stopSpinner() override { ++spinnerStops; }
    KZResultMenu* resultMenu() override { return &menu; }
    QVariantList viewsToDisable() const override { return {}; }
    Panel openRemovalPanel(const QVariantMap& request) override
    {
        removalRequests.push_back(request);
        return std::make_shared<int>(1);
    }
    Panel exportItems(const QVariantMap& request) override
    {
        exportRequests.push_back(request);
        return std::make_shared<int>(2);
    }
};

// Answers every alert with the first button; ticks the suppression box when
// asked to.
class ScriptedPresenter : public KZAlertPresenter {
public:
    bool tickSuppression = false;
    QStringList shown;
    Answer runModal(const Alert& alert) override
    {
        shown << alert.messageText;
        return Answer{FirstButton, tickSuppression, false};
    }
    void beginSheet(const Alert& alert) override { shown << alert.messageText; }
};

} // namespace listtest
