#pragma once

#include "services/KZAlertPresenter.h"

#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

class QObject;

// Keys of the request maps that the main-thread workers take, and of the map
// that showError(info) reads.
namespace KZAlertKey {

inline const QString error = QStringLiteral("error");
inline const QString info = QStringLiteral("info");
inline const QString messKey = QStringLiteral("messKey");
inline const QString names = QStringLiteral("names");
inline const QString window = QStringLiteral("window");
inline const QString dbuttonName = QStringLiteral("dbuttonName");
inline const QString abuttonName = QStringLiteral("abuttonName");
inline const QString obuttonName = QStringLiteral("obuttonName");
inline const QString treatsAsError = QStringLiteral("treatsAsError");
inline const QString showCheck = QStringLiteral("showCheck");
inline const QString prefKey = QStringLiteral("prefKey");
// Written back by the questions: the state of the apply-to-all box.
inline const QString applyToAll = QStringLiteral("applyToAll");
// showError(info) only.
inline const QString message = QStringLiteral("message");
inline const QString additionalName = QStringLiteral("additionalName");

} // namespace KZAlertKey

// The one place that shows error messages, information panels and questions.
// Callers pass keys of the string tables, never texts (a text passed where a
// key belongs shows as it is): an error's keys are looked up in "Errors"
// first, everything else in "Default" first, and a key missing there in the
// other table. "%@" places in a message are filled with names.
//
// Every front method may be called from any thread. The alert itself always
// runs on the main thread; a caller on another thread waits for it and gets
// the answer of its own question. Questions from several worker threads are
// shown one after the other.
class KZErrorDelegate {
public:
    static constexpr qint64 FirstButton = KZAlertPresenter::FirstButton;
    static constexpr qint64 SecondButton = KZAlertPresenter::SecondButton;
    static constexpr qint64 ThirdButton = KZAlertPresenter::ThirdButton;

    static KZErrorDelegate& sharedControl();
    // Replaces the shared instance (tests); nullptr makes the next call build
    // a fresh one. The shared instance is never destroyed at exit
    // (platform::SharedInstance).
    static void setSharedControl(std::unique_ptr<KZErrorDelegate> instance);

    KZErrorDelegate() = default;
    KZErrorDelegate(const KZErrorDelegate&) = delete;
    KZErrorDelegate& operator=(const KZErrorDelegate&) = delete;

    // Without a presenter (command-line tools) alerts go to the log, and a
    // question takes the answer of its declining button ("dont_...",
    // "no_button", stop, cancel; else its last button) and says so there.
    void setPresenter(std::shared_ptr<KZAlertPresenter> presenter);
    std::shared_ptr<KZAlertPresenter> presenter() const;

    // An error alert: `error` and `message` are keys of "Errors".
    void showError(const QString& error, const QString& message = {},
                   const QStringList& additionalNames = {});
    // The same from one map: "error", "message", "additionalName".
    void showError(const QVariantMap& info);

    // An information panel (keys of "Default"): a sheet on `window`, which
    // returns at once, or modal when `window` is null.
    void showMessagePanel(QObject* window, const QString& infoMessage, const QString& message = {},
                          const QStringList& additionalNames = {});

    // A one-button alert with a "do not show again" box. Answers false, and
    // shows nothing, when `preferenceKey` already holds YES; true otherwise.
    bool showMessagePanelWithView(const QString& message, const QString& infoMessage,
                                  const QStringList& additionalNames, const QString& preferenceKey,
                                  bool treatsAsError);

    // A question with up to three buttons; answers 1000, 1001 or 1002. With
    // `showView`, an "apply to all" box is shown and its state stored through
    // `viewStatus` (when not null).
    qint64 askToTheUser(const QString& message, const QString& infoMessage,
                        const QStringList& additionalNames, const QString& defaultButton,
                        const QString& alternateButton, const QString& otherButton, bool showView,
                        bool* viewStatus, bool treatsAsError);

    // A question with a "do not show again" box. Answers FirstButton without
    // asking when `preferenceKey` already holds YES; a ticked box stores YES
    // whichever button was pressed.
    qint64 askToTheUserWithView(const QString& message, const QString& infoMessage,
                                const QStringList& additionalNames, const QString& defaultButton,
                                const QString& alternateButton, const QString& otherButton,
                                const QString& preferenceKey, bool treatsAsError);

    // Puts each name, in order, into the next "%@" of `text`. Names beyond the
    // last place are dropped, places beyond the last name stay as they are,
    // and an inserted name is never searched again (a name containing "%@"
    // shows as it is).
    static QString replaceContentOfString(const QString& text, const QStringList& strings);

    // Names for an alert, one a line. A long list gives its first
    // kListedNames and says how many more, so that the alert, its reason
    // and its buttons stay on the screen.
    static constexpr qsizetype kListedNames = 5;
    static QString listOfNames(const QStringList& names);

    // Main-thread workers, one per kind of alert, taking the request map
    // ("error"/"info", "messKey", "names", "window", "dbuttonName",
    // "abuttonName", "obuttonName", "treatsAsError", "showCheck", "prefKey").
    // The questions write the box state back under "applyToAll".
    void showErrorWithDict(const QVariantMap& request);
    void showMessagePanelWithDict(const QVariantMap& request);
    qint64 askToTheUserWithDict(QVariantMap& request);
    qint64 askToTheUserWithViewAndDict(QVariantMap& request);

    // The answer of the most recent question. Only informative: with several
    // threads asking, each caller must use the answer its own call returned.
    qint64 userChoice() const { return userChoice_.load(); }

private:
    KZAlertPresenter::Answer present(const KZAlertPresenter::Alert& alert);
    // Runs `work` on the main thread and waits for it.
    void dispatch(const std::function<void()>& work);
    static bool isSuppressed(const QString& preferenceKey);
    static void suppress(const QString& preferenceKey);

    mutable std::mutex presenterMutex_;
    std::shared_ptr<KZAlertPresenter> presenter_;
    // Held by worker threads only, across their wait for the main thread, so
    // that their alerts do not stack on top of each other. The main thread
    // never takes it.
    std::mutex workerQueue_;
    std::atomic<qint64> userChoice_{FirstButton};
};
