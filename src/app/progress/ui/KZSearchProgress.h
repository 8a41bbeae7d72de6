#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariantMap>

#include <atomic>
#include <memory>

class QWidget;
class KZProgressControl;
class KZSearchProgressCore;
class KZSearchProgressWindow;

// The controller of the progress window that stands in front while a search
// runs. The engine's threads report to its core through KZProgressControl
// (engineProgress()); everything they report is sampled by the controller's
// own clock and shown on the GUI thread, so a worker never waits for the
// window.
//
// One controller is made per search. Made with a search view, it builds the
// progress window in front of that view's window; made without one (the
// empty-folder follow-up, a controller whose window is not wanted) it only
// keeps the counters and the stop flag.
//
// Ownership: always held by std::shared_ptr (create()); the last owner may be
// any thread, the window is still destroyed on the GUI thread.
class KZSearchProgress : public QObject, public std::enable_shared_from_this<KZSearchProgress> {
    Q_OBJECT
public:
    // `searchView` is the search window's view (the progress window takes its
    // window's geometry); null makes a controller without a window.
    static std::shared_ptr<KZSearchProgress> create(QWidget* searchView, bool allowInterface);
    ~KZSearchProgress() override;

    // What the engine reports to (any thread): the headless core, which keeps
    // this controller alive while the engine holds it.
    std::shared_ptr<KZProgressControl> engineProgress();

    // ---- What the windows and the application call ----
    bool isSearching() const;
    bool stoppedDueAnError() const;
    bool resultIsReady() const;
    // The items-to-check value last shown.
    quint64 itemsToCheckCount() const;
    // The progress window; null without an interface.
    QWidget* window() const;
    QWidget* searchView() const;

    // Fills the counters from a reopened result's info map and goes straight
    // to the end of the search (the result is offered at once).
    void setSavedProgress(const QVariantMap& resultInfo);

    // The buttons.
    void stopAction();
    void showResultAction();
    // Opens the result on a file-type tab (0: all duplicates).
    void showResultWithFileTypeTag(quint64 tag);
    // `ask` false: the loss of the result was agreed to already.
    void resetAction(bool ask = true);
    void closeAction();
    // Answers whether the window may close now (only once the engine ended).
    bool windowShouldClose() const;

    // The headless part: counters, clock and end-of-search state. The window
    // and tests read it; a result reopened without the engine feeds it.
    KZSearchProgressCore& core() const { return *core_; }
    KZSearchProgressWindow* progressWindow() const;

private:
    KZSearchProgress(QWidget* searchView, bool allowInterface);
    void initialize();

    std::unique_ptr<KZSearchProgressCore> core_;
    QPointer<QWidget> searchView_;
    QPointer<KZSearchProgressWindow> window_;
    const bool allowInterface_;
};
