#include "platform/ExtendedAttributes.h"

#include <cerrno>
#include <sys/xattr.h>

namespace platform {

namespace {

XattrResult classify(int code, int* err)
{
    if (err)
        *err = code;
    switch (code) {
    case ENODATA:
        return XattrResult::NotFound;
    case ENOTSUP:
        return XattrResult::Refused;
    case EPERM:
        // The kernel answers EPERM for user attributes on links and special
        // files; an immutable file answers EPERM too, which is also a refusal.
        return XattrResult::Refused;
    default:
        return XattrResult::Failed;
    }
}

} // namespace

XattrResult getExtendedAttribute(const std::filesystem::path& path, const std::string& name, QByteArray* value,
                                 bool followLinks, int* err)
{
    auto get = followLinks ? ::getxattr : ::lgetxattr;
    // The size may change between the two calls; retry a few times on ERANGE.
    for (int attempt = 0; attempt < 4; ++attempt) {
        ssize_t size = get(path.c_str(), name.c_str(), nullptr, 0);
        if (size < 0)
            return classify(errno, err);
        QByteArray buffer(static_cast<qsizetype>(size), Qt::Uninitialized);
        ssize_t got = get(path.c_str(), name.c_str(), buffer.data(), buffer.size());
        if (got < 0) {
            if (errno == ERANGE)
                continue;
            return classify(errno, err);
        }
        buffer.truncate(got);
        if (value)
            *value = buffer;
        if (err)
            *err = 0;
        return XattrResult::Ok;
    }
    return classify(ERANGE, err);
}

XattrResult setExtendedAttribute(const std::filesystem::path& path, const std::string& name,
                                 const QByteArray& value, bool followLinks, int* err)
{
    auto set = followLinks ? ::setxattr : ::lsetxattr;
    if (set(path.c_str(), name.c_str(), value.constData(), static_cast<size_t>(value.size()), 0) != 0)
        return classify(errno, err);
    if (err)
        *err = 0;
    return XattrResult::Ok;
}

XattrResult removeExtendedAttribute(const std::filesystem::path& path, const std::string& name, bool followLinks,
                                    int* err)
{
    auto remove = followLinks ? ::removexattr : ::lremovexattr;
    if (remove(path.c_str(), name.c_str()) != 0)
        return classify(errno, err);
    if (err)
        *err = 0;
    return XattrResult::Ok;
}

XattrResult listExtendedAttributes(const std::filesystem::path& path, std::vector<std::string>* names,
                                   bool followLinks, int* err)
{
    auto list = followLinks ? ::listxattr : ::llistxattr;
    for (int attempt = 0; attempt < 4; ++attempt) {
        ssize_t size = list(path.c_str(), nullptr, 0);
        if (size < 0)
            return classify(errno, err);
        std::string buffer(static_cast<size_t>(size), '\0');
        ssize_t got = list(path.c_str(), buffer.data(), buffer.size());
        if (got < 0) {
            if (errno == ERANGE)
                continue;
            return classify(errno, err);
        }
        if (names) {
            names->clear();
            size_t start = 0;
            while (start < static_cast<size_t>(got)) {
                size_t end = buffer.find('\0', start);
                if (end == std::string::npos || end > static_cast<size_t>(got))
                    end = static_cast<size_t>(got);
                if (end > start)
                    names->emplace_back(buffer.substr(start, end - start));
                start = end + 1;
            }
        }
        if (err)
            *err = 0;
        return XattrResult::Ok;
    }
    return classify(ERANGE, err);
}

} // namespace platform
