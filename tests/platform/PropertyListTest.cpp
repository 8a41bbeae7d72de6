#include "platform/PropertyList.h"

#include "support/TestSupport.h"

#include <QDateTime>
#include <QFile>
#include <QPoint>
#include <QStringList>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <limits>
#include <random>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using platform::PropertyList;
using Format = PropertyList::Format;

namespace {

const Format kFormats[] = {Format::Xml, Format::Binary};
constexpr qint64 kMsecs2001 = 978307200000LL;

QDateTime utc(qint64 msecsSince1970) { return QDateTime::fromMSecsSinceEpoch(msecsSince1970, Qt::UTC); }

// Every mapped type, nested, with the values that are easy to get wrong.
QVariantMap sampleDocument()
{
    return {
        {QStringLiteral("text"), QStringLiteral("Grüße, 日本語, 😀 <&> \"quoted\"")},
        {QStringLiteral("ключ ✓"), QStringLiteral("unicode key")},
        {QStringLiteral("yes"), true},
        {QStringLiteral("no"), false},
        {QStringLiteral("minus one"), qint64(-1)},
        {QStringLiteral("min"), std::numeric_limits<qint64>::min()},
        {QStringLiteral("max"), std::numeric_limits<qint64>::max()},
        {QStringLiteral("above max"), quint64(9223372036854775808ULL)},
        {QStringLiteral("unsigned max"), std::numeric_limits<quint64>::max()},
        {QStringLiteral("real"), 0.1},
        {QStringLiteral("huge real"), 1e300},
        {QStringLiteral("data"), QByteArray("\x00\x01\xff binary\n", 12)},
        {QStringLiteral("date"), utc(kMsecs2001 + 123456789000LL)},
        {QStringLiteral("before 1970"), utc(-86400000LL * 365 * 20)},
        {QStringLiteral("list"),
         QVariantList{qint64(1), QStringLiteral("two"), QVariantList{QVariantMap{{QStringLiteral("deep"), true}}}}},
        {QStringLiteral("empties"),
         QVariantMap{{QStringLiteral("list"), QVariantList{}}, {QStringLiteral("map"), QVariantMap{}},
                     {QStringLiteral("text"), QString()}, {QStringLiteral("data"), QByteArray()}}},
    };
}

void expectSameTyped(const QVariantMap& actual, const QVariantMap& expected)
{
    EXPECT_EQ(actual.keys(), expected.keys());
    for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
        EXPECT_EQ(actual.value(it.key()).metaType(), it.value().metaType()) << it.key().toStdString();
        EXPECT_EQ(actual.value(it.key()), it.value()) << it.key().toStdString();
    }
}

void appendBigEndian(QByteArray* out, quint64 value, int bytes)
{
    for (int i = bytes - 1; i >= 0; --i)
        out->append(char((value >> (8 * i)) & 0xff));
}

// A binary list from raw objects, for structures no writer would produce.
QByteArray binaryList(const std::vector<QByteArray>& objects, quint64 top = 0, int refSize = 1)
{
    QByteArray out("bplist00");
    std::vector<quint64> offsets;
    for (const QByteArray& object : objects) {
        offsets.push_back(quint64(out.size()));
        out += object;
    }
    const quint64 tableOffset = quint64(out.size());
    const int offsetSize = tableOffset > 0xffff ? 4 : tableOffset > 0xff ? 2 : 1;
    for (quint64 offset : offsets)
        appendBigEndian(&out, offset, offsetSize);
    out += QByteArray(6, '\0');
    out.append(char(offsetSize));
    out.append(char(refSize));
    appendBigEndian(&out, objects.size(), 8);
    appendBigEndian(&out, top, 8);
    appendBigEndian(&out, tableOffset, 8);
    return out;
}

QByteArray arrayOf(std::initializer_list<quint64> refs, int refSize = 1)
{
    QByteArray object(1, char(0xA0 | int(refs.size())));
    for (quint64 ref : refs)
        appendBigEndian(&object, ref, refSize);
    return object;
}

