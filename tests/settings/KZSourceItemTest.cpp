#include "TestSupport.h"

#include "services/KZFilesUtilities.h"
#include "settings/KZSourceItem.h"

#include <QUrl>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>

namespace fs = std::filesystem;
using namespace Qt::Literals::StringLiterals;

namespace {

using Paths = std::vector<fs::path>;

TEST(SourceItem, FieldsFromDictionary)
{
    const KZSourceItem item(QVariantMap{
        {u"url"_s, QVariant::fromValue(fs::path("/media/Disk"))},
        {u"name"_s, u"ignored"_s},
        {u"isDisk"_s, true},
        {u"isLocked"_s, true},
        {u"isPhotosLib"_s, true},
        {u"isCurrentLibrary"_s, true},
        {u"librariesCount"_s, 2},
        {u"iTunesLibValue"_s, 3},
        {u"totSize"_s, quint64(5'000'000'000ull)},
        {u"freeSize"_s, qint64(1024)},
        {u"isSmartFolder"_s, true},
    });
    EXPECT_EQ(item.url(), fs::path("/media/Disk"));
    EXPECT_TRUE(item.isDisk());
    EXPECT_TRUE(item.isLocked());
    EXPECT_TRUE(item.isPhotosLib());
    EXPECT_TRUE(item.isCurrentLibrary());
    EXPECT_EQ(item.librariesCount(), 2);
    EXPECT_EQ(item.iTunesLibValue(), 3);
    EXPECT_EQ(item.totSize(), 5'000'000'000ull);
    EXPECT_EQ(item.freeSize(), 1024u);
    EXPECT_TRUE(item.isSmartFolder());
    EXPECT_FALSE(item.wasSearched());
    EXPECT_EQ(item.locationLabelTag(), 0);
    EXPECT_TRUE(item.excluded().empty());
    EXPECT_TRUE(item.excludedAddedProgramatically().empty());
}

TEST(SourceItem, AbsentAndMistypedKeysGiveZero)
{
    // A volume of unknown size carries a text in place of its sizes.
    const KZSourceItem item(QVariantMap{{u"totSize"_s, u"Unknown"_s},
                                        {u"freeSize"_s, u"Unknown"_s},
                                        {u"isDisk"_s, u"YES"_s},
                                        {u"url"_s, u"/as/text"_s}});
    EXPECT_EQ(item.totSize(), 0u);
    EXPECT_EQ(item.freeSize(), 0u);
    EXPECT_FALSE(item.isDisk());
    EXPECT_FALSE(item.isPhotosLib());
    EXPECT_EQ(item.iTunesLibValue(), 0);
    EXPECT_TRUE(item.url().empty()) << "text is no location";
}

TEST(SourceItem, FileUrlKeepsEveryByte)
{
    const fs::path raw = fs::path("/tmp") / std::string("caf\xE9");
    const KZSourceItem item(QVariantMap{{u"url"_s, KZFilesUtilities::fileURLWithPath(raw)}});
    EXPECT_EQ(item.url(), raw);
}

TEST(SourceItem, PathAndNameFollowTheItem)
{
    const kztest::TempDir dir;
    const fs::path library = dir.mkdir("Holiday.photoslibrary");
    const fs::path hidden = dir.mkdir(".hidden");
    const auto libraryItem = KZSourceItem::create({{u"url"_s, QVariant::fromValue(library)}});
    const auto hiddenItem = KZSourceItem::create({{u"url"_s, QVariant::fromValue(hidden)}});
    EXPECT_EQ(libraryItem->path(), library);
    EXPECT_EQ(libraryItem->name(), u"Holiday"_s);
    EXPECT_EQ(hiddenItem->name(), u".hidden"_s);

    fs::remove(library);
    EXPECT_TRUE(libraryItem->path().empty()) << "a source that is gone has no path";
    EXPECT_TRUE(libraryItem->name().isEmpty());
    EXPECT_TRUE(KZSourceItem().path().empty());
}

TEST(SourceItem, TakingBackTheSearchsEntriesKeepsTheUsers)
{
    KZSourceItem item;
    item.addExcluded("/src/a");
    item.addExcluded("/src/b");
    // The search leaves out a folder the user left out too, and one more.
    item.addExcludedProgramatically("/src/a");
    item.addExcludedProgramatically("/src/c");
    EXPECT_EQ(item.excluded(), (Paths{"/src/a", "/src/b", "/src/a", "/src/c"}));
    EXPECT_EQ(item.excludedAddedProgramatically(), (Paths{"/src/a", "/src/c"}));

    item.removeExcludedAddedProgramatically();
    EXPECT_EQ(item.excluded(), (Paths{"/src/a", "/src/b"}));
    EXPECT_EQ(item.excludedAddedProgramatically(), (Paths{"/src/a", "/src/c"})) << "the record stays";

    // A second call (a later search that again does not need them) takes
    // nothing of the user's.
    item.removeExcludedAddedProgramatically();
    EXPECT_EQ(item.excluded(), (Paths{"/src/a", "/src/b"}));

    // The next search adds its entry again and takes back exactly that one.
    item.addExcludedProgramatically("/src/c");
    item.removeExcludedAddedProgramatically();
    EXPECT_EQ(item.excluded(), (Paths{"/src/a", "/src/b"}));
}

TEST(SourceItem, EditedListKeepsTheSearchsEntries)
{
    KZSourceItem item;
    item.addExcluded("/src/a");
    item.addExcluded("/src/b");
    item.addExcludedProgramatically("/src/c");
    // The user removes b; the rest of the list comes back as it was.
    item.setExcluded({"/src/a", "/src/c"});
    item.removeExcludedAddedProgramatically();
    EXPECT_EQ(item.excluded(), (Paths{"/src/a"}));
}

TEST(SourceItem, EntriesNotAddedBySearchStay)
{
    // Lists set apart from each other (as read back from a saved result) do
    // not tie the user's entries to the search's record.
    KZSourceItem item;
    item.setExcluded({"/src/a", "/src/c"});
    item.setExcludedAddedProgramatically({"/src/c"});
    item.removeExcludedAddedProgramatically();
    EXPECT_EQ(item.excluded(), (Paths{"/src/a", "/src/c"}));

    // An entry that the record no longer lists is not the search's to take.
    KZSourceItem cleared;
    cleared.addExcludedProgramatically("/src/d");
    cleared.setExcludedAddedProgramatically({});
    cleared.removeExcludedAddedProgramatically();
    EXPECT_EQ(cleared.excluded(), (Paths{"/src/d"}));
}

TEST(SourceItem, SharedAcrossThreads)
{
    auto item = KZSourceItem::create({});
    std::thread writer([item] {
        for (int i = 0; i < 2000; ++i) {
            item->addExcludedProgramatically(fs::path("/x") / std::to_string(i));
            item->setWasSearched(i % 2 == 0);
        }
    });
    std::size_t seen = 0;
    for (int i = 0; i < 2000; ++i) {
        const auto excluded = item->excluded();
        EXPECT_GE(excluded.size(), seen);
        seen = excluded.size();
        (void)item->wasSearched();
    }
    writer.join();
    EXPECT_EQ(item->excluded().size(), 2000u);
    item->removeExcludedAddedProgramatically();
    EXPECT_TRUE(item->excluded().empty());
}

} // namespace
