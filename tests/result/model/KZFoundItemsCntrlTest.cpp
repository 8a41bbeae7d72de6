#include "result/model/KZFoundItemsCntrl.h"

#include "ModelTestSupport.h"
#include "ResultCntrlFakes.h"
#include "TestSupport.h"
#include "engine/KZSearchController.h"
#include "platform/FinderInfo.h"
#include "platform/NotificationCenter.h"
#include "platform/OperationQueue.h"
#include "platform/UserDefaults.h"
#include "settings/KZDefaultsKeys.h"
#include "settings/KZDefaultsRegistry.h"
#include "settings/KZNotificationNames.h"
#include "settings/KZSearchStuff.h"

#include <gtest/gtest.h>

#include <set>

namespace fs = std::filesystem;
using namespace modeltest;
using namespace Qt::StringLiterals;

namespace {


QVariantMap resultInfo(const std::vector<ItemShape>& shapes, int types = 1, qint16 lastLocation = -1,
                       ListWatch* watch = nullptr)
{
    QVariantMap fileTypes;
    for (int i = 0; i < types; ++i)
        fileTypes.insert(QString::number(i + 3), i + 3);
    return {{u"KZResultFoundItems"_s, KZFoundListParcel::toVariant(makeList(shapes, watch))},
            {u"KZResultFoundFileTypes"_s, fileTypes},
            {u"KZResultCurrentLocationLabel"_s, lastLocation}};
}

std::shared_ptr<KZFoundItemsCntrl> build(const std::vector<ItemShape>& shapes, int types = 1, qint16 lastLocation = -1)
{
    const QVariantMap info = resultInfo(shapes, types, lastLocation);
    auto model = std::make_shared<KZFoundItemsCntrl>(nullptr, info);
    model->doCreateList(info);
    return model;
}

class FoundItemsModel : public ::testing::Test {
protected:
    void TearDown() override
    {
        KZFoundItemsOperationQueue().waitUntilAllOperationsAreFinished();
        KZFoundItemFactsQueue().waitUntilAllOperationsAreFinished();
    }
    fs::path file(const std::string& name, std::size_t bytes = 4) { return dir_.write(name, std::string(bytes, 'x')); }

    kztest::TempDir dir_;
};

} // namespace

// ---- Building -------------------------------------------------------------------------

TEST_F(FoundItemsModel, BuildsOneItemPerNodeAndFreesEveryNodeOnce)
{
    const int nodesBefore = CountedCache::alive().load();
    ListWatch watch;
    const QVariantMap info = resultInfo({{.path = file("a1"), .group = 1}, {.path = file("a2"), .group = 1},
                                         {.path = file("b1"), .group = 2}, {.path = file("b2"), .group = 2},
                                         {.path = file("b3"), .group = 2}},
                                        1, -1, &watch);
    EXPECT_EQ(CountedCache::alive().load(), nodesBefore + 5);
    auto model = std::make_shared<KZFoundItemsCntrl>(nullptr, info);
    model->doCreateList(info);

    EXPECT_EQ(CountedCache::alive().load(), nodesBefore);
    for (const auto& record : watch.records)
        EXPECT_TRUE(record.expired());
    // The parcel was emptied: nobody can take the list a second time.
    EXPECT_TRUE(info.value(u"KZResultFoundItems"_s).value<KZFoundListParcel>().isEmpty());
    KZFoundItemArray items = model->allItems();
    EXPECT_EQ(names(items), (QStringList{u"a1"_s, u"a2"_s, u"b1"_s, u"b2"_s, u"b3"_s}));
    EXPECT_EQ(items[4]->groupID(), 2);
    EXPECT_EQ(items[4]->countOfItemsInGroup(), 3u);

    // The counters now belong to the items and go with the last of them,
    // also when members were removed before they were torn down.
    model.reset();
    KZFoundItemsOperationQueue().waitUntilAllOperationsAreFinished();
    // Reading the names queued their bookmarks; a bookmark being made holds
    // its item until it is done.
    KZFoundItemFactsQueue().waitUntilAllOperationsAreFinished();
    items[2]->subtractUnitItemsInGroup();
    const KZFoundItemRef keep = items[0];
    items.clear();
    EXPECT_TRUE(watch.counters[2].expired());
    EXPECT_FALSE(watch.counters[1].expired());
}

