// The music library export read as it streams by, against the same file
// read whole by the property-list reader: the two never disagree, and an
// export far larger than the whole reading takes is read.

#include "media/KZiTunesLibrary.h"

#include "platform/PropertyList.h"
#include "support/LibraryFixtures.h"
#include "support/SpecialTexts.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>

namespace fs = std::filesystem;
using kztest::MusicLibraryBuilder;

namespace {

QString str(const char* text)
{
    return QString::fromUtf8(text);
}

void overwrite(const fs::path& file, const QByteArray& bytes)
{
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes.toStdString();
}

void expectSameLibrary(const KZiTunesLibrary& a, const KZiTunesLibrary& b, const std::string& which)
{
    EXPECT_EQ(a.musicFolderLocation(), b.musicFolderLocation()) << which;
    ASSERT_EQ(a.mediaItems().size(), b.mediaItems().size()) << which;
    for (size_t i = 0; i < a.mediaItems().size(); ++i) {
        const KZiTunesTrack& x = a.mediaItems()[i];
        const KZiTunesTrack& y = b.mediaItems()[i];
        const std::string at = which + ", track " + std::to_string(i);
        EXPECT_EQ(x.trackID, y.trackID) << at;
        EXPECT_EQ(x.url, y.url) << at;
        EXPECT_EQ(x.songName, y.songName) << at;
        EXPECT_EQ(x.artist, y.artist) << at;
        EXPECT_EQ(x.album, y.album) << at;
        EXPECT_EQ(x.genre, y.genre) << at;
        EXPECT_EQ(x.totalTime, y.totalTime) << at;
        EXPECT_EQ(x.bitRate, y.bitRate) << at;
        // The same one of several tracks of one identity is found.
        EXPECT_EQ(a.trackWithID(x.trackID) - a.mediaItems().data(), b.trackWithID(y.trackID) - b.mediaItems().data())
            << at;
    }
}

// `text` put in as the tracks' dictionary's first entries.
QByteArray withTracks(QByteArray xml, const QByteArray& text)
{
    const qsizetype tracks = xml.indexOf("<dict>", xml.indexOf("<key>Tracks</key>"));
    EXPECT_GT(tracks, 0);
    return xml.insert(tracks + 6, text);
}

// A track entry under `key` with `fields` (key and value elements).
QByteArray track(const char* key, const QByteArray& fields)
{
    return QByteArray("<key>") + key + "</key><dict>" + fields + "</dict>";
}

QByteArray located(const char* persistentID, const QByteArray& more = {})
{
    return QByteArray("<key>Persistent ID</key><string>") + persistentID
        + "</string><key>Location</key><string>file:///music/" + persistentID + ".mp3</string>" + more;
}

} // namespace

