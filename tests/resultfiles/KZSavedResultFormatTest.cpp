#include "resultfiles/KZSavedResultFormat.h"

#include "platform/BinaryPropertyListWriter.h"
#include "platform/PropertyList.h"

#include <gtest/gtest.h>

#include <functional>

namespace K = KZSavedResultKey;

namespace {

KZSavedItem item(qint64 group, bool marked, const char* alias)
{
    KZSavedItem it;
    it.alias = QByteArray(alias);
    it.fileTypeTag = 0;
    it.groupId = group;
    it.countOfItemsInGroup = 2;
    it.locationLabelTag = -1;
    it.isMarked = marked;
    return it;
}

// Only what every file holds: items, empty view state, no sources or info.
KZSavedResult minimal()
{
    KZSavedResult r;
    r.items = {item(1, false, "a"), item(1, true, "b")};
    return r;
}

KZSavedResult everything()
{
    KZSavedResult r = minimal();
    r.items[0].trackID = QVariant(QStringLiteral("9A1F-uuid"));
    r.items[0].isPhotosItem = true;
    r.items[1].trackID = QVariant(qint64(4242));
    r.items[1].isiTunesItem = true;
    r.items[1].size = 18446744073709551615ULL;
    r.items[1].dateModified = 1700000000.25;
    r.items[1].dateCreated = 1690000000.125;
    r.items[1].isFolder = false;
    r.items[1].fileTypeTag = 100000000002ULL;
    r.items[1].groupId = -7;
    r.items[1].countOfItemsInGroup = 70000; // wider than 16 bits survives
    r.items[1].locationLabelTag = -32768;

    KZSavedTabSources tab;
    tab.sources = {{100000000004ULL, false, true, 1, 10, 20, 2}, {100000000103ULL, true, false, 0, 0, 0, 0}};
    tab.selection = 100000000103ULL;
    r.leftSide[0] = tab;
    r.leftSide[100000000001ULL] = KZSavedTabSources{};

    r.selectedTabTag = 100000000002ULL;
    KZSavedListState list;
    list.sortDescriptors[100000000004ULL] = {{true, QStringLiteral("name"), QStringLiteral("compare:")},
                                             {false, QStringLiteral("size"), QStringLiteral("compare:")}};
    list.currSelectedSourceTag = 100000000004ULL;
    list.expandedByTag[100000000004ULL] = {1, -7};
    list.selectedItems[100000000004ULL] = {{true, 1, {}}, {false, -7, QStringLiteral("/tmp/b")}};
    r.rightSide[0] = list;
    r.rightSide[100000000002ULL] = KZSavedListState{};

    r.deadTracks = std::vector<KZSavedDeadTrack>{
        {QStringLiteral("Song"), QStringLiteral("Album"), QString(), QStringLiteral("77"), QStringLiteral("/m/s.mp3"), true}};
    r.emptyFolders = std::vector<KZSavedItem>{item(0, true, "folder")};

    KZSavedSource source;
    source.alias = QByteArray("src");
    source.excluded = {std::filesystem::path("/home/u/x"), std::filesystem::path("/home/u/\xff\xfe-not-utf8")};
    source.excludedProgrammatically = {std::filesystem::path("/home/u/x")};
    source.isDisk = true;
    source.librariesCount = -1;
    source.iTunesLibValue = 3;
    source.totSize = 1ULL << 40;
    source.freeSize = 12345;
    source.locationLabelTag = 2;
    source.wasSearched = true;
    KZSavedSource other;
    other.alias = QByteArray("other");
    r.sources = {source, other};

    KZSavedGenericInfo& g = r.genericInfo;
    g.checkedItemsCount = 100;
    g.currentLocationLabel = 1;
    g.foundItemsCount = 2;
    g.foundItemsSize = 4096;
    g.searchWasStoppedByUser = false;
    g.searchedForFolders = true;
    g.searchedInPhotos = false;
    g.searchedIniTunes = true;
    g.isEmptyFolders = false;
    g.photosLibraryPath = QString();
    g.itemsToCheckCount = 0;
    g.showResultByGroup = true;
    return r;
}

QString decodeError(const QVariant& root)
{
    QString error;
    EXPECT_FALSE(KZSavedResultFormat::fromPropertyList(root, &error).has_value());
    return error;
}

} // namespace

