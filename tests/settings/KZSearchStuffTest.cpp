#include "TestSupport.h"

#include "platform/Log.h"
#include "platform/PropertyList.h"
#include "platform/Resources.h"
#include "platform/UserDefaults.h"
#include "services/KZFilesUtilities.h"
#include "settings/KZDefaultsKeys.h"
#include "settings/KZSearchCriteria.h"
#include "settings/KZSearchStuff.h"

#include <QFile>

#include <gtest/gtest.h>

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace Qt::Literals::StringLiterals;

namespace {

QVariantMap locationRow(const QString& path, bool checked)
{
    return {{KZDefaultsRowKey::locations_excl, path}, {KZDefaultsRowKey::check_col, checked}};
}

QVariantMap extensionRow(const QString& extensions, bool checked)
{
    return {{KZDefaultsRowKey::extensions_excl, extensions}, {KZDefaultsRowKey::check_col, checked}};
}

QString text(const fs::path& path)
{
    return QFile::decodeName(QByteArray::fromStdString(path.string()));
}

// Fresh user defaults on a file of their own and a fresh shared request for
// every test, so no test sees another's preferences.
class SearchStuffTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        KZSearchStuff::setSharedControl(nullptr);
        platform::UserDefaults::setStandard(
            std::make_unique<platform::UserDefaults>(dir_ / "defaults.plist"));
    }

    void TearDown() override
    {
        // The shared request observes the defaults: it goes first.
        KZSearchStuff::setSharedControl(nullptr);
        KZFilesUtilities::setGlobalExclusionsProvider({});
        platform::UserDefaults::setStandard(nullptr);
        platform::setResourceDirectory({});
    }

    void setLocations(const QVariantList& rows)
    {
        platform::UserDefaults::standard().setValue(KZDefaultsKey::locations_excluded, rows);
    }

    void setExtensions(const QVariantList& rows)
    {
        platform::UserDefaults::standard().setValue(KZDefaultsKey::extensions_excluded, rows);
    }

    void writePresets(const QVariant& presets)
    {
        fs::create_directories(resources_.path());
        ASSERT_TRUE(platform::PropertyList::writeFile(resources_ / "criteria.plist", presets,
                                                      platform::PropertyList::Format::Xml));
        platform::setResourceDirectory(resources_.path());
    }

    kztest::TempDir dir_;
    kztest::TempDir resources_;
};

const std::vector<fs::path> kSystem{"/Library", "/System", "/System Folder"};

