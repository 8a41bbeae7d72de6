#include "result/model/KZFoundItemsCntrl.h"

#include "ResultModelTestSupport.h"
#include "TestSupport.h"
#include "engine/KZFoundListParcel.h"
#include "platform/NotificationCenter.h"
#include "platform/OperationQueue.h"
#include "platform/FinderInfo.h"
#include "platform/UserDefaults.h"
#include "settings/KZDefaultsKeys.h"
#include "settings/KZNotificationNames.h"
#include "settings/KZTags.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace fs = std::filesystem;
using modeltest::NodeSpec;
using namespace Qt::StringLiterals;

namespace {

const QString kFoundItems = QStringLiteral("KZResultFoundItems");
const QString kFoundFileTypes = QStringLiteral("KZResultFoundFileTypes");
const QString kRestore = QStringLiteral("KZResultIsRestoreOfSaved");
const QString kSavedItems = QStringLiteral("KZResultIsSavedItemsToRestore");
const QString kLocation = QStringLiteral("KZResultCurrentLocationLabel");

constexpr quint64 kEmptyFolders = static_cast<quint64>(KZTag::emptyFolders);
constexpr quint64 kMarkedRow = static_cast<quint64>(KZTag::markedItemsRowBase);
constexpr quint64 kSourceRow = static_cast<quint64>(KZTag::sourceRowBase);

QVariantMap fileTypes(int count)
{
    QVariantMap types;
    for (int i = 0; i < count; ++i)
        types.insert(QString::number(i + 1), i + 1);
    return types;
}

QVariantMap resultInfo(KZFoundList list, int typesFound, qint16 lastLocation = -1)
{
    return {
        {kFoundItems, KZFoundListParcel::toVariant(std::move(list))},
        {kFoundFileTypes, fileTypes(typesFound)},
        {kRestore, false},
        {kSavedItems, QVariantMap()},
        {kLocation, lastLocation},
        {QStringLiteral("KZResultSearchedIniTunes"), false},
        {QStringLiteral("KZResultSearchedInPhotos"), false},
        {QStringLiteral("KZResultPhotosLibraryPath"), QString()},
        {QStringLiteral("KZResultSearchSources"), QVariantList()},
    };
}

std::shared_ptr<KZFoundItemsCntrl> build(const std::vector<NodeSpec>& specs, int typesFound = 1,
                                         qint16 lastLocation = -1, QVariantMap extra = {})
{
    QVariantMap info = resultInfo(modeltest::makeList(specs), typesFound, lastLocation);
    info.insert(extra);
    auto model = std::make_shared<KZFoundItemsCntrl>(nullptr, info);
    model->doCreateList(info);
    return model;
}

QStringList names(const KZFoundItemArray& items)
{
    QStringList result;
    for (const KZFoundItemRef& item : items)
        result << item->name();
    return result;
}

QStringList markedNames(const KZFoundItemArray& items)
{
    QStringList result;
    for (const KZFoundItemRef& item : items) {
        if (item->isMarked())
            result << item->name();
    }
    return result;
}

class FoundItemsModel : public ::testing::Test {
protected:
    void TearDown() override
    {
        KZFoundItemsOperationQueue().waitUntilAllOperationsAreFinished();
        KZFoundItemFactsQueue().waitUntilAllOperationsAreFinished();
    }

    fs::path file(const std::string& name, std::size_t bytes = 4, time_t modified = 1500000000)
    {
        const fs::path path = dir_.write(name, std::string(bytes, 'x'));
        modeltest::setModified(path, modified);
        return path;
    }

    kztest::TempDir dir_;
};

} // namespace

// ---- Building -------------------------------------------------------------------------

