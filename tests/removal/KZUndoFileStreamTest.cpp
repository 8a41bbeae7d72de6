// The undo file read as it streams by, against the same file read whole by
// the property-list reader: the two never disagree, and a file of a removal
// far larger than the whole reading takes is read.

#include "RemovalTestSupport.h"

#include "platform/Bookmark.h"
#include "platform/Paths.h"
#include "platform/PropertyList.h"
#include "removal/KZUndoFile.h"
#include "support/SpecialTexts.h"

#include <gtest/gtest.h>

#include <climits>
#include <fstream>

using namespace removaltest;

namespace {

void overwrite(const fs::path& file, const QByteArray& bytes)
{
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes.toStdString();
}

QByteArray contentOf(const fs::path& file)
{
    return QByteArray::fromStdString(kztest::readFile(file));
}

void expectSameContents(const KZUndoFile::Contents& a, const KZUndoFile::Contents& b, const std::string& which)
{
    EXPECT_EQ(a.rootData, b.rootData) << which;
    ASSERT_EQ(a.entries.size(), b.entries.size()) << which;
    for (size_t i = 0; i < a.entries.size(); ++i) {
        const KZUndoFile::Entry& x = a.entries[i];
        const KZUndoFile::Entry& y = b.entries[i];
        EXPECT_EQ(x.raw, y.raw) << which << " entry " << i;
        EXPECT_EQ(x.valid, y.valid) << which << " entry " << i;
        EXPECT_EQ(x.currPosition, y.currPosition) << which << " entry " << i;
        EXPECT_EQ(x.oldPosition, y.oldPosition) << which << " entry " << i;
        EXPECT_EQ(x.aliasWasCreated, y.aliasWasCreated) << which << " entry " << i;
        EXPECT_EQ(x.isiTunesItem, y.isiTunesItem) << which << " entry " << i;
    }
}

// Records as a removal makes them: a UTF-8 path, one that is not (kept as
// data), an item of the music library, a folder made for a move.
std::vector<KZPersistentUndoRecord> sampleRecords(const fs::path& folder)
{
    std::vector<KZPersistentUndoRecord> records;
    const std::vector<std::string> names{"plain.txt", "caf\xC3\xA9 & <co>.txt", "latin1-\xE9\xFF.txt"};
    for (size_t i = 0; i < names.size(); ++i) {
        const fs::path item = folder / names[i];
        std::ofstream(item) << "x";
        KZPersistentUndoRecord record;
        record.oldPosition = item;
        record.currPosition = item;
        record.bookmark = platform::createBookmark(item);
        record.aliasWasCreated = i == 2;
        record.isiTunesItem = i == 1;
        records.push_back(record);
    }
    return records;
}

// The file with `text` put in just before undoItems' end.
QByteArray withEntries(QByteArray xml, const QByteArray& text)
{
    const qsizetype end = xml.lastIndexOf("</array>");
    EXPECT_GT(end, 0);
    return xml.insert(end, text);
}

} // namespace

