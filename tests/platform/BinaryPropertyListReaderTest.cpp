#include "platform/BinaryPropertyListReader.h"

#include "platform/BinaryPropertyListWriter.h"
#include "platform/PropertyList.h"

#include <QDateTime>
#include <QRandomGenerator>
#include <QVariantList>
#include <QVariantMap>

#include <gtest/gtest.h>

#include <bit>
#include <functional>
#include <limits>

using platform::PropertyList;
using platform::readBinaryPropertyList;

namespace {

// A list laid out by hand: `objects` in order (references are one byte),
// two-byte offsets, `top` as the root.
QByteArray handMade(const std::vector<QByteArray>& objects, quint8 top = 0)
{
    QByteArray out("bplist00");
    std::vector<int> offsets;
    for (const QByteArray& object : objects) {
        offsets.push_back(int(out.size()));
        out += object;
    }
    const int table = int(out.size());
    for (const int offset : offsets) {
        out += char(offset >> 8);
        out += char(offset & 0xFF);
    }
    QByteArray trailer(32, '\0');
    trailer[6] = 2;
    trailer[7] = 1;
    trailer[15] = char(objects.size());
    trailer[23] = char(top);
    trailer[30] = char(table >> 8);
    trailer[31] = char(table & 0xFF);
    return out + trailer;
}

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (const int v : values)
        out += char(v);
    return out;
}

QVariant everyKind()
{
    QVariantList numbers;
    for (const qint64 n : {qint64(0), qint64(255), qint64(256), qint64(65536), qint64(0x100000000),
                           std::numeric_limits<qint64>::max(), qint64(-1), std::numeric_limits<qint64>::min()})
        numbers.append(QVariant::fromValue(n));
    numbers.append(QVariant::fromValue(std::numeric_limits<quint64>::max()));
    numbers.append(0.5);
    numbers.append(1.0 / 3.0);
    QVariantMap wide;
    for (int i = 0; i < 20; ++i)
        wide.insert(QStringLiteral("k%1").arg(i), i % 2 == 0);
    return QVariantMap{{QStringLiteral("numbers"), numbers},
                       {QStringLiteral("texts"), QVariantList{QString(), QStringLiteral("plain text longer than 15"),
                                                              QString::fromUtf8("caf\xC3\xA9 \xF0\x9F\x98\x80")}},
                       {QStringLiteral("data"), QVariantList{QByteArray(), QByteArray(40, '\x01')}},
                       {QStringLiteral("date"), QDateTime::fromMSecsSinceEpoch(1700000000123, Qt::UTC)},
                       {QStringLiteral("wide"), wide},
                       {QStringLiteral("empty"), QVariantList()}};
}

std::string firstDifference(const QVariant& a, const QVariant& b, const std::string& where)
{
    if (a.typeId() != b.typeId())
        return where + ": types " + a.typeName() + " " + b.typeName();
    if (a.typeId() == QMetaType::QVariantMap) {
        const QVariantMap x = a.toMap(), y = b.toMap();
        if (x.keys() != y.keys())
            return where + ": keys " + x.keys().join(u',').toStdString() + " | " + y.keys().join(u',').toStdString();
        for (const QString& k : x.keys())
            if (x[k] != y[k])
                return firstDifference(x[k], y[k], where + "." + k.toStdString());
    }
    if (a.typeId() == QMetaType::QVariantList) {
        const QVariantList x = a.toList(), y = b.toList();
        if (x.size() != y.size())
            return where + ": sizes";
        for (int i = 0; i < x.size(); ++i)
            if (x[i] != y[i])
                return firstDifference(x[i], y[i], where + "[" + std::to_string(i) + "]");
    }
    return where + ": " + a.toString().toStdString() + " | " + b.toString().toStdString();
}

} // namespace

