#pragma once

#include <QByteArray>
#include <QFile>
#include <QUrl>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

namespace kztest {

// Music library exports that are there but that no reading takes: a file of
// the right beginning that breaks off into bytes no property list holds, one
// that claims more than the largest export (a hole of over a gigabyte after
// its first lines), and a FIFO, which no reading may wait on.
enum class UnreadExport { Broken, OverLimit, Fifo };

inline const char* nameOf(UnreadExport form)
{
    switch (form) {
    case UnreadExport::Broken:
        return "Broken";
    case UnreadExport::OverLimit:
        return "OverLimit";
    case UnreadExport::Fifo:
        return "Fifo";
    }
    return "";
}

// A folder as the export names it: a file URL ending in '/', its '&'
// written as a reference.
inline QByteArray folderURL(const std::filesystem::path& folder)
{
    return QUrl::fromLocalFile(QFile::decodeName(folder.c_str()) + QLatin1Char('/')).toEncoded().replace("&", "&#38;");
}

// Writes `file` in `form`. The first lines are the music application's own,
// with its "Music Folder" when `musicFolder` is given.
inline std::filesystem::path writeUnreadExport(const std::filesystem::path& file, UnreadExport form,
                                               const std::filesystem::path& musicFolder = {})
{
    std::filesystem::create_directories(file.parent_path());
    if (form == UnreadExport::Fifo) {
        if (::mkfifo(file.c_str(), 0600) != 0)
            throw std::runtime_error("mkfifo " + file.native());
        return file;
    }
    QByteArray head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                      "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                      "<plist version=\"1.0\">\n<dict>\n"
                      "\t<key>Major Version</key><integer>1</integer>\n"
                      "\t<key>Minor Version</key><integer>1</integer>\n";
    if (!musicFolder.empty())
        head += "\t<key>Music Folder</key><string>" + folderURL(musicFolder) + "</string>\n";
    head += "\t<key>Tracks</key>\n\t<dict>\n\t\t<key>1</key>\n\t\t<dict>\n";
    if (form == UnreadExport::Broken)
        head += "\t\t\t<key>Track ID</key><integer>1</in\x01\xff<<teger>\n";
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(head.constData(), head.size());
    out.close();
    if (form == UnreadExport::OverLimit)
        std::filesystem::resize_file(file, (std::uintmax_t(1) << 30) + 1);
    return file;
}

// Exports that no reading takes, whose "Music Folder" entry no look at the
// first 64 KB finds: one after an "Application Version" longer than that
// (PastTheHead); one after the tracks and playlists, where a track names a
// folder of its own under the same key (AfterTheTracks); one whose head is
// damaged over the entry, which so names nothing (DamagedHead).
enum class LateEntry { PastTheHead, AfterTheTracks, DamagedHead };

inline std::filesystem::path writeExportWithLateEntry(const std::filesystem::path& file, LateEntry where,
                                                      const std::filesystem::path& musicFolder)
{
    std::filesystem::create_directories(file.parent_path());
    const QByteArray entry = "\t<key>Music Folder</key><string>" + folderURL(musicFolder) + "</string>\n";
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                     "<plist version=\"1.0\">\n<dict>\n\t<key>Major Version</key><integer>1</integer>\n";
    if (where == LateEntry::PastTheHead)
        xml += "\t<key>Application Version</key><string>" + QByteArray(70 * 1024, '7') + "</string>\n";
    if (where != LateEntry::AfterTheTracks)
        xml += entry;
    xml += "\t<key>Tracks</key>\n\t<dict>\n\t\t<key>1</key>\n\t\t<dict>\n"
           "\t\t\t<key>Music Folder</key><string>file:///decoy/</string>\n"
           "\t\t\t<key>Track ID</key><integer>1</in\x01\xff<<teger>\n\t\t</dict>\n\t</dict>\n"
           "\t<key>Playlists</key>\n\t<array>\n\t\t<dict><key>Name</key><string>Library</string></dict>\n"
           "\t</array>\n";
    if (where == LateEntry::AfterTheTracks)
        xml += entry;
    xml += "</dict>\n</plist>\n";
    if (where == LateEntry::DamagedHead) {
        const qsizetype at = xml.indexOf("Music Folder");
        xml.replace(at, 24, QByteArray("\x9c\x00\xfe\x1f<?\x07\x00\xff\x80\x81\x82\x83\x84\x85\x86\x87\x88\x89\x8a\x8b\x8c\x8d\x8e", 24));
    }
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(xml.constData(), xml.size());
    return file;
}

} // namespace kztest
