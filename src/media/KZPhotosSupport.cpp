#include "media/KZPhotosSupport.h"

#include "media/KZSQLite.h"
#include "platform/Log.h"
#include "platform/Paths.h"
#include "platform/SharedInstance.h"
#include "platform/StringTable.h"
#include "services/KZErrorDelegate.h"
#include "services/KZFilesUtilities.h"

#include <QFile>

#include <algorithm>
#include <iterator>
#include <mutex>
#include <string>
#include <system_error>
#include <unordered_map>

namespace fs = std::filesystem;

namespace {

const QString kUuid = QStringLiteral("uuid");
const QString kMasterUuid = QStringLiteral("masterUuid");
const QString kIsInTrash = QStringLiteral("isInTrash");
const QString kImagePath = QStringLiteral("imagePath");
const QString kName = QStringLiteral("name");
const QString kAlbumType = QStringLiteral("albumType");
const QString kContainerUuid = QStringLiteral("containerUuid");
const QString kObjectUuid = QStringLiteral("objectUuid");

struct Query {
    const char* table;
    QStringList fields;
};

// The tool prints 1 and 0; a text such as "YES" or "true" reads as the
// same, as the library's other writers may store it.
bool boolText(const QString& value)
{
    const QString trimmed = value.trimmed();
    bool ok = false;
    const qlonglong number = trimmed.toLongLong(&ok);
    if (ok)
        return number != 0;
    return trimmed.startsWith(QLatin1Char('y'), Qt::CaseInsensitive)
           || trimmed.startsWith(QLatin1Char('t'), Qt::CaseInsensitive);
}

QString folded(const QString& key)
{
    return key.toCaseFolded();
}

bool lessInsensitive(const QString& a, const QString& b)
{
    return QString::compare(a, b, Qt::CaseInsensitive) < 0;
}

// Rows by one field, case-insensitively; the first row of a key stays.
QHash<QString, const QVariantMap*> indexBy(const QList<QVariantMap>& rows, const QString& field)
{
    QHash<QString, const QVariantMap*> index;
    index.reserve(rows.size());
    for (const QVariantMap& row : rows)
    {
        const QString key = folded(row.value(field).toString());
        if (!index.contains(key))
            index.insert(key, &row);
    }
    return index;
}

fs::path bytesOf(const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    return fs::path(std::string(utf8.constData(), size_t(utf8.size())));
}

platform::SharedInstance<KZPhotosSupport>& sharedInstance()
{
    static platform::SharedInstance<KZPhotosSupport> instance([] { return std::make_unique<KZPhotosSupport>(); });
    return instance;
}

} // namespace

KZPhotosSupport& KZPhotosSupport::sharedControl()
{
    return sharedInstance().get();
}

void KZPhotosSupport::setSharedControl(std::unique_ptr<KZPhotosSupport> instance)
{
    sharedInstance().replace(std::move(instance));
}

QString KZPhotosSupport::appName() const
{
    return KZFilesUtilities::sharedControl().appNameWithIdentifier(QStringLiteral("com.apple.Photos"));
}

fs::path KZPhotosSupport::sourcePhotosLocationWithPath(const fs::path& library) const
{
    if (library.empty())
        return {};
    std::error_code ec;
    if (!fs::exists(library, ec)) {
        platform::logLine(QStringLiteral("Photos Library path not found"));
        return {};
    }
    // Only the current layout exists here; the old "Library.apdb" name
    // belongs to systems this program never runs on.
    return library / "database" / "Photos.db";
}

fs::path KZPhotosSupport::mastersPhotosLocationWithPath(const fs::path& library) const
{
    if (library.empty())
        return {};
    std::error_code ec;
    const fs::path masters = library / "Masters";
    return fs::is_directory(masters, ec) ? masters : fs::path();
}

namespace {

// Whether `inner` is `outer` or lies below it, both resolved.
bool liesInside(const fs::path& inner, const fs::path& outer)
{
    auto in = inner.begin();
    for (auto out = outer.begin(); out != outer.end(); ++out, ++in) {
        if (out->empty() && std::next(out) == outer.end())
            break; // a trailing separator
        if (in == inner.end() || *in != *out)
            return false;
    }
    return true;
}

} // namespace

bool KZPhotosSupport::isSafeRelativePath(const QString& imagePath)
{
    if (imagePath.isEmpty() || imagePath.startsWith(QLatin1Char('/')) || imagePath.contains(QChar(0)))
        return false;
    const QStringList parts = imagePath.split(QLatin1Char('/'));
    return std::none_of(parts.begin(), parts.end(), [](const QString& part) { return part == QStringLiteral(".."); });
}