// Whatever form an export has, fromFile answers what the whole reading
// answers: an export in the music application's form, with whatever values
// its tracks hold, is read as it streams by; anything else goes to the
// property-list reader.
TEST(KZiTunesLibraryStream, EveryExportReadsAsTheWholeReadingReadsIt)
{
    kztest::TempDir dir;
    const fs::path media = dir.mkdir("Media");
    MusicLibraryBuilder builder(media);
    builder.fileTrack(10, 255, media / "song one.wav", str("One & <two>"), str("Artist"), str("Album"), 239900, 1411)
        .fileTrack(9, 0xABCDE, media / std::string("caf\xFF\xE9.wav"), str("Odd name"))
        .fileTrack(11, 0xFEDCBA9876543210ULL, media / "gone.wav", str("Gone"))
        .entry(12, {{str("Persistent ID"), str("C")},
                    {str("Track Type"), str("URL")},
                    {str("Location"), MusicLibraryBuilder::fileURL(media / "s.wav")}})
        .entry(13, {{str("Persistent ID"), str("D")},
                    {str("Track Type"), str("Remote")},
                    {str("Location"), MusicLibraryBuilder::fileURL(media / "s.wav")}})
        .entry(14, {{str("Persistent ID"), str("E")}, {str("Location"), str("http://example.com/a.mp3")}})
        .entry(16, {{str("Persistent ID"), str("not hex")}, {str("Location"), MusicLibraryBuilder::fileURL(media)}})
        .entry(17, {{str("Persistent ID"), str("11")}, {str("Name"), str("Nowhere")}});
    const QByteArray own = platform::PropertyList::toData(builder.dictionary(), platform::PropertyList::Format::Xml);
    ASSERT_TRUE(own.contains("<key>Tracks</key>"));

    struct Variant {
        const char* name;
        QByteArray xml;
        bool streamed; // read as it streams by, not left to the other reader
    };
    const QByteArray playlists = "<key>Playlists</key><array><dict><key>Name</key><string>Mix</string>"
                                 "<key>Smart Info</key><data>\n\tAQID\n\tBA==\n</data>"
                                 "<key>Date Modified</key><date>2019-05-04T10:11:12Z</date>"
                                 "<key>Playlist Items</key><array><dict><key>Track ID</key><integer>10</integer>"
                                 "</dict></array></dict></array>";
    const std::vector<Variant> variants{
        {"the export as written", own, true},
        {"numbers of every type",
         withTracks(own, track("20", located("20", "<key>Total Time</key><real>1234.9</real><key>Bit Rate</key>"
                                                   "<integer>-320</integer><key>Track ID</key><true/>"))
                             + track("21", located("21", "<key>Total Time</key><real>1e30</real><key>Bit Rate</key>"
                                                         "<string>320</string><key>Track ID</key><false/>"))
                             + track("22", located("22", "<key>Total Time</key><true/><key>Bit Rate</key>"
                                                         "<integer>99999999999</integer><key>Track ID</key>"
                                                         "<string>5</string>"))
                             + track("23", located("23", "<key>Total Time</key><real>-0.5</real>"
                                                         "<key>Track ID</key><integer>-3</integer>"))),
         true},
        {"texts of other types and empty texts",
         withTracks(own, track("30", located("30", "<key>Name</key><integer>42</integer><key>Artist</key><array/>"
                                                   "<key>Album</key><string/><key>Genre</key><dict/>"
                                                   "<key>Track Type</key><true/>"))),
         true},
        {"a key repeated in a track",
         withTracks(own, track("40", located("40", "<key>Name</key><string>first</string><key>Name</key>"
                                                   "<string>last</string>"))
                             + track("41", located("41", "<key>Location</key><integer>1</integer>"))),
         true},
        {"tracks of one number, ordered by their keys as texts",
         withTracks(own, track("90", located("A90", "<key>Track ID</key><integer>10</integer>"))
                             + track("100", located("A100", "<key>Track ID</key><integer>10</integer>"))
                             + track("1000", located("A1000"))),
         true},
        {"two tracks of one identity",
         withTracks(own, track("50", located("FF", "<key>Name</key><string>second</string>"))
                             + track("8", located("ff", "<key>Name</key><string>first</string>"))),
         true},
        {"a NUL in a location",
         withTracks(own, track("95", "<key>Persistent ID</key><string>95</string><key>Location</key>"
                                     "<string>file:///music/x%00y.mp3</string>")
                             + track("96", "<key>Persistent ID</key><string>96</string><key>Location</key>"
                                           "<string>file:///music/%00</string>")),
         true},
        {"entries that are no tracks",
         withTracks(own, "<key>60</key><string>x</string><key>61</key><array><true/></array>"), true},
        {"playlists, dates and data", QByteArray(own).replace("<key>Playlists</key>\n\t<array/>", playlists), true},
        {"character references", withTracks(own, track("70", located("70", "<key>Name</key><string>&#38;&#x41;"
                                                                            "&amp;&lt;&#233;</string>"))),
         true},
        {"tracks that are no dictionary",
         QByteArray(own).replace("<key>Tracks</key>", "<key>Trackz</key>")
             .replace("<key>Playlists</key>", "<key>Tracks</key><array/><key>Playlists</key>"),
         true},
        {"a music folder that is no text",
         QByteArray(own).replace("<key>Music Folder</key>", "<key>Music Folder</key><true/><key>Old Folder</key>"),
         true},
        {"no tracks", QByteArray(own).replace("<key>Tracks</key>", "<key>Trackz</key>"), true},
        {"a comment", withTracks(own, "<!-- a -->"), false},
        {"CDATA", withTracks(own, track("80", located("80", "<key>Name</key><string><![CDATA[<x>]]></string>"))),
         false},
        {"a DOCTYPE declaring an entity",
         withTracks(QByteArray(own).replace("PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                                            "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\"",
                                            "[<!ENTITY e \"E\">]"),
                    track("81", located("81", "<key>Name</key><string>&e;</string>"))),
         false},
        {"a processing instruction", withTracks(own, "<?pi x?>"), false},
        {"carriage returns in texts",
         withTracks(own, track("82", located("82", "<key>Name</key><string>a\r\nb\r</string><key>Artist</key>"
                                                   "<string>\r\n</string><key>Comments</key><string>x\ry</string>"))),
         true},
        {"line ends of carriage returns", QByteArray(own).replace("\n", "\r\n"), true},
        {"a carriage return in a key",
         withTracks(own, track("88", located("88", "<key>Name\r</key><string>n</string>"))), true},
        {"another encoding", QByteArray(own).replace("encoding=\"UTF-8\"", "encoding=\"ISO-8859-1\""), false},
        {"bytes that are not UTF-8",
         withTracks(own, track("83", located("83", "<key>Name</key><string>\xE9\xFF</string>"))), false},
        {"base64 without padding", QByteArray(own).replace("<array/>", "<array><data>QQ</data></array>"), false},
        {"an integer in another form",
         withTracks(own, track("84", located("84", "<key>Total Time</key><integer>010</integer>"))), false},
        {"an integer with a plus",
         withTracks(own, track("85", located("85", "<key>Track ID</key><integer>+5</integer>"))), false},
        {"dates of every century",
         withTracks(own, track("86", located("86", "<key>Release Date</key><date>1965-08-06T07:00:00Z</date>"
                                                   "<key>A</key><date>1901-01-01T00:00:00Z</date>"
                                                   "<key>B</key><date>0001-01-01T00:00:00Z</date>"
                                                   "<key>C</key><date>2100-03-01T00:00:00Z</date>"
                                                   "<key>D</key><date>9999-12-31T23:59:59Z</date>"))),
         true},
        {"a day the calendar lacks",
         withTracks(own, track("89", located("89", "<key>D</key><date>1900-02-29T00:00:00Z</date>"))), false},
        {"an attribute in single quotes holding '>'",
         withTracks(own, track("93", located("93", "<key>Location</key><string x='>'>file:///etc/passwd</string>"))),
         false},
        {"the list's attribute in single quotes holding '>'",
         QByteArray(own).replace("<plist version=\"1.0\">", "<plist version='1>0'>"), false},
        {"a namespace on the list", QByteArray(own).replace("<plist version=\"1.0\">", "<plist xmlns=\"x\">"), true},
        {"an unknown element", withTracks(own, track("87", located("87", "<key>U</key><uid>1</uid>"))), false},
        {"text between elements", withTracks(own, "loose"), false},
        {"tracks twice", QByteArray(own).replace("<key>Playlists</key>", "<key>Tracks</key><dict/><key>Playlists</key>"),
         false},
        {"a track's key twice", withTracks(own, track("10", located("90"))), false},
        {"a track's key that is no number", withTracks(own, track("abc", located("91"))), false},
        {"a track's key with a leading zero", withTracks(own, track("07", located("92"))), false},
        {"nesting deeper than playlists have",
         QByteArray(own).replace("<array/>",
                                 QByteArray(QByteArray("<array>").repeated(20) + QByteArray("</array>").repeated(20))),
         false},
        {"another root", "<?xml version=\"1.0\"?><plist><array/></plist>", false},
        {"a truncated file", own.left(own.size() / 2), false},
        {"text after the list", own + "<extra/>", false},
        {"a binary list", platform::PropertyList::toData(builder.dictionary(), platform::PropertyList::Format::Binary),
         false},
    };
    const fs::path file = dir / "iTunes Library.xml";
    for (const Variant& v : variants) {
        if (&v != &variants.front()) {
            EXPECT_NE(v.xml, own) << v.name;
        }
        overwrite(file, v.xml);
        QString streamedError;
        bool otherForm = false;
        const auto streamed = KZiTunesLibrary::fromStream(file, &streamedError, &otherForm);
        EXPECT_EQ(otherForm, !v.streamed) << v.name << ": " << streamedError.toStdString();
        QString wholeError;
        const auto whole = KZiTunesLibrary::fromWholeList(file, &wholeError);
        QString error;
        const auto read = KZiTunesLibrary::fromFile(file, &error);
        ASSERT_EQ(bool(read), bool(whole)) << v.name << ": " << error.toStdString();
        if (read)
            expectSameLibrary(*read, *whole, v.name);
        else
            EXPECT_EQ(error, wholeError) << v.name;
        if (v.streamed) {
            ASSERT_EQ(bool(streamed), bool(whole)) << v.name;
            if (streamed)
                expectSameLibrary(*streamed, *whole, v.name);
            else
                EXPECT_EQ(streamedError, wholeError) << v.name;
        }
    }

    // The values the rules give, read as the export streams by.
    const auto expectRead = [&](const Variant& v) {
        overwrite(file, v.xml);
        bool otherForm = false;
        const auto library = KZiTunesLibrary::fromStream(file, nullptr, &otherForm);
        EXPECT_TRUE(library) << v.name;
        return library;
    };
    const auto numbers = expectRead(variants[1]);
    ASSERT_TRUE(numbers);
    ASSERT_EQ(numbers->mediaItems().size(), 7u);
    // Numbers 0 (Track IDs -3, false, "5"), 1 (true), then 9, 10, 11.
    EXPECT_EQ(numbers->mediaItems()[0].trackID, str("21"));
    EXPECT_EQ(numbers->mediaItems()[0].totalTime, 0u);
    EXPECT_EQ(numbers->mediaItems()[1].trackID, str("22"));
    EXPECT_EQ(numbers->mediaItems()[1].totalTime, 1u);
    EXPECT_EQ(numbers->mediaItems()[1].bitRate, UINT32_MAX);
    EXPECT_EQ(numbers->mediaItems()[2].trackID, str("23"));
    EXPECT_EQ(numbers->mediaItems()[3].trackID, str("20"));
    EXPECT_EQ(numbers->mediaItems()[3].totalTime, 1234u);
    EXPECT_EQ(numbers->mediaItems()[3].bitRate, 0u);
    EXPECT_EQ(numbers->mediaItems()[4].trackID, str("abcde"));
    const auto ordered = expectRead(variants[4]);
    ASSERT_TRUE(ordered);
    std::vector<QString> ids;
    for (const KZiTunesTrack& t : ordered->mediaItems())
        ids.push_back(t.trackID);
    EXPECT_EQ(ids, (std::vector<QString>{str("abcde"), str("ff"), str("a100"), str("a90"),
                                         str("fedcba9876543210"), str("a1000")}));
    const auto twice = expectRead(variants[5]);
    ASSERT_TRUE(twice);
    EXPECT_EQ(twice->trackWithID(str("ff"))->songName, str("first"));
    // A path made of text holding a NUL is no path: such tracks have no file.
    const auto nul = std::find_if(variants.begin(), variants.end(),
                                  [](const Variant& v) { return std::string(v.name) == "a NUL in a location"; });
    ASSERT_NE(nul, variants.end());
    const auto withoutFile = expectRead(*nul);
    ASSERT_TRUE(withoutFile);
    EXPECT_EQ(withoutFile->mediaItems().size(), 3u);
    EXPECT_FALSE(withoutFile->trackWithID(str("95")));
    EXPECT_FALSE(withoutFile->trackWithID(str("96")));
    const auto references = expectRead(variants[9]);
    ASSERT_TRUE(references);
    EXPECT_EQ(references->trackWithID(str("70"))->songName, str("&A&<\u00e9"));
}

