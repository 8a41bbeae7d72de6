#include "result/model/KZFoundListExport.h"

#include "platform/NotificationCenter.h"
#include "platform/StringTable.h"
#include "result/model/KZFoundItemsCntrl.h"
#include "result/model/KZFoundListContext.h"
#include "result/model/KZFoundListWorkers.h"
#include "result/model/KZListNotifications.h"
#include "result/model/KZListOutline.h"

#include <algorithm>

KZFoundListExport::KZFoundListExport(const KZFoundListContext& context, QVariant sender, const void* senderObject)
    : context_(context)
    , sender_(std::move(sender))
    , senderObject_(senderObject)
{
}

KZFoundItemArray KZFoundListExport::exportOrder(const KZFoundItemArray& items)
{
    KZFoundItemArray ordered = items;
    std::stable_sort(ordered.begin(), ordered.end(), [](const KZFoundItemRef& a, const KZFoundItemRef& b) {
        if (a->groupID() != b->groupID())
            return a->groupID() < b->groupID();
        return a->isMarked() && !b->isMarked();
    });
    return ordered;
}

QVariantMap KZFoundListExport::exportRequest(const KZFoundItemArray& items) const
{
    const KZFileTypeLabelRef& fileType = context_.fileType;
    QVariantMap request;
    request.insert(QStringLiteral("name"), fileType ? fileType->removeBtnTitle() : QString());
    request.insert(QStringLiteral("suggestName"),
                   context_.tabTag == KZTag::allDuplicates
                       ? platform::localizedString(QStringLiteral("export_all_files_name"))
                       : context_.withTabName(QStringLiteral("export_file_name")));
    request.insert(QStringLiteral("sources"), QVariant::fromValue(context_.sources));
    request.insert(QStringLiteral("sender"), sender_);
    request.insert(QStringLiteral("items"), QVariant::fromValue(items));
    request.insert(QStringLiteral("window"), context_.host ? context_.host->window() : QVariant());
    request.insert(QStringLiteral("columns"), context_.outline ? context_.outline->tableColumns() : QVariantList());
    return request;
}

void KZFoundListExport::exportResult()
{
    const std::shared_ptr<KZFoundItemsCntrl> model = context_.model();
    if (!model || panel_ || !context_.host)
        return;
    KZFoundListWorkers* workers = context_.workers;
    workers->add([this, workers, model] {
        const KZTabTag tabTag = context_.tabTag;
        const KZFoundItemArray items = exportOrder(model->itemsByTag(tabTag, tabTag, nullptr));
        if (items.isEmpty())
            return;
        workers->onMainLater([this, workers, items] {
            if (panel_)
                return;
            finishedObservation_ = platform::NotificationCenter::defaultCenter().addObserver(
                KZNotification::exportingDidFinish, senderObject_,
                [this, workers](const platform::Notification&) { workers->onMain([this] { exportingDidFinish(); }); });
            panel_ = context_.host->exportItems(exportRequest(items));
            if (!panel_)
                finishedObservation_.cancel();
        });
    });
}

void KZFoundListExport::exportingDidFinish()
{
    finishedObservation_.cancel();
    panel_.reset();
}
