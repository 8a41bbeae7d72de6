// Every reader of the program's input, on inputs of the shapes that have
// made a reader pay far more than the bytes it was given: a value shared by
// every record, a count claimed far above the objects present, nesting
// hidden in comments, CDATA and a DOCTYPE, many tiny elements, a sparse
// file, many long keys that widen as they are read, one value as long as
// the file, a list in UTF-16 that is read through UTF-8, lost items whose
// bookmarks each record other folders above them, and a database whose
// query runs or prints without end. Each reading
// runs in a child (kz_bound_reader); its peak memory and its time are held
// to four times the bytes the input holds on disk plus 100 MB, and 2 s per
// 10 MB with a few seconds for starting up. A reader that refuses must name
// the file. The sanitized build runs every case for crashes and sanitizer
// reports alone: its shadow memory and quarantine are no reader's cost.
#include "LibraryFixtures.h"
#include "MusicFolderShapes.h"
#include "TestSupport.h"

#include "platform/BinaryPropertyListWriter.h"
#include "platform/Bookmark.h"
#include "platform/FileStat.h"
#include "platform/PropertyList.h"
#include "resultfiles/KZSavedResultFormat.h"

#include <QStringEncoder>
#include <QtEndian>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <malloc.h>
#include <poll.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
namespace K = KZSavedResultKey;

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

constexpr quint64 kMB = quint64(1) << 20;

// What a file, or every file of a folder, holds on disk.
quint64 bytesOnDisk(const fs::path& path)
{
    quint64 total = 0;
    const auto add = [&total](const fs::path& file) {
        struct stat st {};
        if (::lstat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode))
            total += quint64(st.st_blocks) * 512;
    };
    if (!fs::is_directory(path)) {
        add(path);
        return total;
    }
    for (const auto& entry : fs::recursive_directory_iterator(path))
        add(entry.path());
    return total;
}

struct Outcome {
    bool finished = false; // exited with status 0, not killed
    std::string said;
    std::string how;
    quint64 peakBytes = 0;
    double seconds = 0;
};

// Runs the reader on `file` in a child of its own process group, killed
// (with whatever it started) past `limit`; its address space is capped so
// that a reader that runs away fails the case instead of the machine.
Outcome runReader(const std::string& reader, const fs::path& file, double limit, quint64 addressSpace)
{
    Outcome out;
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        out.how = "no pipe";
        return out;
    }
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setpgid(0, 0);
        ::dup2(pipeFds[1], STDOUT_FILENO);
        ::dup2(pipeFds[1], STDERR_FILENO);
        if (!kSanitized) {
            struct rlimit cap {addressSpace, addressSpace};
            ::setrlimit(RLIMIT_AS, &cap);
        }
        ::execl(KZ_BOUND_READER, KZ_BOUND_READER, reader.c_str(), file.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    bool killed = false;
    for (;;) {
        const double spent = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (spent > limit && !killed) {
            ::kill(-pid, SIGKILL);
            killed = true;
        }
        pollfd p{pipeFds[0], POLLIN, 0};
        if (::poll(&p, 1, 100) > 0) {
            char buffer[4096];
            const ssize_t got = ::read(pipeFds[0], buffer, sizeof buffer);
            if (got <= 0)
                break;
            if (out.said.size() < 65536)
                out.said.append(buffer, size_t(got));
        }
    }
    ::close(pipeFds[0]);
    int status = 0;
    struct rusage usage {};
    ::wait4(pid, &status, 0, &usage);
    ::kill(-pid, SIGKILL); // a tool it started and left behind
    out.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    out.peakBytes = quint64(usage.ru_maxrss) * 1024;
    out.finished = !killed && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    out.how = killed ? "was stopped past its time"
        : WIFSIGNALED(status) ? "died of signal " + std::to_string(WTERMSIG(status))
        : "exited with status " + std::to_string(WEXITSTATUS(status));
    return out;
}

// ---- The shapes --------------------------------------------------------------------------------

// {"a": 1} and a trailer claiming `claimed` objects, one one-byte offset
// each, all naming the dictionary.
std::string claimedCount(quint64 claimed)
{
    std::string list = "bplist00";
    list += std::string("\xD1\x01\x02\x51" "a" "\x10\x01", 7); // at 8, 11, 13
    const quint64 table = list.size();
    list += std::string("\x08\x0B\x0D", 3);
    list.append(size_t(claimed - 3), '\x08');
    std::string trailer(32, '\0');
    trailer[6] = 1;
    trailer[7] = 1;
    for (int i = 0; i < 8; ++i) {
        trailer[8 + i] = char((claimed >> (56 - 8 * i)) & 0xff);
        trailer[24 + i] = char((table >> (56 - 8 * i)) & 0xff);
    }
    return list + trailer;
}

