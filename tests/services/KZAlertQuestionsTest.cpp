// Every question the program can ask, found in its sources and shown through
// the real string tables: no message, detail or button may reach the user as
// a bare key.
#include "services/KZErrorDelegate.h"

#include "platform/Resources.h"
#include "platform/StringTable.h"
#include "support/ScriptedPresenter.h"

#include <gtest/gtest.h>

#include <QRegularExpression>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const fs::path kSources = fs::path(KZ_SOURCE_DIR);

// Arguments that hold a key the walk cannot read at the call: for each, the
// keys it may hold. Every key must appear in that file, and every entry must
// still meet its call.
struct PassedThrough {
    const char* file;
    const char* argument;
    std::vector<const char*> keys;
};
const PassedThrough kPassedThrough[] = {
    {"KZSearchPreparation.cpp", "message",
     {"remove_wrong_iTunes_source_msg", "ignore_iTunes_source_msg", "iTunes_named_source_msg"}},
    {"KZSearchPreparation.cpp", "title", {"wrong_iTunes_source", "iTunes_named_source"}},
    {"KZResultTabsView.cpp", "question", {"remove_user_deleted_tab_from_preferences", "remove_user_deleted_tab"}},
};

// A key as the caller passes it: as it is, or already looked up in "Default".
struct Text {
    QString key;
    bool localizedByCaller = false;

    QString passed() const { return localizedByCaller ? platform::localizedString(key) : key; }
};

struct Question {
    std::string where; // file:line
    bool withView = false;
    bool asError = false;
    // Message, detail and the three buttons, each with the keys it may hold.
    std::vector<std::vector<Text>> texts;
};