std::vector<KZPhotosAlbum> KZPhotosSupport::albumsFromRows(const QList<QVariantMap>& versions,
                                                            const QList<QVariantMap>& masters,
                                                            const QList<QVariantMap>& albums,
                                                            QList<QVariantMap> sortOrders, int* imagesCount)
{
    // For a version in several containers, the container whose uuid sorts
    // first is indexed first and wins.
    std::stable_sort(sortOrders.begin(), sortOrders.end(), [](const QVariantMap& a, const QVariantMap& b) {
        return lessInsensitive(a.value(kContainerUuid).toString(), b.value(kContainerUuid).toString());
    });
    const QHash<QString, const QVariantMap*> versionByMaster = indexBy(versions, kMasterUuid);
    const QHash<QString, const QVariantMap*> orderByObject = indexBy(sortOrders, kObjectUuid);

    std::vector<KZPhotosImage> images;
    images.reserve(size_t(masters.size()));
    for (const QVariantMap& master : masters) {
        if (boolText(master.value(kIsInTrash).toString()))
            continue;
        const QString imagePath = master.value(kImagePath).toString();
        if (!isSafeRelativePath(imagePath))
            continue; // nothing outside the Masters folder may come out of here
        const QVariantMap* version = versionByMaster.value(folded(master.value(kUuid).toString()));
        if (!version || boolText(version->value(kIsInTrash).toString()))
            continue;
        KZPhotosImage image{version->value(kUuid).toString(), imagePath, std::nullopt};
        if (const QVariantMap* order = orderByObject.value(folded(image.uuid)))
            image.projectUuid = order->value(kContainerUuid).toString();
        images.push_back(std::move(image));
    }
    // Unfiled images first, each group in database order.
    std::stable_sort(images.begin(), images.end(), [](const KZPhotosImage& a, const KZPhotosImage& b) {
        if (!a.projectUuid || !b.projectUuid)
            return !a.projectUuid && b.projectUuid;
        return lessInsensitive(*a.projectUuid, *b.projectUuid);
    });
    if (imagesCount)
        *imagesCount = int(images.size());

    std::vector<KZPhotosAlbum> result;
    KZPhotosAlbum unfiled{imagesWithoutAlbum, platform::localizedString(QStringLiteral("main_photos_album")), {}};
    // Each container's images, last first (the order in which a walk from
    // the end of the sorted list meets them); an album takes its images out,
    // so a second album of the same uuid finds none.
    QHash<QString, std::vector<KZPhotosImage>> byContainer;
    for (auto it = images.rbegin(); it != images.rend(); ++it) {
        if (it->projectUuid)
            byContainer[folded(*it->projectUuid)].push_back(*it);
    }
    for (const KZPhotosImage& image : images) {
        if (!image.projectUuid)
            unfiled.children.push_back(image);
    }
    if (!unfiled.children.empty())
        result.push_back(std::move(unfiled));

    for (const QVariantMap& album : albums) {
        const QString name = album.value(kName).toString();
        if (album.value(kAlbumType).toString().trimmed().toLongLong() < 1 || name.isEmpty())
            continue;
        const QString uuid = album.value(kUuid).toString();
        std::vector<KZPhotosImage> children = byContainer.take(folded(uuid));
        if (!children.empty())
            result.push_back({uuid, name, std::move(children)});
    }
    std::stable_sort(result.begin(), result.end(),
                     [](const KZPhotosAlbum& a, const KZPhotosAlbum& b) { return lessInsensitive(a.name, b.name); });
    return result;
}

namespace {

std::mutex& tellerLock()
{
    static std::mutex lock;
    return lock;
}

KZPhotosSupport::RefusalTeller& teller()
{
    static KZPhotosSupport::RefusalTeller installed;
    return installed;
}

} // namespace

void KZPhotosSupport::setRefusalTeller(RefusalTeller tell)
{
    std::lock_guard guard(tellerLock());
    teller() = std::move(tell);
}

std::vector<KZPhotosAlbum> KZPhotosSupport::photosAlbumsWithPath(const fs::path& library, int* imagesCount) const
{
    if (imagesCount)
        *imagesCount = 0;
    std::vector<KZPhotosAlbum> result;
    const fs::path database = sourcePhotosLocationWithPath(library);
    // Only a library that was read and holds no images may be said to have
    // been searched; one that could not be read says so, and why.
    QString databaseError;
    QString notRead = QStringLiteral("photos_library_missing");
    QStringList notReadNames{platform::pathText(library)};
    if (!database.empty()) {
        const Query queries[] = {
            {"RKVersion", {kUuid, kMasterUuid, kIsInTrash}},
            {"RKMaster", {kUuid, kImagePath, kIsInTrash}},
            {"RKAlbum", {kUuid, kName, kAlbumType}},
            {"RKCustomSortOrder", {kContainerUuid, kObjectUuid}},
        };
        std::vector<KZSQLite::Query> statements;
        for (const Query& query : queries) {
            const QString fields = query.fields.join(QStringLiteral(", "));
            statements.push_back({QStringLiteral("select %1 from %2").arg(fields, QLatin1String(query.table)), fields});
        }
        QString error;
        const auto rows = KZSQLite::sharedControl().dataFromSQLDatabase(database, statements, &error);
        if (!rows) {
            databaseError = error;
            notRead = error.isEmpty() ? QStringLiteral("photos_library_not_read_unknown")
                                      : QStringLiteral("photos_library_not_read");
            notReadNames = error.isEmpty() ? QStringList() : QStringList{error};
        } else {
            result = albumsFromRows((*rows)[0], (*rows)[1], (*rows)[2], (*rows)[3], imagesCount);
            notRead.clear();
        }
    }
    if (result.empty()) {
        const bool noImage = notRead.isEmpty();
        const QString key = noImage ? QStringLiteral("photos_database_not_found") : notRead;
        const QString message = noImage ? QStringLiteral("no_items_found_photos_mess")
                                        : QStringLiteral("photos_library_not_searched_mess");
        const QStringList names = noImage ? QStringList() : notReadNames;
        RefusalTeller tell;
        {
            std::lock_guard guard(tellerLock());
            tell = teller();
        }
        // Said once, by whoever listens: a tool's terminal, or the alert.
        if (tell) {
            tell(library, KZErrorDelegate::replaceContentOfString(
                              platform::localizedString(key, QStringLiteral("Errors")), names));
        } else {
            if (!databaseError.isNull())
                platform::logLine(QStringLiteral("Photos library database not read: ") + databaseError);
            KZErrorDelegate::sharedControl().showError(key, message, names);
        }
    }
    return result;
}

