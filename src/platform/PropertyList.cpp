// Property lists through libplist 2.2, and binary ones read by the
// program's own reader (platform/BinaryPropertyListReader).
//
// libplist trusts its input more than a program that opens files handed to it
// should: a binary list whose objects reference each other in a cycle, nest
// deeper than the stack allows, or share one container many times over (a
// few kilobytes that expand to gigabytes, since every reference becomes its
// own node) can crash it or exhaust memory, so it reads no binary list here.
// XML is parsed by libplist itself after a scan that reads it as libplist
// will and bounds its nesting, the keys of its dictionaries, the work its
// escapes would cost and the nodes it would make. Only then does libplist
// see the bytes.
//
// libplist 2.2 keeps every integer as 64 bits plus a width: signed 64-bit
// values are written as 8 bytes, values above INT64_MAX as 16. Its API can
// create only the first kind and cannot tell them apart when reading, so the
// unsigned ones are made by parsing a one-integer XML list and recognised by
// the width marker of their binary form.
#include "platform/PropertyList.h"

#include "platform/AtomicFile.h"
#include "platform/BinaryPropertyListReader.h"
#include "platform/FileOps.h"
#include "platform/Paths.h"
#include "platform/PropertyListFormat.h"
#include "platform/XmlTextEncoding.h"

#include <QDateTime>
#include <QStringList>
#include <QVariantList>

#include <plist/plist.h>

#include <algorithm>
#include <bit>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <locale.h>
#include <memory>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace platform {

namespace {

using plistformat::kMaxDateSeconds;
using plistformat::kMaxDepth;
using plistformat::kReferenceDateMsecs;
using plistformat::readBigEndian;

constexpr quint64 kMaxInputSize = UINT32_MAX - 1;

struct PlistFree {
    void operator()(void* node) const
    {
        if (node)
            plist_free(node);
    }
};
using PlistPtr = std::unique_ptr<void, PlistFree>;

// libplist reads a real with atof, which takes the decimal point of the
// calling thread's locale, and writes one with printf, which puts it there:
// under a German locale "0.799" reads back as 0. Its XML is read and written
// in the C locale, set for the calling thread alone while it works.
class CNumbers {
public:
    CNumbers() : previous_(cLocale() ? ::uselocale(cLocale()) : nullptr) {}
    ~CNumbers()
    {
        if (previous_)
            ::uselocale(previous_);
    }
    CNumbers(const CNumbers&) = delete;
    CNumbers& operator=(const CNumbers&) = delete;

private:
    static locale_t cLocale()
    {
        static const locale_t c = ::newlocale(LC_ALL_MASK, "C", locale_t(nullptr));
        return c;
    }
    locale_t previous_;
};

bool setError(QString* error, const QString& message)
{
    if (error)
        *error = message;
    return false;
}

QString displayPath(const fs::path& path)
{
    return QStringLiteral("“%1”").arg(platform::pathText(path));
}

// What an XML list would cost libplist before it is given the bytes.
//
// The structure is read here the way libplist's XML reader will read it:
// the same tokens (processing instructions, comments, the DOCTYPE and its
// internal subset, CDATA and comments inside texts, quoted attribute values
// that may hold '<' and '>'), the same rule for empty elements, the same
// matching of closing tags and the same place where it stops. A check that
// counted tags its own way could be told one thing while the parser builds
// another: a "</array>" inside a comment closes nothing, and a tree nested
// far deeper than counted crashes the recursion that frees it. Input that
// this reading cannot follow is refused before libplist sees it (libplist
// would refuse it too, but only after building, and freeing, what came
// before the fault).
//
// depth: the deepest nesting of dictionaries and arrays in the tree.
//
// entityWork: libplist decodes each character reference ("&amp;", "&#38;")
// by moving the rest of its text along, so one text costs about its length
// times its references: one megabyte of "&amp;" in a single string takes
// several seconds, four take minutes. The sum of that product over the runs
// between one '<' and the next bounds the parser's work; a run holds a tag as
// well as the text after it, and every '&' counts (in comments and CDATA too),
// so the sum may overestimate, never underestimate.
//
// keyWork: libplist checks each key of a dictionary against the keys before
// it, so a dictionary of n entries costs about n * n: 100,000 keys in one
// dictionary take half a second, 400,000 several, 800,000 minutes. The sum of
// n * n over the dictionaries the parser fills.
//
// nodes: the values and keys the parser makes a node of, each.
struct XmlCost {
    bool readable = true;
    int depth = 0;
    quint64 entityWork = 0;
    quint64 keyWork = 0;
    quint64 nodes = 0;
};

quint64 saturatingAdd(quint64 a, quint64 b) { return b > UINT64_MAX - a ? UINT64_MAX : a + b; }

quint64 entityWork(const QByteArray& xml)
{
    const char* s = xml.constData();
    const qsizetype n = xml.size();
    quint64 total = 0;
    quint64 runStart = 0;
    quint64 ampersands = 0;
    for (qsizetype i = 0; i <= n; ++i) {
        if (i < n && s[i] == '&') {
            ++ampersands;
        } else if (i == n || s[i] == '<') {
            if (ampersands != 0)
                total = saturatingAdd(total, ampersands * (quint64(i) - runStart));
            ampersands = 0;
            runStart = quint64(i) + 1;
        }
    }
    return total;
}

// libplist's XML reader, step by step, without building anything.
class XmlStructure {
public:
    explicit XmlStructure(const QByteArray& xml) : s_(xml.constData()), n_(xml.size()) {}

