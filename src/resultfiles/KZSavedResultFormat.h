#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>
#include <QVariantMap>
#include <QtGlobal>

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <vector>

// The saved-result file: one binary property list. Every key string of the
// file lives here, and so do the only two conversions between the typed
// saved result and its property list, so the saver and the reader cannot
// drift apart. The key strings are a stored format: their spellings
// ("groupId" in items but "groupID" in view state, "searchStoppeByUser")
// must never be corrected.
namespace KZSavedResultKey {

// Root.
inline const QString items = QStringLiteral("items");
inline const QString leftSide = QStringLiteral("leftSide");
inline const QString rightSide = QStringLiteral("rightSide");
inline const QString deadTracks = QStringLiteral("deadTracks");
inline const QString emptyFolders = QStringLiteral("emptyFolders");
inline const QString sources = QStringLiteral("sources");
inline const QString genericInfo = QStringLiteral("genericInfo");

// Item records (items and empty folders).
inline const QString alias = QStringLiteral("alias");
inline const QString fileTypeTag = QStringLiteral("fileTypeTag");
inline const QString groupId = QStringLiteral("groupId");
inline const QString countOfItemsInGroup = QStringLiteral("countOfItemsInGroup");
inline const QString locationLabelTag = QStringLiteral("locationLabelTag");
inline const QString isMarked = QStringLiteral("isMarked");
inline const QString isPhotosItem = QStringLiteral("isPhotosItem");
inline const QString isiTunesItem = QStringLiteral("isiTunesItem");
inline const QString trackID = QStringLiteral("trackID");
// What the item was when saved, so a reopening can tell a file changed since.
inline const QString size = QStringLiteral("size");
inline const QString dateModified = QStringLiteral("dateModified"); // seconds since 1970, UTC
inline const QString dateCreated = QStringLiteral("dateCreated");   // the birth time, where the file system has one
inline const QString isFolder = QStringLiteral("isFolder");

// Missing-track records.
inline const QString songName = QStringLiteral("songName");
inline const QString album = QStringLiteral("album");
inline const QString artist = QStringLiteral("artist");
inline const QString path = QStringLiteral("path");

// Source records.
inline const QString excluded = QStringLiteral("excluded");
inline const QString excludedProgrammatically = QStringLiteral("excludedProgrammatically");
inline const QString isDisk = QStringLiteral("isDisk");
inline const QString isLocked = QStringLiteral("isLocked");
inline const QString isPhotosLib = QStringLiteral("isPhotosLib");
inline const QString isCurrentLibrary = QStringLiteral("isCurrentLibrary");
inline const QString librariesCount = QStringLiteral("librariesCount");
inline const QString iTunesLibValue = QStringLiteral("iTunesLibValue");
inline const QString totSize = QStringLiteral("totSize");
inline const QString freeSize = QStringLiteral("freeSize");
inline const QString isSmartFolder = QStringLiteral("isSmartFolder");
inline const QString wasSearched = QStringLiteral("wasSearched");

// Left side: the sources lists of the tabs.
inline const QString itemInfo = QStringLiteral("itemInfo");
inline const QString selection = QStringLiteral("selection");
inline const QString tag = QStringLiteral("tag");
inline const QString searchStoppeByUser = QStringLiteral("searchStoppeByUser");
inline const QString markedCount = QStringLiteral("markedCount");
inline const QString markedSize = QStringLiteral("markedSize");
inline const QString removedSize = QStringLiteral("removedSize");
inline const QString removedCount = QStringLiteral("removedCount");

// Right side: the item lists of the tabs.
inline const QString selectedTabTag = QStringLiteral("selectedTabTag");
inline const QString sortDescriptors = QStringLiteral("sortDescriptors");
inline const QString currSelectedSourceTag = QStringLiteral("currSelectedSourceTag");
inline const QString expandedByTag = QStringLiteral("expandedByTag");
inline const QString selectedItems = QStringLiteral("selectedItems");
inline const QString ascending = QStringLiteral("ascending");
inline const QString key = QStringLiteral("key");
inline const QString selector = QStringLiteral("selector");
inline const QString isExpanded = QStringLiteral("isExpanded");
inline const QString groupID = QStringLiteral("groupID");
inline const QString isGroupItem = QStringLiteral("isGroupItem");

// Generic info: the result-info keys and the view-by-group setting.
inline const QString checkedItemsCount = QStringLiteral("KZResultCheckedItemsCount");
inline const QString currentLocationLabel = QStringLiteral("KZResultCurrentLocationLabel");
inline const QString foundItemsCount = QStringLiteral("KZResultFoundItemsCount");
inline const QString foundItemsSize = QStringLiteral("KZResultFoundItemsSize");
inline const QString searchWasStoppedByUser = QStringLiteral("KZResultSearchWasStoppedByUser");
inline const QString searchedForFolders = QStringLiteral("KZResultSearchedForFolders");
inline const QString searchedInPhotos = QStringLiteral("KZResultSearchedInPhotos");
inline const QString searchedIniTunes = QStringLiteral("KZResultSearchedIniTunes");
inline const QString isEmptyFolders = QStringLiteral("KZResultIsEmptyFolders");
inline const QString photosLibraryPath = QStringLiteral("KZResultPhotosLibraryPath");
inline const QString itemsToCheckCount = QStringLiteral("KZResultItemsToCheckCount");
inline const QString showResultByGroup = QStringLiteral("show_result_by_group");

} // namespace KZSavedResultKey

