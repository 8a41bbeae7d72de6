// Undo files and music library exports, mutated many ways from the forms
// their writers give them, read both ways: as they stream by, and whole by
// the property-list reader. Where the stream takes a file the two give one
// answer, a track or entry for a track or entry, or refuse it both; a file
// the stream leaves to the whole reading is read by that alone.

#include "RemovalTestSupport.h"

#include "media/KZiTunesLibrary.h"
#include "platform/PropertyList.h"
#include "support/CommaDecimalLocale.h"
#include "support/LibraryFixtures.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <random>

using namespace removaltest;

namespace {

void overwrite(const fs::path& file, const QByteArray& bytes)
{
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes.toStdString();
}

// Changes a list's text at places chosen by a seeded generator, in the ways
// a writer other than the usual one, a damaged disk or a hostile hand may.
class Mutator {
public:
    explicit Mutator(unsigned seed) : rng_(seed) {}

    // One to three changes; answers their names, for a failure's message.
    std::string mutate(QByteArray& xml)
    {
        std::string names;
        for (size_t n = 1 + pick(3); n > 0; --n)
            names += changeOnce(xml) + "; ";
        return names;
    }

private:
    size_t pick(size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng_); }
    const char* oneOf(std::initializer_list<const char*> list) { return list.begin()[pick(list.size())]; }

    // Where a random one of the occurrences of `what` starts; -1 for none.
    qsizetype somewhere(const QByteArray& xml, const QByteArray& what)
    {
        std::vector<qsizetype> at;
        for (qsizetype i = xml.indexOf(what); i >= 0; i = xml.indexOf(what, i + 1))
            at.push_back(i);
        return at.empty() ? -1 : at[pick(at.size())];
    }

    // The text of a random <tag> element, optionally only of one right after
    // `after`, becomes `text`.
    void replaceText(QByteArray& xml, const QByteArray& tag, const QByteArray& text, const QByteArray& after = {})
    {
        const QByteArray open = QByteArray("<") + tag + ">";
        const QByteArray close = QByteArray("</") + tag + ">";
        const qsizetype found = somewhere(xml, QByteArray(after + open));
        if (found < 0)
            return;
        const qsizetype start = found + after.size() + open.size();
        const qsizetype end = xml.indexOf(close, start);
        if (end >= 0)
            xml.replace(start, end - start, text);
    }

    void insertAfter(QByteArray& xml, const QByteArray& what, const QByteArray& text)
    {
        const qsizetype at = somewhere(xml, what);
        if (at >= 0)
            xml.insert(at + what.size(), text);
    }

    QByteArray date()
    {
        const int century = int(pick(100));
        const bool plain = pick(4) != 0;
        const auto two = [&](int bound) { return QByteArray::number(int(pick(size_t(bound)))).rightJustified(2, '0'); };
        const QByteArray year = QByteArray::number(century * 100 + int(pick(100))).rightJustified(4, '0');
        if (plain)
            return year + "-" + QByteArray::number(1 + int(pick(12))).rightJustified(2, '0') + "-"
                + QByteArray::number(1 + int(pick(28))).rightJustified(2, '0') + "T" + two(24) + ":" + two(60) + ":"
                + two(60) + "Z";
        return year + "-" + two(14) + "-" + two(33) + "T" + two(26) + ":" + two(61) + ":" + two(62)
            + oneOf({"Z", "", "+01:00", "Z ", ".5Z"});
    }

    // A character of the text of a random <kind> element, or the empty
    // text of a <true/> or <false/>, becomes a reference to it, in one of
    // the forms XML reads alike: decimal, hexadecimal, padded with zeros.
    void refer(QByteArray& xml, const QByteArray& kind)
    {
        if (kind == "true" || kind == "false") {
            const qsizetype at = somewhere(xml, "<" + kind + "/>");
            if (at >= 0)
                xml.replace(at, kind.size() + 3,
                            QByteArray("<" + kind + ">" + oneOf({"&#49;", "&amp;", "&#x20;"}) + "</" + kind + ">"));
            return;
        }
        const qsizetype found = somewhere(xml, "<" + kind + ">");
        const qsizetype start = found < 0 ? -1 : found + kind.size() + 2;
        if (start < 0 || start >= xml.size() || xml[start] == '<')
            return;
        const qsizetype at = start + qsizetype(pick(size_t(std::max<qsizetype>(xml.indexOf('<', start) - start, 1))));
        const int code = uchar(xml[at]);
        const char* form = oneOf({"&#%d;", "&#x%X;", "&#00%d;", "&#0000000%d;", "&#x00000%x;"});
        xml.replace(at, 1, QByteArray(QString::asprintf(form, code).toLatin1()));
    }

