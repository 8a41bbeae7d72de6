#pragma once

#include <QSet>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <QtGlobal>

#include <atomic>
#include <optional>
#include <utility>
#include <vector>

// Keys inside the criteria dictionary that more than one reader or writer
// spells: the operator of a group, its values, and the option groups.
namespace KZCriteriaKey {

inline const QString whichItem = QStringLiteral("whichItem");
inline const QString string = QStringLiteral("string");
inline const QString date = QStringLiteral("date");
inline const QString betweenDate = QStringLiteral("betweenDate");
inline const QString array = QStringLiteral("array");
inline const QString extensionStruct = QStringLiteral("extensionStruct");
inline const QString folderStruct = QStringLiteral("folderStruct");
inline const QString excludeCustomIcon = QStringLiteral("excludeCustomIcon");
inline const QString neastedEmptied = QStringLiteral("neastedEmptied");
inline const QString isFolder = QStringLiteral("isFolder");
inline const QString songOptionsStruct = QStringLiteral("songOptionsStruct");
inline const QString isMp3 = QStringLiteral("isMp3");
inline const QString isAAC = QStringLiteral("isAAC");
inline const QString isReportDeads = QStringLiteral("isReportDeads");
inline const QString isPlaylist = QStringLiteral("isPlaylist");
inline const QString playlistName = QStringLiteral("playlistName");
inline const QString photoOptionsStruct = QStringLiteral("photoOptionsStruct");
inline const QString isCreateAlbum = QStringLiteral("isCreateAlbum");
inline const QString albumName = QStringLiteral("albumName");

} // namespace KZCriteriaKey