// Nesting far deeper than any reader allows, where a parser must not count
// it: in the DOCTYPE's internal subset, in a comment and in CDATA.
std::string hiddenNesting()
{
    std::string deep;
    for (int i = 0; i < 100000; ++i)
        deep += "<array>";
    return "<?xml version=\"1.0\"?>\n<!DOCTYPE plist [ <!-- " + deep + " --> ]>\n<plist version=\"1.0\"><dict>"
        + "<key>a</key><string><![CDATA[" + deep + "]]></string><!-- " + deep + " --><key>b</key><true/>"
        + "</dict></plist>\n";
}

// Many tiny elements under the key a reader looks at.
std::string tinyElements(const char* key, quint64 bytes)
{
    std::string xml = "<?xml version=\"1.0\"?>\n<plist version=\"1.0\"><dict><key>";
    xml += key;
    xml += "</key><array>";
    xml.reserve(size_t(bytes) + 64);
    while (xml.size() < bytes)
        xml += "<true/>";
    return xml + "</array></dict></plist>\n";
}

// `xml` in UTF-16 with its mark, which a reader turns into UTF-8 before
// it reads it.
std::string inUtf16(const QString& xml)
{
    const QByteArray bytes = QStringEncoder(QStringEncoder::Utf16LE, QStringEncoder::Flag::WriteBom)(xml);
    return bytes.toStdString();
}

// A list of one text of `characters` characters that take three bytes each
// in UTF-8, two in the file.
QString longTextBeyondAscii(const char* key, qsizetype characters)
{
    return QStringLiteral("<?xml version=\"1.0\"?>\n<plist version=\"1.0\"><dict><key>%1</key><string>")
               .arg(QLatin1String(key))
        + QString(characters, QChar(0x65E5)) + QStringLiteral("</string></dict></plist>\n");
}

// A removal's journal of about `bytes`: lines of `line` after its head.
std::string journalOf(const std::string& line, quint64 bytes)
{
    std::string journal = "maravex-removal-journal 1\n";
    journal.reserve(size_t(bytes) + line.size());
    while (journal.size() < bytes)
        journal += line;
    return journal;
}

// A list that starts like one and claims `apparent` bytes it never wrote.
fs::path sparse(const fs::path& file, quint64 apparent)
{
    const std::string head = "<?xml version=\"1.0\"?>\n<plist version=\"1.0\"><dict></dict></plist>\n";
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(::write(fd, head.data(), head.size()), ssize_t(head.size()));
    EXPECT_EQ(::ftruncate(fd, off_t(apparent)), 0);
    ::close(fd);
    return file;
}

QByteArray written(platform::BinaryPropertyListWriter& writer, platform::BinaryPropertyListWriter::Ref top)
{
    QString error;
    const QByteArray list = writer.finish(top, &error);
    EXPECT_FALSE(list.isEmpty()) << error.toStdString();
    return list;
}

// A binary list that holds about `bytes` bytes of real objects, each one
// object: what a bookmark that claims a million objects looks like.
QByteArray manyObjects(quint64 bytes)
{
    platform::BinaryPropertyListWriter writer;
    std::vector<platform::BinaryPropertyListWriter::Ref> numbers;
    for (quint64 i = 0; i * 8 < bytes; ++i)
        numbers.push_back(writer.integer(qint64(1000 + i)));
    return written(writer, writer.array(numbers));
}

// A saved result of `records` items in pairs, one source searched, every
// item with the bookmark `alias`.
KZSavedResult resultOfPairsSharing(const fs::path& source, int records, const QByteArray& alias)
{
    KZSavedResult result;
    KZSavedSource saved;
    saved.alias = platform::createBookmark(source);
    saved.wasSearched = true;
    result.sources.push_back(saved);
    for (int i = 0; i < records; ++i) {
        KZSavedItem item;
        item.alias = alias;
        item.groupId = i / 2;
        item.countOfItemsInGroup = 2;
        item.locationLabelTag = 0;
        result.items.push_back(item);
    }
    return result;
}

// A saved result of `records` items that all share one large bookmark, and
// one large text under a key of their own.
QByteArray savedResultSharingOneValue(const fs::path& source, int records)
{
    QVariantMap root =
        KZSavedResultFormat::toPropertyList(resultOfPairsSharing(source, records, manyObjects(1 * kMB)));
    QVariantList items = root.value(K::items).toList();
    const QString text(64 * 1024, QLatin1Char('x'));
    for (QVariant& item : items) {
        QVariantMap map = item.toMap();
        map.insert(QStringLiteral("note"), text);
        item = map;
    }
    root.insert(K::items, items);
    platform::BinaryPropertyListWriter writer;
    return written(writer, writer.value(root));
}

