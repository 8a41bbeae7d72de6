#include "app/search/KZResultModelHandOff.h"

#include "app/search/KZSourcesCntrl.h"
#include "engine/KZNullProgress.h"
#include "engine/KZResultInfoKeys.h"
#include "platform/Log.h"
#include "result/model/KZResultCntrl.h"
#include "result/model/KZResultTabCntrl.h"
#include "result/model/KZResultTabStrip.h"

class KZResultModelHandOff::NoTabs : public KZResultTabStrip {
public:
    std::map<quint64, KZFileTypeLabelRef> fileTypes() const override { return {}; }
    QObject* tabView(quint64) const override { return nullptr; }
    QList<quint64> allOrderedTabsKeys() const override { return {}; }
    void selectTabWithTag(quint64) override {}
    void removeTabWithTag(quint64) override {}
    void createTabsWithTabInfo(const QVariantMap&) override {}
    void createEmptyFoldersTab(const QVariantMap&) override {}
};

KZResultModelHandOff::KZResultModelHandOff()
    : windowObject_(std::make_unique<QObject>()), strip_(std::make_unique<NoTabs>())
{
}

KZResultModelHandOff::~KZResultModelHandOff()
{
    resultCntrl_.reset();
}

void KZResultModelHandOff::initializeResultWithInfo(const QVariantMap& info)
{
    platform::logLine(QStringLiteral("search found %1 items (%2 bytes); no result window yet, the result goes to the "
                                     "result model only")
                          .arg(info.value(KZResultKey::foundItemsCount).toULongLong())
                          .arg(info.value(KZResultKey::foundItemsSize).toULongLong()));
    resultCntrl_.reset();
    resultCntrl_ = std::make_unique<KZResultCntrl>(info, this);
}

QObject* KZResultModelHandOff::window() const
{
    return windowObject_.get();
}

KZResultTabStrip* KZResultModelHandOff::tabsView() const
{
    return strip_.get();
}

std::unique_ptr<KZResultTabCntrl> KZResultModelHandOff::createTabCntrl(const QVariantMap&, KZResultCntrl&)
{
    return nullptr; // no tabs are ever made here
}

void KZResultModelHandOff::askForDirectories(const QVariantMap& settings, DirectoriesAnswer answer)
{
    if (answer)
        answer(0, settings.value(QStringLiteral("userInfo")).toMap());
}

std::vector<KZSourceItemRef> KZResultModelHandOff::emptyFoldersSourcesWithFolders(const QVariantList& folders)
{
    return KZSourcesCntrl::sharedControl().emptyFoldersSourcesWithFolders(folders);
}

std::shared_ptr<KZProgressControl> KZResultModelHandOff::createProgressWithoutInterface()
{
    return std::make_shared<KZNullProgress>();
}
