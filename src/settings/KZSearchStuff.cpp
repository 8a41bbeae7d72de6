#include "settings/KZSearchStuff.h"

#include "platform/Log.h"
#include "platform/PropertyList.h"
#include "platform/Resources.h"
#include "platform/UserDefaults.h"
#include "services/KZFilesUtilities.h"
#include "settings/KZDefaultsKeys.h"
#include "settings/KZPlistValue.h"

#include <QFile>

#include <algorithm>
#include <utility>

namespace fs = std::filesystem;
using namespace Qt::Literals::StringLiterals;

namespace {

std::mutex& sharedMutex()
{
    static std::mutex mutex;
    return mutex;
}

// Deliberately never destroyed at exit: it observes the user defaults, whose
// own destruction order at exit is not ours to know.
KZSearchStuff*& sharedSlot()
{
    static KZSearchStuff* shared = nullptr;
    return shared;
}

// "/a//b/" and "/a/b" name one folder; ".." is kept, since a symbolic link may
// stand before it.
fs::path normalLocation(const fs::path& location)
{
    fs::path out;
    for (const fs::path& part : location) {
        if (part.empty() || part == ".")
            continue;
        out /= part;
    }
    return out;
}

QString criteriaKey(quint64 type)
{
    return QString::number(type);
}

// The file utilities sit below this layer and ask through this hook. It is in
// place from start-up, not from the making of the shared request: a folder
// dropped before any search must already meet the excluded locations, and
// asking is what makes the shared request. It always reaches whichever
// instance is shared at the time.
[[maybe_unused]] const bool globalExclusionsHookInstalled = [] {
    KZFilesUtilities::setGlobalExclusionsProvider([] { return KZSearchStuff::sharedControl().globalExclusions(); });
    return true;
}();

} // namespace

// ---- Instances -----------------------------------------------------------------

KZSearchStuff& KZSearchStuff::sharedControl()
{
    std::lock_guard lock(sharedMutex());
    KZSearchStuff*& shared = sharedSlot();
    if (!shared)
        shared = new KZSearchStuff(SharedTag{});
    return *shared;
}

void KZSearchStuff::setSharedControl(std::unique_ptr<KZSearchStuff> instance)
{
    KZSearchStuff* old = nullptr;
    {
        std::lock_guard lock(sharedMutex());
        old = std::exchange(sharedSlot(), instance.release());
    }
    delete old;
}

std::shared_ptr<KZSearchStuff> KZSearchStuff::searchStuff()
{
    return std::make_shared<KZSearchStuff>();
}

KZSearchStuff::KZSearchStuff() = default;

KZSearchStuff::KZSearchStuff(SharedTag)
{
    observerIsRegistered_ = true;
    // The callback gets the new rows themselves, so it never reads the
    // defaults back while they may be busy notifying.
    locationsObservation_ = platform::UserDefaults::standard().observe(
        KZDefaultsKey::locations_excluded, [this](const QVariant& rows) {
            replaceGlobalExclusions(checkedLocations(KZPlistValue::toList(rows)), true);
        });
}

KZSearchStuff::~KZSearchStuff()
{
    // Ends the observation before the members it writes go away.
    locationsObservation_.cancel();
}

// ---- Properties --------------------------------------------------------------------

std::vector<KZSourceItemRef> KZSearchStuff::sources() const
{
    std::lock_guard lock(mutex_);
    return sources_;
}

void KZSearchStuff::setSources(std::vector<KZSourceItemRef> sources)
{
    std::lock_guard lock(mutex_);
    sources_ = std::move(sources);
}

std::vector<fs::path> KZSearchStuff::exludedByLocation() const
{
    std::lock_guard lock(mutex_);
    return exludedByLocation_;
}

void KZSearchStuff::setExludedByLocation(std::vector<fs::path> locations)
{
    std::lock_guard lock(mutex_);
    exludedByLocation_ = std::move(locations);
}

void KZSearchStuff::addExcludedLocations(const std::vector<fs::path>& locations)
{
    std::lock_guard lock(mutex_);
    exludedByLocation_.insert(exludedByLocation_.end(), locations.begin(), locations.end());
}

quint64 KZSearchStuff::exclLocsCount() const
{
    std::lock_guard lock(mutex_);
    return exclLocsCount_;
}