TEST(KZSavedResultFormat, RoundTripsThroughTheBinaryFileWithEveryOptionalPartPresentOrAbsent)
{
    for (const KZSavedResult& original : {minimal(), everything()}) {
        QString error;
        const QByteArray bytes = KZSavedResultFormat::encode(original, &error);
        ASSERT_FALSE(bytes.isEmpty()) << error.toStdString();
        EXPECT_TRUE(bytes.startsWith("bplist00"));
        const std::optional<KZSavedResult> back = KZSavedResultFormat::decode(bytes, &error);
        ASSERT_TRUE(back.has_value()) << error.toStdString();
        EXPECT_TRUE(*back == original);
    }
}

// The file is written record by record, not through the tree of values: it
// must still be the same property list. Files written through the tree (by
// earlier versions) read as before, and any reader of property lists reads
// the new files as that tree; a large result, whose objects need wider
// references, too.
TEST(KZSavedResultFormat, WritesTheSameListAsTheTreeOfValuesAndReadsFilesWrittenFromIt)
{
    KZSavedResult large = everything();
    for (int i = 0; i < 15000; ++i) {
        KZSavedItem item = large.items.front();
        item.alias = QByteArray("alias ") + QByteArray::number(i);
        item.groupId = i / 3;
        item.dateModified = 1.7e9 + i / 7.0;
        large.items.push_back(item);
    }
    for (const KZSavedResult& result : {minimal(), everything(), large}) {
        const QVariant tree = *platform::PropertyList::normalized(KZSavedResultFormat::toPropertyList(result));
        const QByteArray written = KZSavedResultFormat::encode(result);
        ASSERT_FALSE(written.isEmpty());
        EXPECT_EQ(platform::PropertyList::fromData(written), std::optional<QVariant>(tree));
        const QByteArray earlier = platform::PropertyList::toData(tree, platform::PropertyList::Format::Binary);
        QString error;
        const std::optional<KZSavedResult> read = KZSavedResultFormat::decode(earlier, &error);
        ASSERT_TRUE(read.has_value()) << error.toStdString();
        EXPECT_TRUE(*read == result);
    }
}

TEST(KZSavedResultFormat, WritesTheStoredSpellingsAndLeavesOutEmptyParts)
{
    const QVariantMap full = KZSavedResultFormat::toPropertyList(everything());
    const QVariantMap firstItem = full.value(K::items).toList().at(0).toMap();
    EXPECT_TRUE(firstItem.contains(QStringLiteral("groupId")));
    EXPECT_FALSE(firstItem.contains(QStringLiteral("size"))); // optional, absent here
    const QVariantMap right = full.value(K::rightSide).toMap();
    EXPECT_EQ(right.value(QStringLiteral("selectedTabTag")).toULongLong(), 100000000002ULL);
    const QVariantMap list = right.value(QStringLiteral("0")).toMap();
    const QVariantMap expansion =
        list.value(QStringLiteral("expandedByTag")).toMap().value(QStringLiteral("100000000004")).toList().at(0).toMap();
    EXPECT_TRUE(expansion.contains(QStringLiteral("groupID")));
    EXPECT_TRUE(expansion.value(QStringLiteral("isExpanded")).toBool());
    const QVariantMap row = full.value(K::leftSide).toMap().value(QStringLiteral("itemInfo")).toMap()
                                .value(QStringLiteral("0")).toMap().value(QStringLiteral("sources")).toList().at(0).toMap();
    EXPECT_TRUE(row.value(QStringLiteral("searchStoppeByUser")).toBool());
    // A list without sorting still carries an empty dictionary, and nothing else optional.
    const QVariantMap bare = right.value(QStringLiteral("100000000002")).toMap();
    EXPECT_EQ(bare.value(QStringLiteral("sortDescriptors")).typeId(), QMetaType::QVariantMap);
    EXPECT_FALSE(bare.contains(QStringLiteral("expandedByTag")));
    EXPECT_FALSE(bare.contains(QStringLiteral("selectedItems")));

    KZSavedResult noExtras = minimal();
    noExtras.deadTracks = std::vector<KZSavedDeadTrack>{};
    noExtras.emptyFolders = std::vector<KZSavedItem>{};
    const QVariantMap plain = KZSavedResultFormat::toPropertyList(noExtras);
    EXPECT_FALSE(plain.contains(K::deadTracks));
    EXPECT_FALSE(plain.contains(K::emptyFolders));
    EXPECT_TRUE(plain.value(K::sources).toList().isEmpty());
    EXPECT_TRUE(plain.value(K::genericInfo).toMap().isEmpty());
}

