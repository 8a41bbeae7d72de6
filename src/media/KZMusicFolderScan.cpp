#include "media/KZMusicFolderScan.h"

#include "platform/HexDigit.h"
#include "platform/Paths.h"
#include "platform/PropertyListFormat.h"
#include "platform/XmlTextEncoding.h"
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
// A binary export's folder URLs, with the paths they name, are held to the
// bytes read and 32 MB besides: texts that overlap, which only a file made
// to look so holds, may each end in a folder URL, up to 16 over each byte.
// Past that, the root stands for them all.
constexpr size_t kFolderCostSlack = size_t(32) << 20;
// What a path takes for each of its parts.
constexpr size_t kPathPartCost = 48;
constexpr std::string_view kRootURL = "file:///";

constexpr std::string_view kKey = "Music Folder";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// A code point in UTF-8 as the property-list library writes it: a surrogate
// too, in three bytes (which the text's conversion later makes U+FFFD).
void appendUtf8(char32_t c, QByteArray* out)
{
    if (c < 0x80) {
        out->append(char(c));
    } else if (c < 0x800) {
        out->append(char(0xC0 | (c >> 6)));
        out->append(char(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out->append(char(0xE0 | (c >> 12)));
        out->append(char(0x80 | ((c >> 6) & 0x3F)));
        out->append(char(0x80 | (c & 0x3F)));
    } else {
        out->append(char(0xF0 | (c >> 18)));
        out->append(char(0x80 | ((c >> 12) & 0x3F)));
        out->append(char(0x80 | ((c >> 6) & 0x3F)));
        out->append(char(0x80 | (c & 0x3F)));
    }
}

int digitValue(char c, int base)
{
    const int d = platform::hexDigitValue(c);
    return d < base ? d : -1;
}

// A reference between '&' and ';' as an XML reader decodes it: the five
// named ones, "#" and decimal digits, "#x" and hexadecimal ones (zeros
// before them already dropped), naming a character XML allows.
bool appendXmlReference(const QByteArray& name, bool zeros, QByteArray* out)
{
    static constexpr std::pair<std::string_view, char> kNamed[] = {
        {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"apos", '\''}, {"quot", '"'}};
    const std::string_view n(name.constData(), size_t(name.size()));
    for (const auto& [named, c] : kNamed) {
        if (n == named) {
            out->append(c);
            return true;
        }
    }
    if (!n.starts_with('#'))
        return false;
    const bool hex = n.starts_with("#x");
    const std::string_view digits = n.substr(hex ? 2 : 1);
    if (digits.empty() && !zeros)
        return false;
    quint64 code = 0;
    for (const char c : digits) {
        const int d = digitValue(c, hex ? 16 : 10);
        if (d < 0 || code > 0x10FFFF)
            return false;
        code = code * (hex ? 16 : 10) + quint64(d);
    }
    const bool allowed = code == 0x9 || code == 0xA || code == 0xD || (code >= 0x20 && code <= 0xD7FF)
        || (code >= 0xE000 && code <= 0xFFFD) || (code >= 0x10000 && code <= 0x10FFFF);
    if (!allowed)
        return false;
    appendUtf8(char32_t(code), out);
    return true;
}

// A reference as the property-list library of the whole reading decodes
// it: a name that starts with one of the five named ones is that one
// ("&amp ;", "&ltx;"); a numeric one of at most eight characters between
// '&' and ';' is read as strtoull reads it (white space, a sign, "0x"
// before hexadecimal digits, 'X' for 'x'), and must name 1 to 0x10FFFF.
// `name` holds the first bytes of the `length` between '&' and ';'.
bool appendLibraryReference(const QByteArray& name, qsizetype length, QByteArray* out)
{
    static constexpr std::pair<std::string_view, char> kNamed[] = {
        {"amp", '&'}, {"apos", '\''}, {"quot", '"'}, {"lt", '<'}, {"gt", '>'}};
    const std::string_view n(name.constData(), size_t(name.size()));
    for (const auto& [named, c] : kNamed) {
        if (n.starts_with(named)) {
            out->append(c);
            return true;
        }
    }
    if (!n.starts_with('#') || length > 8 || qsizetype(n.size()) != length)
        return false;
    const bool hex = n.size() > 1 && (n[1] == 'x' || n[1] == 'X');
    if (length < (hex ? 3 : 2))
        return false;
    const std::string_view s = n.substr(hex ? 2 : 1);
    const int base = hex ? 16 : 10;
    size_t i = 0;
    while (i < s.size() && (s[i] == ' ' || (s[i] >= '\t' && s[i] <= '\r')))
        ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-'))
        negative = s[i++] == '-';
    if (hex && i + 2 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X') && digitValue(s[i + 2], 16) >= 0)
        i += 2;
    const size_t first = i;
    quint64 code = 0;
    while (i < s.size() && digitValue(s[i], base) >= 0)
        code = code * quint64(base) + quint64(digitValue(s[i++], base));
    // Without a digit nothing is read; the rest must all have been.
    if (i == first || i != s.size())
        return false;
    if (negative)
        code = quint64(0) - code;
    if (code == 0 || code > 0x10FFFF)
        return false;
    appendUtf8(char32_t(code), out);
    return true;
}

// What a folder URL costs: its bytes held here, and the path it names once
// read, of no more parts than the URL has slashes.
size_t folderCost(std::string_view url)
{
    return 2 * url.size() + kPathPartCost * size_t(std::count(url.begin(), url.end(), '/'));
}

// The bytes at `at`, all of them.
bool readAt(int fd, quint64 at, void* into, size_t size)
{
    ssize_t got = 0;
    do
        got = ::pread(fd, into, size, off_t(at));
    while (got < 0 && errno == EINTR);
    return got == ssize_t(size);
}

} // namespace

std::optional<QString> KZMusicFolderScan::binaryTopEntry(int fd, quint64 size)
{
    uchar trailer[32];
    if (size < 8 + 32 || !readAt(fd, size - 32, trailer, sizeof trailer))
        return std::nullopt;
    const unsigned offsetSize = trailer[6];
    const unsigned refSize = trailer[7];
    const quint64 count = platform::plistformat::readBigEndian(trailer + 8, 8);
    const quint64 top = platform::plistformat::readBigEndian(trailer + 16, 8);
    const quint64 table = platform::plistformat::readBigEndian(trailer + 24, 8);
    if (offsetSize < 1 || offsetSize > 8 || refSize < 1 || refSize > 8 || top >= count || table < 8
        || table >= size - 32 || count > (size - 32 - table) / offsetSize)
        return std::nullopt;
    const auto number = [fd](quint64 at, unsigned bytes) -> std::optional<quint64> {
        uchar b[8];
        if (!readAt(fd, at, b, bytes))
            return std::nullopt;
        return platform::plistformat::readBigEndian(b, bytes);
    };
    const auto objectAt = [&](quint64 ref) -> std::optional<quint64> {
        if (ref >= count)
            return std::nullopt;
        const std::optional<quint64> at = number(table + ref * offsetSize, offsetSize);
        return at && *at >= 8 && *at < table ? at : std::nullopt;
    };
    // An object's marker and the count its header gives; where its content
    // starts.
    const auto header = [&](quint64 at, unsigned* kind, quint64* length, quint64* content) {
        uchar marker = 0;
        if (!readAt(fd, at, &marker, 1))
            return false;
        *kind = marker >> 4;
        *length = marker & 0xF;
        *content = at + 1;
        if (*length != 0xF)
            return true;
        uchar intMarker = 0;
        if (!readAt(fd, at + 1, &intMarker, 1) || intMarker >> 4 != 1 || (intMarker & 0xF) > 3)
            return false;
        const unsigned width = 1u << (intMarker & 0xF);
        const std::optional<quint64> n = number(at + 2, width);
        if (!n)
            return false;
        *length = *n;
        *content = at + 2 + width;
        return true;
    };
    const auto text = [&](quint64 ref) -> std::optional<QString> {
        const std::optional<quint64> at = objectAt(ref);
        unsigned kind = 0;
        quint64 length = 0, content = 0;
        if (!at || !header(*at, &kind, &length, &content) || (kind != 5 && kind != 6) || length > quint64(kMaxURL))
            return std::nullopt;
        QByteArray bytes(qsizetype(kind == 6 ? 2 * length : length), Qt::Uninitialized);
        if (content + quint64(bytes.size()) > table || !readAt(fd, content, bytes.data(), size_t(bytes.size())))
            return std::nullopt;
        return platform::plistformat::textOfBinaryString(bytes, kind == 6);
    };
    const std::optional<quint64> root = objectAt(top);
    unsigned kind = 0;
    quint64 entries = 0, content = 0;
    // A top dictionary of more keys than an export holds is none.
    if (!root || !header(*root, &kind, &entries, &content) || kind != 0xD || entries > 4096
        || content + 2 * entries * refSize > table)
        return std::nullopt;
    // A key given twice keeps its last value, as in the whole reading.
    std::optional<QString> value;
    for (quint64 i = 0; i < entries; ++i) {
        const std::optional<quint64> keyRef = number(content + i * refSize, refSize);
        if (!keyRef)
            return std::nullopt;
        if (text(*keyRef) != QString::fromLatin1(kKey.data(), qsizetype(kKey.size())))
            continue;
        const std::optional<quint64> valueRef = number(content + (entries + i) * refSize, refSize);
        value = valueRef ? text(*valueRef) : std::nullopt;
    }
    return value;
}

// One reading of the file as XML: by a true XML reader's rules, or by those
// of the property-list library the whole reading uses.
class KZMusicFolderScan::Reading {
public:
    explicit Reading(bool libraryRules) : library_(libraryRules) {}

    std::vector<QByteArray> values;
    bool doubt = false;
    // Only by XML's rules: the file is not XML, and what this reading found
    // counts for nothing.
    bool refused = false;

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
        bound();
    }

    void bound()
    {
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
                referenceLength_ = 0;
                referenceLong_ = false;
                zeros_ = false;
                state_ = St::Reference;
            } else {
                keep(c);
            }
            return;
        case St::Reference:
            if (c == ';') {
                state_ = St::Text;
                if (long_ || capture_ == Capture::None)
                    return;
                const bool decoded = library_ ? appendLibraryReference(reference_, referenceLength_, &text_)
                                              : !referenceLong_ && appendXmlReference(reference_, zeros_, &text_);
                if (!decoded) {
                    bad_ = true;
                    // A character reference XML forbids: an XML reader stops
                    // there, and the file is the library's alone to read.
                    // A name it does not know may be declared for it.
                    refused = refused || (!library_ && reference_.startsWith('#'));
                }
                bound();
            } else if (c == '<' && library_ && referenceLength_ == 0) {
                // The library leaves a '&' that ends a text's run as it is.
                state_ = St::Text;
                keep('&');
                step(c);
            } else if (c == '<' || (!library_ && (c == '&' || isSpace(c)))) {
                bad_ = true;
                refused = refused || !library_;
                state_ = St::Text;
                step(c);
            } else {
                ++referenceLength_;
                // An XML reader reads any number of zeros before the digits.
                if (!library_ && c == '0' && (reference_ == "#" || reference_ == "#x")) {
                    zeros_ = true;
                    return;
                }
                if (reference_.size() < kReferenceHead)
                    reference_.append(c);
                else
                    referenceLong_ = true;
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
    // A reference's first bytes after the '&', how many there were, and
    // whether an XML reader's had zeros dropped before its digits.
    static constexpr qsizetype kReferenceHead = 16;
    QByteArray reference_;
    qsizetype referenceLength_ = 0;
    bool referenceLong_ = false;
    bool zeros_ = false;
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
        // Data past the bytes read may name any folder; a hole that runs to
        // the end holds nothing.
        if (quint64(st.st_size) > maxBytes) {
            const off_t data = ::lseek(fd, off_t(maxBytes), SEEK_DATA);
            if (!(data < 0 && errno == ENXIO))
                scan.interrupt();
        }
    } else {
        scan.interrupt();
    }
    // A binary export whose trailer, offset table and top dictionary are
    // whole names its entry through them, wherever its text lies.
    std::optional<QString> topEntry;
    if (fd >= 0 && scan.form_ == Form::Binary && quint64(st.st_size) <= maxBytes)
        topEntry = binaryTopEntry(fd, quint64(st.st_size));
    if (fd >= 0)
        ::close(fd);
    scan.finish();

    std::vector<fs::path> folders;
    if (topEntry)
        if (fs::path folder = KZFilesUtilities::pathOfLocalFileURL(*topEntry); !folder.empty())
            folders.push_back(std::move(folder));
    // A binary export may name folders by the hundred thousand: each is
    // kept once, without a second copy of them all to tell which.
    const auto add = [&folders](const fs::path& folder) {
        if (!folder.empty() && std::find(folders.begin(), folders.end(), folder) == folders.end())
            folders.push_back(folder);
    };
    size_t few = folders.size();
    scan.forEachFolderURL([&](const QString& url) {
        fs::path folder = KZFilesUtilities::pathOfLocalFileURL(url);
        if (folder.empty())
            return;
        if (few < kMaxFolders) {
            ++few;
            add(folder);
        } else {
            folders.push_back(std::move(folder));
        }
    });
    if (folders.size() > few) {
        // Past the few named first: those the few hold already, and any
        // given twice (URLs that differ may name one folder), go.
        // Compared as their bytes: one path, one text.
        const auto many = folders.begin() + qsizetype(few);
        std::sort(many, folders.end(), [](const fs::path& a, const fs::path& b) { return a.native() < b.native(); });
        folders.erase(std::unique(many, folders.end(),
                                  [](const fs::path& a, const fs::path& b) { return a.native() == b.native(); }),
                      folders.end());
        std::vector<std::string> named;
        for (auto it = folders.begin(); it != folders.begin() + qsizetype(few); ++it)
            named.push_back(it->native());
        std::sort(named.begin(), named.end());
        folders.erase(std::remove_if(folders.begin() + qsizetype(few), folders.end(),
                                     [&named](const fs::path& folder) {
                                         return std::binary_search(named.begin(), named.end(), folder.native());
                                     }),
                      folders.end());
    }
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
        // The form shows in the first bytes, and an XML file's encoding in
        // its declaration; they may come one by one.
        const size_t take = std::min(size, size_t(platform::xmltext::kHeadBytes - head_.size()));
        head_.append(bytes, qsizetype(take));
        bytes += take;
        size -= take;
        if (head_.size() < platform::xmltext::kHeadBytes)
            return;
        decideForm();
    }
    if (form_ == Form::Binary)
        feedBinary(bytes, size);
    else
        feedXml(bytes, size);
}

