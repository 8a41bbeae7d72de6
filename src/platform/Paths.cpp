#include "platform/Paths.h"

#include <QFile>

#include <algorithm>
#include <sys/stat.h>

namespace platform {

QString pathText(std::string_view bytes)
{
    return QFile::decodeName(QByteArray(bytes.data(), qsizetype(bytes.size())));
}

QString elementText(const std::filesystem::path& element)
{
    const std::filesystem::path name = element.filename();
    return name.empty() ? QStringLiteral("/") : pathText(name);
}

std::filesystem::path pathFromText(const QString& text)
{
    return std::filesystem::path(QFile::encodeName(text).toStdString());
}

std::filesystem::path absolutePath(const std::filesystem::path& path)
{
    if (path.empty())
        return {};
    std::error_code ec;
    std::filesystem::path absolute = path.is_absolute() ? path : std::filesystem::absolute(path, ec);
    if (ec)
        return {};
    const auto upward = std::find_if(absolute.begin(), absolute.end(), [](const std::filesystem::path& element) {
        return element.native() == "..";
    });
    if (upward == absolute.end()) {
        absolute = absolute.lexically_normal();
        if (!absolute.has_filename() && absolute.has_relative_path())
            absolute = absolute.parent_path();
        return absolute;
    }
    // Element by element: a ".." goes up from where the system stands by
    // then, which after a link is beside the link's target, not beside the
    // link.
    std::filesystem::path resolved = absolute.root_path();
    bool linkBefore = false;
    for (const std::filesystem::path& element : absolute.relative_path()) {
        const std::string& name = element.native();
        if (name.empty() || name == ".")
            continue;
        if (name == "..") {
            if (linkBefore) {
                std::filesystem::path real = std::filesystem::canonical(resolved, ec);
                if (!ec)
                    resolved = std::move(real);
                linkBefore = false;
            }
            resolved = resolved.parent_path();
            continue;
        }
        resolved /= element;
        if (!linkBefore) {
            struct stat st {};
            linkBefore = ::lstat(resolved.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
        }
    }
    return resolved;
}

std::filesystem::path linkFreePath(const std::filesystem::path& path, bool followLast)
{
    if (path.empty())
        return {};
    std::error_code ec;
    // Not normalised by hand first: "link/.." is the parent of where the
    // link leads, which only the system knows.
    const std::filesystem::path absolute = std::filesystem::absolute(path, ec);
    if (ec)
        return {};
    const std::filesystem::path name = absolute.filename();
    if (followLast || name.empty() || name == "." || name == ".." || !absolute.has_relative_path()) {
        std::filesystem::path real = std::filesystem::canonical(absolute, ec);
        return ec ? std::filesystem::path() : real;
    }
    std::filesystem::path folder = std::filesystem::canonical(absolute.parent_path(), ec);
    return ec ? std::filesystem::path() : folder / name;
}

std::vector<std::filesystem::path> exclusionPlaces(const std::filesystem::path& location)
{
    std::vector<std::filesystem::path> places;
    const auto add = [&places](std::filesystem::path place) {
        if (!place.empty() && std::find(places.begin(), places.end(), place) == places.end())
            places.push_back(std::move(place));
    };
    add(location);
    // A relative location would be taken from whatever folder the process
    // runs in, which names nothing the user chose.
    if (location.is_absolute()) {
        add(linkFreePath(location, false));
        add(linkFreePath(location, true));
    }
    return places;
}

bool isInsideFolder(const std::filesystem::path& path, const std::filesystem::path& folder)
{
    if (folder.empty())
        return false;
    auto p = path.begin();
    for (auto f = folder.begin(); f != folder.end(); ++f) {
        // The empty last element of a folder written with a trailing slash.
        if (f->empty())
            continue;
        if (p == path.end() || *p != *f)
            return false;
        ++p;
    }
    return true;
}

} // namespace platform