// Lists written by libplist (every saved result of earlier versions) and by
// the program's own writer read back as PropertyList reads them.
TEST(BinaryPropertyListReader, ReadsWhatEitherWriterWroteAsPropertyListReadsIt)
{
    const QVariant value = everyKind();
    QByteArray own;
    {
        platform::BinaryPropertyListWriter writer;
        QVariantMap withoutDate = value.toMap();
        withoutDate.remove(QStringLiteral("date"));
        own = writer.finish(writer.value(withoutDate));
    }
    for (const QByteArray& data : {PropertyList::toData(value, PropertyList::Format::Binary), own}) {
        QString error;
        const std::optional<QVariant> read = readBinaryPropertyList(data, &error);
        ASSERT_TRUE(read.has_value()) << error.toStdString();
        EXPECT_EQ(*read, *PropertyList::fromData(data));
    }
    QString error;
    EXPECT_FALSE(readBinaryPropertyList(PropertyList::toData(value, PropertyList::Format::Xml), &error));
    EXPECT_FALSE(readBinaryPropertyList("bplist01" + QByteArray(40, '\0'), &error));
    EXPECT_TRUE(error.contains(QStringLiteral("version"))) << error.toStdString();
}

// Made-up lists that would lead a reader astray are refused with a reason:
// a container inside itself, a key that is no text or holds a NUL, a
// reference past the objects, and a chain of shared arrays that a walker
// would expand to 2^40 elements. Every truncation and thousands of damaged
// copies of a real list answer without crashing, and whatever reads reads
// as PropertyList reads it.
TEST(BinaryPropertyListReader, RefusesWhatWouldLeadAReaderAstrayAndNeverCrashes)
{
    const auto refused = [](const QByteArray& data) {
        QString error;
        const bool read = readBinaryPropertyList(data, &error).has_value();
        EXPECT_FALSE(error.isEmpty() && !read);
        return !read;
    };
    EXPECT_TRUE(refused(handMade({bytes({0xA1, 0})})));                           // [itself]
    EXPECT_TRUE(refused(handMade({bytes({0xD1, 1, 2}), bytes({0x10, 1}), bytes({0x09})})));   // {1: true}
    EXPECT_TRUE(refused(handMade({bytes({0xD1, 1, 2}), bytes({0x52, 'a', 0}), bytes({0x09})}))); // {"a\0": true}
    EXPECT_TRUE(refused(handMade({bytes({0xA1, 7})})));                           // [nothing]
    EXPECT_FALSE(refused(handMade({bytes({0xD1, 1, 2}), bytes({0x51, 'a'}), bytes({0x09})})));
    // One-byte text holding UTF-8 keeps a leading U+FEFF, in keys and values.
    const auto marked = readBinaryPropertyList(
        handMade({bytes({0xD1, 1, 2}), bytes({0x54, 0xEF, 0xBB, 0xBF, 'a'}), bytes({0x53, 0xEF, 0xBB, 0xBF})}));
    ASSERT_TRUE(marked);
    EXPECT_EQ(*marked, QVariant(QVariantMap{{QStringLiteral("\uFEFFa"), QStringLiteral("\uFEFF")}}));

    std::vector<QByteArray> chain;
    for (int level = 0; level < 40; ++level)
        chain.push_back(bytes({0xA2, level + 1, level + 1}));
    chain.push_back(bytes({0x09}));
    EXPECT_TRUE(refused(handMade(chain)));

    const QByteArray good = PropertyList::toData(everyKind(), PropertyList::Format::Binary);
    for (qsizetype size = 0; size < good.size(); ++size)
        EXPECT_TRUE(refused(good.left(size))) << size;
    QRandomGenerator random(20261208);
    for (int round = 0; round < 5000; ++round) {
        QByteArray damaged = good;
        for (int hits = 1 + int(random.bounded(4)); hits > 0; --hits)
            damaged[qsizetype(random.bounded(int(damaged.size())))] = char(random.bounded(256));
        const std::optional<QVariant> read = readBinaryPropertyList(damaged);
        const std::optional<QVariant> expected = PropertyList::fromData(damaged);
        if (read && expected) {
            EXPECT_EQ(*read, *expected) << round << firstDifference(*read, *expected, "");
        }
    }
}