namespace {

// The two readings of `file`, and what fromFile makes of it, agree; the
// streamed one read it, not leaving it to the other, when `mustStream`.
void expectReadingsAgree(const fs::path& file, const std::string& which, bool mustStream)
{
    QString streamedError;
    bool otherForm = false;
    const auto streamed = KZiTunesLibrary::fromStream(file, &streamedError, &otherForm);
    if (mustStream) {
        EXPECT_FALSE(otherForm) << which << ": " << streamedError.toStdString();
    }
    QString wholeError;
    const auto whole = KZiTunesLibrary::fromWholeList(file, &wholeError);
    QString error;
    const auto read = KZiTunesLibrary::fromFile(file, &error);
    ASSERT_EQ(bool(read), bool(whole)) << which << ": " << error.toStdString();
    if (read)
        expectSameLibrary(*read, *whole, which);
    if (otherForm)
        return;
    ASSERT_EQ(bool(streamed), bool(whole)) << which << ": " << streamedError.toStdString();
    if (streamed)
        expectSameLibrary(*streamed, *whole, which);
    else
        EXPECT_EQ(streamedError, wholeError) << which;
}

// `bytes` put around the text of the value that follows `key`.
QByteArray aroundValueOf(QByteArray xml, const QByteArray& key, const QByteArray& bytes)
{
    const qsizetype at = xml.indexOf("<string>", xml.indexOf(key)) + 8;
    EXPECT_GT(at, 8) << key.toStdString();
    xml.insert(at, bytes);
    return xml.insert(xml.indexOf("</string>", at), bytes);
}

} // namespace

