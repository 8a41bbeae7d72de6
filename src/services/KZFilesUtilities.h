#pragma once

#include "services/KZFileKinds.h"
#include "services/KZFolderSizes.h"
#include "services/KZItemInspection.h"
#include "services/KZPlaceholderImages.h"
#include "services/KZTrashFolders.h"

#include <memory>

// The process-wide file-system service, kept as the one entry point its many
// callers share. It holds no state: each method forwards to the namespace of
// its topic, whose header documents it (KZItemInspection, KZFileKinds,
// KZFolderSizes, KZTrashFolders, KZPlaceholderImages). Safe from any thread;
// the shared instance and separately made ones answer alike.
class KZFilesUtilities {
public:
    KZFilesUtilities() = default;
    static KZFilesUtilities& sharedControl();
    // Replaces the shared instance (tests); nullptr makes the next call build
    // a fresh one. The shared instance is never destroyed at exit
    // (platform::SharedInstance).
    static void setSharedControl(std::unique_ptr<KZFilesUtilities> instance);

    using ResourceKey = KZItemInspection::ResourceKey;
    std::optional<QString> itemNameWithURL(const std::filesystem::path& path) const
    {
        return KZItemInspection::itemNameWithURL(path);
    }
    QVariant attributeWithURL(const std::filesystem::path& path, ResourceKey key) const
    {
        return KZItemInspection::attributeWithURL(path, key);
    }
    std::filesystem::path parentDirectoryWithURL(const std::filesystem::path& path) const
    {
        return KZItemInspection::parentDirectoryWithURL(path);
    }
    bool isPackageWithURL(const std::filesystem::path& path) const { return KZItemInspection::isPackageWithURL(path); }
    bool isApplicationWithURL(const std::filesystem::path& path) const
    {
        return KZItemInspection::isApplicationWithURL(path);
    }
    bool isAliasWithURL(const std::filesystem::path& path) const { return KZItemInspection::isAliasWithURL(path); }
    bool isDirectoryWithURL(const std::filesystem::path& path) const
    {
        return KZItemInspection::isDirectoryWithURL(path);
    }
    bool isHiddenWithURL(const std::filesystem::path& path) const { return KZItemInspection::isHiddenWithURL(path); }
    bool isVolumeWithURL(const std::filesystem::path& path) const { return KZItemInspection::isVolumeWithURL(path); }
    bool isVolumeLockedWithURL(const std::filesystem::path& path) const
    {
        return KZItemInspection::isVolumeLockedWithURL(path);
    }
    quint64 volumeCapacityWithURL(const std::filesystem::path& path) const
    {
        return KZItemInspection::volumeCapacityWithURL(path);
    }
    quint64 volumeFreeCapacityWithURL(const std::filesystem::path& path) const
    {
        return KZItemInspection::volumeFreeCapacityWithURL(path);
    }
    std::optional<quint64> volumeIDWithItemURL(const std::filesystem::path& path) const
    {
        return KZItemInspection::volumeIDWithItemURL(path);
    }
    std::filesystem::path pathWithURL(const std::filesystem::path& path, int* posixError = nullptr) const
    {
        return KZItemInspection::pathWithURL(path, posixError);
    }
    bool isLockedWithURL(const std::filesystem::path& path) const { return KZItemInspection::isLockedWithURL(path); }
    KZObjectID directoryIDWithURL(const std::filesystem::path& path) const
    {
        return KZItemInspection::directoryIDWithURL(path);
    }
    QString normalizeString(const QString& string) const { return KZItemInspection::normalizeString(string); }
    using PathOrURL = KZItemInspection::PathOrURL;
    std::vector<PathOrURL> URLsToPaths(const QList<QUrl>& urls) const { return KZItemInspection::URLsToPaths(urls); }
    PathOrURL URLsToPaths(const QUrl& url) const { return KZItemInspection::URLsToPaths(url); }
    static std::filesystem::path pathFromFileURL(const QUrl& url) { return KZItemInspection::pathFromFileURL(url); }
    static std::filesystem::path pathOfLocalFileURL(const QString& text)
    {
        return KZItemInspection::pathOfLocalFileURL(text);
    }
    static QUrl fileURLWithPath(const std::filesystem::path& path) { return KZItemInspection::fileURLWithPath(path); }
    QString appNameWithIdentifier(const QString& bundleIdentifier) const
    {
        return KZItemInspection::appNameWithIdentifier(bundleIdentifier);
    }
    std::optional<std::filesystem::path> iTunesFolderLocationPath() const
    {
        return KZItemInspection::iTunesFolderLocationPath();
    }
    qint16 isiTunesURL(const std::filesystem::path& path) const { return KZItemInspection::isiTunesURL(path); }
    std::optional<QVariantMap> directoryInfoForPath(const std::filesystem::path& path) const
    {
        return KZItemInspection::directoryInfoForPath(path);
    }
    std::optional<QVariantMap> fastDirectoryInfoForPath(const std::filesystem::path& path) const
    {
        return KZItemInspection::fastDirectoryInfoForPath(path);
    }
    QStringList invisibleSystemItems() const { return KZItemInspection::invisibleSystemItems(); }
    QStringList visibleSystemItems() const { return KZItemInspection::visibleSystemItems(); }
    std::vector<std::filesystem::path> visibleSystemPaths() const { return KZItemInspection::visibleSystemPaths(); }
    QString removeSlashesFromFileSystemName(const QString& name, quint16* foundCount = nullptr) const
    {
        return KZItemInspection::removeSlashesFromFileSystemName(name, foundCount);
    }
    std::filesystem::path setAbsolutePath(const std::filesystem::path& path) const
    {
        return KZItemInspection::setAbsolutePath(path);
    }
    std::filesystem::path removeFirstPathComponent(const std::filesystem::path& path,
                                                   const std::string& prefix = {}) const
    {
        return KZItemInspection::removeFirstPathComponent(path, prefix);
    }
    std::filesystem::path removeFirstPathComponentWithURL(const std::filesystem::path& path,
                                                          const std::string& prefix = {}) const
    {
        return KZItemInspection::removeFirstPathComponentWithURL(path, prefix);
    }
    static void setiTunesFolderProvider(std::function<std::filesystem::path()> provider)
    {
        KZItemInspection::setiTunesFolderProvider(std::move(provider));
    }
    static void setGlobalExclusionsProvider(std::function<std::vector<std::filesystem::path>()> provider)
    {
        KZItemInspection::setGlobalExclusionsProvider(std::move(provider));
    }
    std::filesystem::path urlWithDataAlias(const QByteArray& bookmark) const
    {
        return KZItemInspection::urlWithDataAlias(bookmark);
    }