// A chain of `length` arrays, each referencing the next one `fanOut` times.
QByteArray chain(quint64 length, int fanOut, int refSize = 1)
{
    std::vector<QByteArray> objects;
    for (quint64 i = 0; i < length; ++i)
        objects.push_back(fanOut == 1 ? arrayOf({i + 1}, refSize) : arrayOf({i + 1, i + 1}, refSize));
    objects.emplace_back("\x10\x00", 2);
    return binaryList(objects, 0, refSize);
}

QByteArray bytes(const char* raw, int size) { return QByteArray(raw, size); }

void expectRejected(const QByteArray& data, const char* why)
{
    QString error;
    EXPECT_FALSE(PropertyList::fromData(data, &error)) << why;
    EXPECT_FALSE(error.isEmpty()) << why;
}

QVariant roundTrip(const QVariant& value, Format format)
{
    QString error;
    const auto back = PropertyList::fromData(PropertyList::toData(value, format, &error), &error);
    EXPECT_TRUE(back) << error.toStdString();
    return back.value_or(QVariant());
}

TEST(PropertyList, RoundTripsEveryTypeInBothFormats)
{
    for (Format format : kFormats) {
        SCOPED_TRACE(format == Format::Xml ? "xml" : "binary");
        EXPECT_EQ(PropertyList::toData(sampleDocument(), format).startsWith("bplist00"), format == Format::Binary);
        const QVariant back = roundTrip(sampleDocument(), format);
        ASSERT_EQ(back.typeId(), QMetaType::QVariantMap);
        expectSameTyped(back.toMap(), sampleDocument());
        EXPECT_EQ(back.toMap().value(QStringLiteral("date")).toDateTime().timeSpec(), Qt::UTC);
        for (const QVariant& scalar : {QVariant(QStringLiteral("alone")), QVariant(qint64(42)), QVariant(true)})
            EXPECT_EQ(roundTrip(scalar, format), scalar);
    }
}

// A leading U+FEFF is a character of a text or a key, which both formats
// keep: the XML reader that streams a list keeps it, and a list must mean
// the same whichever reader reads it. A text of one-byte characters that
// begins with the mark's bytes reads as the XML text of the same bytes.
TEST(PropertyList, ALeadingByteOrderMarkIsPartOfTheText)
{
    const QString mark(QChar(0xFEFF));
    const QVariantMap marked{
        {QString(mark + QStringLiteral("k") + mark), QString(mark + QStringLiteral("v"))},
        {QStringLiteral("k"), QVariantList{QString(mark + mark), mark, QStringLiteral("\uFFFE"), QStringLiteral("x\uFEFF")}}};
    for (Format format : kFormats) {
        SCOPED_TRACE(format == Format::Xml ? "xml" : "binary");
        EXPECT_EQ(roundTrip(marked, format), QVariant(marked));
    }
    const QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><dict>"
                           "<key>\xEF\xBB\xBFk</key><string>\xEF\xBB\xBF\xEF\xBB\xBFv</string></dict></plist>";
    const auto read = PropertyList::fromData(xml);
    ASSERT_TRUE(read);
    EXPECT_EQ(*read,
              QVariant(QVariantMap{{QString(mark + QStringLiteral("k")), QString(mark + mark + QStringLiteral("v"))}}));
}

TEST(PropertyList, QtConvenienceTypesAreWrittenAndReadBackCanonically)
{
    const QVariantMap in{
        {QStringLiteral("strings"), QStringList{QStringLiteral("a"), QStringLiteral("b")}},
        {QStringLiteral("uint"), uint(4000000000u)},
        {QStringLiteral("long"), QVariant::fromValue(long(-3))},
        {QStringLiteral("float"), 0.5f},
        {QStringLiteral("ulonglong small"), quint64(5)},
    };
    const QVariantMap expected{
        {QStringLiteral("strings"), QVariantList{QStringLiteral("a"), QStringLiteral("b")}},
        {QStringLiteral("uint"), qint64(4000000000LL)},
        {QStringLiteral("long"), qint64(-3)},
        {QStringLiteral("float"), 0.5},
        {QStringLiteral("ulonglong small"), qint64(5)},
    };
    expectSameTyped(PropertyList::normalized(in).value_or(QVariant()).toMap(), expected);
    for (Format format : kFormats)
        expectSameTyped(roundTrip(in, format).toMap(), expected);
}

