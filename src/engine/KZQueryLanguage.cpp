#include "engine/KZQueryLanguage.h"

#include "platform/Paths.h"
#include "services/KZFilesUtilities.h"

#include <QMimeDatabase>
#include <QMimeType>
#include <QRegularExpression>
#include <QTimeZone>

#include <algorithm>
#include <cmath>
#include <system_error>
#include <utility>

namespace fs = std::filesystem;

namespace kzquery {

namespace {

enum class Attribute { Name, Size, PhysicalSize, Modified, Created, Accessed, Changed, Kind, Unknown };
enum class Op { Equal, NotEqual, Less, Greater, LessEqual, GreaterEqual };

struct AttributeName {
    const char* name;
    Attribute attribute;
};

constexpr AttributeName kAttributes[] = {
    {"kMDItemFSName", Attribute::Name},
    {"kMDItemDisplayName", Attribute::Name},
    {"kMDItemFSSize", Attribute::Size},
    {"kMDItemLogicalSize", Attribute::Size},
    {"kMDItemPhysicalSize", Attribute::PhysicalSize},
    {"kMDItemFSContentChangeDate", Attribute::Modified},
    {"kMDItemContentModificationDate", Attribute::Modified},
    {"kMDItemFSCreationDate", Attribute::Created},
    {"kMDItemContentCreationDate", Attribute::Created},
    {"kMDItemLastUsedDate", Attribute::Accessed},
    {"kMDItemFSAttributeChangeDate", Attribute::Changed},
    {"kMDItemContentType", Attribute::Kind},
    {"kMDItemContentTypeTree", Attribute::Kind},
};

bool isText(Attribute a) { return a == Attribute::Name || a == Attribute::Kind; }
bool isNumber(Attribute a) { return a == Attribute::Size || a == Attribute::PhysicalSize; }

struct Value {
    enum class Type { Text, Number, Date } type = Type::Text;
    QString text;
    bool caseless = false;
    bool diacriticless = false;
    bool words = false;
    double number = 0;
    QDateTime date;
};

QString fold(QString text, bool caseless, bool diacriticless)
{
    if (diacriticless) {
        QString bare;
        const QString decomposed = text.normalized(QString::NormalizationForm_D);
        bare.reserve(decomposed.size());
        for (const QChar c : decomposed)
            if (c.category() != QChar::Mark_NonSpacing)
                bare.append(c);
        text = bare;
    }
    return caseless ? text.toCaseFolded() : text;
}

// Matches folded text; `pattern` keeps its escapes.
bool matchFolded(const QString& pattern, const QString& text)
{
    // Positions of the last star and of the text it absorbs, for the one
    // backtrack a wildcard needs.
    qsizetype p = 0;
    qsizetype t = 0;
    qsizetype starP = -1;
    qsizetype starT = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == u'*') {
            starP = ++p;
            starT = t;
            continue;
        }
        if (p < pattern.size()) {
            const bool escaped = pattern[p] == u'\\' && p + 1 < pattern.size();
            const QChar want = escaped ? pattern[p + 1] : pattern[p];
            if ((!escaped && want == u'?') || want == text[t]) {
                p += escaped ? 2 : 1;
                ++t;
                continue;
            }
        }
        if (starP < 0)
            return false;
        p = starP;
        t = ++starT;
    }
    while (p < pattern.size() && pattern[p] == u'*')
        ++p;
    return p == pattern.size();
}

bool textMatches(const Value& value, const QString& text)
{
    const QString pattern = fold(value.text, value.caseless, value.diacriticless);
    const QString folded = fold(text, value.caseless, value.diacriticless);
    if (matchFolded(pattern, folded))
        return true;
    if (!value.words)
        return false;
    // Word matching: the pattern may match any word of the name as well.
    for (const QString& word : folded.split(QRegularExpression(QStringLiteral("[^\\w]+")), Qt::SkipEmptyParts))
        if (matchFolded(pattern, word))
            return true;
    return false;
}

