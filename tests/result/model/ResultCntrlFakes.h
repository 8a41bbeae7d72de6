#pragma once

// Stand-ins for the windows around a result controller: the window
// controller, its tab strip, the per-tab controllers and a progress
// controller without a window. They record what they are asked.

#include "engine/KZProgressControl.h"
#include "result/model/KZResultCntrl.h"
#include "result/model/KZResultSaving.h"
#include "result/model/KZResultTabCntrl.h"
#include "result/model/KZResultTabStrip.h"
#include "result/model/KZResultWindowHost.h"
#include "services/KZFilesUtilities.h"
#include "settings/KZFileTypeLabel.h"
#include "settings/KZTags.h"

#include <QObject>
#include <QVariantMap>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace resulttest {

class FakeTabStrip : public KZResultTabStrip {
public:
    // Tags the strip makes for a result (createTabsWithTabInfo), and the
    // tags it has now.
    std::vector<quint64> tagsToCreate;
    std::map<quint64, KZFileTypeLabelRef> tabs;
    std::map<quint64, std::unique_ptr<QObject>> views;
    quint64 selected = ~quint64(0);
    int emptyFoldersTabsMade = 0;

    void addTab(quint64 tag)
    {
        tabs[tag] = KZFileTypeLabel::create(tag);
        views[tag] = std::make_unique<QObject>();
    }
    std::map<quint64, KZFileTypeLabelRef> fileTypes() const override { return tabs; }
    QObject* tabView(quint64 tag) const override
    {
        const auto found = views.find(tag);
        return found == views.end() ? nullptr : found->second.get();
    }
    QList<quint64> allOrderedTabsKeys() const override
    {
        QList<quint64> keys;
        for (const auto& [tag, label] : tabs)
            keys.append(tag);
        return keys;
    }
    void selectTabWithTag(quint64 tag) override { selected = tag; }
    void createTabsWithTabInfo(const QVariantMap&) override
    {
        for (quint64 tag : tagsToCreate)
            addTab(tag);
    }
    void createEmptyFoldersTab(const QVariantMap&) override
    {
        ++emptyFoldersTabsMade;
        addTab(static_cast<quint64>(KZTag::emptyFolders));
    }
};

class FakeTabCntrl : public KZResultTabCntrl {
public:
    explicit FakeTabCntrl(QVariantMap info) : info(std::move(info)) {}

    QVariantMap info;
    QObject view;
    bool hidden = false;
    std::vector<QVariantMap> markedUpdates;
    std::vector<QVariantMap> removedUpdates;
    int filesListUpdates = 0;
    int configurationsSaved = 0;
    std::vector<QVariantMap> missingMembers;
    std::vector<QVariantMap> revealed;

    QObject* resultView() const override { return const_cast<QObject*>(&view); }
    bool isResultViewHidden() const override { return hidden; }
    void setResultViewHidden(bool value) override { hidden = value; }
    void saveCurrentConfiguration(QVariantMap&) override { ++configurationsSaved; }
    void updateMarkedInfoWithDict(const QVariantMap& update) override { markedUpdates.push_back(update); }
    void updateRemovedInfoWithDict(const QVariantMap& update) override { removedUpdates.push_back(update); }
    void updateFilesList(const std::shared_ptr<KZFoundItemsCntrl>&) override { ++filesListUpdates; }
    void showMissingMembers(const QVariantMap& request) override { missingMembers.push_back(request); }
    void revealGroup(const QVariantMap& request) override { revealed.push_back(request); }
};

class FakeSaver : public KZResultSaving {
public:
    QVariantMap request;
    void saveItemsWithDict(const QVariantMap& r) override { request = r; }
};

class SilentProgress : public KZProgressControl {
public:
    bool wasStopped() const override { return false; }
    void prepareToSearch(const QVariantMap&) override {}
    void prepareToSearchForFoldersContent() override {}
    void allowsShowResult() override {}
    void setFoundSize(quint64) override {}
    void setFoundCount(quint64) override {}
    void setCheckedCount(quint64) override {}
    void setItemsToCheckCount(quint64) override {}
    void setFoundItemFileType(const KZSearchItemInfo&) override {}
    void setMainInfoTitle(const QString&) override {}
    void setIsSearching(bool) override {}
    void showDeterminateProgress() override {}
    void showFolderView(bool) override {}
    void initializeFoldersProgressWithTotValue(quint64) override {}
    void setFolderSizeValue(quint64) override {}
    void addCurrFoldersValue(quint64) override {}
};

class FakeHost : public KZResultWindowHost {
public:
    QObject windowObject;
    FakeTabStrip strip;
    bool visible = true;
    bool aboutOpen = false;
    int beeps = 0;
    quint64 currentTab = ~quint64(0);
    std::map<quint64, FakeTabCntrl*> made; // every tab controller made, by tag (latest)
    std::vector<quint64> viewsAdded;
    std::vector<quint64> viewsRemoved;
    std::vector<QVariantMap> chooserSettings;
    DirectoriesAnswer pendingAnswer;
    std::shared_ptr<FakeSaver> saver = std::make_shared<FakeSaver>();
    QVariantList foldersAskedFor;

    QObject* window() const override { return const_cast<QObject*>(&windowObject); }
    bool isWindowVisible() const override { return visible; }
    KZResultTabStrip* tabsView() const override { return const_cast<FakeTabStrip*>(&strip); }
    void setCurrSelectedTabTag(quint64 tag) override { currentTab = tag; }
    bool aboutIsOpened() const override { return aboutOpen; }
    void beep() override { ++beeps; }
    std::unique_ptr<KZResultTabCntrl> createTabCntrl(const QVariantMap& info, KZResultCntrl&) override
    {
        auto cntrl = std::make_unique<FakeTabCntrl>(info);
        made[info.value(QStringLiteral("tag")).toULongLong()] = cntrl.get();
        return cntrl;
    }
    void addResultView(KZResultTabCntrl& tab) override
    {
        viewsAdded.push_back(static_cast<FakeTabCntrl&>(tab).info.value(QStringLiteral("tag")).toULongLong());
    }
    void removeResultView(KZResultTabCntrl& tab) override
    {
        viewsRemoved.push_back(static_cast<FakeTabCntrl&>(tab).info.value(QStringLiteral("tag")).toULongLong());
    }
    void askForDirectories(const QVariantMap& settings, DirectoriesAnswer answer) override
    {
        chooserSettings.push_back(settings);
        pendingAnswer = std::move(answer);
    }
    std::shared_ptr<KZResultSaving> createSaver() override { return saver; }
    std::vector<KZSourceItemRef> emptyFoldersSourcesWithFolders(const QVariantList& folders) override
    {
        foldersAskedFor = folders;
        std::vector<KZSourceItemRef> sources;
        for (const QVariant& entry : folders) {
            const QVariantMap folder = entry.toMap();
            const auto path = folder.value(QStringLiteral("url")).value<std::filesystem::path>();
            if (KZFilesUtilities::sharedControl().pathWithURL(path).empty())
                continue;
            auto source = KZSourceItem::create({{QStringLiteral("url"), QVariant::fromValue(path)}});
            source->setLocationLabelTag(static_cast<qint16>(folder.value(QStringLiteral("locationLabelTag")).toInt()));
            sources.push_back(source);
        }
        return sources;
    }
    std::shared_ptr<KZProgressControl> createProgressWithoutInterface() override
    {
        return std::make_shared<SilentProgress>();
    }
};

} // namespace resulttest
