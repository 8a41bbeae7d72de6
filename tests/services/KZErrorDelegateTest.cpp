#include "services/KZErrorDelegate.h"

#include "platform/Log.h"
#include "platform/MainThread.h"
#include "platform/Resources.h"
#include "platform/StringTable.h"
#include "platform/UserDefaults.h"
#include "support/ScriptedPresenter.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <latch>
#include <mutex>
#include <thread>

namespace {

using Alert = KZAlertPresenter::Alert;
using Answer = KZAlertPresenter::Answer;
using Style = KZAlertPresenter::Style;

using kztest::ScriptedPresenter;

QString str(const char* text) { return QString::fromUtf8(text); }

class ErrorDelegateTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_.write("strings/en/Default.json", R"({"suppression_message_text": "Never again",
            "apply_to_all": "Same for all", "q_move": "Move %@ to %@?", "q_detail": "Default detail",
            "panel": "Found %@ folders", "both": "from Default", "yes": "Yes", "no": "No", "later": "Later"})");
        dir_.write("strings/en/Errors.json", R"({"e_failed": "Could not open %@.", "e_detail": "Errors detail",
            "both": "from Errors", "yes": "Err-Yes", "no": "Err-No"})");
        platform::setResourceDirectory(dir_.path());
        platform::resetStringTables();
        delegate_.setPresenter(presenter_);
    }
    void TearDown() override
    {
        platform::setResourceDirectory({});
        platform::resetStringTables();
    }
    platform::UserDefaults& defaults() { return *defaults_; }

    // Without `box` the question has no apply-to-all box.
    qint64 ask(const char* message, const QStringList& names, const char* other, bool* box, bool asError = false)
    {
        return delegate_.askToTheUser(str(message), str("q_detail"), names, str("yes"), str("no"), str(other),
                                      box != nullptr, box, asError);
    }
    qint64 askWithBox(const QString& key, const char* other = "")
    {
        return delegate_.askToTheUserWithView(str("q_move"), {}, {}, str("yes"), str("no"), str(other), key, true);
    }
    const Alert& alert(std::size_t i) const { return presenter_->calls.at(i).alert; }

    kztest::TempDir dir_;
    kztest::ScopedDefaults defaults_;
    std::shared_ptr<ScriptedPresenter> presenter_ = std::make_shared<ScriptedPresenter>();
    KZErrorDelegate delegate_;
};

TEST(ErrorDelegatePlaceholders, FillsPlacesInOrderWithoutRescanningNames)
{
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"%@ and %@", "A|B", "A and B"}, {"%@ and %@", "A|B|C", "A and B"}, {"%@ and %@", "A", "A and %@"},
        {"no places", "A", "no places"}, {"%@%@", "A|B", "AB"}, {"[%@]", "", "[]"},
        // A name holding "%@" shows as it is; the next name takes the next place.
        {"%@ then %@", "x%@y|B", "x%@y then B"}, {"%@", "%@|B", "%@"},
    };
    for (const auto& [text, names, expected] : cases)
        EXPECT_EQ(KZErrorDelegate::replaceContentOfString(str(text), str(names).split(u'|')), str(expected))
            << text << " / " << names;
}

TEST_F(ErrorDelegateTest, QuestionsDescribeTheirAlertAndReturnTheBoxState)
{
    presenter_->script = [](const Alert&) { return Answer{1002, false, true}; };
    bool applyToAll = false;
    EXPECT_EQ(ask("q_move", {str("a.txt"), str("Trash")}, "later", &applyToAll), 1002);
    EXPECT_TRUE(applyToAll);
    // An error question reads its texts from "Errors", but the box title from
    // the default table; an empty key for the other button means no button.
    presenter_->script = [](const Alert&) { return Answer{1001}; };
    EXPECT_EQ(ask("both", {}, "", &applyToAll, true), 1001);
    EXPECT_FALSE(applyToAll);
    // Without the box the caller's flag, which may carry an earlier choice, stays.
    presenter_->script = [](const Alert&) { return Answer{1000, false, true}; };
    EXPECT_EQ(delegate_.askToTheUser(str("q_move"), {}, {}, str("yes"), {}, {}, false, &applyToAll, false), 1000);
    EXPECT_FALSE(applyToAll);

    EXPECT_FALSE(presenter_->calls.at(0).sheet);
    EXPECT_EQ(alert(0).style, Style::Informational);
    EXPECT_EQ(alert(0).messageText, str("Move a.txt to Trash?"));
    EXPECT_EQ(alert(0).informativeText, str("Default detail"));
    EXPECT_EQ(alert(0).buttonTitles.join(u'|'), str("Yes|No|Later"));
    EXPECT_TRUE(alert(0).showsApplyToAll && !alert(0).showsSuppressionButton);
    EXPECT_EQ(alert(1).style, Style::Warning);
    EXPECT_EQ(alert(1).messageText, str("from Errors"));
    EXPECT_EQ(alert(1).informativeText, str("Default detail")); // not in "Errors": the other table
    EXPECT_EQ(alert(1).buttonTitles.join(u'|'), str("Err-Yes|Err-No|"));
    EXPECT_EQ(alert(1).applyToAllTitle, str("Same for all"));
}

