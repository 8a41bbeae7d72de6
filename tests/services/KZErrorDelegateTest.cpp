#include "services/KZErrorDelegate.h"

#include "platform/Log.h"
#include "platform/MainThread.h"
#include "platform/Resources.h"
#include "platform/StringTable.h"
#include "platform/UserDefaults.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QObject>

#include <atomic>
#include <functional>
#include <latch>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using Alert = KZAlertPresenter::Alert;
using Answer = KZAlertPresenter::Answer;
using Style = KZAlertPresenter::Style;

// Records every alert and answers as its script says, at once.
class ScriptedPresenter : public KZAlertPresenter {
public:
    struct Call {
        Alert alert;
        bool sheet = false;
        bool onMainThread = false;
    };

    std::function<Answer(const Alert&)> script = [](const Alert&) { return Answer{}; };

    Answer runModal(const Alert& alert) override
    {
        record(alert, false);
        return script(alert);
    }
    void beginSheet(const Alert& alert) override { record(alert, true); }

    std::vector<Call> calls() const
    {
        std::lock_guard lock(mutex_);
        return calls_;
    }

private:
    void record(const Alert& alert, bool sheet)
    {
        std::lock_guard lock(mutex_);
        calls_.push_back({alert, sheet, platform::isMainThread()});
    }

    mutable std::mutex mutex_;
    std::vector<Call> calls_;
};

Answer answer(qint64 button, bool suppression = false, bool applyToAll = false)
{
    Answer a;
    a.button = button;
    a.suppressionTicked = suppression;
    a.applyToAllTicked = applyToAll;
    return a;
}

class ErrorDelegateTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_.write("strings/en/Default.json", R"({
            "suppression_message_text": "Never again",
            "apply_to_all": "Same for all",
            "q_move": "Move %@ to %@?",
            "q_detail": "Default detail",
            "panel": "Found %@ folders",
            "both": "from Default",
            "yes": "Yes", "no": "No", "later": "Later"
        })");
        dir_.write("strings/en/Errors.json", R"({
            "e_failed": "Could not open %@.",
            "e_detail": "Errors detail",
            "both": "from Errors",
            "yes": "Err-Yes", "no": "Err-No"
        })");
        platform::setResourceDirectory(dir_.path());
        platform::resetStringTables();
        platform::UserDefaults::setStandard(std::make_unique<platform::UserDefaults>(dir_ / "defaults.plist"));
        presenter_ = std::make_shared<ScriptedPresenter>();
        delegate_.setPresenter(presenter_);
    }
    void TearDown() override
    {
        platform::UserDefaults::setStandard(nullptr);
        platform::setResourceDirectory({});
        platform::resetStringTables();
    }

    static platform::UserDefaults& defaults() { return platform::UserDefaults::standard(); }

    kztest::TempDir dir_;
    std::shared_ptr<ScriptedPresenter> presenter_;
    KZErrorDelegate delegate_;
};