template <typename T>
bool compareOrdered(const T& left, Op op, const T& right)
{
    switch (op) {
    case Op::Equal: return left == right;
    case Op::NotEqual: return left != right;
    case Op::Less: return left < right;
    case Op::Greater: return left > right;
    case Op::LessEqual: return left <= right;
    case Op::GreaterEqual: return left >= right;
    }
    return false;
}

QDateTime dateOf(Attribute a, const Facts& facts)
{
    switch (a) {
    case Attribute::Modified: return facts.modified;
    case Attribute::Created: return facts.created;
    case Attribute::Accessed: return facts.accessed;
    case Attribute::Changed: return facts.changed;
    default: return {};
    }
}

// A kind asked once per item, however many comparisons ask it.
struct Context {
    const Facts& facts;
    mutable std::optional<QString> mime;
    const QString& mimeType() const
    {
        if (!mime)
            mime = facts.isDirectory ? QStringLiteral("inode/directory")
                                     : (facts.mimeType ? facts.mimeType() : QString());
        return *mime;
    }
};

} // namespace

class Node {
public:
    enum class Kind { And, Or, Not, Compare, InRange };
    Kind kind = Kind::Compare;
    // And and Or hold a whole run of their operator ("a && b && c") as one
    // node, so that a long run costs no depth: a tree one level per operator
    // would be evaluated and destroyed by recursion as deep as the run is
    // long. Not holds its one operand.
    std::vector<std::shared_ptr<const Node>> operands;
    Attribute attribute = Attribute::Unknown;
    Op op = Op::Equal;
    Value value;
    Value high; // InRange's upper end

    bool eval(const Context& context) const
    {
        switch (kind) {
        case Kind::And: return evalRun(context, false);
        case Kind::Or: return evalRun(context, true);
        case Kind::Not: return !operands.front()->eval(context);
        case Kind::InRange: return compare(context, Op::GreaterEqual, value) && compare(context, Op::LessEqual, high);
        case Kind::Compare: return compare(context, op, value);
        }
        return false;
    }

    // Whether evaluating this may ask for the item's kind.
    bool costly = false;

private:
    // Operands are free of effects: those that may read the file go last,
    // so that a name or a size often decides alone. `decides` is the value
    // that ends the run (true for Or, false for And).
    bool evalRun(const Context& context, bool decides) const
    {
        for (const bool costlyPass : {false, true})
            for (const auto& operand : operands)
                if (operand->costly == costlyPass && operand->eval(context) == decides)
                    return decides;
        return !decides;
    }

    bool compare(const Context& context, Op how, const Value& against) const
    {
        const Facts& facts = context.facts;
        switch (attribute) {
        case Attribute::Unknown: return false;
        case Attribute::Name: {
            if (how == Op::Equal || how == Op::NotEqual)
                return textMatches(against, facts.name) == (how == Op::Equal);
            const QString a = fold(facts.name, against.caseless, against.diacriticless);
            const QString b = fold(against.text, against.caseless, against.diacriticless);
            return compareOrdered(a.compare(b), how, 0);
        }
        case Attribute::Kind: {
            if (how != Op::Equal && how != Op::NotEqual)
                return false;
            return kindMatches(against.text, context.mimeType()) == (how == Op::Equal);
        }
        case Attribute::Size:
        case Attribute::PhysicalSize: {
            const double size = double(attribute == Attribute::Size ? facts.size : facts.physicalSize);
            return compareOrdered(size, how, against.number);
        }
        default: {
            const QDateTime date = dateOf(attribute, facts);
            if (!date.isValid())
                return false;
            return compareOrdered(date.toMSecsSinceEpoch(), how, against.date.toMSecsSinceEpoch());
        }
        }
    }
};

Query::Query(std::shared_ptr<const Node> root, QStringList unknown) : root_(std::move(root)), unknown_(std::move(unknown)) {}

