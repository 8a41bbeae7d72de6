#include "platform/PropertyList.h"

#include "support/TestSupport.h"

#include <QDateTime>
#include <QFile>
#include <QPoint>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace fs = std::filesystem;
using platform::PropertyList;
using Format = PropertyList::Format;

namespace {

QDateTime utc(qint64 msecsSince1970) { return QDateTime::fromMSecsSinceEpoch(msecsSince1970, Qt::UTC); }

constexpr qint64 kMsecs2001 = 978307200000LL;

// Every mapped type, nested, with the values that are easy to get wrong.
QVariantMap sampleDocument()
{
    QVariantMap inner{
        {QStringLiteral("empty list"), QVariantList{}},
        {QStringLiteral("empty map"), QVariantMap{}},
        {QStringLiteral("empty text"), QString()},
        {QStringLiteral("empty data"), QByteArray()},
    };
    return {
        {QStringLiteral("text"), QStringLiteral("Grüße, 日本語, 😀 <&> \"quoted\"")},
        {QStringLiteral("ключ ✓"), QStringLiteral("unicode key")},
        {QStringLiteral("yes"), true},
        {QStringLiteral("no"), false},
        {QStringLiteral("zero"), qint64(0)},
        {QStringLiteral("minus one"), qint64(-1)},
        {QStringLiteral("min"), std::numeric_limits<qint64>::min()},
        {QStringLiteral("max"), std::numeric_limits<qint64>::max()},
        {QStringLiteral("above max"), quint64(9223372036854775808ULL)},
        {QStringLiteral("unsigned max"), std::numeric_limits<quint64>::max()},
        {QStringLiteral("tag"), qint64(100000000004LL)},
        {QStringLiteral("real"), 0.1},
        {QStringLiteral("negative real"), -2.5e-7},
        {QStringLiteral("huge real"), 1e300},
        {QStringLiteral("data"), QByteArray("\x00\x01\xff binary\n", 12)},
        {QStringLiteral("date"), utc(kMsecs2001 + 123456789000LL)},
        {QStringLiteral("reference date"), utc(kMsecs2001)},
        {QStringLiteral("before 1970"), utc(-86400000LL * 365 * 20)},
        {QStringLiteral("list"),
         QVariantList{qint64(1), QStringLiteral("two"), QVariantList{QVariantMap{{QStringLiteral("deep"), true}}}}},
        {QStringLiteral("inner"), inner},
    };
}

TEST(PropertyList, RoundTripsEveryTypeInBothFormats)
{
    for (Format format : {Format::Xml, Format::Binary}) {
        SCOPED_TRACE(format == Format::Xml ? "xml" : "binary");
        const QVariantMap doc = sampleDocument();
        QString error;
        const QByteArray data = PropertyList::toData(doc, format, &error);
        ASSERT_FALSE(data.isEmpty()) << error.toStdString();
        EXPECT_EQ(data.startsWith("bplist00"), format == Format::Binary);

        const auto back = PropertyList::fromData(data, &error);
        ASSERT_TRUE(back) << error.toStdString();
        ASSERT_EQ(back->typeId(), QMetaType::QVariantMap);
        const QVariantMap map = back->toMap();
        EXPECT_EQ(map.keys(), doc.keys());
        for (auto it = doc.cbegin(); it != doc.cend(); ++it) {
            SCOPED_TRACE(it.key().toStdString());
            EXPECT_EQ(map.value(it.key()).metaType(), it.value().metaType());
            EXPECT_EQ(map.value(it.key()), it.value());
        }
        // Signedness survives, not just the bits.
        EXPECT_EQ(map.value(QStringLiteral("minus one")).toLongLong(), -1);
        EXPECT_EQ(map.value(QStringLiteral("unsigned max")).toULongLong(), UINT64_MAX);
        EXPECT_EQ(map.value(QStringLiteral("date")).toDateTime().timeSpec(), Qt::UTC);
    }
}

TEST(PropertyList, DatePrecisionFollowsTheFormat)
{
    struct Case {
        qint64 msecsSince2001;
        qint64 binary; // read back from binary
        qint64 xml;    // read back from XML: whole seconds, rounded down
    };
    const Case cases[] = {
        {1500, 1500, 1000},
        {-1500, -1500, -2000},
        {-250, -250, -1000},
        {86400123, 86400123, 86400000},
        {-600000000999LL, -600000000999LL, -600000001000LL},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.msecsSince2001);
        const QVariantList doc{utc(kMsecs2001 + c.msecsSince2001)};
        for (Format format : {Format::Binary, Format::Xml}) {
            const auto back = PropertyList::fromData(PropertyList::toData(doc, format));
            ASSERT_TRUE(back);
            EXPECT_EQ(back->toList().value(0).toDateTime().toMSecsSinceEpoch() - kMsecs2001,
                      format == Format::Binary ? c.binary : c.xml);
        }
    }
    // Beyond libplist's 32-bit seconds (before 1933, after 2069): whole
    // seconds in both formats, as they are kept in memory too.
    const QDateTime far[] = {
        QDateTime(QDate(1925, 3, 4), QTime(5, 6, 7, 800), Qt::UTC),
        QDateTime(QDate(1000, 1, 1), QTime(0, 0), Qt::UTC),
        QDateTime(QDate(2100, 12, 31), QTime(23, 59, 59, 999), Qt::UTC),
        QDateTime(QDate(9999, 12, 31), QTime(23, 59, 59), Qt::UTC),
    };
    for (const QDateTime& date : far) {
        SCOPED_TRACE(date.toString(Qt::ISODateWithMs).toStdString());
        const QDateTime whole = date.addMSecs(-date.time().msec());
        EXPECT_EQ(PropertyList::normalized(date)->toDateTime(), whole);
        for (Format format : {Format::Binary, Format::Xml}) {
            QString error;
            const auto back = PropertyList::fromData(PropertyList::toData(QVariantList{date}, format), &error);
            ASSERT_TRUE(back) << error.toStdString();
            EXPECT_EQ(back->toList().value(0).toDateTime(), whole);
        }
    }

