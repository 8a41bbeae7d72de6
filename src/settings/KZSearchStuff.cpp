#include "settings/KZSearchStuff.h"

#include "platform/Log.h"
#include "platform/Paths.h"
#include "platform/PropertyList.h"
#include "platform/Resources.h"
#include "platform/SharedInstance.h"
#include "platform/UserDefaults.h"
#include "services/KZFilesUtilities.h"
#include "settings/KZDefaultsKeys.h"
#include "settings/KZPlistValue.h"
#include "settings/KZSearchCriteria.h"

#include <algorithm>
#include <utility>

namespace fs = std::filesystem;
using namespace Qt::Literals::StringLiterals;

namespace {

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

platform::SharedInstance<KZSearchStuff>& KZSearchStuff::sharedInstance()
{
    // It observes the user defaults, whose own destruction order at exit is
    // not ours to know: a shared instance that is never destroyed suits it.
    static platform::SharedInstance<KZSearchStuff> instance(
        [] { return std::unique_ptr<KZSearchStuff>(new KZSearchStuff(SharedTag{})); });
    return instance;
}

KZSearchStuff& KZSearchStuff::sharedControl()
{
    return sharedInstance().get();
}

void KZSearchStuff::setSharedControl(std::unique_ptr<KZSearchStuff> instance)
{
    sharedInstance().replace(std::move(instance));
}

std::shared_ptr<KZSearchStuff> KZSearchStuff::searchStuff()
{
    return std::make_shared<KZSearchStuff>();
}

KZSearchStuff::KZSearchStuff() = default;

KZSearchStuff::KZSearchStuff(SharedTag)
{
    setObserverIsRegistered(true);
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

void KZSearchStuff::addExcludedLocations(const std::vector<fs::path>& locations)
{
    fields_.with([&](Fields& fields) {
        // A list already counted to its end stays counted to its end: the
        // scan reads only the counted entries, and a location appended after
        // the global ones (the music library's media folder) would otherwise
        // be listed, told to the user and walked all the same.
        const bool countedToEnd = fields.exclLocsCount >= fields.exludedByLocation.size();
        fields.exludedByLocation.insert(fields.exludedByLocation.end(), locations.begin(), locations.end());
        if (countedToEnd)
            fields.exclLocsCount = fields.exludedByLocation.size();
    });
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
        globals.push_back(platform::pathFromText(location));

    fields_.with([&](Fields& fields) {
        std::vector<fs::path>& listed = fields.exludedByLocation;
        if (replace)
            listed.clear();
        for (const fs::path& global : globals) {
            const fs::path normal = normalLocation(global);
            if (normal.empty())
                continue;
            if (std::none_of(listed.begin(), listed.end(),
                             [&](const fs::path& entry) { return normalLocation(entry) == normal; }))
                listed.push_back(normal);
        }
        fields.exclLocsCount = listed.size();
    });
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
        QVariantMap extensionStruct = KZPlistValue::mapValue(criteria, KZCriteriaKey::extensionStruct);
        QVariantList array;
        for (const QString& extension : extensions)
            array.append(extension);
        extensionStruct.insert(KZCriteriaKey::array, array);
        criteria.insert(KZCriteriaKey::extensionStruct, extensionStruct);
    }
    return criteria;
}

void KZSearchStuff::createCriteria()
{
    const quint64 type = searchType();
    std::optional<QVariantMap> criteria = criteriaWithTag(type);
    fields_.with([&](Fields& fields) {
        fields.isASearchForEmptyFoldersAfterTrashed = false;
        fields.criteria = std::move(criteria);
    });
}

void KZSearchStuff::createEmptyFoldersCriteria()
{
    QVariantMap criteria = emptyCriteria();
    criteria.insert(KZCriteriaKey::isFolder, true);
    criteria.insert(KZCriteriaKey::folderStruct, QVariantMap{{KZCriteriaKey::whichItem, qint64(1)},
                                                    {KZCriteriaKey::excludeCustomIcon, qint64(0)},
                                                    {KZCriteriaKey::neastedEmptied, qint64(1)}});
    fields_.with([&](Fields& fields) {
        fields.isASearchForEmptyFoldersAfterTrashed = true;
        fields.criteria = std::move(criteria);
    });
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
    criteria.insert(KZCriteriaKey::songOptionsStruct, QVariantMap{{KZCriteriaKey::isMp3, true},
                                                         {KZCriteriaKey::isAAC, true},
                                                         {KZCriteriaKey::isReportDeads, false},
                                                         {KZCriteriaKey::isPlaylist, false},
                                                         {KZCriteriaKey::playlistName, false}});
    criteria.insert(KZCriteriaKey::photoOptionsStruct, QVariantMap{{KZCriteriaKey::isReportDeads, false},
                                                          {KZCriteriaKey::isCreateAlbum, false},
                                                          {KZCriteriaKey::albumName, false}});
    return criteria;
}
