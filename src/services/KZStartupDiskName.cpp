#include "services/KZStartupDiskName.h"

#include "services/KZFilesUtilities.h"

#include <mutex>
#include <optional>

QString KZStartupDiskName()
{
    static std::mutex lock;
    static std::optional<QString> name;
    std::lock_guard guard(lock);
    // Not once-only: a name that could not be read is asked for again.
    if (!name)
        name = KZFilesUtilities::sharedControl().itemNameWithURL("/");
    return name.value_or(QString());
}