// A saved result of `records` items that all share one bookmark, a large
// one written as XML.
QByteArray savedResultSharingOneBookmark(const fs::path& source, int records)
{
    const QByteArray shared = platform::PropertyList::toData(
        QVariantMap{{QStringLiteral("path"), QByteArray((source / "gone").c_str())},
                    {QStringLiteral("pathString"), QString(20 * 1024, QLatin1Char('p'))},
                    {QStringLiteral("device"), 1},
                    {QStringLiteral("inode"), 2}},
        platform::PropertyList::Format::Xml);
    platform::BinaryPropertyListWriter writer;
    return written(writer,
                   writer.value(KZSavedResultFormat::toPropertyList(resultOfPairsSharing(source, records, shared))));
}

// A saved result of `records` items gone from one folder, each bookmark
// with a record of the folders above that no other holds: each lost item
// walks a way down of its own.
QByteArray savedResultOfFolderRecordsOfTheirOwn(const fs::path& source, int records)
{
    const QVariant device = quint64(platform::statPath(source, false)->device);
    KZSavedResult result = resultOfPairsSharing(source, records, {});
    for (int i = 0; i < records; ++i) {
        QByteArray folders(10, '\0');
        folders[0] = 1;
        qToBigEndian(quint64(i + 1), folders.data() + 1);
        const fs::path item = source / "gone" / ("f" + std::to_string(i));
        const QVariantMap bookmark{{QStringLiteral("path"), QByteArray(item.c_str())},
                                   {QStringLiteral("device"), device},
                                   {QStringLiteral("inode"), i + 2},
                                   {QStringLiteral("folders"), folders}};
        platform::BinaryPropertyListWriter writer;
        result.items[size_t(i)].alias = written(writer, writer.value(bookmark));
    }
    platform::BinaryPropertyListWriter writer;
    return written(writer, writer.value(KZSavedResultFormat::toPropertyList(result)));
}

// An undo file whose every item refers to one large value.
QByteArray undoFileSharingOneValue(int entries)
{
    platform::BinaryPropertyListWriter writer;
    const auto shared = writer.data(QByteArray(int(kMB), 'b'));
    const auto path = writer.string(QStringLiteral("/gone/item"));
    const auto no = writer.boolean(false);
    std::vector<platform::BinaryPropertyListWriter::Ref> items;
    for (int i = 0; i < entries; ++i)
        items.push_back(writer.dictionary({{writer.string(QStringLiteral("currPosition")), shared},
                                           {writer.string(QStringLiteral("oldPosition")), path},
                                           {writer.string(QStringLiteral("aliasWasCreated")), no},
                                           {writer.string(QStringLiteral("isiTunesItem")), no}}));
    const auto top = writer.dictionary({{writer.string(QStringLiteral("rootData")), writer.array({})},
                                        {writer.string(QStringLiteral("undoItems")), writer.array(items)}});
    return written(writer, top);
}

// An undo file as a removal of `entries` items writes it, each with a
// bookmark of some 300 bytes and a path of some 60.
std::string undoFileOfManyEntries(int entries)
{
    const std::string bookmark = QByteArray(220, 'b').toBase64().toStdString();
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST "
                      "1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n<plist version=\"1.0\">\n"
                      "<dict>\n\t<key>rootData</key>\n\t<array/>\n\t<key>undoItems</key>\n\t<array>\n";
    for (int i = 0; i < entries; ++i)
        xml += "\t\t<dict>\n\t\t\t<key>aliasWasCreated</key>\n\t\t\t<false/>\n\t\t\t<key>currPosition</key>\n"
               "\t\t\t<data>\n\t\t\t" + bookmark + "\n\t\t\t</data>\n\t\t\t<key>oldPosition</key>\n"
               "\t\t\t<string>/home/someone/Pictures/2019/Holidays/IMG_" + std::to_string(i)
            + ".jpg</string>\n\t\t</dict>\n";
    return xml + "\t</array>\n</dict>\n</plist>\n";
}

