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
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace Qt::Literals::StringLiterals;
using Paths = std::vector<fs::path>;

namespace {

QVariantMap locationRow(const QString& path, bool checked)
{
    return {{KZDefaultsRowKey::locations_excl, path}, {KZDefaultsRowKey::check_col, checked}};
}
QVariantMap extensionRow(const QString& extensions, bool checked)
{
    return {{KZDefaultsRowKey::extensions_excl, extensions}, {KZDefaultsRowKey::check_col, checked}};
}

Paths concat(Paths a, const Paths& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const Paths kSystem{"/Library", "/System", "/System Folder"};

// Fresh user defaults on a file of their own and a fresh shared request for
// every test, so no test sees another's preferences.
class SearchStuffTest : public ::testing::Test {
protected:
    void SetUp() override { KZSearchStuff::setSharedControl(nullptr); }
    void TearDown() override
    {
        // The shared request observes the defaults: it goes before them.
        KZSearchStuff::setSharedControl(nullptr);
        platform::setResourceDirectory({});
        platform::setLogSink({});
    }

    void setLocations(const QVariantList& rows) { defaults().setValue(KZDefaultsKey::locations_excluded, rows); }
    void setExtensions(const QVariantList& rows) { defaults().setValue(KZDefaultsKey::extensions_excluded, rows); }
    platform::UserDefaults& defaults() { return *defaults_; }
    void writePresets(const QVariantMap& presets)
    {
        ASSERT_TRUE(platform::PropertyList::writeFile(resources_ / "criteria.plist", presets,
                                                      platform::PropertyList::Format::Xml));
        platform::setResourceDirectory(resources_.path());
    }

    kztest::ScopedDefaults defaults_;
    kztest::TempDir resources_;
};

TEST_F(SearchStuffTest, ExclusionsAreListedOnceEachAndCounted)
{
    setLocations({locationRow(u"/home/u/Backups"_s, true), locationRow(u"/home/u/Off"_s, false),
                  locationRow(u"//System"_s, true), locationRow(u"/home/u/Cache/"_s, true),
                  locationRow(QString(), true), locationRow(u"/data/skip/"_s, true)});
    auto request = KZSearchStuff::searchStuff();
    // The sources' own entries come first, as they were spelled.
    request->addExcludedLocations({"/data/skip", "/System/"});
    const Paths expected{"/data/skip", "/System/", "/Library", "/System Folder", "/home/u/Backups", "/home/u/Cache"};
    EXPECT_EQ(request->globalExclusions(), expected);
    EXPECT_EQ(request->exclLocsCount(), expected.size());
    EXPECT_EQ(request->globalExclusions(), expected) << "asking again lists nothing twice";
    EXPECT_EQ(request->exclLocsCount(), expected.size());

    // An entry appended later (as the music library's media folder is) counts too.
    Paths list = request->exludedByLocation();
    list.push_back("/music/media");
    request->setExludedByLocation(list);
    EXPECT_EQ(request->globalExclusions().size(), expected.size() + 1);
    EXPECT_EQ(request->exclLocsCount(), expected.size() + 1);
    // Appended after the count, without asking for the globals again.
    request->addExcludedLocations({"/music/other media"});
    EXPECT_EQ(request->exclLocsCount(), expected.size() + 2);
}

TEST_F(SearchStuffTest, EmptyAndEmptyFoldersCriteriaExactly)
{
    QVariantMap empty;
    for (const char* key :
         {"isCameraModel", "isPixelsSize", "isLocationTaken", "isDateTaken", "isYear", "isVisibility", "isType",
          "isSpecial", "isSongName", "isSize", "isPermissions", "isName", "isModified", "isLocked", "isLabel",
          "isKind", "isHasCustomIcon", "isGenre", "isFolder", "isExtension", "isEmptyFile", "isDuration",
          "isCreator", "isCreated", "isContent", "isAlbum", "isArtist"})
        empty.insert(QString::fromLatin1(key), false);
    empty.insert(u"songOptionsStruct"_s, QVariantMap{{u"isMp3"_s, true}, {u"isAAC"_s, true},
                                                      {u"isReportDeads"_s, false}, {u"isPlaylist"_s, false},
                                                      {u"playlistName"_s, false}});
    empty.insert(u"photoOptionsStruct"_s,
                 QVariantMap{{u"isReportDeads"_s, false}, {u"isCreateAlbum"_s, false}, {u"albumName"_s, false}});
    EXPECT_EQ(KZSearchStuff::emptyCriteria(), empty);
    // Booleans stay booleans through a property list.
    const QByteArray xml = platform::PropertyList::toData(empty, platform::PropertyList::Format::Xml);
    EXPECT_EQ(platform::PropertyList::fromData(xml)->toMap(), empty);

    auto request = KZSearchStuff::searchStuff();
    request->createEmptyFoldersCriteria();
    EXPECT_TRUE(request->isASearchForEmptyFoldersAfterTrashed());
    QVariantMap folders = empty;
    folders.insert(u"isFolder"_s, true);
    folders.insert(u"folderStruct"_s, QVariantMap{{u"whichItem"_s, qint64(1)}, {u"excludeCustomIcon"_s, qint64(0)},
                                                   {u"neastedEmptied"_s, qint64(1)}});
    ASSERT_EQ(request->criteria(), std::optional(folders));
    // Numbers, not booleans, as the preset files hold them.
    EXPECT_EQ(request->criteria()->value(u"folderStruct"_s).toMap().value(u"whichItem"_s).typeId(),
              QMetaType::LongLong);
}

TEST_F(SearchStuffTest, FilePresetReceivesTheCheckedExcludedExtensions)
{
    const QVariantMap files{{u"isSize"_s, true},
                            {u"extensionStruct"_s, QVariantMap{{u"whichItem"_s, 2}, {u"array"_s, QVariantList{}}}}};
    const QVariantMap folders{{u"isFolder"_s, true}};
    writePresets({{u"0"_s, files}, {u"1"_s, folders}});
    // Checked rows only, in row order, split as they are: no trimming, case
    // kept; mistyped rows are passed over.
    setExtensions({extensionRow(u"tmp,Bak"_s, true), extensionRow(u"iso"_s, false), extensionRow(u" x"_s, true),
                   QVariant(u"y"_s), QVariantMap{{KZDefaultsRowKey::check_col, true}},
                   QVariantMap{{KZDefaultsRowKey::extensions_excl, 3}, {KZDefaultsRowKey::check_col, true}}});

    auto request = KZSearchStuff::searchStuff();
    QVariantMap expected = files;
    expected.insert(u"extensionStruct"_s, QVariantMap{{u"whichItem"_s, qint64(2)},
                                                       {u"array"_s, QVariantList{u"tmp"_s, u"Bak"_s, u" x"_s}}});
    EXPECT_EQ(request->criteriaWithTag(0), std::optional(expected));
    EXPECT_EQ(request->exludedByExtensions(), (QStringList{u"tmp"_s, u"Bak"_s, u" x"_s}));
    EXPECT_EQ(request->criteriaWithTag(1), std::optional(folders)) << "folders: the preset unchanged";

    request->setSearchType(1);
    request->setIsASearchForEmptyFoldersAfterTrashed(true);
    request->createCriteria();
    EXPECT_FALSE(request->isASearchForEmptyFoldersAfterTrashed());
    EXPECT_EQ(request->criteria(), std::optional(folders));

    // A preset without an extension group gets one, still switched off.
    writePresets({{u"0"_s, QVariantMap{{u"isSize"_s, true}}}});
    setExtensions({extensionRow(u"tmp"_s, true)});
    EXPECT_EQ(request->criteriaWithTag(0),
              std::optional(QVariantMap{{u"isSize"_s, true},
                                        {u"extensionStruct"_s, QVariantMap{{u"array"_s, QVariantList{u"tmp"_s}}}}}));

    // Nothing checked leaves the preset's own list alone.
    const QVariantMap keep{{u"extensionStruct"_s, QVariantMap{{u"array"_s, QVariantList{u"keep"_s}}}}};
    writePresets({{u"0"_s, keep}});
    setExtensions({extensionRow(u"tmp"_s, false)});
    EXPECT_EQ(request->criteriaWithTag(0), std::optional(keep));
}

TEST_F(SearchStuffTest, MissingOrDamagedPresetGivesNoCriteriaAndALogLine)
{
    const struct {
        const char* name;
        std::string content; // empty: no file at all
        quint64 type;
    } cases[] = {
        {"no file", "", 0},
        {"damaged", "<plist><dict><key>0</key>", 0},
        {"root not a dictionary", "<plist version=\"1.0\"><array><dict/></array></plist>", 0},
        {"no entry for the type", "<plist version=\"1.0\"><dict><key>0</key><dict/></dict></plist>", 1},
        {"entry not a dictionary", "<plist version=\"1.0\"><dict><key>0</key><true/></dict></plist>", 0},
    };
    platform::setResourceDirectory(resources_.path());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(resources_ / "criteria.plist");
        if (!c.content.empty())
            resources_.write("criteria.plist", "<?xml version=\"1.0\"?>" + c.content);
        QStringList log;
        platform::setLogSink([&log](const QString& line) { log.append(line); });
        auto request = KZSearchStuff::searchStuff();
        request->setCriteria(QVariantMap{{u"stale"_s, true}});
        request->setSearchType(c.type);
        request->createCriteria();
        platform::setLogSink({});
        EXPECT_FALSE(request->criteria().has_value());
        ASSERT_EQ(log.size(), 1);
        EXPECT_TRUE(log.front().contains(u"criteria"_s)) << log.front().toStdString();
    }
}

// The presets that ship with the program must find duplicates, and the
// excluded extensions of the preferences must take effect on files.
TEST_F(SearchStuffTest, ShippedPresetsFindDuplicates)
{
    ASSERT_FALSE(platform::resourcePath("criteria.plist").empty()) << "criteria.plist is not beside the program";
    setExtensions({extensionRow(u"tmp,bak"_s, true)});
    auto request = KZSearchStuff::searchStuff();

    const KZSearchCriteria files(request->criteriaWithTag(KZSearchStuff::duplicateFiles).value_or(QVariantMap{}));
    EXPECT_TRUE(files.isSameSearch() && files.isSameSize() && files.isCompareContent() && files.isOnlyContent());
    EXPECT_TRUE(files.excludeFolder() && files.isExtensionNot());
    EXPECT_EQ(files.extensions(), (QStringList{u"tmp"_s, u"bak"_s}));
    EXPECT_FALSE(files.isFolderCompareContent() || files.isOnlyDead());

    const KZSearchCriteria folders(request->criteriaWithTag(KZSearchStuff::duplicateFolders).value_or(QVariantMap{}));
    EXPECT_TRUE(folders.isSameSearch() && folders.isFolderCompareContent() && folders.isFolderNotEmpty());
    EXPECT_TRUE(!folders.excludeFolder() && folders.extensions().isEmpty());
}

TEST_F(SearchStuffTest, SharedInstanceFollowsThePreferencesAtOnce)
{
    const kztest::TempDir tree;
    const fs::path kept = tree.mkdir("kept");
    const fs::path toggled = tree.mkdir("toggled");
    const auto text = [](const fs::path& p) { return QFile::decodeName(QByteArray::fromStdString(p.string())); };
    setLocations({locationRow(text(kept), true), locationRow(text(toggled), true)});

    KZSearchStuff& shared = KZSearchStuff::sharedControl();
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

    defaults().removeValue(KZDefaultsKey::locations_excluded);
    EXPECT_EQ(shared.exludedByLocation(), kSystem);
}

// A folder dropped on the search window before any search has run.
TEST_F(SearchStuffTest, QuickFolderCheckMakesTheSharedRequestAndHonoursItsExclusions)
{
    const kztest::TempDir tree;
    const fs::path excluded = tree.mkdir("excluded");
    setLocations({locationRow(QFile::decodeName(QByteArray::fromStdString(excluded.string())), true)});
    EXPECT_FALSE(KZFilesUtilities::sharedControl().fastDirectoryInfoForPath(excluded).has_value());
    EXPECT_TRUE(KZFilesUtilities::sharedControl().fastDirectoryInfoForPath(tree.mkdir("kept")).has_value());
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