    std::string changeOnce(QByteArray& xml)
    {
        switch (pick(18)) {
        case 0: {
            const QByteArray tag = oneOf({"<string", "<key", "<dict", "<array", "<integer", "<date", "<data", "<true",
                                          "<plist"});
            insertAfter(xml, tag,
                        oneOf({" a=\"b\"", " a='>'", " a='x>y'", " q=\"'\"", " a='\"'", " xmlns=\"u\"", " b='c'"}));
            return "an attribute on " + tag.toStdString();
        }
        case 1:
            xml.replace("version=\"1.0\"",
                        oneOf({"version='1.0'", "version='1>0'", "version=\"1.0\" x='a\"b'", "version=\"1&gt;0\"",
                               "version = \"1.0\""}));
            return "the list's attribute";
        case 2:
            insertAfter(xml, "<string>",
                        oneOf({"&#38;", "&#x26;", "&amp;", "&lt;&gt;", "&#13;", "&#10;", "&#x1F600;", "&#0;",
                               "&#xD800;", "&#65;", "&nbsp;", "&apos;&quot;", "&#x110000;", "&#9;", "&#13;&#10;"}));
            return "a reference in a text";
        case 3: {
            switch (pick(6)) {
            case 0:
                xml.replace("\n", "\r\n");
                return "line ends of CRLF";
            case 1:
                xml.replace("\n", "\r");
                return "line ends of CR";
            case 2: {
                const qsizetype at = somewhere(xml, "\n");
                if (at >= 0)
                    xml.insert(at, '\r');
                return "one CRLF";
            }
            case 3:
                insertAfter(xml, oneOf({"<string>", "<key>"}), oneOf({"\r", "\r\n", "a\rb", "\r\r\n"}));
                return "a CR in a text";
            case 4:
                insertAfter(xml, oneOf({"<string", "<dict", "</key", "<true", "<plist"}), "\r\n");
                return "a CR in a tag";
            default:
                insertAfter(xml, oneOf({"<string>", "<key>"}), "\n");
                return "a line end in a text";
            }
        }
        case 4:
            replaceText(xml, "integer", oneOf({" 5", "5 ", "\n5\n", "\t-3", "+5", "05", "5\r", "5\r\n", "-0", ""}));
            return "white space in a number";
        case 5:
            switch (pick(4)) {
            case 0: {
                const qsizetype at = somewhere(xml, "<string>");
                const qsizetype end = at < 0 ? -1 : xml.indexOf("</string>", at);
                if (end > at)
                    xml.replace(at, end + 9 - at, "<string/>");
                return "an empty string";
            }
            case 1:
                xml.replace("<true/>", "<true></true>");
                return "a true of two tags";
            case 2:
                replaceText(xml, "string", "");
                return "an empty text";
            default:
                xml.replace("<array/>", "<array></array>");
                return "an empty array of two tags";
            }
        case 6:
            insertAfter(xml, "<dict>",
                        oneOf({"<key>Nested</key><dict><key>Inner</key><dict><key>Location</key>"
                               "<string>file:///etc/passwd</string></dict></dict>",
                               "<key>Location</key><dict/>", "<key>oldPosition</key><dict><key>a</key><true/></dict>",
                               "<key>Name</key><array><string>x</string></array>"}));
            return "a nested dictionary";
        case 7:
            replaceText(xml, "integer", oneOf({"0", "1", "999999", "1000", "-1", "1002"}), "<key>Track ID</key>");
            return "a Track ID unlike its key";
        case 8:
            replaceText(xml, "string",
                        oneOf({"file:///music/a%00b.m4a", "file://localhost/x", "file://host/x", "file:///a/../b",
                               "file:///a%2Fb", "http://x/y", "file:/x", "file:///a%zz", "file:///", "",
                               "file:///music/%E9t%C3%A9", "/a/../b", "relative", "/a//b", "/a/b/",
                               "file:///a&#0;b", "file:///caf&#233;"}),
                        oneOf({"<key>Location</key>", "<key>oldPosition</key>", "<key>Music Folder</key>", ""}));
            return "an odd location";
        case 9:
            replaceText(xml, "integer",
                        oneOf({"18446744073709551615", "9223372036854775807", "9223372036854775808",
                               "-9223372036854775808", "-9223372036854775809", "99999999999999999999999", "0"}));
            return "a huge integer";
        case 10:
            replaceText(xml, "date", date());
            return "a date";
        case 11:
            insertAfter(xml, oneOf({"</string>", "<string>", "</dict>"}),
                        oneOf({"<!-- c -->", "<?pi x?>", "<![CDATA[x]]>", "<!-- </dict> -->", "<!---->"}));
            return "a comment or the like";
        case 12: {
            const qsizetype at = somewhere(xml, "<key>");
            const qsizetype end = at < 0 ? -1 : xml.indexOf("</key>", at);
            if (end > at)
                xml.insert(at, xml.mid(at, end + 6 - at) + "<string>again</string>");
            return "a key twice";
        }
        case 13:
            switch (pick(3)) {
            case 0:
                replaceText(xml, "integer", oneOf({"1.5e3", "1e400", "-0.5", "nan"}));
                xml.replace("<integer>1.5e3</integer>", "<real>1.5e3</real>");
                return "a real";
            case 1:
                replaceText(xml, "data", oneOf({"QQ", "QQ==\n", "Q Q = =", "====", "!", ""}));
                return "odd data";
            default:
                xml.replace(oneOf({"<string>", "<integer>"}), "<data>");
                return "a tag of another kind";
            }
        case 14:
            xml.replace("PUBLIC \"-//Apple//DTD PLIST 1.0//EN\"",
                        oneOf({"PUBLIC '-//Apple//DTD PLIST 1.0//EN'", "PUBLIC '-//x>y//EN'", "SYSTEM",
                               "PUBLIC \"-//x'y//EN\"", "[ ]", "PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" []"}));
            return "another DOCTYPE";
        case 15: {
            const qsizetype at = qsizetype(pick(size_t(std::max<qsizetype>(xml.size(), 1))));
            xml.remove(at, 1 + qsizetype(pick(3)));
            return "bytes lost";
        }
        case 17: {
            const QByteArray kind = oneOf({"integer", "real", "date", "data", "string", "key", "true", "false"});
            refer(xml, kind);
            return "a reference in a " + kind.toStdString();
        }
        default:
            xml.replace(oneOf({"<string>", "<dict>"}), oneOf({"<String>", "<uid>", "<dict >"}));
            xml.replace(oneOf({"</string>", "</dict>"}), oneOf({"</String>", "</uid>", "</dict >"}));
            return "a renamed element";
        }
    }

    std::mt19937 rng_;
};

bool sameLibrary(const KZiTunesLibrary& a, const KZiTunesLibrary& b)
{
    if (a.musicFolderLocation() != b.musicFolderLocation() || a.mediaItems().size() != b.mediaItems().size())
        return false;
    for (size_t i = 0; i < a.mediaItems().size(); ++i) {
        const KZiTunesTrack& x = a.mediaItems()[i];
        const KZiTunesTrack& y = b.mediaItems()[i];
        if (x.trackID != y.trackID || x.url != y.url || x.songName != y.songName || x.artist != y.artist
            || x.album != y.album || x.genre != y.genre || x.totalTime != y.totalTime || x.bitRate != y.bitRate)
            return false;
    }
    return true;
}

bool sameContents(const KZUndoFile::Contents& a, const KZUndoFile::Contents& b)
{
    if (a.rootData != b.rootData || a.entries.size() != b.entries.size())
        return false;
    for (size_t i = 0; i < a.entries.size(); ++i) {
        const KZUndoFile::Entry& x = a.entries[i];
        const KZUndoFile::Entry& y = b.entries[i];
        if (x.raw != y.raw || x.valid != y.valid || x.currPosition != y.currPosition
            || x.oldPosition != y.oldPosition || x.aliasWasCreated != y.aliasWasCreated
            || x.isiTunesItem != y.isiTunesItem)
            return false;
    }
    return true;
}

constexpr int kMutants = 400;

// Mutants of `bases`, written to `file` and read by both roads: where the
// streamed reading takes the form, the whole reading gives the same answer;
// where it turns the form away, it says why. Counts what the stream took.
template <typename Stream, typename Whole, typename Same>
void readBothRoads(const std::vector<QByteArray>& bases, const fs::path& file, unsigned seed, Stream readStreamed,
                   Whole readWhole, Same same, int* streamed)
{
    Mutator mutator(seed);
    for (int n = 0; n < kMutants; ++n) {
        QByteArray xml = bases[size_t(n) % bases.size()];
        const std::string changes = mutator.mutate(xml);
        overwrite(file, xml);
        QString streamError;
        bool otherForm = false;
        const auto stream = readStreamed(file, &streamError, &otherForm);
        if (otherForm) {
            EXPECT_FALSE(stream) << changes;
            EXPECT_FALSE(streamError.isEmpty()) << changes;
            continue;
        }
        ++*streamed;
        QString wholeError;
        const auto whole = readWhole(file, &wholeError);
        ASSERT_EQ(bool(stream), bool(whole))
            << changes << "\nstream: " << streamError.toStdString() << "\nwhole: " << wholeError.toStdString()
            << "\n" << xml.toStdString();
        if (stream) {
            EXPECT_TRUE(same(*stream, *whole)) << changes << "\n" << xml.toStdString();
        }
    }
}

// Exports read on both roads: the music application's form and the
// property-list writer's. `adjust` changes the first before it is mutated.
void exportOnBothRoads(const std::function<void(QByteArray&)>& adjust = {})
{
    kztest::TempDir dir;
    const fs::path media = dir.mkdir("Media");
    QByteArray own = kztest::MusicLibraryBuilder::applicationExport(media, 4, [](int i) {
        return i == 1 ? QByteArray("<key>Release Date</key><date>1965-08-06T07:00:00Z</date>") : QByteArray();
    });
    if (adjust)
        adjust(own);
    const std::vector<QByteArray> bases{
        own,
        platform::PropertyList::toData(kztest::MusicLibraryBuilder(media)
                                           .fileTrack(7, 0xABC, media / "a b.wav", QStringLiteral("A & B"))
                                           .fileTrack(3, 0xDEF, media / "c.wav", QStringLiteral("C"))
                                           .dictionary(),
                                       platform::PropertyList::Format::Xml),
    };
    int streamed = 0;
    ASSERT_NO_FATAL_FAILURE(readBothRoads(bases, dir / "Library.xml", 20261208, &KZiTunesLibrary::fromStream,
                                          &KZiTunesLibrary::fromWholeList, sameLibrary, &streamed));
    // The corpus keeps both roads busy.
    EXPECT_GT(streamed, kMutants / 4);
    EXPECT_LT(streamed, kMutants);
}

void undoFileOnBothRoads()
{
    emptyTrash();
    kztest::TempDir dir;
    std::vector<KZPersistentUndoRecord> records;
    for (const std::string name : {"plain.txt", "caf\xC3\xA9 & <co>.txt", "latin1-\xE9\xFF.txt"}) {
        const fs::path item = dir.write(name, "x");
        KZPersistentUndoRecord record;
        record.oldPosition = item;
        record.currPosition = item;
        record.bookmark = platform::createBookmark(item);
        record.isiTunesItem = name == "plain.txt";
        records.push_back(record);
    }
    const auto written = KZUndoFile::write(homeTrash(), QVariantList{QByteArray("root")}, records, 100.0);
    ASSERT_TRUE(written);
    QByteArray own = QByteArray::fromStdString(kztest::readFile(*written));
    const qsizetype end = own.lastIndexOf("</array>");
    ASSERT_GT(end, 0);
    const QByteArray withValues = QByteArray(own).insert(
        end, "<dict><key>oldPosition</key><string>/a/b</string><key>currPosition</key><data>YWJj</data>"
             "<key>when</key><date>1965-08-06T07:00:00Z</date><key>n</key><integer>-42</integer>"
             "<key>r</key><real>2.5</real><key>t</key><string>x &amp; y</string></dict>");
    const std::vector<QByteArray> bases{own, withValues};
    int streamed = 0;
    ASSERT_NO_FATAL_FAILURE(readBothRoads(bases, dir / "undo.plist", 8122026, &KZUndoFile::readStreamed,
                                          &KZUndoFile::readWhole, sameContents, &streamed));
    EXPECT_GT(streamed, kMutants / 4);
    EXPECT_LT(streamed, kMutants);
}

} // namespace

TEST(KZReadingRoads, AnExportReadsOneWayOnEitherRoad)
{
    exportOnBothRoads();
}

TEST(KZReadingRoads, AnUndoFileReadsOneWayOnEitherRoad)
{
    undoFileOnBothRoads();
}

// A user's locale whose decimal point is a comma changes no number on
// either road.
TEST(KZReadingRoads, NumbersReadOneWayInALocaleWithADecimalComma)
{
    const kztest::CommaDecimalLocale comma;
    ASSERT_EQ(comma.why(), "");
    // A real where a count is kept: 1.5e3 reads as 1 up to the comma's place.
    exportOnBothRoads([](QByteArray& xml) {
        xml.replace("<key>Total Time</key><integer>180037</integer>", "<key>Total Time</key><real>1.5e3</real>");
    });
    undoFileOnBothRoads();
    EXPECT_EQ(KZUndoFile::secondsOfFileName(KZUndoFile::fileNameFor(12.25)), 12.25);
}

// A reference in a value of every kind, in a field the library keeps or
// one it passes over: the export gives one answer, whether it is read as it
// streams by or, with a comment added, whole.
TEST(KZReadingRoads, ReferencesInEveryKindOfValueGiveOneAnswer)
{
    kztest::TempDir dir;
    const fs::path media = dir.mkdir("Media");
    const QByteArray own = kztest::MusicLibraryBuilder::applicationExport(media, 2, [](int i) {
        return i == 0 ? QByteArray("<key>Artwork</key><data>QUJD</data><key>Volume</key><real>0.25</real>")
                      : QByteArray();
    });
    const std::pair<const char*, const char*> changes[] = {
        {"<integer>180000</integer>", "<integer>&#49;80000</integer>"},     // Total Time
        {"<integer>256</integer>", "<integer>2&#x35;6</integer>"},          // Bit Rate
        {"<integer>1000</integer>", "<integer>&#49;000</integer>"},         // Track ID
        {"<integer>180037</integer>", "<real>1&#46;5e3</real>"},            // a real for a count
        {"<real>0.25</real>", "<real>&#48;.25</real>"},
        {"<date>2019-05-04T10:11:12Z</date>", "<date>&#50;019-05-04T10:11:12Z</date>"},
        {"<data>QUJD</data>", "<data>&#81;UJD</data>"},
        {"<string>Rock</string>", "<string>R&#00000111;ck</string>"},       // refused whole
        {"<string>Rock</string>", "<string>R&#00111;&#x63;k</string>"},
        {"<key>Genre</key>", "<key>G&#101;nre</key>"},
        {"<true/>", "<true>&#49;</true>"},
        {"<false/>", "<false>&amp;</false>"},
    };
    const fs::path file = dir / "Library.xml";
    for (const auto& [from, to] : changes) {
        SCOPED_TRACE(to);
        QByteArray xml = own;
        xml.replace(xml.indexOf(from), qsizetype(std::strlen(from)), to);
        ASSERT_NE(xml, own);
        overwrite(file, xml);
        const auto streamed = KZiTunesLibrary::fromFile(file);
        overwrite(file, QByteArray(xml).replace("<plist version=\"1.0\">", "<plist version=\"1.0\"><!-- c -->"));
        const auto whole = KZiTunesLibrary::fromFile(file);
        ASSERT_EQ(bool(streamed), bool(whole));
        if (streamed) {
            EXPECT_TRUE(sameLibrary(*streamed, *whole));
        }
    }
}
