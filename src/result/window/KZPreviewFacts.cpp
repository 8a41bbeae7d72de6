#include "result/window/KZPreviewFacts.h"

#include <QHash>

#include <atomic>
#include <memory>
#include <mutex>
#include <utility>

namespace {

// The sizes pictures were found to have, by item; an entry whose item is
// gone is dropped when the table is next written.
class BuiltInFacts : public KZPreviewFacts {
public:
    KZPreviewImageFacts imageFacts(const KZFoundItemRef& item) const override
    {
        KZPreviewImageFacts facts;
        if (!item)
            return facts;
        std::lock_guard guard(lock_);
        const auto found = sizes_.constFind(item.get());
        if (found != sizes_.constEnd() && !found->first.expired()) {
            facts.width = quint32(found->second.width());
            facts.height = quint32(found->second.height());
        }
        return facts;
    }

    void notePixelSize(const KZFoundItemRef& item, QSize size) override
    {
        if (!item || size.width() <= 0 || size.height() <= 0)
            return;
        std::lock_guard guard(lock_);
        if (sizes_.size() >= 4096) {
            for (auto it = sizes_.begin(); it != sizes_.end();)
                it = it->first.expired() ? sizes_.erase(it) : std::next(it);
        }
        sizes_.insert(item.get(), {item, size});
    }

private:
    mutable std::mutex lock_;
    QHash<const KZFoundItem*, std::pair<std::weak_ptr<KZFoundItem>, QSize>> sizes_;
};

BuiltInFacts& builtIn()
{
    static BuiltInFacts facts;
    return facts;
}

std::atomic<KZPreviewFacts*> installed{nullptr};

} // namespace

KZPreviewImageFacts KZPreviewFacts::imageFacts(const KZFoundItemRef&) const
{
    return {};
}

KZPreviewSongFacts KZPreviewFacts::songFacts(const KZFoundItemRef&) const
{
    return {};
}

void KZPreviewFacts::notePixelSize(const KZFoundItemRef&, QSize) {}

KZPreviewFacts& KZPreviewFacts::shared()
{
    KZPreviewFacts* facts = installed.load();
    return facts ? *facts : builtIn();
}

void KZPreviewFacts::setShared(KZPreviewFacts* facts)
{
    installed.store(facts);
}