TEST_F(FoundItemsModel, BuildsOneItemPerNodeAndFreesEveryNodeOnce)
{
    const int nodesBefore = modeltest::CountedCache::alive().load();
    modeltest::ListWatch watch;
    std::vector<NodeSpec> specs = {
        {.path = file("a1.txt"), .group = 1, .label = 0},
        {.path = file("a2.txt"), .group = 1, .label = 1},
        {.path = file("b1.dat"), .group = 2, .label = 0},
        {.path = file("b2.dat"), .group = 2, .label = 1},
        {.path = file("b3.dat"), .group = 2, .label = 1},
    };
    QVariantMap info = resultInfo(modeltest::makeList(specs, &watch), 1);
    EXPECT_EQ(modeltest::CountedCache::alive().load(), nodesBefore + 5);

    auto model = std::make_shared<KZFoundItemsCntrl>(nullptr, info);
    model->doCreateList(info);

    EXPECT_EQ(modeltest::CountedCache::alive().load(), nodesBefore);
    for (const auto& record : watch.records)
        EXPECT_TRUE(record.expired());
    // The parcel was emptied: nobody can take the list a second time.
    EXPECT_TRUE(info.value(kFoundItems).value<KZFoundListParcel>().isEmpty());

    KZFoundItemArray items = model->allItems();
    EXPECT_EQ(names(items), (QStringList{u"a1.txt"_s, u"a2.txt"_s, u"b1.dat"_s, u"b2.dat"_s, u"b3.dat"_s}));
    EXPECT_EQ(items[0]->groupID(), 1);
    EXPECT_EQ(items[4]->groupID(), 2);
    EXPECT_EQ(items[4]->countOfItemsInGroup(), 3u);

    // The counters now belong to the items and go with the last of them,
    // also when members were removed before they were torn down.
    model.reset();
    KZFoundItemsOperationQueue().waitUntilAllOperationsAreFinished();
    EXPECT_FALSE(watch.counters[2].expired());
    items[2]->subtractUnitItemsInGroup();
    const KZFoundItemRef keep = items[0];
    items.clear();
    EXPECT_TRUE(watch.counters[2].expired());
    EXPECT_FALSE(watch.counters[1].expired());
}

TEST_F(FoundItemsModel, SongAndImageTestsLookAtTypeAndExtension)
{
    const KZFoundItemsCntrl model(nullptr, {});
    struct Case {
        const char* name;
        bool song;
        bool image;
    };
    for (const Case& c : {Case{"tune.mp3", true, false}, Case{"photo.jpg", false, true},
                          Case{"notes.txt", false, false}, Case{"noextension", false, false}}) {
        SCOPED_TRACE(c.name);
        const auto node = modeltest::makeNode({.path = dir_ / c.name});
        EXPECT_EQ(model.isSong(*node), c.song);
        EXPECT_EQ(model.isImage(*node), c.image);
    }
}

TEST_F(FoundItemsModel, EmptyListGivesAnEmptyResultAndStillAnnouncesIt)
{
    std::atomic<int> posted{0};
    platform::Subscription observer = platform::NotificationCenter::defaultCenter().addObserver(
        KZNotification::resultSetupDidTerminate, platform::bundleIdentifier(),
        [&](const platform::Notification&) { ++posted; });

    QVariantMap info = resultInfo(KZFoundList(), 0);
    const auto model = KZFoundItemsCntrl::create(nullptr, info);
    KZFoundItemsOperationQueue().waitUntilAllOperationsAreFinished();
    EXPECT_EQ(posted.load(), 1);
    EXPECT_TRUE(model->allItems().isEmpty());
    quint64 size = 99;
    EXPECT_TRUE(model->itemsByTag(kMarkedRow, 0, &size).isEmpty());
    EXPECT_EQ(size, 0u);

    // A result info without any found list is handled the same way.
    const auto bare = KZFoundItemsCntrl::create(nullptr, {});
    KZFoundItemsOperationQueue().waitUntilAllOperationsAreFinished();
    EXPECT_EQ(posted.load(), 2);
    EXPECT_TRUE(bare->allItems().isEmpty());
}

TEST_F(FoundItemsModel, BuildingOnTheQueuePostsOnceTheItemsAreThere)
{
    std::atomic<qsizetype> seen{-1};
    std::shared_ptr<KZFoundItemsCntrl> model;
    std::mutex modelMutex;
    platform::Subscription observer = platform::NotificationCenter::defaultCenter().addObserver(
        KZNotification::resultSetupDidTerminate, platform::bundleIdentifier(), [&](const platform::Notification&) {
            std::lock_guard guard(modelMutex);
            seen = model ? model->allItems().size() : -2;
        });
    {
        std::lock_guard guard(modelMutex);
        model = KZFoundItemsCntrl::create(
            nullptr, resultInfo(modeltest::makeList({{.path = file("x1"), .group = 1}, {.path = file("x2"), .group = 1}}),
                                1));
    }
    KZFoundItemsOperationQueue().waitUntilAllOperationsAreFinished();
    EXPECT_EQ(seen.load(), 2);
}

// ---- Marks --------------------------------------------------------------------------------