struct KZSavedItem {
    QByteArray alias;
    quint64 fileTypeTag = 0;
    qint64 groupId = 0;
    // The group's members-left counter when saved. Stored as an integer of any
    // width; a reader must never trust it above the members it rebuilds.
    quint32 countOfItemsInGroup = 0;
    qint16 locationLabelTag = -1;
    bool isMarked = false;
    bool isPhotosItem = false;
    bool isiTunesItem = false;
    // A string (a Photos uuid) or an integer (a music-library track).
    std::optional<QVariant> trackID;
    // What the item was when saved; files of older versions lack some or
    // all of these, and a reopening compares only what is there.
    std::optional<quint64> size;
    std::optional<double> dateModified;
    std::optional<double> dateCreated;
    std::optional<bool> isFolder;

    bool operator==(const KZSavedItem&) const = default;
};

struct KZSavedDeadTrack {
    QString songName;
    QString album;
    QString artist;
    QString trackID;
    QString path;
    bool isMarked = false;

    bool operator==(const KZSavedDeadTrack&) const = default;
};

struct KZSavedSource {
    QByteArray alias;
    // Locations as their bytes, so a name that is not UTF-8 comes back intact.
    std::vector<std::filesystem::path> excluded;
    std::vector<std::filesystem::path> excludedProgrammatically;
    bool isDisk = false;
    bool isLocked = false;
    bool isPhotosLib = false;
    bool isCurrentLibrary = false;
    qint16 librariesCount = 0;
    qint16 iTunesLibValue = 0;
    quint64 totSize = 0;
    quint64 freeSize = 0;
    qint16 locationLabelTag = 0;
    bool isSmartFolder = false;
    bool wasSearched = false;

    bool operator==(const KZSavedSource&) const = default;
};

struct KZSavedSourceRow {
    quint64 tag = 0;
    bool isPhotosLib = false;
    bool searchStoppeByUser = false;
    quint64 markedCount = 0;
    quint64 markedSize = 0;
    quint64 removedSize = 0;
    quint64 removedCount = 0;

    bool operator==(const KZSavedSourceRow&) const = default;
};

struct KZSavedTabSources {
    std::vector<KZSavedSourceRow> sources;
    quint64 selection = 0; // the selected row's tag; 0 when none

    bool operator==(const KZSavedTabSources&) const = default;
};

