#include "media/KZMusicFolderScan.h"

#include "media/KZiTunesLibrary.h"
#include "platform/BinaryPropertyListWriter.h"
#include "services/KZFilesUtilities.h"

#include "TestSupport.h"

#include <QStringEncoder>

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace fs = std::filesystem;

// Exports generated from a seed in every form a reader of the library may
// meet, each read whole as the program reads it, then cut and scanned in
// pieces of any size: the scan keeps out the folder the whole reading names,
// and is sure of none but that one.
namespace {

class Generator {
public:
    explicit Generator(unsigned seed) : rng_(seed) {}

    size_t pick(size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng_); }
    bool chance(int percent) { return int(pick(100)) < percent; }

    // A folder's URL: ASCII, escapes, '&', and characters beyond ASCII and
    // beyond the 16-bit plane, raw (as a hand-made export may hold them).
    QString folderURL(int sample)
    {
        static const QString pieces[] = {QStringLiteral("a"),  QStringLiteral("Zz"),      QStringLiteral("%20"),
                                         QStringLiteral("&"),  QStringLiteral("\u00e9"), QStringLiteral("\u65e5"),
                                         QStringLiteral("<"),  QStringLiteral("'\""),    QStringLiteral("\U0001F600"),
                                         QStringLiteral(";#")};
        QString url = QStringLiteral("file:///gen%1/").arg(sample);
        for (size_t n = pick(12); n > 0; --n)
            url += pieces[pick(std::size(pieces))];
        return chance(90) ? url + u'/' : url;
    }

    std::mt19937 rng_;
};

enum class Encoding { Utf8, Utf16LE, Utf16BE, Latin1, Ascii };

// One export written as XML, with where its top-level entries end.
struct XmlExport {
    QByteArray bytes;
    qsizetype lastEntryEnd = 0;
};

class XmlWriter {
public:
    XmlWriter(Generator& g, Encoding encoding) : g_(g), encoding_(encoding), overlong_(g.chance(4)) {}

    // A text in a key or a string, every character in one of the forms the
    // whole reading decodes; sometimes in CDATA, sometimes split by a comment.
    void text(const QString& s, bool value)
    {
        const uint limit = encoding_ == Encoding::Latin1 ? 0xFF : encoding_ == Encoding::Ascii ? 0x7F : 0x10FFFF;
        const QList<uint> codes = s.toUcs4();
        const bool fits = std::all_of(codes.begin(), codes.end(), [limit](uint c) { return c <= limit; });
        if (value && fits && g_.chance(10) && !s.contains(QStringLiteral("]]>"))) {
            raw(QStringLiteral("<![CDATA[") + s + QStringLiteral("]]>"));
            return;
        }
        for (qsizetype i = 0; i < codes.size(); ++i) {
            if (i > 0 && g_.chance(2))
                raw(QStringLiteral("<!-- <key>Music Folder</key> -->"));
            character(codes[i]);
        }
    }

    void raw(const QString& s) { out_ += s; }
    qsizetype size() const { return out_.size(); }

    // Between elements: nothing, white space, a comment or an instruction
    // holding a decoy entry.
    void between()
    {
        switch (g_.pick(12)) {
        case 0:
            raw(QStringLiteral("<!-- <key>Music Folder</key><string>file:///decoy/</string> -->"));
            break;
        case 1:
            raw(QStringLiteral("<?pi <key>Music Folder</key><string>file:///decoy/</string>?>"));
            break;
        case 2:
            raw(QStringLiteral("\n\t "));
            break;
        default:
            break;
        }
    }

    QString attribute() { return g_.chance(8) ? QStringLiteral(" a=\"b\"") : QString(); }

    void key(const QString& k)
    {
        between();
        raw(QStringLiteral("<key") + attribute() + u'>');
        text(k, false);
        raw(QStringLiteral("</key>"));
    }

    void string(const QString& v)
    {
        raw(QStringLiteral("<string") + attribute() + u'>');
        text(v, true);
        raw(QStringLiteral("</string>"));
    }

