#pragma once

#include "../../model/ResultCntrlFakes.h"
#include "TestSupport.h"

#include "engine/KZSearchController.h"
#include "engine/KZSearchItemInfo.h"
#include "platform/MainThread.h"
#include "platform/NotificationCenter.h"
#include "platform/OperationQueue.h"
#include "platform/UserDefaults.h"
#include "removal/ui/KZRemovePanelWidget.h"
#include "result/window/ui/KZResultWindowCntrl.h"
#include "settings/KZDefaultsKeys.h"
#include "settings/KZDefaultsRegistry.h"
#include "settings/KZFileTypeLabel.h"
#include "settings/KZNotificationNames.h"
#include "settings/KZSearchStuff.h"
#include "settings/KZSourceItem.h"

#include <filesystem>
#include <map>
#include <mutex>
#include <vector>

// A real search by size and content, run to its end, for the tests that
// open its result in the real window.
namespace realsearch {

// Counts the found items per file type, as the progress window does, so
// that the result has its tabs.
class TypedProgress : public resulttest::SilentProgress {
public:
    void setFoundItemFileType(const KZSearchItemInfo& item) override
    {
        std::lock_guard guard(lock_);
        auto& label = types_[item.fileTypeLabel()];
        if (!label)
            label = KZFileTypeLabel::create(item.fileTypeLabel());
        label->setFilesCount(label->filesCount() + 1);
        label->setSize(label->size() + item.totSize());
    }
    QVariantMap fileTypes() const override
    {
        std::lock_guard guard(lock_);
        QVariantMap types;
        for (const auto& [tag, label] : types_)
            types.insert(QString::number(tag), QVariant::fromValue(label));
        return types;
    }

private:
    mutable std::mutex lock_;
    std::map<quint64, KZFileTypeLabelRef> types_;
};

// The userInfo of "searchDidTerminate" for a search of `sources` (in order)
// by size and content.
inline QVariantMap searchFor(const std::vector<KZSourceItemRef>& sources)
{
    using namespace Qt::StringLiterals;
    auto stuff = KZSearchStuff::searchStuff();
    stuff->setSources(sources);
    stuff->setCriteria(QVariantMap{{u"isSize"_s, true},
                                   {u"sizeStruct"_s, QVariantMap{{u"isSame"_s, true}}},
                                   {u"isContent"_s, true},
                                   {u"contentStruct"_s, QVariantMap{{u"isData"_s, true}}}});
    static int sender = 0;
    std::mutex lock;
    QVariantMap info;
    kztest::Gate done;
    platform::Subscription subscription = platform::NotificationCenter::defaultCenter().addObserver(
        KZNotification::searchDidTerminate, platform::NotificationObject(&sender),
        [&](const platform::Notification& note) {
            std::lock_guard guard(lock);
            info = info.isEmpty() ? note.userInfo : info;
            done.open();
        });
    KZSearchController::create(stuff, &sender, std::make_shared<TypedProgress>())->startToSearch();
    done.wait(std::chrono::seconds(120));
    KZSearchOperationQueue().waitUntilAllOperationsAreFinished();
    std::lock_guard guard(lock);
    return info;
}

// The same with each of `folders` a source.
inline QVariantMap searchFor(const std::vector<std::filesystem::path>& folders)
{
    using namespace Qt::StringLiterals;
    std::vector<KZSourceItemRef> sources;
    for (const auto& folder : folders)
        sources.push_back(KZSourceItem::create({{u"url"_s, QVariant::fromValue(folder)}}));
    return searchFor(sources);
}

inline QVariantMap searchFor(const std::filesystem::path& folder)
{
    return searchFor(std::vector<std::filesystem::path>{folder});
}

// The defaults the window tests start from: the registered ones, no
// follow-up search for emptied folders, and a removal panel without
// animations (undo with setAnimationsInstant(false)).
inline void prepareWindowDefaults()
{
    KZDefaultsRegistry::setupDefaultsPreferences();
    platform::UserDefaults::standard().setValue(KZDefaultsKey::report_empty_folders, 0);
    KZRemovePanelWidget::setAnimationsInstant(true);
}

// Hands a search's result to the window and waits, as the progress window
// does, until it is ready to be shown.
inline bool openResult(KZResultWindowCntrl& window, const QVariantMap& info)
{
    bool ready = false;
    platform::Subscription readiness = platform::NotificationCenter::defaultCenter().addObserver(
        KZNotification::resultIsReady, platform::bundleIdentifier(),
        [&ready](const platform::Notification&) { platform::runOnMain([&ready] { ready = true; }); });
    window.initializeResultWithInfo(info);
    return kztest::processEventsUntil([&] { return ready; }, std::chrono::seconds(20));
}

} // namespace realsearch