    XmlCost scan()
    {
        XmlCost cost;
        // libplist compares tag names as C strings and copies texts with
        // C string functions: a NUL would make it read what is not there.
        // XML has no NUL character.
        cost.readable = !std::memchr(s_, 0, size_t(n_)) && run();
        while (!tree_.empty())
            closeLevel();
        cost.depth = depth_;
        cost.keyWork = keyWork_;
        cost.nodes = nodes_;
        return cost;
    }

private:
    enum class Kind : quint8 { Plist, Dict, Array };
    struct Level {
        Kind kind;
        quint64 entries = 0;
    };

    static bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
    bool at(qsizetype i, std::string_view word) const
    {
        return i >= 0 && i <= n_ - qsizetype(word.size()) && std::equal(word.begin(), word.end(), s_ + i);
    }
    void skipSpace()
    {
        while (pos_ < n_ && isSpace(s_[pos_]))
            ++pos_;
    }
    // To the next '"', or the end.
    void skipToQuote()
    {
        const void* q = std::memchr(s_ + pos_, '"', size_t(n_ - pos_));
        pos_ = q ? static_cast<const char*>(q) - s_ : n_;
    }
    // Where `word` starts, looked for before its last possible place (which
    // the caller tests), optionally passing over quoted runs.
    void findWord(std::string_view word, bool skipQuotes)
    {
        while (pos_ < n_ - qsizetype(word.size())) {
            if (at(pos_, word))
                return;
            if (skipQuotes && s_[pos_] == '"') {
                ++pos_;
                skipToQuote();
                if (pos_ >= n_)
                    return;
            }
            ++pos_;
        }
    }
    // The next of `stops`, optionally passing over quoted runs.
    void findAny(std::string_view stops, bool skipQuotes)
    {
        while (pos_ < n_) {
            if (skipQuotes && s_[pos_] == '"') {
                ++pos_;
                skipToQuote();
                if (pos_ >= n_)
                    return;
            }
            if (stops.find(s_[pos_]) != std::string_view::npos)
                return;
            ++pos_;
        }
    }
    // `word` is found at its place, which must leave room for it.
    bool endsWith(std::string_view word)
    {
        findWord(word, false);
        if (pos_ > n_ - qsizetype(word.size()) || !at(pos_, word))
            return false;
        pos_ += qsizetype(word.size());
        return true;
    }

    // The text of a scalar element up to its closing tag: comments and CDATA
    // sections may lie in it, nothing else that starts with '<'.
    bool text(std::string_view tag, bool leadingSpace)
    {
        if (leadingSpace)
            skipSpace();
        for (;;) {
            const void* lt = std::memchr(s_ + pos_, '<', size_t(n_ - pos_));
            if (!lt)
                return false;
            pos_ = static_cast<const char*>(lt) - s_ + 1;
            if (pos_ >= n_)
                return false;
            if (s_[pos_] == '/')
                break;
            if (s_[pos_] != '!')
                return false;
            ++pos_;
            if (pos_ >= n_ - 1)
                return false;
            if (s_[pos_] == '-' && s_[pos_ + 1] == '-') {
                pos_ += 2;
                if (!endsWith("-->"))
                    return false;
            } else if (s_[pos_] == '[') {
                ++pos_;
                if (pos_ >= n_ - 8 || !at(pos_, "CDATA["))
                    return false;
                pos_ += 6;
                if (!endsWith("]]>"))
                    return false;
            } else {
                return false;
            }
        }
        ++pos_;
        if (pos_ >= n_ - qsizetype(tag.size()) || !at(pos_, tag))
            return false;
        pos_ += qsizetype(tag.size());
        skipSpace();
        if (pos_ >= n_ || s_[pos_] != '>')
            return false;
        ++pos_;
        return true;
    }

    void openLevel(Kind kind)
    {
        tree_.push_back({kind, 0});
        depth_ = std::max(depth_, int(std::min<size_t>(tree_.size(), INT_MAX)));
    }
    void closeLevel()
    {
        const quint64 count = tree_.back().entries;
        keyWork_ = saturatingAdd(keyWork_, count > UINT32_MAX ? UINT64_MAX : count * count);
        tree_.pop_back();
    }

