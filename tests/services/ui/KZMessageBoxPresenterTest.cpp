#include "services/ui/KZMessageBoxPresenter.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

namespace {

using Alert = KZAlertPresenter::Alert;

Alert question()
{
    Alert alert;
    alert.style = KZAlertPresenter::Style::Informational;
    alert.messageText = QStringLiteral("Move <b>a%@.txt</b>?");
    alert.informativeText = QStringLiteral("<i>detail</i>");
    alert.buttonTitles = {QStringLiteral("Move"), QStringLiteral("Cancel"), QString()};
    alert.showsApplyToAll = true;
    alert.applyToAllTitle = QStringLiteral("Apply to all");
    return alert;
}

QAbstractButton* buttonTitled(const QMessageBox& box, const QString& title)
{
    for (QAbstractButton* b : box.buttons())
        if (b->text() == title)
            return b;
    return nullptr;
}

TEST(MessageBoxPresenterTest, BuildsTheAlertAsPlainText)
{
    const auto box = KZMessageBoxPresenter::createMessageBox(question());
    EXPECT_EQ(box->icon(), QMessageBox::Information);
    EXPECT_EQ(box->textFormat(), Qt::PlainText);
    EXPECT_EQ(box->text(), QStringLiteral("Move <b>a%@.txt</b>?"));
    int informativeLabels = 0;
    for (QLabel* label : box->findChildren<QLabel*>()) {
        if (label->text() == QStringLiteral("<i>detail</i>")) {
            ++informativeLabels;
            EXPECT_EQ(label->textFormat(), Qt::PlainText);
        }
    }
    EXPECT_EQ(informativeLabels, 1);
    // The empty third title makes no button.
    ASSERT_EQ(box->buttons().size(), 2);
    EXPECT_EQ(static_cast<QAbstractButton*>(box->defaultButton()), buttonTitled(*box, QStringLiteral("Move")));
    ASSERT_NE(box->checkBox(), nullptr);
    EXPECT_EQ(box->checkBox()->text(), QStringLiteral("Apply to all"));
    EXPECT_FALSE(box->checkBox()->isChecked());

    Alert single;
    single.showsSuppressionButton = true;
    single.suppressionTitle = QStringLiteral("Do not show again");
    const auto one = KZMessageBoxPresenter::createMessageBox(single);
    EXPECT_EQ(one->icon(), QMessageBox::Warning);
    ASSERT_EQ(one->buttons().size(), 1);
    EXPECT_EQ(one->checkBox()->text(), QStringLiteral("Do not show again"));
    one->checkBox()->setChecked(true);
    one->buttons().first()->click();
    const auto answer = KZMessageBoxPresenter::answerOf(*one);
    EXPECT_EQ(answer.button, KZAlertPresenter::FirstButton);
    EXPECT_TRUE(answer.suppressionTicked);
    EXPECT_FALSE(answer.applyToAllTicked);

    // Without a second button the third keeps its own answer.
    Alert gap = question();
    gap.buttonTitles = {QStringLiteral("Yes"), QString(), QStringLiteral("Later")};
    const auto two = KZMessageBoxPresenter::createMessageBox(gap);
    buttonTitled(*two, QStringLiteral("Later"))->click();
    EXPECT_EQ(KZMessageBoxPresenter::answerOf(*two).button, KZAlertPresenter::ThirdButton);
}


TEST(MessageBoxPresenterTest, ModalAlertAnswersTheClickedButtonAndBox)
{
    bool clicked = false;
    // Closes the box from inside its own loop; the second timer only makes
    // sure a broken test cannot hang.
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        box->checkBox()->setChecked(true);
        if (QAbstractButton* cancel = buttonTitled(*box, QStringLiteral("Cancel"))) {
            cancel->click();
            clicked = true;
        }
    });
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<QMessageBox*>(w))
                box->done(0);
    });
    guard.start(5000);
    KZMessageBoxPresenter presenter;
    const auto answer = presenter.runModal(question());
    EXPECT_TRUE(clicked);
    EXPECT_EQ(answer.button, KZAlertPresenter::SecondButton);
    EXPECT_TRUE(answer.applyToAllTicked);
    EXPECT_FALSE(answer.suppressionTicked);
}

TEST(MessageBoxPresenterTest, SheetIsWindowModalAndReturnsAtOnce)
{
    QWidget window;
    window.resize(400, 300);
    window.show();

    Alert alert;
    alert.messageText = QStringLiteral("Found 3 folders");
    alert.sheetWindow = &window;
    KZMessageBoxPresenter presenter;
    presenter.beginSheet(alert); // must not block

    QPointer<QMessageBox> box = window.findChild<QMessageBox*>();
    ASSERT_TRUE(box);
    EXPECT_TRUE(box->isVisible());
    EXPECT_EQ(box->windowModality(), Qt::WindowModal);
    EXPECT_EQ(box->text(), QStringLiteral("Found 3 folders"));

    ASSERT_EQ(box->buttons().size(), 1);
    box->buttons().first()->click();
    EXPECT_FALSE(box->isVisible());
    // deleteLater() waits for an event loop; the test has none running.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(box.isNull());
}

} // namespace
