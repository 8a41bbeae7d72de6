#include "platform/Bookmark.h"

#include "platform/DirectoryListing.h"
#include "platform/FileOps.h"
#include "platform/FileStat.h"
#include "platform/Paths.h"
#include "platform/PropertyList.h"

#include <QVariantMap>

namespace platform {

namespace {

const QString kPathKey = QStringLiteral("path");
const QString kPathStringKey = QStringLiteral("pathString");
const QString kDeviceKey = QStringLiteral("device");
const QString kInodeKey = QStringLiteral("inode");

bool setError(QString* error, const QString& text)
{
    if (error)
        *error = text;
    return false;
}

bool readUnsigned(const QVariantMap& map, const QString& key, quint64* value)
{
    const QVariant v = map.value(key);
    if (!v.isValid())
        return false;
    bool ok = false;
    *value = v.toULongLong(&ok);
    return ok;
}

} // namespace

QByteArray createBookmark(const std::filesystem::path& path, QString* error)
{
    if (path.empty()) {
        setError(error, QStringLiteral("No item was given to remember."));
        return {};
    }
    int err = 0;
    const auto st = statPath(path, false, &err);
    if (!st) {
        setError(
            error,
            QStringLiteral("Cannot remember \u201c%1\u201d: %2").arg(platform::pathText(path), systemErrorString(err)));
        return {};
    }
    const std::string& bytes = path.native();
    QVariantMap map;
    map.insert(kPathKey, QByteArray(bytes.data(), qsizetype(bytes.size())));
    map.insert(kPathStringKey, platform::pathText(path));
    map.insert(kDeviceKey, quint64(st->device));
    map.insert(kInodeKey, st->inode);
    return PropertyList::toData(map, PropertyList::Format::Binary, error);
}

std::optional<ResolvedBookmark> resolveBookmark(const QByteArray& data, QString* error)
{
    QString parseError;
    const auto value = PropertyList::fromData(data, &parseError);
    if (!value || value->typeId() != QMetaType::QVariantMap) {
        setError(error, QStringLiteral("The stored item reference is damaged%1")
                            .arg(parseError.isEmpty() ? QStringLiteral(".") : QStringLiteral(": ") + parseError));
        return std::nullopt;
    }
    const QVariantMap map = value->toMap();
    const QVariant storedPath = map.value(kPathKey);
    quint64 device = 0, inode = 0;
    if (storedPath.typeId() != QMetaType::QByteArray || storedPath.toByteArray().isEmpty()
        || !readUnsigned(map, kDeviceKey, &device) || !readUnsigned(map, kInodeKey, &inode)) {
        setError(error, QStringLiteral("The stored item reference is incomplete."));
        return std::nullopt;
    }
    const QByteArray pathBytes = storedPath.toByteArray();
    const std::filesystem::path path(std::string(pathBytes.constData(), size_t(pathBytes.size())));

    const auto matches = [&](const FileStat& st) { return quint64(st.device) == device && st.inode == inode; };
    if (const auto st = statPath(path, false); st && matches(*st))
        return ResolvedBookmark{path, false};

    // The item may have been renamed in its folder: look for its identity
    // there. Moves elsewhere are not followed, the item counts as missing.
    std::optional<ResolvedBookmark> found;
    const auto parent = path.parent_path();
    if (!parent.empty()) {
        listDirectory(parent, [&](const DirEntry& entry) {
            if (!entry.statFailed && matches(entry.stat)) {
                found = ResolvedBookmark{parent / entry.name, true};
                return false;
            }
            return true;
        });
    }
    if (!found)
        setError(error, QStringLiteral("\u201c%1\u201d can no longer be found.").arg(platform::pathText(pathBytes)));
    return found;
}

} // namespace platform