TEST(PropertyList, DatePrecisionFollowsTheFormat)
{
    // Milliseconds after 2001, and as read back from binary and from XML
    // (whole seconds, rounded down).
    const qint64 cases[][3] = {{1500, 1500, 1000}, {-250, -250, -1000}, {-600000000999LL, -600000000999LL, -600000001000LL}};
    for (const auto& c : cases) {
        for (Format format : kFormats) {
            const QDateTime back = roundTrip(QVariantList{utc(kMsecs2001 + c[0])}, format).toList().value(0).toDateTime();
            EXPECT_EQ(back.toMSecsSinceEpoch() - kMsecs2001, format == Format::Binary ? c[1] : c[2]) << c[0];
        }
    }
    // Beyond libplist's 32-bit seconds (before 1933, after 2069): whole
    // seconds in both formats, as they are kept in memory too.
    for (const QDateTime& date : {QDateTime(QDate(1925, 3, 4), QTime(5, 6, 7, 800), Qt::UTC),
                                  QDateTime(QDate(1000, 1, 1), QTime(0, 0), Qt::UTC),
                                  QDateTime(QDate(9999, 12, 31), QTime(23, 59, 59, 999), Qt::UTC)}) {
        const QDateTime whole = date.addMSecs(-date.time().msec());
        EXPECT_EQ(PropertyList::normalized(date)->toDateTime(), whole);
        for (Format format : kFormats)
            EXPECT_EQ(roundTrip(QVariantList{date}, format).toList().value(0).toDateTime(), whole) << whole.toString(Qt::ISODate).toStdString();
    }
    // A date in another time zone is the same instant, in UTC.
    const QDateTime local(QDate(2020, 5, 1), QTime(12, 0), Qt::OffsetFromUTC, 7200);
    const QDateTime back = roundTrip(QVariantList{local}, Format::Binary).toList().value(0).toDateTime();
    EXPECT_EQ(back, local);
    EXPECT_EQ(back.timeSpec(), Qt::UTC);
}

