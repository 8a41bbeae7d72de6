#include "services/KZMusicLibraryFolders.h"

#include "services/KZItemInspection.h"

#include <mutex>
#include <system_error>

namespace fs = std::filesystem;

namespace {

struct Provider {
    std::mutex lock;
    std::function<fs::path()> unreadLibrary;
};

Provider& provider()
{
    static Provider shared;
    return shared;
}

} // namespace

void KZMusicLibraryFolders::setUnreadLibraryProvider(std::function<fs::path()> unreadLibrary)
{
    std::lock_guard guard(provider().lock);
    provider().unreadLibrary = std::move(unreadLibrary);
}

fs::path KZMusicLibraryFolders::keptOutFolder()
{
    if (const auto media = KZItemInspection::iTunesFolderLocationPath(); media && !media->empty())
        return *media;
    std::function<fs::path()> unreadLibrary;
    {
        std::lock_guard guard(provider().lock);
        unreadLibrary = provider().unreadLibrary;
    }
    const fs::path folder = unreadLibrary ? unreadLibrary() : fs::path();
    std::error_code ec;
    return !folder.empty() && fs::exists(fs::symlink_status(folder, ec)) ? folder : fs::path();
}