    // The characters in the declared encoding, with the mark and the
    // declaration chosen; those before `upTo` alone when given.
    QByteArray bytes(bool mark, bool declared, qsizetype upTo = -1) const
    {
        const char* names[] = {"UTF-8", "UTF-16", "UTF-16", "ISO-8859-1", "US-ASCII"};
        QString doc = declared ? QStringLiteral("<?xml version=\"1.0\" encoding=\"%1\"?>\n")
                                     .arg(QLatin1String(names[int(encoding_)]))
                               : QString();
        doc += upTo < 0 ? out_ : out_.left(upTo);
        switch (encoding_) {
        case Encoding::Utf16LE:
        case Encoding::Utf16BE: {
            QStringEncoder encoder(encoding_ == Encoding::Utf16LE ? QStringEncoder::Utf16LE : QStringEncoder::Utf16BE,
                                   mark ? QStringEncoder::Flag::WriteBom : QStringEncoder::Flag::Default);
            return encoder(doc);
        }
        case Encoding::Latin1:
        case Encoding::Ascii:
            return doc.toLatin1();
        case Encoding::Utf8:
            return (mark ? QByteArray("\xEF\xBB\xBF") : QByteArray()) + doc.toUtf8();
        }
        return {};
    }

private:
    void character(uint c)
    {
        const uint limit = encoding_ == Encoding::Latin1 ? 0xFF : encoding_ == Encoding::Ascii ? 0x7F : 0x10FFFF;
        const bool must = c == '&' || c == '<' || c > limit;
        if (!must && !g_.chance(15)) {
            out_ += QString::fromUcs4(reinterpret_cast<const char32_t*>(&c), 1);
            return;
        }
        // Named references, also as the whole reading takes them: with white
        // space or more letters before the ';'.
        const char* named = c == '&' ? "amp" : c == '<' ? "lt" : c == '>' ? "gt" : c == '"' ? "quot"
                          : c == '\'' ? "apos" : nullptr;
        if (named && g_.chance(50)) {
            static const char* tails[] = {"", "", "", " ", "\t", "x"};
            out_ += QStringLiteral("&%1%2;").arg(QLatin1String(named), QLatin1String(tails[g_.pick(std::size(tails))]));
            return;
        }
        const QString dec = QString::number(c);
        const QString hex = QString::number(c, 16);
        QStringList forms{QStringLiteral("&#%1;").arg(dec), QStringLiteral("&#x%1;").arg(hex),
                          QStringLiteral("&#X%1;").arg(hex.toUpper()), QStringLiteral("&# %1;").arg(dec),
                          QStringLiteral("&#\t%1;").arg(dec), QStringLiteral("&#x %1;").arg(hex),
                          QStringLiteral("&#+%1;").arg(dec), QStringLiteral("&#x0x%1;").arg(hex),
                          QStringLiteral("&#%1;").arg(dec.rightJustified(7, u'0'))};
        // A padding of zeros valid in XML that the whole reading refuses,
        // in a few exports.
        if (overlong_ && g_.chance(10))
            forms = {QStringLiteral("&#%1;").arg(dec.rightJustified(11, u'0'))};
        // Forms longer than the whole reading takes are left to the others.
        QString form;
        do
            form = forms[qsizetype(g_.pick(size_t(forms.size())))];
        while (forms.size() > 1 && form.size() - 2 > 8);
        out_ += form;
    }

    Generator& g_;
    Encoding encoding_;
    bool overlong_;
    QString out_;
};