// Every character that conversions of text treat specially, and bytes that
// are no UTF-8, at either end of every key, of every text, and of the texts
// of a track, its location and the music folder: whichever reading reads
// the export, every byte means the same. A leading byte-order mark is a
// character of the text in both: a file that the whole reading takes for
// one comment it holds reads as the same file without it.
TEST(KZiTunesLibraryStream, EverySpecialCharacterInKeysAndTextsReadsAsTheWholeReadingReadsIt)
{
    kztest::TempDir dir;
    const fs::path media = dir.mkdir("Media");
    MusicLibraryBuilder builder(media);
    builder.fileTrack(10, 255, media / "song one.wav", str("One"), str("Artist"), str("Album"), 239900, 1411)
        .fileTrack(11, 0xABC, media / "two.wav", str("Two"));
    const QByteArray own = platform::PropertyList::toData(builder.dictionary(), platform::PropertyList::Format::Xml);
    const fs::path file = dir / "iTunes Library.xml";
    for (const kztest::SpecialText& special : kztest::specialTexts()) {
        const QByteArray& s = special.bytes;
        const std::string name = special.name;
        for (const QByteArray& element : {QByteArray("key"), QByteArray("string")})
            for (const auto& [before, after] :
                 {std::pair{s, QByteArray()}, std::pair{QByteArray(), s}, std::pair{s, s}}) {
                overwrite(file, kztest::wrapTexts(own, element, before, after));
                expectReadingsAgree(file, name + " around every " + element.toStdString(), false);
            }
        const QByteArray texts = "<key>Name</key><string>" + s + "n" + s + "</string><key>Artist</key><string>" + s
            + "</string><key>Album</key><string>" + s + "a</string>";
        const QByteArray location = "<key>Persistent ID</key><string>71</string><key>Location</key><string>" + s
            + "file:///music/71.mp3" + s + "</string>";
        const QByteArray keys = "<key>" + s + "Name</key><string>k</string><key>Album" + s + "</key><string>a</string>";
        QByteArray inTracks = withTracks(
            own, track("70", located("70", texts)) + track("71", location) + track("72", located("72", keys)));
        inTracks = aroundValueOf(inTracks, "<key>Music Folder</key>", s);
        overwrite(file, inTracks);
        expectReadingsAgree(file, name + " in a track's texts and keys", special.xmlText);
        overwrite(file, withTracks(inTracks, "<!-- a -->"));
        expectReadingsAgree(file, name + " with a comment", false);
    }

    // Kept where a text or a key begins, in the whole reading too.
    overwrite(file,
              withTracks(own,
                         track("70", located("70", "<key>Name</key><string>\xEF\xBB\xBFn</string>"))
                             + track("72", located("72", "<key>\xEF\xBB\xBFName</key><string>k</string>"))
                             + "<!-- a -->"));
    const auto whole = KZiTunesLibrary::fromWholeList(file);
    ASSERT_TRUE(whole);
    ASSERT_TRUE(whole->trackWithID(str("70")));
    EXPECT_EQ(whole->trackWithID(str("70"))->songName, QStringLiteral("\uFEFFn"));
    ASSERT_TRUE(whole->trackWithID(str("72")));
    EXPECT_EQ(whole->trackWithID(str("72"))->songName, QString());
}