std::string readFile(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The length of the string or character literal (raw strings too) that
// starts at `i`, or 0.
size_t literalLength(const std::string& code, size_t i)
{
    const char c = code[i];
    if (c == 'R' && i + 1 < code.size() && code[i + 1] == '"'
        && (i == 0 || !(std::isalnum(static_cast<unsigned char>(code[i - 1])) || code[i - 1] == '_'))) {
        const size_t open = code.find('(', i + 2);
        if (open == std::string::npos)
            return code.size() - i;
        const std::string end = ")" + code.substr(i + 2, open - i - 2) + "\"";
        const size_t close = code.find(end, open);
        return (close == std::string::npos ? code.size() : close + end.size()) - i;
    }
    if (c != '"' && c != '\'')
        return 0;
    size_t j = i + 1;
    while (j < code.size() && code[j] != c && code[j] != '\n')
        j += code[j] == '\\' ? 2 : 1;
    return std::min(j + 1, code.size()) - i;
}

// The code with its comments blanked (line breaks kept, so lines still count).
std::string withoutComments(const std::string& code)
{
    std::string out = code;
    for (size_t i = 0; i < out.size();) {
        if (const size_t n = literalLength(out, i)) {
            i += n;
        } else if (out.compare(i, 2, "//") == 0) {
            for (; i < out.size() && out[i] != '\n'; ++i)
                out[i] = ' ';
        } else if (out.compare(i, 2, "/*") == 0) {
            const size_t end = std::min(out.find("*/", i + 2), out.size() - 2) + 2;
            for (; i < end; ++i)
                out[i] = out[i] == '\n' ? '\n' : ' ';
        } else {
            ++i;
        }
    }
    return out;
}

// The top-level arguments of the call whose "(" is at `open`.
std::vector<std::string> argumentsAt(const std::string& code, size_t open)
{
    std::vector<std::string> arguments;
    std::string current;
    int depth = 0;
    for (size_t i = open + 1; i < code.size(); ++i) {
        if (const size_t n = literalLength(code, i)) {
            current += code.substr(i, n);
            i += n - 1;
            continue;
        }
        const char c = code[i];
        if ((c == ')' || c == ',') && depth == 0) {
            arguments.push_back(QString::fromStdString(current).simplified().toStdString());
            current.clear();
            if (c == ')')
                return arguments;
            continue;
        }
        depth += (c == '(' || c == '{' || c == '[') - (c == ')' || c == '}' || c == ']');
        current += c;
    }
    return arguments;
}

class AlertQuestionsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        platform::setResourceDirectory(kSources / "resources");
        platform::resetStringTables();
        delegate_.setPresenter(presenter_);
    }
    void TearDown() override
    {
        platform::setResourceDirectory({});
        platform::resetStringTables();
    }

    // The keys one text argument may hold; none for an empty one.
    std::vector<Text> textsOf(const std::string& argument, const fs::path& file, const std::string& where)
    {
        static const QRegularExpression literal(QStringLiteral(R"re("((?:[^"\\]|\\.)*)")re"));
        static const QRegularExpression localizing(QStringLiteral(R"re(\b(localized|text|localizedString)\s*\()re"));
        const QString text = QString::fromStdString(argument);
        if (text.isEmpty() || text == QStringLiteral("{}") || text == QStringLiteral("QString()"))
            return {Text{}};
        std::vector<Text> texts;
        const bool localized = localizing.match(text).hasMatch();
        for (auto it = literal.globalMatch(text); it.hasNext();)
            texts.push_back({it.next().captured(1), localized});
        if (!texts.empty())
            return texts;
        for (const PassedThrough& entry : kPassedThrough) {
            if (file.filename() == entry.file && argument == entry.argument) {
                used_.insert(&entry);
                for (const char* key : entry.keys)
                    texts.push_back({QString::fromLatin1(key), false});
                return texts;
            }
        }
        ADD_FAILURE() << where << ": the argument \"" << argument
                      << "\" holds a key the walk cannot read; list the keys it may hold";
        return {Text{}};
    }

    std::vector<Question> questionsInSources()
    {
        static const std::regex call(R"re(\baskToTheUser(WithView)?\s*\()re");
        std::vector<Question> questions;
        for (const auto& entry : fs::recursive_directory_iterator(kSources / "src")) {
            const fs::path& file = entry.path();
            if (file.extension() != ".cpp" && file.extension() != ".h")
                continue;
            if (file.stem() == "KZErrorDelegate" && file.parent_path().filename() == "services")
                continue; // the service itself
            const std::string code = withoutComments(readFile(file));
            for (auto it = std::sregex_iterator(code.begin(), code.end(), call); it != std::sregex_iterator(); ++it) {
                const size_t open = size_t(it->position() + it->length()) - 1;
                const std::string where = file.lexically_relative(kSources).native() + ":"
                    + std::to_string(std::count(code.begin(), code.begin() + it->position(), '\n') + 1);
                Question question{where, (*it)[1].matched, false, {}};
                const std::vector<std::string> arguments = argumentsAt(code, open);
                if (arguments.size() != (question.withView ? 8u : 9u)) {
                    ADD_FAILURE() << where << ": a call the walk cannot read (" << arguments.size() << " arguments)";
                    continue;
                }
                // message, detail, names, three buttons, then the box or
                // preference, and last whether it is an error
                for (const size_t i : {0u, 1u, 3u, 4u, 5u})
                    question.texts.push_back(textsOf(arguments[i], file, where));
                const std::string& asError = arguments.back();
                EXPECT_TRUE(asError == "true" || asError == "false") << where << ": " << asError;
                question.asError = asError == "true";
                questions.push_back(std::move(question));
            }
        }
        return questions;
    }

    // Shows every combination of the keys the question's texts may hold;
    // answers the message keys shown.
    std::set<QString> showAndCheck(const Question& question)
    {
        std::set<QString> messages;
        std::vector<size_t> pick(question.texts.size(), 0);
        for (;;) {
            std::vector<Text> texts;
            for (size_t i = 0; i < pick.size(); ++i)
                texts.push_back(question.texts[i][pick[i]]);
            messages.insert(texts[0].key);
            if (question.withView)
                delegate_.askToTheUserWithView(texts[0].passed(), texts[1].passed(), {}, texts[2].passed(),
                                               texts[3].passed(), texts[4].passed(), QString(), question.asError);
            else
                delegate_.askToTheUser(texts[0].passed(), texts[1].passed(), {}, texts[2].passed(),
                                       texts[3].passed(), texts[4].passed(), false, nullptr, question.asError);
            const KZAlertPresenter::Alert alert = presenter_->calls.back().alert;
            const QString shown[] = {alert.messageText, alert.informativeText, alert.buttonTitles.value(0),
                                     alert.buttonTitles.value(1), alert.buttonTitles.value(2)};
            for (size_t i = 0; i < texts.size(); ++i) {
                if (!texts[i].key.isEmpty()) {
                    EXPECT_NE(shown[i], texts[i].key)
                        << question.where << ": shows the bare key \"" << texts[i].key.toStdString() << "\"";
                }
            }
            // A button that reads Cancel or No answers Escape, and Escape
            // never gives an answer that acts.
            const QString cancel = platform::localizedString(QStringLiteral("cancel_button"));
            const QString no = platform::localizedString(QStringLiteral("no_button"));
            for (qsizetype b = 0; b < 3; ++b) {
                const QString title = alert.buttonTitles.value(b);
                if (!title.isEmpty() && (title == cancel || title == no)) {
                    EXPECT_EQ(alert.escapeButton, KZAlertPresenter::FirstButton + b) << question.where;
                }
            }
            if (alert.escapeButton != 0) {
                EXPECT_EQ(alert.escapeButton, alert.cancelButton) << question.where;
            }
            // The next combination, the last text turning fastest.
            size_t i = pick.size();
            while (i > 0 && ++pick[i - 1] == question.texts[i - 1].size())
                pick[--i] = 0;
            if (i == 0)
                return messages;
        }
    }

    std::shared_ptr<kztest::ScriptedPresenter> presenter_ = std::make_shared<kztest::ScriptedPresenter>();
    KZErrorDelegate delegate_;
    std::set<const PassedThrough*> used_;
};

} // namespace

TEST_F(AlertQuestionsTest, NoQuestionShowsABareKey)
{
    const std::vector<Question> questions = questionsInSources();
    std::set<QString> messages;
    for (const Question& question : questions)
        messages.merge(showAndCheck(question));

    // The walk really met the program's questions, those of removal among them.
    EXPECT_GE(questions.size(), 15u);
    for (const char* key : {"shared_item", "security_alert", "ask_mark_speed_info", "wrong_iTunes_source"})
        EXPECT_TRUE(messages.count(QString::fromLatin1(key))) << key;
    for (const PassedThrough& entry : kPassedThrough) {
        EXPECT_TRUE(used_.count(&entry)) << entry.file << ": no call passes \"" << entry.argument << "\" any more";
        std::string code;
        for (const auto& file : fs::recursive_directory_iterator(kSources / "src"))
            if (file.path().filename() == entry.file)
                code = readFile(file.path());
        for (const char* key : entry.keys)
            EXPECT_NE(code.find(key), std::string::npos) << entry.file << " never names \"" << key << "\"";
    }
}
