#pragma once

#include <QByteArray>
#include <QString>

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// A file name is bytes; these are the only places where they become text.
//
// pathText() makes the text that a path or a name shows and is compared by.
// Bytes that are not UTF-8 show as U+FFFD, one per byte, so that text is
// for the eye and for comparing names only: it is never made into a path
// again (a stored location keeps its bytes, as a percent-encoded file URL).
QString pathText(std::string_view bytes);
inline QString pathText(const std::string& bytes)
{
    return pathText(std::string_view(bytes));
}
inline QString pathText(const char* bytes)
{
    return pathText(std::string_view(bytes));
}
inline QString pathText(const QByteArray& bytes)
{
    return pathText(std::string_view(bytes.data(), bytes.size()));
}
inline QString pathText(const std::filesystem::path& path)
{
    return pathText(std::string_view(path.native()));
}

// The title of a path's last element, as a row of folder buttons shows it:
// its name, or "/" for the root.
QString elementText(const std::filesystem::path& element);

// The path that text names when a person typed it or a setting stores it as
// text (UTF-8 bytes). pathFromText(pathText(p)) == p for every UTF-8 path.
std::filesystem::path pathFromText(const QString& text);

// The absolute form of a path that enters the program as text (an argument,
// a file a tool is told to read or write): a relative path is taken from
// the working folder, "." and ".." are resolved element by element and a
// trailing slash dropped, without asking the disk, so a link in the path
// stays a link. Only a ".." after a link asks it: "link/.." is the folder
// beside where the link leads, as the system reads it, so the part before
// it is resolved first. Every process of the program then names one item
// alike, whichever folder it was started in. Empty when `path` is empty or
// the working folder is gone.
std::filesystem::path absolutePath(const std::filesystem::path& path);

// The absolute path of the same item with no symbolic link on its way: the
// folders above it are replaced by where their links lead, so that an act
// which opens them one by one without following links (a removal) can reach
// it. The item itself, when it is a link, is followed with `followLast` (a
// source given as a link is searched where it leads) and kept as the link
// otherwise (a found link is an item of its own). Empty when a folder on the
// way cannot be reached.
std::filesystem::path linkFreePath(const std::filesystem::path& path, bool followLast);

// The places an excluded location stands for, so that it is compared with
// paths met from sources taken without links: the location as written, its
// name in its folder reached without links, and where it leads when it is a
// link itself (the link and its target are both left out). A relative
// location is kept as written only; a place that cannot be reached adds
// nothing. Each place once.
std::vector<std::filesystem::path> exclusionPlaces(const std::filesystem::path& location);

// Whether `path` is `folder` or lies somewhere under it, compared element by
// element on the paths as given (normalise first where "." or ".." may occur).
// "/a/bc" is not inside "/a/b"; a trailing slash on either side does not
// matter; every absolute path is inside "/"; nothing is inside an empty path.
bool isInsideFolder(const std::filesystem::path& path, const std::filesystem::path& folder);

} // namespace platform
