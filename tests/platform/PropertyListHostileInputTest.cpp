// Damaged and hostile property lists: every one must answer an error or a
// value, never crash, hang or exhaust memory. Worth running under
// -DKZ_SANITIZE=ON.
#include "platform/PropertyList.h"

#include <QVariantList>
#include <QVariantMap>

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

using platform::PropertyList;
using Format = PropertyList::Format;

namespace {

void appendBigEndian(QByteArray* out, quint64 value, int bytes)
{
    for (int i = bytes - 1; i >= 0; --i)
        out->append(char((value >> (8 * i)) & 0xff));
}

// A binary list from raw objects, for structures no writer would produce.
QByteArray binaryList(const std::vector<QByteArray>& objects, quint64 top, int refSize = 1)
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

const QByteArray kInt0("\x10\x00", 2);

void expectRejected(const QByteArray& data, const char* why)
{
    SCOPED_TRACE(why);
    QString error;
    EXPECT_FALSE(PropertyList::fromData(data, &error));
    EXPECT_FALSE(error.isEmpty());
}

QVariantMap richDocument()
{
    QVariantList items;
    for (int i = 0; i < 12; ++i) {
        items.append(QVariantMap{
            {QStringLiteral("path"), QStringLiteral("/home/user/Müsic/track %1.mp3").arg(i)},
            {QStringLiteral("size"), qint64(1) << (i * 5)},
            {QStringLiteral("ratio"), i / 7.0},
            {QStringLiteral("marked"), i % 2 == 0},
            {QStringLiteral("bookmark"), QByteArray(i * 3, char(i))},
            {QStringLiteral("modified"), QDateTime::fromSecsSinceEpoch(1600000000 + i * 1000, Qt::UTC)},
        });
    }
    return {{QStringLiteral("items"), items},
            {QStringLiteral("negative"), qint64(-123456789)},
            {QStringLiteral("wide"), quint64(18000000000000000000ULL)},
            {QStringLiteral("emoji 😀"), QStringLiteral("日本語")}};
}

TEST(PropertyListHostile, BinaryStructuresThatWouldHurtTheParserAreRefused)
{
    // Sanity: the builder makes lists that are accepted.
    ASSERT_TRUE(PropertyList::fromData(binaryList({arrayOf({1}), kInt0}, 0)));

    expectRejected(binaryList({arrayOf({0})}, 0), "array containing itself");
    expectRejected(binaryList({arrayOf({1}), arrayOf({0})}, 0), "cycle through two arrays");
    expectRejected(binaryList({arrayOf({5})}, 0), "reference past the last object");
    expectRejected(binaryList({arrayOf({1})}, 3), "top object past the last object");
    expectRejected(binaryList({QByteArray("\xD1\x01\x02", 3), kInt0, kInt0}, 0), "dictionary key not a string");
    // libplist asserts (aborts) on a key with a NUL, in either encoding.
    expectRejected(binaryList({QByteArray("\xD1\x01\x02", 3), QByteArray("\x52k\x00", 3), kInt0}, 0),
                   "ASCII key with a NUL");
    expectRejected(binaryList({QByteArray("\xD1\x01\x02", 3), QByteArray("\x61\x00\x00", 3), kInt0}, 0),
                   "UTF-16 key with a NUL");
    EXPECT_TRUE(PropertyList::fromData(binaryList({QByteArray("\xD1\x01\x02", 3), QByteArray("\x51k", 2), kInt0}, 0)));
    expectRejected(binaryList({QByteArray("\x5F\x10\xFF" "abc", 6)}, 0), "string longer than the data");
    expectRejected(binaryList({QByteArray("\x61\xD8\x00", 3)}, 0), "unpaired UTF-16 surrogate");
    expectRejected(binaryList({QByteArray("\x33\x7F\xF8\x00\x00\x00\x00\x00\x00", 9)}, 0), "date that is NaN");
    expectRejected(binaryList({QByteArray("\x33\x7F\xEF\xFF\xFF\xFF\xFF\xFF\xFF", 9)}, 0), "date beyond any calendar");
    // 2^31 seconds after 2001: beyond libplist's 32-bit accessor, still a date.
    const auto far = PropertyList::fromData(binaryList({QByteArray("\x33\x41\xE0\x00\x00\x00\x00\x00\x00", 9)}, 0));
    ASSERT_TRUE(far);
    EXPECT_EQ(far->toDateTime().toSecsSinceEpoch(), 978307200LL + 2147483648LL);
    expectRejected(binaryList({QByteArray("\x80\x01", 2)}, 0), "keyed-archive UID");
    expectRejected(binaryList({QByteArray("\x00", 1)}, 0), "null object");
    expectRejected(binaryList({QByteArray("\x17", 1)}, 0), "integer of 128 bytes");

    // Each array references the next one twice: 60 small objects that expand
    // to 2^60 nodes if every reference is parsed on its own.
    std::vector<QByteArray> bomb;
    for (quint64 i = 0; i < 60; ++i)
        bomb.push_back(arrayOf({i + 1, i + 1}));
    bomb.push_back(kInt0);
    expectRejected(binaryList(bomb, 0), "shared-reference bomb");

    // Deeper than any stack should be asked to recurse.
    std::vector<QByteArray> deep;
    for (quint64 i = 0; i < 5000; ++i)
        deep.push_back(arrayOf({i + 1}, 2));
    deep.push_back(kInt0);
    expectRejected(binaryList(deep, 0, 2), "deep nesting");

    // Moderate depth and sharing stay readable.
    std::vector<QByteArray> fine;
    for (quint64 i = 0; i < 100; ++i)
        fine.push_back(arrayOf({i + 1}));
    fine.push_back(kInt0);
    EXPECT_TRUE(PropertyList::fromData(binaryList(fine, 0)));
    EXPECT_TRUE(PropertyList::fromData(binaryList({arrayOf({1, 1, 1}), arrayOf({2, 2}), kInt0}, 0)));
}

TEST(PropertyListHostile, DamagedTrailersAreRefused)
{
    const QByteArray good = PropertyList::toData(richDocument(), Format::Binary);
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
    for (const Patch& p : patches) {
        QByteArray bad = good;
        bad.replace(p.at, p.bytes.size(), p.bytes);
        expectRejected(bad, p.why);
    }
    expectRejected(QByteArray("bplist00"), "header only");
    expectRejected(QByteArray("bplist15") + good.mid(8), "other binary version");
}

TEST(PropertyListHostile, EveryTruncationIsAnErrorNotACrash)
{
    for (Format format : {Format::Binary, Format::Xml}) {
        const QByteArray good = PropertyList::toData(richDocument(), format);
        ASSERT_TRUE(PropertyList::fromData(good));
        for (qsizetype length = 0; length < good.size(); ++length) {
            QString error;
            const auto value = PropertyList::fromData(good.left(length), &error);
            // A binary list without its trailer cannot be whole; XML may
            // still parse when only trailing white space was cut.
            if (format == Format::Binary || length < good.size() - 16) {
                EXPECT_FALSE(value) << "length " << length;
            }
            if (!value) {
                EXPECT_FALSE(error.isEmpty());
            }
        }
    }
}

TEST(PropertyListHostile, RandomBytesAndMutationsNeverCrash)
{
    std::mt19937 random(20240611);
    const auto randomBytes = [&](int size) {
        QByteArray bytes(size, '\0');
        for (char& c : bytes)
            c = char(random() & 0xff);
        return bytes;
    };

    for (int round = 0; round < 2000; ++round) {
        const QByteArray noise = randomBytes(int(random() % 200));
        PropertyList::fromData(noise);
        PropertyList::fromData("bplist00" + noise);
        PropertyList::fromData("<?xml version=\"1.0\"?><plist version=\"1.0\">" + noise);
    }

    // Small changes to valid lists reach far deeper into the parsers than
    // noise does.
    for (Format format : {Format::Binary, Format::Xml}) {
        const QByteArray good = PropertyList::toData(richDocument(), format);
        for (int round = 0; round < 3000; ++round) {
            QByteArray bad = good;
            const int edits = 1 + int(random() % 4);
            for (int e = 0; e < edits; ++e) {
                const qsizetype at = qsizetype(random() % quint32(bad.size()));
                bad[at] = char(random() & 0xff);
            }
            QString error;
            if (!PropertyList::fromData(bad, &error)) {
                EXPECT_FALSE(error.isEmpty());
            }
        }
    }
}

TEST(PropertyListHostile, DeeplyNestedXmlIsRefused)
{
    QByteArray deep("<?xml version=\"1.0\"?><plist version=\"1.0\">");
    for (int i = 0; i < 100000; ++i)
        deep += "<array>";
    expectRejected(deep, "unterminated deep nesting");

    QByteArray balanced("<plist version=\"1.0\">");
    for (int i = 0; i < 2000; ++i)
        balanced += "<array>";
    for (int i = 0; i < 2000; ++i)
        balanced += "</array>";
    balanced += "</plist>";
    expectRejected(balanced, "balanced deep nesting");

    QByteArray shallow("<plist version=\"1.0\">");
    for (int i = 0; i < 50; ++i)
        shallow += "<dict><key>k</key>";
    shallow += "<array/>";
    for (int i = 0; i < 50; ++i)
        shallow += "</dict>";
    shallow += "</plist>";
    EXPECT_TRUE(PropertyList::fromData(shallow));
}

} // namespace