TEST_F(ErrorDelegateTest, SuppressionBoxes)
{
    const QString key = str("kzWarnBeforeMoving");
    presenter_->script = [](const Alert&) { return Answer{1002}; };
    EXPECT_EQ(askWithBox(key, "later"), 1002);
    EXPECT_FALSE(defaults().contains(key)); // an unticked box stores nothing

    presenter_->script = [](const Alert&) { return Answer{1001, true}; };
    EXPECT_EQ(askWithBox(key), 1001);
    EXPECT_TRUE(defaults().boolForKey(key));
    EXPECT_EQ(alert(1).suppressionTitle, str("Never again"));

    // From now on nothing is asked; the stored choice survives a restart.
    EXPECT_EQ(askWithBox(key), 1000);
    QVariantMap request{{str("info"), str("q_move")}, {str("prefKey"), key}};
    EXPECT_EQ(delegate_.askToTheUserWithViewAndDict(request), 1000);
    EXPECT_FALSE(delegate_.showMessagePanelWithView(str("panel"), {}, {}, key, false));
    EXPECT_EQ(presenter_->calls.size(), 2u);
    defaults().reload();
    EXPECT_TRUE(defaults().boolForKey(key));

    presenter_->script = [](const Alert&) { return Answer{1000, true}; };
    EXPECT_TRUE(delegate_.showMessagePanelWithView(str("panel"), {}, {str("3")}, str("kzNotice"), false));
    EXPECT_TRUE(defaults().boolForKey(str("kzNotice")));
    EXPECT_EQ(alert(2).messageText, str("Found 3 folders"));
}

TEST_F(ErrorDelegateTest, ErrorsAndPanels)
{
    delegate_.showError(str("e_failed"), str("e_detail"), {str("<b>x.txt</b>")});
    delegate_.showError(QVariantMap{{str("error"), str("e_failed")}, {str("additionalName"), QStringList{str("y")}}});
    QObject window;
    delegate_.showMessagePanel(&window, str("panel"), {}, {str("7")});
    // A window closed before the panel could be shown: shown on its own, not lost.
    auto gone = std::make_unique<QObject>();
    const QVariantMap request{{str("info"), str("panel")},
                              {str("window"), QVariant::fromValue(QPointer<QObject>(gone.get()))}};
    gone.reset();
    delegate_.showMessagePanelWithDict(request);

    ASSERT_EQ(presenter_->calls.size(), 4u);
    EXPECT_EQ(alert(0).style, Style::Warning);
    EXPECT_EQ(alert(0).messageText, str("Could not open <b>x.txt</b>."));
    EXPECT_EQ(alert(0).informativeText, str("Errors detail"));
    EXPECT_EQ(alert(1).messageText, str("Could not open y."));
    EXPECT_TRUE(presenter_->calls[2].sheet);
    EXPECT_EQ(alert(2).sheetWindow.data(), &window);
    EXPECT_EQ(alert(2).style, Style::Warning) << "an information panel is drawn as an error is";
    EXPECT_EQ(alert(2).messageText, str("Found 7 folders"));
    EXPECT_FALSE(presenter_->calls[3].sheet);
    EXPECT_EQ(alert(3).messageText, str("Found %@ folders"));
}

