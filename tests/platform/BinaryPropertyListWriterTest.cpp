#include "platform/BinaryPropertyListWriter.h"

#include "platform/PropertyList.h"

#include <QVariantList>
#include <QVariantMap>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using platform::BinaryPropertyListWriter;
using platform::PropertyList;

namespace {

// What the written list reads back as, through the program's reader.
QVariant readBack(const QByteArray& bytes)
{
    QString error;
    const std::optional<QVariant> value = PropertyList::fromData(bytes, &error);
    EXPECT_TRUE(value.has_value()) << error.toStdString();
    return value.value_or(QVariant());
}

QByteArray written(const QVariant& value, QString* error = nullptr)
{
    BinaryPropertyListWriter writer;
    const BinaryPropertyListWriter::Ref top = writer.value(value);
    return writer.finish(top, error);
}

} // namespace

// Every value comes back with the type and value the tree writer gives it:
// the widths where integers change encoding, unsigned numbers above
// INT64_MAX, reals that fit a float and those that do not, text that is
// ASCII, not, or outside the BMP, and counts on both sides of 15.
TEST(BinaryPropertyListWriter, ReadsBackAsTheTreeWriterWritesItAtEveryEncodingBoundary)
{
    QVariantList numbers;
    for (const qint64 n : {qint64(0), qint64(14), qint64(255), qint64(256), qint64(65535), qint64(65536),
                           qint64(0xFFFFFFFF), qint64(0x100000000), std::numeric_limits<qint64>::max(), qint64(-1),
                           std::numeric_limits<qint64>::min()})
        numbers.append(QVariant::fromValue(n));
    numbers.append(QVariant::fromValue(quint64(std::numeric_limits<qint64>::max()) + 1));
    numbers.append(QVariant::fromValue(std::numeric_limits<quint64>::max()));
    numbers.append(QVariant::fromValue(quint32(7)));
    for (const double d : {0.5, 1.0 / 3.0, -2.25e300, 1.7e9 + 0.123456})
        numbers.append(d);
    QVariantList texts{QString(), QStringLiteral("fourteen chars"), QStringLiteral("fifteen chars!!"),
                       QStringLiteral("caf\u00e9"), QString::fromUtf8("\xF0\x9F\x98\x80 and more than fifteen"),
                       QByteArray(), QByteArray(300, '\xff'), true, false};
    QVariantMap wide;
    for (int i = 0; i < 40; ++i)
        wide.insert(QStringLiteral("key%1").arg(i), QVariantList{i, QStringLiteral("v%1").arg(i)});
    const QVariant value = QVariantMap{{QStringLiteral("numbers"), numbers},
                                       {QStringLiteral("texts"), texts},
                                       {QStringLiteral("wide"), wide},
                                       {QStringLiteral("empty"), QVariantMap()},
                                       {QStringLiteral("none"), QVariantList()}};

    const QByteArray bytes = written(value);
    ASSERT_TRUE(bytes.startsWith("bplist00"));
    const QVariant back = readBack(bytes);
    const QVariant expected = readBack(PropertyList::toData(value, PropertyList::Format::Binary));
    EXPECT_EQ(back, expected);
    const QVariantList backNumbers = back.toMap().value(QStringLiteral("numbers")).toList();
    ASSERT_EQ(backNumbers.size(), numbers.size());
    EXPECT_EQ(backNumbers.at(11).typeId(), QMetaType::ULongLong);
    EXPECT_EQ(backNumbers.at(12).toULongLong(), std::numeric_limits<quint64>::max());
    EXPECT_EQ(backNumbers.at(10).toLongLong(), std::numeric_limits<qint64>::min());
}

// Equal values are one object: a list of many records that share their keys
// grows by the records' own values only. Past 255 and 65,535 objects the
// references widen, and the list still reads.
TEST(BinaryPropertyListWriter, SharesEqualValuesAndWidensItsReferencesAsTheListGrows)
{
    for (const int records : {10, 200, 30000}) {
        QVariantList list;
        for (int i = 0; i < records; ++i)
            list.append(QVariantMap{{QStringLiteral("name"), QStringLiteral("same")},
                                    {QStringLiteral("flag"), i % 2 == 0},
                                    {QStringLiteral("id"), i}});
        const QByteArray bytes = written(list);
        EXPECT_EQ(readBack(bytes), QVariant(list)) << records;
        // Per record: the dictionary (1 + 6 references), its id (up to 3)
        // and its offset, at most 3 bytes each; the keys are written once.
        EXPECT_LT(bytes.size(), 100 + records * (1 + 6 * 3 + 3 + 3 + 3)) << records;
    }
}