// Every boolean flag of the criteria that is a plain field, as
// X(getter, SetterSuffix). isDeads and isImageContent are not listed: the
// engine changes them while its workers read, so they are atomic (below).
#define KZ_CRITERIA_FLAGS(X)                                                                        \
    /* name */                                                                                      \
    X(isSameName, IsSameName) X(isUniqueName, IsUniqueName) X(isNameContains, IsNameContains)       \
    X(isNameStart, IsNameStart) X(isNameEnd, IsNameEnd) X(isNameIs, IsNameIs)                       \
    X(nameIsNot, NameIsNot) X(nameDoesntContains, NameDoesntContains)                               \
    X(noExtensionCompare, NoExtensionCompare) X(isExcludeExpression, IsExcludeExpression)           \
    /* modification date */                                                                         \
    X(isSameModified, IsSameModified) X(isUniqueModified, IsUniqueModified)                         \
    X(isModifiedIs, IsModifiedIs) X(isModifiedBefore, IsModifiedBefore)                             \
    X(isModifiedAfter, IsModifiedAfter) X(isModifiedNot, IsModifiedNot)                             \
    X(isModifiedToday, IsModifiedToday) X(isModifiedYesterday, IsModifiedYesterday)                 \
    X(isModifiedBetween, IsModifiedBetween) X(isModifiedNotBetween, IsModifiedNotBetween)           \
    /* creation date */                                                                             \
    X(isSameCreated, IsSameCreated) X(isUniqueCreated, IsUniqueCreated)                             \
    X(isCreatedIs, IsCreatedIs) X(isCreatedBefore, IsCreatedBefore)                                 \
    X(isCreatedAfter, IsCreatedAfter) X(isCreatedNot, IsCreatedNot)                                 \
    X(isCreatedToday, IsCreatedToday) X(isCreatedYesterday, IsCreatedYesterday)                     \
    X(isCreatedBetween, IsCreatedBetween) X(isCreatedNotBetween, IsCreatedNotBetween)               \
    /* type */                                                                                      \
    X(isSameType, IsSameType) X(isUniqueType, IsUniqueType) X(isTypeIs, IsTypeIs)                   \
    X(isTypeNot, IsTypeNot)                                                                         \
    /* extension */                                                                                 \
    X(isSameExtension, IsSameExtension) X(isUniqueExtension, IsUniqueExtension)                     \
    X(isExtensionIs, IsExtensionIs) X(isExtensionNot, IsExtensionNot)                               \
    /* creator */                                                                                   \
    X(isSameCreator, IsSameCreator) X(isUniqueCreator, IsUniqueCreator)                             \
    X(isCreatorIs, IsCreatorIs) X(isCreatorNot, IsCreatorNot)                                       \
    /* size */                                                                                      \
    X(isSameSize, IsSameSize) X(isUniqueSize, IsUniqueSize) X(isLimitSize, IsLimitSize)             \
    X(isLimitSizeLessOrEqual, IsLimitSizeLessOrEqual)                                               \
    X(isLimitSizeGreaterOrEqual, IsLimitSizeGreaterOrEqual)                                         \
    X(isLimitSizeBetween, IsLimitSizeBetween) X(isTotalSize, IsTotalSize) X(isSizeIs, IsSizeIs)     \
    X(isSizeLess, IsSizeLess) X(isSizeGreater, IsSizeGreater) X(isSizeBetween, IsSizeBetween)       \
    X(isSizeNotBetween, IsSizeNotBetween)                                                           \
    /* content */                                                                                   \
    X(isCompareContent, IsCompareContent) X(isDataContent, IsDataContent)                           \
    X(isResourceContent, IsResourceContent) X(isSkipData, IsSkipData)                               \
    X(isSkipResource, IsSkipResource) X(treatPackAsFolder, TreatPackAsFolder)                       \
    /* item state */                                                                                \
    X(isEmptyFile, IsEmptyFile) X(isHasCustomIcon, IsHasCustomIcon)                                 \
    X(isHasCustomIconNot, IsHasCustomIconNot) X(isLockedIs, IsLockedIs)                             \
    X(isLockedNot, IsLockedNot) X(isVisible, IsVisible) X(isInvisible, IsInvisible)                 \
    /* folders */                                                                                   \
    X(isFolderEmpty, IsFolderEmpty) X(isFolderNotEmpty, IsFolderNotEmpty)                           \
    X(isExcludeEFCustIcon, IsExcludeEFCustIcon) X(isNestedEmptied, IsNestedEmptied)                 \
    X(isFolderCompareContent, IsFolderCompareContent)                                               \
    /* special */                                                                                   \
    X(isCompressedFile, IsCompressedFile)                                                           \
    /* kind */                                                                                      \
    X(isKindAlias, IsKindAlias) X(isKindApplication, IsKindApplication)                             \
    X(isKindFolder, IsKindFolder) X(isKindFont, IsKindFont) X(isKindDocument, IsKindDocument)       \
    X(isKindSound, IsKindSound) X(isKindIs, IsKindIs) X(isKindNot, IsKindNot)                       \
    /* label */                                                                                     \
    X(isLabelIs, IsLabelIs) X(isLabelNot, IsLabelNot)                                               \
    /* permissions */                                                                               \
    X(isPReadWrite, IsPReadWrite) X(isPRead, IsPRead) X(isPWrite, IsPWrite)                         \
    X(isPNoAccess, IsPNoAccess) X(isPOwnership, IsPOwnership)                                       \
    X(isPNotOwnership, IsPNotOwnership)                                                             \
    /* song name */                                                                                 \
    X(isSongNameSame, IsSongNameSame) X(isSongNameUnique, IsSongNameUnique)                         \
    X(isSongNameContains, IsSongNameContains) X(isSongNameStart, IsSongNameStart)                   \
    X(isSongNameEnd, IsSongNameEnd) X(isSongNameIs, IsSongNameIs)                                   \
    X(isSongNameIsNot, IsSongNameIsNot) X(isSongNameDoesntContain, IsSongNameDoesntContain)         \
    /* artist */                                                                                    \
    X(isSameArtist, IsSameArtist) X(isUniqueArtist, IsUniqueArtist)                                 \
    X(isArtistContains, IsArtistContains) X(isArtistStart, IsArtistStart)                           \
    X(isArtistEnd, IsArtistEnd) X(isArtistIs, IsArtistIs) X(isArtistIsNot, IsArtistIsNot)           \
    X(isArtistDoesntContain, IsArtistDoesntContain)                                                 \
    /* album */                                                                                     \
    X(isSameAlbum, IsSameAlbum) X(isUniqueAlbum, IsUniqueAlbum)                                     \
    X(isAlbumContains, IsAlbumContains) X(isAlbumStart, IsAlbumStart)                               \
    X(isAlbumEnd, IsAlbumEnd) X(isAlbumIs, IsAlbumIs) X(isAlbumIsNot, IsAlbumIsNot)                 \
    X(isAlbumDoesntContain, IsAlbumDoesntContain)                                                   \
    /* genre */                                                                                     \
    X(isSameGenre, IsSameGenre) X(isUniqueGenre, IsUniqueGenre)                                     \
    X(isGenreContains, IsGenreContains) X(isGenreStart, IsGenreStart)                               \
    X(isGenreEnd, IsGenreEnd) X(isGenreIs, IsGenreIs) X(isGenreIsNot, IsGenreIsNot)                 \
    X(isGenreDoesntContain, IsGenreDoesntContain)                                                   \
    /* year */                                                                                      \
    X(isSameYear, IsSameYear) X(isUniqueYear, IsUniqueYear) X(isYearIs, IsYearIs)                   \
    X(isYearLess, IsYearLess) X(isYearGreater, IsYearGreater)                                       \
    /* duration */                                                                                  \
    X(isDuration, IsDuration) X(isSameDuration, IsSameDuration)                                     \
    X(isUniqueDuration, IsUniqueDuration) X(isDurationIs, IsDurationIs)                             \
    X(isDurationLess, IsDurationLess) X(isDurationGreater, IsDurationGreater)                       \
    /* song and photo options */                                                                    \
    X(isMP3, IsMP3) X(isAAC, IsAAC) X(isPlaylist, IsPlaylist)                                       \
    /* date taken */                                                                                \
    X(isSameDateTaken, IsSameDateTaken) X(isUniqueDateTaken, IsUniqueDateTaken)                     \
    X(isDateTakenIs, IsDateTakenIs) X(isDateTakenBefore, IsDateTakenBefore)                         \
    X(isDateTakenAfter, IsDateTakenAfter) X(isDateTakenNot, IsDateTakenNot)                         \
    X(isDateTakenToday, IsDateTakenToday) X(isDateTakenYesterday, IsDateTakenYesterday)             \
    X(isDateTakenBetween, IsDateTakenBetween) X(isDateTakenNotBetween, IsDateTakenNotBetween)       \
    /* location */                                                                                  \
    X(isSameLocationTaken, IsSameLocationTaken) X(isUniqueLocationTaken, IsUniqueLocationTaken)     \
    X(isLatitudeLocation, IsLatitudeLocation) X(isLatitudeIs, IsLatitudeIs)                         \
    X(isLatitudeLess, IsLatitudeLess) X(isLatitudeGreater, IsLatitudeGreater)                       \
    X(isLatitudeBetween, IsLatitudeBetween) X(isLatitudeNotBetween, IsLatitudeNotBetween)           \
    X(isLongitudeLocation, IsLongitudeLocation) X(isLongitudeIs, IsLongitudeIs)                     \
    X(isLongitudeLess, IsLongitudeLess) X(isLongitudeGreater, IsLongitudeGreater)                   \
    X(isLongitudeBetween, IsLongitudeBetween) X(isLongitudeNotBetween, IsLongitudeNotBetween)       \
    /* pixel size */                                                                                \
    X(isSamePixelsSize, IsSamePixelsSize) X(isUniquePixelsSize, IsUniquePixelsSize)                 \
    X(isSameWidthPixelsSize, IsSameWidthPixelsSize)                                                 \
    X(isSameHeightPixelsSize, IsSameHeightPixelsSize)                                               \
    X(isPixelsWidthSize, IsPixelsWidthSize) X(isPixelsHeightSize, IsPixelsHeightSize)               \
    X(isPixelsIs, IsPixelsIs) X(isPixelsLess, IsPixelsLess) X(isPixelsGreater, IsPixelsGreater)     \
    X(isPixelsBetween, IsPixelsBetween) X(isPixelsNotBetween, IsPixelsNotBetween)                   \
    /* camera */                                                                                    \
    X(isSameCameraModel, IsSameCameraModel) X(isUniqueCameraModel, IsUniqueCameraModel)             \
    X(isCameraModelContains, IsCameraModelContains) X(isCameraModelStart, IsCameraModelStart)       \
    X(isCameraModelEnd, IsCameraModelEnd) X(isCameraModelIs, IsCameraModelIs)                       \
    X(isCameraModelIsNot, IsCameraModelIsNot)                                                       \
    X(isCameraModelDoesntContain, IsCameraModelDoesntContain)                                       \
    /* library exclusions */                                                                        \
    X(excludeiTunesItems, ExcludeiTunesItems) X(excludePhotosItems, ExcludePhotosItems)             \
    X(isBothApp, IsBothApp)                                                                         \
    /* derived state */                                                                             \
    X(excludeFolder, ExcludeFolder) X(isSongTags, IsSongTags) X(isPhotoTag, IsPhotoTag)             \
    X(isOnlyContent, IsOnlyContent) X(isOnlyDead, IsOnlyDead)

