#include "TestSupport.h"

#include "services/KZFilesUtilities.h"
#include "settings/KZSourceItem.h"

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
        {u"url"_s, QVariant::fromValue(fs::path("/media/Disk"))}, {u"isDisk"_s, true}, {u"isLocked"_s, true},
        {u"isPhotosLib"_s, true}, {u"isCurrentLibrary"_s, true}, {u"librariesCount"_s, 2}, {u"iTunesLibValue"_s, 3},
        {u"totSize"_s, quint64(5'000'000'000ull)}, {u"freeSize"_s, qint64(1024)}, {u"isSmartFolder"_s, true}});
    EXPECT_EQ(item.url(), fs::path("/media/Disk"));
    EXPECT_TRUE(item.isDisk() && item.isLocked() && item.isPhotosLib() && item.isCurrentLibrary()
                && item.isSmartFolder());
    EXPECT_EQ(item.librariesCount(), 2);
    EXPECT_EQ(item.iTunesLibValue(), 3);
    EXPECT_EQ(item.totSize(), 5'000'000'000ull);
    EXPECT_EQ(item.freeSize(), 1024u);

    // A volume of unknown size carries a text in place of its sizes.
    const KZSourceItem mistyped(QVariantMap{{u"totSize"_s, u"Unknown"_s}, {u"freeSize"_s, u"Unknown"_s},
                                            {u"isDisk"_s, u"YES"_s}, {u"url"_s, u"/as/text"_s}});
    EXPECT_EQ(mistyped.totSize(), 0u);
    EXPECT_EQ(mistyped.freeSize(), 0u);
    EXPECT_FALSE(mistyped.isDisk());
    EXPECT_TRUE(mistyped.url().empty()) << "text is no location";

    const fs::path raw = fs::path("/tmp") / std::string("caf\xE9");
    EXPECT_EQ(KZSourceItem(QVariantMap{{u"url"_s, KZFilesUtilities::fileURLWithPath(raw)}}).url(), raw)
        << "a file URL keeps every byte of a non-UTF-8 name";
}

TEST(SourceItem, PathAndNameFollowTheItem)
{
    const kztest::TempDir dir;
    const fs::path library = dir.mkdir("Holiday.photoslibrary");
    const auto item = KZSourceItem::create({{u"url"_s, QVariant::fromValue(library)}});
    EXPECT_EQ(item->path(), library);
    EXPECT_EQ(item->name(), u"Holiday"_s);
    EXPECT_EQ(KZSourceItem::create({{u"url"_s, QVariant::fromValue(dir.mkdir(".hidden"))}})->name(), u".hidden"_s);

    fs::remove(library);
    EXPECT_TRUE(item->path().empty()) << "a source that is gone has no path";
    EXPECT_TRUE(item->name().isEmpty());
}

// Taking back the search's own exclusions must never take one of the user's.
TEST(SourceItem, TakingBackTheSearchsEntriesKeepsTheUsers)
{
    KZSourceItem item;
    item.addExcluded("/src/a");
    item.addExcluded("/src/b");
    // The search leaves out a folder the user left out too, and one more.
    item.addExcludedProgramatically("/src/a");
    item.addExcludedProgramatically("/src/c");
    EXPECT_EQ(item.excluded(), (Paths{"/src/a", "/src/b", "/src/a", "/src/c"}));
    item.removeExcludedAddedProgramatically();
    EXPECT_EQ(item.excluded(), (Paths{"/src/a", "/src/b"}));
    EXPECT_EQ(item.excludedAddedProgramatically(), (Paths{"/src/a", "/src/c"})) << "the record stays";
    item.removeExcludedAddedProgramatically();
    EXPECT_EQ(item.excluded(), (Paths{"/src/a", "/src/b"})) << "a second call takes nothing of the user's";

    // The user edits the list while the search's entry is in it.
    item.addExcludedProgramatically("/src/c");
    item.setExcluded({"/src/a", "/src/c"});
    item.removeExcludedAddedProgramatically();
    EXPECT_EQ(item.excluded(), (Paths{"/src/a"}));

    // Lists set apart (as read back from a saved result) tie nothing of the
    // user's to the search's record.
    KZSourceItem restored;
    restored.setExcluded({"/src/a", "/src/c"});
    restored.setExcludedAddedProgramatically({"/src/c"});
    restored.removeExcludedAddedProgramatically();
    EXPECT_EQ(restored.excluded(), (Paths{"/src/a", "/src/c"}));

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
        const std::size_t now = item->excluded().size();
        EXPECT_GE(now, seen);
        seen = now;
        (void)item->wasSearched();
    }
    writer.join();
    EXPECT_EQ(item->excluded().size(), 2000u);
    item->removeExcludedAddedProgramatically();
    EXPECT_TRUE(item->excluded().empty());
}

} // namespace