TEST(PropertyList, ValuesWithoutAPropertyListFormAreRefused)
{
    const QVariant refused[] = {
        QVariant(),
        QVariant(QPoint(1, 2)),
        QVariant(QString::fromUtf16(u"cut\0short", 9)),
        QVariant(QDateTime()),
        QVariant(QDateTime(QDate(10000, 1, 1), QTime(0, 0), Qt::UTC)),
        QVariant(QDateTime(QDate(999, 12, 31), QTime(0, 0), Qt::UTC)),
        QVariant(QVariantMap{{QStringLiteral("nested"), QVariantList{QVariant()}}}),
        QVariant(QVariantMap{{QString(QChar(u'\0')), 1}}),
    };
    for (const QVariant& value : refused) {
        for (Format format : kFormats) {
            QString error;
            EXPECT_TRUE(PropertyList::toData(value, format, &error).isEmpty()) << value.typeName();
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
	<key>Major Version</key><integer>-3</integer>
	<key>Big</key><integer>18446744073709551615</integer>
	<key>Release Date</key><date>1925-03-04T05:06:07Z</date>
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
    expectSameTyped(value->toMap(),
                    {{QStringLiteral("Major Version"), qint64(-3)},
                     {QStringLiteral("Big"), std::numeric_limits<quint64>::max()},
                     {QStringLiteral("Release Date"), QDateTime(QDate(1925, 3, 4), QTime(5, 6, 7), Qt::UTC)},
                     {QStringLiteral("Rate"), 44100.5},
                     {QStringLiteral("Blob"), QByteArray("\x00\x01\x02", 3)},
                     {QStringLiteral("Location"), QStringLiteral("file:///home/me/M%C3%BCsic/a&b.mp3")},
                     {QStringLiteral("Tracks"), QVariantMap()},
                     {QStringLiteral("Playlists"), QVariantList()}});
}

TEST(PropertyList, FilesRoundTripAndDamagedOnesNameTheirPath)
{
    kztest::TempDir dir;
    const fs::path file = dir / "saved.plist";
    QString error;
    ASSERT_TRUE(PropertyList::writeFile(file, sampleDocument(), Format::Binary, &error)) << error.toStdString();
    EXPECT_EQ(PropertyList::readDictionary(file, &error), sampleDocument()) << error.toStdString();

    // A failed write keeps the old file.
    EXPECT_FALSE(PropertyList::writeFile(file, QVariant(QPoint()), Format::Binary, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("saved.plist"))) << error.toStdString();
    EXPECT_TRUE(PropertyList::readDictionary(file));

    const fs::path arrayFile = dir / "array.plist";
    ASSERT_TRUE(PropertyList::writeFile(arrayFile, QVariantList{1, 2}, Format::Xml));
    EXPECT_TRUE(PropertyList::readFile(arrayFile)); // any root for readFile
    const std::pair<fs::path, const char*> failures[] = {
        {dir / "nope.plist", "No such file"},
        {dir.mkdir("folder.plist"), "not a regular file"},
        {dir.write("empty.plist", ""), "empty"},
        {dir.write("garbage.plist", "hello, world"), "not a property list"},
        {dir.write("truncated.plist", "<?xml version=\"1.0\"?><plist><dict><key>a</key>"), "XML"},
        {arrayFile, "not a dictionary"},
    };
    for (const auto& [path, expect] : failures) {
        error.clear();
        EXPECT_FALSE(PropertyList::readDictionary(path, &error));
        EXPECT_TRUE(error.contains(QFile::decodeName(QByteArray(path.filename().c_str())))) << error.toStdString();
        EXPECT_TRUE(error.contains(QString::fromLatin1(expect))) << error.toStdString();
    }
}

// Damaged and hostile input: every one must answer an error or a value,
// never crash, hang or exhaust memory. Worth running under -DKZ_SANITIZE=ON.

TEST(PropertyListHostile, BinaryStructuresThatWouldHurtTheParserAreRefused)
{
    const QByteArray int0 = bytes("\x10\x00", 2), dict1 = bytes("\xD1\x01\x02", 3);
    const std::pair<QByteArray, const char*> rejected[] = {
        {binaryList({arrayOf({0})}), "array containing itself"},
        {binaryList({arrayOf({1}), arrayOf({0})}), "cycle through two arrays"},
        {binaryList({arrayOf({5})}), "reference past the last object"},
        {binaryList({arrayOf({1})}, 3), "top object past the last object"},
        {binaryList({dict1, int0, int0}), "dictionary key not a string"},
        // libplist asserts (aborts) on a key with a NUL, in either encoding.
        {binaryList({dict1, bytes("\x52k\x00", 3), int0}), "ASCII key with a NUL"},
        {binaryList({dict1, bytes("\x61\x00\x00", 3), int0}), "UTF-16 key with a NUL"},
        {binaryList({bytes("\x5F\x10\xFF" "abc", 6)}), "string longer than the data"},
        {binaryList({bytes("\x61\xD8\x00", 3)}), "unpaired UTF-16 surrogate"},
        {binaryList({bytes("\x33\x7F\xF8\x00\x00\x00\x00\x00\x00", 9)}), "date that is NaN"},
        {binaryList({bytes("\x33\x7F\xEF\xFF\xFF\xFF\xFF\xFF\xFF", 9)}), "date beyond any calendar"},
        {binaryList({bytes("\x80\x01", 2)}), "keyed-archive UID"},
        {binaryList({bytes("\x00", 1)}), "null object"},
        {binaryList({bytes("\x17", 1)}), "integer of 128 bytes"},
        // 60 small objects that expand to 2^60 nodes if every reference is
        // parsed on its own.
        {chain(60, 2), "shared-reference bomb"},
        {chain(5000, 1, 2), "nesting deeper than any stack should recurse"},
    };
    for (const auto& [data, why] : rejected)
        expectRejected(data, why);

    // The same builder makes lists that are accepted, up to moderate depth and sharing.
    EXPECT_TRUE(PropertyList::fromData(binaryList({dict1, bytes("\x51k", 2), int0})));
    EXPECT_TRUE(PropertyList::fromData(chain(100, 1)));
    EXPECT_TRUE(PropertyList::fromData(binaryList({arrayOf({1, 1, 1}), arrayOf({2, 2}), int0})));
    // 2^31 seconds after 2001: beyond libplist's 32-bit accessor, still a date.
    const auto far = PropertyList::fromData(binaryList({bytes("\x33\x41\xE0\x00\x00\x00\x00\x00\x00", 9)}));
    ASSERT_TRUE(far);
    EXPECT_EQ(far->toDateTime().toSecsSinceEpoch(), 978307200LL + 2147483648LL);
}

TEST(PropertyListHostile, DamagedTrailersAreRefused)
{
    const QByteArray good = PropertyList::toData(sampleDocument(), Format::Binary);
    ASSERT_FALSE(good.isEmpty());
    const qsizetype trailer = good.size() - 32;
    struct Patch {
        const char* why;
        qsizetype at;
        QByteArray bytes;
    };
    const Patch patches[] = {
        {"offset size 0", trailer + 6, QByteArray(1, '\0')},
        {"offset size 9", trailer + 6, QByteArray(1, '\x09')},
        {"reference size 0", trailer + 7, QByteArray(1, '\0')},
        {"no objects", trailer + 8, QByteArray(8, '\0')},
        {"huge object count", trailer + 8, QByteArray(8, '\x7f')},
        {"top beyond objects", trailer + 16, QByteArray(8, '\x7f')},
        {"table offset inside header", trailer + 24, QByteArray(7, '\0') + QByteArray(1, '\x02')},
        {"table offset beyond data", trailer + 24, QByteArray(8, '\x7f')},
    };
    for (const Patch& p : patches)
        expectRejected(QByteArray(good).replace(p.at, p.bytes.size(), p.bytes), p.why);
    expectRejected(QByteArray("bplist00"), "header only");
    expectRejected(QByteArray("bplist15") + good.mid(8), "other binary version");
}

TEST(PropertyListHostile, EveryTruncationIsAnErrorNotACrash)
{
    for (Format format : {Format::Binary, Format::Xml}) {
        const QByteArray good = PropertyList::toData(sampleDocument(), format);
        ASSERT_TRUE(PropertyList::fromData(good));
        for (qsizetype length = 0; length < good.size(); ++length) {
            QString error;
            const auto value = PropertyList::fromData(good.left(length), &error);
            // A binary list without its trailer cannot be whole; XML may
            // still parse when only trailing white space was cut.
            if (format == Format::Binary || length < good.size() - 16) {
                EXPECT_FALSE(value) << "length " << length;
            }
            EXPECT_TRUE(value || !error.isEmpty());
        }
    }
}

TEST(PropertyListHostile, RandomBytesAndMutationsNeverCrash)
{
    std::mt19937 random(20240611);
    for (int round = 0; round < 2000; ++round) {
        QByteArray noise(int(random() % 200), '\0');
        for (char& c : noise)
            c = char(random() & 0xff);
        PropertyList::fromData(noise);
        PropertyList::fromData("bplist00" + noise);
        PropertyList::fromData("<?xml version=\"1.0\"?><plist version=\"1.0\">" + noise);
    }
    // Small changes to valid lists reach far deeper into the parsers than
    // noise does.
    for (Format format : {Format::Binary, Format::Xml}) {
        const QByteArray good = PropertyList::toData(sampleDocument(), format);
        for (int round = 0; round < 3000; ++round) {
            QByteArray bad = good;
            for (int e = 1 + int(random() % 4); e > 0; --e)
                bad[qsizetype(random() % quint32(bad.size()))] = char(random() & 0xff);
            QString error;
            EXPECT_TRUE(PropertyList::fromData(bad, &error) || !error.isEmpty());
        }
    }
}

TEST(PropertyListHostile, DeeplyNestedXmlIsRefused)
{
    const QByteArray head("<?xml version=\"1.0\"?><plist version=\"1.0\">");
    expectRejected(head + QByteArray("<array>").repeated(100000), "unterminated deep nesting");
    expectRejected(head + QByteArray("<array>").repeated(2000) + QByteArray("</array>").repeated(2000) + "</plist>",
                   "balanced deep nesting");
    EXPECT_TRUE(PropertyList::fromData(head + QByteArray("<dict><key>k</key>").repeated(50) + "<array/>" +
                                       QByteArray("</dict>").repeated(50) + "</plist>"));
}

// libplist decodes escapes at a cost of the text's length per escape, so a
// list made of them would hold the program for minutes; one of that size
// made of real texts, escapes and all, is read.
TEST(PropertyListHostile, TextsFullOfEscapesAreRefusedBeforeTheParserSeesThem)
{
    const QByteArray head("<?xml version=\"1.0\"?><plist version=\"1.0\">");
    const auto rejectedAsEscapes = [](const QByteArray& data, const char* why) {
        QString error;
        EXPECT_FALSE(PropertyList::fromData(data, &error)) << why;
        EXPECT_TRUE(error.contains(QStringLiteral("escaped characters"))) << why << ": " << error.toStdString();
    };
    const int sixMegabytes = 6 * 1024 * 1024;
    rejectedAsEscapes(head + "<string>" + QByteArray("&amp;").repeated(sixMegabytes / 5) + "</string></plist>",
                      "one string of escapes");
    rejectedAsEscapes(head + "<dict><key>" + QByteArray("&#38;").repeated(sixMegabytes / 5) +
                          "</key><true/></dict></plist>",
                      "one key of escapes");
    // A '>' needs no escape in text, so it must not end what is counted.
    rejectedAsEscapes(head + "<string>" + QByteArray("&lt;>").repeated(sixMegabytes / 5) + "</string></plist>",
                      "escapes between bare '>'");
    // Many strings of a megabyte each, every one below a single string's
    // share, still add up.
    rejectedAsEscapes(head + "<array>" +
                          QByteArray("<string>" + QByteArray("a&amp;").repeated(1024 * 1024 / 6 / 8) + "</string>")
                              .repeated(48) +
                          "</array></plist>",
                      "many long strings");

    QByteArray library = head + "<array>";
    while (library.size() < sixMegabytes)
        library += "<string>Tom &amp; Jerry &lt;live&gt; &#38; more</string>";
    library += "</array></plist>";
    const auto read = PropertyList::fromData(library);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->toList().constFirst().toString(), QStringLiteral("Tom & Jerry <live> & more"));
}

// libplist checks each key of a dictionary against the ones before it: a
// list packed with bare keys would hold the program for as long as it likes
// (800,000 keys take minutes). Keys are weighed against the list's size, so
// as many keys each carrying what a real track does are read.
TEST(PropertyListHostile, DictionariesPackedWithKeysAreRefusedBeforeTheParserSeesThem)
{
    const QByteArray head("<?xml version=\"1.0\"?><plist version=\"1.0\">");
    const auto dictionary = [&](int keys, const QByteArray& value) -> QByteArray {
        QByteArray xml = head + "<dict>";
        for (int k = 0; k < keys; ++k)
            xml += "<key>" + QByteArray::number(k) + "</key>" + value;
        return xml + "</dict></plist>";
    };
    const auto rejectedAsKeys = [](const QByteArray& data, const char* why) {
        QString error;
        EXPECT_FALSE(PropertyList::fromData(data, &error)) << why;
        EXPECT_TRUE(error.contains(QStringLiteral("too many keys"))) << why << ": " << error.toStdString();
    };
    rejectedAsKeys(dictionary(400000, "<true/>"), "one dictionary of bare keys");
    rejectedAsKeys(head + "<array>" + dictionary(60000, "<true/>").mid(head.size()).chopped(8) + "</array></plist>",
                   "bare keys in a dictionary inside an array");

    // A track's worth of bytes on each key, and the same number of keys in
    // small dictionaries, are read.
    const QByteArray track = "<dict><key>Name</key><string>" + QByteArray(300, 'x') + "</string></dict>";
    const auto tracks = PropertyList::fromData(dictionary(60000, track));
    ASSERT_TRUE(tracks);
    EXPECT_EQ(tracks->toMap().size(), 60000);
    QByteArray many = head + "<array>";
    for (int d = 0; d < 600; ++d)
        many += dictionary(100, "<true/>").mid(head.size()).chopped(8);
    EXPECT_TRUE(PropertyList::fromData(many + "</array></plist>"));
}

// An XML list of very many tiny values would cost libplist and the values
// made of it some 15 to 20 times its size: refused, with its count, before
// libplist builds anything. A real list of the same size, whose texts take
// its bytes, is read; so is a dense one of a music library's kind, which is
// allowed more.
TEST(PropertyListHostile, ListsOfManyTinyValuesAreRefusedByWhatTheyWouldCost)
{
    const QByteArray head("<?xml version=\"1.0\"?><plist version=\"1.0\"><array>");
    const QByteArray tiny = head + QByteArray("<true/>").repeated(1'500'000) + "</array></plist>";
    QString error;
    EXPECT_FALSE(PropertyList::fromData(tiny, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("too many values for its size"))
                && error.contains(QStringLiteral("1500001 values")))
        << error.toStdString();

    QByteArray real = head;
    while (real.size() < tiny.size())
        real += "<dict><key>oldPosition</key><string>/home/someone/Pictures/" + QByteArray(60, 'p')
            + "</string><key>currPosition</key><data>" + QByteArray(400, 'A') + "</data></dict>";
    const auto read = PropertyList::fromData(real + "</array></plist>", &error);
    ASSERT_TRUE(read) << error.toStdString();

    QByteArray dense = head;
    while (dense.size() < tiny.size())
        dense += "<dict><key>Track ID</key><integer>1</integer><key>Name</key><string>a song</string></dict>";
    dense += "</array></plist>";
    EXPECT_FALSE(PropertyList::fromData(dense));
    EXPECT_TRUE(PropertyList::fromData(dense, &error, PropertyList::kLibraryExportCost)) << error.toStdString();
}

// The checks before libplist must read the XML as libplist does: a tag
// hidden in a comment, a CDATA section, a processing instruction, a DOCTYPE
// or a quoted attribute closes nothing. Counted as a tag, it let through a
// tree nested hundreds of thousands deep, which libplist frees by recursion:
// the stack overflows. Run in a child process, so a crash fails the test.
TEST(PropertyListHostile, NestingHiddenFromTheCountIsStillRefused)
{
    const QByteArray head("<?xml version=\"1.0\"?><plist version=\"1.0\">");
    // Left open, as found, and closed, so that libplist would read it whole.
    const auto refusedAsDeep = [&](const QByteArray& level, const char* why) {
        const int levels = 200000;
        const QByteArray open = head + level.repeated(levels);
        const QByteArray closed = open + QByteArray("</array>").repeated(levels) + "</plist>";
        for (const QByteArray* xml : {&open, &closed}) {
            QString error;
            EXPECT_FALSE(PropertyList::fromData(*xml, &error)) << why;
            EXPECT_TRUE(error.contains(QStringLiteral("nested too deeply"))) << why << ": " << error.toStdString();
        }
    };
    // What libplist reads past, the check reads past too, and what libplist
    // refuses the check refuses before libplist builds anything.
    const QByteArray benign = R"(<?xml version="1.0" encoding="UTF-8"?>
<!-- a comment <dict> before the list -->
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd" [
  <!ENTITY x "</dict>">
]>
<plist version="1.0" note="a > b">
<dict>
	<!-- <key>hidden</key><array> -->
	<key>text</key><string>a<!-- </string> -->b<![CDATA[<&amp;]]>c</string>
	<?pi </dict> ?>
	<key>list</key><array><integer>1</integer><!-- </array> --><integer>2</integer></array>
</dict>
</plist>
)";
    QString error;
    const auto value = PropertyList::fromData(benign, &error);
    ASSERT_TRUE(value) << error.toStdString();
    expectSameTyped(value->toMap(), {{QStringLiteral("text"), QStringLiteral("ab<&amp;c")},
                                     {QStringLiteral("list"), QVariantList{qint64(1), qint64(2)}}});
    expectRejected(head + "<array><!-- </array></plist>", "comment never ended");
    expectRejected(head + "<array><string><![CDATA[ x </string></array></plist>", "CDATA never ended");
    expectRejected(head + "<dict><true/></dict></plist>", "value without a key");
    expectRejected(head + "<array><foo/></array></plist>", "unknown element");
    expectRejected(head + "<array>text</array></plist>", "text between elements");
    expectRejected(head + QByteArray("<array><string>a</string\0></array></plist>", 42), "a NUL");
    // libplist stops at the end of the top container and reads no further.
    EXPECT_TRUE(PropertyList::fromData(head + "<array></array><!-- never ended"));

    kztest::expectCleanRunInChild([&] {
        refusedAsDeep("<array><!--</array>-->", "closing tag in a comment");
        refusedAsDeep("<array><string><![CDATA[</string></array>]]></string>", "closing tag in CDATA");
        refusedAsDeep("<array><string>x<!--</string></array>--></string>", "closing tag in a comment in a text");
        refusedAsDeep("<array><?pi </array> ?>", "closing tag in a processing instruction");
        refusedAsDeep("<array><!DOCTYPE x [ </array> ]>", "closing tag in a DOCTYPE's internal subset");
        refusedAsDeep("<array a=\"></array>\">", "closing tag in a quoted attribute");
    });
}