TEST_F(FoundItemsModel, SongAndImageTestsLookAtTypeAndExtension)
{
    const KZFoundItemsCntrl model(nullptr, {});
    struct Case { const char* name; bool song; bool image; };
    for (const Case& c : {Case{"tune.mp3", true, false}, Case{"photo.jpg", false, true},
                          Case{"notes.txt", false, false}, Case{"noextension", false, false}}) {
        const auto node = makeNode({.path = dir_ / c.name});
        EXPECT_EQ(model.isSong(*node), c.song) << c.name;
        EXPECT_EQ(model.isImage(*node), c.image) << c.name;
    }
}

TEST_F(FoundItemsModel, SetupIsAnnouncedOnceItsItemsAreThereAlsoWhenNoneWereFound)
{
    struct Case { const char* name; QVariantMap info; qsizetype items; };
    const Case cases[] = {{"two copies", resultInfo({{.path = file("x1")}, {.path = file("x2")}}), 2},
                          {"an empty list", resultInfo({}, 0), 0},
                          {"no list at all", {}, 0}};
    for (const Case& c : cases) {
        std::vector<qsizetype> seen; // the items of the model that each post carries
        platform::Subscription observer = platform::NotificationCenter::defaultCenter().addObserver(
            KZNotification::resultSetupDidTerminate, platform::bundleIdentifier(),
            [&](const platform::Notification& note) {
                const QVariant model = note.userInfo.value(u"foundItemsCntrl"_s);
                seen.push_back(model.value<std::shared_ptr<KZFoundItemsCntrl>>()->allItems().size());
            });
        const auto model = KZFoundItemsCntrl::create(nullptr, c.info);
        KZFoundItemsOperationQueue().waitUntilAllOperationsAreFinished();
        EXPECT_EQ(seen, std::vector<qsizetype>{c.items}) << c.name;
        quint64 size = 99;
        EXPECT_EQ(model->itemsByTag(KZTag::markedItemsRowBase, 0, &size).size(), c.items / 2) << c.name;
        EXPECT_EQ(size, c.items ? 4u : 0u) << c.name;
    }
}

// ---- Restoring --------------------------------------------------------------------------------

TEST_F(FoundItemsModel, ReopenedResultRestoresMarksAndBookmarksByLocation)
{
    const fs::path kept = file("kept.txt");
    const fs::path marked = file("caf\xe9.txt"); // not UTF-8
    const fs::path moved = file("moved.txt");
    const QByteArray bookmark("saved-bookmark");
    QVariantMap info = resultInfo({{.path = kept}, {.path = marked}, {.path = moved}});
    info.insert(u"KZResultIsRestoreOfSaved"_s, true);
    const QVariantMap savedMark{{u"isMarked"_s, true}, {u"alias"_s, bookmark}};
    info.insert(u"KZResultIsSavedItemsToRestore"_s,
                QVariantMap{{KZFoundItemsCntrl::savedItemKey(marked), savedMark},
                            // A plain path as the key is understood too.
                            {QFile::decodeName(kept.c_str()), QVariantMap{{u"isMarked"_s, false}}},
                            {KZFoundItemsCntrl::savedItemKey(moved), savedMark}});
    fs::rename(moved, dir_ / "elsewhere.txt");
    auto model = std::make_shared<KZFoundItemsCntrl>(nullptr, info);
    model->doCreateList(info);

    const KZFoundItemArray items = model->allItems();
    ASSERT_EQ(items.size(), 3);
    EXPECT_EQ(marksOf(items), "010"); // the moved file keeps the default state
    EXPECT_EQ(items[1]->aliasData(), bookmark);
    // Renamed in its folder, the moved file has no saved entry under its
    // name, and is followed by what was read of it.
    EXPECT_NE(items[2]->aliasData(), bookmark);
    EXPECT_EQ(items[2]->url(), dir_ / "elsewhere.txt");
    // A reopened result makes no bookmarks of its own.
    KZFoundItemFactsQueue().waitUntilAllOperationsAreFinished();
    EXPECT_TRUE(items[0]->aliasData().isEmpty());
    EXPECT_TRUE(items[0]->aliasAlreadyCreated());
    // Names that differ only in bytes that are not UTF-8 keep their own keys.
    EXPECT_NE(KZFoundItemsCntrl::savedItemKey(marked), KZFoundItemsCntrl::savedItemKey(dir_ / "caf\xe8.txt"));
}

