#pragma once

#include "platform/Subscription.h"

#include <QObject>
#include <QPointer>
#include <QVariantMap>
#include <QWidget>

#include <filesystem>
#include <functional>
#include <vector>
#include <memory>

class KZSearchController;
class KZSearchProgress;
class KZSearchStuff;
#include "app/search/ui/KZSearchView.h"
class KZResultModelHandOff;
class KZMusicLibraryReading;
class KZMusicLibraryReadingSheet;
class QTimer;

// The search window's controller: shows the window, starts a search from its
// sources (the request, the progress window, the engine) and takes the end
// of the search (the result, "nothing found", the desktop notification).
class KZSearchWindowCntrl : public QObject {
    Q_OBJECT
public:
    using ResultReceiver = std::function<void(const QVariantMap& resultInfo)>;

    explicit KZSearchWindowCntrl(KZSearchView* searchView = nullptr, QObject* parent = nullptr);
    ~KZSearchWindowCntrl() override;

    // Takes the window to control and brings it to the front.
    // The first time, it also takes the folders the program was opened with.
    void setTheWindow(QWidget* window);
    // Folders handed over by the desktop ("open with") or a saved result.
    void addFolders(const std::vector<std::filesystem::path>& folders);
    QWidget* window() const { return window_; }
    KZSearchView* searchView() const { return searchView_; }

    // The Start button. When the music library is due to be read, the
    // search starts once it is, and the sheet shows after
    // kReadingSheetDelayMs without an answer; a stopped reading starts none.
    void startScanAction();
    static constexpr int kReadingSheetDelayMs = 700;
    // The reading Start waits for, and its sheet while shown; null otherwise.
    KZMusicLibraryReading* musicLibraryReading() const { return musicReading_.get(); }
    KZMusicLibraryReadingSheet* musicLibraryReadingSheet() const { return readingSheet_.get(); }
    // Checks the sources and builds the request; with a progress controller
    // handed back the search may start. Without interface nothing is asked,
    // and the progress controller has no window unless `window` asks for
    // one: a reopened result comes up through it, as a search's result does.
    enum class ProgressWindow { AsInterface, Made };
    std::shared_ptr<KZSearchStuff> preliminaryToScanWithOption(bool allowInterface,
                                                               std::shared_ptr<KZSearchProgress>* progressControl,
                                                               ProgressWindow window = ProgressWindow::AsInterface);

    // The engine's end of the search; any thread.
    void searchDidTerminate(const QVariantMap& userInfo);

    // Where a result with finds goes (the result window, once there is one).
    // By default the result model takes it without a window.
    void setResultReceiver(ResultReceiver receiver) { resultReceiver_ = std::move(receiver); }

    const std::shared_ptr<KZSearchProgress>& progressCntrl() const { return progressCntrl_; }
    std::shared_ptr<KZSearchController> searchCntrl() const;
    KZResultModelHandOff* resultHandOff() const { return handOff_.get(); }
    bool observesSearchEnd() const { return terminateObservation_.isActive(); }
    // 0 duplicate files, 1 duplicate folders.
    int searchType() const;

Q_SIGNALS:
    // The end of a search has been handled (the result handed on, or the
    // user told that nothing was found).
    void searchEndHandled(quint64 foundCount);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void closeWindowAction();
    void startScan();
    void musicLibraryReadingEnded(bool stopped);

    void createResult(const QVariantMap& info);
    void whenProgressWindowIsShown(std::function<void()> then, int attempts = 0);
    void showUserNotification(const QVariantMap& info);
    void resetButtonDidClick();
    // The user's answer after launching or quitting a library's application.
    void appWatchAnswered(const QVariantMap& userInfo);

    QPointer<QWidget> window_;
    QPointer<KZSearchView> searchView_;
    std::shared_ptr<KZSearchProgress> progressCntrl_;
    std::shared_ptr<KZSearchController> searchCntrl_;
    std::unique_ptr<KZResultModelHandOff> handOff_;
    ResultReceiver resultReceiver_;
    platform::Subscription terminateObservation_;
    platform::Subscription resetObservation_;
    platform::Subscription setupObservation_;
    platform::Subscription appOpenedObservation_;
    platform::Subscription appClosedObservation_;
    bool tookStartFolders_ = false;
    std::unique_ptr<KZMusicLibraryReading> musicReading_;
    std::unique_ptr<KZMusicLibraryReadingSheet> readingSheet_;
    QTimer* readingSheetTimer_ = nullptr;
};