namespace {

using Ref = platform::BinaryPropertyListWriter::Ref;

QVariantMap record(int i)
{
    QVariantMap r;
    r.insert(QStringLiteral("alias"), QByteArray("reference ").append(QByteArray::number(i)));
    r.insert(QStringLiteral("group"), QVariant::fromValue(qint64(i / 2)));
    r.insert(QStringLiteral("marked"), i % 3 == 0);
    r.insert(QStringLiteral("date"), 1.7e9 + i / 7.0);
    r.insert(QStringLiteral("name"), i % 5 ? QStringLiteral("plain %1").arg(i) : QString::fromUtf8("caf\xC3\xA9 %1").arg(i));
    if (i % 4 == 0)
        r.insert(QStringLiteral("size"), QVariant::fromValue(std::numeric_limits<quint64>::max() - quint64(i)));
    return r;
}

// {"items": the records, "count": how many}, as the program writes a result:
// `extra` adds entries to the root, `order` lists the records (by number,
// a number twice shares the record).
QByteArray records(int count, const std::function<QVariant(int)>& one = record,
                   const std::function<void(platform::BinaryPropertyListWriter&, const std::vector<Ref>&,
                                            std::vector<std::pair<Ref, Ref>>&)>& extra = {},
                   std::vector<int> order = {})
{
    platform::BinaryPropertyListWriter writer;
    std::vector<Ref> refs;
    for (int i = 0; i < count; ++i)
        refs.push_back(writer.value(one(i)));
    std::vector<Ref> listed;
    if (order.empty())
        listed = refs;
    for (const int i : order)
        listed.push_back(refs[size_t(i)]);
    const Ref items = writer.array(listed);
    std::vector<std::pair<Ref, Ref>> root{{writer.string(QStringLiteral("items")), items},
                                          {writer.string(QStringLiteral("count")), writer.integer(count)}};
    if (extra)
        extra(writer, listed, root);
    return writer.finish(writer.dictionary(root));
}

struct Reading {
    std::optional<QVariant> value;
    QString error;
};

// The list read with arrays of at least `from` records read on threads.
Reading readFrom(quint64 from, const QByteArray& data, const platform::BinaryRecordReader& reader = {})
{
    const quint64 before = platform::recordsReadInParallelFrom.exchange(from);
    Reading r;
    r.value = reader ? readBinaryPropertyList(data, &r.error, reader) : readBinaryPropertyList(data, &r.error);
    platform::recordsReadInParallelFrom.store(before);
    return r;
}

void expectSame(const Reading& threads, const Reading& inOrder, const std::string& what)
{
    ASSERT_EQ(threads.value.has_value(), inOrder.value.has_value()) << what << " " << threads.error.toStdString()
                                                                    << " | " << inOrder.error.toStdString();
    if (threads.value)
        EXPECT_EQ(*threads.value, *inOrder.value) << what << firstDifference(*threads.value, *inOrder.value, "");
    else
        EXPECT_EQ(threads.error.toStdString(), inOrder.error.toStdString()) << what;
}

constexpr quint64 kInOrder = std::numeric_limits<quint64>::max();

} // namespace

// An array of many records is read on threads to what the walk in order
// reads: the same values and sharing, and for a damaged list the same first
// fault. Arrays it cannot take (a record holding a list, a record listed
// twice) are read in order.
TEST(BinaryPropertyListReader, ManyRecordsReadOnThreadsAsTheyReadInOrder)
{
    const QByteArray plain = records(5000);
    expectSame(readFrom(1, plain), readFrom(kInOrder, plain), "plain");
    EXPECT_EQ(*readFrom(1, plain).value, *PropertyList::fromData(plain));

    const QByteArray nested = records(5000, [](int i) {
        QVariantMap r = record(i);
        if (i == 3000)
            r.insert(QStringLiteral("inside"), QVariantList{1, 2});
        return QVariant(r);
    });
    expectSame(readFrom(1, nested), readFrom(kInOrder, nested), "nested");
    std::vector<int> order;
    for (int i = 0; i < 5000; ++i)
        order.push_back(i == 4000 ? 17 : i);
    const QByteArray twice = records(5000, record, {}, order);
    expectSame(readFrom(1, twice), readFrom(kInOrder, twice), "twice");

    // Two records whose dates do not read: the first of them is the fault.
    QByteArray twoFaults = plain;
    for (const int i : {3000, 1000}) {
        QByteArray date(1, char(0x23));
        const quint64 bits = std::bit_cast<quint64>(1.7e9 + i / 7.0);
        for (int b = 7; b >= 0; --b)
            date += char((bits >> (8 * b)) & 0xFF);
        const qsizetype at = twoFaults.indexOf(date);
        ASSERT_GE(at, 0);
        twoFaults[at] = char(0x24);
    }
    const Reading inOrder = readFrom(kInOrder, twoFaults);
    EXPECT_FALSE(inOrder.value);
    expectSame(readFrom(1, twoFaults), inOrder, "two faults");

    QRandomGenerator random(20261208);
    // The objects alone are damaged: the table and trailer stay whole.
    qsizetype objects = 0;
    for (int i = 0; i < 8; ++i)
        objects = (objects << 8) | uchar(plain[plain.size() - 8 + i]);
    for (int round = 0; round < 150; ++round) {
        QByteArray damaged = plain;
        for (int hits = 1 + int(random.bounded(3)); hits > 0; --hits)
            damaged[8 + qsizetype(random.bounded(int(objects - 8)))] = char(random.bounded(256));
        expectSame(readFrom(1, damaged), readFrom(kInOrder, damaged), "round " + std::to_string(round));
    }
}