TEST_F(FoundItemsModel, DefaultMarksEveryCopyButTheNewestOfEachGroup)
{
    const auto model = build({
        {.path = file("old", 4, 1000), .group = 1, .label = 0},
        {.path = file("newest", 4, 3000), .group = 1, .label = 0},
        {.path = file("middle", 4, 2000), .group = 1, .label = 1},
        // Equally new: the copy with the highest location label stays.
        {.path = file("tieLow", 4, 5000), .group = 2, .label = 1},
        {.path = file("tieHigh", 4, 5000), .group = 2, .label = 2},
        // A group of one keeps its only copy.
        {.path = file("alone", 4, 1000), .group = 3, .label = 0},
    });
    EXPECT_EQ(markedNames(model->allItems()), (QStringList{u"old"_s, u"middle"_s, u"tieLow"_s}));
}

TEST_F(FoundItemsModel, DefaultRuleOnTheEmptyFoldersTabMarksEveryFolder)
{
    const auto model = build({{.path = file("e1"), .group = 1}, {.path = file("e2"), .group = 1}});
    const KZFoundItemArray items = model->allItems();
    model->markItemsByDefaultWithTag(kEmptyFolders, kEmptyFolders, nullptr, items);
    EXPECT_EQ(markedNames(items), (QStringList{u"e1"_s, u"e2"_s}));
}

TEST_F(FoundItemsModel, DefaultRuleReportsEachChangedMarkToItsTabAndLocation)
{
    const auto model = build(
        {
            {.path = file("a", 10, 1000), .group = 1, .label = 0, .fileTypeTag = 3},
            {.path = file("b", 10, 2000), .group = 1, .label = 1, .fileTypeTag = 3},
            {.path = file("c", 5, 1000), .group = 2, .label = 0, .fileTypeTag = 4},
            {.path = file("d", 5, 2000), .group = 2, .label = 1, .fileTypeTag = 4},
        },
        2, 1);
    const KZFoundItemArray items = model->allItems();
    for (const KZFoundItemRef& item : items)
        item->setIsMarked(false);

    KZViewsToUpdate info{{0, std::make_shared<KZViewToUpdate>()},
                         {3, std::make_shared<KZViewToUpdate>()},
                         {4, std::make_shared<KZViewToUpdate>()}};
    model->markItemsByDefaultWithTag(0, 0, &info, items);

    EXPECT_EQ(info[0]->managedCount(), 2);
    EXPECT_EQ(info[0]->size(), 15);
    EXPECT_TRUE(info[0]->needsUpdate());
    EXPECT_EQ(info[3]->managedCount(), 1);
    EXPECT_EQ(info[3]->size(), 10);
    ASSERT_EQ(info[3]->locationsInfo().count(kSourceRow + 0), 1u);
    EXPECT_EQ(info[3]->locationsInfo().at(kSourceRow + 0)->managedCount(), 1);
    EXPECT_EQ(info[0]->locationsInfo().at(kSourceRow + 0)->managedCount(), 2);

    // Running the rule again changes nothing and reports nothing.
    KZViewsToUpdate again{{0, std::make_shared<KZViewToUpdate>()}};
    model->markItemsByDefaultWithTag(0, 0, &again, items);
    EXPECT_FALSE(again[0]->needsUpdate());
}

TEST_F(FoundItemsModel, BookkeepingOfASingleTypeAndASingleLocation)
{
    const auto model = build({{.path = file("a", 8), .group = 1}, {.path = file("b", 8), .group = 1}}, 1, -1);
    const KZFoundItemRef item = model->allItems().first();
    KZViewsToUpdate info{{5, std::make_shared<KZViewToUpdate>()}};
    model->updateInfoDict(info, item, std::nullopt);
    model->updateInfoDict(info, item, true);
    model->updateInfoDict(info, item, std::nullopt);
    // The one entry stands for the tab of all types and is counted once.
    EXPECT_EQ(info[5]->managedCount(), 1);
    EXPECT_EQ(info[5]->size(), 8);
    EXPECT_TRUE(info[5]->locationsInfo().empty());
}

