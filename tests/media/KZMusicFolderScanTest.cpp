#include "media/KZMusicFolderScan.h"

#include "media/KZiTunesLibrary.h"
#include "platform/Paths.h"
#include "services/KZFilesUtilities.h"

#include "TestSupport.h"
#include "support/MusicFolderShapes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <random>

#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Feeds `xml` in pieces of `piece` bytes (all of it at once for 0).
KZMusicFolderScan scanInPieces(const QByteArray& xml, qsizetype piece)
{
    KZMusicFolderScan scan;
    const qsizetype step = piece == 0 ? std::max<qsizetype>(xml.size(), 1) : piece;
    for (qsizetype at = 0; at < xml.size(); at += step)
        scan.feed(xml.constData() + at, size_t(std::min(step, xml.size() - at)));
    scan.finish();
    return scan;
}

std::vector<fs::path> foldersOf(const KZMusicFolderScan& scan)
{
    std::vector<fs::path> folders;
    for (const QString& url : scan.folderURLs())
        folders.push_back(KZFilesUtilities::pathOfLocalFileURL(url));
    return folders;
}

bool holds(const std::vector<fs::path>& folders, const fs::path& folder)
{
    return std::find(folders.begin(), folders.end(), folder) != folders.end();
}

constexpr qsizetype kPieces[] = {0, 1, 2, 3, 5, 7, 13, 64, 4096};

} // namespace

// The top dictionary's entry, wherever it lies and however the file comes
// in pieces, past comments, CDATA, an instruction and a DOCTYPE that hold
// tags of their own; never a track's or a playlist's, nor one whose key is
// damaged.
TEST(KZMusicFolderScan, FindsTheTopEntryInAnyPiecesAndNoOther)
{
    const QByteArray xml =
        "<?xml version=\"1.0\"?><!DOCTYPE plist [ <!ENTITY x \"<dict>\"> ]>\n<plist version=\"1.0\">"
        "<!-- <dict> <key>Music Folder</key><string>file:///comment/</string> --><dict>"
        "<key>Tracks</key><dict><key>1</key><dict><key>Music Folder</key><string>file:///track/</string>"
        "<key>Name</key><string><![CDATA[</dict></dict>]]></string></dict></dict>"
        "<key>Playlists</key><array><dict><key>Music Folder</key><string>file:///list/</string></dict></array>"
        "<?pi </dict> ?><key>Music&#32;Folder</key>\n\t<string>file:///music/caf%C3%A9%20&#38;%20co/</string>"
        "</dict></plist>";
    for (const qsizetype piece : kPieces) {
        SCOPED_TRACE(piece);
        const KZMusicFolderScan scan = scanInPieces(xml, piece);
        EXPECT_EQ(scan.folderURLs(), std::vector<QString>{QStringLiteral("file:///music/caf%C3%A9%20&%20co/")});
        EXPECT_FALSE(scan.inDoubt());
        EXPECT_TRUE(
            scanInPieces(QByteArray(xml).replace("Music&#32;Folder", "Music Fo\xff\x00er"), piece)
                .folderURLs()
                .empty());
    }
}

// Each way of writing the entry that a reader takes otherwise than a look
// for tags, in a cut export no reading takes: the real media folder is
// always kept out, split across pieces anywhere; a plain entry alone, and
// nothing else, is beyond doubt.
TEST(KZMusicFolderScan, KeepsTheRealFolderOutWhateverConstructSurroundsIt)
{
    kztest::TempDir dir;
    const fs::path media = dir.mkdir("Music/Media");
    for (const kztest::MusicFolderShape& shape : kztest::musicFolderShapes()) {
        SCOPED_TRACE(shape.name);
        const QByteArray cut = kztest::cutShapedExport(shape, media);
        const fs::path file = dir.write(std::string(shape.name) + ".xml", cut.toStdString());
        ASSERT_EQ(KZiTunesLibrary::fromFile(file), nullptr);
        const std::vector<fs::path> keptOut = KZMusicFolderScan::musicFoldersIn(file, KZiTunesLibrary::kMaxExportSize);
        const bool plain = std::string_view(shape.name) == "Plain";
        for (const qsizetype piece : kPieces) {
            SCOPED_TRACE(piece);
            const KZMusicFolderScan scan = scanInPieces(cut, piece);
            EXPECT_TRUE(holds(foldersOf(scan), media));
            if (plain || std::string_view(shape.name).starts_with("CData")
                || std::string_view(shape.name).starts_with("EmptyComment")
                || std::string_view(shape.name) == "GreaterThanInAnAttribute"
                || std::string_view(shape.name).starts_with("BracketsIn")
                || std::string_view(shape.name) == "BracketInTheSystemLiteral") {
                // Read alike by both readers: one answer.
                EXPECT_FALSE(scan.inDoubt());
                EXPECT_EQ(foldersOf(scan), std::vector<fs::path>{media});
            } else {
                EXPECT_TRUE(scan.inDoubt());
            }
        }
        EXPECT_TRUE(holds(keptOut, media));
        // In doubt, what may hold the library's files besides.
        EXPECT_EQ(holds(keptOut, dir.path()), !(keptOut == std::vector<fs::path>{media}));
    }
}

