#pragma once

#include <QString>

#include <filesystem>

namespace platform {

// The folder of the program's resources: "resources" beside the executable
// in the build tree, else <prefix>/share/maravex when installed. The
// environment variable MARAVEX_RESOURCES overrides both (tests, tools).
std::filesystem::path resourceDirectory();
void setResourceDirectory(const std::filesystem::path& dir); // tests

// Path of resource `name` (relative to the resource folder, e.g.
// "criteria.plist"); empty when it does not exist.
std::filesystem::path resourcePath(const std::filesystem::path& name);

} // namespace platform
