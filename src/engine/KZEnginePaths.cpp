#include "engine/KZEnginePaths.h"

#include "platform/Paths.h"

#include <QByteArray>

#include <string_view>

namespace KZEnginePaths {

bool isNormalized(const std::filesystem::path& path)
{
    const std::string_view s = path.native();
    if (s.empty() || s == "/")
        return true;
    if (s.back() == '/')
        return false;
    // Walk the components: an empty one is a repeated slash, "." and ".."
    // need resolving.
    size_t start = s.front() == '/' ? 1 : 0;
    while (start <= s.size()) {
        size_t end = s.find('/', start);
        if (end == std::string_view::npos)
            end = s.size();
        const std::string_view component = s.substr(start, end - start);
        if (component.empty() || component == "." || component == "..")
            return false;
        start = end + 1;
    }
    return true;
}

std::filesystem::path normalized(const std::filesystem::path& path)
{
    if (isNormalized(path))
        return path;
    std::filesystem::path result = path.lexically_normal();
    // lexically_normal keeps a trailing separator as an empty last component.
    if (!result.has_filename() && result.has_relative_path())
        result = result.parent_path();
    return result;
}

bool isSameLocation(const std::filesystem::path& a, const std::filesystem::path& b)
{
    if (isNormalized(a) && isNormalized(b))
        return a == b;
    return normalized(a) == normalized(b);
}

bool isStrictlyInside(const std::filesystem::path& inner, const std::filesystem::path& outer)
{
    const std::filesystem::path in = normalized(inner);
    const std::filesystem::path out = normalized(outer);
    if (in.empty() || out.empty())
        return false;
    auto i = in.begin();
    for (auto o = out.begin(); o != out.end(); ++o, ++i) {
        if (i == in.end() || *i != *o)
            return false;
    }
    return i != in.end();
}

std::filesystem::path lastComponent(const std::filesystem::path& path)
{
    if (path.has_filename())
        return path.filename();
    return path.has_relative_path() ? path.parent_path().filename() : std::filesystem::path();
}

QString extensionOfBytes(std::string_view name)
{
    const auto dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0 || dot + 1 == name.size())
        return {};
    return platform::pathText(std::string_view(name.data() + dot + 1, name.size() - dot - 1));
}

} // namespace KZEnginePaths
