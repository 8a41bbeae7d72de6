#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

// Shows the alerts that KZErrorDelegate describes. The application registers
// the widget implementation at start-up; tests register a scripted one, so
// the service itself never depends on widgets and no test waits for a click.
// Every call arrives on the main thread.
class KZAlertPresenter {
public:
    enum class Style { Warning, Informational };

    // Answers of the three buttons, in the order default, alternate, other.
    static constexpr qint64 FirstButton = 1000;
    static constexpr qint64 SecondButton = 1001;
    static constexpr qint64 ThirdButton = 1002;

    struct Alert {
        Style style = Style::Warning;
        // Shown as given: plain text, never markup.
        QString messageText;
        QString informativeText;
        // Button i answers FirstButton + i. An empty title means no button at
        // that place (the others keep their answers); with no title at all
        // the alert has one OK button answering FirstButton.
        QStringList buttonTitles;
        // The answer that declines, as Escape would: what a question answers
        // when nobody can be asked. FirstButton for an alert with one button.
        qint64 cancelButton = FirstButton;
        // The answer Escape gives: a button titled Cancel, or No, as the
        // desktop convention has it; 0 when Escape gives none, so that it
        // never picks an answer that acts.
        qint64 escapeButton = 0;
        // At most one of the two check boxes is shown; the suppression box
        // wins when both are asked for.
        bool showsSuppressionButton = false;
        QString suppressionTitle;
        bool showsApplyToAll = false;
        QString applyToAllTitle;
        bool applyToAllState = false;
        // The window a sheet belongs to. Null when the alert is modal, or
        // when the window is gone by the time the alert is shown.
        QPointer<QObject> sheetWindow;
    };

    struct Answer {
        qint64 button = FirstButton;
        bool suppressionTicked = false;
        bool applyToAllTicked = false;
    };

    virtual ~KZAlertPresenter() = default;

    // Shows the alert application-modal and returns when it is closed.
    virtual Answer runModal(const Alert& alert) = 0;
    // Shows the alert window-modal on alert.sheetWindow and returns at once;
    // the answer is not wanted.
    virtual void beginSheet(const Alert& alert) = 0;
};