// ---- Queries ----------------------------------------------------------------------------------

TEST_F(FoundItemsModel, TabQueriesFollowTheTagTable)
{
    // Two file types (tags 3 and 4) in two locations (labels 0 and 1).
    const auto model = build({{.path = file("img0", 100), .group = 1, .label = 0, .tag = 3},
                              {.path = file("img1", 100), .group = 1, .label = 1, .tag = 3},
                              {.path = file("doc0", 10), .group = 2, .label = 0, .tag = 4},
                              {.path = file("doc1", 10), .group = 2, .label = 1, .tag = 4}},
                             2, 1);
    const KZFoundItemArray items = model->allItems();
    for (int i = 0; i < 4; ++i)
        items[i]->setIsMarked(i % 2 == 0);
    struct Case { const char* what; quint64 tag; quint64 owner; QStringList expected; quint64 size; };
    const Case cases[] = {
        {"all duplicates: whole result, no total", 0, 0, {u"img0"_s, u"img1"_s, u"doc0"_s, u"doc1"_s}, 0},
        {"a type's tab", 3, 3, {u"img0"_s, u"img1"_s}, 200},
        {"a location of all types", KZTag::sourceRowBase + 1, 0, {u"img1"_s, u"doc1"_s}, 110},
        {"a location of one type", KZTag::sourceRowBase + 0, 4, {u"doc0"_s}, 10},
        {"marked of all types", KZTag::markedItemsRowBase + 0, 0, {u"img0"_s, u"doc0"_s}, 110},
        {"marked of one type", KZTag::markedItemsRowBase + 4, 4, {u"doc0"_s}, 10},
        {"every tag above the marked row is the marked row", KZTag::markedItemsRowBase + 999, 3, {u"img0"_s}, 100},
        {"missing tracks are no items", KZTag::missingTracks, 3, {}, 0},
        {"an owner that matches nothing", 9, 9, {}, 0},
        {"no empty folders yet", KZTag::emptyFolders, KZTag::emptyFolders, {}, 0},
    };
    for (const Case& c : cases) {
        quint64 size = 12345;
        EXPECT_EQ(names(model->itemsByTag(c.tag, c.owner, &size)), c.expected) << c.what;
        EXPECT_EQ(size, c.size) << c.what;
    }

    // The empty-folders tab reads the folders of the follow-up search only.
    model->appendToEmptyFolders(makeItems({{.path = dir_.mkdir("e1"), .tag = 2, .marked = true},
                                           {.path = dir_.mkdir("e2"), .tag = 2},
                                           {.path = dir_.mkdir("odd"), .group = 2, .tag = 7}}));
    quint64 size = 0;
    EXPECT_EQ(names(model->itemsByTag(KZTag::emptyFolders, KZTag::emptyFolders, &size)), (QStringList{u"e1"_s, u"e2"_s}));
    EXPECT_EQ(names(model->itemsByTag(KZTag::markedItemsRowBase + KZTag::emptyFolders, KZTag::emptyFolders, &size)), QStringList{u"e1"_s});
    EXPECT_EQ(model->itemsByTag(0, 0, &size), items);

    // A result of one type answers every item for its tab, without a total.
    const auto single = build({{.path = file("a", 5)}, {.path = file("b", 5)}});
    size = 7;
    EXPECT_EQ(names(single->itemsByTag(3, 3, &size)), (QStringList{u"a"_s, u"b"_s}));
    EXPECT_EQ(size, 0u);
}