std::vector<fs::path> concat(std::vector<fs::path> a, const std::vector<fs::path>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST_F(SearchStuffTest, SourceExclusionsFirstThenSystemThenCheckedPreferences)
{
    setLocations({locationRow(u"/home/u/Backups"_s, true), locationRow(u"/home/u/Off"_s, false),
                  locationRow(u"/System"_s, true), locationRow(u"/home/u/Cache/"_s, true),
                  locationRow(QString(), true)});
    auto request = KZSearchStuff::searchStuff();
    EXPECT_TRUE(request->exludedByLocation().empty());

    auto source = std::make_shared<KZSourceItem>(QVariantMap{{u"url"_s, QVariant::fromValue(fs::path("/data"))}});
    source->addExcluded("/data/skip");
    request->addExcludedLocations(source->excluded());
    request->setSources({source});

    const auto result = request->globalExclusions();
    const std::vector<fs::path> expected =
        concat(concat({"/data/skip"}, kSystem), {"/home/u/Backups", "/home/u/Cache"});
    EXPECT_EQ(result, expected);
    EXPECT_EQ(request->exludedByLocation(), expected);
    EXPECT_EQ(request->exclLocsCount(), expected.size()) << "every entry counts, the source's own included";

    // Asking again lists nothing twice.
    EXPECT_EQ(request->globalExclusions(), expected);
    EXPECT_EQ(request->exclLocsCount(), expected.size());
}

TEST_F(SearchStuffTest, EntriesAlreadyListedAreNotRepeated)
{
    setLocations({locationRow(u"/data/skip/"_s, true), locationRow(u"//System"_s, true)});
    auto request = KZSearchStuff::searchStuff();
    request->addExcludedLocations({"/data/skip", "/System/"});
    const auto result = request->globalExclusions();
    EXPECT_EQ(result, (std::vector<fs::path>{"/data/skip", "/System/", "/Library", "/System Folder"}));
    EXPECT_EQ(request->exclLocsCount(), 4u);
}

TEST_F(SearchStuffTest, CountFollowsLaterAppends)
{
    auto request = KZSearchStuff::searchStuff();
    request->globalExclusions();
    auto list = request->exludedByLocation();
    list.push_back("/music/media");
    request->setExludedByLocation(list);
    request->setExclLocsCount(list.size());
    EXPECT_EQ(request->exclLocsCount(), kSystem.size() + 1);
    EXPECT_EQ(request->globalExclusions().size(), kSystem.size() + 1);
    EXPECT_EQ(request->exclLocsCount(), kSystem.size() + 1);
}

struct ExtensionRowsCase {
    const char* name;
    QVariantList rows;
    QStringList expected;
};

// Parameters print as their case name, so ctest and failure messages name
// the case rather than dumping its bytes.
void PrintTo(const ExtensionRowsCase& c, std::ostream* os) { *os << c.name; }

class ExtensionRows : public SearchStuffTest, public ::testing::WithParamInterface<ExtensionRowsCase> {};

TEST_P(ExtensionRows, CheckedRowsSplitAsTheyAre)
{
    setExtensions(GetParam().rows);
    EXPECT_EQ(KZSearchStuff::searchStuff()->preferencesExtensionArray(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ExtensionRows,
    ::testing::Values(
        ExtensionRowsCase{"None", {}, {}},
        ExtensionRowsCase{"UncheckedAddsNothing", {extensionRow(u"tmp,bak"_s, false)}, {}},
        ExtensionRowsCase{"ThreePieces", {extensionRow(u"tmp,bak,old"_s, true)}, {u"tmp"_s, u"bak"_s, u"old"_s}},
        ExtensionRowsCase{"RowOrderNoTrimNoCase",
                          {extensionRow(u"DS_Store"_s, true), extensionRow(u"x"_s, false),
                           extensionRow(u"Tmp, bak"_s, true)},
                          {u"DS_Store"_s, u"Tmp"_s, u" bak"_s}},
        ExtensionRowsCase{"MistypedRowsIgnored",
                          {QVariant(u"tmp"_s), QVariantMap{{KZDefaultsRowKey::check_col, true}},
                           QVariantMap{{KZDefaultsRowKey::extensions_excl, 3}, {KZDefaultsRowKey::check_col, true}}},
                          {}}),
    [](const ::testing::TestParamInfo<ExtensionRowsCase>& info) { return std::string(info.param.name); });

TEST_F(SearchStuffTest, EmptyCriteriaExactly)
{
    QVariantMap expected;
    for (const QString& key :
         {u"isCameraModel"_s, u"isPixelsSize"_s, u"isLocationTaken"_s, u"isDateTaken"_s, u"isYear"_s,
          u"isVisibility"_s, u"isType"_s, u"isSpecial"_s, u"isSongName"_s, u"isSize"_s, u"isPermissions"_s,
          u"isName"_s, u"isModified"_s, u"isLocked"_s, u"isLabel"_s, u"isKind"_s, u"isHasCustomIcon"_s,
          u"isGenre"_s, u"isFolder"_s, u"isExtension"_s, u"isEmptyFile"_s, u"isDuration"_s, u"isCreator"_s,
          u"isCreated"_s, u"isContent"_s, u"isAlbum"_s, u"isArtist"_s})
        expected.insert(key, false);
    expected.insert(u"songOptionsStruct"_s, QVariantMap{{u"isMp3"_s, true},
                                                         {u"isAAC"_s, true},
                                                         {u"isReportDeads"_s, false},
                                                         {u"isPlaylist"_s, false},
                                                         {u"playlistName"_s, false}});
    expected.insert(u"photoOptionsStruct"_s,
                    QVariantMap{{u"isReportDeads"_s, false}, {u"isCreateAlbum"_s, false}, {u"albumName"_s, false}});
    const QVariantMap actual = KZSearchStuff::emptyCriteria();
    EXPECT_EQ(actual, expected);
    EXPECT_EQ(actual.size(), 29);
    // Round trip through a property list: booleans stay booleans.
    const QByteArray xml = platform::PropertyList::toData(actual, platform::PropertyList::Format::Xml);
    EXPECT_EQ(platform::PropertyList::fromData(xml)->toMap(), expected);
}

TEST_F(SearchStuffTest, EmptyFoldersCriteriaExactly)
{
    auto request = KZSearchStuff::searchStuff();
    request->createEmptyFoldersCriteria();
    EXPECT_TRUE(request->isASearchForEmptyFoldersAfterTrashed());
    ASSERT_TRUE(request->criteria().has_value());

    QVariantMap expected = KZSearchStuff::emptyCriteria();
    expected.insert(u"isFolder"_s, true);
    expected.insert(u"folderStruct"_s, QVariantMap{{u"whichItem"_s, qint64(1)},
                                                    {u"excludeCustomIcon"_s, qint64(0)},
                                                    {u"neastedEmptied"_s, qint64(1)}});
    EXPECT_EQ(*request->criteria(), expected);
    EXPECT_EQ(request->criteria()->value(u"folderStruct"_s).toMap().value(u"whichItem"_s).typeId(),
              QMetaType::LongLong);

    // Every empty folder, one holding only empty folders included, is a find
    // of its own: nothing is compared.
    const KZSearchCriteria criteria(*request->criteria());
    EXPECT_TRUE(criteria.isFolderEmpty());
    EXPECT_TRUE(criteria.isNestedEmptied());
    EXPECT_FALSE(criteria.isExcludeEFCustIcon());
    EXPECT_FALSE(criteria.isOnlyDead());
    EXPECT_FALSE(criteria.excludeFolder());
    EXPECT_FALSE(criteria.isSameSearch());
    EXPECT_FALSE(criteria.isUniqueSearch());
    EXPECT_FALSE(criteria.isDeads());
    EXPECT_FALSE(criteria.isMP3()) << "no song group is on";
}

TEST_F(SearchStuffTest, PresetForFilesReceivesExcludedExtensions)
{
    const QVariantMap files{{u"isSize"_s, true},
                            {u"extensionStruct"_s, QVariantMap{{u"whichItem"_s, 2}, {u"array"_s, QVariantList{}}}}};
    const QVariantMap folders{{u"isFolder"_s, true}};
    writePresets(QVariantMap{{u"0"_s, files}, {u"1"_s, folders}});
    setExtensions({extensionRow(u"tmp,bak"_s, true), extensionRow(u"iso"_s, false)});

    auto request = KZSearchStuff::searchStuff();
    const auto zero = request->criteriaWithTag(0);
    ASSERT_TRUE(zero.has_value());
    EXPECT_EQ(request->exludedByExtensions(), (QStringList{u"tmp"_s, u"bak"_s}));
    QVariantMap expected = files;
    expected.insert(u"extensionStruct"_s,
                    QVariantMap{{u"whichItem"_s, qint64(2)}, {u"array"_s, QVariantList{u"tmp"_s, u"bak"_s}}});
    EXPECT_EQ(*zero, expected);
    // The engine reads the list as it arrives.
    const KZSearchCriteria parsed(QVariantMap{{u"isExtension"_s, true},
                                              {u"extensionStruct"_s, zero->value(u"extensionStruct"_s)}});
    EXPECT_EQ(parsed.extensions(), (QStringList{u"tmp"_s, u"bak"_s}));

    // Folders: the preset unchanged.
    const auto one = request->criteriaWithTag(1);
    ASSERT_TRUE(one.has_value());
    EXPECT_EQ(*one, folders);

    request->setSearchType(1);
    request->setIsASearchForEmptyFoldersAfterTrashed(true);
    request->createCriteria();
    EXPECT_FALSE(request->isASearchForEmptyFoldersAfterTrashed());
    EXPECT_EQ(request->criteria(), std::optional<QVariantMap>(folders));
}

TEST_F(SearchStuffTest, PresetWithoutExtensionGroupGetsOne)
{
    writePresets(QVariantMap{{u"0"_s, QVariantMap{{u"isSize"_s, true}}}});
    setExtensions({extensionRow(u"tmp"_s, true)});
    const auto zero = KZSearchStuff::searchStuff()->criteriaWithTag(0);
    ASSERT_TRUE(zero.has_value());
    EXPECT_EQ(zero->value(u"extensionStruct"_s).toMap(), (QVariantMap{{u"array"_s, QVariantList{u"tmp"_s}}}));
    EXPECT_FALSE(zero->contains(u"isExtension"_s));
}

TEST_F(SearchStuffTest, NoExcludedExtensionsLeavePresetAlone)
{
    const QVariantMap files{{u"extensionStruct"_s, QVariantMap{{u"array"_s, QVariantList{u"keep"_s}}}}};
    writePresets(QVariantMap{{u"0"_s, files}});
    setExtensions({extensionRow(u"tmp"_s, false)});
    EXPECT_EQ(KZSearchStuff::searchStuff()->criteriaWithTag(0), std::optional<QVariantMap>(files));
}

struct MissingPresetCase {
    const char* name;
    std::string fileContent; // empty: no file at all
    quint64 type;
};

void PrintTo(const MissingPresetCase& c, std::ostream* os) { *os << c.name; }

class MissingPreset : public SearchStuffTest, public ::testing::WithParamInterface<MissingPresetCase> {};

TEST_P(MissingPreset, GivesNoCriteria)
{
    const MissingPresetCase& tc = GetParam();
    if (!tc.fileContent.empty())
        resources_.write("criteria.plist", tc.fileContent);
    platform::setResourceDirectory(resources_.path());

    QStringList log;
    platform::setLogSink([&log](const QString& line) { log.append(line); });
    auto request = KZSearchStuff::searchStuff();
    request->setCriteria(QVariantMap{{u"stale"_s, true}});
    request->setSearchType(tc.type);
    request->createCriteria();
    platform::setLogSink({});
    EXPECT_FALSE(request->criteria().has_value());
    ASSERT_EQ(log.size(), 1);
    EXPECT_TRUE(log.front().contains(u"criteria"_s)) << log.front().toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Files, MissingPreset,
    ::testing::Values(
        MissingPresetCase{"NoFile", "", 0},
        MissingPresetCase{"Damaged", "<?xml version=\"1.0\"?><plist><dict><key>0</key>", 0},
        MissingPresetCase{"RootNotADictionary",
                          "<?xml version=\"1.0\"?><plist version=\"1.0\"><array><dict/></array></plist>", 0},
        MissingPresetCase{"NoEntryForType",
                          "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>0</key><dict/></dict></plist>", 1},
        MissingPresetCase{"EntryNotADictionary",
                          "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>0</key><true/></dict></plist>",
                          0}),
    [](const ::testing::TestParamInfo<MissingPresetCase>& info) { return std::string(info.param.name); });

// The presets that ship with the program must find duplicates, and the
// excluded extensions of the preferences must take effect on files.
TEST_F(SearchStuffTest, ShippedPresetsFindDuplicates)
{
    platform::setResourceDirectory({});
    ASSERT_FALSE(platform::resourcePath("criteria.plist").empty()) << "criteria.plist is not beside the program";
    setExtensions({extensionRow(u"tmp,bak"_s, true)});
    auto request = KZSearchStuff::searchStuff();

    const auto files = request->criteriaWithTag(KZSearchStuff::duplicateFiles);
    ASSERT_TRUE(files.has_value());
    const KZSearchCriteria fileCriteria(*files);
    EXPECT_TRUE(fileCriteria.isSameSearch());
    EXPECT_TRUE(fileCriteria.isSameSize());
    EXPECT_TRUE(fileCriteria.isCompareContent());
    EXPECT_TRUE(fileCriteria.isOnlyContent());
    EXPECT_TRUE(fileCriteria.excludeFolder());
    EXPECT_TRUE(fileCriteria.isExtensionNot());
    EXPECT_EQ(fileCriteria.extensions(), (QStringList{u"tmp"_s, u"bak"_s}));
    EXPECT_FALSE(fileCriteria.isFolderCompareContent());
    EXPECT_FALSE(fileCriteria.isOnlyDead());

    const auto folders = request->criteriaWithTag(KZSearchStuff::duplicateFolders);
    ASSERT_TRUE(folders.has_value());
    const KZSearchCriteria folderCriteria(*folders);
    EXPECT_TRUE(folderCriteria.isSameSearch());
    EXPECT_TRUE(folderCriteria.isFolderCompareContent());
    EXPECT_TRUE(folderCriteria.isFolderNotEmpty());
    EXPECT_FALSE(folderCriteria.excludeFolder());
    EXPECT_TRUE(folderCriteria.extensions().isEmpty());
}

TEST_F(SearchStuffTest, SharedInstanceFollowsThePreferencesAtOnce)
{
    const kztest::TempDir tree;
    const fs::path kept = tree.mkdir("kept");
    const fs::path toggled = tree.mkdir("toggled");
    setLocations({locationRow(text(kept), true), locationRow(text(toggled), true)});

    KZSearchStuff& shared = KZSearchStuff::sharedControl();
    EXPECT_TRUE(shared.observerIsRegistered());
    EXPECT_EQ(&shared, &KZSearchStuff::sharedControl());
    EXPECT_EQ(shared.globalExclusions(), concat(kSystem, {kept, toggled}));
    EXPECT_FALSE(KZSearchStuff::searchStuff()->observerIsRegistered());

    // The file utilities ask the shared request.
    const KZFilesUtilities& files = KZFilesUtilities::sharedControl();
    EXPECT_FALSE(files.fastDirectoryInfoForPath(toggled).has_value());

    setLocations({locationRow(text(kept), true), locationRow(text(toggled), false)});
    EXPECT_EQ(shared.exludedByLocation(), concat(kSystem, {kept})) << "without asking again";
    EXPECT_EQ(shared.exclLocsCount(), kSystem.size() + 1);
    EXPECT_TRUE(files.fastDirectoryInfoForPath(toggled).has_value());
    EXPECT_FALSE(files.fastDirectoryInfoForPath(kept).has_value());

    platform::UserDefaults::standard().removeValue(KZDefaultsKey::locations_excluded);
    EXPECT_EQ(shared.exludedByLocation(), kSystem);
}

TEST_F(SearchStuffTest, ReplacedSharedInstanceStopsObserving)
{
    KZSearchStuff::sharedControl().globalExclusions();
    auto replacement = KZSearchStuff::searchStuff(); // keeps its own list
    KZSearchStuff::setSharedControl(nullptr);
    // Would touch the destroyed instance if it still observed.
    setLocations({locationRow(u"/x"_s, true)});
    EXPECT_EQ(KZSearchStuff::sharedControl().globalExclusions(), concat(kSystem, {"/x"}));
    EXPECT_TRUE(replacement->exludedByLocation().empty());
}

} // namespace