// A question names one table for all its texts, but its buttons are kept
// with the other buttons: a key missing from the named table comes from the
// other one, and only a key missing from both shows as itself.
TEST_F(ErrorDelegateTest, AKeyMissingFromItsTableComesFromTheOther)
{
    delegate_.askToTheUser(str("e_failed"), str("nowhere"), {str("x")}, str("later"), str("no"), {}, false, nullptr,
                           true);
    delegate_.askToTheUserWithView(str("e_failed"), {}, {}, str("later"), str("no"), {}, {}, false);
    delegate_.showError(str("panel"), str("e_detail"), {str("2")});
    delegate_.showMessagePanel(nullptr, str("e_failed"), str("nowhere"), {str("y")});

    ASSERT_EQ(presenter_->calls.size(), 4u);
    EXPECT_EQ(alert(0).messageText, str("Could not open x."));
    EXPECT_EQ(alert(0).informativeText, str("nowhere"));
    EXPECT_EQ(alert(0).buttonTitles.join(u'|'), str("Later|Err-No|"));
    EXPECT_EQ(alert(1).messageText, str("Could not open %@."));
    EXPECT_EQ(alert(1).buttonTitles.join(u'|'), str("Later|No|"));
    EXPECT_EQ(alert(2).messageText, str("Found 2 folders"));
    EXPECT_EQ(alert(2).informativeText, str("Errors detail"));
    EXPECT_EQ(alert(3).messageText, str("Could not open y."));
    EXPECT_EQ(alert(3).informativeText, str("nowhere"));
}

// Several worker threads ask at the same time; each must get the answer and
// the box state of its own question, whatever the others were told.
TEST_F(ErrorDelegateTest, WorkersEachGetTheirOwnAnswer)
{
    presenter_->script = [](const Alert& alert) { // question n: button 1000 + n % 3, box n % 2
        const int n = alert.messageText.section(u' ', 1, 1).toInt();
        return Answer{1000 + n % 3, false, n % 2 == 1};
    };
    std::atomic<int> wrong{0}, finished{0};
    std::latch start(4);
    std::vector<std::jthread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            start.arrive_and_wait();
            for (int n = t * 10; n < t * 10 + 3; ++n) {
                bool box = n % 2 == 0; // must be overwritten
                wrong += ask("panel", {QString::number(n)}, "later", &box) != 1000 + n % 3 || box != (n % 2 == 1);
            }
            ++finished;
        });
    ASSERT_TRUE(kztest::processEventsUntil([&] { return finished == 4; }, std::chrono::seconds(20)));
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(presenter_->calls.size(), 12u);
    for (const auto& call : presenter_->calls)
        EXPECT_TRUE(call.onMainThread);
}

// Command-line tools have no presenter: a question must neither block nor
// take its first button, which may be the one that deletes.
TEST_F(ErrorDelegateTest, WithoutPresenterAQuestionDeclinesAndSaysSoInTheLog)
{
    delegate_.setPresenter(nullptr);
    QStringList log;
    platform::setLogSink([&](const QString& line) { log << line; });
    struct Case { const char* first; const char* second; const char* third; qint64 expected; };
    const Case cases[] = {
        {"yes_button", "no_button", "", 1001},
        {"srop_btn", "delete_all_button", "", 1000},
        {"continue_button", "dont_continue_button", "", 1001},
        {"delete_all_button", "keep", "Cancel_button", 1002},
        {"fastest", "slowest", "", 1001}, // nothing declines: the last button
        {"yes", "", "", 1000},            // a lone button is the only answer
    };
    for (const Case& c : cases) {
        bool box = true;
        EXPECT_EQ(delegate_.askToTheUser(str("q_move"), {}, {}, str(c.first), str(c.second), str(c.third), true,
                                         &box, false),
                  c.expected)
            << c.first;
        EXPECT_EQ(delegate_.askToTheUserWithView(str("q_move"), {}, {}, str(c.first), str(c.second), str(c.third),
                                                 str("kzAsk"), false),
                  c.expected)
            << c.first;
        EXPECT_FALSE(box);
    }
    EXPECT_FALSE(defaults().contains(str("kzAsk")));
    EXPECT_EQ(log.first(), str("Alert: Move %@ to %@? [no one to ask; answered \"no_button\"]"));
    // An error or a panel has nothing to answer: it is only logged.
    log.clear();
    delegate_.showError(str("e_failed"), {}, {str("x.txt")});
    EXPECT_EQ(log, QStringList{str("Alert: Could not open x.txt.")});
    platform::setLogSink({});
}

} // namespace
