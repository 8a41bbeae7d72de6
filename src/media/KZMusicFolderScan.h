#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <filesystem>

// The "Music Folder" entry of a music library export that no reading takes,
// looked for through the whole file: damage before it, or a head longer
// than the music application writes, hides it from nothing. Tags are
// followed for their nesting alone, so that a key of the top dictionary
// counts and one of a track or a playlist does not.
class KZMusicFolderScan {
public:
    // The media folder `file` names in its first `maxBytes` bytes; empty
    // when it cannot be opened, is no regular file or names none.
    static std::filesystem::path musicFolderIn(const std::filesystem::path& file, quint64 maxBytes);

    // Takes the next bytes of the file; true once the entry has been read.
    bool feed(const char* bytes, size_t size);
    // The bytes that follow do not join those before (a hole was passed).
    void interrupt();
    bool found() const { return found_; }
    // The entry's text, its references decoded.
    const QString& folderURL() const { return url_; }

private:
    enum class State { Text, Tag, Comment, CData, Instruction, Declaration };
    enum class Capture { None, Key, Value };

    void endTag();
    void startCapture(Capture kind);
    // The captured text, decoded as XML; false when it is none.
    bool decodeCapture(QString* text) const;

    State state_ = State::Text;
    // A tag's first bytes, as many as the longest name that matters
    // ("/string") and the space after it take, and its last byte.
    static constexpr int kTagHead = 8;
    char tag_[kTagHead] = {};
    int tagSize_ = 0;
    char tagLast_ = 0;
    // The last bytes seen, for the ends of comments, CDATA and instructions.
    char last_[2] = {0, 0};
    bool inSubset_ = false;
    int depth_ = 0;
    Capture capture_ = Capture::None;
    QByteArray text_;
    bool textTooLong_ = false;
    bool expectValue_ = false;
    bool found_ = false;
    QString url_;
};