TEST_F(FoundItemsModel, ReopenedResultRestoresMarksAndBookmarksByLocation)
{
    const fs::path kept = file("kept.txt");
    const fs::path marked = file("marked.txt");
    const fs::path moved = file("moved.txt");
    const QByteArray bookmark("saved-bookmark");
    QVariantMap saved{
        {KZFoundItemsCntrl::savedItemKey(marked), QVariantMap{{u"isMarked"_s, true}, {u"alias"_s, bookmark}}},
        // A plain path as the key is understood too.
        {QFile::decodeName(kept.c_str()), QVariantMap{{u"isMarked"_s, false}}},
        {KZFoundItemsCntrl::savedItemKey(moved), QVariantMap{{u"isMarked"_s, true}, {u"alias"_s, bookmark}}},
    };
    QVariantMap info = resultInfo(modeltest::makeList({{.path = kept, .group = 1},
                                                       {.path = marked, .group = 1},
                                                       {.path = moved, .group = 1}}),
                                  1);
    fs::rename(moved, dir_ / "elsewhere.txt");
    info.insert(kRestore, true);
    info.insert(kSavedItems, saved);

    auto model = std::make_shared<KZFoundItemsCntrl>(nullptr, info);
    model->doCreateList(info);
    const KZFoundItemArray items = model->allItems();
    ASSERT_EQ(items.size(), 3);
    EXPECT_FALSE(items[0]->isMarked());
    EXPECT_TRUE(items[1]->isMarked());
    EXPECT_EQ(items[1]->aliasData(), bookmark);
    // The moved file keeps the default state: not marked, no bookmark.
    EXPECT_FALSE(items[2]->isMarked());
    EXPECT_TRUE(items[2]->aliasData().isEmpty());

    // A reopened result makes no bookmarks of its own.
    KZFoundItemFactsQueue().waitUntilAllOperationsAreFinished();
    EXPECT_TRUE(items[0]->aliasData().isEmpty());
    EXPECT_TRUE(items[0]->aliasAlreadyCreated());
}

TEST_F(FoundItemsModel, SavedKeyKeepsNamesThatAreNotUtf8)
{
    const fs::path odd = dir_.path() / std::string("caf\xe9.txt");
    const fs::path other = dir_.path() / std::string("caf\xe8.txt");
    EXPECT_NE(KZFoundItemsCntrl::savedItemKey(odd), KZFoundItemsCntrl::savedItemKey(other));
}

// ---- Queries ----------------------------------------------------------------------------------

namespace {

// Two file types (tags 3 and 4) in two locations (labels 0 and 1), plus the
// folders tab.
std::vector<NodeSpec> twoTypesTwoLocations(const std::function<fs::path(const std::string&, std::size_t)>& make)
{
    return {
        {.path = make("img0", 100), .group = 1, .label = 0, .fileTypeTag = 3},
        {.path = make("img1", 100), .group = 1, .label = 1, .fileTypeTag = 3},
        {.path = make("doc0", 10), .group = 2, .label = 0, .fileTypeTag = 4},
        {.path = make("doc1", 10), .group = 2, .label = 1, .fileTypeTag = 4},
    };
}

} // namespace

