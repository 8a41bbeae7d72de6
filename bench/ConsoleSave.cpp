#include "ConsoleSave.h"

#include "engine/KZFoundList.h"
#include "engine/TreeToCheck.h"
#include "media/decoder/KZImageDecoder.h"
#include "result/model/KZFoundItem.h"
#include "result/model/KZLibraryLookups.h"
#include "resultfiles/KZSaveResult.h"

namespace consolesave {

struct FoundItems::Items {
    KZFoundItemArray found;
};

void prepareProcess()
{
    kzmedia::installImageDecoder(&kzmedia::decodeImageRGBA);
    KZLibraryLookups::install(KZLibraryLookups::fromReaders());
}

FoundItems::FoundItems() : items_(std::make_unique<Items>()) {}

FoundItems::~FoundItems() = default;

void FoundItems::add(const TreeToCheck& node, const KZFoundList& list)
{
    KZFoundItemRef item = KZFoundItem::itemWithTreeNode(node);
    item->setDiskAsScanned(list.diskOf(item->device()));
    items_->found.append(std::move(item));
}

bool FoundItems::save(const QVariantMap& result, const std::vector<KZSourceItemRef>& sources,
                      const std::filesystem::path& file, QString* error, QString* leftOut) const
{
    quint64 left = 0;
    const bool saved = KZSaveResult::saveSearchResult(items_->found, result, sources, file, error, &left);
    *leftOut = KZSaveResult::leftOutText(left);
    return saved;
}

} // namespace consolesave