    // False where libplist would fail; true where it would stop with a tree.
    bool run()
    {
        bool haveRoot = false;
        bool keyPending = false;
        bool hasContent = false;
        while (pos_ < n_) {
            skipSpace();
            if (pos_ >= n_)
                break;
            if (s_[pos_] != '<')
                return false;
            if (++pos_ >= n_)
                return false;
            if (s_[pos_] == '?') {
                findWord("?>", true);
                if (pos_ > n_ - 2 || !at(pos_, "?>"))
                    return false;
                pos_ += 2;
                continue;
            }
            if (s_[pos_] == '!') {
                if (n_ - pos_ > 3 && at(pos_, "!--")) {
                    pos_ += 3;
                    if (!endsWith("-->"))
                        return false;
                } else if (n_ - pos_ > 8 && at(pos_, "!DOCTYPE")) {
                    pos_ += 8;
                    bool subset = false;
                    while (pos_ < n_) {
                        findAny(" \t\r\n[>", true);
                        if (pos_ >= n_)
                            return false;
                        if (s_[pos_] == '[') {
                            subset = true;
                            break;
                        }
                        if (s_[pos_] == '>') {
                            ++pos_;
                            break;
                        }
                        skipSpace();
                    }
                    if (subset) {
                        findWord("]>", true);
                        if (pos_ > n_ - 2 || !at(pos_, "]>"))
                            return false;
                        pos_ += 2;
                    }
                } else {
                    return false;
                }
                continue;
            }

            const qsizetype start = pos_;
            findAny(" \r\n\t<>", false);
            if (pos_ >= n_)
                return false;
            std::string_view tag(s_ + start, size_t(pos_ - start));
            if (s_[pos_] != '>')
                findAny("<>", true);
            if (pos_ >= n_ || s_[pos_] != '>')
                return false;
            bool empty = false;
            if (s_[pos_ - 1] == '/') {
                const size_t cut = size_t(pos_ - start - 1);
                if (cut < tag.size())
                    tag = tag.substr(0, cut);
                empty = true;
            }
            ++pos_;

            if (tag == "plist") {
                hasContent = false;
                if (path_.empty() && haveRoot)
                    return true; // a second list is not read
                if (empty)
                    return false;
                path_.push_back(Kind::Plist);
                continue;
            }
            if (tag == "/plist") {
                if (!hasContent || path_.empty() || path_.back() != Kind::Plist)
                    return false;
                path_.pop_back();
                continue;
            }
            hasContent = true;

            if (tag.size() > 1 && tag.front() == '/') {
                const std::string_view name = tag.substr(1);
                const Kind kind = name == "dict" ? Kind::Dict : name == "array" ? Kind::Array : Kind::Plist;
                if (path_.empty() || kind == Kind::Plist || path_.back() != kind)
                    return false;
                path_.pop_back();
                closeLevel();
                if (tree_.empty())
                    return true; // the top container is closed: the parser stops here
                keyPending = false;
                continue;
            }

            const bool container = tag == "dict" || tag == "array";
            if (!container) {
                static constexpr std::string_view scalars[] = {"integer", "real", "true", "false",
                                                               "string",  "key",  "data", "date"};
                if (std::find(std::begin(scalars), std::end(scalars), tag) == std::end(scalars))
                    return false;
                const bool isText = tag == "string" || tag == "key";
                if (!empty && !text(tag, !isText))
                    return false;
                ++nodes_;
                if (tag == "key" && !empty && !keyPending && !tree_.empty() && tree_.back().kind == Kind::Dict) {
                    keyPending = true;
                    continue;
                }
            }
            const Kind kind = tag == "dict" ? Kind::Dict : Kind::Array;
            if (container)
                ++nodes_;
            if (!haveRoot) {
                haveRoot = true;
                if (!container)
                    return true; // a lone value is the whole list
                openLevel(kind);
                if (!empty)
                    path_.push_back(kind);
            } else {
                if (tree_.back().kind == Kind::Dict) {
                    if (!keyPending)
                        return false;
                    ++tree_.back().entries;
                }
                if (container && !empty) {
                    path_.push_back(kind);
                    openLevel(kind);
                }
            }
            keyPending = false;
        }
        // Still inside an element, or nothing read: a damaged list.
        return haveRoot && path_.empty();
    }

