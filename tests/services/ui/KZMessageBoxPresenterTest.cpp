#include "services/ui/KZMessageBoxPresenter.h"

#include "services/KZErrorDelegate.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <optional>

namespace {

using Alert = KZAlertPresenter::Alert;

Alert question(QStringList titles = {QStringLiteral("Move"), QStringLiteral("Cancel"), QString()})
{
    Alert alert;
    alert.style = KZAlertPresenter::Style::Informational;
    alert.messageText = QStringLiteral("Move <b>a%@.txt</b>?");
    alert.buttonTitles = std::move(titles);
    alert.showsApplyToAll = true;
    alert.applyToAllTitle = QStringLiteral("Apply to all");
    return alert;
}

QAbstractButton* buttonTitled(const QMessageBox& box, const char* title)
{
    for (QAbstractButton* b : box.buttons())
        if (b->text() == QLatin1String(title))
            return b;
    return nullptr;
}

TEST(MessageBoxPresenterTest, BuildsTheAlertAsPlainText)
{
    const auto box = KZMessageBoxPresenter::createMessageBox(question());
    EXPECT_EQ(box->icon(), QMessageBox::Information);
    EXPECT_EQ(box->textFormat(), Qt::PlainText); // a file name is never read as markup
    EXPECT_EQ(box->text(), QStringLiteral("Move <b>a%@.txt</b>?"));
    ASSERT_EQ(box->buttons().size(), 2); // the empty third title makes no button
    EXPECT_EQ(static_cast<QAbstractButton*>(box->defaultButton()), buttonTitled(*box, "Move"));
    EXPECT_EQ(box->checkBox()->text(), QStringLiteral("Apply to all"));

    // Without a second button the third keeps its own answer.
    const auto gap =
        KZMessageBoxPresenter::createMessageBox(question({QStringLiteral("Yes"), {}, QStringLiteral("Later")}));
    gap->checkBox()->setChecked(true);
    buttonTitled(*gap, "Later")->click();
    const auto answer = KZMessageBoxPresenter::answerOf(*gap);
    EXPECT_EQ(answer.button, KZAlertPresenter::ThirdButton);
    EXPECT_TRUE(answer.applyToAllTicked && !answer.suppressionTicked);
}

TEST(MessageBoxPresenterTest, ModalAlertAnswersTheClickedButtonAndBox)
{
    Alert alert = question();
    alert.showsSuppressionButton = true; // wins over the apply-to-all box
    alert.suppressionTitle = QStringLiteral("Do not show again");
    bool clicked = false;
    QTimer::singleShot(0, [&] { // runs inside the box's own loop
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (QAbstractButton* cancel = box ? buttonTitled(*box, "Cancel") : nullptr) {
            clicked = box->checkBox()->text() == alert.suppressionTitle;
            box->checkBox()->setChecked(true);
            cancel->click();
        }
    });
    QTimer guard; // a broken test must not hang
    guard.callOnTimeout([] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<QMessageBox*>(w))
                box->done(0);
    });
    guard.start(5000);
    const auto answer = KZMessageBoxPresenter().runModal(alert);
    EXPECT_TRUE(clicked);
    EXPECT_EQ(answer.button, KZAlertPresenter::SecondButton);
    EXPECT_TRUE(answer.suppressionTicked && !answer.applyToAllTicked);
}

// Escape answers the button titled Cancel, and only that one: on a question
// without it Escape leaves the choice to the user.
TEST(MessageBoxPresenterTest, EscapeAnswersCancelAndNeverAnActingButton)
{
    const auto escapeOn = [](Alert alert) {
        std::optional<qint64> answered;
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box)
                return;
            QTest::keyClick(box, Qt::Key_Escape);
            if (box->isVisible()) {
                answered = 0; // Escape did nothing; close it as a user would by a click
                box->buttons().last()->click();
            }
        });
        QTimer guard; // a broken test must not hang
        guard.callOnTimeout([] {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* box = qobject_cast<QMessageBox*>(w))
                    box->done(0);
        });
        guard.start(5000);
        const auto answer = KZMessageBoxPresenter().runModal(alert);
        return answered ? *answered : answer.button;
    };

    Alert cancellable = question({QStringLiteral("Continue"), QStringLiteral("Cancel"), QString()});
    cancellable.cancelButton = cancellable.escapeButton = KZAlertPresenter::SecondButton;
    EXPECT_EQ(escapeOn(cancellable), KZAlertPresenter::SecondButton);

    Alert keep = question({QStringLiteral("Move to Trash"), QStringLiteral("Keep It"), QString()});
    keep.cancelButton = KZAlertPresenter::SecondButton;
    EXPECT_EQ(escapeOn(keep), 0) << "Escape neither trashes nor keeps on the user's behalf";
}

// The program's own yes-or-no question, asked through the delegate as the
// music library's reading asks it, shown for real: Escape answers No.
TEST(MessageBoxPresenterTest, EscapeAnswersNoToAYesOrNoQuestion)
{
    KZErrorDelegate delegate;
    delegate.setPresenter(std::make_shared<KZMessageBoxPresenter>());
    bool escaped = false;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        QTest::keyClick(box, Qt::Key_Escape);
        escaped = !box->isVisible();
        if (!escaped)
            box->buttons().first()->click(); // a broken case must not hang
    });
    const qint64 answer = delegate.askToTheUserWithView(
        QStringLiteral("missing_files_detected"), QStringLiteral("missing_files_detected_mess"), {},
        QStringLiteral("yes_button"), QStringLiteral("no_button"), QString(), QString(), false);
    EXPECT_TRUE(escaped) << "Escape left the question open";
    EXPECT_EQ(answer, KZErrorDelegate::SecondButton);
}

TEST(MessageBoxPresenterTest, SheetIsWindowModalAndReturnsAtOnce)
{
    QWidget window;
    window.show();
    Alert alert;
    alert.messageText = QStringLiteral("Found 3 folders");
    alert.sheetWindow = &window;
    KZMessageBoxPresenter().beginSheet(alert);

    QPointer<QMessageBox> box = window.findChild<QMessageBox*>();
    ASSERT_TRUE(box);
    EXPECT_TRUE(box->isVisible());
    EXPECT_EQ(box->windowModality(), Qt::WindowModal);
    ASSERT_EQ(box->buttons().size(), 1);
    box->buttons().first()->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); // no event loop runs here
    EXPECT_TRUE(box.isNull());
}

} // namespace