// A record reader's answer stands in its record's place, or the record stays
// its map where it declines; where a record it took, or its array, is met
// again elsewhere in the list, every place holds the maps again.
TEST(BinaryPropertyListReader, ARecordReaderTakesWhatItReadsButNothingSharedElsewhere)
{
    const auto asMap = [](const QString& key, const std::vector<platform::BinaryPropertyListEntry>& entries) {
        if (key != QStringLiteral("items") || entries.size() % 2 == 0)
            return QVariant();
        QVariantMap map;
        for (const auto& entry : entries)
            map.insert(QString::fromUtf8(entry.key.data(), qsizetype(entry.key.size())), entry.value);
        return QVariant(map);
    };
    const QByteArray plain = records(5000);
    expectSame(readFrom(1, plain, asMap), readFrom(kInOrder, plain), "maps");

    const auto mark = [](const QString&, const std::vector<platform::BinaryPropertyListEntry>&) {
        return QVariant(QStringLiteral("taken"));
    };
    const Reading taken = readFrom(1, plain, mark);
    ASSERT_TRUE(taken.value);
    EXPECT_EQ(taken.value->toMap().value(QStringLiteral("items")).toList().value(4999), QStringLiteral("taken"));

    const QByteArray arrayTwice = records(5000, record, [](auto& writer, const std::vector<Ref>&, auto& root) {
        root.emplace_back(writer.string(QStringLiteral("zzz")), root.front().second);
    });
    const QByteArray recordTwice = records(5000, record, [](auto& writer, const std::vector<Ref>& listed, auto& root) {
        root.emplace_back(writer.string(QStringLiteral("zzz")), writer.array({listed[42]}));
    });
    for (const QByteArray& shared : {arrayTwice, recordTwice}) {
        const Reading read = readFrom(1, shared, mark);
        expectSame(read, readFrom(kInOrder, shared), "shared");
    }
}

