#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>
#include <cstddef>
#include <deque>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <memory>
#include <optional>
#include <vector>

// The "Music Folder" entry of a music library export that no reading takes,
// looked for through the whole file in one pass: damage before it, or a
// head longer than the music application writes, hides it from nothing.
//
// The file is read as an XML reader reads it (comments, instructions, CDATA,
// a DOCTYPE with its literals and internal subset, quoted attribute values)
// and, beside that, as the property-list library of the whole reading reads
// it, which ends an internal subset at the first "]>" and an instruction at
// a "?>" outside double quotes, and knows no single quotes in a tag. Only
// keys of the top dictionary count. Where the file leaves room for more than
// one answer (the entry twice, a value cut off or too long, an entity no
// reader knows in it, a hole, the two readings at odds, a binary export, too
// many folders), the scan is in doubt: every folder any candidate names is
// kept out, with the export's own folder and the default media folders.
namespace platform::xmltext {
class ToUtf8;
}

class KZMusicFolderScan {
public:
    // Every folder to keep out for the export `file`, read up to `maxBytes`:
    // the one media folder it names beyond doubt; else every folder named,
    // the folder that holds the export and the default media folders. The
    // reading stops, as in doubt, once `stop` is set (checked before each
    // piece is read).
    static std::vector<std::filesystem::path> musicFoldersIn(const std::filesystem::path& file, quint64 maxBytes,
                                                             const std::atomic<bool>* stop = nullptr);
    // "iTunes Media", and "iTunes Music" of older versions, in the home
    // folder's Music/iTunes.
    static std::vector<std::filesystem::path> defaultMediaFolders();

    KZMusicFolderScan();
    ~KZMusicFolderScan();
    KZMusicFolderScan(KZMusicFolderScan&&) noexcept;
    KZMusicFolderScan& operator=(KZMusicFolderScan&&) noexcept;

    // Takes the next bytes of the file.
    void feed(const char* bytes, size_t size);
    // The bytes that follow do not join those before (a hole was passed, or
    // the reading was stopped).
    void interrupt();
    // No more bytes come; a value or key left open is cut off.
    void finish();

    // The entries' texts, their references decoded: of an XML export at
    // most 64, the first and the last ones met when there are more; of a
    // binary export every folder URL (one ending in '/'; the root's alone
    // where they and the paths they name would take more than the file's
    // bytes and 32 MB, or where more texts overlap than are followed) and,
    // of its other file URLs, the first and the last 32.
    std::vector<QString> folderURLs() const;
    // The same, one at a time: a binary export's may be very many.
    void forEachFolderURL(const std::function<void(const QString&)>& take) const;
    bool inDoubt() const;

private:
    class Reading;
    void addCandidate(QString url);
    void addFolderURL(const QString& url);
    void appendFolder(std::string_view url);
    // Each folder URL once, or the root's alone past their share of the
    // bytes read.
    void settleFolders();
    // The root's URL in place of every folder URL, now and to come.
    void keepOutEveryFolder();
    // The "Music Folder" of a binary export's top dictionary, read through
    // its trailer and offset table; nullopt where a part of them is not
    // whole or the entry is no text.
    static std::optional<QString> binaryTopEntry(int fd, quint64 size);
    std::string_view folderAt(quint32 start) const;
    void decideForm();
    void feedXml(const char* bytes, size_t size);
    void feedBinary(const char* bytes, size_t size);

    enum class Form { Unknown, Xml, Binary };
    Form form_ = Form::Unknown;
    QByteArray head_;
    bool doubt_ = false;
    bool finished_ = false;
    // The XML reading and the property-list library's, of the file's text
    // in UTF-8.
    std::unique_ptr<Reading> xml_, plist_;
    std::unique_ptr<platform::xmltext::ToUtf8> converter_;
    QByteArray converted_;

    // A binary export: its text objects that hold a file URL, each taken
    // from the object's header on, never from bytes that only look like one.
    struct BinaryText {
        QByteArray bytes;
        quint64 left = 0;
        bool utf16 = false;
    };
    unsigned char recent_[32] = {};
    quint64 seen_ = 0;
    std::vector<BinaryText> open_;

    std::vector<QString> first_;
    std::deque<QString> last_;
    bool tooMany_ = false;
    // A binary export's folder URLs, in UTF-8 after their lengths, and
    // where each starts.
    std::string folderBytes_;
    std::vector<quint32> folderStarts_;
    // What they cost, and at what cost they are settled next; whether the
    // root stands for them all.
    size_t folderCost_ = 0;
    size_t settleAt_ = 0;
    bool everyFolder_ = false;
};
