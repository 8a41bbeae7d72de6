#include "media/KZMusicFolderScan.h"

#include "platform/Paths.h"
#include "services/KZFilesUtilities.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// A key that matters is short; a folder's URL holds a path of up to
// PATH_MAX bytes, each escaped in up to three and its '&' in five more.
constexpr qsizetype kMaxKey = 64;
constexpr qsizetype kMaxURL = 64 * 1024;
constexpr size_t kPiece = 256 * 1024;
// Folders kept from a file that names more: the first and the last half.
constexpr size_t kMaxFolders = 64;

constexpr std::string_view kKey = "Music Folder";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// A character or entity reference's name between '&' and ';', as UTF-8;
// false for one no reader decodes without a declaration.
bool appendReference(const QByteArray& name, QByteArray* out)
{
    if (name == "amp")
        out->append('&');
    else if (name == "lt")
        out->append('<');
    else if (name == "gt")
        out->append('>');
    else if (name == "apos")
        out->append('\'');
    else if (name == "quot")
        out->append('"');
    else if (name.size() > 1 && name[0] == '#') {
        const bool hex = name[1] == 'x';
        const QByteArray digits = name.mid(hex ? 2 : 1);
        if (digits.isEmpty())
            return false;
        bool ok = false;
        const uint code = digits.toUInt(&ok, hex ? 16 : 10);
        if (!ok || code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return false;
        const char32_t c = char32_t(code);
        out->append(QString::fromUcs4(&c, 1).toUtf8());
    } else {
        return false;
    }
    return true;
}

} // namespace

// One reading of the file as XML: by a true XML reader's rules, or by those
// of the property-list library the whole reading uses.
class KZMusicFolderScan::Reading {
public:
    explicit Reading(bool libraryRules) : library_(libraryRules) {}

    std::vector<QByteArray> values;
    bool doubt = false;

    void feed(const char* s, size_t n)
    {
        size_t i = 0;
        while (i < n) {
            if (state_ == St::Text && capture_ == Capture::None) {
                // Between tags nothing counts: on to the next one at once.
                const void* lt = std::memchr(s + i, '<', n - i);
                if (!lt)
                    return;
                i = size_t(static_cast<const char*>(lt) - s);
            }
            step(s[i++]);
        }
    }

    // A hole: what follows joins nothing before it.
    void interrupt()
    {
        doubt = true;
        state_ = St::Text;
        capture_ = Capture::None;
        expectValue_ = false;
    }

    void finish()
    {
        // An entry cut off might have named anything.
        if (expectValue_ || capture_ != Capture::None)
            doubt = true;
    }

private:
    enum class St {
        Text, Reference, Open, Bang, Comment, CData, Instruction, Tag, Doctype, Subset, SubsetOpen, SubsetBang,
        SubsetBangDash, SubsetComment, SubsetInstruction, SubsetDeclaration, SubsetEnd, Unknown
    };
    enum class Capture { None, Key, Value };

    bool atTop() const { return depth_ <= 1; }

    void keep(char c)
    {
        if (capture_ == Capture::None || long_)
            return;
        text_.append(c);
        if (text_.size() > (capture_ == Capture::Key ? kMaxKey : kMaxURL)) {
            long_ = true;
            text_.clear();
        }
    }

    void startCapture(Capture kind)
    {
        capture_ = kind;
        text_.clear();
        long_ = false;
        bad_ = false;
    }

    void element(std::string_view name, bool empty)
    {
        const Capture closing = capture_;
        capture_ = Capture::None;
        if (closing != Capture::None && name != "/key" && name != "/string") {
            // An element inside a key or the awaited value: no reader
            // takes it, and what it hides is not known.
            doubt = true;
        }
        if (name == "dict" || name == "array") {
            depth_ += empty ? 0 : 1;
        } else if (name == "/dict" || name == "/array") {
            depth_ = std::max(depth_ - 1, 0);
        } else if (name == "key") {
            // Within the top dictionary; where damage took its start, at the
            // top itself.
            expectValue_ = false;
            if (!empty && atTop())
                startCapture(Capture::Key);
            return;
        } else if (name == "/key" && closing == Capture::Key) {
            expectValue_ = false;
            if (bad_) {
                doubt = true;
            } else if (!long_) {
                const std::string_view key(text_.constData(), size_t(text_.size()));
                if (key == kKey || (key.starts_with(kByteOrderMark) && key.substr(kByteOrderMark.size()) == kKey)) {
                    if (std::exchange(sawKey_, true))
                        doubt = true;
                    expectValue_ = true;
                }
            }
            return;
        } else if (name == "string" && expectValue_) {
            expectValue_ = false;
            if (!empty)
                startCapture(Capture::Value);
            return;
        } else if (name == "/string" && closing == Capture::Value) {
            if (bad_ || long_)
                doubt = true;
            else if (!text_.isEmpty())
                values.push_back(text_);
        }
        expectValue_ = false;
    }