// ---- From the real engine --------------------------------------------------------------------

namespace {

const QVariantMap kSameContent{{u"isSize"_s, true},
                               {u"sizeStruct"_s, QVariantMap{{u"isSame"_s, true}}},
                               {u"isContent"_s, true},
                               {u"contentStruct"_s, QVariantMap{{u"isData"_s, true}}}};

// Searches the folders (for equal contents unless told otherwise); answers
// the userInfo of "searchDidTerminate".
QVariantMap searchFor(const std::vector<fs::path>& folders, const QVariantMap& criteria = kSameContent)
{
    auto stuff = KZSearchStuff::searchStuff();
    std::vector<KZSourceItemRef> sources;
    for (const fs::path& folder : folders)
        sources.push_back(KZSourceItem::create({{u"url"_s, QVariant::fromValue(folder)}}));
    stuff->setSources(sources);
    stuff->setCriteria(criteria);
    static int sender = 0;
    std::mutex lock;
    QVariantMap info;
    kztest::Gate done;
    platform::Subscription subscription = platform::NotificationCenter::defaultCenter().addObserver(
        KZNotification::searchDidTerminate, platform::NotificationObject(&sender),
        [&](const platform::Notification& note) {
            std::lock_guard guard(lock);
            info = info.isEmpty() ? note.userInfo : info;
            done.open();
        });
    KZSearchController::create(stuff, &sender, std::make_shared<resulttest::SilentProgress>())->startToSearch();
    done.wait(std::chrono::seconds(120));
    KZSearchOperationQueue().waitUntilAllOperationsAreFinished();
    std::lock_guard guard(lock);
    return info;
}

} // namespace

TEST_F(FoundItemsModel, EngineListBecomesGroupedMarkedItems)
{
    KZDefaultsRegistry::setupDefaultsPreferences();
    const auto put = [&](const std::string& rel, const std::string& bytes, time_t modified) {
        const fs::path path = dir_.write(rel, bytes);
        setModified(path, modified);
        return path;
    };
    const std::string photo(5000, 'p');
    const std::string notes = "the same notes, three times";
    const std::string data(70000, 'd');
    const std::set<std::set<fs::path>> expected = {
        {put("A/photo.jpg", photo, 1000), put("B/photo.jpg", photo, 2000)},
        {put("A/notes.txt", notes, 1000), put("A/sub/copy.txt", notes, 9000), put("B/notes-copy.txt", notes, 3000)},
        {put("B/other.dat", data, 1000), put("B/other2.dat", data, 1500)},
    };
    put("A/unique.bin", "only once", 1000);

    const QVariantMap info = searchFor({dir_ / "A", dir_ / "B"});
    ASSERT_FALSE(info.isEmpty()) << "the search never ended";
    const auto model = KZFoundItemsCntrl::create(nullptr, info);
    KZFoundItemsOperationQueue().waitUntilAllOperationsAreFinished();
    EXPECT_TRUE(info.value(u"KZResultFoundItems"_s).value<KZFoundListParcel>().isEmpty());

    const KZFoundItemArray items = model->allItems();
    std::map<qint64, std::set<fs::path>> groups;
    std::set<fs::path> kept;
    for (const KZFoundItemRef& item : items) {
        groups[item->groupID()].insert(item->url());
        if (!item->isMarked())
            kept.insert(item->url());
    }
    std::set<std::set<fs::path>> found;
    for (const auto& [id, paths] : groups)
        found.insert(paths);
    EXPECT_EQ(found, expected);
    for (const KZFoundItemRef& item : items)
        EXPECT_EQ(item->countOfItemsInGroup(), groups[item->groupID()].size()) << item->url();
    // One copy per group stays: the newest.
    EXPECT_EQ(kept, (std::set<fs::path>{dir_ / "B/photo.jpg", dir_ / "A/sub/copy.txt", dir_ / "B/other2.dat"}));

    // Each item carries its source's label, and the location rows answer by it.
    quint64 size = 0;
    const KZFoundItemArray fromB = model->itemsByTag(KZTag::sourceRowBase + 1, 0, &size);
    EXPECT_EQ(fromB.size(), 4);
    EXPECT_EQ(size, photo.size() + notes.size() + 2 * data.size());
    for (const KZFoundItemRef& item : fromB)
        EXPECT_EQ(item->url().parent_path().filename(), fs::path("B"));
}