// Whatever form a file has, read() answers what the whole reading answers:
// the program's own files and the entries it keeps as they are are read
// as they stream by, anything else goes to the property-list reader.
TEST(KZUndoFileStream, EveryFileReadsAsTheWholeReadingReadsIt)
{
    emptyTrash();
    kztest::TempDir dir;
    QVariantList rootData{QByteArray("root bookmark \x01\x02", 16), QStringLiteral("not data, left out")};
    QString error;
    const auto written = KZUndoFile::write(homeTrash(), rootData, sampleRecords(dir.path()), 100.0, &error);
    ASSERT_TRUE(written) << error.toStdString();
    const QByteArray own = contentOf(*written);
    ASSERT_TRUE(own.contains("<data>")) << "a path that is not UTF-8 is kept as data";

    struct Variant {
        const char* name;
        QByteArray xml;
        bool streamed; // read as it streams by, not left to the other reader
    };
    const QByteArray other = "<key>extra</key><array><integer>-42</integer><real>2.5e3</real>"
                             "<date>2024-02-29T23:59:58Z</date><dict><key>n</key><array><false/></array></dict>"
                             "<string> sp&amp;ces &lt;&gt;&quot;&apos; </string></array>";
    QByteArray spacedData = own;
    spacedData.replace("<data>", "<data>\n \t");
    const std::vector<Variant> variants{
        {"the program's own file", own, true},
        {"entries that are no dictionaries",
         withEntries(own, "<true/><string>x</string><true/><array><data>AA==</data></array>"), true},
        {"an entry with values of every kind",
         withEntries(own,
                     "<dict><key>oldPosition</key><string>/a/b</string><key>currPosition</key><data>YWJj</data>" + other
                         + "</dict>"),
         true},
        {"white space inside data", spacedData, true},
        {"a key repeated in an entry",
         withEntries(own,
                     "<dict><key>oldPosition</key><string>/a</string><key>oldPosition</key><string>/b</string>"
                     "<key>currPosition</key><data>YWJj</data></dict>"),
         true},
        {"undoItems that is no array",
         QByteArray(own)
             .replace("<key>undoItems</key>", "<key>undoItemz</key>")
             .replace("<key>rootData</key>", "<key>undoItems</key><true/><key>rootData</key>"),
         true},
        {"no undoItems", QByteArray(own).replace("<key>undoItems</key>", "<key>otherItems</key>"), true},
        {"a comment", withEntries(own, "<!-- a -->"), false},
        {"a comment inside a string", withEntries(own, "<string>a<!--</array>-->b</string>"), false},
        {"CDATA", withEntries(own, "<string><![CDATA[<x>]]></string>"), false},
        {"a DOCTYPE declaring an entity",
         withEntries(QByteArray(own).replace("PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                                             "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\"",
                                             "[<!ENTITY e \"E\">]"),
                     "<string>&e;</string>"),
         false},
        {"a processing instruction", withEntries(own, "<?pi x?>"), false},
        {"carriage returns in a string", withEntries(own, "<string>a\r\nb\rc\r</string><string>\r\n</string>"), true},
        {"line ends of carriage returns", QByteArray(own).replace("\n", "\r\n"), true},
        {"carriage returns in a key and a tag",
         withEntries(own, "<dict\r\n><key>a\r</key\r><string\r>b</string><key>a</key><true\r/></dict>"), true},
        {"a numeric character reference", withEntries(own, "<string>&#38;&#x41;</string>"), false},
        {"an unknown entity", withEntries(own, "<string>&nbsp;</string>"), false},
        {"another encoding", QByteArray(own).replace("encoding=\"UTF-8\"", "encoding=\"ISO-8859-1\""), false},
        {"bytes that are not UTF-8", withEntries(own, "<string>\xE9\xFF</string>"), false},
        {"base64 without padding", withEntries(own, "<data>QQ</data>"), false},
        {"an integer in another base", withEntries(own, "<integer>010</integer>"), false},
        {"dates of every century",
         withEntries(own, "<date>1901-01-01T00:00:00Z</date><date>1965-08-06T07:00:00Z</date>"
                          "<date>0001-01-01T00:00:00Z</date><date>1600-02-29T12:30:59Z</date>"
                          "<date>2100-03-01T00:00:00Z</date><date>9999-12-31T23:59:59Z</date>"),
         true},
        {"a day the calendar lacks", withEntries(own, "<date>1900-02-29T00:00:00Z</date>"), false},
        {"the year 0", withEntries(own, "<date>0000-01-01T00:00:00Z</date>"), false},
        {"an attribute on an element", withEntries(own, "<string a=\"b\">c</string>"), false},
        {"an attribute in single quotes holding '>'",
         withEntries(own, "<dict><key>oldPosition</key><string x='>'>/etc/passwd</string>"
                          "<key>currPosition</key><data>YWJj</data></dict>"),
         false},
        {"the list's attribute in single quotes holding '>'",
         QByteArray(own).replace("<plist version=\"1.0\">", "<plist version='1>0'>"), false},
        {"a DOCTYPE in single quotes", QByteArray(own).replace("\"-//Apple//DTD PLIST 1.0//EN\"", "'-//x>'"),
         false},
        {"an unknown element", withEntries(own, "<uid>1</uid>"), false},
        {"text between elements", withEntries(own, "loose"), false},
        {"undoItems twice",
         QByteArray(own).replace("<key>rootData</key>", "<key>undoItems</key><array/><key>rootData</key>"), false},
        {"nesting deeper than entries have",
         withEntries(own, QByteArray("<array>").repeated(20) + QByteArray("</array>").repeated(20)), false},
        {"another root", "<?xml version=\"1.0\"?><plist><array/></plist>", false},
        {"a truncated file", own.left(own.size() / 2), false},
        {"text after the list", own + "<extra/>", false},
        {"a binary list",
         platform::PropertyList::toData(QVariantMap{{QStringLiteral("undoItems"), QVariantList{true}}},
                                        platform::PropertyList::Format::Binary),
         false},
    };
    const fs::path file = *written;
    for (const Variant& v : variants) {
        if (&v != &variants.front()) {
            EXPECT_NE(v.xml, own) << v.name;
        }
        overwrite(file, v.xml);
        QString streamedError;
        bool otherForm = false;
        const auto streamed = KZUndoFile::readStreamed(file, &streamedError, &otherForm);
        EXPECT_EQ(otherForm, !v.streamed) << v.name << ": " << streamedError.toStdString();
        const auto whole = KZUndoFile::readWhole(file);
        const auto read = KZUndoFile::read(file);
        ASSERT_EQ(bool(read), bool(whole)) << v.name;
        if (read)
            expectSameContents(*read, *whole, v.name);
        if (v.streamed) {
            ASSERT_EQ(bool(streamed), bool(whole)) << v.name;
            if (streamed)
                expectSameContents(*streamed, *whole, v.name);
        }
    }

    // A path holding a NUL names, where the system reads it, another item:
    // the entry is kept as it is, never used.
    overwrite(file, withEntries(own, "<dict><key>oldPosition</key><data>L3RtcC9hAGI=</data>"
                                     "<key>currPosition</key><data>YWJj</data></dict>"));
    bool otherForm = true;
    const auto withNul = KZUndoFile::readStreamed(file, nullptr, &otherForm);
    ASSERT_TRUE(withNul);
    EXPECT_FALSE(otherForm);
    ASSERT_EQ(withNul->entries.size(), 4u);
    EXPECT_FALSE(withNul->entries.back().valid);

    overwrite(file, own);
    const auto contents = KZUndoFile::read(file);
    ASSERT_TRUE(contents);
    ASSERT_EQ(contents->entries.size(), 3u);
    EXPECT_EQ(contents->rootData, QVariantList{rootData.front()});
    EXPECT_EQ(contents->entries[2].oldPosition, dir.path() / "latin1-\xE9\xFF.txt");
    EXPECT_TRUE(contents->entries[2].aliasWasCreated);
    EXPECT_TRUE(contents->entries[1].isiTunesItem);
}