bool Query::matches(const Facts& facts) const
{
    const Context context{facts, std::nullopt};
    return root_->eval(context);
}

// ---- Parsing --------------------------------------------------------------------------------

namespace {

class Parser {
public:
    Parser(const QString& text, const QDateTime& now) : s_(text), now_(now) {}

    std::shared_ptr<const Node> parseAll()
    {
        auto root = parseOr();
        skipSpace();
        if (root && pos_ < s_.size())
            fail(QStringLiteral("unexpected text"));
        return error_.isEmpty() ? root : nullptr;
    }
    const QString& error() const { return error_; }
    const QStringList& unknown() const { return unknown_; }

private:
    std::shared_ptr<const Node> fail(const QString& why)
    {
        if (error_.isEmpty())
            error_ = why + QStringLiteral(" at offset ") + QString::number(pos_);
        return nullptr;
    }
    void skipSpace()
    {
        while (pos_ < s_.size() && s_[pos_].isSpace())
            ++pos_;
    }
    bool take(QStringView token)
    {
        skipSpace();
        if (QStringView(s_).mid(pos_).startsWith(token)) {
            pos_ += token.size();
            return true;
        }
        return false;
    }
    static std::shared_ptr<const Node> join(Node::Kind kind, std::vector<std::shared_ptr<const Node>> operands)
    {
        auto node = std::make_shared<Node>();
        node->kind = kind;
        node->costly = std::any_of(operands.begin(), operands.end(), [](const auto& o) { return o->costly; });
        node->operands = std::move(operands);
        return node;
    }

    // A run of one operator over the next tighter level, as one node.
    std::shared_ptr<const Node> parseRun(QStringView token, Node::Kind kind,
                                         std::shared_ptr<const Node> (Parser::*operand)())
    {
        auto first = (this->*operand)();
        if (!first)
            return nullptr;
        std::vector<std::shared_ptr<const Node>> run{std::move(first)};
        while (take(token))
            if (auto next = (this->*operand)())
                run.push_back(std::move(next));
            else
                return nullptr;
        return run.size() == 1 ? std::move(run.front()) : join(kind, std::move(run));
    }
    std::shared_ptr<const Node> parseOr() { return parseRun(u"||", Node::Kind::Or, &Parser::parseAnd); }
    std::shared_ptr<const Node> parseAnd() { return parseRun(u"&&", Node::Kind::And, &Parser::parseUnary); }
    std::shared_ptr<const Node> parseUnary()
    {
        if (++depth_ > 200)
            return fail(QStringLiteral("too deeply nested"));
        std::shared_ptr<const Node> node;
        skipSpace();
        if (pos_ < s_.size() && s_[pos_] == u'!' && !QStringView(s_).mid(pos_).startsWith(u"!=")) {
            ++pos_;
            if (auto inner = parseUnary())
                node = join(Node::Kind::Not, {std::move(inner)});
        } else if (take(u"(")) {
            node = parseOr();
            if (node && !take(u")"))
                node = fail(QStringLiteral("missing )"));
        } else {
            node = parseComparison();
        }
        --depth_;
        return node;
    }

    QString identifier(bool dotted = false)
    {
        skipSpace();
        const qsizetype start = pos_;
        if (pos_ < s_.size() && s_[pos_] == u'*')
            return QString(s_[pos_++]);
        while (pos_ < s_.size()
               && (s_[pos_].isLetterOrNumber() || s_[pos_] == u'_' || s_[pos_] == u':' || (dotted && s_[pos_] == u'.')))
            ++pos_;
        return s_.mid(start, pos_ - start);
    }

    Attribute attributeNamed(const QString& name)
    {
        for (const AttributeName& known : kAttributes)
            if (name == QLatin1String(known.name))
                return known.attribute;
        if (!unknown_.contains(name))
            unknown_.append(name);
        return Attribute::Unknown;
    }