TEST_F(FoundItemsModel, TabQueriesFollowTheTagTable)
{
    const auto make = [&](const std::string& n, std::size_t b) { return file(n, b); };
    const auto model = build(twoTypesTwoLocations(make), 2, 1);
    const KZFoundItemArray items = model->allItems();
    items[0]->setIsMarked(true);
    items[1]->setIsMarked(false);
    items[2]->setIsMarked(true);
    items[3]->setIsMarked(false);

    struct Case {
        const char* what;
        quint64 tag;
        quint64 owner;
        QStringList expected;
        quint64 size;
    };
    const Case cases[] = {
        {"all duplicates: whole result, no total", 0, 0, {u"img0"_s, u"img1"_s, u"doc0"_s, u"doc1"_s}, 0},
        {"a type's tab", 3, 3, {u"img0"_s, u"img1"_s}, 200},
        {"a location of all types", kSourceRow + 1, 0, {u"img1"_s, u"doc1"_s}, 110},
        {"a location of one type", kSourceRow + 0, 4, {u"doc0"_s}, 10},
        {"marked of all types", kMarkedRow + 0, 0, {u"img0"_s, u"doc0"_s}, 110},
        {"marked of one type", kMarkedRow + 4, 4, {u"doc0"_s}, 10},
        {"every tag above the marked row is the marked row", kMarkedRow + 999, 3, {u"img0"_s}, 100},
        {"missing tracks are no items", static_cast<quint64>(KZTag::missingTracks), 3, {}, 0},
        {"an owner that matches nothing", 9, 9, {}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        quint64 size = 12345;
        EXPECT_EQ(names(model->itemsByTag(c.tag, c.owner, &size)), c.expected);
        EXPECT_EQ(size, c.size);
    }
}

TEST_F(FoundItemsModel, SingleTypeResultAnswersEveryItemForItsTab)
{
    const auto model = build({{.path = file("a", 5), .group = 1}, {.path = file("b", 5), .group = 1}}, 1);
    quint64 size = 7;
    EXPECT_EQ(names(model->itemsByTag(1, 1, &size)), (QStringList{u"a"_s, u"b"_s}));
    EXPECT_EQ(size, 0u);
}

TEST_F(FoundItemsModel, EmptyFoldersOwnerReadsTheEmptyFoldersOnly)
{
    const auto model = build({{.path = file("dup1"), .group = 1, .fileTypeTag = 2},
                              {.path = file("dup2"), .group = 1, .fileTypeTag = 2}},
                             1);
    quint64 size = 0;
    EXPECT_TRUE(model->itemsByTag(kEmptyFolders, kEmptyFolders, &size).isEmpty());

    const auto folders = build({{.path = dir_.mkdir("e1"), .group = 5, .fileTypeTag = 2, .isDirectory = true},
                                {.path = dir_.mkdir("e2"), .group = 5, .fileTypeTag = 2, .isDirectory = true},
                                {.path = dir_.mkdir("odd"), .group = 6, .fileTypeTag = 7, .isDirectory = true}});
    model->appendToEmptyFolders(folders->allItems());
    for (const KZFoundItemRef& folder : folders->allItems())
        folder->setIsMarked(false);
    model->allEmptyFolders()->at(0)->setIsMarked(true);
    EXPECT_EQ(names(model->itemsByTag(kEmptyFolders, kEmptyFolders, &size)), (QStringList{u"e1"_s, u"e2"_s}));
    EXPECT_EQ(names(model->itemsByTag(kMarkedRow + kEmptyFolders, kEmptyFolders, &size)), (QStringList{u"e1"_s}));
    // The tab of all types still answers the duplicates.
    EXPECT_EQ(names(model->itemsByTag(0, 0, &size)), (QStringList{u"dup1"_s, u"dup2"_s}));
}

// ---- File-type tags ----------------------------------------------------------------------------

namespace {

QVariantMap label(quint64 tag, const QString& extensions, const QStringList& types = {})
{
    QVariantMap map{{KZLabelKey::file_type_tag, tag}, {KZLabelKey::labels_extension, extensions}};
    if (!types.isEmpty())
        map.insert(KZLabelKey::labels_type_array, types);
    return map;
}

// A defaults store of its own, with the labels the test needs.
class ScopedLabels {
public:
    explicit ScopedLabels(const QVariantList& labels)
    {
        platform::UserDefaults::setStandard(std::make_unique<platform::UserDefaults>(dir_ / "defaults.plist"));
        platform::UserDefaults::standard().setValue(KZDefaultsKey::file_type_labels, labels);
    }
    ~ScopedLabels() { platform::UserDefaults::setStandard(nullptr); }

private:
    kztest::TempDir dir_;
};

} // namespace

TEST_F(FoundItemsModel, AssigningATagMatchesExtensionsIgnoringCaseThenTypeCodes)
{
    KZFoundItemsCntrl model(nullptr, {});
    const QVariantList labels{
        QVariantMap{{KZLabelKey::file_type_tag, 3}, {KZLabelKey::labels_extension, QStringList{u"JPG"_s, u"png"_s}}},
        QVariantMap{{KZLabelKey::file_type_tag, 4},
                    {KZLabelKey::labels_extension, QStringList{u"txt"_s}},
                    {KZLabelKey::labels_type_array, QStringList{u"TEXT"_s}}},
    };
    struct Case {
        const char* what;
        NodeSpec spec;
        quint64 expected;
    };
    const Case cases[] = {
        {"capital label extension", {.path = dir_ / "a.jpg"}, 3},
        {"type code", {.path = dir_ / "readme", .type = platform::osTypeFromString(u"TEXT")}, 4},
        {"no match", {.path = dir_ / "a.bin"}, 1},
        {"no type code matches nothing", {.path = dir_ / "plain"}, 1},
        {"a plain folder is a folder whatever its name", {.path = dir_ / "pics.jpg", .isDirectory = true}, 2},
        {"a package is tagged like a file", {.path = dir_ / "x.png", .isPackage = true}, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto node = modeltest::makeNode(c.spec);
        const KZFoundItemRef item = KZFoundItem::itemWithTreeNode(*node);
        EXPECT_EQ(model.assignFileTypeTagToItem(item, labels), c.expected);
        EXPECT_EQ(item->fileTypeTag(), c.expected);
    }
}

TEST_F(FoundItemsModel, NewLabelMovesItsItemsAndTagsTheRestAfresh)
{
    // The new label 9 is already in the preferences, last in the table.
    ScopedLabels labels({label(0, QString()), label(1, QString()), label(2, QString()), label(3, u"jpg"_s),
                         label(9, u"raw"_s)});
    const auto model = build(
        {
            {.path = file("shot.raw"), .group = 1, .fileTypeTag = 1},
            {.path = file("shot.RAW"), .group = 1, .fileTypeTag = 1},
            {.path = file("pic.jpg"), .group = 2, .fileTypeTag = 3},
            {.path = file("pic2.jpg"), .group = 2, .fileTypeTag = 3},
            {.path = dir_.mkdir("album.raw"), .group = 3, .fileTypeTag = 2, .isDirectory = true},
            {.path = dir_.mkdir("album2.raw"), .group = 3, .fileTypeTag = 2, .isDirectory = true},
        },
        3);
    const QList<quint64> changed = model->changeItemTypesTagWithExtensions(label(9, u"raw"_s), 9);
    const KZFoundItemArray items = model->allItems();
    EXPECT_EQ(items[0]->fileTypeTag(), 9u); // the exact extension moves
    EXPECT_EQ(items[1]->fileTypeTag(), 9u); // a different case arrives by the fresh tagging
    EXPECT_EQ(items[2]->fileTypeTag(), 3u);
    EXPECT_EQ(items[4]->fileTypeTag(), 2u); // folders stay folders
    EXPECT_EQ(items[5]->fileTypeTag(), 2u);
    ASSERT_FALSE(changed.isEmpty());
    EXPECT_EQ(changed.first(), 1u);
    EXPECT_TRUE(changed.contains(3u));

    // A label without extensions changes nothing.
    EXPECT_TRUE(model->changeItemTypesTagWithExtensions({{KZLabelKey::file_type_tag, 9}}, 9).isEmpty());
}

TEST_F(FoundItemsModel, RemovedLabelSendsItsItemsToOtherTabs)
{
    ScopedLabels labels({label(0, QString()), label(1, QString()), label(2, QString()), label(3, u"jpg"_s),
                         label(4, u"txt"_s)});
    const auto model = build({{.path = file("a.jpg"), .group = 1, .fileTypeTag = 3},
                              {.path = file("b.txt"), .group = 2, .fileTypeTag = 4}},
                             2);
    const QList<quint64> given = model->assignTagsToOrphanItems(std::nullopt, QSet<quint64>{3});
    EXPECT_EQ(given, (QList<quint64>{1, 4}));
    EXPECT_EQ(model->allItems()[0]->fileTypeTag(), 1u);
}

// ---- Concurrent readers ---------------------------------------------------------------------------

TEST_F(FoundItemsModel, ReadersNeverSeeAListInTheMiddleOfAChange)
{
    std::vector<NodeSpec> specs;
    for (int i = 0; i < 200; ++i)
        specs.push_back({.path = dir_ / ("f" + std::to_string(i)), .group = static_cast<quint64>(i / 2 + 1),
                         .label = static_cast<qint16>(i % 2), .fileTypeTag = 3, .size = 1});
    const auto model = build(specs, 2, 1);
    const KZFoundItemArray all = model->allItems();

    std::atomic<bool> done{false};
    std::vector<std::thread> readers;
    for (int t = 0; t < 3; ++t) {
        readers.emplace_back([&] {
            while (!done.load()) {
                quint64 size = 0;
                const KZFoundItemArray items = model->itemsByTag(3, 3, &size);
                EXPECT_EQ(size, static_cast<quint64>(items.size()));
                model->itemsByTag(kSourceRow + 1, 0, &size);
                model->itemsByTag(kEmptyFolders, kEmptyFolders, &size);
            }
        });
    }
    for (int i = 0; i < 200; i += 10) {
        model->removeFromAllItems(all.mid(i, 10));
        model->appendToEmptyFolders(all.mid(i, 5));
        model->removeFromEmptyFolders(all.mid(i, 2));
    }
    done = true;
    for (auto& reader : readers)
        reader.join();
    EXPECT_TRUE(model->allItems().isEmpty());
    EXPECT_EQ(model->allEmptyFolders()->size(), 60);
}