TEST(ErrorDelegatePlaceholders, FillsPlacesInOrderWithoutRescanningNames)
{
    struct Case {
        const char* text;
        QStringList names;
        const char* expected;
    } cases[] = {
        {"%@ and %@", {QStringLiteral("A"), QStringLiteral("B")}, "A and B"},
        {"%@ and %@", {QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C")}, "A and B"},
        {"%@ and %@", {QStringLiteral("A")}, "A and %@"},
        {"%@ and %@", {}, "%@ and %@"},
        {"no places", {QStringLiteral("A")}, "no places"},
        {"%@%@", {QStringLiteral("A"), QStringLiteral("B")}, "AB"},
        {"", {QStringLiteral("A")}, ""},
        // A name that holds "%@" is shown as it is; the next name takes the
        // next place of the text.
        {"%@ then %@", {QStringLiteral("x%@y"), QStringLiteral("B")}, "x%@y then B"},
        {"%@", {QStringLiteral("%@"), QStringLiteral("B")}, "%@"},
        {"[%@]", {QString()}, "[]"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(KZErrorDelegate::replaceContentOfString(QString::fromUtf8(c.text), c.names), QString::fromUtf8(c.expected))
            << c.text << " / " << c.names.join(u'|').toStdString();
}

TEST_F(ErrorDelegateTest, QuestionDescribesItsAlertAndReturnsBoxState)
{
    presenter_->script = [](const Alert&) { return answer(1002, false, true); };
    bool applyToAll = false;
    const qint64 result = delegate_.askToTheUser(QStringLiteral("q_move"), QStringLiteral("q_detail"),
                                                 {QStringLiteral("a.txt"), QStringLiteral("Trash")}, QStringLiteral("yes"),
                                                 QStringLiteral("no"), QStringLiteral("later"), true, &applyToAll, false);
    EXPECT_EQ(result, 1002);
    EXPECT_TRUE(applyToAll);
    EXPECT_EQ(delegate_.userChoice(), 1002);

    const auto calls = presenter_->calls();
    ASSERT_EQ(calls.size(), 1u);
    const Alert& alert = calls[0].alert;
    EXPECT_FALSE(calls[0].sheet);
    EXPECT_EQ(alert.style, Style::Informational);
    EXPECT_EQ(alert.messageText, QStringLiteral("Move a.txt to Trash?"));
    EXPECT_EQ(alert.informativeText, QStringLiteral("Default detail"));
    EXPECT_EQ(alert.buttonTitles, (QStringList{QStringLiteral("Yes"), QStringLiteral("No"), QStringLiteral("Later")}));
    EXPECT_TRUE(alert.showsApplyToAll);
    EXPECT_EQ(alert.applyToAllTitle, QStringLiteral("Same for all"));
    EXPECT_FALSE(alert.showsSuppressionButton);
}

TEST_F(ErrorDelegateTest, ErrorQuestionsUseTheErrorsTableButDefaultBoxTitles)
{
    presenter_->script = [](const Alert&) { return answer(1001); };
    bool applyToAll = true;
    EXPECT_EQ(delegate_.askToTheUser(QStringLiteral("both"), QStringLiteral("missing_key"), {}, QStringLiteral("yes"),
                                     QStringLiteral("no"), QString(), true, &applyToAll, true),
              1001);
    EXPECT_FALSE(applyToAll);
    const Alert alert = presenter_->calls().at(0).alert;
    EXPECT_EQ(alert.style, Style::Warning);
    EXPECT_EQ(alert.messageText, QStringLiteral("from Errors"));
    EXPECT_EQ(alert.informativeText, QStringLiteral("missing_key")); // a gap shows the key
    EXPECT_EQ(alert.buttonTitles.value(0), QStringLiteral("Err-Yes"));
    EXPECT_EQ(alert.buttonTitles.value(1), QStringLiteral("Err-No"));
    // An empty key for the other button means no third button.
    EXPECT_TRUE(alert.buttonTitles.value(2).isEmpty());
    EXPECT_EQ(alert.applyToAllTitle, QStringLiteral("Same for all"));

    // Without the box the caller's flag is left as it was.
    presenter_->script = [](const Alert&) { return answer(1000, false, true); };
    bool flag = true;
    delegate_.askToTheUser(QStringLiteral("q_move"), QString(), {}, QStringLiteral("yes"), QString(), QString(),
                           false, &flag, false);
    EXPECT_TRUE(flag);
    EXPECT_FALSE(presenter_->calls().at(1).alert.showsApplyToAll);
}

TEST_F(ErrorDelegateTest, SuppressedAlertsAnswerWithoutAsking)
{
    const QString key = QStringLiteral("kzDontAskAgain");
    defaults().setValue(key, true);
    presenter_->script = [](const Alert&) { return answer(1002); };

    EXPECT_EQ(delegate_.askToTheUserWithView(QStringLiteral("q_move"), QString(), {}, QStringLiteral("yes"),
                                             QStringLiteral("no"), QString(), key, false),
              1000);
    QVariantMap request{{QStringLiteral("info"), QStringLiteral("q_move")}, {QStringLiteral("prefKey"), key}};
    EXPECT_EQ(delegate_.askToTheUserWithViewAndDict(request), 1000);
    EXPECT_FALSE(delegate_.showMessagePanelWithView(QStringLiteral("panel"), QString(), {}, key, false));
    EXPECT_TRUE(presenter_->calls().empty());
}

TEST_F(ErrorDelegateTest, TickedBoxWithSecondButtonAnswersItAndStoresTheKey)
{
    const QString key = QStringLiteral("kzWarnBeforeMoving");
    presenter_->script = [](const Alert&) { return answer(1002, false); };
    EXPECT_EQ(delegate_.askToTheUserWithView(QStringLiteral("q_move"), QString(), {}, QStringLiteral("yes"),
                                             QStringLiteral("no"), QStringLiteral("later"), key, false),
              1002);
    EXPECT_FALSE(defaults().contains(key)); // an unticked box stores nothing

    presenter_->script = [](const Alert&) { return answer(1001, true); };
    EXPECT_EQ(delegate_.askToTheUserWithView(QStringLiteral("q_move"), QStringLiteral("q_detail"),
                                             {QStringLiteral("A"), QStringLiteral("B")}, QStringLiteral("yes"),
                                             QStringLiteral("no"), QString(), key, true),
              1001);
    EXPECT_TRUE(defaults().boolForKey(key));
    EXPECT_EQ(delegate_.userChoice(), 1001);

    const Alert alert = presenter_->calls().at(1).alert;
    EXPECT_TRUE(alert.showsSuppressionButton);
    EXPECT_EQ(alert.suppressionTitle, QStringLiteral("Never again"));
    EXPECT_FALSE(alert.showsApplyToAll);
    EXPECT_EQ(alert.style, Style::Warning);

    // From now on the question is not asked again.
    EXPECT_EQ(delegate_.askToTheUserWithView(QStringLiteral("q_move"), QString(), {}, QStringLiteral("yes"),
                                             QStringLiteral("no"), QString(), key, true),
              1000);
    EXPECT_EQ(presenter_->calls().size(), 2u);

    // The stored choice survives a restart.
    defaults().reload();
    EXPECT_TRUE(defaults().boolForKey(key));
}

TEST_F(ErrorDelegateTest, SuppressibleMessage)
{
    const QString key = QStringLiteral("kzFolderNotice");
    presenter_->script = [](const Alert&) { return answer(1000, false); };
    EXPECT_TRUE(delegate_.showMessagePanelWithView(QStringLiteral("panel"), QStringLiteral("q_detail"),
                                                   {QStringLiteral("3")}, key, false));
    EXPECT_FALSE(defaults().contains(key));

    presenter_->script = [](const Alert&) { return answer(1000, true); };
    EXPECT_TRUE(delegate_.showMessagePanelWithView(QStringLiteral("e_failed"), QStringLiteral("e_detail"),
                                                   {QStringLiteral("x")}, key, true));
    EXPECT_TRUE(defaults().boolForKey(key));
    EXPECT_FALSE(delegate_.showMessagePanelWithView(QStringLiteral("panel"), QString(), {}, key, false));

    const auto calls = presenter_->calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].alert.style, Style::Informational);
    EXPECT_EQ(calls[0].alert.messageText, QStringLiteral("Found 3 folders"));
    EXPECT_TRUE(calls[0].alert.buttonTitles.isEmpty()); // one OK button
    EXPECT_TRUE(calls[0].alert.showsSuppressionButton);
    EXPECT_EQ(calls[1].alert.style, Style::Warning);
    EXPECT_EQ(calls[1].alert.messageText, QStringLiteral("Could not open x."));
    EXPECT_EQ(calls[1].alert.informativeText, QStringLiteral("Errors detail"));
}

TEST_F(ErrorDelegateTest, ErrorsComeFromTheErrorsTable)
{
    delegate_.showError(QStringLiteral("e_failed"), QStringLiteral("e_detail"), {QStringLiteral("<b>x.txt</b>")});
    delegate_.showError(QVariantMap{{QStringLiteral("error"), QStringLiteral("e_failed")},
                                    {QStringLiteral("additionalName"), QStringList{QStringLiteral("y.txt")}}});
    delegate_.showError(QStringLiteral("both"));

    const auto calls = presenter_->calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].alert.style, Style::Warning);
    EXPECT_EQ(calls[0].alert.messageText, QStringLiteral("Could not open <b>x.txt</b>."));
    EXPECT_EQ(calls[0].alert.informativeText, QStringLiteral("Errors detail"));
    EXPECT_EQ(calls[1].alert.messageText, QStringLiteral("Could not open y.txt."));
    EXPECT_TRUE(calls[1].alert.informativeText.isEmpty());
    EXPECT_EQ(calls[2].alert.messageText, QStringLiteral("from Errors"));
    for (const auto& call : calls) {
        EXPECT_FALSE(call.sheet);
        EXPECT_FALSE(call.alert.showsSuppressionButton);
        EXPECT_FALSE(call.alert.showsApplyToAll);
    }
}

