#pragma once

#include <filesystem>

// Where trashed items go: the freedesktop.org trash of the home folder or of
// an item's own device. Safe from any thread.
namespace KZTrashFolders {

// The folder that holds the trashed items ("files/" of a freedesktop.org
// trash) of the user's home Trash, created when missing; empty on error.
std::filesystem::path startupTrashURL();
// The same for the trash on the item's own device; empty (and one log
// line) when that device has no usable trash.
std::filesystem::path trashURLForItemURL(const std::filesystem::path& path);

} // namespace KZTrashFolders