struct KZSavedSortRecord {
    bool ascending = true;
    QString key;
    QString selector;

    bool operator==(const KZSavedSortRecord&) const = default;
};

struct KZSavedSelection {
    bool isGroupItem = false;
    qint64 groupID = 0;
    QString path; // items only

    bool operator==(const KZSavedSelection&) const = default;
};

struct KZSavedListState {
    std::map<quint64, std::vector<KZSavedSortRecord>> sortDescriptors; // by source tag
    quint64 currSelectedSourceTag = 0;
    // Absent when the list does not show groups or none is expanded.
    std::map<quint64, std::vector<qint64>> expandedByTag;
    std::map<quint64, std::vector<KZSavedSelection>> selectedItems;

    bool operator==(const KZSavedListState&) const = default;
};

struct KZSavedGenericInfo {
    std::optional<quint64> checkedItemsCount;
    std::optional<qint16> currentLocationLabel;
    std::optional<quint64> foundItemsCount;
    std::optional<quint64> foundItemsSize;
    std::optional<bool> searchWasStoppedByUser;
    std::optional<bool> searchedForFolders;
    std::optional<bool> searchedInPhotos;
    std::optional<bool> searchedIniTunes;
    std::optional<bool> isEmptyFolders;
    std::optional<QString> photosLibraryPath;
    std::optional<quint64> itemsToCheckCount;
    std::optional<bool> showResultByGroup;

    bool operator==(const KZSavedGenericInfo&) const = default;
};

struct KZSavedResult {
    std::vector<KZSavedItem> items;
    std::map<quint64, KZSavedTabSources> leftSide;  // by tab tag
    quint64 selectedTabTag = 0;
    std::map<quint64, KZSavedListState> rightSide;  // by tab tag
    std::optional<std::vector<KZSavedDeadTrack>> deadTracks;
    std::optional<std::vector<KZSavedItem>> emptyFolders;
    std::vector<KZSavedSource> sources;
    KZSavedGenericInfo genericInfo;

    bool operator==(const KZSavedResult&) const = default;
};

// What a lenient read left out.
struct KZSavedReadNotes {
    // Records (items, sources, rows, selections) and window-state parts that
    // did not read and were dropped.
    int droppedRecords = 0;
};

class KZSavedResultFormat {
public:
    // The file's file-name extension, without the dot.
    static const QString& fileExtension();

    // A tab or source tag as it keys a dictionary of the file.
    static QString tagKey(quint64 tag);

    // The root dictionary of the file. Empty "deadTracks" and "emptyFolders"
    // are left out, as are view-state parts with nothing in them.
    static QVariantMap toPropertyList(const KZSavedResult& result);

    // The typed result of a file's root. The file lives wherever the user put
    // it and may be damaged or made up: anything of the wrong type, a missing
    // key, or a number outside its field is refused with a reason naming the
    // place ("items[3].groupId: …"); nothing is guessed.
    // With `lenient`, only a root that is not a dictionary, items that are not
    // a non-empty array, or "sources" that is not an array refuse the file;
    // any other record or window-state part that does not read is dropped
    // and counted there.
    static std::optional<KZSavedResult> fromPropertyList(const QVariant& root, QString* error = nullptr,
                                                         KZSavedReadNotes* lenient = nullptr);

    // The file's bytes (a binary property list), and the way back.
    static QByteArray encode(const KZSavedResult& result, QString* error = nullptr);
    // The file's bytes handed to `write` in pieces, for a save that must not
    // hold a large file in memory twice; false when the result could not be
    // encoded (the reason in `error`) or `write` answered false.
    static bool encode(const KZSavedResult& result, const std::function<bool(const char*, size_t)>& write,
                       QString* error = nullptr);
    static std::optional<KZSavedResult> decode(const QByteArray& data, QString* error = nullptr,
                                               KZSavedReadNotes* lenient = nullptr);
};
