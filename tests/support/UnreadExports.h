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
    if (!musicFolder.empty()) {
        const QByteArray url = QUrl::fromLocalFile(QFile::decodeName(musicFolder.c_str()) + QLatin1Char('/'))
                                   .toEncoded()
                                   .replace("&", "&#38;");
        head += "\t<key>Music Folder</key><string>" + url + "</string>\n";
    }
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

} // namespace kztest