void KZSearchStuff::setExclLocsCount(quint64 count)
{
    std::lock_guard lock(mutex_);
    exclLocsCount_ = count;
}

QStringList KZSearchStuff::exludedByExtensions() const
{
    std::lock_guard lock(mutex_);
    return exludedByExtensions_;
}

void KZSearchStuff::setExludedByExtensions(QStringList extensions)
{
    std::lock_guard lock(mutex_);
    exludedByExtensions_ = std::move(extensions);
}

std::optional<QVariantMap> KZSearchStuff::criteria() const
{
    std::lock_guard lock(mutex_);
    return criteria_;
}

void KZSearchStuff::setCriteria(std::optional<QVariantMap> criteria)
{
    std::lock_guard lock(mutex_);
    criteria_ = std::move(criteria);
}

quint64 KZSearchStuff::searchType() const
{
    std::lock_guard lock(mutex_);
    return searchType_;
}

void KZSearchStuff::setSearchType(quint64 type)
{
    std::lock_guard lock(mutex_);
    searchType_ = type;
}

bool KZSearchStuff::isASearchForEmptyFoldersAfterTrashed() const
{
    std::lock_guard lock(mutex_);
    return isASearchForEmptyFoldersAfterTrashed_;
}

void KZSearchStuff::setIsASearchForEmptyFoldersAfterTrashed(bool value)
{
    std::lock_guard lock(mutex_);
    isASearchForEmptyFoldersAfterTrashed_ = value;
}

bool KZSearchStuff::observerIsRegistered() const
{
    std::lock_guard lock(mutex_);
    return observerIsRegistered_;
}

void KZSearchStuff::setObserverIsRegistered(bool value)
{
    std::lock_guard lock(mutex_);
    observerIsRegistered_ = value;
}

// ---- Exclusions ----------------------------------------------------------------------

QStringList KZSearchStuff::checkedLocations(const QVariantList& rows)
{
    QStringList locations;
    for (const QVariant& row : rows) {
        const QVariantMap map = KZPlistValue::toMap(row);
        if (!KZPlistValue::boolValue(map, KZDefaultsRowKey::check_col))
            continue;
        // A row without a path names no location; leaving it out keeps an
        // empty path from ever reaching the scan.
        const QString location = KZPlistValue::stringValue(map, KZDefaultsRowKey::locations_excl);
        if (!location.isEmpty())
            locations.append(location);
    }
    return locations;
}

QStringList KZSearchStuff::checkedExtensions(const QVariantList& rows)
{
    QStringList extensions;
    for (const QVariant& row : rows) {
        const QVariantMap map = KZPlistValue::toMap(row);
        if (!KZPlistValue::boolValue(map, KZDefaultsRowKey::check_col))
            continue;
        const QVariant text = map.value(KZDefaultsRowKey::extensions_excl);
        if (text.typeId() == QMetaType::QString)
            extensions.append(text.toString().split(u','));
    }
    return extensions;
}

QStringList KZSearchStuff::preferencesLocationArray() const
{
    return checkedLocations(platform::UserDefaults::standard().arrayForKey(KZDefaultsKey::locations_excluded));
}

QStringList KZSearchStuff::preferencesExtensionArray() const
{
    return checkedExtensions(platform::UserDefaults::standard().arrayForKey(KZDefaultsKey::extensions_excluded));
}

std::vector<fs::path> KZSearchStuff::globalExclusions()
{
    // The preferences are read before our lock is taken: the defaults may call
    // back into us while holding their own.
    replaceGlobalExclusions(preferencesLocationArray(), false);
    return exludedByLocation();
}

void KZSearchStuff::replaceGlobalExclusions(const QStringList& preferenceLocations, bool replace)
{
    std::vector<fs::path> globals = KZFilesUtilities::sharedControl().visibleSystemPaths();
    // The preferences hold paths as text, the only form a property list has.
    for (const QString& location : preferenceLocations)
        globals.push_back(fs::path(QFile::encodeName(location).toStdString()));

    std::lock_guard lock(mutex_);
    if (replace)
        exludedByLocation_.clear();
    for (const fs::path& global : globals) {
        const fs::path normal = normalLocation(global);
        if (normal.empty())
            continue;
        const bool listed = std::any_of(exludedByLocation_.begin(), exludedByLocation_.end(),
                                        [&](const fs::path& entry) { return normalLocation(entry) == normal; });
        if (!listed)
            exludedByLocation_.push_back(normal);
    }
    exclLocsCount_ = exludedByLocation_.size();
}

