#pragma once

// Stand-ins for the windows around a result controller: the window
// controller, its tab strip, the per-tab controllers and a progress
// controller without a window. They record what they are asked.

#include "engine/KZNullProgress.h"
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

#include <map>
#include <memory>
#include <vector>

namespace resulttest {

class FakeTabStrip : public KZResultTabStrip {
public:
    std::vector<quint64> tagsToCreate; // by createTabsWithTabInfo
    std::map<quint64, KZFileTypeLabelRef> tabs;
    std::map<quint64, std::unique_ptr<QObject>> views;
    int emptyFoldersTabsMade = 0;

    void addTab(quint64 tag)
    {
        tabs[tag] = KZFileTypeLabel::create(tag);
        views[tag] = std::make_unique<QObject>();
    }
    std::map<quint64, KZFileTypeLabelRef> fileTypes() const override { return tabs; }
    QObject* tabView(quint64 tag) const override { return views.count(tag) ? views.at(tag).get() : nullptr; }
    QList<quint64> allOrderedTabsKeys() const override
    {
        QList<quint64> keys;
        for (const auto& [tag, label] : tabs)
            keys.append(tag);
        return keys;
    }
    void selectTabWithTag(quint64) override {}
    std::vector<quint64> removedTabs;
    void removeTabWithTag(quint64 tag) override
    {
        removedTabs.push_back(tag);
        tabs.erase(tag);
        views.erase(tag);
    }
    void createTabsWithTabInfo(const QVariantMap&) override
    {
        for (quint64 tag : tagsToCreate)
            addTab(tag);
    }
    void createEmptyFoldersTab(const QVariantMap&) override
    {
        ++emptyFoldersTabsMade;
        addTab(KZTag::emptyFolders);
    }
};

class FakeTabCntrl : public KZResultTabCntrl {
public:
    explicit FakeTabCntrl(QVariantMap tabInfo) : info(std::move(tabInfo)) {}

    QVariantMap info;
    QObject view;
    bool hidden = false;
    std::vector<KZMarkedInfoUpdate> markedUpdates;
    std::vector<KZViewToUpdateRef> removedUpdates;
    int filesListUpdates = 0;
    int configurationsSaved = 0;

    QObject* resultView() const override { return const_cast<QObject*>(&view); }
    bool isResultViewHidden() const override { return hidden; }
    void setResultViewHidden(bool value) override { hidden = value; }
    void saveCurrentConfiguration(QVariantMap&) override { ++configurationsSaved; }
    void updateMarkedInfoWithDict(const KZMarkedInfoUpdate& update) override { markedUpdates.push_back(update); }
    void updateRemovedInfoWithDict(const KZViewToUpdateRef& update) override { removedUpdates.push_back(update); }
    void updateFilesList(const std::shared_ptr<KZFoundItemsCntrl>&) override { ++filesListUpdates; }
    void showMissingMembers(const KZGroupOptionRequest&) override {}
    void revealGroup(const KZGroupOptionRequest&) override {}
    quint64 tag() const { return info.value(QStringLiteral("tag")).toULongLong(); }
};

class FakeSaver : public KZResultSaving {
public:
    QVariantMap request;
    void saveItemsWithDict(const QVariantMap& r) override { request = r; }
};

using SilentProgress = KZNullProgress;

class FakeHost : public KZResultWindowHost {
public:
    QObject windowObject;
    FakeTabStrip strip;
    bool visible = true;
    bool aboutOpen = false;
    int beeps = 0;
    quint64 currentTab = ~quint64(0);
    std::map<quint64, FakeTabCntrl*> made; // the latest tab controller made for each tag
    std::vector<quint64> viewsAdded;
    std::vector<quint64> viewsRemoved;
    std::vector<QVariantMap> chooserSettings;
    DirectoriesAnswer pendingAnswer;
    std::shared_ptr<FakeSaver> saver = std::make_shared<FakeSaver>();

    QObject* window() const override { return const_cast<QObject*>(&windowObject); }
    bool isWindowVisible() const override { return visible; }
    KZResultTabStrip* tabsView() const override { return const_cast<FakeTabStrip*>(&strip); }
    void setCurrSelectedTabTag(quint64 tag) override { currentTab = tag; }
    bool aboutIsOpened() const override { return aboutOpen; }
    void beep() override { ++beeps; }
    std::unique_ptr<KZResultTabCntrl> createTabCntrl(const QVariantMap& info, KZResultCntrl&) override
    {
        auto cntrl = std::make_unique<FakeTabCntrl>(info);
        made[cntrl->tag()] = cntrl.get();
        return cntrl;
    }
    void addResultView(KZResultTabCntrl& tab) override { viewsAdded.push_back(static_cast<FakeTabCntrl&>(tab).tag()); }
    void removeResultView(KZResultTabCntrl& tab) override
    {
        viewsRemoved.push_back(static_cast<FakeTabCntrl&>(tab).tag());
    }
    void askForDirectories(const QVariantMap& settings, DirectoriesAnswer answer) override
    {
        chooserSettings.push_back(settings);
        pendingAnswer = std::move(answer);
    }
    std::shared_ptr<KZResultSaving> createSaver() override { return saver; }
    std::vector<KZSourceItemRef> emptyFoldersSourcesWithFolders(const QVariantList& folders) override
    {
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