    const char* s_;
    qsizetype n_;
    qsizetype pos_ = 0;
    int depth_ = 0;
    quint64 keyWork_ = 0;
    quint64 nodes_ = 0;
    std::vector<Kind> path_;   // the open elements, as libplist matches closing tags
    std::vector<Level> tree_;  // the containers from the top down to the one being filled
};

XmlCost xmlCost(const QByteArray& xml)
{
    XmlCost cost = XmlStructure(xml).scan();
    cost.entityWork = entityWork(xml);
    return cost;
}

// About a second of libplist's work on a current machine. A real list
// (a music library's export, a preference file) spends a few escapes on each
// short string and stays thousands of times below it.
constexpr quint64 kMaxEntityWork = quint64(1) << 34;

// Key work allowed per byte of the list: a dictionary of n keys may be read
// when n * n is at most this many times the list's size, which keeps its
// cost near a few tenths of a second per megabyte. A real list spends far
// more bytes on each key: a music library's export about 1 to 3 KB on each
// track, so its tracks' dictionary passes up to millions of tracks; only a
// list packed with bare keys (some 20 bytes each) is refused, from about
// 40,000 keys in one dictionary.
constexpr quint64 kKeyWorkPerByte = 2000;

// What a node costs while libplist reads an XML list: libplist's node and
// its value, then the Qt value made of it, each with the allocator's
// overhead (measured: some 190 bytes); their texts and data cost about the
// list's bytes besides. A list of tiny elements ("<true/>") holds far more
// nodes per byte than a real one, whose texts and data take most of its
// bytes: an undo file spends some 90 bytes on each node.
constexpr quint64 kBytesPerNode = 200;
constexpr quint64 kTextBytesPerByte = 1;

// A reason to refuse a list of `size` bytes whose reading makes `nodes`
// nodes, when that would cost more than `extraPerByte` times its size
// besides the list itself (and some room for a small list of many short
// values); empty when it may be read.
QString nodesProblem(quint64 nodes, quint64 size, quint64 extraPerByte)
{
    const quint64 budget = (quint64(64) << 20) + extraPerByte * size;
    const quint64 texts = kTextBytesPerByte * size;
    const quint64 allowed = budget > texts ? (budget - texts) / kBytesPerNode : 0;
    if (nodes <= allowed)
        return {};
    return QStringLiteral("the property list holds too many values for its size to be read (%1 values in %2 "
                          "bytes; a list of this size may hold %3)")
        .arg(nodes)
        .arg(size)
        .arg(allowed);
}

// ---------------------------------------------------------------------------
// libplist -> Qt

bool isWideUnsigned(plist_t node)
{
    PlistPtr copy(plist_copy(node));
    char* bin = nullptr;
    uint32_t length = 0;
    plist_to_bin(copy.get(), &bin, &length);
    const bool wide = bin && length > 8 && static_cast<uchar>(bin[8]) == 0x14;
    if (bin)
        plist_to_bin_free(bin);
    return wide;
}

// The seconds since 2001 that a date node holds, read from its binary form
// (the marker 0x33 and a big-endian double), for the dates that libplist's
// 32-bit accessor cannot answer.
std::optional<double> exactDateSeconds(plist_t node)
{
    PlistPtr copy(plist_copy(node));
    char* bin = nullptr;
    uint32_t length = 0;
    plist_to_bin(copy.get(), &bin, &length);
    std::optional<double> seconds;
    if (bin && length >= 17 && static_cast<uchar>(bin[8]) == 0x33)
        seconds = std::bit_cast<double>(readBigEndian(reinterpret_cast<const uchar*>(bin) + 9, 8));
    if (bin)
        plist_to_bin_free(bin);
    if (seconds && (!std::isfinite(*seconds) || std::fabs(*seconds) > kMaxDateSeconds))
        return std::nullopt;
    return seconds;
}

// libplist frees a tree by recursion, one call per level. The checks above
// keep every tree it builds shallow; should one still come out deeper than a
// list may be, it is taken apart from its leaves up instead, each node freed
// once it holds nothing. Slow for wide trees, but never taken by a list that
// passed those checks.
plist_t firstChild(plist_t node)
{
    switch (plist_get_node_type(node)) {
    case PLIST_ARRAY:
        return plist_array_get_size(node) > 0 ? plist_array_get_item(node, 0) : nullptr;
    case PLIST_DICT: {
        plist_dict_iter it = nullptr;
        plist_dict_new_iter(node, &it);
        std::unique_ptr<void, decltype(&std::free)> iterGuard(it, &std::free);
        char* key = nullptr;
        plist_t value = nullptr;
        plist_dict_next_item(node, it, &key, &value);
        std::free(key);
        return value;
    }
    default:
        return nullptr;
    }
}

void freeDeepTree(plist_t root)
{
    plist_t node = root;
    while (node) {
        if (plist_t child = firstChild(node)) {
            node = child;
            continue;
        }
        plist_t parent = plist_get_parent(node);
        if (!parent) {
            plist_free(node);
            return;
        }
        if (plist_get_node_type(parent) == PLIST_ARRAY) {
            plist_array_item_remove(node);
        } else {
            char* key = nullptr;
            plist_get_key_val(plist_dict_item_get_key(node), &key);
            std::unique_ptr<char, decltype(&std::free)> keyGuard(key, &std::free);
            plist_dict_remove_item(parent, key ? key : "");
        }
        node = parent;
    }
}

std::optional<QVariant> fromNode(plist_t node, int depth, QString* error, bool* tooDeep)
{
    if (depth > kMaxDepth) {
        setError(error, QStringLiteral("nested too deeply"));
        *tooDeep = true;
        return std::nullopt;
    }
    switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
        uint8_t value = 0;
        plist_get_bool_val(node, &value);
        return QVariant(value != 0);
    }
    case PLIST_UINT: {
        uint64_t value = 0;
        plist_get_uint_val(node, &value);
        if (value <= uint64_t(INT64_MAX) || !isWideUnsigned(node))
            return QVariant(static_cast<qint64>(value));
        return QVariant(static_cast<quint64>(value));
    }
    case PLIST_REAL: {
        double value = 0;
        plist_get_real_val(node, &value);
        return QVariant(value);
    }
    case PLIST_STRING: {
        uint64_t length = 0;
        const char* text = plist_get_string_ptr(node, &length);
        return QVariant(plistformat::textOfUtf8(QByteArrayView(text, text ? qsizetype(length) : 0)));
    }
    case PLIST_DATA: {
        uint64_t length = 0;
        const char* bytes = plist_get_data_ptr(node, &length);
        return QVariant(QByteArray(bytes, bytes ? qsizetype(length) : 0));
    }
    case PLIST_DATE: {
        int32_t sec = 0;
        int32_t usec = 0;
        plist_get_date_val(node, &sec, &usec);
        qint64 msecs = 0;
        // INT32_MIN is what libplist answers for a date beyond its 32 bits (a
        // release date from the 1920s); and it splits a negative time into a
        // truncated second and the magnitude of its fraction, which loses the
        // sign within the second before 2001. The exact value is still there.
        if (sec == INT32_MIN || (sec == 0 && usec != 0)) {
            const auto seconds = exactDateSeconds(node);
            if (!seconds) {
                setError(error, QStringLiteral("a date lies outside the supported range"));
                return std::nullopt;
            }
            msecs = std::llround(*seconds * 1000.0);
        } else {
            const qint64 fraction = std::llround(usec / 1000.0);
            msecs = qint64(sec) * 1000 + (sec < 0 ? -fraction : fraction);
        }
        return QVariant(QDateTime::fromMSecsSinceEpoch(msecs + kReferenceDateMsecs, Qt::UTC));
    }
    case PLIST_ARRAY: {
        QVariantList list;
        list.reserve(plist_array_get_size(node));
        // Walked with an iterator: libplist finds an element by index by
        // walking from the start of the array, so reading every element by
        // index costs the square of their number (a minute for 100,000).
        plist_array_iter it = nullptr;
        plist_array_new_iter(node, &it);
        std::unique_ptr<void, decltype(&std::free)> iterGuard(it, &std::free);
        for (;;) {
            plist_t value = nullptr;
            plist_array_next_item(node, it, &value);
            if (!value)
                break;
            auto item = fromNode(value, depth + 1, error, tooDeep);
            if (!item)
                return std::nullopt;
            list.append(std::move(*item));
        }
        return QVariant(list);
    }
    case PLIST_DICT: {
        QVariantMap map;
        plist_dict_iter it = nullptr;
        plist_dict_new_iter(node, &it);
        std::unique_ptr<void, decltype(&std::free)> iterGuard(it, &std::free);
        for (;;) {
            char* key = nullptr;
            plist_t value = nullptr;
            plist_dict_next_item(node, it, &key, &value);
            std::unique_ptr<char, decltype(&std::free)> keyGuard(key, &std::free);
            if (!value)
                break;
            auto item = fromNode(value, depth + 1, error, tooDeep);
            if (!item)
                return std::nullopt;
            map.insert(plistformat::textOfUtf8(key ? key : ""), std::move(*item));
        }
        return QVariant(map);
    }
    case PLIST_UID:
        setError(error, QStringLiteral("unsupported value type (keyed-archive UID)"));
        return std::nullopt;
    case PLIST_KEY:
    case PLIST_NONE:
    default:
        setError(error, QStringLiteral("unsupported value type"));
        return std::nullopt;
    }
}

