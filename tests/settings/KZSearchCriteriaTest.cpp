#include "services/KZDateUtilities.h"
#include "services/KZFilesUtilities.h"
#include "settings/KZSearchCriteria.h"
#include "support/TestSupport.h"

#include <QDateTime>

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using namespace Qt::Literals::StringLiterals;

namespace {

using Flags = std::set<std::string>;
using Entries = std::initializer_list<std::pair<const char*, QVariant>>;

QVariantMap m(Entries entries)
{
    QVariantMap out;
    for (const auto& [key, value] : entries)
        out.insert(QString::fromLatin1(key), value);
    return out;
}

// The group "isX" switched on, with operator `which` ("whichItem", unless
// negative) and more parameters under "xStruct".
QVariantMap G(const char* group, int which, Entries params = {})
{
    const QString name = QString::fromLatin1(group);
    const QString structKey =
        name == u"HasCustomIcon"_s ? u"customIconStruct"_s : name.front().toLower() + name.mid(1) + u"Struct"_s;
    QVariantMap p = m(params);
    if (which >= 0)
        p.insert(u"whichItem"_s, which);
    return {{u"is"_s + name, true}, {structKey, p}};
}

QVariantMap G(const char* group, Entries params = {}) { return G(group, -1, params); }

QVariantMap join(QVariantMap a, const QVariantMap& b)
{
    a.insert(b);
    return a;
}

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

Flags plus(Flags base, const char* names)
{
    std::istringstream in(names);
    for (std::string name; in >> name;)
        base.insert(name);
    return base;
}

// After an empty dictionary.
const Flags kStart{"isOnlyDead", "isOnlyContent", "isVisible"};
// Any group ends the only-missing-tracks state; a same flag also ends content-only.
Flags any(const char* names) { return plus({"isOnlyContent", "isVisible"}, names); }
Flags same(const char* names) { return plus({"isVisible"}, names); }
// Photo groups without their own extension or type filter look at images.
Flags photo(const char* names)
{
    return plus(any("isPhotoTag excludeFolder isExtensionIs isTypeIs isKindAlias isKindNot"), names);
}

TEST(CriteriaFlags, GroupsSetExactlyTheseFlags)
{
    const struct {
        const char* name;
        QVariantMap dict;
        Flags expected;
    } cases[] = {
        {"empty dictionary", {}, kStart},
        {"switched-off groups ignore their parameters",
         {{u"isName"_s, false}, {u"nameStruct"_s, m({{"isSame", true}})}, {u"isVisibility"_s, false},
          {u"visibilityStruct"_s, m({{"whichItem", 1}})}},
         kStart},
        {"mistyped switch reads as off", {{u"isName"_s, u"YES"_s}, {u"nameStruct"_s, m({{"whichItem", 1}})}}, kStart},
        // Same over unique over filter.
        {"same wins over unique and filter", G("Name", 1, {{"isSame", true}, {"isUnique", true}, {"string", u"x"_s}}),
         same("isSameName")},
        {"unique wins over filter", G("Name", 1, {{"isUnique", true}, {"string", u"x"_s}}), any("isUniqueName")},
        {"name contains", G("Name", 1), any("isNameContains")},
        {"name ends", G("Name", 3), any("isNameEnd")},
        {"name is not", G("Name", 5), any("nameIsNot")},
        {"name does not contain", G("Name", 6), any("nameDoesntContains")},
        {"operator zero sets nothing", G("Name", 0), any("")},
        {"operator past the table sets nothing", G("Name", 7), any("")},
        {"name without extension, with expression",
         G("Name", {{"isSame", true}, {"extensionIsExcluded", true}, {"isExcludeExpression", true}}),
         same("isSameName noExtensionCompare isExcludeExpression")},
        {"modified between", G("Modified", 7), any("isModifiedBetween")},
        {"created yesterday", G("Created", 6), any("isCreatedYesterday")},
        // The extension group leaves folders out even as a comparison.
        {"same extension", G("Extension", {{"isSame", true}}), same("isSameExtension excludeFolder")},
        {"creator is", G("Creator", 1), any("isCreatorIs excludeFolder")},
        // The same size is where content comparison starts: it stays content-only.
        {"same size, limit between",
         G("Size", {{"isSame", true}, {"isLimitSize", true}, {"whichLimitItem", 4}, {"whichTotalItem", 2}}),
         any("isSameSize isLimitSize isLimitSizeBetween excludeFolder")},
        {"unique size, limit at most", G("Size", {{"isUnique", true}, {"isLimitSize", true}, {"whichLimitItem", 2}}),
         any("isUniqueSize isLimitSize isLimitSizeLessOrEqual excludeFolder")},
        {"limit without bound", G("Size", {{"isSame", true}, {"isLimitSize", true}, {"whichLimitItem", 1}}),
         any("isSameSize isLimitSize excludeFolder")},
        {"size filter less, limit keys unread",
         G("Size", {{"whichTotalItem", 2}, {"isLimitSize", true}, {"whichLimitItem", 2}}),
         any("isTotalSize isSizeLess excludeFolder")},
        {"size not between", G("Size", {{"whichTotalItem", 5}}), any("isTotalSize isSizeNotBetween excludeFolder")},
        {"content", G("Content", {{"isData", true}, {"skipData", true}, {"skipRes", true}, {"treatPack", true}}),
         any("isDataContent isCompareContent isSkipData isSkipResource treatPackAsFolder excludeFolder")},
        {"empty files", m({{"isEmptyFile", true}}), any("isEmptyFile excludeFolder")},
        {"no custom icon", G("HasCustomIcon", 2), same("isHasCustomIconNot")},
        {"not locked", G("Locked", 2), same("isLockedNot")},
        {"invisible only", G("Visibility", 1), {"isOnlyContent", "isInvisible"}},
        {"visible and invisible", G("Visibility", 2), {"isOnlyContent", "isVisible", "isInvisible"}},
        {"visibility past the table", G("Visibility", 3), {"isOnlyContent"}},
        {"empty folders, nested", G("Folder", 1, {{"neastedEmptied", 1}, {"excludeCustomIcon", 1}}),
         any("isFolderEmpty isNestedEmptied isExcludeEFCustIcon")},
        // The folder group comes after content and lets folders back in ...
        {"folder operator two clears an earlier exclusion",
         join(G("Content", {{"isData", true}}), G("Folder", 2, {{"compareContent", true}})),
         any("isDataContent isCompareContent isFolderNotEmpty isFolderCompareContent")},
        // ... but a later group leaves them out again.
        {"later group wins over folder operator two", join(G("Folder", 2), G("Artist", 1)),
         any("isFolderNotEmpty isArtistContains isSongTags excludeFolder")},
        {"kind is folder keeps folders", G("Kind", 1, {{"whichItem2", 3}}), any("isKindIs isKindFolder")},
        {"kind is not application", G("Kind", 2, {{"whichItem2", 2}}),
         any("isKindNot isKindApplication isBothApp excludeFolder")},
        {"kind past the table", G("Kind", 1, {{"whichItem2", 9}}), any("isKindIs excludeFolder")},
        {"label is not", G("Label", 2, {{"whichItem2", 3}}), same("isLabelNot")},
        {"owned", G("Permissions", 5), same("isPOwnership")},
        {"same genre", G("Genre", {{"isSame", true}}), same("isSameGenre isSongTags excludeFolder")},
        {"album does not contain", G("Album", 6), any("isAlbumDoesntContain isSongTags excludeFolder")},
        {"year after", G("Year", 3), any("isYearGreater isSongTags excludeFolder")},
        {"duration less", G("Duration", 2), any("isDurationLess isDuration isSongTags excludeFolder")},
        {"duration past the table", G("Duration", 4), any("isSongTags excludeFolder")},
        // Aliases are always out; compressed files only for operator 0.
        {"special, no operator", G("Special"), any("isKindAlias isKindNot isCompressedFile excludeFolder")},
        {"special, other operator", G("Special", 1), any("isKindAlias isKindNot")},
        {"date taken gets the image default", G("DateTaken", 2), photo("isDateTakenBefore")},
        {"extension filter suppresses the image default",
         join(G("Extension", 2, {{"string", u"(tif)"_s}}), G("PixelsSize", {{"isSame", true}, {"isSameWidth", true}})),
         same("isExtensionNot excludeFolder isSamePixelsSize isSameWidthPixelsSize isPhotoTag")},
        {"same extension does not suppress it", join(G("Extension", {{"isSame", true}}), G("CameraModel", 4)),
         same("isSameExtension isCameraModelIs excludeFolder isPhotoTag isExtensionIs isTypeIs isKindAlias isKindNot")},
        {"pixels between, width only", G("PixelsSize", 7, {{"isWidth", true}, {"isSameWidth", true}}),
         photo("isPixelsWidthSize isPixelsBetween")},
        {"latitude operators four to six set nothing",
         G("LocationTaken", {{"isLongitude", true}, {"longitudeWhichItem", 5}}), photo("isLongitudeLocation")},
        // Entries without a switch do not end the only-missing-tracks state.
        {"options alone keep only-dead",
         m({{"songOptionsStruct", m({{"isReportDeads", true}, {"isMp3", true}, {"isPlaylist", true}})},
            {"ExcludedApps", QVariantList{m({{"tag", 1}})}}}),
         plus(kStart, "isDeads isPlaylist excludeiTunesItems")},
        {"song formats need a song group",
         join(G("Year", {{"isUnique", true}}), m({{"songOptionsStruct", m({{"isMp3", true}, {"isAAC", true}})}})),
         any("isUniqueYear isSongTags excludeFolder isMP3 isAAC")},
        {"photo options read last win",
         m({{"songOptionsStruct", m({{"isReportDeads", true}, {"isPlaylist", true}})},
            {"photoOptionsStruct", m({{"isReportDeads", false}, {"isCreateAlbum", false}})}}),
         kStart},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(trueFlags(KZSearchCriteria(c.dict)), c.expected);
    }
}

TEST(CriteriaValues, SizesAreReadOnlyForTheirOperators)
{
    const KZSearchCriteria limits(G("Size", {{"isSame", true}, {"isLimitSize", true}, {"whichLimitItem", 4},
                                             {"limitSize", 100}, {"limitBSize", 200}, {"totalSize", 7}}));
    EXPECT_EQ(limits.limitSizeValue(), 100u);
    EXPECT_EQ(limits.limitSizeBetweenValue(), 200u);
    EXPECT_EQ(limits.sizeValue(), 0u) << "filter keys are not read for a comparison";

    const KZSearchCriteria less(
        G("Size", {{"whichTotalItem", 2}, {"totalSize", 4096}, {"totalBSize", 9}, {"limitSize", 5}}));
    EXPECT_EQ(less.sizeValue(), 4096u);
    EXPECT_EQ(less.sizeBetweenValue(), 0u) << "the upper bound belongs to operators 4 and 5 only";
    EXPECT_EQ(less.limitSizeValue(), 0u);

    EXPECT_EQ(KZSearchCriteria(G("Size", {{"whichTotalItem", 4}, {"totalBSize", quint64(~0ull)}})).sizeBetweenValue(),
              ~0ull);
    EXPECT_EQ(KZSearchCriteria(G("Size", {{"whichTotalItem", 1}, {"totalSize", -1}})).sizeValue(), 0u)
        << "a negative byte count is no count";
}

TEST(CriteriaValues, ExtensionListFromStringOrArray)
{
    const struct {
        const char* name;
        QVariantMap params;
        QStringList expected;
    } cases[] = {
        {"enclosed", m({{"whichItem", 1}, {"string", u"(jpg,png)"_s}}), {u"jpg"_s, u"png"_s}},
        // The enclosing characters are dropped whatever they are.
        {"not enclosed", m({{"whichItem", 1}, {"string", u"jpg,png"_s}}), {u"pg"_s, u"pn"_s}},
        {"spaces kept", m({{"string", u"(a, b)"_s}}), {u"a"_s, u" b"_s}},
        {"only the enclosing characters", m({{"string", u"()"_s}}), {QString()}},
        // Too short to hold the enclosing characters: nothing, never a read past the text.
        {"one character", m({{"string", u"x"_s}}), {}},
        {"empty string", m({{"string", u""_s}}), {}},
        {"string wins over array", m({{"string", u"(raw)"_s}, {"array", QVariantList{u"tif"_s}}}), {u"raw"_s}},
        {"array without non-texts", m({{"array", QVariantList{u"tif"_s, u"TIF"_s, 3}}}), {u"tif"_s, u"TIF"_s}},
        {"not read for a comparison", m({{"isSame", true}, {"string", u"(jpg)"_s}}), {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const KZSearchCriteria criteria({{u"isExtension"_s, true}, {u"extensionStruct"_s, c.params}});
        EXPECT_EQ(criteria.extensions(), c.expected);
    }
}

TEST(CriteriaValues, NameTextAndExpression)
{
    // "ﬁ" (U+FB01) decomposes to "fi" under compatibility decomposition.
    EXPECT_EQ(KZSearchCriteria(G("Name", 1, {{"string", u"\uFB01le"_s}})).name(), u"file"_s);

    const KZSearchCriteria expression(G("Name", {{"isSame", true}, {"isExcludeExpression", true},
                                                 {"separators", u" -"_s}, {"differences", u"0123456789"_s}}));
    EXPECT_EQ(expression.separators(), std::optional(KZSearchCriteria::CharacterSet{U' ', U'-'}));
    EXPECT_EQ(expression.differences().size(), 10);

    // Without "differences" the name preparation still gets a set to ask.
    const KZSearchCriteria noDifferences(G("Name", {{"isExcludeExpression", true}, {"separators", u""_s}}));
    EXPECT_TRUE(noDifferences.isExcludeExpression());
    EXPECT_TRUE(noDifferences.differences().isEmpty());
    EXPECT_FALSE(noDifferences.separators().has_value()) << "an empty separators text sets nothing";

    EXPECT_FALSE(KZSearchCriteria(G("Name", {{"separators", u"_"_s}})).separators().has_value())
        << "without the expression option the texts are not read";
}

// Only the exact form counts; anything else is no date (0), never a guess.
TEST(CriteriaValues, DatesInTheStrictFormOnly)
{
    const std::pair<QString, bool> cases[] = {
        {u"2019/05/03 12:34:56"_s, true},   {u"2001/01/01 00:00:00"_s, true},  {u"2019/05/03"_s, false},
        {u"2019-05-03 12:34:56"_s, false},  {u" 2019/05/03 12:34:56"_s, false}, {u"2019/05/03 12:34:56Z"_s, false},
        {u"2019/13/03 12:34:56"_s, false},  {QString(), false},
    };
    for (const auto& [text, valid] : cases) {
        SCOPED_TRACE(text.toStdString());
        const KZSearchCriteria c(join(G("Modified", 7, {{"date", text}, {"betweenDate", text}}),
                                      G("DateTaken", 1, {{"date", text}})));
        double dayStart = 0.0;
        if (valid) {
            const QDateTime date = QDateTime::fromString(text, u"yyyy/MM/dd HH:mm:ss"_s);
            const QDateTime utc(date.date(), date.time(), Qt::UTC);
            dayStart = KZDateUtilities::sharedControl().convertDateOfCurrFile(
                KZDateUtilities::timeIntervalSinceReferenceDate(utc));
            // The start of the local day holding that GMT time.
            const QDateTime start = KZDateUtilities::dateWithTimeIntervalSinceReferenceDate(dayStart).toLocalTime();
            EXPECT_EQ(start.time(), QTime(0, 0));
            EXPECT_EQ(start.date(), utc.toLocalTime().date());
        }
        EXPECT_EQ(c.modSecs(), dayStart);
        EXPECT_EQ(c.modBetweenSecs(), dayStart);
        EXPECT_EQ(c.takenSecs(), valid ? quint32(dayStart + 3061152000.0) : 0u);
    }
}

TEST(CriteriaValues, OtherGroupValues)
{
    const KZSearchCriteria c(join(
        join(join(G("Creator", 1, {{"string", u"'ttxt'"_s}}), G("Duration", 1, {{"duration", 187.9}})),
             join(G("CameraModel", 1, {{"string", u" Canon EOS ,Nikon D70,  "_s}}),
                  G("LocationTaken", {{"isTolerance", true}, {"toleranceMinutesValue", 30}, {"isLatitude", true},
                                      {"latitudeDegressValue", 45}, {"latitudeMinutesValue", 15},
                                      {"latitudeSecondValue", 36.0}, {"latitudeWhichItem", 7},
                                      {"latitudeBetDegressValue", 46}}))),
        m({{"ExcludedApps", QVariantList{m({{"tag", 5}, {"libraryPath", u"/a"_s}}), m({{"tag", 2}}),
                                         m({{"tag", 5}, {"libraryPath", u"/b"_s}})}},
           {"songOptionsStruct", m({{"isPlaylist", true}, {"playlistName", u"Songs"_s}})},
           {"photoOptionsStruct", m({{"isCreateAlbum", true}, {"albumName", u"Album"_s}})}})));
    EXPECT_EQ(c.creator(), 0x74747874u);
    EXPECT_EQ(c.durationTime(), 187u) << "truncated";
    EXPECT_EQ(c.cameraMakeModel(), (QStringList{u"Canon EOS"_s, u"Nikon D70"_s, QString()}));
    EXPECT_DOUBLE_EQ(c.locationTolerance(), 0.5);
    EXPECT_DOUBLE_EQ(c.latitude(), 45.26);
    EXPECT_DOUBLE_EQ(c.latitudeBetween(), 46.0);
    EXPECT_EQ(c.excludePhotosItemsDict().value(u"libraryPath"_s).toString(), u"/b"_s) << "the last entry wins";
    EXPECT_FALSE(c.excludeiTunesItems());
    EXPECT_EQ(c.playlistName(), u"Album"_s) << "the album name wins";
    EXPECT_EQ(KZSearchCriteria(G("Creator", 1, {{"string", u"ttxt"_s}})).creator(), 0u) << "unquoted is no code";
}

TEST(CriteriaValues, ImageDefaultAndReparsing)
{
    KZSearchCriteria c(G("DateTaken", {{"isSame", true}}));
    const KZFilesUtilities& files = KZFilesUtilities::sharedControl();
    EXPECT_EQ(c.extensions(), files.imagesExtensions().split(u','));
    EXPECT_EQ(c.extensions().size(), 55);
    EXPECT_EQ(c.typesCount(), 30u);
    EXPECT_EQ(c.types(), files.typesFormattedToCheckWithSelector(&KZFilesUtilities::imagesTypes));

    // Parsing again starts over, the engine's own flags included.
    c.setIsImageContent(true);
    c.initializeCriteriaWithDict({});
    EXPECT_EQ(trueFlags(c), kStart);
    EXPECT_TRUE(c.extensions().isEmpty());
    EXPECT_EQ(c.typesCount(), 0u);
}

// The engine flips these two while its workers read them (a race that the
// sanitizer builds catch).
TEST(CriteriaValues, EngineFlagsChangeWhileWorkersRead)
{
    KZSearchCriteria c(G("Content", {{"isData", true}}));
    std::atomic<bool> stop{false};
    std::atomic<int> reads{0};
    std::vector<std::thread> workers;
    for (int i = 0; i < 3; ++i)
        workers.emplace_back([&] {
            while (!stop.load())
                reads += int(c.isDeads()) + int(c.isImageContent()) + 1;
        });
    const kztest::Deadline deadline;
    for (int i = 0; reads.load() < 3000 && !deadline.passed(); ++i) {
        c.setIsDeads(i % 2 == 0);
        c.setIsImageContent(i % 3 == 0);
    }
    c.setIsDeads(true);
    c.setIsImageContent(true);
    stop = true;
    for (auto& w : workers)
        w.join();
    EXPECT_GE(reads.load(), 3000);
    EXPECT_TRUE(c.isDeads() && c.isImageContent());
}

TEST(CriteriaValues, CombinedPredicates)
{
    const auto answers = [](const KZSearchCriteria& c) {
        Flags out;
        for (const auto& [name, yes] : {std::pair("same", c.isSameSearch()), {"unique", c.isUniqueSearch()},
                                        {"onlyDuration", c.isOnlySameDuration()}, {"name", c.isName()},
                                        {"size", c.isSize()}, {"type", c.isType()}, {"kind", c.isKind()},
                                        {"extensionNeeded", c.extensionNedeed()}})
            if (yes)
                out.insert(name);
        return out;
    };
    const QVariantMap sameDuration = G("Duration", {{"isSame", true}});
    const QVariantMap uniqueDuration = G("Duration", {{"isUnique", true}});
    const struct {
        const char* name;
        QVariantMap dict;
        Flags expected;
    } cases[] = {
        {"empty", {}, {}},
        {"same duration alone", sameDuration, {"same", "onlyDuration"}},
        {"same duration with same name", join(sameDuration, G("Name", {{"isSame", true}})), {"same", "name"}},
        {"unique duration alone", uniqueDuration, {"unique", "onlyDuration"}},
        {"unique duration, unique size", join(uniqueDuration, G("Size", {{"isUnique", true}})), {"unique", "size"}},
        {"folder content is a same search", G("Folder", {{"compareContent", true}}), {"same"}},
        {"skipping data is a size criterion", G("Content", {{"skipData", true}}), {"size"}},
        {"no extension compare is a name criterion", G("Name", {{"extensionIsExcluded", true}}), {"name"}},
        {"image default is type and kind", G("DateTaken"), {"type", "kind"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(answers(KZSearchCriteria(c.dict)), c.expected);
    }
}

} // namespace

// A group switched on without its settings compares and filters nothing:
// the criteria as a whole decide nothing and name that group, while a group
// with a comparison or an operator decides, and a useless group beside one
// that decides is only named.
TEST(CriteriaValues, GroupsWithoutTheirSettingsDecideNothing)
{
    for (const char* group : {"isSize", "isContent", "isName", "isExtension", "isLocked", "isModified", "isFolder",
                              "isKind", "isLabel", "isDateTaken", "isPixelsSize"}) {
        SCOPED_TRACE(group);
        const KZSearchCriteria alone(m({{group, true}}));
        EXPECT_FALSE(alone.decidesAnything());
        EXPECT_EQ(alone.groupsWithoutSettings(), QStringList{QString::fromLatin1(group)});
    }
    const KZSearchCriteria none(QVariantMap{});
    EXPECT_FALSE(none.decidesAnything());
    EXPECT_TRUE(none.groupsWithoutSettings().isEmpty());

    const struct {
        const char* name;
        QVariantMap dict;
        QStringList empty;
    } deciding[] = {
        {"same size", G("Size", {{"isSame", true}}), {}},
        {"content", G("Content", {{"isData", true}}), {}},
        {"skipping empty files", G("Content", {{"skipData", true}}), {}},
        {"a name operator", G("Name", 1, {{"string", u"x"_s}}), {}},
        {"locked", G("Locked", 1), {}},
        {"empty folders", G("Folder", 1), {}},
        {"special items", m({{"isSpecial", true}}), {}},
        {"empty files", m({{"isEmptyFile", true}}), {}},
        {"a useless group beside", join(G("Size", {{"isSame", true}}), m({{"isKind", true}})), {u"isKind"_s}},
    };
    for (const auto& c : deciding) {
        SCOPED_TRACE(c.name);
        const KZSearchCriteria criteria(c.dict);
        EXPECT_TRUE(criteria.decidesAnything());
        EXPECT_EQ(criteria.groupsWithoutSettings(), c.empty);
    }
}