// An export larger than the whole reading takes is read track by track,
// each as the whole reading reads it in a small export; one of another form
// that large is refused, saying which file and why.
TEST(KZiTunesLibraryStream, AnExportLargerThanTheWholeReadingTakesIsRead)
{
    kztest::TempDir dir;
    const fs::path media = dir.mkdir("Media");
    MusicLibraryBuilder builder(media);
    builder.fileTrack(1, 0x1F, media / "a.wav", str("A"), str("Band"), str("Album"), 61000, 256);
    const fs::path small = builder.write(dir / "small.xml");
    const auto expected = KZiTunesLibrary::fromWholeList(small);
    ASSERT_TRUE(expected);
    ASSERT_EQ(expected->mediaItems().size(), 1u);

    const QByteArray xml = QByteArray::fromStdString(kztest::readFile(small));
    const qsizetype first = xml.indexOf("<key>1</key>");
    const qsizetype end = xml.indexOf("</dict>", first) + 7;
    ASSERT_GT(first, 0);
    ASSERT_GT(end, first);
    QByteArray body = xml.mid(first, end - first);
    const int copies = int(KZiTunesLibrary::kMaxOtherExportSize / quint64(body.size())) + 100;
    const fs::path large = dir / "large.xml";
    {
        std::ofstream out(large, std::ios::binary);
        out.write(xml.constData(), first);
        for (int i = copies; i >= 1; --i) {
            // Numbered from the last down, so that the order is the export's.
            const QByteArray n = QByteArray::number(i);
            out << QByteArray(body).replace("<key>1</key>", QByteArray("<key>" + n + "</key>"))
                       .replace("<integer>1</integer>", QByteArray("<integer>" + n + "</integer>"))
                       .toStdString();
        }
        out.write(xml.constData() + end, xml.size() - end);
    }
    ASSERT_GT(fs::file_size(large), KZiTunesLibrary::kMaxOtherExportSize);
    QString error;
    const auto library = KZiTunesLibrary::fromFile(large, &error);
    ASSERT_TRUE(library) << error.toStdString();
    ASSERT_EQ(library->mediaItems().size(), size_t(copies));
    const KZiTunesTrack& want = expected->mediaItems().front();
    for (const KZiTunesTrack& got : {library->mediaItems().front(), library->mediaItems().back()}) {
        EXPECT_EQ(got.trackID, want.trackID);
        EXPECT_EQ(got.url, want.url);
        EXPECT_EQ(got.songName, want.songName);
        EXPECT_EQ(got.totalTime, want.totalTime);
        EXPECT_EQ(got.bitRate, want.bitRate);
    }
    EXPECT_EQ(library->musicFolderLocation(), media);

    // The same with a comment is not the music application's form.
    {
        std::ofstream out(large, std::ios::binary | std::ios::app);
        out << "<!-- a note -->";
    }
    EXPECT_EQ(KZiTunesLibrary::fromFile(large, &error), nullptr);
    EXPECT_TRUE(error.contains(str("large.xml"))) << error.toStdString();
    // Said as it is: written otherwise than the music application writes
    // its export, where, and the size a file so written may have.
    EXPECT_FALSE(error.contains(str("not in the form of a music library export"))) << error.toStdString();
    EXPECT_TRUE(error.contains(str("not written as the music application writes"))) << error.toStdString();
    EXPECT_TRUE(error.contains(str(": a comment"))) << error.toStdString();
    EXPECT_TRUE(error.contains(QString::number(KZiTunesLibrary::kMaxOtherExportSize))) << error.toStdString();
}