// ---------------------------------------------------------------------------
// Qt -> libplist (from normalized values only)

plist_t wideUnsignedNode(quint64 value)
{
    const QByteArray xml = "<plist><integer>" + QByteArray::number(value) + "</integer></plist>";
    plist_t node = nullptr;
    plist_from_xml(xml.constData(), uint32_t(xml.size()), &node);
    return node;
}

// Whole seconds since 2001 (rounded down) and the milliseconds beyond them.
std::pair<qint64, qint64> dateParts(const QDateTime& date)
{
    const qint64 msecs = date.toMSecsSinceEpoch() - kReferenceDateMsecs;
    qint64 sec = msecs / 1000;
    qint64 rest = msecs % 1000;
    if (rest < 0) {
        sec -= 1;
        rest += 1000;
    }
    return {sec, rest};
}

bool fitsLibplistSeconds(qint64 sec)
{
    // Strictly inside: seconds plus a fraction must still fit when libplist
    // reads them back, and INT32_MIN is its overflow answer.
    return sec > INT32_MIN && sec < INT32_MAX;
}

// Dates outside libplist's 32-bit constructor are made by its XML parser,
// which keeps them as a double like any other date; whole seconds only.
plist_t farDateNode(const QDateTime& date)
{
    const QByteArray xml = "<plist><date>"
        + date.toUTC().toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss'Z'")).toLatin1() + "</date></plist>";
    plist_t node = nullptr;
    plist_from_xml(xml.constData(), uint32_t(xml.size()), &node);
    return node;
}

