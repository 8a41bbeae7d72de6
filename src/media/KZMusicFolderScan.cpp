#include "media/KZMusicFolderScan.h"

#include "services/KZFilesUtilities.h"

#include <QXmlStreamReader>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// A key is short; a folder's URL holds a path of up to PATH_MAX bytes,
// each escaped in up to three and its '&' in five more.
constexpr qsizetype kMaxKey = 256;
constexpr qsizetype kMaxURL = 64 * 1024;
constexpr size_t kPiece = 256 * 1024;

} // namespace

fs::path KZMusicFolderScan::musicFolderIn(const fs::path& file, quint64 maxBytes)
{
    // A file that is no regular file is not waited on.
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return {};
    KZMusicFolderScan scan;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        const quint64 end = std::min<quint64>(quint64(st.st_size), maxBytes);
        std::vector<char> piece(kPiece);
        quint64 at = 0;
        while (at < end && !scan.found()) {
            // Holes hold no tag: the reading goes on where data does.
            const off_t data = ::lseek(fd, off_t(at), SEEK_DATA);
            if (data < 0 && errno == ENXIO)
                break;
            if (data > off_t(at)) {
                at = quint64(data);
                scan.interrupt();
                continue;
            }
            const ssize_t got = ::pread(fd, piece.data(), size_t(std::min<quint64>(kPiece, end - at)), off_t(at));
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                break;
            scan.feed(piece.data(), size_t(got));
            at += quint64(got);
        }
    }
    ::close(fd);
    return scan.found() ? KZFilesUtilities::pathOfLocalFileURL(scan.folderURL()) : fs::path();
}

void KZMusicFolderScan::interrupt()
{
    state_ = State::Text;
    capture_ = Capture::None;
    expectValue_ = false;
    last_[0] = last_[1] = 0;
}

void KZMusicFolderScan::startCapture(Capture kind)
{
    capture_ = kind;
    text_.clear();
    textTooLong_ = false;
}

bool KZMusicFolderScan::decodeCapture(QString* text) const
{
    if (textTooLong_)
        return false;
    // References and entities as an XML reader decodes them.
    QXmlStreamReader xml(QByteArrayLiteral("<s>") + text_ + QByteArrayLiteral("</s>"));
    if (!xml.readNextStartElement())
        return false;
    *text = xml.readElementText();
    return !xml.hasError();
}

void KZMusicFolderScan::endTag()
{
    const std::string_view head(tag_, size_t(tagSize_));
    const bool empty = tagLast_ == '/';
    // The name ends at white space or '/'; one that fills the head is none
    // of those that matter.
    const size_t end = head.find_first_of(" \t\r\n/", 1);
    if (end == std::string_view::npos && tagSize_ == kTagHead)
        return;
    const std::string_view name = head.substr(0, end);

    const Capture closing = capture_;
    capture_ = Capture::None;
    if (name == "dict" || name == "array") {
        depth_ += empty ? 0 : 1;
    } else if (name == "/dict" || name == "/array") {
        depth_ = std::max(depth_ - 1, 0);
    } else if (name == "key") {
        // Within the top dictionary; where damage took its start, at the
        // top itself.
        if (!empty && depth_ <= 1)
            startCapture(Capture::Key);
        expectValue_ = false;
        return;
    } else if (name == "/key") {
        QString key;
        expectValue_ = closing == Capture::Key && decodeCapture(&key) && key == QLatin1String("Music Folder");
        return;
    } else if (name == "string" && expectValue_ && !empty) {
        expectValue_ = false;
        startCapture(Capture::Value);
        return;
    } else if (name == "/string" && closing == Capture::Value) {
        found_ = decodeCapture(&url_) && !url_.isEmpty();
    }
    expectValue_ = false;
}

bool KZMusicFolderScan::feed(const char* bytes, size_t size)
{
    // The byte `back` places before bytes[i], reaching into the last feed.
    const auto before = [&](size_t i, size_t back) {
        return i >= back ? bytes[i - back] : last_[2 - (back - i)];
    };
    size_t i = 0;
    while (i < size && !found_) {
        switch (state_) {
        case State::Text: {
            const void* lt = std::memchr(bytes + i, '<', size - i);
            const size_t stop = lt ? size_t(static_cast<const char*>(lt) - bytes) : size;
            if (capture_ != Capture::None && !textTooLong_) {
                text_.append(bytes + i, qsizetype(stop - i));
                if (text_.size() > (capture_ == Capture::Key ? kMaxKey : kMaxURL)) {
                    textTooLong_ = true;
                    text_.clear();
                }
            }
            i = stop;
            if (lt) {
                state_ = State::Tag;
                tagSize_ = 0;
                tagLast_ = 0;
                ++i;
            }
            break;
        }
        case State::Tag: {
            // An element's tag, to its '>' at once.
            if (tagSize_ > 0 && tag_[0] != '!') {
                const void* gt = std::memchr(bytes + i, '>', size - i);
                const size_t stop = gt ? size_t(static_cast<const char*>(gt) - bytes) : size;
                const size_t kept = std::min(stop - i, size_t(kTagHead - tagSize_));
                std::memcpy(tag_ + tagSize_, bytes + i, kept);
                tagSize_ += int(kept);
                if (stop > i)
                    tagLast_ = bytes[stop - 1];
                i = stop;
                if (gt) {
                    ++i;
                    state_ = State::Text;
                    endTag();
                }
                break;
            }
            // A comment, CDATA, a declaration or an instruction, told apart
            // by their first bytes.
            const char c = bytes[i++];
            if (c == '>') {
                state_ = State::Text;
                endTag();
                break;
            }
            tag_[tagSize_++] = c;
            tagLast_ = c;
            const std::string_view head(tag_, size_t(tagSize_));
            if (head == "?") {
                state_ = State::Instruction;
            } else if (head == "!--") {
                state_ = State::Comment;
            } else if (head == "![CDATA[") {
                // Never in a value the music application writes.
                state_ = State::CData;
                capture_ = Capture::None;
                expectValue_ = false;
            } else if (head.size() > 1 && head[0] == '!' && !std::string_view("!--").starts_with(head)
                       && !std::string_view("![CDATA[").starts_with(head)) {
                state_ = State::Declaration;
                inSubset_ = false;
            }
            break;
        }
        case State::Comment:
        case State::CData:
        case State::Instruction: {
            const void* gt = std::memchr(bytes + i, '>', size - i);
            if (!gt) {
                i = size;
                break;
            }
            const size_t at = size_t(static_cast<const char*>(gt) - bytes);
            const char a = before(at, 2), b = before(at, 1);
            const bool ends = state_ == State::Comment ? a == '-' && b == '-'
                              : state_ == State::CData ? a == ']' && b == ']'
                                                       : b == '?';
            if (ends)
                state_ = State::Text;
            i = at + 1;
            break;
        }
        case State::Declaration: {
            const char c = bytes[i++];
            if (c == '[')
                inSubset_ = true;
            else if (c == ']')
                inSubset_ = false;
            else if (c == '>' && !inSubset_)
                state_ = State::Text;
            break;
        }
        }
    }
    if (size >= 2) {
        last_[0] = bytes[size - 2];
        last_[1] = bytes[size - 1];
    } else if (size == 1) {
        last_[0] = last_[1];
        last_[1] = bytes[0];
    }
    return found_;
}
