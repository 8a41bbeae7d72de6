#include "services/KZDateUtilities.h"
#include "services/KZFilesUtilities.h"
#include "settings/KZSearchCriteria.h"
#include "settings/KZSearchStuff.h"

#include <QDateTime>

#include <gtest/gtest.h>

#include <atomic>
#include <ostream>
#include <set>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace Qt::Literals::StringLiterals;

namespace {

using Flags = std::set<std::string>;

// Every flag that reads YES, by name: a case states the whole flag state, so
// a stray flag set by a neighbouring group shows up too.
Flags trueFlags(const KZSearchCriteria& c)
{
    Flags out;
#define KZ_TEST_COLLECT(getter, Setter)                                                            \
    if (c.getter())                                                                                \
        out.insert(#getter);
    KZ_CRITERIA_FLAGS(KZ_TEST_COLLECT)
#undef KZ_TEST_COLLECT
    if (c.isDeads())
        out.insert("isDeads");
    if (c.isImageContent())
        out.insert("isImageContent");
    return out;
}

Flags with(Flags flags, std::initializer_list<const char*> more)
{
    flags.insert(more.begin(), more.end());
    return flags;
}

// Start state after an empty dictionary.
const Flags kStart{"isOnlyDead", "isOnlyContent", "isVisible"};
// A group was on: only-missing-tracks is over; visibility stays the default.
const Flags kAnyGroup{"isOnlyContent", "isVisible"};
// As kAnyGroup, after a same flag that ends the content-only state.
const Flags kSameGroup{"isVisible"};

QVariantMap group(const QString& on, const QString& structKey, const QVariantMap& params)
{
    return {{on, true}, {structKey, params}};
}

struct FlagCase {
    const char* name;
    QVariantMap dict;
    Flags expected;
};

// Parameters print as their case name, so ctest and failure messages name
// the case rather than dumping its bytes.
void PrintTo(const FlagCase& c, std::ostream* os) { *os << c.name; }

class CriteriaFlags : public ::testing::TestWithParam<FlagCase> {};

TEST_P(CriteriaFlags, SetExactlyTheseFlags)
{
    const KZSearchCriteria criteria(GetParam().dict);
    EXPECT_EQ(trueFlags(criteria), GetParam().expected);
}

const QVariantMap kFullNameFilter{
    {u"whichItem"_s, 1}, {u"string"_s, u"x"_s}, {u"extensionIsExcluded"_s, false}};

QVariantMap merged(QVariantMap base, const QVariantMap& more)
{
    for (auto it = more.cbegin(); it != more.cend(); ++it)
        base.insert(it.key(), it.value());
    return base;
}

INSTANTIATE_TEST_SUITE_P(
    Groups, CriteriaFlags,
    ::testing::Values(
        FlagCase{"EmptyDictionary", {}, kStart},
        FlagCase{"SwitchOffIgnoresFullParameters",
                 {{u"isName"_s, false},
                  {u"nameStruct"_s, merged(kFullNameFilter, {{u"isSame"_s, true}})},
                  {u"isSize"_s, false},
                  {u"sizeStruct"_s, QVariantMap{{u"isSame"_s, true}}},
                  {u"isVisibility"_s, false},
                  {u"visibilityStruct"_s, QVariantMap{{u"whichItem"_s, 1}}}},
                 kStart},
        FlagCase{"MistypedSwitchReadsAsOff", {{u"isName"_s, u"YES"_s}, {u"nameStruct"_s, kFullNameFilter}}, kStart},
        // Same over unique over filter.
        FlagCase{"SameWinsOverUniqueAndFilter",
                 group(u"isName"_s, u"nameStruct"_s,
                       merged(kFullNameFilter, {{u"isSame"_s, true}, {u"isUnique"_s, true}})),
                 with(kSameGroup, {"isSameName"})},
        FlagCase{"UniqueWinsOverFilter",
                 group(u"isName"_s, u"nameStruct"_s, merged(kFullNameFilter, {{u"isUnique"_s, true}})),
                 with(kAnyGroup, {"isUniqueName"})},
        FlagCase{"NameContains", group(u"isName"_s, u"nameStruct"_s, {{u"whichItem"_s, 1}}),
                 with(kAnyGroup, {"isNameContains"})},
        FlagCase{"NameStarts", group(u"isName"_s, u"nameStruct"_s, {{u"whichItem"_s, 2}}),
                 with(kAnyGroup, {"isNameStart"})},
        FlagCase{"NameEnds", group(u"isName"_s, u"nameStruct"_s, {{u"whichItem"_s, 3}}),
                 with(kAnyGroup, {"isNameEnd"})},
        FlagCase{"NameIs", group(u"isName"_s, u"nameStruct"_s, {{u"whichItem"_s, 4}}),
                 with(kAnyGroup, {"isNameIs"})},
        FlagCase{"NameIsNot", group(u"isName"_s, u"nameStruct"_s, {{u"whichItem"_s, 5}}),
                 with(kAnyGroup, {"nameIsNot"})},
        FlagCase{"NameDoesNotContain", group(u"isName"_s, u"nameStruct"_s, {{u"whichItem"_s, 6}}),
                 with(kAnyGroup, {"nameDoesntContains"})},
        FlagCase{"NameOperatorZeroSetsNothing", group(u"isName"_s, u"nameStruct"_s, {{u"whichItem"_s, 0}}),
                 kAnyGroup},
        FlagCase{"NameOperatorOutOfTableSetsNothing", group(u"isName"_s, u"nameStruct"_s, {{u"whichItem"_s, 7}}),
                 kAnyGroup},
        FlagCase{"NameWithoutExtensionAndExpression",
                 group(u"isName"_s, u"nameStruct"_s,
                       {{u"isSame"_s, true}, {u"extensionIsExcluded"_s, true}, {u"isExcludeExpression"_s, true}}),
                 with(kSameGroup, {"isSameName", "noExtensionCompare", "isExcludeExpression"})},
        FlagCase{"ModifiedBetween", group(u"isModified"_s, u"modifiedStruct"_s, {{u"whichItem"_s, 7}}),
                 with(kAnyGroup, {"isModifiedBetween"})},
        FlagCase{"CreatedYesterday", group(u"isCreated"_s, u"createdStruct"_s, {{u"whichItem"_s, 6}}),
                 with(kAnyGroup, {"isCreatedYesterday"})},
        FlagCase{"SameModifiedEndsContentOnly", group(u"isModified"_s, u"modifiedStruct"_s, {{u"isSame"_s, true}}),
                 with(kSameGroup, {"isSameModified"})},
        // The extension group leaves folders out even as a comparison.
        FlagCase{"SameExtension", group(u"isExtension"_s, u"extensionStruct"_s, {{u"isSame"_s, true}}),
                 with(kSameGroup, {"isSameExtension", "excludeFolder"})},
        FlagCase{"ExtensionNotInList", group(u"isExtension"_s, u"extensionStruct"_s, {{u"whichItem"_s, 2}}),
                 with(kAnyGroup, {"isExtensionNot", "excludeFolder"})},
        FlagCase{"CreatorIs", group(u"isCreator"_s, u"creatorStruct"_s, {{u"whichItem"_s, 1}}),
                 with(kAnyGroup, {"isCreatorIs", "excludeFolder"})},
        // The same size keeps the search content-only.
        FlagCase{"SameSizeWithLimitBetween",
                 group(u"isSize"_s, u"sizeStruct"_s,
                       {{u"isSame"_s, true},
                        {u"isLimitSize"_s, true},
                        {u"whichLimitItem"_s, 4},
                        {u"whichTotalItem"_s, 2}}),
                 with(kAnyGroup, {"isSameSize", "isLimitSize", "isLimitSizeBetween", "excludeFolder"})},
        FlagCase{"UniqueSizeLimitAtMost",
                 group(u"isSize"_s, u"sizeStruct"_s,
                       {{u"isUnique"_s, true}, {u"isLimitSize"_s, true}, {u"whichLimitItem"_s, 2}}),
                 with(kAnyGroup, {"isUniqueSize", "isLimitSize", "isLimitSizeLessOrEqual", "excludeFolder"})},
        FlagCase{"SameSizeLimitWithoutBound",
                 group(u"isSize"_s, u"sizeStruct"_s,
                       {{u"isSame"_s, true}, {u"isLimitSize"_s, true}, {u"whichLimitItem"_s, 1}}),
                 with(kAnyGroup, {"isSameSize", "isLimitSize", "excludeFolder"})},
        FlagCase{"SizeFilterLess",
                 group(u"isSize"_s, u"sizeStruct"_s,
                       {{u"whichTotalItem"_s, 2}, {u"isLimitSize"_s, true}, {u"whichLimitItem"_s, 2}}),
                 with(kAnyGroup, {"isTotalSize", "isSizeLess", "excludeFolder"})},
        FlagCase{"SizeFilterNotBetween", group(u"isSize"_s, u"sizeStruct"_s, {{u"whichTotalItem"_s, 5}}),
                 with(kAnyGroup, {"isTotalSize", "isSizeNotBetween", "excludeFolder"})},
        FlagCase{"ContentGroup",
                 group(u"isContent"_s, u"contentStruct"_s,
                       {{u"isData"_s, true}, {u"skipData"_s, true}, {u"skipRes"_s, true}, {u"treatPack"_s, true}}),
                 with(kAnyGroup, {"isDataContent", "isCompareContent", "isSkipData", "isSkipResource",
                                  "treatPackAsFolder", "excludeFolder"})},
        FlagCase{"EmptyFiles", {{u"isEmptyFile"_s, true}}, with(kAnyGroup, {"isEmptyFile", "excludeFolder"})},
        FlagCase{"CustomIcon", group(u"isHasCustomIcon"_s, u"customIconStruct"_s, {{u"whichItem"_s, 1}}),
                 with(kSameGroup, {"isHasCustomIcon"})},
        FlagCase{"NoCustomIcon", group(u"isHasCustomIcon"_s, u"customIconStruct"_s, {{u"whichItem"_s, 2}}),
                 with(kSameGroup, {"isHasCustomIconNot"})},
        FlagCase{"NotLocked", group(u"isLocked"_s, u"lockedStruct"_s, {{u"whichItem"_s, 2}}),
                 with(kSameGroup, {"isLockedNot"})},
        FlagCase{"InvisibleOnly", group(u"isVisibility"_s, u"visibilityStruct"_s, {{u"whichItem"_s, 1}}),
                 {"isOnlyContent", "isInvisible"}},
        FlagCase{"VisibleAndInvisible", group(u"isVisibility"_s, u"visibilityStruct"_s, {{u"whichItem"_s, 2}}),
                 {"isOnlyContent", "isVisible", "isInvisible"}},
        FlagCase{"VisibilityOutOfTable", group(u"isVisibility"_s, u"visibilityStruct"_s, {{u"whichItem"_s, 3}}),
                 {"isOnlyContent"}},
        FlagCase{"EmptyFoldersNested",
                 group(u"isFolder"_s, u"folderStruct"_s,
                       {{u"whichItem"_s, 1}, {u"neastedEmptied"_s, 1}, {u"excludeCustomIcon"_s, 1}}),
                 with(kAnyGroup, {"isFolderEmpty", "isNestedEmptied", "isExcludeEFCustIcon"})},
        // The folder group comes after content and lets folders back in.
        FlagCase{"FolderOperatorTwoClearsEarlierExclusion",
                 {{u"isContent"_s, true},
                  {u"contentStruct"_s, QVariantMap{{u"isData"_s, true}}},
                  {u"isFolder"_s, true},
                  {u"folderStruct"_s, QVariantMap{{u"whichItem"_s, 2}, {u"compareContent"_s, true}}}},
                 with(kAnyGroup, {"isDataContent", "isCompareContent", "isFolderNotEmpty", "isFolderCompareContent"})},
        // ... but a later group leaves them out again.
        FlagCase{"LaterGroupWinsOverFolderOperatorTwo",
                 {{u"isFolder"_s, true},
                  {u"folderStruct"_s, QVariantMap{{u"whichItem"_s, 2}}},
                  {u"isArtist"_s, true},
                  {u"artistStruct"_s, QVariantMap{{u"whichItem"_s, 1}}}},
                 with(kAnyGroup, {"isFolderNotEmpty", "isArtistContains", "isSongTags", "excludeFolder"})},
        FlagCase{"KindIsFolderKeepsFolders",
                 group(u"isKind"_s, u"kindStruct"_s, {{u"whichItem"_s, 1}, {u"whichItem2"_s, 3}}),
                 with(kAnyGroup, {"isKindIs", "isKindFolder"})},
        FlagCase{"KindIsFont", group(u"isKind"_s, u"kindStruct"_s, {{u"whichItem"_s, 1}, {u"whichItem2"_s, 4}}),
                 with(kAnyGroup, {"isKindIs", "isKindFont", "excludeFolder"})},
        FlagCase{"KindIsNotApplication",
                 group(u"isKind"_s, u"kindStruct"_s, {{u"whichItem"_s, 2}, {u"whichItem2"_s, 2}}),
                 with(kAnyGroup, {"isKindNot", "isKindApplication", "isBothApp", "excludeFolder"})},
        FlagCase{"KindOutOfTableStillLeavesFoldersOut",
                 group(u"isKind"_s, u"kindStruct"_s, {{u"whichItem"_s, 1}, {u"whichItem2"_s, 9}}),
                 with(kAnyGroup, {"isKindIs", "excludeFolder"})},
        FlagCase{"LabelIsNot", group(u"isLabel"_s, u"labelStruct"_s, {{u"whichItem"_s, 2}, {u"whichItem2"_s, 3}}),
                 with(kSameGroup, {"isLabelNot"})},
        FlagCase{"PermissionsOwned", group(u"isPermissions"_s, u"permissionsStruct"_s, {{u"whichItem"_s, 5}}),
                 with(kSameGroup, {"isPOwnership"})},
        FlagCase{"SongNameEnds", group(u"isSongName"_s, u"songNameStruct"_s, {{u"whichItem"_s, 3}}),
                 with(kAnyGroup, {"isSongNameEnd", "isSongTags", "excludeFolder"})},
        FlagCase{"SameGenre", group(u"isGenre"_s, u"genreStruct"_s, {{u"isSame"_s, true}}),
                 with(kSameGroup, {"isSameGenre", "isSongTags", "excludeFolder"})},
        FlagCase{"AlbumDoesNotContain", group(u"isAlbum"_s, u"albumStruct"_s, {{u"whichItem"_s, 6}}),
                 with(kAnyGroup, {"isAlbumDoesntContain", "isSongTags", "excludeFolder"})},
        FlagCase{"YearAfter", group(u"isYear"_s, u"yearStruct"_s, {{u"whichItem"_s, 3}}),
                 with(kAnyGroup, {"isYearGreater", "isSongTags", "excludeFolder"})},
        FlagCase{"DurationLessSetsDuration", group(u"isDuration"_s, u"durationStruct"_s, {{u"whichItem"_s, 2}}),
                 with(kAnyGroup, {"isDurationLess", "isDuration", "isSongTags", "excludeFolder"})},
        FlagCase{"DurationOutOfTableIsNoDuration",
                 group(u"isDuration"_s, u"durationStruct"_s, {{u"whichItem"_s, 4}}),
                 with(kAnyGroup, {"isSongTags", "excludeFolder"})},
        // Special items: compressed files for operator 0 or none; aliases always out.
        FlagCase{"SpecialWithoutOperator", group(u"isSpecial"_s, u"specialStruct"_s, {}),
                 with(kAnyGroup, {"isKindAlias", "isKindNot", "isCompressedFile", "excludeFolder"})},
        FlagCase{"SpecialOperatorZero", group(u"isSpecial"_s, u"specialStruct"_s, {{u"whichItem"_s, 0}}),
                 with(kAnyGroup, {"isKindAlias", "isKindNot", "isCompressedFile", "excludeFolder"})},
        FlagCase{"SpecialOtherOperator", group(u"isSpecial"_s, u"specialStruct"_s, {{u"whichItem"_s, 1}}),
                 with(kAnyGroup, {"isKindAlias", "isKindNot"})},
        // Photo groups without their own extension or type filter look at images.
        FlagCase{"DateTakenGetsPhotoDefault",
                 group(u"isDateTaken"_s, u"dateTakenStruct"_s, {{u"whichItem"_s, 2}}),
                 with(kAnyGroup, {"isDateTakenBefore", "isPhotoTag", "excludeFolder", "isExtensionIs", "isTypeIs",
                                  "isKindAlias", "isKindNot"})},
        FlagCase{"ExtensionFilterSuppressesPhotoDefault",
                 {{u"isExtension"_s, true},
                  {u"extensionStruct"_s, QVariantMap{{u"whichItem"_s, 2}, {u"string"_s, u"(tif)"_s}}},
                  {u"isPixelsSize"_s, true},
                  {u"pixelsSizeStruct"_s, QVariantMap{{u"isSame"_s, true}, {u"isSameWidth"_s, true}}}},
                 with(kSameGroup, {"isExtensionNot", "excludeFolder", "isSamePixelsSize", "isSameWidthPixelsSize",
                                   "isPhotoTag"})},
        FlagCase{"SameExtensionDoesNotSuppressPhotoDefault",
                 {{u"isExtension"_s, true},
                  {u"extensionStruct"_s, QVariantMap{{u"isSame"_s, true}}},
                  {u"isCameraModel"_s, true},
                  {u"cameraModelStruct"_s, QVariantMap{{u"whichItem"_s, 4}}}},
                 with(kSameGroup, {"isSameExtension", "isCameraModelIs", "excludeFolder", "isPhotoTag",
                                   "isExtensionIs", "isTypeIs", "isKindAlias", "isKindNot"})},
        FlagCase{"PixelsFilterBetweenWidthOnly",
                 group(u"isPixelsSize"_s, u"pixelsSizeStruct"_s,
                       {{u"isWidth"_s, true}, {u"whichItem"_s, 7}, {u"isSameWidth"_s, true}}),
                 with(kAnyGroup, {"isPixelsWidthSize", "isPixelsBetween", "isPhotoTag", "excludeFolder",
                                  "isExtensionIs", "isTypeIs", "isKindAlias", "isKindNot"})},
        FlagCase{"LatitudeNotBetween",
                 group(u"isLocationTaken"_s, u"locationTakenStruct"_s,
                       {{u"isLatitude"_s, true}, {u"latitudeWhichItem"_s, 8}, {u"longitudeWhichItem"_s, 1}}),
                 with(kAnyGroup, {"isLatitudeLocation", "isLatitudeNotBetween", "isPhotoTag", "excludeFolder",
                                  "isExtensionIs", "isTypeIs", "isKindAlias", "isKindNot"})},
        FlagCase{"LatitudeOperatorsFourToSixSetNothing",
                 group(u"isLocationTaken"_s, u"locationTakenStruct"_s,
                       {{u"isLongitude"_s, true}, {u"longitudeWhichItem"_s, 5}}),
                 with(kAnyGroup, {"isLongitudeLocation", "isPhotoTag", "excludeFolder", "isExtensionIs",
                                  "isTypeIs", "isKindAlias", "isKindNot"})},
        // Entries without a switch do not end the only-missing-tracks state.
        FlagCase{"OptionsAloneKeepOnlyDead",
                 {{u"songOptionsStruct"_s,
                   QVariantMap{{u"isReportDeads"_s, true}, {u"isMp3"_s, true}, {u"isPlaylist"_s, true}}},
                  {u"ExcludedApps"_s, QVariantList{QVariantMap{{u"tag"_s, 1}}}}},
                 with(kStart, {"isDeads", "isPlaylist", "excludeiTunesItems"})},
        FlagCase{"SongFormatsNeedASongGroup",
                 {{u"isYear"_s, true},
                  {u"yearStruct"_s, QVariantMap{{u"isUnique"_s, true}}},
                  {u"songOptionsStruct"_s, QVariantMap{{u"isMp3"_s, true}, {u"isAAC"_s, true}}}},
                 with(kAnyGroup, {"isUniqueYear", "isSongTags", "excludeFolder", "isMP3", "isAAC"})},
        FlagCase{"PhotoOptionsReadLastWin",
                 {{u"songOptionsStruct"_s, QVariantMap{{u"isReportDeads"_s, true}, {u"isPlaylist"_s, true}}},
                  {u"photoOptionsStruct"_s, QVariantMap{{u"isReportDeads"_s, false}, {u"isCreateAlbum"_s, false}}}},
                 kStart}),
    [](const ::testing::TestParamInfo<FlagCase>& info) { return std::string(info.param.name); });

TEST(CriteriaValues, SizeLimitsAndTotals)
{
    const KZSearchCriteria limits(group(u"isSize"_s, u"sizeStruct"_s,
                                        {{u"isSame"_s, true},
                                         {u"isLimitSize"_s, true},
                                         {u"whichLimitItem"_s, 4},
                                         {u"limitSize"_s, qint64(100)},
                                         {u"limitBSize"_s, qint64(200)},
                                         {u"totalSize"_s, qint64(7)}}));
    EXPECT_EQ(limits.limitSizeValue(), 100u);
    EXPECT_EQ(limits.limitSizeBetweenValue(), 200u);
    EXPECT_EQ(limits.sizeValue(), 0u) << "filter keys are not read for a comparison";

    const KZSearchCriteria less(group(u"isSize"_s, u"sizeStruct"_s,
                                      {{u"whichTotalItem"_s, 2},
                                       {u"totalSize"_s, qint64(4096)},
                                       {u"totalBSize"_s, qint64(9)},
                                       {u"limitSize"_s, qint64(5)}}));
    EXPECT_EQ(less.sizeValue(), 4096u);
    EXPECT_EQ(less.sizeBetweenValue(), 0u) << "the upper bound belongs to operators 4 and 5 only";
    EXPECT_EQ(less.limitSizeValue(), 0u);

    const KZSearchCriteria between(group(u"isSize"_s, u"sizeStruct"_s,
                                         {{u"whichTotalItem"_s, 4},
                                          {u"totalSize"_s, qint64(1)},
                                          {u"totalBSize"_s, quint64(0xFFFFFFFFFFFFFFFFull)}}));
    EXPECT_EQ(between.sizeBetweenValue(), 0xFFFFFFFFFFFFFFFFull);

    const KZSearchCriteria negative(
        group(u"isSize"_s, u"sizeStruct"_s, {{u"whichTotalItem"_s, 1}, {u"totalSize"_s, qint64(-1)}}));
    EXPECT_EQ(negative.sizeValue(), 0u) << "a negative byte count is no count";

    const KZSearchCriteria skip(group(u"isContent"_s, u"contentStruct"_s,
                                      {{u"skipData"_s, true},
                                       {u"skipDataAmount"_s, qint64(512)},
                                       {u"skipResAmount"_s, qint64(64)}}));
    EXPECT_EQ(skip.skipDataValue(), 512u);
    EXPECT_EQ(skip.skipResourceValue(), 64u);
}

struct ExtensionCase {
    const char* name;
    QVariantMap params;
    QStringList expected;
};

void PrintTo(const ExtensionCase& c, std::ostream* os) { *os << c.name; }

class CriteriaExtensions : public ::testing::TestWithParam<ExtensionCase> {};

TEST_P(CriteriaExtensions, ListFromStringOrArray)
{
    const KZSearchCriteria c(group(u"isExtension"_s, u"extensionStruct"_s, GetParam().params));
    EXPECT_EQ(c.extensions(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Lists, CriteriaExtensions,
    ::testing::Values(
        ExtensionCase{"Enclosed", {{u"whichItem"_s, 1}, {u"string"_s, u"(jpg,png)"_s}}, {u"jpg"_s, u"png"_s}},
        // The enclosing characters are dropped whatever they are.
        ExtensionCase{"NotEnclosed", {{u"whichItem"_s, 1}, {u"string"_s, u"jpg,png"_s}}, {u"pg"_s, u"pn"_s}},
        ExtensionCase{"SpacesKept", {{u"string"_s, u"(a, b)"_s}}, {u"a"_s, u" b"_s}},
        ExtensionCase{"OnlyEnclosing", {{u"string"_s, u"()"_s}}, {QString()}},
        // Too short to hold the enclosing characters: nothing, never a read past the text.
        ExtensionCase{"OneCharacter", {{u"string"_s, u"x"_s}}, {}},
        ExtensionCase{"EmptyString", {{u"string"_s, u""_s}}, {}},
        ExtensionCase{"StringWinsOverArray",
                      {{u"string"_s, u"(raw)"_s}, {u"array"_s, QVariantList{u"tif"_s}}},
                      {u"raw"_s}},
        ExtensionCase{"ArrayCopied", {{u"array"_s, QVariantList{u"tif"_s, u"TIF"_s, 3}}}, {u"tif"_s, u"TIF"_s}},
        ExtensionCase{"NotReadForComparison", {{u"isSame"_s, true}, {u"string"_s, u"(jpg)"_s}}, {}}),
    [](const ::testing::TestParamInfo<ExtensionCase>& info) { return std::string(info.param.name); });

TEST(CriteriaValues, DefineExtensionsReplacesTheList)
{
    KZSearchCriteria c;
    c.defineExtensionsWithString(u"[mp3,m4a]"_s);
    EXPECT_EQ(c.extensions(), (QStringList{u"mp3"_s, u"m4a"_s}));
    c.defineExtensionsWithString(u"?"_s);
    EXPECT_TRUE(c.extensions().isEmpty());
}

TEST(CriteriaValues, NameStringIsNormalizedAndExpressionSets)
{
    // "ﬁ" (U+FB01) decomposes to "fi" under compatibility decomposition.
    const KZSearchCriteria filter(group(u"isName"_s, u"nameStruct"_s,
                                        {{u"whichItem"_s, 1}, {u"string"_s, u"\uFB01le"_s}}));
    EXPECT_EQ(filter.name(), u"file"_s);

    const KZSearchCriteria expression(group(u"isName"_s, u"nameStruct"_s,
                                            {{u"isSame"_s, true},
                                             {u"isExcludeExpression"_s, true},
                                             {u"separators"_s, u" -"_s},
                                             {u"differences"_s, u"0123456789"_s}}));
    ASSERT_TRUE(expression.separators().has_value());
    EXPECT_EQ(*expression.separators(), (KZSearchCriteria::CharacterSet{U' ', U'-'}));
    EXPECT_EQ(expression.differences().size(), 10);
    EXPECT_TRUE(expression.differences().contains(U'7'));

    const KZSearchCriteria emptyTexts(group(u"isName"_s, u"nameStruct"_s,
                                            {{u"isExcludeExpression"_s, true},
                                             {u"separators"_s, u""_s},
                                             {u"differences"_s, u""_s}}));
    EXPECT_FALSE(emptyTexts.separators().has_value()) << "an empty separators text sets nothing";
    EXPECT_TRUE(emptyTexts.differences().isEmpty());

    // A dictionary that breaks the rule and leaves "differences" out still
    // gives a set the name preparation can ask.
    const KZSearchCriteria noDifferences(
        group(u"isName"_s, u"nameStruct"_s, {{u"isExcludeExpression"_s, true}, {u"separators"_s, u"_"_s}}));
    EXPECT_TRUE(noDifferences.isExcludeExpression());
    EXPECT_TRUE(noDifferences.differences().isEmpty());
    EXPECT_FALSE(noDifferences.differences().contains(U'_'));

    // Without the expression option the texts are not read at all.
    const KZSearchCriteria off(group(u"isName"_s, u"nameStruct"_s, {{u"separators"_s, u"_"_s}}));
    EXPECT_FALSE(off.separators().has_value());
}

struct DateCase {
    const char* name;
    QString text;
    bool valid;
};

void PrintTo(const DateCase& c, std::ostream* os) { *os << c.name; }

class CriteriaDates : public ::testing::TestWithParam<DateCase> {};

// Only the exact form counts; anything else is no date (0), never a guess.
TEST_P(CriteriaDates, StrictForm)
{
    const DateCase& tc = GetParam();
    const KZSearchCriteria c({{u"isModified"_s, true},
                              {u"modifiedStruct"_s,
                               QVariantMap{{u"whichItem"_s, 7}, {u"date"_s, tc.text}, {u"betweenDate"_s, tc.text}}},
                              {u"isDateTaken"_s, true},
                              {u"dateTakenStruct"_s, QVariantMap{{u"whichItem"_s, 1}, {u"date"_s, tc.text}}}});
    if (!tc.valid) {
        EXPECT_EQ(c.modSecs(), 0.0);
        EXPECT_EQ(c.modBetweenSecs(), 0.0);
        EXPECT_EQ(c.takenSecs(), 0u);
        return;
    }
    const QDateTime date = QDateTime::fromString(tc.text, u"yyyy/MM/dd HH:mm:ss"_s);
    const QDateTime utc(date.date(), date.time(), Qt::UTC);
    const double dayStart = KZDateUtilities::sharedControl().convertDateOfCurrFile(
        KZDateUtilities::timeIntervalSinceReferenceDate(utc));
    EXPECT_EQ(c.modSecs(), dayStart);
    EXPECT_EQ(c.modBetweenSecs(), dayStart);
    EXPECT_EQ(c.takenSecs(), quint32(dayStart + 3061152000.0));
    // The start of the local day holding that GMT time.
    const QDateTime start = KZDateUtilities::dateWithTimeIntervalSinceReferenceDate(dayStart);
    EXPECT_EQ(start.toLocalTime().time(), QTime(0, 0));
    EXPECT_EQ(start.toLocalTime().date(), utc.toLocalTime().date());
}

INSTANTIATE_TEST_SUITE_P(
    Forms, CriteriaDates,
    ::testing::Values(DateCase{"Exact", u"2019/05/03 12:34:56"_s, true},
                      DateCase{"NewYear", u"2001/01/01 00:00:00"_s, true},
                      DateCase{"WithoutTime", u"2019/05/03"_s, false},
                      DateCase{"Dashes", u"2019-05-03 12:34:56"_s, false},
                      DateCase{"LeadingBlank", u" 2019/05/03 12:34:56"_s, false},
                      DateCase{"TrailingText", u"2019/05/03 12:34:56Z"_s, false},
                      DateCase{"MonthOutOfRange", u"2019/13/03 12:34:56"_s, false},
                      DateCase{"Empty", QString(), false}),
    [](const ::testing::TestParamInfo<DateCase>& info) { return std::string(info.param.name); });

TEST(CriteriaValues, OtherGroupValues)
{
    const KZSearchCriteria c({
        {u"isCreator"_s, true},
        {u"creatorStruct"_s, QVariantMap{{u"whichItem"_s, 1}, {u"string"_s, u"'ttxt'"_s}}},
        {u"isLabel"_s, true},
        {u"labelStruct"_s, QVariantMap{{u"whichItem"_s, 1}, {u"whichItem2"_s, 6}}},
        {u"isYear"_s, true},
        {u"yearStruct"_s, QVariantMap{{u"whichItem"_s, 1}, {u"year"_s, 1999}}},
        {u"isDuration"_s, true},
        {u"durationStruct"_s, QVariantMap{{u"whichItem"_s, 1}, {u"duration"_s, 187.9}, {u"tolerance"_s, 2}}},
        {u"isCameraModel"_s, true},
        {u"cameraModelStruct"_s,
         QVariantMap{{u"whichItem"_s, 1}, {u"cameraWhichItem"_s, 3}, {u"string"_s, u" Canon EOS ,Nikon D70,  "_s}}},
        {u"isLocationTaken"_s, true},
        {u"locationTakenStruct"_s,
         QVariantMap{{u"isTolerance"_s, true},
                     {u"toleranceDegressValue"_s, 0},
                     {u"toleranceMinutesValue"_s, 30},
                     {u"toleranceSecondValue"_s, 0.0},
                     {u"isLatitude"_s, true},
                     {u"latitudeDegressValue"_s, 45},
                     {u"latitudeMinutesValue"_s, 15},
                     {u"latitudeSecondValue"_s, 36.0},
                     {u"latitudeRef"_s, u"N"_s},
                     {u"latitudeWhichItem"_s, 7},
                     {u"latitudeBetDegressValue"_s, 46},
                     {u"latitudeBetMinutesValue"_s, 0},
                     {u"latitudeBetSecondValue"_s, 0.0}}},
        {u"isPermissions"_s, true},
        {u"permissionsStruct"_s, QVariantMap{{u"whichItem"_s, 1}}},
        {u"ExcludedApps"_s,
         QVariantList{QVariantMap{{u"tag"_s, 5}, {u"libraryPath"_s, u"/a"_s}}, QVariantMap{{u"tag"_s, 2}},
                      QVariantMap{{u"tag"_s, 5}, {u"libraryPath"_s, u"/b"_s}}}},
        {u"songOptionsStruct"_s, QVariantMap{{u"isPlaylist"_s, true}, {u"playlistName"_s, u"Songs"_s}}},
        {u"photoOptionsStruct"_s, QVariantMap{{u"isCreateAlbum"_s, true}, {u"albumName"_s, u"Album"_s}}},
    });
    EXPECT_EQ(c.creator(), 0x74747874u);
    EXPECT_EQ(c.whichLabel(), 6);
    EXPECT_EQ(c.year(), 1999);
    EXPECT_EQ(c.durationTime(), 187u) << "truncated";
    EXPECT_EQ(c.durationTolerance(), 2u);
    EXPECT_EQ(c.cameraMakeModel(), (QStringList{u"Canon EOS"_s, u"Nikon D70"_s, QString()}));
    EXPECT_EQ(c.cameraTag(), 3);
    EXPECT_DOUBLE_EQ(c.locationTolerance(), 0.5);
    EXPECT_DOUBLE_EQ(c.latitude(), 45.26);
    EXPECT_DOUBLE_EQ(c.latitudeBetween(), 46.0);
    EXPECT_EQ(c.latitudeRef(), u"N"_s);
    EXPECT_EQ(c.userID(), quint32(::getuid()));
    EXPECT_TRUE(c.excludePhotosItems());
    EXPECT_EQ(c.excludePhotosItemsDict().value(u"libraryPath"_s).toString(), u"/b"_s) << "the last entry wins";
    EXPECT_FALSE(c.excludeiTunesItems());
    EXPECT_EQ(c.playlistName(), u"Album"_s) << "the album name wins";

    const KZSearchCriteria unquoted(
        group(u"isCreator"_s, u"creatorStruct"_s, {{u"whichItem"_s, 1}, {u"string"_s, u"ttxt"_s}}));
    EXPECT_EQ(unquoted.creator(), 0u);
}

TEST(CriteriaValues, PhotoDefaultListsImages)
{
    const KZSearchCriteria c(group(u"isDateTaken"_s, u"dateTakenStruct"_s, {{u"isSame"_s, true}}));
    const KZFilesUtilities& files = KZFilesUtilities::sharedControl();
    EXPECT_EQ(c.extensions(), files.imagesExtensions().split(u','));
    EXPECT_EQ(c.extensions().size(), 55);
    EXPECT_EQ(c.typesCount(), 30u);
    EXPECT_EQ(c.types(), files.typesFormattedToCheckWithSelector(&KZFilesUtilities::imagesTypes));
}

TEST(CriteriaValues, ReparsingStartsOver)
{
    KZSearchCriteria c(group(u"isDateTaken"_s, u"dateTakenStruct"_s, {{u"isSame"_s, true}}));
    c.setIsImageContent(true);
    c.initializeCriteriaWithDict({});
    EXPECT_EQ(trueFlags(c), kStart);
    EXPECT_TRUE(c.extensions().isEmpty());
    EXPECT_EQ(c.typesCount(), 0u);
}

// The engine flips these two while its workers read them.
TEST(CriteriaValues, EngineFlagsChangeWhileWorkersRead)
{
    KZSearchCriteria c(group(u"isContent"_s, u"contentStruct"_s, {{u"isData"_s, true}}));
    std::atomic<bool> stop{false};
    std::atomic<int> reads{0};
    std::vector<std::thread> workers;
    for (int i = 0; i < 3; ++i)
        workers.emplace_back([&] {
            while (!stop.load()) {
                if (c.isCompareContent())
                    ++reads;
                (void)c.isDeads();
                (void)c.isImageContent();
            }
        });
    // Keep changing them until the workers have read a good many times.
    for (int i = 0; reads.load() < 3000; ++i) {
        c.setIsDeads(i % 2 == 0);
        c.setIsImageContent(i % 3 == 0);
    }
    c.setIsDeads(true);
    c.setIsImageContent(true);
    stop = true;
    for (auto& w : workers)
        w.join();
    EXPECT_TRUE(c.isDeads());
    EXPECT_TRUE(c.isImageContent());
}

struct PredicateCase {
    const char* name;
    QVariantMap dict;
    bool sameSearch, uniqueSearch, onlySameDuration, isName, isSize, isType, isKind;
};

void PrintTo(const PredicateCase& c, std::ostream* os) { *os << c.name; }

class CriteriaPredicates : public ::testing::TestWithParam<PredicateCase> {};

TEST_P(CriteriaPredicates, Answers)
{
    const PredicateCase& tc = GetParam();
    const KZSearchCriteria c(tc.dict);
    EXPECT_EQ(c.isSameSearch(), tc.sameSearch);
    EXPECT_EQ(c.isUniqueSearch(), tc.uniqueSearch);
    EXPECT_EQ(c.isOnlySameDuration(), tc.onlySameDuration);
    EXPECT_EQ(c.isName(), tc.isName);
    EXPECT_EQ(c.isSize(), tc.isSize);
    EXPECT_EQ(c.isType(), tc.isType);
    EXPECT_EQ(c.isKind(), tc.isKind);
    EXPECT_FALSE(c.extensionNedeed());
}

const QVariantMap kSameDuration{{u"isDuration"_s, true}, {u"durationStruct"_s, QVariantMap{{u"isSame"_s, true}}}};
const QVariantMap kUniqueDuration{{u"isDuration"_s, true},
                                  {u"durationStruct"_s, QVariantMap{{u"isUnique"_s, true}}}};

INSTANTIATE_TEST_SUITE_P(
    Combined, CriteriaPredicates,
    ::testing::Values(
        PredicateCase{"Empty", {}, false, false, false, false, false, false, false},
        PredicateCase{"SameDurationAlone", kSameDuration, true, false, true, false, false, false, false},
        PredicateCase{"SameDurationWithSameName",
                      merged(kSameDuration, group(u"isName"_s, u"nameStruct"_s, {{u"isSame"_s, true}})), true, false,
                      false, true, false, false, false},
        PredicateCase{"UniqueDurationAlone", kUniqueDuration, false, true, true, false, false, false, false},
        PredicateCase{"UniqueDurationWithUniqueSize",
                      merged(kUniqueDuration, group(u"isSize"_s, u"sizeStruct"_s, {{u"isUnique"_s, true}})), false,
                      true, false, false, true, false, false},
        PredicateCase{"FolderContentIsASameSearch",
                      group(u"isFolder"_s, u"folderStruct"_s, {{u"compareContent"_s, true}}), true, false, false,
                      false, false, false, false},
        PredicateCase{"SkipDataIsSize", group(u"isContent"_s, u"contentStruct"_s, {{u"skipData"_s, true}}), false,
                      false, false, false, true, false, false},
        PredicateCase{"NoExtensionCompareIsName",
                      group(u"isName"_s, u"nameStruct"_s, {{u"extensionIsExcluded"_s, true}}), false, false, false,
                      true, false, false, false},
        PredicateCase{"PhotoDefaultIsTypeAndKind", group(u"isDateTaken"_s, u"dateTakenStruct"_s, {}), false, false,
                      false, false, false, true, true}),
    [](const ::testing::TestParamInfo<PredicateCase>& info) { return std::string(info.param.name); });

} // namespace