// Exports of about `bytes` bytes no reading takes, each made of one
// construct the search for the media folder must read past, over and over.
std::vector<std::pair<std::string, std::string>> musicFolderScanShapes(size_t bytes)
{
    const std::string head = "<?xml version=\"1.0\"?>\n<plist version=\"1.0\">\n<dict>\n";
    const auto repeated = [&](const std::string& start, const std::string& unit, const std::string& end = {}) {
        std::string text = head + start;
        text.reserve(bytes + end.size() + unit.size());
        while (text.size() < bytes)
            text += unit;
        return text + end;
    };
    const std::string entry = "<key>Music Folder</key><string>file:///home/someone/Music/</string>";
    std::string binary = "bplist00";
    while (binary.size() < bytes)
        binary += std::string("\x5f\x10\x30" "file://") + std::string(41, 'a') + std::string("\x5e\x00\x0f" "file://", 10);
    // Texts of folder URLs, each another, every one of which is kept out.
    std::string folders = "bplist00";
    for (size_t n = 0; folders.size() < bytes; ++n) {
        const std::string url = "file:///f/" + std::to_string(n) + "/";
        folders += char(0x50 | std::min<size_t>(url.size(), 0xF)) + std::string(url.size() >= 0xF ? "\x10" : "")
            + (url.size() >= 0xF ? std::string(1, char(url.size())) : std::string()) + url;
    }
    // UTF-16 with its mark: the scan reads it through its conversion.
    std::string wide = "\xFF\xFE";
    for (const char c : head + "<key>Music Folder</key><string>")
        wide += std::string{c, '\0'};
    while (wide.size() < bytes)
        wide += std::string("&\0#\0 \0" "7\0" "7\0;\0", 12);
    return {
        {"many empty keys", repeated("", "<key></key>")},
        {"many entries of the media folder", repeated("", entry)},
        {"deep nesting", repeated("", "<dict><key>a</key><array>")},
        {"one long comment", repeated("<!--", "- <key>Music Folder</key> -", "-->")},
        {"many empty comments", repeated("", "<!--><!--->-->")},
        {"many CDATA keys", repeated("", "<key><![CDATA[Music Folder]]></key><string><![CDATA[x]]></string>")},
        {"one long attribute value", repeated("<string a=\"", ">'<", "\">")},
        {"many attributes holding '>'", repeated("", "<key a='>' b=\"'>\">Music Folder</key>")},
        {"a long internal subset", repeated("<!DOCTYPE plist [", "<!ENTITY e ']>'><!-- ]> --><?p ]> ?>", "]>")},
        {"many references in a key", repeated("<key>", "&#77;&amp;&#x46;", "</key>")},
        {"one long value of the media folder", repeated("<key>Music Folder</key><string>", "file:///&#38;")},
        {"a binary export of look-alike texts", binary},
        {"a binary export of many folder URLs", folders},
        {"a binary export of overlapping folder URLs", kztest::overlappingFolderTexts(qsizetype(bytes)).toStdString()},
        {"a UTF-16 export of one long value of references", wide},
        {"many references the library decodes in a key", repeated("<key>", "&#X4D;&# 77;&#x 4d;&amp ;&ltx;", "</key>")},
    };
}

// A music library export of about `bytes` bytes: tracks as the music
// application writes them, or the smallest a track may be (its identity
// and its file, nothing else).
std::string musicLibraryExport(quint64 bytes, bool smallest)
{
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST "
                      "1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n<plist version=\"1.0\">\n"
                      "<dict>\n\t<key>Major Version</key><integer>1</integer>\n\t<key>Music Folder</key>"
                      "<string>file:///home/someone/Music/</string>\n\t<key>Tracks</key>\n\t<dict>\n";
    xml.reserve(size_t(bytes) + 4096);
    char id[17];
    for (quint64 i = 1; xml.size() < bytes; ++i) {
        std::snprintf(id, sizeof id, "%016llX", static_cast<unsigned long long>(i));
        const std::string n = std::to_string(i);
        if (smallest) {
            xml += "<key>" + n + "</key><dict><key>Persistent ID</key><string>" + id
                + "</string><key>Location</key><string>file:///m/" + n + "</string></dict>";
            continue;
        }
        xml += "\t\t<key>" + n + "</key>\n\t\t<dict>\n\t\t\t<key>Track ID</key><integer>" + n
            + "</integer>\n\t\t\t<key>Name</key><string>Song " + n + " &#38; more</string>\n"
              "\t\t\t<key>Artist</key><string>Some Artist</string>\n\t\t\t<key>Album</key><string>Some Album"
              "</string>\n\t\t\t<key>Genre</key><string>Rock</string>\n\t\t\t<key>Kind</key><string>MPEG audio "
              "file</string>\n\t\t\t<key>Size</key><integer>7654321</integer>\n\t\t\t<key>Total Time</key>"
              "<integer>239900</integer>\n\t\t\t<key>Date Added</key><date>2019-05-04T10:11:12Z</date>\n"
              "\t\t\t<key>Bit Rate</key><integer>320</integer>\n\t\t\t<key>Persistent ID</key><string>"
            + id + "</string>\n\t\t\t<key>Track Type</key><string>File</string>\n\t\t\t<key>Location</key>"
                   "<string>file:///home/someone/Music/Some%20Artist/Some%20Album/" + n + "%20Song.mp3</string>\n"
                   "\t\t</dict>\n";
    }
    return xml + "\t</dict>\n\t<key>Playlists</key>\n\t<array>\n\t\t<dict>\n\t\t\t<key>Name</key><string>Library"
                 "</string>\n\t\t\t<key>Playlist Items</key>\n\t\t\t<array>\n\t\t\t\t<dict><key>Track ID</key>"
                 "<integer>1</integer></dict>\n\t\t\t</array>\n\t\t</dict>\n\t</array>\n</dict>\n</plist>\n";
}