    QImage placeholderImageWithSize(QSize size) const { return KZPlaceholderImages::placeholderImageWithSize(size); }
    QImage ghostIconWithIcon(const QImage& icon, QSize size) const
    {
        return KZPlaceholderImages::ghostIconWithIcon(icon, size);
    }

    QString imagesExtensions() const { return KZFileKinds::imagesExtensions(); }
    QStringList arrayImagesExtensions() const { return KZFileKinds::arrayImagesExtensions(); }
    QString imagesTypes() const { return KZFileKinds::imagesTypes(); }
    QStringList imagesOSTypesArray() const { return KZFileKinds::imagesOSTypesArray(); }
    QString imagesForContentCheckTypes() const { return KZFileKinds::imagesForContentCheckTypes(); }
    QStringList imagesContentCheckExtensions() const { return KZFileKinds::imagesContentCheckExtensions(); }
    QString musicExtensions() const { return KZFileKinds::musicExtensions(); }
    QStringList arrayMusicExtensions() const { return KZFileKinds::arrayMusicExtensions(); }
    QStringList musicOSTypesArray() const { return KZFileKinds::musicOSTypesArray(); }
    QString moviesExtensions() const { return KZFileKinds::moviesExtensions(); }
    QStringList arrayMoviesExtensions() const { return KZFileKinds::arrayMoviesExtensions(); }
    QStringList moviesOSTypesArray() const { return KZFileKinds::moviesOSTypesArray(); }
    QString archiveExtensions() const { return KZFileKinds::archiveExtensions(); }
    QStringList arrayArchiveExtensions() const { return KZFileKinds::arrayArchiveExtensions(); }
    QStringList archiveOSTYpesArray() const { return KZFileKinds::archiveOSTYpesArray(); }
    QString documentExtensions() const { return KZFileKinds::documentExtensions(); }
    QStringList arrayDocumentExtensions() const { return KZFileKinds::arrayDocumentExtensions(); }
    QStringList documentOSTypesArray() const { return KZFileKinds::documentOSTypesArray(); }
    using StringGetter = QString (KZFilesUtilities::*)() const;
    std::vector<quint32> typesFormattedToCheckWithSelector(StringGetter getter) const
    {
        return getter ? KZFileKinds::typesFormattedToCheck((this->*getter)()) : std::vector<quint32>();
    }
    QStringList extensionsFormattedToCheckWithSelector(StringGetter getter) const
    {
        return getter ? KZFileKinds::extensionsFormattedToCheck((this->*getter)()) : QStringList();
    }
    bool isImage(quint32 type, const QString& extension) const { return KZFileKinds::isImage(type, extension); }
    bool isSound(quint32 type, const QString& extension) const { return KZFileKinds::isSound(type, extension); }
    bool isCompressed(quint32 type, const QString& extension) const
    {
        return KZFileKinds::isCompressed(type, extension);
    }

    ItemSizeInfo iterateFolderForSize(const std::filesystem::path& folder, quint64* itemsFound,
                                      const KZStopSource* stop = nullptr) const
    {
        return KZFolderSizes::iterateFolderForSize(folder, itemsFound, stop);
    }
    ItemSizeInfo iterateFolderForSize(const std::filesystem::path& folder, const KZStopSource* stop,
                                      ItemCountInfo* itemsFound, bool incrementCount) const
    {
        return KZFolderSizes::iterateFolderForSize(folder, stop, itemsFound, incrementCount);
    }
    bool cantBeCalculated(const QString& name) const { return KZFolderSizes::cantBeCalculated(name); }
    static bool isFolderMetadataName(std::string_view name) { return KZFolderSizes::isFolderMetadataName(name); }
    std::filesystem::path startupTrashURL() const { return KZTrashFolders::startupTrashURL(); }
    std::filesystem::path trashURLForItemURL(const std::filesystem::path& path) const
    {
        return KZTrashFolders::trashURLForItemURL(path);
    }
};