// A folders search: whole folders in groups, each with its counter, sizes
// summed from everything inside, nothing inside a found folder reported.
TEST_F(FoundItemsModel, FoldersSearchBecomesGroupsOfFolders)
{
    KZDefaultsRegistry::setupDefaultsPreferences();
    const std::string block(60000, 'b');
    for (const char* top : {"one", "two", "three"}) {
        dir_.write(std::string(top) + "/photo.jpg", block);
        dir_.write(std::string(top) + "/inner/notes.txt", "notes");
        setModified(dir_.write(std::string(top) + "/.DS_Store", top), 1000);
    }
    dir_.write("pair1/data.bin", "pair");
    dir_.write("pair2/data.bin", "pair");
    dir_.write("other/photo.jpg", std::string(60000, 'c'));
    dir_.write("other/inner/notes.txt", "notes");

    const QVariantMap info = searchFor({dir_.path()}, {{u"isFolder"_s, true},
                                                       {u"folderStruct"_s, QVariantMap{{u"compareContent"_s, true},
                                                                                       {u"whichItem"_s, 2}}}});
    ASSERT_FALSE(info.isEmpty()) << "the search never ended";
    EXPECT_TRUE(info.value(u"KZResultSearchedForFolders"_s).toBool());
    const auto model = KZFoundItemsCntrl::create(nullptr, info);
    KZFoundItemsOperationQueue().waitUntilAllOperationsAreFinished();

    const KZFoundItemArray items = model->allItems();
    EXPECT_EQ(quint64(items.size()), info.value(u"KZResultFoundItemsCount"_s).toULongLong());
    std::map<qint64, std::set<fs::path>> groups;
    for (const KZFoundItemRef& item : items) {
        groups[item->groupID()].insert(item->url());
        EXPECT_TRUE(item->isDirectory()) << item->url();
    }
    std::set<std::set<fs::path>> found;
    for (const auto& [id, paths] : groups)
        found.insert(paths);
    EXPECT_EQ(found, (std::set<std::set<fs::path>>{{dir_ / "one", dir_ / "two", dir_ / "three"},
                                                   {dir_ / "pair1", dir_ / "pair2"}}));
    for (const KZFoundItemRef& item : items) {
        EXPECT_EQ(item->countOfItemsInGroup(), groups[item->groupID()].size()) << item->url();
        const bool triple = groups[item->groupID()].size() == 3;
        EXPECT_EQ(item->size(), triple ? block.size() + 5 : 4u) << item->url();
    }
    std::size_t kept = 0;
    for (const KZFoundItemRef& item : items)
        kept += item->isMarked() ? 0 : 1;
    EXPECT_EQ(kept, 2u) << "one folder of each group stays unmarked";
}

// ---- Empty folders ------------------------------------------------------------------------------