// A dictionary of `keys` keys whose values are all one large value.
QByteArray dictionarySharingOneValue(int keys)
{
    platform::BinaryPropertyListWriter writer;
    const auto shared = writer.data(QByteArray(int(kMB), 'd'));
    std::vector<std::pair<platform::BinaryPropertyListWriter::Ref, platform::BinaryPropertyListWriter::Ref>> entries;
    for (int i = 0; i < keys; ++i)
        entries.emplace_back(writer.string(QStringLiteral("k%1").arg(i)), shared);
    return written(writer, writer.dictionary(entries));
}

// The head of an undo file as a removal writes it, up to its entries.
const char* const kUndoFileHead =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
    "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n<plist version=\"1.0\">\n<dict>\n";

// An undo file of one entry whose path is `bytes` long: far past any path
// the system takes.
std::string undoFileOfOneLongPath(quint64 bytes)
{
    std::string xml = kUndoFileHead;
    xml += "\t<key>rootData</key>\n\t<array/>\n\t<key>undoItems</key>\n\t<array>\n\t\t<dict>\n"
           "\t\t\t<key>aliasWasCreated</key>\n\t\t\t<false/>\n\t\t\t<key>currPosition</key>\n"
           "\t\t\t<data>\n\t\t\tYm9va21hcms=\n\t\t\t</data>\n\t\t\t<key>oldPosition</key>\n\t\t\t<string>";
    xml.reserve(size_t(bytes) + 256);
    while (xml.size() < bytes)
        xml += "/a-folder-of-a-long-path";
    return xml + "</string>\n\t\t</dict>\n\t</array>\n</dict>\n</plist>\n";
}

// `bytes` of base64 in lines as the writer breaks them.
void appendBase64(std::string* xml, quint64 bytes)
{
    xml->reserve(xml->size() + size_t(bytes) + 256);
    const std::string line = "\t" + std::string(68, 'Q') + "\n";
    for (quint64 written = 0; written < bytes; written += line.size())
        *xml += line;
}

// An undo file whose rootData is one data value of `bytes`.
std::string undoFileOfLongRootData(quint64 bytes)
{
    std::string xml = kUndoFileHead;
    xml += "\t<key>rootData</key>\n\t<data>\n";
    appendBase64(&xml, bytes);
    return xml + "\t</data>\n\t<key>undoItems</key>\n\t<array/>\n</dict>\n</plist>\n";
}

// A small export whose one playlist holds a smart playlist's rules of
// `bytes`, a value the reader passes over.
std::string exportOfLongPlaylistValue(quint64 bytes)
{
    std::string xml = musicLibraryExport(64 * 1024, false);
    const std::string playlist = "<key>Name</key><string>Library</string>";
    std::string rules = "\n\t\t\t<key>Smart Info</key>\n\t\t\t<data>\n";
    appendBase64(&rules, bytes);
    rules += "\t\t\t</data>";
    const size_t at = xml.rfind(playlist);
    EXPECT_NE(at, std::string::npos);
    return xml.insert(at + playlist.size(), rules);
}

// A binary list of about `bytes`: one dictionary of keys "k<i>" padded to
// `keyLength` characters, every value one shared `true`; every offset and
// reference distinct and in range. As many keys as the list's size lets
// through when an entry is counted as its references and its key's object.
std::string wideDictionary(quint64 bytes, unsigned keyLength)
{
    const auto bigEndian = [](std::string* out, quint64 value, unsigned width) {
        for (unsigned i = 0; i < width; ++i)
            out->push_back(char((value >> (8 * (width - 1 - i))) & 0xff));
    };
    const quint64 keys = bytes / (3 + keyLength + 4 + 2 * 3); // a key's object, offset and references
    const quint64 objects = keys + 2; // the dictionary, `true`, the keys
    const unsigned refSize = objects < (1u << 16) ? 2 : objects < (1u << 24) ? 3 : 4;
    std::string list = "bplist00";
    list.reserve(size_t(bytes) + 64);
    std::vector<quint64> offsets;
    offsets.push_back(list.size());
    list += '\xDF';
    list += '\x13';
    bigEndian(&list, keys, 8);
    for (quint64 i = 0; i < keys; ++i)
        bigEndian(&list, 2 + i, refSize);
    for (quint64 i = 0; i < keys; ++i)
        bigEndian(&list, 1, refSize);
    offsets.push_back(list.size());
    list += '\x09';
    for (quint64 i = 0; i < keys; ++i) {
        offsets.push_back(list.size());
        std::string key = "k" + std::to_string(i);
        key.resize(keyLength, 'x');
        list += "\x5F\x10" + std::string(1, char(keyLength)) + key;
    }
    const quint64 table = list.size();
    const unsigned offsetSize = table < (quint64(1) << 24) ? 3 : 4;
    for (const quint64 offset : offsets)
        bigEndian(&list, offset, offsetSize);
    std::string trailer(6, '\0');
    trailer += char(offsetSize);
    trailer += char(refSize);
    bigEndian(&trailer, objects, 8);
    bigEndian(&trailer, 0, 8);
    bigEndian(&trailer, table, 8);
    return list + trailer;
}

