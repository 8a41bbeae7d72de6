#include "media/KZMusicFolderScan.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

// Feeds `xml` in pieces of `piece` bytes (all of it at once for 0).
KZMusicFolderScan scanInPieces(const QByteArray& xml, qsizetype piece)
{
    KZMusicFolderScan scan;
    const qsizetype step = piece == 0 ? xml.size() : piece;
    for (qsizetype at = 0; at < xml.size() && !scan.found(); at += step)
        scan.feed(xml.constData() + at, size_t(std::min(step, xml.size() - at)));
    return scan;
}

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
    for (const qsizetype piece : {0, 1, 2, 3, 5, 8, 13}) {
        SCOPED_TRACE(piece);
        const KZMusicFolderScan scan = scanInPieces(xml, piece);
        EXPECT_TRUE(scan.found());
        EXPECT_EQ(scan.folderURL(), QStringLiteral("file:///music/caf%C3%A9%20&%20co/"));
        EXPECT_FALSE(scanInPieces(QByteArray(xml).replace("Music&#32;Folder", "Music Fo\xff\x00er"), piece).found());
    }
}