TEST_F(FoundItemsModel, LaterSearchesAppendTheirFoldersAndRemovalsDropThem)
{
    const auto model = makeModel({}, 1, 1);
    EXPECT_FALSE(model->allEmptyFolders().has_value());
    const ItemShape one{.path = dir_.mkdir("one"), .tag = 2, .size = 10};
    const ItemShape two{.path = dir_.mkdir("two"), .tag = 2, .size = 10};
    model->doCreateEmptyFoldersList({{u"KZResultFoundItems"_s, parcelOf({one, two})}});
    // A reopened result takes the saved marks, and makes no bookmarks.
    const fs::path kept = dir_.mkdir("kept");
    const fs::path marked = dir_.mkdir("marked");
    model->doCreateEmptyFoldersList(
        {{u"KZResultFoundItems"_s, parcelOf({{.path = kept, .tag = 2}, {.path = marked, .tag = 2},
                                             {.path = dir_.mkdir("unsaved"), .tag = 2}})},
         {u"KZResultIsRestoreOfSaved"_s, true},
         {u"KZResultIsSavedItemsToRestore"_s,
          QVariantMap{{KZFoundItemsCntrl::savedItemKey(marked), QVariantMap{{u"isMarked"_s, true}}},
                      {KZFoundItemsCntrl::savedItemKey(kept), QVariantMap{{u"isMarked"_s, false}}}}}});
    const KZFoundItemArray folders = model->allEmptyFolders().value_or(KZFoundItemArray());
    EXPECT_EQ(names(folders), (QStringList{u"one"_s, u"two"_s, u"kept"_s, u"marked"_s, u"unsaved"_s}));
    EXPECT_EQ(marksOf(folders), "11010");
    EXPECT_TRUE(folders[4]->aliasAlreadyCreated());

    const KZViewsToUpdateRef info = viewsFor({KZTag::emptyFolders});
    model->updateEmptyFoldersAfterRemotion({{KZMarkingKey::removedItems, QVariant::fromValue(folders.mid(0, 2))},
                                            {KZMarkingKey::infoDict, QVariant::fromValue(info)}});
    EXPECT_EQ(*model->allEmptyFolders(), folders.mid(2));
    EXPECT_EQ(info->at(KZTag::emptyFolders)->managedCount(), 2);
    EXPECT_EQ(info->at(KZTag::emptyFolders)->size(), 20);
    model->cleanEmptyFoldersMemoryAfterTabRemotion();
    EXPECT_FALSE(model->allEmptyFolders().has_value());
}

// An undo brings back only what this result dropped, once, each to the list
// it left, with its group's counter and the tab's figures raised again.
TEST_F(FoundItemsModel, AnUndoPutsBackOnlyTheItemsThisResultDropped)
{
    const KZFoundItemArray items = makeItems({{.group = 1, .tag = 3, .size = 10, .marked = true},
                                              {.group = 1, .tag = 3, .size = 10, .marked = true},
                                              {.group = 1, .tag = 3, .size = 10},
                                              {.group = 2, .tag = 3, .size = 10}});
    const auto model = makeModel(items, 1, -1);
    model->doCreateEmptyFoldersList(
        {{u"KZResultFoundItems"_s, parcelOf({{.path = dir_.mkdir("empty"), .tag = 2, .size = 0}})}});
    const KZFoundItemRef folder = model->allEmptyFolders()->first();
    // As the removal leaves them: gone from the counters, marked removed.
    for (const KZFoundItemRef& item : {items[0], items[1], folder}) {
        item->subtractUnitItemsInGroup();
        item->setIsRemoved(true);
    }
    ASSERT_EQ(items[2]->countOfItemsInGroup(), 1u);
    model->updateAfterRemotion({{KZMarkingKey::removedItems, QVariant::fromValue(items.mid(0, 2))},
                                {KZMarkingKey::infoDict, QVariant::fromValue(viewsFor({KZTag::allDuplicates}))}});
    model->updateEmptyFoldersAfterRemotion(
        {{KZMarkingKey::removedItems, QVariant::fromValue(KZFoundItemArray{folder})},
         {KZMarkingKey::infoDict, QVariant::fromValue(viewsFor({KZTag::emptyFolders}))}});
    ASSERT_EQ(model->allItems(), items.mid(2));

    // Named twice, with an item another result dropped: each counts once.
    const KZFoundItemRef stranger = makeItem({.group = 1, .tag = 3, .size = 10});
    KZViewsToUpdate info{{KZTag::allDuplicates, std::make_shared<KZViewToUpdate>()}};
    KZViewsToUpdate emptyInfo{{KZTag::emptyFolders, std::make_shared<KZViewToUpdate>()}};
    const auto back = model->updateAfterRestore({items[0], stranger, folder, items[0]}, info, emptyInfo);
    EXPECT_EQ(back.items, KZFoundItemArray{items[0]});
    EXPECT_EQ(back.emptyFolders, KZFoundItemArray{folder});
    EXPECT_EQ(model->allItems(), (KZFoundItemArray{items[2], items[3], items[0]}));
    EXPECT_EQ(model->allEmptyFolders()->size(), 1);
    EXPECT_FALSE(items[0]->isRemoved());
    EXPECT_TRUE(items[1]->isRemoved()) << "not put back";
    EXPECT_EQ(items[2]->countOfItemsInGroup(), 2u);
    EXPECT_TRUE(items[0]->isMarked()) << "as it was before the removal";
    // The figures move back by what the item took away.
    EXPECT_EQ(info.at(KZTag::allDuplicates)->managedCount(), -1);
    EXPECT_EQ(info.at(KZTag::allDuplicates)->size(), -10);
    EXPECT_EQ(emptyInfo.at(KZTag::emptyFolders)->managedCount(), -1);

    // A second undo naming it again finds nothing left to put back.
    EXPECT_TRUE(model->updateAfterRestore({items[0]}, info, emptyInfo).items.isEmpty());
    EXPECT_EQ(items[2]->countOfItemsInGroup(), 2u);
}