// A binary export is no text: a track's name that looks like an entry
// names nothing, the text objects that hold a file URL are kept out, and
// with them the export's own folder.
TEST(KZMusicFolderScan, ReadsABinaryExportByItsTextObjectsAlone)
{
    kztest::TempDir dir;
    const fs::path media = dir.mkdir("Music/Media");
    const QByteArray cut = kztest::cutBinaryExport(media);
    for (const qsizetype piece : kPieces) {
        SCOPED_TRACE(piece);
        const KZMusicFolderScan scan = scanInPieces(cut, piece);
        EXPECT_TRUE(scan.inDoubt());
        const std::vector<fs::path> folders = foldersOf(scan);
        EXPECT_TRUE(holds(folders, media));
        EXPECT_FALSE(holds(folders, "/decoy/Media"));
    }
    const fs::path file = dir.write("binary.plist", cut.toStdString());
    const std::vector<fs::path> keptOut = KZMusicFolderScan::musicFoldersIn(file, KZiTunesLibrary::kMaxExportSize);
    EXPECT_TRUE(holds(keptOut, media));
    EXPECT_TRUE(holds(keptOut, dir.path()));
}

// Text objects that overlap, each a folder's URL, name many times more
// bytes of them than the file holds: past half of its bytes the root stands
// for every folder, in whatever pieces the file comes.
TEST(KZMusicFolderScan, KeepsOutTheRootForMoreFolderURLsThanTheBytesRead)
{
    const QByteArray overlapping = kztest::overlappingFolderTexts(1 << 20);
    for (const qsizetype piece : {0, 13, 4096}) {
        SCOPED_TRACE(piece);
        const KZMusicFolderScan scan = scanInPieces(overlapping, piece);
        EXPECT_TRUE(scan.inDoubt());
        EXPECT_EQ(foldersOf(scan), std::vector<fs::path>{"/"});
    }
    kztest::TempDir dir;
    const fs::path file = dir.write("overlapping.plist", overlapping.toStdString());
    EXPECT_TRUE(holds(KZMusicFolderScan::musicFoldersIn(file, KZiTunesLibrary::kMaxExportSize), "/"));
}

// A text that starts while more are open than the scan follows may be the
// media folder's: the root stands for it.
TEST(KZMusicFolderScan, KeepsOutTheRootForATextItCouldNotFollow)
{
    // Sixteen texts of 4 KB, one every 64 bytes, then the entry's.
    QByteArray list = "bplist00";
    for (int n = 0; n < 16; ++n) {
        const QByteArray text = "\x5F\x11\x10\x01" "file:///open/" + QByteArray::number(n) + "/";
        list += text + QByteArray(64 - text.size(), 'x');
    }
    const QByteArray media = "file:///real/media/";
    list += "\x5F\x10" + QByteArray(1, char(media.size())) + media + QByteArray(0x1000, 'x');
    for (const qsizetype piece : {0, 7}) {
        const std::vector<fs::path> folders = foldersOf(scanInPieces(list, piece));
        EXPECT_TRUE(std::any_of(folders.begin(), folders.end(),
                                [](const fs::path& f) { return platform::isInsideFolder("/real/media", f); }))
            << piece;
    }
}