    std::shared_ptr<const Node> parseComparison()
    {
        // Each comparison is weighed against every file of the scopes; a
        // saved search made by hand or by a program holds a few dozen.
        constexpr int kMaxComparisons = 10000;
        if (++comparisons_ > kMaxComparisons)
            return fail(QStringLiteral("the query holds more than %1 comparisons").arg(kMaxComparisons));
        const QString name = identifier();
        if (name.isEmpty())
            return fail(QStringLiteral("expected an attribute"));
        auto node = std::make_shared<Node>();
        if (name == u"InRange") {
            if (!take(u"("))
                return fail(QStringLiteral("expected ( after InRange"));
            const QString attr = identifier();
            if (attr.isEmpty() || !take(u","))
                return fail(QStringLiteral("expected an attribute and a comma"));
            node->kind = Node::Kind::InRange;
            node->attribute = attributeNamed(attr);
            node->costly = node->attribute == Attribute::Kind;
            if (!parseValue(node->attribute, &node->value) || !take(u",")
                || !parseValue(node->attribute, &node->high) || !take(u")"))
                return fail(QStringLiteral("malformed InRange"));
            return node;
        }
        node->attribute = attributeNamed(name);
        node->costly = node->attribute == Attribute::Kind;
        static const std::pair<QStringView, Op> ops[] = {
            {u"==", Op::Equal}, {u"!=", Op::NotEqual},   {u"<=", Op::LessEqual}, {u">=", Op::GreaterEqual},
            {u"<", Op::Less},   {u">", Op::Greater},     {u"=", Op::Equal},
        };
        bool found = false;
        for (const auto& [token, op] : ops) {
            if (take(token)) {
                node->op = op;
                found = true;
                break;
            }
        }
        if (!found)
            return fail(QStringLiteral("expected a comparison"));
        if (!parseValue(node->attribute, &node->value))
            return nullptr;
        return node;
    }

    bool parseValue(Attribute attribute, Value* value)
    {
        skipSpace();
        if (pos_ >= s_.size())
            return bool(fail(QStringLiteral("expected a value")));
        const QChar c = s_[pos_];
        if (c == u'"' || c == u'\'')
            return parseString(attribute, value);
        if (c == u'$')
            return parseTime(attribute, value);
        return parseNumber(attribute, value);
    }

    bool parseString(Attribute attribute, Value* value)
    {
        const QChar quote = s_[pos_++];
        QString text;
        for (;;) {
            if (pos_ >= s_.size())
                return bool(fail(QStringLiteral("unterminated string")));
            const QChar c = s_[pos_++];
            if (c == quote)
                break;
            if (c == u'\\' && pos_ < s_.size()) {
                const QChar next = s_[pos_++];
                // Escaped wildcards stay escaped for the matcher.
                if (next == u'*' || next == u'?' || next == u'\\')
                    text.append(u'\\');
                text.append(next);
                continue;
            }
            text.append(c);
        }
        while (pos_ < s_.size() && s_[pos_].isLetter()) {
            const QChar m = s_[pos_++];
            if (m == u'c')
                value->caseless = true;
            else if (m == u'd')
                value->diacriticless = true;
            else if (m == u'w')
                value->words = true;
            else
                return bool(fail(QStringLiteral("unknown string modifier")));
        }
        value->type = Value::Type::Text;
        value->text = text;
        if (attribute != Attribute::Unknown && !isText(attribute))
            return bool(fail(QStringLiteral("a text compared with a number or a date")));
        return true;
    }

    bool parseNumber(Attribute attribute, Value* value)
    {
        const qsizetype start = pos_;
        while (pos_ < s_.size() && (s_[pos_].isDigit() || s_[pos_] == u'.' || s_[pos_] == u'-' || s_[pos_] == u'+'
                                    || s_[pos_] == u'e' || s_[pos_] == u'E'))
            ++pos_;
        bool ok = false;
        const double number = s_.mid(start, pos_ - start).toDouble(&ok);
        if (!ok || !std::isfinite(number))
            return bool(fail(QStringLiteral("expected a value")));
        value->type = Value::Type::Number;
        value->number = number;
        if (attribute != Attribute::Unknown && !isNumber(attribute))
            return bool(fail(QStringLiteral("a number compared with a text or a date")));
        return true;
    }