// ---- File-type tags ----------------------------------------------------------------------------

namespace {

QVariantMap label(quint64 tag, const QVariant& extensions, const QStringList& types = {})
{
    QVariantMap map{{KZLabelKey::file_type_tag, tag}, {KZLabelKey::labels_extension, extensions}};
    if (!types.isEmpty())
        map.insert(KZLabelKey::labels_type_array, types);
    return map;
}

// A defaults store of its own, with the labels the test needs.
class ScopedLabels {
public:
    explicit ScopedLabels(const QVariantList& labels) { defaults_->setValue(KZDefaultsKey::file_type_labels, labels); }

private:
    kztest::ScopedDefaults defaults_;
};

} // namespace

TEST_F(FoundItemsModel, AssigningATagMatchesExtensionsIgnoringCaseThenTypeCodes)
{
    KZFoundItemsCntrl model(nullptr, {});
    const QVariantList labels{label(3, QStringList{u"JPG"_s, u"png"_s}), label(4, QStringList{u"txt"_s}, {u"TEXT"_s})};
    struct Case { const char* what; ItemShape shape; quint64 expected; };
    const Case cases[] = {
        {"capital label extension", {.path = dir_ / "a.jpg"}, 3},
        {"type code", {.path = dir_ / "readme", .osType = platform::osTypeFromString(u"TEXT")}, 4},
        {"no match", {.path = dir_ / "a.bin"}, 1},
        {"no type code matches nothing", {.path = dir_ / "plain"}, 1},
        {"a plain folder is a folder whatever its name", {.path = dir_ / "pics.jpg", .isDirectory = true}, 2},
        {"a package is tagged like a file", {.path = dir_ / "x.png", .isPackage = true}, 3},
    };
    for (const Case& c : cases) {
        const KZFoundItemRef item = makeItem(c.shape);
        EXPECT_EQ(model.assignFileTypeTagToItem(item, labels), c.expected) << c.what;
        EXPECT_EQ(item->fileTypeTag(), c.expected) << c.what;
    }
}

