#include "services/ui/KZMessageBoxPresenter.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QWindow>

namespace {

const char* const kAnswerProperty = "kzAnswer";
const char* const kBoxProperty = "kzBox";
const QString kSuppressionBox = QStringLiteral("suppression");
const QString kApplyToAllBox = QStringLiteral("applyToAll");

// A modal alert blocks every window, so it has to stand in front of them:
// under a window that stays on top (the About window) it would be hidden,
// and that window would seem to stop answering.
void standInFrontOfOurWindows(QMessageBox& box)
{
    QWidget* onTop = nullptr;
    for (QWidget* window : QApplication::topLevelWidgets()) {
        const Qt::WindowType type = window->windowType();
        if (window != &box && window->isVisible() && (type == Qt::Window || type == Qt::Dialog) &&
            window->windowFlags().testFlag(Qt::WindowStaysOnTopHint))
            onTop = window;
    }
    QWidget* front = QApplication::activeWindow();
    if (front == &box)
        front = nullptr;
    if (onTop)
        box.setWindowFlag(Qt::WindowStaysOnTopHint);
    QWidget* owner = front ? front : onTop;
    if (!owner)
        return;
    box.winId();
    // Transient for that window, not its child: the box stays ours to
    // delete even when the window goes away while the box is open.
    if (QWindow* handle = box.windowHandle(); handle && owner->windowHandle())
        handle->setTransientParent(owner->windowHandle());
}

} // namespace

std::unique_ptr<QMessageBox> KZMessageBoxPresenter::createMessageBox(const Alert& alert, QWidget* parent)
{
    auto box = std::make_unique<QMessageBox>(parent);
    box->setIcon(alert.style == Style::Warning ? QMessageBox::Warning : QMessageBox::Information);
    // Messages carry file names: never let one be read as markup.
    box->setTextFormat(Qt::PlainText);
    box->setText(alert.messageText);
    box->setInformativeText(alert.informativeText);
    if (auto* informative = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel")))
        informative->setTextFormat(Qt::PlainText);

    // Every button gets the action role so that Escape and the window's close
    // button cannot pick one of several answers for the user; a lone button
    // still answers to both, and so does the button titled Cancel.
    QPushButton* first = nullptr;
    for (qsizetype i = 0; i < alert.buttonTitles.size() && i < 3; ++i) {
        if (alert.buttonTitles.at(i).isEmpty())
            continue;
        QPushButton* button = box->addButton(alert.buttonTitles.at(i), QMessageBox::ActionRole);
        button->setProperty(kAnswerProperty, FirstButton + i);
        if (!first)
            first = button;
        if (alert.escapeButton == FirstButton + i)
            box->setEscapeButton(button);
    }
    if (!first) {
        first = box->addButton(QMessageBox::Ok);
        first->setProperty(kAnswerProperty, FirstButton);
    }
    box->setDefaultButton(first);

    if (alert.showsSuppressionButton || alert.showsApplyToAll) {
        const bool suppression = alert.showsSuppressionButton;
        auto* check = new QCheckBox(suppression ? alert.suppressionTitle : alert.applyToAllTitle);
        check->setChecked(!suppression && alert.applyToAllState);
        check->setProperty(kBoxProperty, suppression ? kSuppressionBox : kApplyToAllBox);
        box->setCheckBox(check);
    }
    return box;
}

KZAlertPresenter::Answer KZMessageBoxPresenter::answerOf(const QMessageBox& box)
{
    Answer answer;
    if (const QAbstractButton* clicked = box.clickedButton()) {
        bool ok = false;
        const qint64 code = clicked->property(kAnswerProperty).toLongLong(&ok);
        if (ok)
            answer.button = code;
    }
    if (const QCheckBox* check = box.checkBox()) {
        const QString which = check->property(kBoxProperty).toString();
        answer.suppressionTicked = which == kSuppressionBox && check->isChecked();
        answer.applyToAllTicked = which == kApplyToAllBox && check->isChecked();
    }
    return answer;
}

KZAlertPresenter::Answer KZMessageBoxPresenter::runModal(const Alert& alert)
{
    const std::unique_ptr<QMessageBox> box = createMessageBox(alert);
    standInFrontOfOurWindows(*box);
    box->exec();
    return answerOf(*box);
}

void KZMessageBoxPresenter::beginSheet(const Alert& alert)
{
    QWidget* window = qobject_cast<QWidget*>(alert.sheetWindow.data());
    QMessageBox* box = createMessageBox(alert, window ? window->window() : nullptr).release();
    box->setWindowModality(window ? Qt::WindowModal : Qt::ApplicationModal);
    // The answer of a sheet is not wanted: the box goes away once closed.
    QObject::connect(box, &QDialog::finished, box, &QObject::deleteLater);
    box->open();
}