    // A date in another time zone is the same instant, in UTC.
    const QDateTime local = QDateTime(QDate(2020, 5, 1), QTime(12, 0), Qt::OffsetFromUTC, 7200);
    const auto back = PropertyList::fromData(PropertyList::toData(QVariantList{local}, Format::Binary));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->toList().value(0).toDateTime(), local);
    EXPECT_EQ(back->toList().value(0).toDateTime().timeSpec(), Qt::UTC);
}

TEST(PropertyList, AcceptsQtConvenienceTypesAndReadsThemBackCanonically)
{
    const QVariantMap in{
        {QStringLiteral("strings"), QStringList{QStringLiteral("a"), QStringLiteral("b")}},
        {QStringLiteral("int"), int(-7)},
        {QStringLiteral("uint"), uint(4000000000u)},
        {QStringLiteral("long"), QVariant::fromValue(long(-3))},
        {QStringLiteral("short"), short(12)},
        {QStringLiteral("float"), 0.5f},
        {QStringLiteral("ulonglong small"), quint64(5)},
    };
    const QVariantMap expected{
        {QStringLiteral("strings"), QVariantList{QStringLiteral("a"), QStringLiteral("b")}},
        {QStringLiteral("int"), qint64(-7)},
        {QStringLiteral("uint"), qint64(4000000000LL)},
        {QStringLiteral("long"), qint64(-3)},
        {QStringLiteral("short"), qint64(12)},
        {QStringLiteral("float"), 0.5},
        {QStringLiteral("ulonglong small"), qint64(5)},
    };
    const auto normal = PropertyList::normalized(in);
    ASSERT_TRUE(normal);
    for (Format format : {Format::Xml, Format::Binary}) {
        const auto back = PropertyList::fromData(PropertyList::toData(in, format));
        ASSERT_TRUE(back);
        for (const QVariant& map : {*back, *normal}) {
            for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
                SCOPED_TRACE(it.key().toStdString());
                EXPECT_EQ(map.toMap().value(it.key()).metaType(), it.value().metaType());
                EXPECT_EQ(map.toMap().value(it.key()), it.value());
            }
        }
    }
}

TEST(PropertyList, ValuesWithoutAPropertyListFormAreRefused)
{
    const QDateTime tooLate(QDate(10000, 1, 1), QTime(0, 0), Qt::UTC);
    const QDateTime tooEarly(QDate(999, 12, 31), QTime(0, 0), Qt::UTC);
    const QVariant refused[] = {
        QVariant(),
        QVariant(QPoint(1, 2)),
        QVariant(QString::fromUtf16(u"cut\0short", 9)),
        QVariant(QDateTime()),
        QVariant(tooLate),
        QVariant(tooEarly),
        QVariant(QVariantMap{{QStringLiteral("nested"), QVariantList{QVariant()}}}),
        QVariant(QVariantMap{{QString(QChar(u'\0')), 1}}),
    };
    for (const QVariant& value : refused) {
        SCOPED_TRACE(value.typeName() ? value.typeName() : "invalid");
        for (Format format : {Format::Xml, Format::Binary}) {
            QString error;
            EXPECT_TRUE(PropertyList::toData(value, format, &error).isEmpty());
            EXPECT_FALSE(error.isEmpty());
        }
        EXPECT_FALSE(PropertyList::normalized(value));
    }
}