TEST_F(FoundItemsModel, ChangedLabelsMoveTheirItemsAndTagTheRestAfresh)
{
    // The new label 9 is already in the preferences, last in the table.
    ScopedLabels labels({label(0, QString()), label(1, QString()), label(2, QString()), label(3, u"jpg"_s),
                         label(4, u"txt"_s), label(9, u"raw"_s)});
    const auto model = build({{.path = file("shot.raw"), .tag = 1},
                              {.path = file("shot.RAW"), .tag = 1},
                              {.path = file("pic.jpg"), .group = 2, .tag = 3},
                              {.path = file("b.txt"), .group = 2, .tag = 4},
                              {.path = dir_.mkdir("album.raw"), .group = 3, .tag = 2, .isDirectory = true}},
                             3);
    const QList<quint64> changed = model->changeItemTypesTagWithExtensions(label(9, u"raw"_s), 9);
    const KZFoundItemArray items = model->allItems();
    EXPECT_EQ(items[0]->fileTypeTag(), 9u); // the exact extension moves
    EXPECT_EQ(items[1]->fileTypeTag(), 9u); // a different case arrives by the fresh tagging
    EXPECT_EQ(items[2]->fileTypeTag(), 3u);
    EXPECT_EQ(items[4]->fileTypeTag(), 2u); // folders stay folders
    ASSERT_FALSE(changed.isEmpty());
    EXPECT_EQ(changed.first(), 1u);
    EXPECT_TRUE(changed.contains(3u));
    // A label without extensions changes nothing.
    EXPECT_TRUE(model->changeItemTypesTagWithExtensions({{KZLabelKey::file_type_tag, 9}}, 9).isEmpty());

    // A removed label sends its items to the other tabs.
    EXPECT_EQ(model->assignTagsToOrphanItems(std::nullopt, QSet<quint64>{3}), (QList<quint64>{9, 1, 4, 2}));
    EXPECT_EQ(items[2]->fileTypeTag(), 1u);
}

TEST_F(FoundItemsModel, ABlankLabelClaimsNoFileWithoutAnExtension)
{
    ScopedLabels labels({label(0, QString()), label(1, QString()), label(2, QString()), label(4, u"txt"_s),
                         label(9, QString())});
    const auto model = build({{.path = file("README"), .tag = 1}, {.path = file("b.txt"), .group = 2, .tag = 4}}, 2);
    const KZFoundItemArray items = model->allItems();
    for (const QVariant& blank : {QVariant(QString()), QVariant(u","_s), QVariant(QStringList{QString()})}) {
        model->changeItemTypesTagWithExtensions(label(9, blank), 9);
        EXPECT_EQ(items[0]->fileTypeTag(), 1u) << blank.toString().toStdString();
        // Removing another tab tags its items afresh; the blank label takes none.
        model->assignTagsToOrphanItems(std::nullopt, QSet<quint64>{4});
        EXPECT_EQ(items[0]->fileTypeTag(), 1u);
        EXPECT_EQ(items[1]->fileTypeTag(), 1u);
        items[1]->setFileTypeTag(4);
    }
}

// ---- Concurrent readers ---------------------------------------------------------------------------

TEST_F(FoundItemsModel, ReadersNeverSeeAListInTheMiddleOfAChange)
{
    std::vector<ItemShape> shapes;
    for (int i = 0; i < 200; ++i)
        shapes.push_back({.group = i / 2 + 1, .label = static_cast<qint16>(i % 2), .size = 1});
    const auto model = build(shapes, 2, 1);
    const KZFoundItemArray all = model->allItems();

    std::atomic<bool> done{false};
    const kztest::Deadline deadline;
    std::vector<std::thread> readers;
    for (int t = 0; t < 3; ++t) {
        readers.emplace_back([&] {
            while (!done.load() && !deadline.passed()) {
                quint64 size = 0;
                const KZFoundItemArray items = model->itemsByTag(3, 3, &size);
                EXPECT_EQ(size, static_cast<quint64>(items.size()));
                model->itemsByTag(KZTag::sourceRowBase + 1, 0, &size);
                model->itemsByTag(KZTag::emptyFolders, KZTag::emptyFolders, &size);
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