// An export as the music application writes it, larger than the whole
// reading takes, is read whatever values its tracks hold: dates of any
// century, carriage returns and line ends of them, a comment of megabytes.
// Each track reads as the whole reading reads it in a small export of the
// same tracks.
TEST(KZiTunesLibraryStream, EveryValueTheApplicationWritesIsReadAtAnySize)
{
    kztest::TempDir dir;
    const fs::path media = dir.mkdir("Media");
    const QByteArray longComment(int(KZiTunesLibrary::kMaxOtherExportSize) + (1 << 20), 'c');
    struct Variant {
        const char* name;
        std::function<QByteArray(int)> extra;
        bool crlf = false;
        bool longComment = false;
    };
    const std::vector<Variant> variants{
        {"an old release date",
         [](int i) { return i == 3 ? QByteArray("\t\t\t<key>Release Date</key><date>1965-08-06T07:00:00Z</date>\n")
                                   : QByteArray(); }},
        {"dates of every century",
         [](int i) {
             const int year = i < 100 ? std::max(1, i * 100) : 9999;
             return i <= 100 ? QByteArray("\t\t\t<key>Purchase Date</key><date>")
                                   + QByteArray::number(year).rightJustified(4, '0') + "-02-28T23:59:59Z</date>\n"
                             : QByteArray();
         }},
        {"a carriage return in a comment",
         [](int i) {
             return i == 5 ? QByteArray("\t\t\t<key>Comments</key><string>first line\rsecond\r\nthird</string>\n"
                                        "\t\t\t<key>Name</key><string>\r\nA name\r</string>\n")
                           : QByteArray();
         }},
        {"line ends of carriage returns", {}, true},
        {"a long comment", {}, false, true},
    };
    const auto exportOf = [&](const Variant& v, int count, bool small) {
        QByteArray xml = MusicLibraryBuilder::applicationExport(media, count, [&](int i) {
            QByteArray more = v.extra ? v.extra(i) : QByteArray();
            if (v.longComment && i == 1)
                more += "\t\t\t<key>Comments</key><string>" + (small ? QByteArray("short") : longComment)
                    + "</string>\n";
            return more;
        });
        return v.crlf ? xml.replace("\n", "\r\n") : xml;
    };
    for (const Variant& v : variants) {
        const fs::path smallFile = dir / "small.xml";
        overwrite(smallFile, exportOf(v, 120, true));
        QString error;
        const auto expected = KZiTunesLibrary::fromWholeList(smallFile, &error);
        ASSERT_TRUE(expected) << v.name << ": " << error.toStdString();
        ASSERT_EQ(expected->mediaItems().size(), 120u) << v.name;

        const int count = v.longComment ? 120 : 4200;
        const fs::path largeFile = dir / "large.xml";
        overwrite(largeFile, exportOf(v, count, false));
        ASSERT_GT(fs::file_size(largeFile), KZiTunesLibrary::kMaxOtherExportSize) << v.name;
        const auto library = KZiTunesLibrary::fromFile(largeFile, &error);
        ASSERT_TRUE(library) << v.name << ": " << error.toStdString();
        ASSERT_EQ(library->mediaItems().size(), size_t(count)) << v.name;
        EXPECT_EQ(library->musicFolderLocation(), media) << v.name;
        for (size_t i = 0; i < expected->mediaItems().size(); ++i) {
            const KZiTunesTrack& want = expected->mediaItems()[i];
            const KZiTunesTrack& got = library->mediaItems()[i];
            const std::string at = std::string(v.name) + ", track " + std::to_string(i);
            EXPECT_EQ(got.trackID, want.trackID) << at;
            EXPECT_EQ(got.url, want.url) << at;
            EXPECT_EQ(got.songName, want.songName) << at;
            EXPECT_EQ(got.artist, want.artist) << at;
            EXPECT_EQ(got.album, want.album) << at;
            EXPECT_EQ(got.totalTime, want.totalTime) << at;
            EXPECT_EQ(got.bitRate, want.bitRate) << at;
        }
        // The texts as the application wrote them, carriage returns and all.
        if (v.extra && v.extra(5).contains("A name")) {
            EXPECT_EQ(library->mediaItems()[5].songName, str("\r\nA name\r"));
        }
        EXPECT_EQ(library->mediaItems()[0].artist, str("Band & Co 0")) << v.name;
    }
}

