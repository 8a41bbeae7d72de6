#include "services/KZStartupDiskName.h"

#include "services/KZFilesUtilities.h"

namespace {

KZStartupDiskNameCache& sharedCache()
{
    static KZStartupDiskNameCache cache([] { return KZFilesUtilities::sharedControl().itemNameWithURL("/"); });
    return cache;
}

} // namespace

QString KZStartupDiskNameCache::name()
{
    std::lock_guard guard(lock_);
    if (!name_ && reader_) {
        if (std::optional<QString> read = reader_(); read && !read->isNull())
            name_ = std::move(read);
    }
    return name_.value_or(QString());
}

void KZStartupDiskNameCache::setName(const QString& name)
{
    if (name.isNull())
        return;
    std::lock_guard guard(lock_);
    name_ = name;
}

QString KZStartupDiskName()
{
    return sharedCache().name();
}

void KZSetStartupDiskName(const QString& name)
{
    sharedCache().setName(name);
}