plist_t dateNode(const QDateTime& date, PropertyList::Format format)
{
    const auto [sec, rest] = dateParts(date);
    if (!fitsLibplistSeconds(sec))
        return farDateNode(date);
    // XML holds whole seconds and libplist would truncate toward zero; round
    // down here so that a date before 2001 is not moved forward.
    const qint64 usec = format == PropertyList::Format::Xml ? 0 : rest * 1000;
    return plist_new_date(int32_t(sec), int32_t(usec));
}

plist_t toNode(const QVariant& value, PropertyList::Format format, int depth, QString* error)
{
    if (depth > kMaxDepth) {
        setError(error, QStringLiteral("nested too deeply"));
        return nullptr;
    }
    switch (value.typeId()) {
    case QMetaType::Bool:
        return plist_new_bool(value.toBool() ? 1 : 0);
    case QMetaType::LongLong:
        return plist_new_uint(static_cast<uint64_t>(value.toLongLong()));
    case QMetaType::ULongLong: {
        plist_t node = wideUnsignedNode(value.toULongLong());
        if (!node)
            setError(error, QStringLiteral("an unsigned integer could not be converted"));
        return node;
    }
    case QMetaType::Double:
        return plist_new_real(value.toDouble());
    case QMetaType::QString:
        return plist_new_string(value.toString().toUtf8().constData());
    case QMetaType::QByteArray: {
        const QByteArray bytes = value.toByteArray();
        return plist_new_data(bytes.constData(), uint64_t(bytes.size()));
    }
    case QMetaType::QDateTime: {
        plist_t node = dateNode(value.toDateTime(), format);
        if (!node)
            setError(error, QStringLiteral("a date could not be converted"));
        return node;
    }
    case QMetaType::QVariantList: {
        PlistPtr array(plist_new_array());
        for (const QVariant& item : value.toList()) {
            plist_t node = toNode(item, format, depth + 1, error);
            if (!node)
                return nullptr;
            plist_array_append_item(array.get(), node);
        }
        return array.release();
    }
    case QMetaType::QVariantMap: {
        PlistPtr dict(plist_new_dict());
        const QVariantMap map = value.toMap();
        for (auto it = map.cbegin(); it != map.cend(); ++it) {
            plist_t node = toNode(it.value(), format, depth + 1, error);
            if (!node)
                return nullptr;
            plist_dict_set_item(dict.get(), it.key().toUtf8().constData(), node);
        }
        return dict.release();
    }
    default:
        setError(error, QStringLiteral("internal error: value not normalized"));
        return nullptr;
    }
}

std::optional<QVariant> normalize(const QVariant& value, int depth, QString* error)
{
    if (depth > kMaxDepth) {
        setError(error, QStringLiteral("nested too deeply"));
        return std::nullopt;
    }
    if (!value.isValid()) {
        setError(error, QStringLiteral("an empty value cannot be stored in a property list"));
        return std::nullopt;
    }
    switch (value.typeId()) {
    case QMetaType::Bool:
        return QVariant(value.toBool());
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::Short:
    case QMetaType::Int:
    case QMetaType::Long:
    case QMetaType::LongLong:
        return QVariant(static_cast<qint64>(value.toLongLong()));
    case QMetaType::UChar:
    case QMetaType::UShort:
    case QMetaType::UInt:
    case QMetaType::ULong:
    case QMetaType::ULongLong: {
        const quint64 v = value.toULongLong();
        return v <= quint64(INT64_MAX) ? QVariant(static_cast<qint64>(v)) : QVariant(v);
    }
    case QMetaType::Float:
    case QMetaType::Double:
        return QVariant(value.toDouble());
    case QMetaType::QString: {
        QString text = value.toString();
        // libplist takes C strings: a NUL would silently cut the text short.
        if (text.contains(QChar(u'\0'))) {
            setError(error, QStringLiteral("a text contains a NUL character"));
            return std::nullopt;
        }
        return QVariant(text);
    }
    case QMetaType::QByteArray:
        return QVariant(value.toByteArray());
    case QMetaType::QDateTime: {
        const QDateTime date = value.toDateTime();
        if (!date.isValid()) {
            setError(error, QStringLiteral("an invalid date cannot be stored"));
            return std::nullopt;
        }
        const QDateTime utc = date.toUTC();
        const auto [sec, rest] = dateParts(utc);
        if (fitsLibplistSeconds(sec))
            return QVariant(utc);
        // Far dates are written through a four-digit year in XML text (see
        // farDateNode) and keep whole seconds; say so in memory as well.
        if (utc.date().year() < 1000 || utc.date().year() > 9999) {
            setError(error, QStringLiteral("the date %1 lies outside the supported range (years 1000 to 9999)")
                                .arg(utc.toString(Qt::ISODate)));
            return std::nullopt;
        }
        return QVariant(utc.addMSecs(-rest));
    }
    case QMetaType::QStringList: {
        QVariantList list;
        for (const QString& text : value.toStringList()) {
            auto item = normalize(QVariant(text), depth + 1, error);
            if (!item)
                return std::nullopt;
            list.append(std::move(*item));
        }
        return QVariant(list);
    }
    case QMetaType::QVariantList: {
        QVariantList list;
        const QVariantList source = value.toList();
        list.reserve(source.size());
        for (const QVariant& element : source) {
            auto item = normalize(element, depth + 1, error);
            if (!item)
                return std::nullopt;
            list.append(std::move(*item));
        }
        return QVariant(list);
    }
    case QMetaType::QVariantMap: {
        QVariantMap map;
        const QVariantMap source = value.toMap();
        for (auto it = source.cbegin(); it != source.cend(); ++it) {
            if (it.key().contains(QChar(u'\0'))) {
                setError(error, QStringLiteral("a dictionary key contains a NUL character"));
                return std::nullopt;
            }
            auto item = normalize(it.value(), depth + 1, error);
            if (!item) {
                if (error)
                    *error = QStringLiteral("“%1”: %2").arg(it.key(), *error);
                return std::nullopt;
            }
            map.insert(it.key(), std::move(*item));
        }
        return QVariant(map);
    }
    default:
        setError(error, QStringLiteral("a value of type %1 cannot be stored in a property list")
                            .arg(QString::fromLatin1(value.metaType().name())));
        return std::nullopt;
    }
}