XmlExport xmlExport(Generator& g, const QString& media)
{
    static const Encoding encodings[] = {Encoding::Utf8, Encoding::Utf8, Encoding::Utf16LE, Encoding::Utf16BE,
                                         Encoding::Latin1, Encoding::Ascii};
    const Encoding encoding = encodings[g.pick(std::size(encodings))];
    XmlWriter w(g, encoding);
    static const QString doctypes[] = {
        QString(),
        QStringLiteral("<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                       "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"),
        QStringLiteral("<!DOCTYPE plist [ <!ENTITY e \"x\"> <!-- <key>Music Folder</key> --> <?p q?> ]>\n"),
    };
    w.raw(doctypes[g.pick(std::size(doctypes))]);
    w.raw(QStringLiteral("<plist version=\"1.0\">"));
    w.between();
    w.raw(QStringLiteral("<dict>"));
    qsizetype lastEntryEnd = 0;
    const auto entry = [&](const QString& url) {
        w.key(QStringLiteral("Music Folder"));
        w.between();
        w.string(url);
        lastEntryEnd = w.size();
    };
    const int place = int(g.pick(3));
    const bool twice = g.chance(10);
    w.key(QStringLiteral("Major Version"));
    w.raw(QStringLiteral("<integer>1</integer>"));
    if (place == 0)
        entry(media);
    if (twice && g.chance(50))
        entry(QStringLiteral("file:///decoy/twice/"));
    w.key(QStringLiteral("Tracks"));
    w.raw(QStringLiteral("<dict>"));
    for (int t = 1; t <= int(1 + g.pick(3)); ++t) {
        w.key(QString::number(t));
        w.raw(QStringLiteral("<dict>"));
        w.key(QStringLiteral("Track ID"));
        w.raw(QStringLiteral("<integer>%1</integer>").arg(t));
        w.key(QStringLiteral("Name"));
        w.string(QStringLiteral("<key>Music Folder</key><string>file:///decoy/name/</string>"));
        // A folder of the track's own under the same key: no entry of the top.
        w.key(QStringLiteral("Music Folder"));
        w.string(QStringLiteral("file:///decoy/track/"));
        w.key(QStringLiteral("Persistent ID"));
        w.string(QStringLiteral("00000000000000A%1").arg(t));
        w.key(QStringLiteral("Location"));
        w.string(media + QStringLiteral("song%1.mp3").arg(t));
        w.raw(QStringLiteral("</dict>"));
    }
    w.raw(QStringLiteral("</dict>"));
    if (place == 1)
        entry(media);
    w.key(QStringLiteral("Playlists"));
    w.raw(QStringLiteral("<array><dict><key>Music Folder</key><string>file:///decoy/list/</string></dict></array>"));
    if (place == 2)
        entry(media);
    if (twice && lastEntryEnd < w.size() - 200)
        entry(QStringLiteral("file:///decoy/twice/"));
    w.between();
    w.raw(QStringLiteral("</dict></plist>\n"));

    const bool wide = encoding == Encoding::Utf16LE || encoding == Encoding::Utf16BE;
    // A declaration wherever no reader could tell the encoding otherwise.
    const bool mark = wide || encoding == Encoding::Utf8 ? g.chance(60) : false;
    const bool declared = encoding == Encoding::Latin1 || encoding == Encoding::Ascii || (wide && !mark) || g.chance(50);
    return {w.bytes(mark, declared), w.bytes(mark, declared, lastEntryEnd).size()};
}

// A binary export whose media folder's URL is `url`, with `around` folder
// URLs (or file URLs, by how they end) before it and as many track URLs
// after it.
QByteArray binaryExport(const QString& url, int around, const QString& beforeEnd = QStringLiteral("/"))
{
    QVariantMap tracks;
    QVariantList before, after;
    for (int t = 1; t <= around; ++t) {
        before.append(QString(QStringLiteral("file:///before/%1").arg(t) + beforeEnd));
        after.append(QStringLiteral("file:///after/%1.mp3").arg(t));
        if (t <= 8)
            tracks.insert(QString::number(t),
                          QVariantMap{{QStringLiteral("Persistent ID"), QStringLiteral("A%1").arg(t)},
                                      {QStringLiteral("Location"), after.back()}});
    }
    // Keys in the order of their texts: folders before the entry, track
    // locations after it.
    const QVariantMap root{{QStringLiteral("A Folders"), before},
                           {QStringLiteral("Music Folder"), url},
                           {QStringLiteral("Tracks"), tracks},
                           {QStringLiteral("Z Locations"), after}};
    platform::BinaryPropertyListWriter writer;
    return writer.finish(writer.value(root));
}

QString urlOfLength(int length, bool wide)
{
    if (length < 10)
        return QString(length, wide ? QChar(0xE9) : QChar(u'x'));
    QString url = QStringLiteral("file:///") + (wide ? QString(QChar(0xE9)) : QString());
    while (url.size() < length - 1)
        url += QChar(char16_t(u'a' + url.size() % 26));
    return url + u'/';
}

struct Checker {
    int sure = 0, doubtful = 0, compared = 0;

    // The scan of the first `cut` bytes of `bytes`, fed in pieces of random
    // sizes, against `whole`, the folder the whole reading of all of them
    // names (empty for none); `holdsEntry` when the cut keeps every entry.
    void check(Generator& g, const QByteArray& bytes, qsizetype cut, const std::optional<fs::path>& read,
               bool holdsEntry, const std::string& what)
    {
        KZMusicFolderScan scan;
        for (qsizetype at = 0; at < cut;) {
            const qsizetype piece = std::min(cut - at, qsizetype(1 + g.pick(g.chance(50) ? 7 : 5000)));
            scan.feed(bytes.constData() + at, size_t(piece));
            at += piece;
        }
        scan.finish();
        std::vector<fs::path> folders;
        for (const QString& url : scan.folderURLs())
            if (const fs::path folder = KZFilesUtilities::pathOfLocalFileURL(url); !folder.empty())
                folders.push_back(folder);
        if (!read)
            return;
        const fs::path& whole = *read;
        ++compared;
        const bool isSure = !scan.inDoubt() && !folders.empty();
        (isSure ? sure : doubtful)++;
        if (isSure && holdsEntry) {
            EXPECT_EQ(folders, std::vector<fs::path>{whole}) << what << ", cut at " << cut << " of " << bytes.size();
        }
        if (!whole.empty() && holdsEntry) {
            EXPECT_NE(std::find(folders.begin(), folders.end(), whole), folders.end())
                << what << ", cut at " << cut << " of " << bytes.size() << ": " << whole << " not kept out";
        }
    }
};

// What the whole reading names; nullopt where it reads nothing.
std::optional<fs::path> wholeReading(const kztest::TempDir& dir, const QByteArray& bytes)
{
    const fs::path file = dir.write("whole.xml", bytes.toStdString());
    const auto library = KZiTunesLibrary::fromFile(file);
    return library ? std::optional<fs::path>(library->musicFolderLocation()) : std::nullopt;
}

} // namespace