    void endTag()
    {
        state_ = St::Text;
        const bool empty = tagLast_ == '/';
        std::string_view name(tag_, size_t(tagSize_));
        if (empty && name.ends_with('/'))
            name.remove_suffix(1);
        if (tagSize_ >= kTagHead)
            name = {};
        element(name, empty);
    }

    void step(char c)
    {
        switch (state_) {
        case St::Text:
            if (c == '<') {
                state_ = St::Open;
            } else if (c == '&' && capture_ != Capture::None) {
                reference_.clear();
                state_ = St::Reference;
            } else {
                keep(c);
            }
            return;
        case St::Reference:
            if (c == ';') {
                state_ = St::Text;
                if (!long_ && capture_ != Capture::None && !appendReference(reference_, &text_))
                    bad_ = true;
            } else if (reference_.size() > 10 || c == '<' || c == '&' || isSpace(c)) {
                bad_ = true;
                state_ = St::Text;
                step(c);
            } else if (!long_) {
                reference_.append(c);
            }
            return;
        case St::Open:
            if (c == '!') {
                bang_.clear();
                state_ = St::Bang;
            } else if (c == '?') {
                // The library takes the '?' that opens an instruction for
                // the one that ends it: "<?>" is a whole instruction there.
                state_ = St::Instruction;
                quote_ = 0;
                question_ = library_;
            } else {
                state_ = St::Tag;
                tagSize_ = 0;
                tagLast_ = 0;
                inName_ = true;
                quote_ = 0;
                step(c);
            }
            return;
        case St::Bang: {
            bang_.append(c);
            const std::string_view head(bang_.constData(), size_t(bang_.size()));
            if (head == "--") {
                state_ = St::Comment;
                dashes_ = 0;
            } else if (head == "[CDATA[") {
                state_ = St::CData;
                brackets_ = 0;
            } else if (head == "DOCTYPE") {
                state_ = St::Doctype;
                quote_ = 0;
            } else if (!std::string_view("--").starts_with(head) && !std::string_view("[CDATA[").starts_with(head)
                       && !std::string_view("DOCTYPE").starts_with(head)) {
                if (atTop())
                    doubt = true;
                state_ = St::Unknown;
                step(c);
            }
            return;
        }
        case St::Comment:
            // "<!-->" and "<!--->" open a comment and close none.
            if (c == '-') {
                ++dashes_;
            } else {
                if (c == '>' && dashes_ >= 2)
                    state_ = St::Text;
                dashes_ = 0;
            }
            return;
        case St::CData:
            keep(c);
            if (c == ']') {
                ++brackets_;
            } else {
                if (c == '>' && brackets_ >= 2) {
                    state_ = St::Text;
                    if (capture_ != Capture::None && !long_)
                        text_.chop(3);
                }
                brackets_ = 0;
            }
            return;
        case St::Instruction:
            if (quote_ != 0) {
                if (c == quote_)
                    quote_ = 0;
                return;
            }
            if (c == '>' && question_) {
                state_ = St::Text;
                return;
            }
            question_ = c == '?';
            if (c == '"' && library_)
                quote_ = c;
            return;
        case St::Tag:
            if (quote_ != 0) {
                if (c == quote_)
                    quote_ = 0;
                tagLast_ = c;
                return;
            }
            if (c == '>') {
                endTag();
                return;
            }
            if (c == '<') {
                // A tag broken off: no reader takes the file; at the top,
                // what the tag was meant to be is not known.
                if (atTop())
                    doubt = true;
                capture_ = Capture::None;
                expectValue_ = false;
                state_ = St::Open;
                return;
            }
            if (inName_) {
                if (isSpace(c) || (!library_ && c == '/' && tagSize_ > 0))
                    inName_ = false;
                else if (tagSize_ < kTagHead)
                    tag_[tagSize_++] = c;
                else
                    tagSize_ = kTagHead;
            }
            if (!inName_ && (c == '"' || (c == '\'' && !library_)))
                quote_ = c;
            tagLast_ = c;
            return;
        case St::Doctype:
            if (quote_ != 0) {
                if (c == quote_)
                    quote_ = 0;
            } else if (c == '"' || (c == '\'' && !library_)) {
                quote_ = c;
            } else if (c == '[') {
                state_ = St::Subset;
                bracket_ = false;
            } else if (c == '>') {
                state_ = St::Text;
            }
            return;
        case St::Subset:
            if (library_) {
                // To the first "]>" outside double quotes, whatever holds it.
                if (quote_ != 0) {
                    if (c == quote_)
                        quote_ = 0;
                    bracket_ = false;
                } else if (c == '>' && bracket_) {
                    state_ = St::Text;
                } else {
                    bracket_ = c == ']';
                    if (c == '"')
                        quote_ = c;
                }
                return;
            }
            if (quote_ != 0) {
                if (c == quote_)
                    quote_ = 0;
            } else if (c == '"' || c == '\'') {
                quote_ = c;
            } else if (c == ']') {
                state_ = St::SubsetEnd;
            } else if (c == '<') {
                state_ = St::SubsetOpen;
            }
            return;
        case St::SubsetOpen:
            state_ = c == '!' ? St::SubsetBang : c == '?' ? St::SubsetInstruction : St::SubsetDeclaration;
            question_ = false;
            quote_ = 0;
            return;
        case St::SubsetBang:
            state_ = c == '-' ? St::SubsetBangDash : St::SubsetDeclaration;
            if (c == '"' || c == '\'')
                quote_ = c;
            return;
        case St::SubsetBangDash:
            if (c == '-') {
                state_ = St::SubsetComment;
                dashes_ = 0;
            } else {
                state_ = St::SubsetDeclaration;
                step(c);
            }
            return;
        case St::SubsetComment:
            if (c == '-') {
                ++dashes_;
            } else {
                if (c == '>' && dashes_ >= 2)
                    state_ = St::Subset;
                dashes_ = 0;
            }
            return;
        case St::SubsetInstruction:
            if (c == '>' && question_)
                state_ = St::Subset;
            question_ = c == '?';
            return;
        case St::SubsetDeclaration:
            if (quote_ != 0) {
                if (c == quote_)
                    quote_ = 0;
            } else if (c == '"' || c == '\'') {
                quote_ = c;
            } else if (c == '>') {
                state_ = St::Subset;
            }
            return;
        case St::SubsetEnd:
            if (c == '>') {
                state_ = St::Text;
            } else if (!isSpace(c)) {
                // Not how a subset ends: a reader stops here.
                doubt = true;
                state_ = St::Subset;
                step(c);
            }
            return;
        case St::Unknown:
            if (c == '>')
                state_ = St::Text;
            return;
        }
    }

