#include "platform/BinaryPropertyListReader.h"

#include "platform/BinaryPropertyListWriter.h"
#include "platform/PropertyList.h"

#include <QDateTime>
#include <QRandomGenerator>
#include <QVariantList>
#include <QVariantMap>

#include <gtest/gtest.h>

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