TEST(KZMusicFolderScanGenerated, XmlExportsCutAnywhere)
{
    kztest::TempDir dir;
    Generator g(20261210);
    Checker checker;
    int named = 0;
    for (int sample = 0; sample < 2000; ++sample) {
        const QString media = g.folderURL(sample);
        const XmlExport e = xmlExport(g, media);
        const std::optional<fs::path> whole = wholeReading(dir, e.bytes);
        named += whole && !whole->empty() ? 1 : 0;
        const std::string what = "sample " + std::to_string(sample) + " (" + e.bytes.left(300).toStdString() + ")";
        checker.check(g, e.bytes, e.bytes.size(), whole, true, what);
        for (int c = 0; c < 3; ++c) {
            const qsizetype cut = qsizetype(g.pick(size_t(e.bytes.size())));
            checker.check(g, e.bytes, cut, whole, cut >= e.lastEntryEnd + 12, what);
        }
        if (HasFailure())
            break;
    }
    // Most exports name their folder, and the scan is sure of many.
    EXPECT_GT(named, 1000);
    EXPECT_GT(checker.sure, 1000);
}

TEST(KZMusicFolderScanGenerated, BinaryExportsOfEveryLengthCutAnywhere)
{
    kztest::TempDir dir;
    Generator g(89);
    Checker checker;
    for (int length = 1; length <= 300; ++length) {
        for (const bool wide : {false, true}) {
            const QString url = urlOfLength(length, wide);
            const QByteArray bytes = binaryExport(url, length % 7 == 0 ? 40 : 2);
            const std::optional<fs::path> whole = wholeReading(dir, bytes);
            const std::string what = "a URL of " + std::to_string(length) + (wide ? " UTF-16" : " ASCII") + " characters";
            if (length >= 10) {
                EXPECT_EQ(whole, std::optional(KZFilesUtilities::pathOfLocalFileURL(url))) << what;
            }
            // The entry's text ends before the tracks' objects.
            const QByteArray stored = wide ? QStringEncoder(QStringEncoder::Utf16BE)(url) : url.toLatin1();
            const qsizetype end = bytes.indexOf(stored) + stored.size();
            ASSERT_GT(end, stored.size()) << what;
            checker.check(g, bytes, bytes.size(), whole, true, what);
            checker.check(g, bytes, end, whole, true, what);
            checker.check(g, bytes, end + qsizetype(g.pick(size_t(bytes.size() - end))), whole, true, what);
        }
        if (HasFailure())
            break;
    }
}