// How a list's first bytes look: a binary header, or XML's first '<' after
// an optional byte-order mark and white space. Unknown while only white
// space has been seen.
enum class Opening { List, NotList, Unknown };

Opening openingOf(const char* p, qsizetype n)
{
    if (n >= 6 && std::memcmp(p, "bplist", 6) == 0)
        return Opening::List;
    // UTF-16, by its mark or its zero bytes: what it holds is told once it
    // is read in its encoding.
    if (n >= 2
        && (std::memcmp(p, "\xFF\xFE", 2) == 0 || std::memcmp(p, "\xFE\xFF", 2) == 0
            || (p[0] == '<' && p[1] == 0) || (p[0] == 0 && p[1] == '<')))
        return Opening::List;
    qsizetype start = n >= 3 && std::memcmp(p, "\xEF\xBB\xBF", 3) == 0 ? 3 : 0;
    while (start < n && std::isspace(static_cast<uchar>(p[start])))
        ++start;
    if (start >= n)
        return Opening::Unknown;
    return p[start] == '<' ? Opening::List : Opening::NotList;
}

// Read whole only once its first bytes look like a list, its size fits what
// the caller expects of its kind, and it has no holes: a sparse file claims
// gigabytes that cost nothing on disk and would all be read into memory.
bool readWholeFile(const fs::path& file, QByteArray* out, QString* error, bool followLinks, quint64 maxSize)
{
    const quint64 limit = std::min(maxSize, kMaxInputSize);
    const auto inspect = [limit](int fd, quint64 size) -> std::optional<QString> {
        char head[64];
        ssize_t got = 0;
        do
            got = ::pread(fd, head, std::min<size_t>(sizeof head, size), 0);
        while (got < 0 && errno == EINTR);
        if (got < 0)
            return systemErrorString(errno);
        if (openingOf(head, qsizetype(got)) == Opening::NotList)
            return QStringLiteral("not a property list");
        if (size > limit)
            return QStringLiteral("the file is too large (%1 bytes; a file of this kind holds at most %2)")
                .arg(size)
                .arg(limit);
        const off_t hole = ::lseek(fd, 0, SEEK_HOLE);
        if (hole >= 0 && quint64(hole) < size)
            return QStringLiteral("the file has holes (parts that were never written): it is damaged");
        return std::nullopt;
    };
    QString reason;
    std::optional<QByteArray> data = readRegularFile(file, limit, &reason, followLinks, inspect);
    if (!data)
        return setError(error, QStringLiteral("Could not read %1: %2").arg(displayPath(file), reason));
    *out = std::move(*data);
    return true;
}

// An XML list in UTF-8, read by libplist once it is known to be safe to.
std::optional<QVariant> fromXmlInUtf8(const QByteArray& data, QString* error, quint64 extraPerByte);

} // namespace

std::optional<QVariant> PropertyList::fromData(const QByteArray& data, QString* error, quint64 extraPerByte)
{
    if (data.isEmpty()) {
        setError(error, QStringLiteral("the property list is empty"));
        return std::nullopt;
    }
    if (quint64(data.size()) > kMaxInputSize) {
        setError(error, QStringLiteral("the property list is too large"));
        return std::nullopt;
    }

    if (data.startsWith("bplist")) {
        if (!data.startsWith("bplist00")) {
            setError(error, QStringLiteral("unsupported binary property list version"));
            return std::nullopt;
        }
        // Read by the program's own reader, not libplist's: it reads each
        // object once, shares what several refer to, and bounds what the
        // list may cost by its bytes before sizing anything by what it
        // claims. libplist copies a shared object for every reference.
        return readBinaryPropertyList(data, error);
    }
    {
        if (openingOf(data.constData(), data.size()) != Opening::List) {
            setError(error, QStringLiteral("not a property list"));
            return std::nullopt;
        }
        // libplist reads UTF-8 alone: a list in another encoding, declared
        // or marked as XML readers tell it, is read in UTF-8.
        QString refused;
        const std::optional<QByteArray> utf8 = xmltext::toUtf8(data, &refused);
        if (!utf8) {
            setError(error, refused);
            return std::nullopt;
        }
        if (openingOf(utf8->constData(), utf8->size()) != Opening::List) {
            setError(error, QStringLiteral("not a property list"));
            return std::nullopt;
        }
        return fromXmlInUtf8(*utf8, error, extraPerByte);
    }
}