TEST_F(ErrorDelegateTest, InformationPanelIsASheetOnItsWindow)
{
    QObject window;
    delegate_.showMessagePanel(&window, QStringLiteral("panel"), QString(), {QStringLiteral("7")});
    delegate_.showMessagePanel(nullptr, QStringLiteral("both"), QStringLiteral("q_detail"));

    // A window closed before the panel could be shown: the panel is shown on
    // its own rather than lost.
    auto gone = std::make_unique<QObject>();
    const QVariantMap request{{QStringLiteral("info"), QStringLiteral("panel")},
                              {QStringLiteral("window"), QVariant::fromValue(QPointer<QObject>(gone.get()))}};
    gone.reset();
    delegate_.showMessagePanelWithDict(request);

    const auto calls = presenter_->calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_TRUE(calls[0].sheet);
    EXPECT_EQ(calls[0].alert.sheetWindow.data(), &window);
    EXPECT_EQ(calls[0].alert.messageText, QStringLiteral("Found 7 folders"));
    EXPECT_FALSE(calls[1].sheet);
    EXPECT_EQ(calls[1].alert.messageText, QStringLiteral("from Default"));
    EXPECT_EQ(calls[1].alert.informativeText, QStringLiteral("Default detail"));
    EXPECT_FALSE(calls[2].sheet);
}