TEST(KZSavedResultFormat, RefusesDamagedFilesWithTheFaultsPlace)
{
    const QVariantMap good = KZSavedResultFormat::toPropertyList(everything());
    auto withItem = [&good](const QString& key, const QVariant& value) {
        QVariantMap root = good;
        QVariantList items = root.value(K::items).toList();
        QVariantMap first = items.at(0).toMap();
        if (value.isValid())
            first.insert(key, value);
        else
            first.remove(key);
        items[0] = first;
        root.insert(K::items, items);
        return root;
    };

    EXPECT_TRUE(KZSavedResultFormat::fromPropertyList(good).has_value());
    EXPECT_TRUE(decodeError(QVariant(QVariantList{})).contains(QStringLiteral("expected a dictionary")));
    EXPECT_TRUE(decodeError(withItem(K::isMarked, QVariant())).contains(QStringLiteral("items[0].isMarked: missing")));
    EXPECT_TRUE(decodeError(withItem(K::groupId, QStringLiteral("1"))).contains(QStringLiteral("items[0].groupId")));
    EXPECT_TRUE(decodeError(withItem(K::isMarked, qint64(1))).contains(QStringLiteral("expected a boolean")));
    EXPECT_TRUE(decodeError(withItem(K::locationLabelTag, qint64(40000))).contains(QStringLiteral("out of range")));
    EXPECT_TRUE(decodeError(withItem(K::countOfItemsInGroup, qint64(-1))).contains(QStringLiteral("out of range")));
    EXPECT_TRUE(decodeError(withItem(K::alias, QByteArray())).contains(QStringLiteral("items[0].alias")));
    EXPECT_TRUE(decodeError(withItem(K::trackID, QVariantList{})).contains(QStringLiteral("trackID")));
    EXPECT_TRUE(decodeError(withItem(K::dateModified, QStringLiteral("x"))).contains(QStringLiteral("dateModified")));

    QVariantMap root = good;
    root.insert(K::items, QVariantList{});
    EXPECT_TRUE(decodeError(root).contains(QStringLiteral("no items")));
    root = good;
    root.insert(K::items, QVariantList{QStringLiteral("not a record")});
    EXPECT_TRUE(decodeError(root).contains(QStringLiteral("items[0]: expected a dictionary")));
    for (const QString& key : {K::leftSide, K::rightSide, K::sources, K::genericInfo}) {
        root = good;
        root.remove(key);
        EXPECT_TRUE(decodeError(root).contains(key + QStringLiteral(": missing"))) << key.toStdString();
    }
    root = good;
    QVariantMap right = root.value(K::rightSide).toMap();
    right.insert(QStringLiteral("007"), right.value(QStringLiteral("0")));
    root.insert(K::rightSide, right);
    EXPECT_TRUE(decodeError(root).contains(QStringLiteral("not a tag")));
    root = good;
    QVariantMap source = root.value(K::sources).toList().at(0).toMap();
    source.insert(K::excluded, QVariantList{QStringLiteral("/as/text")});
    root.insert(K::sources, QVariantList{source});
    EXPECT_TRUE(decodeError(root).contains(QStringLiteral("sources[0].excluded[0]: expected data")));

    QString error;
    EXPECT_FALSE(KZSavedResultFormat::decode(QByteArray("bplist00 truncated"), &error).has_value());
    EXPECT_FALSE(error.isEmpty());
}

