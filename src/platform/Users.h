#pragma once

#include <QString>

#include <filesystem>
#include <sys/types.h>

namespace platform {

uid_t currentUserId();

// The login name from the passwd database; without an entry (containers,
// service users) $USER, else the numeric user id. Never aborts.
QString userName();

// $HOME when it is set to an absolute path (as every desktop program honours
// it), else the passwd entry's home, else "/".
std::filesystem::path homeDirectory();

} // namespace platform