    // $time.now, $time.now(±seconds), $time.today, $time.today(±days),
    // $time.iso(ISO 8601 date, quoted or not).
    bool parseTime(Attribute attribute, Value* value)
    {
        ++pos_;
        const QString name = identifier(true);
        QString argument;
        bool hasArgument = false;
        if (take(u"(")) {
            const qsizetype start = pos_;
            while (pos_ < s_.size() && s_[pos_] != u')')
                ++pos_;
            if (pos_ >= s_.size())
                return bool(fail(QStringLiteral("missing )")));
            argument = s_.mid(start, pos_ - start).trimmed();
            ++pos_;
            hasArgument = true;
            if (argument.size() >= 2 && (argument.front() == u'"' || argument.front() == u'\'')
                && argument.back() == argument.front())
                argument = argument.mid(1, argument.size() - 2);
        }
        bool ok = !hasArgument;
        QDateTime date;
        // Offsets past what a date can hold would give an invalid date (or a
        // wrapped one), which compares as some date long ago and so would
        // match almost any file: ten thousand years either way is plenty.
        constexpr qint64 kMaxDays = 10000LL * 366;
        bool inRange = true;
        if (name == u"time.now") {
            const qint64 seconds = hasArgument ? argument.toLongLong(&ok) : 0;
            inRange = seconds >= -kMaxDays * 86400 && seconds <= kMaxDays * 86400;
            date = now_.addSecs(inRange ? seconds : 0);
        } else if (name == u"time.today") {
            const qint64 days = hasArgument ? argument.toLongLong(&ok) : 0;
            inRange = days >= -kMaxDays && days <= kMaxDays;
            date = QDateTime(now_.toLocalTime().date(), QTime(0, 0)).addDays(inRange ? days : 0);
        } else if (name == u"time.iso" && hasArgument) {
            date = QDateTime::fromString(argument, Qt::ISODateWithMs);
            if (!date.isValid())
                date = QDateTime::fromString(argument, Qt::ISODate);
            ok = date.isValid();
        } else {
            return bool(fail(QStringLiteral("unknown time value $") + name));
        }
        if (!ok)
            return bool(fail(QStringLiteral("bad argument of $") + name));
        if (!inRange || !date.isValid())
            return bool(fail(QStringLiteral("argument of $") + name + QStringLiteral(" is outside the range of dates")));
        value->type = Value::Type::Date;
        value->date = date;
        if (attribute != Attribute::Unknown && (isText(attribute) || isNumber(attribute)))
            return bool(fail(QStringLiteral("a date compared with a text or a number")));
        return true;
    }

    const QString& s_;
    QDateTime now_;
    qsizetype pos_ = 0;
    int depth_ = 0;
    int comparisons_ = 0;
    QString error_;
    QStringList unknown_;
};

} // namespace

std::optional<Query> parse(const QString& text, const QDateTime& now, QString* error)
{
    Parser parser(text, now);
    auto root = parser.parseAll();
    if (!root) {
        if (error)
            *error = parser.error().isEmpty() ? QStringLiteral("empty query") : parser.error();
        return std::nullopt;
    }
    return Query(std::move(root), parser.unknown());
}

bool wildcardMatch(const QString& pattern, const QString& text, bool caseless, bool diacriticless)
{
    return matchFolded(fold(pattern, caseless, diacriticless), fold(text, caseless, diacriticless));
}