// The same hiding split one dictionary of many keys into many small ones in
// the count: 800,000 keys made every start of the program wait for minutes.
TEST(PropertyListHostile, KeysHiddenFromTheCountAreStillRefused)
{
    const QByteArray head("<?xml version=\"1.0\"?><plist version=\"1.0\"><dict>");
    for (const QByteArray& hide : {QByteArray("<!--</dict><dict>-->"),
                                  QByteArray("<key>k</key><string><![CDATA[</dict><dict>]]></string>")}) {
        QByteArray xml = head;
        for (int k = 0; k < 150000; ++k) {
            xml += "<key>" + QByteArray::number(k) + "</key><true/>";
            if (k % 200 == 199)
                xml += hide;
        }
        xml += "</dict></plist>";
        QString error;
        EXPECT_FALSE(PropertyList::fromData(xml, &error)) << hide.constData();
        EXPECT_TRUE(error.contains(QStringLiteral("too many keys"))) << error.toStdString();
    }
}

TEST(PropertyList, FilesAreCheckedBeforeTheyAreReadWhole)
{
    kztest::TempDir dir;
    // A sparse file: gigabytes that cost nothing on disk.
    const auto sparse = [&](const char* name, const QByteArray& start, off_t size) {
        const fs::path file = dir / name;
        const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        EXPECT_GE(fd, 0);
        EXPECT_EQ(::write(fd, start.constData(), size_t(start.size())), start.size());
        EXPECT_EQ(::ftruncate(fd, size), 0);
        ::close(fd);
        return file;
    };
    const QByteArray xml("<?xml version=\"1.0\"?><plist version=\"1.0\"><dict>");
    const auto refused = [](const fs::path& file, quint64 limit, const char* why) {
        QString error;
        EXPECT_FALSE(PropertyList::readFile(file, &error, PropertyList::Links::Follow, limit)) << why;
        EXPECT_TRUE(error.contains(QString::fromLatin1(why))) << error.toStdString();
        EXPECT_TRUE(error.contains(QFile::decodeName(QByteArray(file.filename().c_str())))) << error.toStdString();
    };
    const quint64 settings = PropertyList::kSettingsFileLimit;
    refused(sparse("zeros.plist", {}, 64 << 20), settings, "not a property list");
    refused(sparse("text.plist", "hello, world", 64 << 20), settings, "not a property list");
    refused(sparse("large.plist", xml, off_t(settings) + 1), settings, "too large");
    refused(sparse("holes.plist", xml, 1 << 20), settings, "holes");
    refused(sparse("binary.plist", "bplist00", 64 << 20), quint64(1) << 30, "holes");

    // Written whole, as every writer writes it, and within the limit: read.
    QByteArray padded = xml + "<key>k</key><string>" + QByteArray(settings - 200, 'x') + "</string></dict></plist>";
    const fs::path full = dir.write("full.plist", padded.toStdString());
    QString error;
    EXPECT_TRUE(PropertyList::readDictionary(full, &error)) << error.toStdString();
    EXPECT_FALSE(PropertyList::readDictionary(full, &error, PropertyList::Links::Follow, 1 << 20));
    EXPECT_TRUE(error.contains(QStringLiteral("too large"))) << error.toStdString();
}

} // namespace
