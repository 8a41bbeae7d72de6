#pragma once

#include <QString>

#include <filesystem>
#include <string_view>

namespace KZEnginePaths {

// One spelling per location: "." and ".." components resolved lexically,
// repeated slashes collapsed, no trailing slash (the root stays "/"). Links
// are not resolved: two spellings are the same location only by their text.
std::filesystem::path normalized(const std::filesystem::path& path);
// True when normalized() would give the path back unchanged (cheap: no
// allocation, so it can run for every scanned item).
bool isNormalized(const std::filesystem::path& path);

// Equal locations once normalised (no allocation when both already are).
bool isSameLocation(const std::filesystem::path& a, const std::filesystem::path& b);

// True when `inner` lies strictly below `outer`, compared by whole
// components of the normalised forms ("/a/bc" is not inside "/a/b").
bool isStrictlyInside(const std::filesystem::path& inner, const std::filesystem::path& outer);

// The name part of a location, a trailing slash tolerated ("/a/b/" gives b;
// the root gives an empty path).
std::filesystem::path lastComponent(const std::filesystem::path& path);

// The extension of a name in the file system's bytes: none for a leading
// dot alone or a trailing dot.
QString extensionOfBytes(std::string_view name);

} // namespace KZEnginePaths