// A long value the reader passes over (a comment of megabytes, a smart
// playlist's rules) is read past, however long; a text it would keep that
// is longer than any an export holds is refused before it is collected,
// naming the file.
TEST(KZiTunesLibraryStream, ALongValuePassedOverIsReadPastAndALongKeptTextRefused)
{
    kztest::TempDir dir;
    const fs::path media = dir.mkdir("Media");
    MusicLibraryBuilder builder(media);
    builder.fileTrack(1, 0x1F, media / "a.wav", str("A"), str("Band"), str("Album"), 61000, 256);
    const QByteArray own = QByteArray::fromStdString(kztest::readFile(builder.write(dir / "own.xml")));
    const qsizetype name = own.indexOf("<key>Name</key>");
    ASSERT_GT(name, 0);
    const QByteArray longText(6 << 20, 'c');
    const QByteArray longData = QByteArray(4 << 20, 'd').toBase64();
    const fs::path file = dir / "library.xml";

    overwrite(file, QByteArray(own).insert(name, QByteArray("<key>Comments</key><string>" + longText + "</string>"
                                                      "<key>Artwork</key><data>" + longData + "</data>")));
    ASSERT_GT(fs::file_size(file), KZiTunesLibrary::kMaxOtherExportSize);
    QString error;
    const auto library = KZiTunesLibrary::fromFile(file, &error);
    ASSERT_TRUE(library) << error.toStdString();
    ASSERT_EQ(library->mediaItems().size(), 1u);
    EXPECT_EQ(library->mediaItems().front().songName, str("A"));

    // Data passed over is checked as the whole reading checks it.
    overwrite(file, QByteArray(own).insert(name, QByteArray("<key>Comments</key><string>" + longText + "</string>"
                                                      "<key>Artwork</key><data>" + longData + "A</data>")));
    bool otherForm = false;
    EXPECT_FALSE(KZiTunesLibrary::fromStream(file, &error, &otherForm));
    EXPECT_TRUE(otherForm);

    const QByteArray longKept = QByteArray(own).replace("<string>A</string>", QByteArray("<string>" + longText + "</string>"));
    overwrite(file, longKept);
    ASSERT_GT(fs::file_size(file), KZiTunesLibrary::kMaxOtherExportSize);
    EXPECT_FALSE(KZiTunesLibrary::fromFile(file, &error));
    EXPECT_TRUE(error.contains(QString::fromStdString(file.native()))) << error.toStdString();
    EXPECT_TRUE(error.contains(str("longer than any a music library export holds"))) << error.toStdString();
    // Where the text starts, not where the reading of it stopped.
    EXPECT_TRUE(error.contains(u"starting at " + kztest::lineAndColumn(longKept, longKept.indexOf("<string>ccc") + 8)))
        << error.toStdString();
}