// What leaves room for more than one answer puts the scan in doubt: a value
// cut off, a reference no reader knows, too many folders (the first and the
// last are kept), a hole, a reading stopped; the export's own folder and the
// default media folders are then kept out too.
TEST(KZMusicFolderScan, IsInDoubtWhereTheFileLeavesRoomForMore)
{
    const QByteArray head = "<plist><dict><key>Tracks</key><dict></dict>";
    EXPECT_TRUE(scanInPieces(head + "<key>Music Folder</key><string>file:///a/", 0).inDoubt());
    EXPECT_TRUE(scanInPieces(head + "<key>Music Folder</key>", 0).inDoubt());
    EXPECT_TRUE(scanInPieces(head + "<key>Music&nbsp;Folder</key><string>file:///a/</string>", 0).inDoubt());
    EXPECT_TRUE(scanInPieces(head + "<key>Music Folder</key><string>file:///&x;/</string>", 0).inDoubt());
    EXPECT_TRUE(scanInPieces(head + "<!ENTITY x 'y'><key>Music Folder</key><string>file:///a/</string>", 0).inDoubt());
    EXPECT_TRUE(scanInPieces(head + "<key>Music Folder</key><string>file:///" + QByteArray(70'000, 'a')
                                 + "/</string>",
                             0)
                    .inDoubt());

    QByteArray many = head;
    for (int i = 0; i < 100; ++i)
        many += "<key>Music Folder</key><string>file:///f" + QByteArray::number(i) + "/</string>";
    for (const qsizetype piece : {0, 7}) {
        const KZMusicFolderScan scan = scanInPieces(many, piece);
        EXPECT_TRUE(scan.inDoubt());
        const std::vector<QString> urls = scan.folderURLs();
        EXPECT_EQ(urls.size(), 64u);
        EXPECT_EQ(urls.front(), QStringLiteral("file:///f0/"));
        EXPECT_EQ(urls.back(), QStringLiteral("file:///f99/"));
    }

    kztest::TempDir dir;
    const kztest::EnvGuard home("HOME");
    ::setenv("HOME", dir.path().c_str(), 1);
    const QByteArray whole = head + "<key>Music Folder</key><string>file:///media/</string></dict></plist>\n";
    const fs::path file = dir.write("Exports/Library.xml", whole.toStdString());
    EXPECT_EQ(KZMusicFolderScan::musicFoldersIn(file, 1 << 20), std::vector<fs::path>{"/media"});
    const std::vector<fs::path> inDoubt{"/media", dir.path() / "Exports", dir.path() / "Music/iTunes/iTunes Media",
                                        dir.path() / "Music/iTunes/iTunes Music"};
    const std::atomic<bool> stopped{true};
    EXPECT_EQ(KZMusicFolderScan::musicFoldersIn(file, 1 << 20, &stopped), std::vector<fs::path>(inDoubt.begin() + 1, inDoubt.end()));
    // A hole after the entry: what it hid is not known.
    ASSERT_EQ(::truncate(file.c_str(), off_t(8 << 20)), 0);
    std::ofstream(file, std::ios::binary | std::ios::app) << whole.toStdString();
    EXPECT_EQ(KZMusicFolderScan::musicFoldersIn(file, 16 << 20), inDoubt);
}

// Exports generated with every construct a reader may meet, read whole by
// the program's reading and scanned cut short after their last entry: the
// scan keeps out whatever folder the reading of the whole file names.
TEST(KZMusicFolderScan, KeepsOutWhatTheWholeReadingNames)
{
    kztest::TempDir dir;
    std::mt19937 rng(82);
    const auto pick = [&rng](size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng); };
    const QByteArray decoys[] = {"file:///decoy/One/", "file:///decoy/Two/"};
    int compared = 0;
    for (int sample = 0; sample < 160; ++sample) {
        const fs::path media = dir.path() / ("Media" + std::to_string(sample));
        const std::vector<kztest::MusicFolderShape>& shapes = kztest::musicFolderShapes();
        // One shape of the entry, and one more construct somewhere.
        const kztest::MusicFolderShape& shape = shapes[pick(shapes.size())];
        QByteArray xml = kztest::wholeShapedExport(shape, media);
        const QByteArray decoy = decoys[pick(2)];
        const QByteArray constructs[] = {
            "<!-- " + kztest::plainEntry(decoy) + " -->",
            "<?pi \"?>" + kztest::plainEntry(decoy) + "\" ?>",
            "<?pi '?>" + kztest::plainEntry(decoy) + "' ?>",
            "<!--->" + kztest::plainEntry(decoy) + "-->",
            "<key>Music&#32;Folder</key><string>" + decoy + "</string>",
            "<key>Music<!-- x -->&#x20;Folder</key><string><![CDATA[" + decoy + "]]></string>",
            "<key>Music Folder</key><string note='>'>" + decoy + "</string>",
            "<key>Music Folder</key><string note=\"'\">" + decoy + "</string>",
            "<key>Other</key><string><![CDATA[<key>Music Folder</key><string>" + decoy + "</string>]]></string>",
        };
        const QByteArray& extra = constructs[pick(std::size(constructs))];
        // Before the entry, after it, or after the tracks.
        const qsizetype entry = xml.indexOf("Music Folder");
        const qsizetype places[] = {xml.lastIndexOf("\t<key>", entry), xml.indexOf("\t<key>Tracks"),
                                    xml.indexOf("\t<key>Playlists")};
        const qsizetype place = places[pick(3)];
        xml.insert(place, extra);

        const fs::path whole = dir.write("whole" + std::to_string(sample) + ".xml", xml.toStdString());
        const auto library = KZiTunesLibrary::fromFile(whole);
        if (!library || library->musicFolderLocation().empty())
            continue;
        ++compared;
        // Cut after the last entry, inside the playlists or a track.
        const qsizetype last = std::max(xml.lastIndexOf("Music"), xml.indexOf("\t<key>Playlists"));
        const qsizetype cut = last + 40 + qsizetype(pick(size_t(xml.size() - last - 60)));
        const fs::path shortened = dir.write("cut" + std::to_string(sample) + ".xml", xml.left(cut).toStdString());
        const std::vector<fs::path> keptOut =
            KZMusicFolderScan::musicFoldersIn(shortened, KZiTunesLibrary::kMaxExportSize);
        EXPECT_TRUE(holds(keptOut, library->musicFolderLocation()))
            << "sample " << sample << ", " << shape.name << " with " << extra.toStdString() << " at " << place;
    }
    EXPECT_GE(compared, 60);
}