namespace {

std::optional<QVariant> fromXmlInUtf8(const QByteArray& data, QString* error, quint64 extraPerByte)
{
    plist_t root = nullptr;
    {
        const XmlCost cost = xmlCost(data);
        if (cost.depth > kMaxDepth) {
            setError(error, QStringLiteral("the property list is nested too deeply"));
            return std::nullopt;
        }
        if (!cost.readable) {
            setError(error, QStringLiteral("damaged or truncated XML property list"));
            return std::nullopt;
        }
        if (cost.entityWork > kMaxEntityWork) {
            setError(error, QStringLiteral("the property list holds texts with too many escaped characters "
                                           "(such as “&amp;”) to be read"));
            return std::nullopt;
        }
        if (cost.keyWork / kKeyWorkPerByte > quint64(data.size())) {
            setError(error, QStringLiteral("the property list holds a dictionary with too many keys for its size "
                                           "to be read (about %1 keys in %2 bytes)")
                                .arg(quint64(std::sqrt(double(cost.keyWork))))
                                .arg(data.size()));
            return std::nullopt;
        }
        if (const QString tooMany = nodesProblem(cost.nodes, quint64(data.size()), extraPerByte);
            !tooMany.isEmpty()) {
            setError(error, tooMany);
            return std::nullopt;
        }
        {
            const CNumbers numbers;
            plist_from_xml(data.constData(), uint32_t(data.size()), &root);
        }
        if (!root) {
            setError(error, QStringLiteral("damaged or truncated XML property list"));
            return std::nullopt;
        }
    }

    struct Tree {
        plist_t root;
        bool deep = false;
        ~Tree() { deep ? freeDeepTree(root) : plist_free(root); }
    } tree{root};
    QString reason;
    auto value = fromNode(root, 0, &reason, &tree.deep);
    if (!value)
        setError(error, QStringLiteral("unreadable property list: %1").arg(reason));
    return value;
}

} // namespace

QByteArray PropertyList::toData(const QVariant& value, Format format, QString* error)
{
    auto normal = normalize(value, 0, error);
    if (!normal)
        return {};
    PlistPtr root(toNode(*normal, format, 0, error));
    if (!root)
        return {};

    char* out = nullptr;
    uint32_t length = 0;
    QByteArray result;
    if (format == Format::Binary) {
        plist_to_bin(root.get(), &out, &length);
        if (out) {
            result = QByteArray(out, qsizetype(length));
            plist_to_bin_free(out);
        }
    } else {
        const CNumbers numbers;
        plist_to_xml(root.get(), &out, &length);
        if (out) {
            result = QByteArray(out, qsizetype(length));
            plist_to_xml_free(out);
        }
    }
    if (result.isEmpty())
        setError(error, QStringLiteral("the value could not be turned into a property list"));
    return result;
}

std::optional<QVariant> PropertyList::readFile(const fs::path& file, QString* error, Links links, quint64 maxSize,
                                               quint64 extraPerByte)
{
    QByteArray data;
    if (!readWholeFile(file, &data, error, links == Links::Follow, maxSize))
        return std::nullopt;
    QString reason;
    auto value = fromData(data, &reason, extraPerByte);
    if (!value)
        setError(error, QStringLiteral("%1: %2").arg(displayPath(file), reason));
    return value;
}

std::optional<QVariantMap> PropertyList::readDictionary(const fs::path& file, QString* error, Links links,
                                                       quint64 maxSize, quint64 extraPerByte)
{
    auto value = readFile(file, error, links, maxSize, extraPerByte);
    if (!value)
        return std::nullopt;
    if (value->typeId() != QMetaType::QVariantMap) {
        setError(error, QStringLiteral("%1: the property list is not a dictionary").arg(displayPath(file)));
        return std::nullopt;
    }
    return value->toMap();
}

bool PropertyList::writeFile(const fs::path& file, const QVariant& value, Format format, QString* error,
                             Links links)
{
    QString reason;
    const QByteArray data = toData(value, format, &reason);
    if (data.isEmpty())
        return setError(error, QStringLiteral("Could not write %1: %2").arg(displayPath(file), reason));
    return writeFileAtomically(file, data, error, links == Links::Follow);
}

std::optional<QVariant> PropertyList::normalized(const QVariant& value, QString* error)
{
    return normalize(value, 0, error);
}

} // namespace platform