    const bool library_;
    St state_ = St::Text;
    Capture capture_ = Capture::None;
    QByteArray text_;
    QByteArray reference_;
    QByteArray bang_;
    bool long_ = false;
    bool bad_ = false;
    bool expectValue_ = false;
    bool sawKey_ = false;
    int depth_ = 0;
    // A tag's name, as far as the longest that matters ("/string", "/array").
    static constexpr int kTagHead = 8;
    char tag_[kTagHead] = {};
    int tagSize_ = 0;
    char tagLast_ = 0;
    bool inName_ = false;
    char quote_ = 0;
    bool question_ = false;
    bool bracket_ = false;
    int dashes_ = 0;
    int brackets_ = 0;
};

KZMusicFolderScan::KZMusicFolderScan() = default;
KZMusicFolderScan::~KZMusicFolderScan() = default;
KZMusicFolderScan::KZMusicFolderScan(KZMusicFolderScan&&) noexcept = default;
KZMusicFolderScan& KZMusicFolderScan::operator=(KZMusicFolderScan&&) noexcept = default;

std::vector<fs::path> KZMusicFolderScan::defaultMediaFolders()
{
    const char* home = std::getenv("HOME");
    if (!home || !*home)
        return {};
    const fs::path folder = fs::path(home) / "Music" / "iTunes";
    return {folder / "iTunes Media", folder / "iTunes Music"};
}