namespace {

// The two readings of `file`, and what read() makes of it, agree; the
// streamed one read it, not leaving it to the other, when `mustStream`.
void expectReadingsAgree(const fs::path& file, const std::string& which, bool mustStream)
{
    QString streamedError;
    bool otherForm = false;
    const auto streamed = KZUndoFile::readStreamed(file, &streamedError, &otherForm);
    if (mustStream) {
        EXPECT_FALSE(otherForm) << which << ": " << streamedError.toStdString();
    }
    const auto whole = KZUndoFile::readWhole(file);
    const auto read = KZUndoFile::read(file);
    ASSERT_EQ(bool(read), bool(whole)) << which;
    if (read)
        expectSameContents(*read, *whole, which);
    if (otherForm)
        return;
    ASSERT_EQ(bool(streamed), bool(whole)) << which << ": " << streamedError.toStdString();
    if (streamed)
        expectSameContents(*streamed, *whole, which);
}

} // namespace

// Every character that conversions of text treat specially, and bytes that
// are no UTF-8, at either end of every key, of every text, and of an
// entry's places and their keys: whichever reading reads the file, every
// byte means the same, so that a comment added never changes which items
// an undo names. A leading byte-order mark is a character of the text.
TEST(KZUndoFileStream, EverySpecialCharacterInKeysAndTextsReadsAsTheWholeReadingReadsIt)
{
    emptyTrash();
    kztest::TempDir dir;
    const fs::path file = writeUndoFile(sampleRecords(dir.path()), 500.0);
    const QByteArray own = contentOf(file);
    for (const kztest::SpecialText& special : kztest::specialTexts()) {
        const QByteArray& s = special.bytes;
        const std::string name = special.name;
        for (const QByteArray& element : {QByteArray("key"), QByteArray("string")})
            for (const auto& [before, after] :
                 {std::pair{s, QByteArray()}, std::pair{QByteArray(), s}, std::pair{s, s}}) {
                overwrite(file, kztest::wrapTexts(own, element, before, after));
                expectReadingsAgree(file, name + " around every " + element.toStdString(), false);
            }
        // Numeric references are always left to the whole reading here.
        const bool streams = special.xmlText && !s.contains('&');
        const QByteArray places = "<dict><key>oldPosition</key><string>" + s + "/a" + s
            + "</string><key>currPosition</key><data>YWJj</data></dict>";
        const QByteArray keys = "<dict><key>" + s + "oldPosition</key><string>/b</string><key>currPosition" + s
            + "</key><data>YWJj</data></dict>";
        const QByteArray entries = withEntries(own, places + keys);
        overwrite(file, entries);
        expectReadingsAgree(file, name + " in an entry's places and keys", streams);
        overwrite(file, withEntries(entries, "<!-- a -->"));
        expectReadingsAgree(file, name + " with a comment", false);
        overwrite(file, QByteArray(own).replace("<key>undoItems</key>", QByteArray("<key>" + s + "undoItems</key>")));
        expectReadingsAgree(file, name + " before undoItems", streams);
    }

    // Kept where a text or a key begins, in the whole reading too: the
    // place is not the one without the mark, and a list under a key that
    // begins with one is no list of entries.
    overwrite(file,
              withEntries(own,
                          "<dict><key>oldPosition</key><string>\xEF\xBB\xBF/a</string>"
                          "<key>currPosition</key><data>YWJj</data></dict><!-- a -->"));
    const auto whole = KZUndoFile::readWhole(file);
    ASSERT_TRUE(whole);
    ASSERT_EQ(whole->entries.size(), 4u);
    // A place that is not absolute is never used, but kept as it was read.
    EXPECT_EQ(whole->entries.back().raw.value(QStringLiteral("oldPosition")).toString(), QStringLiteral("\uFEFF/a"));
    EXPECT_FALSE(whole->entries.back().valid);
    overwrite(
        file,
        withEntries(QByteArray(own).replace("<key>undoItems</key>", "<key>\xEF\xBB\xBFundoItems</key>"), "<!-- a -->"));
    const auto noList = KZUndoFile::readWhole(file);
    ASSERT_TRUE(noList);
    EXPECT_TRUE(noList->entries.empty());
}