// A binary list of about `bytes`: many records, each a dictionary of the
// same 16 long keys, every value one shared `true`, read as maps of their
// own, and one data value filling the rest.
QByteArray recordsOfLongKeys(quint64 bytes)
{
    platform::BinaryPropertyListWriter writer;
    std::vector<std::pair<platform::BinaryPropertyListWriter::Ref, platform::BinaryPropertyListWriter::Ref>> entries;
    const auto yes = writer.boolean(true);
    for (int k = 0; k < 16; ++k)
        entries.emplace_back(writer.string(QStringLiteral("k%1").arg(k).leftJustified(32, QLatin1Char('x'))), yes);
    std::vector<platform::BinaryPropertyListWriter::Ref> records;
    // Each record: its dictionary's head, its offset and 32 references.
    for (quint64 written = 0; written < bytes / 4; written += 2 + 4 + 32 * 3)
        records.push_back(writer.dictionary(entries));
    const auto fill = writer.data(QByteArray(qsizetype(bytes - bytes / 4), 'f'));
    return written(writer, writer.dictionary({{writer.string(QStringLiteral("undoItems")), writer.array(records)},
                                              {writer.string(QStringLiteral("fill")), fill}}));
}

struct Case {
    std::string reader;
    std::string shape;
    fs::path input;
    bool namesFile = true; // a refusal says which file
    bool mustRead = false; // a file the program wrote, never refused
};

// ---- The check -------------------------------------------------------------------------------