// Every value of the criteria that has a setter, as X(type, getter, SetterSuffix).
#define KZ_CRITERIA_VALUES(X)                                                                       \
    X(QString, name, Name)                                                                          \
    X(double, modSecs, ModSecs) X(double, modBetweenSecs, ModBetweenSecs)                           \
    X(double, createdSecs, CreatedSecs) X(double, createdBetweenSecs, CreatedBetweenSecs)           \
    X(QStringList, extensions, Extensions)                                                          \
    X(quint32, creator, Creator)                                                                    \
    X(quint64, limitSizeValue, LimitSizeValue) X(quint64, limitSizeBetweenValue, LimitSizeBetweenValue) \
    X(quint64, sizeValue, SizeValue) X(quint64, sizeBetweenValue, SizeBetweenValue)                 \
    X(quint64, skipDataValue, SkipDataValue) X(quint64, skipResourceValue, SkipResourceValue)       \
    X(qint64, whichLabel, WhichLabel)                                                               \
    X(quint32, userID, UserID)                                                                      \
    X(QString, songName, SongName) X(QString, artistName, ArtistName)                               \
    X(QString, albumName, AlbumName) X(QString, genreName, GenreName)                               \
    X(qint16, year, Year)                                                                           \
    X(quint32, durationTime, DurationTime) X(quint32, durationTolerance, DurationTolerance)         \
    X(QString, playlistName, PlaylistName)                                                          \
    X(quint32, takenSecs, TakenSecs) X(quint32, takenBetweenSecs, TakenBetweenSecs)                 \
    X(double, locationTolerance, LocationTolerance)                                                 \
    X(double, latitude, Latitude) X(double, latitudeBetween, LatitudeBetween)                       \
    X(double, longitude, Longitude) X(double, longitudeBetween, LongitudeBetween)                   \
    X(QString, latitudeRef, LatitudeRef) X(QString, longitudeRef, LongitudeRef)                     \
    X(quint64, pixelsWidth, PixelsWidth) X(quint64, pixelsHeight, PixelsHeight)                     \
    X(quint64, pixelsBetWidth, PixelsBetWidth) X(quint64, pixelsBetHeight, PixelsBetHeight)         \
    X(QStringList, cameraMakeModel, CameraMakeModel)                                                \
    X(qint64, cameraTag, CameraTag)                                                                 \
    X(QVariantMap, excludeiTunesItemsDict, ExcludeiTunesItemsDict)                                  \
    X(QVariantMap, excludePhotosItemsDict, ExcludePhotosItemsDict)