// What has no binary form is refused with its reason, and nothing is
// written; the writer then starts afresh.
TEST(BinaryPropertyListWriter, RefusesWhatHasNoBinaryFormAndStartsAfresh)
{
    QString error;
    EXPECT_TRUE(written(QVariantList{QString::fromUtf16(u"a\0b", 3)}, &error).isEmpty());
    EXPECT_TRUE(error.contains(QStringLiteral("NUL"))) << error.toStdString();
    EXPECT_TRUE(written(QVariantMap{{QStringLiteral("k"), QVariant()}}, &error).isEmpty());
    EXPECT_FALSE(error.isEmpty());

    BinaryPropertyListWriter writer;
    (void)writer.string(QString::fromUtf16(u"x\0", 2));
    EXPECT_TRUE(writer.failed());
    EXPECT_TRUE(writer.finish(0).isEmpty());
    EXPECT_FALSE(writer.failed());
    EXPECT_EQ(readBack(writer.finish(writer.integer(5))), QVariant(qint64(5)));
}

// Streamed, a list reads back as the same list written whole: values made
// before the stream began are shared after it, short ones made after it too,
// and a long one met again is written again. A sink that fails, or more
// objects than were announced, end in a refusal with the reason.
TEST(BinaryPropertyListWriter, AStreamedListReadsAsTheListWrittenWhole)
{
    const auto record = [](int i) {
        return QVariantMap{{QStringLiteral("key shared by every record"), i % 3 == 0},
                           {QStringLiteral("number"), QVariant::fromValue(qint64(i / 4))},
                           {QStringLiteral("long"), QByteArray(100, char('a' + i % 2))},
                           {QStringLiteral("text"), QString::fromUtf8("caf\xC3\xA9 %1").arg(i % 50)}};
    };
    QVariantList records;
    for (int i = 0; i < 3000; ++i)
        records.append(record(i));
    const QVariantMap head{{QStringLiteral("key shared by every record"), QStringLiteral("before")}};

    QByteArray streamed;
    BinaryPropertyListWriter writer;
    const BinaryPropertyListWriter::Ref before = writer.value(head);
    writer.streamTo(
        [&streamed](const char* bytes, size_t size) {
            streamed.append(bytes, qsizetype(size));
            return true;
        },
        3000 * 9 + 10);
    std::vector<BinaryPropertyListWriter::Ref> refs;
    for (const QVariant& one : records)
        refs.push_back(writer.value(one));
    const BinaryPropertyListWriter::Ref list = writer.array(refs);
    const BinaryPropertyListWriter::Ref top =
        writer.dictionary({{writer.string(QStringLiteral("head")), before}, {writer.string(QStringLiteral("records")), list}});
    QString error;
    ASSERT_TRUE(writer.finishStreaming(top, &error)) << error.toStdString();
    const QVariantMap whole{{QStringLiteral("head"), head}, {QStringLiteral("records"), records}};
    EXPECT_EQ(readBack(streamed), *PropertyList::normalized(whole));
    // Keys were shared, the key made before the stream too; long values not.
    EXPECT_EQ(streamed.count("key shared by every record"), 1);
    EXPECT_EQ(streamed.count("number"), 1);
    EXPECT_EQ(streamed.count(QByteArray(100, 'b')), 1500);

    // The sink fails after its first piece; then far more objects than
    // announced: both refuse, and the writer starts afresh.
    int pieces = 0;
    writer.streamTo([&pieces](const char*, size_t) { return ++pieces == 1; }, 10'000'000);
    for (int i = 0; i < 20000; ++i)
        writer.value(QByteArray(100, char(i)));
    EXPECT_FALSE(writer.finishStreaming(writer.boolean(true), &error));
    EXPECT_TRUE(error.contains(QStringLiteral("could not be written"))) << error.toStdString();
    writer.streamTo([](const char*, size_t) { return true; }, 2);
    writer.boolean(true);
    writer.boolean(false);
    writer.integer(7);
    EXPECT_FALSE(writer.finishStreaming(0, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("more objects than announced"))) << error.toStdString();
    EXPECT_FALSE(written(QVariantMap{{QStringLiteral("a"), 1}}).isEmpty());
}