std::vector<fs::path> KZMusicFolderScan::musicFoldersIn(const fs::path& file, quint64 maxBytes,
                                                        const std::atomic<bool>* stop)
{
    KZMusicFolderScan scan;
    // A file that is no regular file is not waited on.
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    struct stat st {};
    if (fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        const quint64 end = std::min<quint64>(quint64(st.st_size), maxBytes);
        std::vector<char> piece(kPiece);
        quint64 at = 0;
        while (at < end) {
            if (stop && stop->load(std::memory_order_relaxed)) {
                scan.interrupt();
                break;
            }
            // Holes hold no tag: the reading goes on where data does. One
            // that runs to the end is the file's end; one with data after
            // it may have cut a construct that the data closes.
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
            if (got < 0)
                scan.interrupt();
            if (got <= 0)
                break;
            scan.feed(piece.data(), size_t(got));
            at += quint64(got);
        }
    } else {
        scan.interrupt();
    }
    if (fd >= 0)
        ::close(fd);
    scan.finish();

    std::vector<fs::path> folders;
    const auto add = [&folders](const fs::path& folder) {
        if (!folder.empty() && std::find(folders.begin(), folders.end(), folder) == folders.end())
            folders.push_back(folder);
    };
    for (const QString& url : scan.folderURLs())
        add(KZFilesUtilities::pathOfLocalFileURL(url));
    if (scan.inDoubt() || folders.empty()) {
        // Nothing certain: whatever may hold the library's files.
        const fs::path own = platform::absolutePath(file).parent_path();
        add(own);
        for (const fs::path& folder : defaultMediaFolders())
            if (!platform::isInsideFolder(folder, own))
                add(folder);
    }
    return folders;
}

void KZMusicFolderScan::feed(const char* bytes, size_t size)
{
    if (form_ == Form::Unknown) {
        // The form shows in the first bytes, which may come one by one.
        const size_t take = std::min(size, size_t(6 - head_.size()));
        head_.append(bytes, qsizetype(take));
        bytes += take;
        size -= take;
        if (head_.size() < 6)
            return;
        decideForm();
    }
    if (form_ == Form::Binary) {
        feedBinary(bytes, size);
    } else {
        xml_->feed(bytes, size);
        plist_->feed(bytes, size);
    }
}

void KZMusicFolderScan::decideForm()
{
    if (head_ == "bplist") {
        form_ = Form::Binary;
        // Its objects' order is the writer's: no entry is beyond doubt.
        doubt_ = true;
        feedBinary(head_.constData(), size_t(head_.size()));
        return;
    }
    form_ = Form::Xml;
    xml_ = std::make_unique<Reading>(false);
    plist_ = std::make_unique<Reading>(true);
    xml_->feed(head_.constData(), size_t(head_.size()));
    plist_->feed(head_.constData(), size_t(head_.size()));
}