void KZMusicFolderScan::feedXml(const char* bytes, size_t size)
{
    if (converter_->passesThrough()) {
        xml_->feed(bytes, size);
        plist_->feed(bytes, size);
        return;
    }
    converted_.clear();
    converter_->convert(bytes, qsizetype(size), &converted_);
    xml_->feed(converted_.constData(), size_t(converted_.size()));
    plist_->feed(converted_.constData(), size_t(converted_.size()));
}

void KZMusicFolderScan::decideForm()
{
    const QByteArray head = std::exchange(head_, {});
    if (head.startsWith("bplist")) {
        form_ = Form::Binary;
        // Its objects' order is the writer's: no entry is beyond doubt.
        doubt_ = true;
        feedBinary(head.constData(), size_t(head.size()));
        return;
    }
    form_ = Form::Xml;
    xml_ = std::make_unique<Reading>(false);
    plist_ = std::make_unique<Reading>(true);
    // An encoding no reading takes: the whole reading refuses the file,
    // and what its bytes seem to say is no more than a guess.
    std::optional<platform::xmltext::Encoding> encoding = platform::xmltext::encodingOf(head, nullptr);
    if (!encoding) {
        doubt_ = true;
        encoding = platform::xmltext::Encoding{};
    }
    converter_ = std::make_unique<platform::xmltext::ToUtf8>(*encoding);
    feedXml(head.constData(), size_t(head.size()));
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
    // The lengths a text object's header right before the last `skip`
    // bytes may give, for marker `kind` (5: ASCII, 6: UTF-16): the long form
    // (marker 0xK F, an integer's marker 0x1w, then 2^w bytes), and the
    // short one (0xK0 to 0xKE) where its byte may also be a marker, which
    // may be the last byte of a long form's length. Both are taken: a
    // text read too long or too short is kept out beside the true one.
    const auto lengthsBefore = [&](size_t skip, unsigned kind) {
        std::vector<quint64> lengths;
        if (seen_ <= skip)
            return lengths;
        for (unsigned k = 0; k < 4; ++k) {
            const size_t width = size_t(1) << k;
            if (seen_ < skip + width + 2)
                continue;
            if (back(skip + width + 1) != ((kind << 4) | 0xF) || back(skip + width) != (0x10 | k))
                continue;
            quint64 length = 0;
            for (size_t b = 0; b < width; ++b)
                length = (length << 8) | back(skip + width - 1 - b);
            lengths.push_back(length);
        }
        const unsigned marker = back(skip);
        if (marker >> 4 == kind && (marker & 0xF) != 0xF)
            lengths.push_back(marker & 0xF);
        return lengths;
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
            QString text = platform::plistformat::textOfBinaryString(it->bytes, it->utf16);
            // A folder's URL ends in '/', a track's names its file: every
            // folder is kept, however many, and of the others the first and
            // the last.
            if (text.endsWith(u'/'))
                addFolderURL(text);
            else
                addCandidate(std::move(text));
            it = open_.erase(it);
        }
        if (c != '/')
            continue;
        const auto open = [this](QByteArray start, quint64 left, bool utf16) {
            // Many texts open at once only where the file was made to look
            // so; past that, one more is not followed, and might have named
            // any folder.
            if (open_.size() >= 16) {
                doubt_ = true;
                keepOutEveryFolder();
                return;
            }
            open_.push_back({std::move(start), left, utf16});
        };
        if (endsWith(kAscii)) {
            for (const quint64 length : lengthsBefore(kAscii.size(), 5))
                if (length > kAscii.size() && length <= quint64(kMaxURL))
                    open(QByteArray(kAscii.data(), qsizetype(kAscii.size())), length - kAscii.size(), false);
        } else if (endsWith(std::string_view(kUtf16.constData(), size_t(kUtf16.size())))) {
            for (const quint64 length : lengthsBefore(size_t(kUtf16.size()), 6))
                if (length > 7 && length <= quint64(kMaxURL))
                    open(kUtf16, 2 * length - quint64(kUtf16.size()), true);
        }
    }
}