// The file of a removal whose undo file is larger than the whole reading
// takes is read entry by entry, each as the whole reading reads it in a small
// file; one larger than any the program writes is refused unread.
TEST(KZUndoFileStream, AnUndoFileLargerThanTheWholeReadingTakesIsRead)
{
    emptyTrash();
    kztest::TempDir dir;
    const auto records = sampleRecords(dir.path());
    const fs::path small = writeUndoFile(records, 200.0);
    const QByteArray xml = contentOf(small);
    const qsizetype first = xml.indexOf("<dict>", xml.indexOf("<key>undoItems</key>"));
    const qsizetype end = xml.lastIndexOf("</array>");
    ASSERT_GT(first, 0);
    const QByteArray body = xml.mid(first, end - first);
    const auto expected = KZUndoFile::readWhole(small);
    ASSERT_TRUE(expected);

    const int copies = int(KZUndoFile::kMaxOtherUndoFileSize / quint64(body.size())) + 100;
    const fs::path large = trashFiles() / ".Maravex4_300.000000";
    {
        std::ofstream out(large, std::ios::binary);
        out.write(xml.constData(), first);
        for (int i = 0; i < copies; ++i)
            out.write(body.constData(), body.size());
        out.write(xml.constData() + end, xml.size() - end);
    }
    ASSERT_GT(fs::file_size(large), KZUndoFile::kMaxOtherUndoFileSize);
    QString error;
    const auto contents = KZUndoFile::read(large, &error);
    ASSERT_TRUE(contents) << error.toStdString();
    ASSERT_EQ(contents->entries.size(), size_t(copies) * records.size());
    for (size_t i : {size_t(0), size_t(1), size_t(2), contents->entries.size() - 1}) {
        const KZUndoFile::Entry& got = contents->entries[i];
        const KZUndoFile::Entry& want = expected->entries[i % records.size()];
        EXPECT_EQ(got.raw, want.raw) << i;
        EXPECT_TRUE(got.valid) << i;
        EXPECT_EQ(got.oldPosition, want.oldPosition) << i;
    }
}

