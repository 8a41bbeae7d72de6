#include "engine/KZQueryLanguage.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QTimeZone>

#include <functional>
#include <pthread.h>

namespace fs = std::filesystem;
using namespace kzquery;

namespace {

// Noon, so that "today" and "now" differ by hours whatever the zone.
const QDateTime kNow(QDate(2024, 5, 15), QTime(12, 0));

Facts file(const QString& name, quint64 size = 100, const QDateTime& modified = kNow.addDays(-3),
           const QString& mime = QStringLiteral("text/plain"))
{
    Facts facts;
    facts.name = name;
    facts.size = size;
    facts.physicalSize = 4096;
    facts.modified = modified;
    facts.created = modified;
    facts.accessed = modified;
    facts.changed = modified;
    facts.mimeType = [mime] { return mime; };
    return facts;
}

bool matches(const char* query, const Facts& facts)
{
    QString error;
    const auto parsed = parse(QString::fromUtf8(query), kNow, &error);
    EXPECT_TRUE(parsed) << query << ": " << error.toStdString();
    return parsed && parsed->matches(facts);
}

struct Case {
    const char* query;
    const char* name;
    bool expected;
};

} // namespace

TEST(KZQueryLanguage, NamesWithWildcardsAndModifiers)
{
    const Case cases[] = {
        {R"(kMDItemFSName == "*.jpg")", "holiday.jpg", true},
        {R"(kMDItemFSName == "*.jpg")", "holiday.JPG", false},
        {R"(kMDItemFSName == "*.jpg"c)", "holiday.JPG", true},
        {R"(kMDItemFSName == "*.jpg")", "holiday.jpg.txt", false},
        {R"(kMDItemFSName = "?at")", "cat", true},
        {R"(kMDItemFSName = "?at")", "at", false},
        {R"(kMDItemFSName = "?at")", "boat", false},
        {R"(kMDItemFSName == "cafe")", "café", false},
        {R"(kMDItemFSName == "cafe"d)", "café", true},
        {R"(kMDItemFSName == "CAFE"cd)", "Café", true},
        {R"(kMDItemFSName == "CAFE"d)", "Café", false},
        {R"(kMDItemDisplayName == "a*b*c")", "aXXbYYc", true},
        {R"(kMDItemDisplayName == "a*b*c")", "aXXcYYb", false},
        {R"(kMDItemFSName == "\*star")", "*star", true},
        {R"(kMDItemFSName == "\*star")", "xstar", false},
        {R"(kMDItemFSName == "say \"hi\"")", "say \"hi\"", true},
        {R"(kMDItemFSName != "*.tmp")", "a.tmp", false},
        {R"(kMDItemFSName != "*.tmp")", "a.txt", true},
        {R"(kMDItemFSName == "report*"cdw)", "Annual Report 2024", true},
        {R"(kMDItemFSName == "report*"cd)", "Annual Report 2024", false},
        {R"(kMDItemFSName == "")", "", true},
        {R"(kMDItemFSName == "*")", "", true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(matches(c.query, file(QString::fromUtf8(c.name))), c.expected) << c.query << " on " << c.name;
}

TEST(KZQueryLanguage, SizesDatesAndRanges)
{
    const Facts big = file(QStringLiteral("big"), 5'000'000, kNow.addSecs(-1800));
    const Facts old = file(QStringLiteral("old"), 10, QDateTime(QDate(2019, 1, 1), QTime(0, 0), QTimeZone::utc()));
    struct DateCase {
        const char* query;
        bool big;
        bool old;
    } cases[] = {
        {"kMDItemFSSize > 1000000", true, false},
        {"kMDItemFSSize <= 10", false, true},
        {"kMDItemLogicalSize == 10", false, true},
        {"kMDItemPhysicalSize >= 4096", true, true},
        {"InRange(kMDItemFSSize, 10, 5000000)", true, true},
        {"InRange(kMDItemFSSize, 11, 4999999)", false, false},
        {"kMDItemFSContentChangeDate >= $time.now(-3600)", true, false},
        {"kMDItemFSContentChangeDate >= $time.now(-60)", false, false},
        {"kMDItemContentModificationDate >= $time.today", true, false},
        {"kMDItemContentModificationDate < $time.today(-1000)", false, true},
        {"kMDItemFSCreationDate < $time.iso(2020-01-01T00:00:00Z)", false, true},
        {"kMDItemFSCreationDate < $time.iso(\"2020-01-01T00:00:00Z\")", false, true},
        {"InRange(kMDItemLastUsedDate, $time.today, $time.today(+1))", true, false},
        {"InRange(kMDItemFSAttributeChangeDate, $time.iso(2018-12-31T00:00:00Z), $time.iso(2019-01-02T00:00:00Z))",
         false, true},
    };
    for (const DateCase& c : cases) {
        EXPECT_EQ(matches(c.query, big), c.big) << c.query;
        EXPECT_EQ(matches(c.query, old), c.old) << c.query;
    }
    // A file system without birth times never matches a creation date.
    Facts noBirth = big;
    noBirth.created = QDateTime();
    EXPECT_FALSE(matches("kMDItemFSCreationDate < $time.now(1)", noBirth));
    EXPECT_FALSE(matches("kMDItemFSCreationDate > $time.iso(1970-01-01T00:00:00Z)", noBirth));
}

TEST(KZQueryLanguage, KindsThroughMimeTypes)
{
    const Facts png = file(QStringLiteral("a.png"), 1, kNow, QStringLiteral("image/png"));
    const Facts csrc = file(QStringLiteral("a.c"), 1, kNow, QStringLiteral("text/x-csrc"));
    Facts folder = file(QStringLiteral("f"), 1, kNow, QString());
    folder.isDirectory = true;
    int asked = 0;
    Facts counted = png;
    counted.mimeType = [&asked] {
        ++asked;
        return QStringLiteral("image/png");
    };

    EXPECT_TRUE(matches(R"(kMDItemContentTypeTree == "public.image")", png));
    EXPECT_FALSE(matches(R"(kMDItemContentTypeTree == "public.image")", csrc));
    EXPECT_TRUE(matches(R"(kMDItemContentTypeTree == "public.text")", csrc)); // a C source is text
    EXPECT_TRUE(matches(R"(kMDItemContentType == "image/png")", png));
    EXPECT_TRUE(matches(R"(kMDItemContentType == "image/*")", png));
    EXPECT_FALSE(matches(R"(kMDItemContentType == "video/*")", png));
    EXPECT_TRUE(matches(R"(kMDItemContentType != "public.image")", csrc));
    EXPECT_FALSE(matches(R"(kMDItemContentType == "com.example.unknown")", png));
    EXPECT_TRUE(matches(R"(kMDItemContentTypeTree == "public.folder")", folder));
    EXPECT_FALSE(matches(R"(kMDItemContentTypeTree == "public.folder")", png));
    EXPECT_TRUE(matches(R"(kMDItemContentType == "public.image" && kMDItemContentType != "public.jpeg")", counted));
    EXPECT_EQ(asked, 1);
    asked = 0;
    EXPECT_FALSE(matches(R"(kMDItemContentType == "public.image" && kMDItemFSSize > 5)", counted));
    EXPECT_TRUE(matches(R"(kMDItemContentType == "public.image" || kMDItemFSName == "a.png")", counted));
    EXPECT_EQ(asked, 0); // a kind is only looked at when names and sizes leave the answer open
    EXPECT_TRUE(matches(R"(!(kMDItemContentType == "public.image") || kMDItemFSSize == 1)", counted));
    EXPECT_EQ(asked, 0);
}

TEST(KZQueryLanguage, BooleansAndPrecedence)
{
    const Facts a = file(QStringLiteral("a.txt"), 10);
    const Case cases[] = {
        {R"(kMDItemFSName == "a*" && kMDItemFSSize == 10)", "", true},
        {R"(kMDItemFSName == "b*" && kMDItemFSSize == 10)", "", false},
        {R"(kMDItemFSName == "b*" || kMDItemFSSize == 10)", "", true},
        {R"(!(kMDItemFSName == "b*"))", "", true},
        {R"(! kMDItemFSName == "a*")", "", false},
        {R"(!!(kMDItemFSName == "a*"))", "", true},
        // && binds tighter than ||.
        {R"(kMDItemFSSize == 10 || kMDItemFSName == "b*" && kMDItemFSSize == 99)", "", true},
        {R"((kMDItemFSSize == 10 || kMDItemFSName == "b*") && kMDItemFSSize == 99)", "", false},
        {R"(  ( ( kMDItemFSName=="a.txt" ) )  )", "", true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(matches(c.query, a), c.expected) << c.query;
}

// Runs `body` on a thread with a small stack: recursion as deep as an input
// is long overflows it at once instead of only on the largest inputs.
void onSmallStack(const std::function<void()>& body)
{
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, 256 * 1024);
    pthread_t thread;
    auto call = [](void* f) -> void* {
        (*static_cast<const std::function<void()>*>(f))();
        return nullptr;
    };
    ASSERT_EQ(pthread_create(&thread, &attributes, call, const_cast<std::function<void()>*>(&body)), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attributes);
}

// A run of && or || is one level of the query however long it is: built,
// evaluated and freed without recursion as deep as the run. Each level cost
// a recursion before, and 300,000 terms crashed both tools. Beyond a bound
// the query is refused with the reason. In a child, so a crash fails the test.
TEST(KZQueryLanguage, LongRunsOfOperatorsCostNoDepthAndAreBounded)
{
    kztest::expectCleanRunInChild([] {
        // `terms` size comparisons ("kMDItemFSSize <how> 1", "… 2", …) joined by `op`.
        const auto run = [](int terms, const char* how, const char* op) {
            QStringList parts;
            for (int t = 1; t <= terms; ++t)
                parts << QStringLiteral("kMDItemFSSize %1 %2").arg(QLatin1String(how)).arg(t);
            return parts.join(QLatin1String(op));
        };
        onSmallStack([&] {
            const auto anyOf = parse(run(10000, "==", " || "), kNow);
            ASSERT_TRUE(anyOf);
            EXPECT_TRUE(anyOf->matches(file(QStringLiteral("a"), 10000)));
            EXPECT_FALSE(anyOf->matches(file(QStringLiteral("a"), 10001)));
            const auto allOf = parse(run(9999, ">", "&&") + QStringLiteral(R"( && kMDItemFSName == "a*")"), kNow);
            ASSERT_TRUE(allOf);
            EXPECT_TRUE(allOf->matches(file(QStringLiteral("a"), 10000)));
            EXPECT_FALSE(allOf->matches(file(QStringLiteral("a"), 9999)));
            EXPECT_FALSE(allOf->matches(file(QStringLiteral("b"), 10000)));
        });
        for (const char* op : {"&&", "||"}) {
            QString error;
            EXPECT_FALSE(parse(run(300000, "==", op), kNow, &error)) << op;
            EXPECT_TRUE(error.contains(QStringLiteral("more than 10000 comparisons"))) << error.toStdString();
        }
    });
}

TEST(KZQueryLanguage, OtherAttributesMatchNothingAndAreListedOnce)
{
    const auto query = parse(
        QStringLiteral(R"(kMDItemAuthors == "Ann" || kMDItemTextContent == "x"cd || kMDItemAuthors == "Bob")"), kNow);
    ASSERT_TRUE(query);
    EXPECT_FALSE(query->matches(file(QStringLiteral("Ann"))));
    EXPECT_EQ(query->unknownAttributes(), (QStringList{QStringLiteral("kMDItemAuthors"), QStringLiteral("kMDItemTextContent")}));
    const auto negated = parse(QStringLiteral(R"(!(kMDItemKeywords == "x") && (* == "a*"cdw))"), kNow);
    ASSERT_TRUE(negated);
    EXPECT_FALSE(negated->matches(file(QStringLiteral("abc"))));
    EXPECT_EQ(negated->unknownAttributes().size(), 2);
    // An unknown attribute takes any value type.
    EXPECT_TRUE(parse(QStringLiteral("kMDItemPixelHeight > 100 && kMDItemDueDate < $time.now"), kNow));
}

TEST(KZQueryLanguage, MalformedQueriesAreRefusedWithAReason)
{
    const char* broken[] = {
        "",
        "   ",
        R"(kMDItemFSName == "unterminated)",
        R"((kMDItemFSName == "a")",
        R"(kMDItemFSName == "a"))",
        R"(kMDItemFSName "a")",
        R"(kMDItemFSName == "a"x)",
        R"(kMDItemFSName == "a" &&)",
        R"(kMDItemFSName == "a" || || kMDItemFSSize > 1)",
        "kMDItemFSSize > \"big\"",
        "kMDItemFSName == 12",
        "kMDItemFSSize > $time.now",
        "kMDItemFSContentChangeDate > 12",
        "kMDItemFSContentChangeDate > $time.yesterday",
        "kMDItemFSContentChangeDate > $time.today(x)",
        "kMDItemFSContentChangeDate > $time.iso(not a date)",
        "kMDItemFSContentChangeDate > $time.iso(2020-01-01",
        "InRange(kMDItemFSSize, 1)",
        "InRange(kMDItemFSSize 1, 2)",
        "kMDItemFSSize > 1e999",
        // Offsets past any date: they must not turn into a date that every
        // file passes.
        "kMDItemFSContentChangeDate > $time.now(10000000000000000)",
        "kMDItemFSContentChangeDate < $time.now(-9223372036854775807)",
        "kMDItemFSContentChangeDate > $time.today(4000000)",
        "kMDItemFSContentChangeDate < $time.today(-9000000000000)",
        "InRange(kMDItemFSContentChangeDate, $time.now(-1), $time.now(99999999999999))",
    };
    for (const char* text : broken) {
        QString error;
        EXPECT_FALSE(parse(QString::fromUtf8(text), kNow, &error)) << text;
        EXPECT_FALSE(error.isEmpty()) << text;
    }
    // Deep nesting is refused, not a stack overflow.
    const QString deep = QString(100000, u'(') + QStringLiteral("kMDItemFSSize > 1") + QString(100000, u')');
    EXPECT_FALSE(parse(deep, kNow));
    EXPECT_FALSE(parse(QString(100000, u'!') + QStringLiteral("kMDItemFSSize > 1"), kNow));
}

TEST(KZQueryLanguage, ScopesBecomeFolders)
{
    kztest::TempDir dir;
    const fs::path home = dir.mkdir("home");
    dir.mkdir("home/Documents");
    const fs::path data = dir.mkdir("data");
    const QString dataText = QString::fromStdString(data.native());

    QString error;
    const QVariantList given{QStringLiteral("kMDQueryScopeHome"), QStringLiteral("~/Documents"),
                             QString(QStringLiteral("file://") + dataText), dataText,
                             QStringLiteral("kMDQueryScopeComputer")};
    const auto scopes = resolveScopes(given, home, &error);
    ASSERT_TRUE(scopes) << error.toStdString();
    ASSERT_EQ(scopes->size(), 5u);
    EXPECT_EQ((*scopes)[0].folder, home);
    EXPECT_FALSE((*scopes)[0].wholeComputer);
    EXPECT_EQ((*scopes)[1].folder, home / "Documents");
    EXPECT_EQ((*scopes)[2].folder, data);
    EXPECT_EQ((*scopes)[3].folder, data);
    EXPECT_EQ((*scopes)[4].folder, fs::path("/"));
    EXPECT_TRUE((*scopes)[4].wholeComputer);

    const auto none = resolveScopes({}, home);
    ASSERT_TRUE(none);
    ASSERT_EQ(none->size(), 1u);
    EXPECT_TRUE(none->front().wholeComputer);

    // Only text names a scope; anything else is damage, not some folder.
    // A NUL ends a path where the system reads it: "~/\0x" would be home.
    const QString nul(QChar(u'\0'));
    for (const QVariant& damaged : {QVariant(qint64(47)), QVariant(QVariantList{dataText}),
                                    QVariant(QVariantMap{{dataText, true}}), QVariant(true),
                                    QVariant(QString(QStringLiteral("~/") + nul + u"x")),
                                    QVariant(QString(dataText + nul + u"/x")),
                                    QVariant(QString(QStringLiteral("file://") + dataText + nul))}) {
        error.clear();
        EXPECT_FALSE(resolveScopes(QVariantList{dataText, damaged}, home, &error)) << damaged.typeName();
        EXPECT_TRUE(error.contains(QStringLiteral("damaged"))) << error.toStdString();
    }

    for (const QString& missing : QStringList{QString(dataText + QStringLiteral("/gone")), QStringLiteral("~/Gone"),
                                   QStringLiteral("kMDQueryScopeNetwork"), QStringLiteral("relative/path"),
                                   QStringLiteral("http://example.com/x"),
                                   QString::fromStdString(dir.write("plain", "x").native())}) {
        error.clear();
        EXPECT_FALSE(resolveScopes(QVariantList{dataText, missing}, home, &error)) << missing.toStdString();
        EXPECT_FALSE(error.isEmpty());
    }
}