std::vector<KZPhotosImageEntry> KZPhotosSupport::photosDataWithPath(const fs::path& library) const
{
    std::vector<KZPhotosImageEntry> entries;
    if (library.empty())
        return entries;
    // Without a Masters folder the paths still name where the images would
    // be; the search skips files that are not there.
    const fs::path masters = library / "Masters";
    // Read first: a library that is gone is told as such by the reading.
    const std::vector<KZPhotosAlbum> albums = photosAlbumsWithPath(library);
    if (albums.empty())
        return entries;
    // A folder inside Masters may be a link that leads out of the package:
    // a row naming a file through it would hand a file elsewhere to the
    // search as the library's own copy. Each image is judged by where its
    // folder really is; the image itself, when a link, is no plain file and
    // the search leaves it out.
    std::error_code ec;
    const fs::path realLibrary = fs::canonical(library, ec);
    if (ec)
        return entries;
    return entriesInsideLibrary(albums, masters, realLibrary);
}

std::vector<KZPhotosImageEntry> KZPhotosSupport::entriesInsideLibrary(const std::vector<KZPhotosAlbum>& albums,
                                                                      const fs::path& masters,
                                                                      const fs::path& realLibrary,
                                                                      const FolderResolver& resolve)
{
    const auto resolved = [&resolve](const fs::path& folder) {
        if (resolve)
            return resolve(folder);
        std::error_code ec;
        fs::path real = fs::weakly_canonical(folder, ec);
        return ec ? fs::path() : real;
    };
    // A library holds many images in few folders, and resolving one walks
    // every component of its path.
    std::unordered_map<std::string, bool> folderInside;
    std::vector<KZPhotosImageEntry> entries;
    for (const KZPhotosAlbum& album : albums) {
        for (const KZPhotosImage& image : album.children) {
            // A NUL ends a path where the system reads it: "a.jpg\0x" would
            // name a.jpg, which is not this image.
            if (image.imagePath.contains(QChar(u'\0'))) {
                platform::logLine(QStringLiteral("Photo library image left out, its path holds a NUL character: ")
                                  + image.uuid);
                continue;
            }
            fs::path path = (masters / bytesOf(image.imagePath)).lexically_normal();
            const auto [known, added] = folderInside.try_emplace(path.parent_path().native(), false);
            if (added) {
                const fs::path real = resolved(path.parent_path());
                known->second = !real.empty() && liesInside(real, realLibrary);
            }
            if (!known->second) {
                platform::logLine(QStringLiteral("Photo library image left out, its folder lies outside the library: ")
                                  + platform::pathText(path));
                continue;
            }
            entries.push_back({image.uuid, std::move(path)});
        }
    }
    return entries;
}

std::vector<std::pair<QString, QStringList>> KZPhotosSupport::albumsWithChildWithPath(const fs::path& library) const
{
    std::vector<std::pair<QString, QStringList>> out;
    for (const KZPhotosAlbum& album : photosAlbumsWithPath(library)) {
        QStringList uuids;
        for (const KZPhotosImage& image : album.children)
            uuids.append(image.uuid);
        out.emplace_back(album.name, uuids);
    }
    return out;
}

KZPhotosLibraryPositions KZPhotosSupport::libraryPositionsWithPath(const fs::path& library) const
{
    KZPhotosLibraryPositions positions;
    positions.libraryText_ = platform::localizedString(QStringLiteral("Photos_library"));
    const fs::path masters = library / "Masters";
    for (const KZPhotosAlbum& album : photosAlbumsWithPath(library)) {
        for (const KZPhotosImage& image : album.children) {
            positions.uuidByPath_.try_emplace((masters / bytesOf(image.imagePath)).lexically_normal().native(),
                                              image.uuid);
            const QString key = folded(image.uuid);
            if (!positions.albumByUUID_.contains(key))
                positions.albumByUUID_.insert(key, album.name);
        }
    }
    return positions;
}