bool kindMatches(const QString& kind, const QString& mimeType)
{
    if (mimeType.isEmpty() || kind.isEmpty())
        return false;
    // Type identifiers name families; MIME types name them by their top
    // level ("image/") or exactly, with their parents.
    static const std::pair<const char*, const char*> identifiers[] = {
        {"public.item", "*"},
        {"public.content", "*"},
        {"public.data", "*"},
        {"public.folder", "inode/directory"},
        {"public.directory", "inode/directory"},
        {"public.image", "image/"},
        {"public.movie", "video/"},
        {"public.video", "video/"},
        {"public.audio", "audio/"},
        {"public.text", "text/plain"},
        {"public.plain-text", "text/plain"},
        {"public.html", "text/html"},
        {"public.source-code", "text/"},
        {"public.jpeg", "image/jpeg"},
        {"public.png", "image/png"},
        {"public.tiff", "image/tiff"},
        {"public.mp3", "audio/mpeg"},
        {"public.mpeg-4", "video/mp4"},
        {"com.adobe.pdf", "application/pdf"},
        {"public.zip-archive", "application/zip"},
        {"public.archive", "application/x-archive"},
        {"public.presentation", "application/vnd.oasis.opendocument.presentation"},
        {"public.spreadsheet", "application/vnd.oasis.opendocument.spreadsheet"},
    };
    QString wanted = kind;
    if (!kind.contains(u'/')) {
        wanted.clear();
        for (const auto& [identifier, mime] : identifiers)
            if (kind.compare(QLatin1String(identifier), Qt::CaseInsensitive) == 0)
                wanted = QLatin1String(mime);
        if (wanted.isEmpty())
            return false;
    } else if (kind.endsWith(u"/*")) {
        wanted.chop(1);
    }
    if (wanted == u"*")
        return true;
    if (wanted.endsWith(u'/'))
        return mimeType.startsWith(wanted, Qt::CaseInsensitive);
    if (mimeType.compare(wanted, Qt::CaseInsensitive) == 0)
        return true;
    static const QMimeDatabase database;
    const QMimeType type = database.mimeTypeForName(mimeType);
    return type.isValid() && type.inherits(wanted);
}

std::optional<std::vector<Scope>> resolveScopes(const QVariantList& scopes, const fs::path& home, QString* error)
{
    auto refuse = [error](const QString& why) -> std::optional<std::vector<Scope>> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    std::vector<Scope> folders;
    if (scopes.isEmpty())
        folders.push_back({fs::path("/"), true});
    for (const QVariant& entry : scopes) {
        // A number or a list would read as some text of its own; only text
        // names a scope.
        if (entry.typeId() != QMetaType::QString)
            return refuse(QStringLiteral("a search scope is not text: the saved search is damaged"));
        const QString scope = entry.toString();
        // A NUL ends a path where the system reads it: "~/\0" would be home.
        if (scope.contains(QChar(u'\0')))
            return refuse(QStringLiteral("a search scope holds a NUL character: the saved search is damaged"));
        Scope resolved;
        if (scope == u"kMDQueryScopeHome") {
            resolved.folder = home;
        } else if (scope == u"kMDQueryScopeComputer" || scope == u"kMDQueryScopeComputerIndexed"
                   || scope == u"kMDQueryScopeAllIndexed") {
            resolved = {fs::path("/"), true};
        } else if (scope.startsWith(u"file:")) {
            // "file:///a" and "file://localhost/a" name one folder, read as
            // the music library's file URLs are read.
            resolved.folder = KZFilesUtilities::pathOfLocalFileURL(scope);
            if (resolved.folder.empty())
                return refuse(QStringLiteral("search scope is not a local folder: ") + scope);
        } else if (scope == u"~" || scope.startsWith(u"~/")) {
            resolved.folder = home / platform::pathFromText(scope.mid(2));
        } else if (scope.startsWith(u'/')) {
            resolved.folder = platform::pathFromText(scope);
        } else {
            return refuse(QStringLiteral("search scope not available here: ") + scope);
        }
        std::error_code ec;
        if (resolved.folder.empty() || !fs::is_directory(resolved.folder, ec))
            return refuse(QStringLiteral("search scope does not exist: ") + scope);
        folders.push_back(std::move(resolved));
    }
    return folders;
}

} // namespace kzquery