TEST(KZSavedResultFormat, TagKeysAreTheDecimalTextOfTheUnsignedTag)
{
    EXPECT_EQ(KZSavedResultFormat::tagKey(100000000002ULL), QStringLiteral("100000000002"));
    EXPECT_EQ(KZSavedResultFormat::tagKey(0), QStringLiteral("0"));
    EXPECT_EQ(KZSavedResultFormat::tagKey(18446744073709551615ULL), QStringLiteral("18446744073709551615"));
}

// A large result's item records are read straight from the file on the
// reader's threads: what comes out, and which records are dropped and
// counted, is what reading each record's map gives, for odd records too.
TEST(KZSavedResultFormat, ManyItemRecordsReadStraightFromTheFileReadAsTheirMaps)
{
    KZSavedResult many = everything();
    many.items.clear();
    for (int i = 0; i < 5000; ++i) {
        KZSavedItem one = item(i / 2, i % 2 == 1, QByteArray("reference ").append(QByteArray::number(i)).constData());
        if (i % 3 == 0)
            one.size = quint64(i) * 1000;
        if (i % 7 == 0)
            one.dateModified = 1.7e9 + i;
        if (i % 11 == 0)
            one.trackID = i % 2 ? QVariant(QStringLiteral("uuid-%1").arg(i)) : QVariant(qint64(i));
        many.items.push_back(one);
    }
    many.emptyFolders = many.items;
    const QVariantMap good = KZSavedResultFormat::toPropertyList(many);
    const auto withOdd = [&good](const std::function<void(int, QVariantMap&)>& change) {
        QVariantMap root = good;
        for (const QString& key : {K::items, K::emptyFolders}) {
            QVariantList records = root.value(key).toList();
            for (int i = 0; i < records.size(); ++i) {
                QVariantMap record = records.at(i).toMap();
                change(i, record);
                records[i] = record;
            }
            root.insert(key, records);
        }
        platform::BinaryPropertyListWriter writer;
        return writer.finish(writer.value(root));
    };
    const QByteArray odd = withOdd([](int i, QVariantMap& record) {
        if (i == 10)
            record.remove(K::alias);
        if (i == 20)
            record.insert(K::groupId, QStringLiteral("twenty"));
        if (i == 30)
            record.insert(QStringLiteral("unknown"), 1.5);
        if (i == 40)
            record.insert(K::locationLabelTag, qint64(40000));
        if (i == 50)
            record.insert(K::trackID, 2.5);
        if (i == 60)
            record.insert(K::alias, QByteArray());
    });
    const QByteArray nested = withOdd([](int i, QVariantMap& record) {
        if (i == 4000)
            record.insert(QStringLiteral("unknown"), QVariantList{1});
    });
    for (const QByteArray& data : {withOdd([](int, QVariantMap&) {}), odd, nested}) {
        QString error;
        QString mapError;
        KZSavedReadNotes notes;
        KZSavedReadNotes mapNotes;
        const std::optional<KZSavedResult> read = KZSavedResultFormat::decode(data, &error, &notes);
        const std::optional<KZSavedResult> fromMaps =
            KZSavedResultFormat::fromPropertyList(*platform::PropertyList::fromData(data), &mapError, &mapNotes);
        ASSERT_TRUE(read && fromMaps) << error.toStdString() << mapError.toStdString();
        EXPECT_TRUE(*read == *fromMaps);
        EXPECT_EQ(notes.droppedRecords, mapNotes.droppedRecords);
    }
    KZSavedReadNotes notes;
    const std::optional<KZSavedResult> read = KZSavedResultFormat::decode(odd, nullptr, &notes);
    EXPECT_EQ(notes.droppedRecords, 10); // five records in each list
    EXPECT_EQ(read->items.size(), 4995u);
}