TEST(PropertyList, ReadsXmlWrittenByOtherPrograms)
{
    const QByteArray xml = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
	<key>Major Version</key><integer>1</integer>
	<key>Negative</key><integer>-3</integer>
	<key>Big</key><integer>18446744073709551615</integer>
	<key>Date</key><date>2019-03-04T05:06:07Z</date>
	<key>Release Date</key><date>1925-03-04T00:00:00Z</date>
	<key>Show Content Ratings</key><true/>
	<key>Off</key><false/>
	<key>Rate</key><real>44100.5</real>
	<key>Blob</key><data>AAEC</data>
	<key>Location</key><string>file:///home/me/M%C3%BCsic/a&amp;b.mp3</string>
	<key>Tracks</key><dict/>
	<key>Playlists</key><array/>
</dict>
</plist>
)";
    QString error;
    const auto value = PropertyList::fromData(xml, &error);
    ASSERT_TRUE(value) << error.toStdString();
    const QVariantMap map = value->toMap();
    EXPECT_EQ(map.value(QStringLiteral("Major Version")), QVariant(qint64(1)));
    EXPECT_EQ(map.value(QStringLiteral("Negative")), QVariant(qint64(-3)));
    EXPECT_EQ(map.value(QStringLiteral("Big")), QVariant(std::numeric_limits<quint64>::max()));
    EXPECT_EQ(map.value(QStringLiteral("Date")).toDateTime(),
              QDateTime(QDate(2019, 3, 4), QTime(5, 6, 7), Qt::UTC));
    EXPECT_EQ(map.value(QStringLiteral("Release Date")).toDateTime(),
              QDateTime(QDate(1925, 3, 4), QTime(0, 0), Qt::UTC));
    EXPECT_EQ(map.value(QStringLiteral("Show Content Ratings")), QVariant(true));
    EXPECT_EQ(map.value(QStringLiteral("Off")), QVariant(false));
    EXPECT_EQ(map.value(QStringLiteral("Rate")), QVariant(44100.5));
    EXPECT_EQ(map.value(QStringLiteral("Blob")), QVariant(QByteArray("\x00\x01\x02", 3)));
    EXPECT_EQ(map.value(QStringLiteral("Location")).toString(),
              QStringLiteral("file:///home/me/M%C3%BCsic/a&b.mp3"));
    EXPECT_EQ(map.value(QStringLiteral("Tracks")).typeId(), QMetaType::QVariantMap);
    EXPECT_EQ(map.value(QStringLiteral("Playlists")).typeId(), QMetaType::QVariantList);
}

TEST(PropertyList, ScalarRootsAreAllowed)
{
    for (const QVariant& value : {QVariant(QStringLiteral("alone")), QVariant(qint64(42)), QVariant(true)}) {
        for (Format format : {Format::Xml, Format::Binary}) {
            const auto back = PropertyList::fromData(PropertyList::toData(value, format));
            ASSERT_TRUE(back);
            EXPECT_EQ(*back, value);
        }
    }
}

TEST(PropertyList, FilesRoundTripAndReportTheirPath)
{
    kztest::TempDir dir;
    const fs::path file = dir / "saved.plist";
    QString error;
    ASSERT_TRUE(PropertyList::writeFile(file, sampleDocument(), Format::Binary, &error)) << error.toStdString();
    const auto dict = PropertyList::readDictionary(file, &error);
    ASSERT_TRUE(dict) << error.toStdString();
    EXPECT_EQ(*dict, sampleDocument());

    // A failed write keeps the old file.
    EXPECT_FALSE(PropertyList::writeFile(file, QVariant(QPoint()), Format::Binary, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("saved.plist"))) << error.toStdString();
    EXPECT_TRUE(PropertyList::readDictionary(file));

    struct Case {
        const char* name;
        fs::path path;
        const char* expect;
    };
    const fs::path arrayFile = dir / "array.plist";
    ASSERT_TRUE(PropertyList::writeFile(arrayFile, QVariantList{1, 2}, Format::Xml));
    const Case failures[] = {
        {"missing", dir / "nope.plist", "No such file"},
        {"folder", dir.mkdir("folder.plist"), "not a regular file"},
        {"empty", dir.write("empty.plist", ""), "empty"},
        {"garbage", dir.write("garbage.plist", "hello, world"), "not a property list"},
        {"truncated", dir.write("truncated.plist", "<?xml version=\"1.0\"?><plist><dict><key>a</key>"), "XML"},
        {"wrong root", arrayFile, "not a dictionary"},
    };
    for (const Case& c : failures) {
        SCOPED_TRACE(c.name);
        error.clear();
        EXPECT_FALSE(PropertyList::readDictionary(c.path, &error));
        EXPECT_TRUE(error.contains(QFile::decodeName(QByteArray(c.path.filename().c_str()))))
            << error.toStdString();
        EXPECT_TRUE(error.contains(QString::fromLatin1(c.expect))) << error.toStdString();
    }
    EXPECT_TRUE(PropertyList::readFile(arrayFile)); // any root for readFile
}

} // namespace