// The parsed criteria of one search: flat flags and values that the engine's
// threads ask item after item, without a lock. Built once on the thread that
// starts the search, before any worker runs; afterwards only isDeads and
// isImageContent change, and those two are atomic.
//
// Date values are seconds since 1 January 2001 GMT at the start of the local
// day; the date-taken values are whole seconds since 1 January 1904 GMT (the
// photo convention) at the start of the local day.
class KZSearchCriteria {
public:
    // A set of Unicode code points (the name expression's separators and
    // differences).
    using CharacterSet = QSet<char32_t>;

    // The start state: only-missing-tracks and only-content, nothing else.
    KZSearchCriteria();
    explicit KZSearchCriteria(const QVariantMap& dictionary);

    KZSearchCriteria(const KZSearchCriteria&) = delete;
    KZSearchCriteria& operator=(const KZSearchCriteria&) = delete;

    // Back to the start state, then the groups of `dictionary` in their fixed
    // order. Absent or mistyped keys read as NO, 0 or nothing.
    void initializeCriteriaWithDict(const QVariantMap& dictionary);
    // The text with its first and last character dropped, split at ",".
    void defineExtensionsWithString(const QString& string);

#define KZ_CRITERIA_DECLARE_FLAG(getter, Setter)                                                   \
    bool getter() const { return getter##_; }                                                      \
    void set##Setter(bool value) { getter##_ = value; }
    KZ_CRITERIA_FLAGS(KZ_CRITERIA_DECLARE_FLAG)
#undef KZ_CRITERIA_DECLARE_FLAG

#define KZ_CRITERIA_DECLARE_VALUE(Type, getter, Setter)                                            \
    const Type& getter() const { return getter##_; }                                               \
    void set##Setter(Type value) { getter##_ = std::move(value); }
    KZ_CRITERIA_VALUES(KZ_CRITERIA_DECLARE_VALUE)
#undef KZ_CRITERIA_DECLARE_VALUE

    // Set only by a non-empty "separators" text.
    const std::optional<CharacterSet>& separators() const { return separators_; }
    // Always a set (empty unless "differences" gave characters), so that the
    // name preparation can look characters up without a check.
    const CharacterSet& differences() const { return differences_; }
    // The type codes of a type filter; typesCount is their number.
    const std::vector<quint32>& types() const { return types_; }
    quint64 typesCount() const { return types_.size(); }

    // Changed by the engine while its workers read them.
    bool isDeads() const { return isDeads_.load(); }
    void setIsDeads(bool value) { isDeads_.store(value); }
    bool isImageContent() const { return isImageContent_.load(); }
    void setIsImageContent(bool value) { isImageContent_.store(value); }

    // Combined questions, answered from the flags alone.
    bool isSameSearch() const;
    bool isUniqueSearch() const;
    bool isOnlySameDuration() const;
    bool isName() const;
    bool isSize() const;
    bool isType() const;
    bool isKind() const;
    bool isTypeNoSameUnique() const { return isTypeIs_ || isTypeNot_; }
    // Whether the groups switched on compare or filter anything: a group
    // switched on without its settings ("isSize" alone) decides nothing,
    // and a search by such criteria alone would find every item alone.
    bool decidesAnything() const { return decidesAnything_; }
    // The switches of the groups that are on but set nothing that decides
    // (no same, no unique, no operator), in the order they are read.
    const QStringList& groupsWithoutSettings() const { return groupsWithoutSettings_; }
    bool isExtensionNoSameUnique() const { return isExtensionIs_ || isExtensionNot_; }
    // Names are never compared with their extension as a separate step.
    bool extensionNedeed() const { return false; }

private:
    class Parser;

    void resetToStartState();

#define KZ_CRITERIA_FLAG_FIELD(getter, Setter) bool getter##_ = false;
    KZ_CRITERIA_FLAGS(KZ_CRITERIA_FLAG_FIELD)
#undef KZ_CRITERIA_FLAG_FIELD

#define KZ_CRITERIA_VALUE_FIELD(Type, getter, Setter) Type getter##_{};
    KZ_CRITERIA_VALUES(KZ_CRITERIA_VALUE_FIELD)
#undef KZ_CRITERIA_VALUE_FIELD

    std::optional<CharacterSet> separators_;
    CharacterSet differences_;
    std::vector<quint32> types_;
    std::atomic<bool> isDeads_{false};
    std::atomic<bool> isImageContent_{false};
    bool decidesAnything_ = false;
    QStringList groupsWithoutSettings_;
};