// A one-byte text object holds what the whole reading makes of it, UTF-8 up
// to a NUL, however it was written: through the top dictionary and through
// the texts alike, whole and cut.
TEST(KZMusicFolderScanGenerated, BinaryOneByteTextsReadAsTheWholeReadingReadsThem)
{
    kztest::TempDir dir;
    Generator g(1);
    Checker checker;
    struct Case {
        const char* what;
        QByteArray stored; // in place of the written "file:///cafXY/"
        const char* folder;
    };
    const Case cases[] = {
        {"UTF-8", "file:///caf\xC3\xA9/", "/caf\u00e9"},
        {"a NUL", QByteArray("file:///ca\0/x/", 14), "/ca"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const QByteArray placeholder = "file:///cafXY/";
        QByteArray bytes = binaryExport(QString::fromLatin1(placeholder), 40);
        const qsizetype at = bytes.indexOf(placeholder);
        ASSERT_GT(at, 0);
        ASSERT_EQ(c.stored.size(), placeholder.size());
        bytes.replace(at, placeholder.size(), c.stored);
        const std::optional<fs::path> whole = wholeReading(dir, bytes);
        ASSERT_TRUE(whole);
        EXPECT_EQ(*whole, fs::path(c.folder));
        for (const qsizetype cut : {bytes.size(), at + placeholder.size(), bytes.size() - 33})
            checker.check(g, bytes, cut, whole, true, c.what);
        const std::vector<fs::path> keptOut =
            KZMusicFolderScan::musicFoldersIn(dir.write("utf8.plist", bytes.toStdString()), KZiTunesLibrary::kMaxExportSize);
        EXPECT_NE(std::find(keptOut.begin(), keptOut.end(), *whole), keptOut.end());
    }
}

// Read from files: an entry that straddles the scan's pieces of the file,
// a binary export past the size the whole reading takes whose entry lies
// among more track URLs than any cap would keep, and data past the bytes
// read, which may name any folder.
TEST(KZMusicFolderScanGenerated, FilesPaddedAcrossPiecesAndLimits)
{
    kztest::TempDir dir;
    const kztest::EnvGuard home("HOME");
    ::setenv("HOME", dir.path().c_str(), 1);
    const auto holds = [](const std::vector<fs::path>& folders, const fs::path& folder) {
        return std::find(folders.begin(), folders.end(), folder) != folders.end();
    };
    const QByteArray head = "<?xml version=\"1.0\" encoding=\"UTF-16\"?><plist><dict><key>Pad</key><string>";
    const QString entry = QStringLiteral("</string><key>Music&#x 20;Folder</key><string>file:///m&#X65;dia/</string>"
                                         "<key>Tracks</key><dict/></dict></plist>");
    for (const qsizetype boundary : {256 * 1024, 512 * 1024}) {
        for (const qsizetype before : {0, 1, 17, 40, 41, 90}) {
            SCOPED_TRACE(std::to_string(boundary) + " - " + std::to_string(before));
            // UTF-16 with its mark: two bytes a character, the entry's text
            // split at the piece's end.
            QString text = QString::fromLatin1(head);
            text += QString((boundary - before) / 2 - text.size() - 1, u'x');
            text += entry;
            const QByteArray bytes = QStringEncoder(QStringEncoder::Utf16LE, QStringEncoder::Flag::WriteBom)(text);
            const fs::path file = dir.write("padded.xml", bytes.toStdString());
            EXPECT_EQ(KZMusicFolderScan::musicFoldersIn(file, KZiTunesLibrary::kMaxExportSize),
                      std::vector<fs::path>{"/media"});
        }
    }

    // Over the size the whole reading takes, its entry between the tracks.
    QByteArray big = binaryExport(QStringLiteral("file:///big/media/"), 100'000);
    ASSERT_GT(big.size(), qsizetype(KZiTunesLibrary::kMaxOtherExportSize));
    const fs::path binary = dir.write("big.plist", big.toStdString());
    EXPECT_EQ(KZiTunesLibrary::fromFile(binary), nullptr);
    for (const qsizetype cut : {big.size(), big.size() - 40, big.size() / 2 + 1})
        EXPECT_TRUE(holds(KZMusicFolderScan::musicFoldersIn(dir.write("big-cut.plist", big.left(cut).toStdString()),
                                                          KZiTunesLibrary::kMaxExportSize),
                          "/big/media"))
            << cut;

    // Whole, a binary export names its entry through its top dictionary,
    // a URL without the '/' of a folder's among more file URLs than a cap
    // would keep.
    const fs::path noSlash = dir.write("no-slash.plist", binaryExport(QStringLiteral("file:///no/slash"), 100, QStringLiteral(".mp3")).toStdString());
    EXPECT_TRUE(holds(KZMusicFolderScan::musicFoldersIn(noSlash, KZiTunesLibrary::kMaxExportSize), "/no/slash"));

    // A decoy within the bytes read, the entry the file means beyond them.
    const QByteArray decoy = "<plist><dict><key>Music Folder</key><string>file:///decoy/</string>";
    const QByteArray lateBytes = decoy + QByteArray(2 << 20, ' ')
        + "<key>Music Folder</key><string>file:///late/</string></dict></plist>";
    const fs::path late = dir.write("late.xml", lateBytes.toStdString());
    const std::vector<fs::path> keptOut = KZMusicFolderScan::musicFoldersIn(late, 1 << 20);
    EXPECT_TRUE(holds(keptOut, "/decoy"));
    EXPECT_TRUE(holds(keptOut, dir.path())) << "in doubt, the export's own folder is kept out";
}

// The whole reading takes a list in every encoding XML readers are held
// to, as they read it, and refuses one in any other, saying which.
TEST(KZMusicFolderScanGenerated, TheWholeReadingHonoursTheDeclaredEncoding)
{
    const QString body = QStringLiteral("<plist><dict><key>Music Folder</key><string>file:///caf\u00e9/</string>"
                                        "<key>Tracks</key><dict/></dict></plist>");
    const auto declared = [&body](const char* name) -> QString {
        return QStringLiteral("<?xml version=\"1.0\" encoding=\"%1\"?>").arg(QLatin1String(name)) + body;
    };
    struct Case {
        const char* name;
        QByteArray bytes;
        bool read;
    };
    const Case cases[] = {
        {"ISO-8859-1", declared("ISO-8859-1").toLatin1(), true},
        {"latin1 in lower case", declared("latin1").toLatin1(), true},
        {"UTF-16 with a mark", QStringEncoder(QStringEncoder::Utf16BE, QStringEncoder::Flag::WriteBom)(body), true},
        {"UTF-16 declared", QStringEncoder(QStringEncoder::Utf16LE)(declared("UTF-16")), true},
        {"UTF-8 with a mark", "\xEF\xBB\xBF" + body.toUtf8(), true},
        {"US-ASCII with a byte beyond it", declared("US-ASCII").toLatin1(), false},
        {"windows-1252", declared("windows-1252").toLatin1(), false},
        {"UTF-16 declared in bytes of one", declared("UTF-16").toUtf8(), false},
        {"ISO-8859-1 after a UTF-8 mark", "\xEF\xBB\xBF" + declared("ISO-8859-1").toLatin1(), false},
    };
    kztest::TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path file = dir.write("export.xml", c.bytes.toStdString());
        QString error;
        const auto library = KZiTunesLibrary::fromFile(file, &error);
        KZMusicFolderScan scan;
        scan.feed(c.bytes.constData(), size_t(c.bytes.size()));
        scan.finish();
        if (c.read) {
            ASSERT_TRUE(library) << error.toStdString();
            EXPECT_EQ(library->musicFolderLocation(), fs::path("/caf\u00e9"));
            EXPECT_FALSE(scan.inDoubt());
            EXPECT_EQ(scan.folderURLs(), std::vector<QString>{QStringLiteral("file:///caf\u00e9/")});
        } else {
            EXPECT_FALSE(library);
            EXPECT_TRUE(error.contains(QLatin1String("encoding"))) << error.toStdString();
            EXPECT_TRUE(scan.inDoubt());
        }
    }
}