// Several worker threads ask at the same time; each must get the answer and
// the box state of its own question, whatever the others were told.
TEST_F(ErrorDelegateTest, WorkersEachGetTheirOwnAnswer)
{
    constexpr int kThreads = 4;
    constexpr int kQuestions = 3;
    const auto expectedButton = [](int t, int q) { return qint64(1000 + (t + q) % 3); };
    const auto expectedBox = [](int t, int q) { return (t * kQuestions + q) % 2 == 1; };

    presenter_->script = [&](const Alert& alert) {
        // The message is "Move T<t> to Q<q>?".
        const QStringList words = alert.messageText.split(u' ');
        const int t = words.value(1).mid(1, 1).toInt();
        const int q = words.value(3).mid(1, 1).toInt();
        return answer(expectedButton(t, q), false, expectedBox(t, q));
    };

    struct Result {
        qint64 button = 0;
        bool box = false;
    };
    std::vector<std::vector<Result>> results(kThreads, std::vector<Result>(kQuestions));
    std::atomic<int> finished{0};
    std::latch start(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            start.arrive_and_wait();
            for (int q = 0; q < kQuestions; ++q) {
                Result& r = results[std::size_t(t)][std::size_t(q)];
                r.box = !expectedBox(t, q); // must be overwritten
                r.button = delegate_.askToTheUser(QStringLiteral("q_move"), QString(),
                                                  {QStringLiteral("T%1").arg(t), QStringLiteral("Q%1").arg(q)},
                                                  QStringLiteral("yes"), QStringLiteral("no"), QStringLiteral("later"),
                                                  true, &r.box, false);
            }
            ++finished;
        });
    }
    const bool allDone = kztest::processEventsUntil([&] { return finished.load() == kThreads; }, std::chrono::seconds(20));
    for (auto& th : threads)
        th.join();
    ASSERT_TRUE(allDone);

    for (int t = 0; t < kThreads; ++t)
        for (int q = 0; q < kQuestions; ++q) {
            EXPECT_EQ(results[std::size_t(t)][std::size_t(q)].button, expectedButton(t, q)) << t << "/" << q;
            EXPECT_EQ(results[std::size_t(t)][std::size_t(q)].box, expectedBox(t, q)) << t << "/" << q;
        }
    const auto calls = presenter_->calls();
    EXPECT_EQ(calls.size(), std::size_t(kThreads * kQuestions));
    for (const auto& call : calls)
        EXPECT_TRUE(call.onMainThread);
}

TEST_F(ErrorDelegateTest, WithoutPresenterAlertsGoToTheLog)
{
    delegate_.setPresenter(nullptr);
    std::vector<QString> lines;
    platform::setLogSink([&](const QString& line) { lines.push_back(line); });
    bool box = true;
    const qint64 result = delegate_.askToTheUser(QStringLiteral("q_move"), QStringLiteral("q_detail"),
                                                 {QStringLiteral("A"), QStringLiteral("B")}, QStringLiteral("yes"),
                                                 QStringLiteral("no"), QString(), true, &box, false);
    platform::setLogSink({});
    EXPECT_EQ(result, 1000);
    EXPECT_FALSE(box);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(lines[0].contains(QStringLiteral("Move A to B?")));
    EXPECT_TRUE(lines[0].contains(QStringLiteral("Default detail")));
}

} // namespace