// A value longer than any an undo file holds is refused before it is
// collected, naming the file; a path the system would not take (PATH_MAX
// bytes or more) leaves its entry unusable on both readings; and the file
// read in pieces still sees what follows the list where a piece ends.
TEST(KZUndoFileStream, ALongValueIsRefusedAndWhatFollowsTheListIsSeen)
{
    emptyTrash();
    kztest::TempDir dir;
    const fs::path file = writeUndoFile(sampleRecords(dir.path()), 400.0);
    const QByteArray own = contentOf(file);
    const auto entryWithPath = [&own](qsizetype bytes) {
        return withEntries(own, "<dict><key>currPosition</key><data>YWJj</data><key>oldPosition</key><string>/"
                                    + QByteArray(bytes - 1, 'p') + "</string></dict>");
    };

    overwrite(file, entryWithPath(PATH_MAX));
    bool otherForm = false;
    QString error;
    const auto streamed = KZUndoFile::readStreamed(file, &error, &otherForm);
    const auto whole = KZUndoFile::readWhole(file);
    ASSERT_TRUE(streamed) << error.toStdString();
    ASSERT_TRUE(whole);
    expectSameContents(*streamed, *whole, "a path of PATH_MAX bytes");
    ASSERT_EQ(streamed->entries.size(), 4u);
    EXPECT_FALSE(streamed->entries[3].valid);
    EXPECT_TRUE(streamed->entries[2].valid);

    // Far into the file, the refusal says where the value starts.
    QByteArray longPath = entryWithPath(1024 * 1024);
    longPath.insert(longPath.indexOf("<dict><key>currPosition</key><data>YWJj</data><key>oldPosition"),
                    QByteArray(100'000, ' ') + "\n  ");
    overwrite(file, longPath);
    EXPECT_FALSE(KZUndoFile::readStreamed(file, &error, &otherForm));
    EXPECT_FALSE(otherForm);
    EXPECT_FALSE(KZUndoFile::read(file, &error));
    EXPECT_TRUE(error.contains(platform::pathText(file))) << error.toStdString();
    EXPECT_TRUE(error.contains(QStringLiteral("longer than any an undo file holds"))) << error.toStdString();
    EXPECT_TRUE(error.contains(u"starting at " + kztest::lineAndColumn(longPath, longPath.indexOf("<string>/ppp") + 8)))
        << error.toStdString();

    // The list padded with white space so that it ends where the first
    // piece of 64 KB does.
    QByteArray padded = own;
    padded.insert(padded.indexOf("<key>rootData</key>"), QByteArray(64 * 1024 - own.size(), ' '));
    ASSERT_EQ(padded.size(), 64 * 1024);
    for (const auto& [after, streams] : {std::pair{"\n  \n", true}, std::pair{"<!-- a -->\n", false},
                                        std::pair{"<extra/>", false}}) {
        overwrite(file, padded + after);
        const auto read = KZUndoFile::readStreamed(file, &error, &otherForm);
        EXPECT_EQ(otherForm, !streams) << after;
        EXPECT_EQ(bool(read), streams) << after;
    }
}