void KZMusicFolderScan::interrupt()
{
    if (form_ == Form::Unknown && !head_.isEmpty())
        decideForm();
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
    settleFolders();
    // In the order of their texts.
    std::sort(folderStarts_.begin(), folderStarts_.end(),
              [this](quint32 a, quint32 b) { return folderAt(a) < folderAt(b); });
    folderBytes_.shrink_to_fit();
    folderStarts_.shrink_to_fit();
    if (!xml_)
        return;
    // A character cut off or not of the encoding: XML readers stop there.
    if (!converter_->finish())
        doubt_ = true;
    xml_->finish();
    plist_->finish();
    // The library reads what XML readers refuse: its reading alone counts.
    const bool xmlCounts = !xml_->refused;
    if (plist_->doubt || (xmlCounts && (xml_->doubt || xml_->values != plist_->values)))
        doubt_ = true;
    const auto take = [this](const QByteArray& value) {
        addCandidate(QString::fromUtf8(value));
        // A leading byte-order mark, which one conversion keeps and another
        // drops: the folder either way.
        if (value.startsWith(QByteArrayView(kByteOrderMark.data(), qsizetype(kByteOrderMark.size()))))
            addCandidate(QChar(0xFEFF) + QString::fromUtf8(value.mid(3)));
    };
    if (xmlCounts)
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

void KZMusicFolderScan::addFolderURL(const QString& url)
{
    if (everyFolder_)
        return;
    // Packed one after the other, each with its length: a binary export
    // may hold hundreds of thousands, and they cost little more than
    // their bytes in the file.
    const QByteArray utf8 = url.toUtf8();
    const std::string_view text(utf8.constData(), size_t(utf8.size()));
    appendFolder(text);
    folderCost_ += folderCost(text);
    if (folderCost_ > std::max(settleAt_, kFolderCostSlack))
        settleFolders();
}

void KZMusicFolderScan::appendFolder(std::string_view url)
{
    const quint32 size = quint32(url.size());
    folderStarts_.push_back(quint32(folderBytes_.size()));
    folderBytes_.append(reinterpret_cast<const char*>(&size), sizeof size);
    folderBytes_.append(url.data(), url.size());
}

void KZMusicFolderScan::settleFolders()
{
    // Each folder once; the bytes of those kept move down over the rest, in
    // the order they lie.
    std::sort(folderStarts_.begin(), folderStarts_.end(),
              [this](quint32 a, quint32 b) { return folderAt(a) < folderAt(b); });
    folderStarts_.erase(std::unique(folderStarts_.begin(), folderStarts_.end(),
                                    [this](quint32 a, quint32 b) { return folderAt(a) == folderAt(b); }),
                        folderStarts_.end());
    std::sort(folderStarts_.begin(), folderStarts_.end());
    size_t to = 0;
    folderCost_ = 0;
    for (quint32& start : folderStarts_) {
        const std::string_view url = folderAt(start);
        folderCost_ += folderCost(url);
        const size_t length = sizeof(quint32) + url.size();
        std::memmove(folderBytes_.data() + to, folderBytes_.data() + start, length);
        start = quint32(to);
        to += length;
    }
    folderBytes_.resize(to);
    if (folderCost_ > seen_ + kFolderCostSlack)
        keepOutEveryFolder();
    // Settled again once their cost has doubled: each settling costs no
    // more than the folders added since the last.
    settleAt_ = 2 * folderCost_;
}

void KZMusicFolderScan::keepOutEveryFolder()
{
    if (std::exchange(everyFolder_, true))
        return;
    folderBytes_.clear();
    folderStarts_.clear();
    appendFolder(kRootURL);
    folderCost_ = folderCost(kRootURL);
}

std::string_view KZMusicFolderScan::folderAt(quint32 start) const
{
    quint32 size = 0;
    std::memcpy(&size, folderBytes_.data() + start, sizeof size);
    return std::string_view(folderBytes_).substr(start + sizeof size, size);
}

void KZMusicFolderScan::forEachFolderURL(const std::function<void(const QString&)>& take) const
{
    for (const QString& url : first_)
        take(url);
    for (const QString& url : last_)
        take(url);
    for (const quint32 start : folderStarts_) {
        const std::string_view url = folderAt(start);
        take(QString::fromUtf8(url.data(), qsizetype(url.size())));
    }
}

std::vector<QString> KZMusicFolderScan::folderURLs() const
{
    std::vector<QString> urls;
    forEachFolderURL([&urls](const QString& url) { urls.push_back(url); });
    return urls;
}

bool KZMusicFolderScan::inDoubt() const
{
    return doubt_ || tooMany_ || first_.size() + last_.size() + folderStarts_.size() > 1;
}
