#include "services/KZTrashFolders.h"

#include "platform/Log.h"
#include "platform/Paths.h"
#include "platform/Trash.h"

#include <QString>

namespace fs = std::filesystem;

fs::path KZTrashFolders::startupTrashURL()
{
    // The user's Trash on this system is the home trash, wherever the root
    // file system is mounted from; anchoring the look-up at its own folder
    // picks it even when /home is a volume of its own.
    const fs::path home = platform::homeTrashDirectory();
    std::error_code ec;
    fs::create_directories(home.parent_path(), ec);
    return trashURLForItemURL(home.parent_path());
}

fs::path KZTrashFolders::trashURLForItemURL(const fs::path& path)
{
    if (path.empty())
        return {};
    const auto trash = platform::trashDirectoryFor(path, true);
    if (!trash) {
        platform::logLine(QStringLiteral("NSTrashDirectory error: ")
                          + QStringLiteral("no usable trash on the volume of \"%1\"").arg(platform::pathText(path)));
        return {};
    }
    return platform::trashFilesFolder(*trash);
}
