#pragma once

#include "result/model/KZResultWindowHost.h"

#include <QObject>
#include <QVariantMap>

#include <memory>

class KZResultCntrl;

// Takes a finished search's result until a result window can show it: the
// result model is built from it (the found list moves into the model), with
// no tabs and no views. Main thread.
class KZResultModelHandOff : public KZResultWindowHost {
public:
    KZResultModelHandOff();
    ~KZResultModelHandOff() override;

    // `info` is the result-info map of "searchDidTerminate".
    void initializeResultWithInfo(const QVariantMap& info);
    KZResultCntrl* resultCntrl() const { return resultCntrl_.get(); }

    // KZResultWindowHost
    QObject* window() const override;
    bool isWindowVisible() const override { return false; }
    KZResultTabStrip* tabsView() const override;
    void setCurrSelectedTabTag(quint64) override {}
    bool aboutIsOpened() const override { return false; }
    void beep() override {}
    std::unique_ptr<KZResultTabCntrl> createTabCntrl(const QVariantMap& info, KZResultCntrl& resultCntrl) override;
    void addResultView(KZResultTabCntrl&) override {}
    void removeResultView(KZResultTabCntrl&) override {}
    void askForDirectories(const QVariantMap& settings, DirectoriesAnswer answer) override;
    std::shared_ptr<KZResultSaving> createSaver() override { return nullptr; }
    std::vector<KZSourceItemRef> emptyFoldersSourcesWithFolders(const QVariantList& folders) override;
    std::shared_ptr<KZProgressControl> createProgressWithoutInterface() override;

private:
    class NoTabs;
    std::unique_ptr<QObject> windowObject_;
    std::unique_ptr<NoTabs> strip_;
    std::unique_ptr<KZResultCntrl> resultCntrl_;
};
