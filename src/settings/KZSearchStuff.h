#pragma once

#include "platform/Guarded.h"
#include "platform/Subscription.h"
#include "settings/KZSourceItem.h"

#include <QMetaType>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>
#include <QtGlobal>

#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

namespace platform {
template <typename T>
class SharedInstance;
}

// One search request: the sources, the type of search, the criteria
// dictionary and the locations and extensions left out. The search window
// fills one for every search, the result window one for the follow-up search
// for emptied folders; the engine reads it and the result keeps it for saving.
//
// The shared instance holds the global location exclusions outside any
// search (the open panel, the file utilities' quick folder information) and
// refills them whenever the "locations_excluded" preference changes.
//
// Every accessor takes the request's lock and hands out copies
// (platform::Guarded), so a request may be read from the engine's threads
// while it is being filled elsewhere.
class KZSearchStuff {
public:
    // Search types.
    static constexpr quint64 duplicateFiles = 0;
    static constexpr quint64 duplicateFolders = 1;

    // The shared instance, made on first use, also when that use is the file
    // utilities asking for the global exclusions.
    static KZSearchStuff& sharedControl();
    // Replaces the shared instance (tests); nullptr makes the next call build a
    // fresh one. Replace the standard user defaults only after this, since
    // the shared instance observes them.
    static void setSharedControl(std::unique_ptr<KZSearchStuff> instance);

    // A new request: no sources, no exclusions, no criteria.
    static std::shared_ptr<KZSearchStuff> searchStuff();

    KZSearchStuff();
    ~KZSearchStuff();
    KZSearchStuff(const KZSearchStuff&) = delete;
    KZSearchStuff& operator=(const KZSearchStuff&) = delete;

    std::vector<KZSourceItemRef> sources() const { return fields_.get(&Fields::sources); }
    void setSources(std::vector<KZSourceItemRef> sources) { fields_.set(&Fields::sources, std::move(sources)); }

    // Locations no source descends into; the scan consults the first
    // exclLocsCount() of them.
    std::vector<std::filesystem::path> exludedByLocation() const { return fields_.get(&Fields::exludedByLocation); }
    void setExludedByLocation(std::vector<std::filesystem::path> locations)
    {
        fields_.set(&Fields::exludedByLocation, std::move(locations));
    }
    // Appends `locations` as they are (a source's own excluded folders).
    // A list counted to its end (as globalExclusions() leaves it) stays
    // counted to its end.
    void addExcludedLocations(const std::vector<std::filesystem::path>& locations);
    quint64 exclLocsCount() const { return fields_.get(&Fields::exclLocsCount); }
    void setExclLocsCount(quint64 count) { fields_.set(&Fields::exclLocsCount, count); }

    QStringList exludedByExtensions() const { return fields_.get(&Fields::exludedByExtensions); }
    void setExludedByExtensions(QStringList extensions) { fields_.set(&Fields::exludedByExtensions, std::move(extensions)); }

    // Empty when no criteria could be had (a missing preset file).
    std::optional<QVariantMap> criteria() const { return fields_.get(&Fields::criteria); }
    void setCriteria(std::optional<QVariantMap> criteria) { fields_.set(&Fields::criteria, std::move(criteria)); }

    quint64 searchType() const { return fields_.get(&Fields::searchType); }
    void setSearchType(quint64 type) { fields_.set(&Fields::searchType, type); }
    bool isASearchForEmptyFoldersAfterTrashed() const { return fields_.get(&Fields::isASearchForEmptyFoldersAfterTrashed); }
    void setIsASearchForEmptyFoldersAfterTrashed(bool value)
    {
        fields_.set(&Fields::isASearchForEmptyFoldersAfterTrashed, value);
    }
    bool observerIsRegistered() const { return fields_.get(&Fields::observerIsRegistered); }
    void setObserverIsRegistered(bool value) { fields_.set(&Fields::observerIsRegistered, value); }

    // Appends the visible system paths and the checked locations of the
    // preferences, each unless an equal location is already listed; then
    // every entry, old or new, counts for exclLocsCount(). Answers the list.
    std::vector<std::filesystem::path> globalExclusions();

    // The checked rows of "locations_excluded": their paths, in row order.
    QStringList preferencesLocationArray() const;
    // The checked rows of "extensions_excluded": their extensions split at
    // ",", untrimmed, in row order.
    QStringList preferencesExtensionArray() const;

    // The preset criteria of the search type, with the excluded extensions of
    // the preferences for duplicate files. Empty when the preset file cannot
    // be read or has no entry for the type.
    std::optional<QVariantMap> criteriaWithTag(quint64 type);
    void createCriteria();
    void createEmptyFoldersCriteria();
    // Every criterion off.
    static QVariantMap emptyCriteria();

    // Row readers shared with the observation of the preferences.
    static QStringList checkedLocations(const QVariantList& rows);
    static QStringList checkedExtensions(const QVariantList& rows);

private:
    struct SharedTag {};
    explicit KZSearchStuff(SharedTag);
    static platform::SharedInstance<KZSearchStuff>& sharedInstance();
    void replaceGlobalExclusions(const QStringList& preferenceLocations, bool replace);

    struct Fields {
        std::vector<KZSourceItemRef> sources;
        std::vector<std::filesystem::path> exludedByLocation;
        quint64 exclLocsCount = 0;
        QStringList exludedByExtensions;
        std::optional<QVariantMap> criteria;
        quint64 searchType = duplicateFiles;
        bool isASearchForEmptyFoldersAfterTrashed = false;
        bool observerIsRegistered = false;
    };
    platform::Guarded<Fields> fields_;

    platform::Subscription locationsObservation_;
};

// Result-info maps carry requests as this type.
using KZSearchStuffRef = std::shared_ptr<KZSearchStuff>;
Q_DECLARE_METATYPE(KZSearchStuffRef)