// ---- Criteria ------------------------------------------------------------------------

std::optional<QVariantMap> KZSearchStuff::criteriaWithTag(quint64 type)
{
    const QStringList extensions = preferencesExtensionArray();
    setExludedByExtensions(extensions);

    const fs::path file = platform::resourcePath("criteria.plist");
    if (file.empty()) {
        platform::logLine(u"criteriaWithTag: the preset criteria file \"criteria.plist\" is missing"_s);
        return std::nullopt;
    }
    QString error;
    const std::optional<QVariant> presets = platform::PropertyList::readFile(file, &error);
    if (!presets || presets->typeId() != QMetaType::QVariantMap) {
        platform::logLine(u"criteriaWithTag: cannot read the preset criteria file: "_s
                          + (error.isEmpty() ? u"not a dictionary"_s : error));
        return std::nullopt;
    }
    const QVariant entry = presets->toMap().value(criteriaKey(type));
    if (entry.typeId() != QMetaType::QVariantMap) {
        platform::logLine(u"criteriaWithTag: no preset criteria for search type "_s + criteriaKey(type));
        return std::nullopt;
    }
    QVariantMap criteria = entry.toMap();

    if (type == duplicateFiles && !extensions.isEmpty()) {
        // Without a group of its own in the preset the extensions still travel,
        // in a group that stays switched off.
        QVariantMap extensionStruct = KZPlistValue::mapValue(criteria, u"extensionStruct"_s);
        QVariantList array;
        for (const QString& extension : extensions)
            array.append(extension);
        extensionStruct.insert(u"array"_s, array);
        criteria.insert(u"extensionStruct"_s, extensionStruct);
    }
    return criteria;
}

void KZSearchStuff::createCriteria()
{
    const quint64 type = searchType();
    std::optional<QVariantMap> criteria = criteriaWithTag(type);
    std::lock_guard lock(mutex_);
    isASearchForEmptyFoldersAfterTrashed_ = false;
    criteria_ = std::move(criteria);
}

void KZSearchStuff::createEmptyFoldersCriteria()
{
    QVariantMap criteria = emptyCriteria();
    criteria.insert(u"isFolder"_s, true);
    criteria.insert(u"folderStruct"_s, QVariantMap{{u"whichItem"_s, qint64(1)},
                                                    {u"excludeCustomIcon"_s, qint64(0)},
                                                    {u"neastedEmptied"_s, qint64(1)}});
    std::lock_guard lock(mutex_);
    isASearchForEmptyFoldersAfterTrashed_ = true;
    criteria_ = std::move(criteria);
}

QVariantMap KZSearchStuff::emptyCriteria()
{
    QVariantMap criteria;
    for (const char16_t* key :
         {u"isCameraModel", u"isPixelsSize", u"isLocationTaken", u"isDateTaken", u"isYear", u"isVisibility",
          u"isType", u"isSpecial", u"isSongName", u"isSize", u"isPermissions", u"isName", u"isModified",
          u"isLocked", u"isLabel", u"isKind", u"isHasCustomIcon", u"isGenre", u"isFolder", u"isExtension",
          u"isEmptyFile", u"isDuration", u"isCreator", u"isCreated", u"isContent", u"isAlbum", u"isArtist"})
        criteria.insert(QString::fromUtf16(key), false);
    criteria.insert(u"songOptionsStruct"_s, QVariantMap{{u"isMp3"_s, true},
                                                         {u"isAAC"_s, true},
                                                         {u"isReportDeads"_s, false},
                                                         {u"isPlaylist"_s, false},
                                                         {u"playlistName"_s, false}});
    criteria.insert(u"photoOptionsStruct"_s, QVariantMap{{u"isReportDeads"_s, false},
                                                          {u"isCreateAlbum"_s, false},
                                                          {u"albumName"_s, false}});
    return criteria;
}
