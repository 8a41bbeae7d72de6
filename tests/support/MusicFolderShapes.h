#pragma once

#include "platform/PropertyList.h"
#include "support/LibraryFixtures.h"

#include <QByteArray>
#include <QUrl>
#include <QVariantMap>

#include <filesystem>
#include <string>
#include <vector>

namespace kztest {

// A music library export of ten tracks in `media` whose "Music Folder" entry
// is written in one of the ways a reader may take otherwise than a plain
// scan for tags would, with a decoy folder beside it, cut short at four
// fifths of its bytes, so that no reading takes it.
struct MusicFolderShape {
    const char* name;
    // The entry as it stands in the export, from the real folder's URL
    // (references decoded, as in a CDATA section) and a decoy's.
    QByteArray (*entry)(const QByteArray& url, const QByteArray& decoy);
    // The DOCTYPE in place of the music application's own; empty for it.
    QByteArray (*doctype)(const QByteArray& decoy);
};

inline QByteArray plainEntry(const QByteArray& url)
{
    return "\t<key>Music Folder</key><string>" + QByteArray(url).replace("&", "&#38;") + "</string>\n";
}

inline const std::vector<MusicFolderShape>& musicFolderShapes()
{
    using Q = QByteArray;
    static const std::vector<MusicFolderShape> shapes{
        {"Plain", [](const Q& url, const Q&) -> Q { return plainEntry(url); }, nullptr},
        {"EmptyComment",
         [](const Q& url, const Q& decoy) -> Q { return "<!-->" + plainEntry(decoy) + "-->" + plainEntry(url); }, nullptr},
        {"EmptyCommentWithADash",
         [](const Q& url, const Q& decoy) -> Q { return "<!--->" + plainEntry(decoy) + "-->" + plainEntry(url); }, nullptr},
        {"SubsetEndInAComment", [](const Q& url, const Q&) -> Q { return plainEntry(url); },
         [](const Q& decoy) -> Q { return "<!DOCTYPE plist [ <!-- ]><plist><dict>" + plainEntry(decoy) + "--> ]>\n"; }},
        {"SubsetEndInASingleQuotedLiteral", [](const Q& url, const Q&) -> Q { return plainEntry(url); },
         [](const Q& decoy) -> Q { return "<!DOCTYPE plist [ <!ENTITY e ']><plist><dict>" + plainEntry(decoy) + "'> ]>\n"; }},
        {"SubsetEndInAnInstruction", [](const Q& url, const Q&) -> Q { return plainEntry(url); },
         [](const Q& decoy) -> Q { return "<!DOCTYPE plist [ <?pi ]><plist><dict>" + plainEntry(decoy) + "?> ]>\n"; }},
        {"BracketsInSubsetLiterals", [](const Q& url, const Q&) -> Q { return plainEntry(url); },
         [](const Q& decoy) -> Q {
             return "<!DOCTYPE plist [ <!ENTITY a \"]\"> <!ENTITY b \"[\"> <!ENTITY c \"<plist><dict>"
                 + plainEntry(decoy).replace("\"", "&#34;") + "\"> ]>\n";
         }},
        {"BracketInTheSystemLiteral", [](const Q& url, const Q&) -> Q { return plainEntry(url); },
         [](const Q&) { return Q("<!DOCTYPE plist SYSTEM \"a[b\">\n"); }},
        {"GreaterThanInAnAttribute",
         [](const Q& url, const Q&) -> Q {
             return "\t<key>Music Folder</key><string note=\"a>b\">" + Q(url).replace("&", "&#38;") + "</string>\n";
         },
         nullptr},
        {"GreaterThanInASingleQuotedAttribute",
         [](const Q& url, const Q&) -> Q { return "\t<key note='>'>Music Folder</key>" + plainEntry(url).mid(24); },
         nullptr},
        {"CDataKey",
         [](const Q& url, const Q&) -> Q {
             return "\t<key><![CDATA[Music Folder]]></key><string>" + Q(url).replace("&", "&#38;") + "</string>\n";
         },
         nullptr},
        {"CDataValue",
         [](const Q& url, const Q&) -> Q { return "\t<key>Music Folder</key><string><![CDATA[" + url + "]]></string>\n"; },
         nullptr},
        {"TwiceDecoyFirst", [](const Q& url, const Q& decoy) -> Q { return plainEntry(decoy) + plainEntry(url); }, nullptr},
        {"TwiceDecoyLast", [](const Q& url, const Q& decoy) -> Q { return plainEntry(url) + plainEntry(decoy); }, nullptr},
    };
    return shapes;
}

inline QByteArray musicFolderURL(const std::filesystem::path& folder)
{
    return MusicLibraryBuilder::fileURL(folder, false).toUtf8() + "/";
}

// The export of ten tracks in `media`, its entry in `shape`, whole.
inline QByteArray wholeShapedExport(const MusicFolderShape& shape, const std::filesystem::path& media)
{
    QByteArray xml = MusicLibraryBuilder::applicationExport(media, 10);
    const QByteArray url = musicFolderURL(media);
    const QByteArray own = "\t<key>Music Folder</key><string>" + url + "</string>\n";
    const qsizetype at = xml.indexOf(own);
    xml.replace(at, own.size(), shape.entry(url, "file:///decoy/Media/"));
    if (shape.doctype) {
        const qsizetype start = xml.indexOf("<!DOCTYPE");
        xml.replace(start, xml.indexOf(">\n", start) + 2 - start, shape.doctype("file:///decoy/Media/"));
    }
    return xml;
}

// The same, cut short: no reading takes it.
inline QByteArray cutShapedExport(const MusicFolderShape& shape, const std::filesystem::path& media)
{
    const QByteArray xml = wholeShapedExport(shape, media);
    return xml.left(xml.size() * 4 / 5);
}

// The export of ten tracks in `media` as a binary property list, a track's
// name written to look like a decoy entry, cut short.
inline QByteArray cutBinaryExport(const std::filesystem::path& media)
{
    MusicLibraryBuilder builder(media);
    for (int i = 1; i <= 10; ++i)
        builder.fileTrack(quint64(i), quint64(0xA0 + i), media / ("song " + std::to_string(i) + ".mp3"),
                          i == 3 ? QStringLiteral("<key>Music Folder</key><string>file:///decoy/Media/</string>")
                                 : QStringLiteral("Song"));
    const QByteArray binary =
        platform::PropertyList::toData(builder.dictionary(), platform::PropertyList::Format::Binary);
    return binary.left(binary.size() * 4 / 5);
}

// A binary list of about `bytes` whose text objects overlap: one starts
// every 4 KB and runs 60 KB to a '/', so that each byte lies in 15 folder
// URLs, each another, and each of its 0xFF bytes in them a U+FFFD of three.
inline QByteArray overlappingFolderTexts(qsizetype bytes)
{
    constexpr qsizetype kEvery = 4096;
    constexpr qsizetype kLength = 15 * kEvery - 4;
    QByteArray list = "bplist00";
    for (int n = 0; list.size() < bytes; ++n) {
        QByteArray unit = "\x5F\x11" + QByteArray(1, char(kLength >> 8)) + QByteArray(1, char(kLength & 0xFF))
            + "file:///" + QByteArray::number(n);
        list += unit + QByteArray(kEvery - unit.size() - 1, '\xFF') + '/';
    }
    return list;
}

} // namespace kztest