// A count a list claims sizes nothing before its objects are there: a table
// of one-byte offsets all naming one object, or one object referred to by
// millions of one-byte references, is refused, not paid for by the claim.
TEST(BinaryPropertyListReader, WhatAListClaimsSizesNothingBeforeItIsThere)
{
    QByteArray claims("bplist00");
    claims += bytes({0xD1, 1, 2, 0x51, 'a', 0x10, 1}); // {"a": 1} at 8, 11 and 13
    const int table = int(claims.size());
    claims += bytes({8, 11, 13});
    const quint64 claimed = 3'000'000;
    claims += QByteArray(qsizetype(claimed - 3), char(8));
    QByteArray trailer(32, '\0');
    trailer[6] = 1;
    trailer[7] = 1;
    for (int i = 0; i < 8; ++i) {
        trailer[8 + i] = char((claimed >> (56 - 8 * i)) & 0xFF);
        trailer[24 + i] = char((quint64(table) >> (56 - 8 * i)) & 0xFF);
    }
    claims += trailer;
    for (const bool asAFile : {false, true}) {
        QString error;
        EXPECT_FALSE(asAFile ? PropertyList::fromData(claims, &error) : readBinaryPropertyList(claims, &error));
        EXPECT_TRUE(error.contains(QStringLiteral("claims more objects"))) << error.toStdString();
    }
    // The same claim, each offset its own but pointing past the objects.
    QByteArray outside = claims;
    outside[table + 3] = char(200);
    EXPECT_FALSE(readBinaryPropertyList(outside));

    // [true, true, ...]: four million one-byte references to one object.
    QByteArray repeated("bplist00");
    repeated += bytes({0x09, 0xAF, 0x12});
    const quint32 count = 4'000'000;
    for (int b = 3; b >= 0; --b)
        repeated += char((count >> (8 * b)) & 0xFF);
    const qsizetype arrayAt = 9;
    repeated += QByteArray(qsizetype(count), char(0));
    const qsizetype tableAt = repeated.size();
    for (const qsizetype offset : {qsizetype(8), arrayAt}) {
        for (int b = 3; b >= 0; --b)
            repeated += char((quint64(offset) >> (8 * b)) & 0xFF);
    }
    QByteArray tail(32, '\0');
    tail[6] = 4;
    tail[7] = 1;
    tail[15] = 2;
    tail[23] = 1;
    for (int i = 0; i < 8; ++i)
        tail[24 + i] = char((quint64(tableAt) >> (56 - 8 * i)) & 0xFF);
    repeated += tail;
    QString error;
    EXPECT_FALSE(readBinaryPropertyList(repeated, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("refers to its objects more often"))) << error.toStdString();

    // [text, text, ...]: a million short texts, each costing the reader
    // more than its bytes in the file. The refusal gives both amounts in
    // bytes: the list is not small.
    QByteArray texts("bplist00");
    const auto put = [&texts](quint64 value, int width) {
        for (int b = width - 1; b >= 0; --b)
            texts += char((value >> (8 * b)) & 0xFF);
    };
    const quint32 many = 1'000'000;
    const QByteArray text = bytes({0x5F, 0x10, 20}) + QByteArray(20, 't');
    texts += bytes({0xAF, 0x12});
    put(many, 4);
    for (quint32 i = 1; i <= many; ++i)
        put(i, 3);
    const qsizetype firstText = texts.size();
    texts += text.repeated(many);
    const qsizetype textsTableAt = texts.size();
    put(8, 4);
    for (quint32 i = 0; i < many; ++i)
        put(quint64(firstText) + i * quint64(text.size()), 4);
    texts += bytes({0, 0, 0, 0, 0, 0, 4, 3});
    put(many + 1, 8);
    put(0, 8);
    put(quint64(textsTableAt), 8);
    EXPECT_FALSE(readBinaryPropertyList(texts, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("texts and data take more memory"))) << error.toStdString();
    EXPECT_TRUE(error.contains(QStringLiteral(" bytes of memory for a list of %1 bytes)").arg(texts.size())))
        << error.toStdString();
}

// A value every record refers to is read once and shared by them all on the
// threads, as the walk in order shares it: not a copy of it per record.
TEST(BinaryPropertyListReader, AValueSharedByEveryRecordIsReadOnceOnThreads)
{
    const QByteArray large(64 * 1024, 'v');
    const QByteArray data = records(5000, [&large](int i) {
        QVariantMap r = record(i);
        r.insert(QStringLiteral("alias"), large);
        r.insert(QStringLiteral("note"), QString::fromLatin1(large));
        return QVariant(r);
    });
    ASSERT_LT(data.size(), 1024 * 1024);
    for (const quint64 from : {quint64(1), kInOrder}) {
        const Reading read = readFrom(from, data);
        ASSERT_TRUE(read.value) << read.error.toStdString();
        const QVariantList items = read.value->toMap().value(QStringLiteral("items")).toList();
        ASSERT_EQ(items.size(), 5000);
        const QVariantMap first = items.front().toMap();
        for (const QVariant& item : items) {
            const QVariantMap map = item.toMap();
            ASSERT_EQ(map.value(QStringLiteral("alias")).toByteArray().constData(),
                      first.value(QStringLiteral("alias")).toByteArray().constData());
            ASSERT_EQ(map.value(QStringLiteral("note")).toString().constData(),
                      first.value(QStringLiteral("note")).toString().constData());
        }
    }
}