TEST(InputCostBound, EveryReaderPaysForWhatItReadsNoMoreThanItsBytesAllow)
{
    kztest::TempDir dir;
    const auto file = [&dir](const std::string& name, const QByteArray& bytes) {
        return dir.write(name, std::string(bytes.constData(), size_t(bytes.size())));
    };
    const fs::path source = dir.mkdir("searched");

    const fs::path claimed = dir.write("claimed-count.plist", claimedCount(20'000'000));
    const fs::path claimedSmall = dir.write("claimed-count-bookmark", claimedCount(60'000));
    const fs::path nested = dir.write("hidden-nesting.plist", hiddenNesting());
    const fs::path tinyUndo = dir.write("tiny-elements-undo.plist", tinyElements("undoItems", 10 * kMB));
    const fs::path tinySaved = dir.write("tiny-elements-saved.maravex", tinyElements("items", 10 * kMB));
    const fs::path tinyTracks = dir.write("tiny-elements-tracks.xml", tinyElements("Tracks", 10 * kMB));
    const fs::path tinyWide =
        dir.write("tiny-elements-utf16.plist", inUtf16(QString::fromStdString(tinyElements("undoItems", 5 * kMB))));
    const fs::path longWide = dir.write("long-text-utf16.plist", inUtf16(longTextBeyondAscii("text", 5 * kMB)));
    const fs::path sparseList = sparse(dir.path() / "sparse.plist", 200 * kMB);
    const fs::path sharedSaved = file("shared-value.maravex", savedResultSharingOneValue(source, 5000));
    const fs::path sharedBookmark = file("shared-bookmark.maravex", savedResultSharingOneBookmark(source, 20000));
    const fs::path ownFolders =
        file("folders-of-their-own.maravex", savedResultOfFolderRecordsOfTheirOwn(source, 80000));
    const fs::path sharedUndo = file("shared-value-undo.plist", undoFileSharingOneValue(5000));
    const fs::path sharedDict = file("shared-value.plist", dictionarySharingOneValue(5000));
    // Larger than a property list may be to be read whole.
    const fs::path manyEntries = dir.write("many-entries-undo.plist", undoFileOfManyEntries(300'000));
    const fs::path tinyLargeUndo = dir.write("tiny-elements-large-undo.plist", tinyElements("undoItems", 140 * kMB));
    const fs::path tinyTracksExport = dir.write("tiny-tracks.xml", musicLibraryExport(24 * kMB, true));
    const fs::path largeExport = dir.write("large-export.xml", musicLibraryExport(32 * kMB, false));
    const fs::path bigBookmark = file("bookmark-of-many-objects", manyObjects(1300 * 1024));
    const QByteArray xmlBookmark = platform::PropertyList::toData(
        QVariantMap{{QStringLiteral("path"), QByteArray(40 * 1024, 'p')}}, platform::PropertyList::Format::Xml);
    const fs::path bookmarkXml = file("bookmark-xml", xmlBookmark);
    const fs::path longPath = dir.write("long-path-undo.plist", undoFileOfOneLongPath(60 * kMB));
    const fs::path longPathLarge = dir.write("long-path-large-undo.plist", undoFileOfOneLongPath(150 * kMB));
    const fs::path longRootData = dir.write("long-root-data-undo.plist", undoFileOfLongRootData(60 * kMB));
    const fs::path longRules = dir.write("long-playlist-value.xml", exportOfLongPlaylistValue(60 * kMB));
    const fs::path wideUndo = dir.write("wide-dictionary-undo.plist", wideDictionary(60 * kMB, 24));
    const fs::path wideUndoLarge = dir.write("wide-dictionary-large-undo.plist", wideDictionary(120 * kMB, 28));
    const fs::path longKeyRecords = file("records-of-long-keys-undo.plist", recordsOfLongKeys(60 * kMB));

    // Photo libraries: a view that loops without an answer, one that
    // answers without end, and a log that claims gigabytes it does not hold.
    const auto library = [&dir](const std::string& name, const std::string& view) {
        const fs::path package = kztest::PhotosLibraryBuilder(dir.path() / name).withoutTable("RKVersion").build();
        const fs::path database = package / "database" / "Photos.db";
        const std::string sql = "CREATE VIEW RKVersion AS WITH RECURSIVE r(n) AS (SELECT 1 UNION ALL SELECT n + 1 "
                                "FROM r) SELECT 'u' || n AS uuid, 'm' AS masterUuid, 0 AS isInTrash FROM r"
            + view + ";";
        const std::string command = "sqlite3 '" + database.native() + "' \"" + sql + "\"";
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
        return package;
    };
    const fs::path loops = library("Loops.photoslibrary", " WHERE n < 0");
    const fs::path prints = library("Prints.photoslibrary", "");
    const fs::path sparseLog = kztest::PhotosLibraryBuilder(dir.path() / "SparseLog.photoslibrary")
                                   .version(QStringLiteral("v1"), QStringLiteral("m1"))
                                   .inWAL()
                                   .version(QStringLiteral("v2"), QStringLiteral("m1"))
                                   .build();
    {
        const fs::path wal = sparseLog / "database" / "Photos.db-wal";
        ASSERT_TRUE(fs::exists(wal));
        ASSERT_EQ(::truncate(wal.c_str(), off_t(4096 * kMB)), 0);
    }

    // A child forked from this process starts with what it holds resident:
    // the shapes it built are given back first.
    ::malloc_trim(0);

    std::vector<Case> cases;
    const std::vector<std::string> savedReaders{"saved-result", "saved-result-in-order", "saved-result-reopened"};
    for (const std::string& reader : savedReaders) {
        cases.push_back({reader, "a value shared by every record", sharedSaved});
        cases.push_back({reader, "a bookmark shared by every record", sharedBookmark});
        cases.push_back({reader, "a claimed count far above the objects", claimed});
        cases.push_back({reader, "nesting hidden in comments, CDATA and a DOCTYPE", nested});
        cases.push_back({reader, "many tiny elements", tinySaved});
        cases.push_back({reader, "a sparse file", sparseList});
        cases.push_back({reader, "one dictionary of many long keys", wideUndoLarge});
        cases.push_back({reader, "many tiny elements in UTF-16", tinyWide});
        cases.push_back({reader, "one long text in UTF-16 beyond ASCII", longWide});
    }
    cases.push_back({"saved-result-reopened", "every lost record with folders above of its own", ownFolders});
    cases.push_back({"bookmark", "a claimed count far above the objects", claimedSmall, false});
    cases.push_back({"bookmark", "a list of a million objects", bigBookmark, false});
    cases.push_back({"bookmark", "a large XML bookmark", bookmarkXml, false});
    cases.push_back({"bookmark", "nesting hidden in comments, CDATA and a DOCTYPE", nested, false});
    for (const std::string reader : {"undo-file", "restore-listing"}) {
        cases.push_back({reader, "a value shared by every record", sharedUndo});
        cases.push_back({reader, "a claimed count far above the objects", claimed});
        cases.push_back({reader, "nesting hidden in comments, CDATA and a DOCTYPE", nested});
        cases.push_back({reader, "many tiny elements", tinyUndo});
        cases.push_back({reader, "a sparse file", sparseList});
        cases.push_back({reader, "the file of a removal of 300,000 items", manyEntries, true, true});
        cases.push_back({reader, "one path of 60 MB", longPath});
        cases.push_back({reader, "one data value of 60 MB", longRootData});
        cases.push_back({reader, "one dictionary of many long keys", wideUndo});
        cases.push_back({reader, "one dictionary of many long keys, larger", wideUndoLarge});
        cases.push_back({reader, "many records of the same long keys", longKeyRecords});
        cases.push_back({reader, "many tiny elements in UTF-16", tinyWide});
        cases.push_back({reader, "one long text in UTF-16 beyond ASCII", longWide});
    }
    cases.push_back({"restore-listing", "one path too large to read whole", longPathLarge});
    cases.push_back({"undo-file", "many tiny elements, too many to read whole", tinyLargeUndo});
    for (const std::string reader : {"defaults", "criteria", "saved-search", "music-library-export"}) {
        cases.push_back({reader, "a value shared by every record", sharedDict});
        cases.push_back({reader, "a claimed count far above the objects", claimed});
        cases.push_back({reader, "nesting hidden in comments, CDATA and a DOCTYPE", nested});
        cases.push_back({reader, "many tiny elements", reader == "music-library-export" ? tinyTracks : tinyUndo});
        cases.push_back({reader, "a sparse file", sparseList});
        cases.push_back({reader, "many tiny elements in UTF-16", tinyWide});
        cases.push_back({reader, "one long text in UTF-16 beyond ASCII", longWide});
    }
    cases.push_back({"music-library-export", "many tiny tracks, too many to read whole", tinyTracksExport});
    cases.push_back({"music-library-export", "an export as the music application writes it", largeExport, true, true});
    cases.push_back({"music-library-export", "a playlist's value of 60 MB", longRules, true, true});
    // The search for the media folder of an export no reading takes goes
    // through the whole file.
    for (const auto& [shape, input] : std::initializer_list<std::pair<const char*, fs::path>>{
             {"a value shared by every record", sharedDict},
             {"a claimed count far above the objects", claimed},
             {"nesting hidden in comments, CDATA and a DOCTYPE", nested},
             {"many tiny tracks", tinyTracksExport},
             {"a sparse file", sparseList},
             {"an export as the music application writes it", largeExport},
             {"a playlist's value of 60 MB", longRules}})
        cases.push_back({"music-folder-scan", shape, input, false});
    int scanShape = 0;
    for (const auto& [shape, text] : musicFolderScanShapes(8 * kMB))
        cases.push_back(
            {"music-folder-scan", shape, dir.write("scan-shape-" + std::to_string(++scanShape) + ".xml", text), false});
    // A journal a removal killed part-way leaves, read at the next start.
    for (const auto& [shape, line] : std::initializer_list<std::pair<const char*, std::string>>{
             {"many tiny lines", "\n"},
             {"many intents of one place", "intent\t/a\t\t\t0\t0\t0\n"},
             {"one line of fields without end", std::string(1, '\t')},
             {"one line as long as the file", std::string(1, 'x')}})
        cases.push_back({"removal-journal", shape,
                         dir.write("journal-" + std::to_string(cases.size()), journalOf(line, 8 * kMB) + "\n"), false});
    cases.push_back({"removal-journal", "a sparse file", sparseList, false});
    cases.push_back({"photo-library", "a query that runs without end", loops, false});
    cases.push_back({"photo-library", "a query that prints without end", prints, false});
    cases.push_back({"photo-library", "a sparse log", sparseLog, false});

    for (const Case& c : cases) {
        // The defaults reader moves a file it cannot read aside: each case
        // reads a copy of its own.
        fs::path input = c.input;
        if (c.reader == "defaults" || c.reader == "restore-listing") {
            input = dir.path() / ("copy-" + c.input.filename().native());
            std::error_code ec;
            fs::remove(input, ec);
            if (c.input == sparseList)
                sparse(input, 200 * kMB);
            else
                fs::copy_file(c.input, input);
        }
        const quint64 bytes = bytesOnDisk(input);
        const quint64 memoryBound = 4 * bytes + 100 * kMB;
        const double timeBound = 5.0 + 2.0 * double(bytes) / double(10 * kMB);
        const Outcome run =
            runReader(c.reader, input, kSanitized ? 10 * timeBound : 3 * timeBound, memoryBound + 2048 * kMB);
        const std::string which = "reader " + c.reader + ", " + c.shape + " (" + std::to_string(bytes) + " bytes)";
        EXPECT_TRUE(run.finished) << which << ": the reader " << run.how << "; it said: " << run.said;
        if (!kSanitized) {
            EXPECT_LE(run.peakBytes, memoryBound) << which << ": peak memory " << run.peakBytes / kMB
                                                  << " MB, above the bound of " << memoryBound / kMB << " MB";
            EXPECT_LE(run.seconds, timeBound)
                << which << ": took " << run.seconds << " s, above the bound of " << timeBound << " s";
        }
        if (c.mustRead) {
            EXPECT_EQ(run.said.find("refused\t"), std::string::npos) << which << ": " << run.said;
        }
        if (run.finished && c.namesFile && run.said.find("refused\t") != std::string::npos) {
            EXPECT_NE(run.said.find(input.filename().native()), std::string::npos)
                << which << ": the refusal does not say which file: " << run.said;
        }
        const size_t refusal = run.said.find("refused\t");
        std::string said = run.said.substr(refusal == std::string::npos ? 0 : refusal, 140);
        std::replace(said.begin(), said.end(), '\n', ' ');
        std::printf("%-22s %-48s %10llu bytes %5llu MB %6.2f s  %s\n", c.reader.c_str(), c.shape.c_str(),
                    static_cast<unsigned long long>(bytes), static_cast<unsigned long long>(run.peakBytes / kMB),
                    run.seconds, said.c_str());
    }
}

} // namespace