void KZMusicFolderScan::feedBinary(const char* bytes, size_t size)
{
    static constexpr std::string_view kAscii = "file://";
    static const QByteArray kUtf16 = QByteArray("\0f\0i\0l\0e\0:\0/\0/", 14);
    const auto back = [this](size_t i) { return recent_[(seen_ - 1 - i) % sizeof recent_]; };
    const auto endsWith = [&](std::string_view word) {
        if (seen_ < word.size())
            return false;
        for (size_t i = 0; i < word.size(); ++i)
            if (back(i) != static_cast<unsigned char>(word[word.size() - 1 - i]))
                return false;
        return true;
    };
    // The length a text object's header gives right before the last
    // `skip` bytes, for marker `kind` (5: ASCII, 6: UTF-16); 0 for none.
    const auto lengthBefore = [&](size_t skip, unsigned kind) -> quint64 {
        if (seen_ <= skip)
            return 0;
        const unsigned marker = back(skip);
        if (marker >> 4 == kind && (marker & 0xF) != 0xF)
            return marker & 0xF;
        for (unsigned k = 0; k < 4; ++k) {
            const size_t width = size_t(1) << k;
            if (seen_ < skip + width + 2)
                continue;
            if (back(skip + width + 1) != ((kind << 4) | 0xF))
                continue;
            if (back(skip + width) != (0x10 | k))
                continue;
            quint64 length = 0;
            for (size_t b = 0; b < width; ++b)
                length = (length << 8) | back(skip + width - 1 - b);
            return length;
        }
        return 0;
    };
    for (size_t at = 0; at < size; ++at) {
        const unsigned char c = static_cast<unsigned char>(bytes[at]);
        recent_[seen_++ % sizeof recent_] = c;
        for (auto it = open_.begin(); it != open_.end();) {
            it->bytes.append(char(c));
            if (--it->left != 0) {
                ++it;
                continue;
            }
            if (it->utf16) {
                QString text(it->bytes.size() / 2, Qt::Uninitialized);
                for (qsizetype i = 0; i < text.size(); ++i)
                    text[i] = QChar(ushort((uchar(it->bytes[2 * i]) << 8) | uchar(it->bytes[2 * i + 1])));
                addCandidate(text);
            } else {
                addCandidate(QString::fromLatin1(it->bytes));
            }
            it = open_.erase(it);
        }
        if (c != '/' || open_.size() >= 8)
            continue;
        if (endsWith(kAscii)) {
            const quint64 length = lengthBefore(kAscii.size(), 5);
            if (length > kAscii.size() && length <= quint64(kMaxURL))
                open_.push_back({QByteArray(kAscii.data(), qsizetype(kAscii.size())), length - kAscii.size(), false});
        } else if (endsWith(std::string_view(kUtf16.constData(), size_t(kUtf16.size())))) {
            const quint64 length = lengthBefore(size_t(kUtf16.size()), 6);
            if (length > 7 && length <= quint64(kMaxURL))
                open_.push_back({kUtf16, 2 * length - quint64(kUtf16.size()), true});
        }
    }
}

void KZMusicFolderScan::interrupt()
{
    doubt_ = true;
    if (xml_) {
        xml_->interrupt();
        plist_->interrupt();
    }
    open_.clear();
}

void KZMusicFolderScan::finish()
{
    if (finished_)
        return;
    finished_ = true;
    if (form_ == Form::Unknown)
        decideForm();
    if (!open_.empty())
        doubt_ = true;
    if (!xml_)
        return;
    xml_->finish();
    plist_->finish();
    if (xml_->doubt || plist_->doubt || xml_->values != plist_->values)
        doubt_ = true;
    const auto take = [this](const QByteArray& value) {
        addCandidate(QString::fromUtf8(value));
        // A leading byte-order mark, which one conversion keeps and another
        // drops: the folder either way.
        if (value.startsWith(QByteArrayView(kByteOrderMark.data(), qsizetype(kByteOrderMark.size()))))
            addCandidate(QChar(0xFEFF) + QString::fromUtf8(value.mid(3)));
    };
    for (const QByteArray& value : xml_->values)
        take(value);
    for (const QByteArray& value : plist_->values)
        take(value);
}

void KZMusicFolderScan::addCandidate(QString url)
{
    if (std::find(first_.begin(), first_.end(), url) != first_.end()
        || std::find(last_.begin(), last_.end(), url) != last_.end())
        return;
    if (first_.size() < kMaxFolders / 2) {
        first_.push_back(std::move(url));
        return;
    }
    last_.push_back(std::move(url));
    if (last_.size() > kMaxFolders / 2) {
        last_.pop_front();
        tooMany_ = true;
    }
}

std::vector<QString> KZMusicFolderScan::folderURLs() const
{
    std::vector<QString> urls = first_;
    urls.insert(urls.end(), last_.begin(), last_.end());
    return urls;
}

bool KZMusicFolderScan::inDoubt() const
{
    return doubt_ || tooMany_ || first_.size() + last_.size() > 1;
}
