#pragma once

#include <QByteArray>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// Thin wrappers over the l*xattr calls (links are not followed unless asked).
// "Refused" is kept apart from other failures so that callers can treat a
// file system without user attributes as "nothing stored".
enum class XattrResult {
    Ok,
    NotFound, // no such attribute (ENODATA)
    Refused,  // the file system or item type does not take user attributes (ENOTSUP, or EPERM on a link)
    Failed,   // anything else; errno in `err`
};

XattrResult getExtendedAttribute(const std::filesystem::path& path, const std::string& name, QByteArray* value,
                                 bool followLinks = false, int* err = nullptr);
XattrResult setExtendedAttribute(const std::filesystem::path& path, const std::string& name,
                                 const QByteArray& value, bool followLinks = false, int* err = nullptr);
XattrResult removeExtendedAttribute(const std::filesystem::path& path, const std::string& name,
                                    bool followLinks = false, int* err = nullptr);
XattrResult listExtendedAttributes(const std::filesystem::path& path, std::vector<std::string>* names,
                                   bool followLinks = false, int* err = nullptr);

} // namespace platform
