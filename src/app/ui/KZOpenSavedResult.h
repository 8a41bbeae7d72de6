#pragma once

#include "resultfiles/KZSavedResultReopen.h"

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "app/ui/KZQuitPolicy.h"
#include "platform/Subscription.h"

class KZResultWindowCntrl;
class KZSearchProgress;
class KZSearchStuff;
class KZSearchWindowCntrl;

// Reopens a saved result into the windows a search makes: an opening window
// flips in over the search window while the file is read on a queue, the
// saved sources go back into the search window, the items are rebuilt
// against the disk (see KZSavedResultReopen), and "searchDidTerminate" is
// posted as a search would, so that the usual result window is built. Once
// that window is ready every tab gets its saved state and the result window
// comes up. "openingDidFinish" is posted exactly once, whatever happens.
//
// The flip and the rebuild end in either order, each in a continuation on
// the GUI thread. The result is posted once rebuilt, so that its window is
// made while the flip still turns, as a search's is; the window comes up
// once both the flip and the result are done. Nothing waits.
// GUI thread only, apart from the queued work, which touches no widget.
class KZOpenSavedResult : public QObject {
    Q_OBJECT
public:
    struct Host {
        QPointer<KZSearchWindowCntrl> searchWindowCntrl;
        QPointer<QWidget> searchWindow;
        std::function<KZResultWindowCntrl*()> resultWindow;
        // A removal that runs makes a reopening wait its turn (refused).
        std::function<bool()> removalIsRunning;
        // The flip from the search window to the opening window; calls
        // `done` on the GUI thread when it ended. Empty: shown at once.
        std::function<void(QWidget* openingWindow, std::function<void()> done)> flip;
        // Whether the opening window may fade into the progress window (the
        // display composites). Empty: the display is asked.
        std::function<bool()> windowsFade;
        // Who asked for the opening: the object of "openingDidFinish".
        const void* delegate = nullptr;
    };

    // A saved result as read from its file, with the saved sources that
    // still resolve.
    struct Read {
        std::filesystem::path file;
        std::optional<KZSavedResult> saved;
        std::vector<KZSourceItemRef> sources;
        QString error;
        int damaged = 0;
        int damagedSources = 0;
    };
    // Reads `file` and resolves its sources, on any thread.
    static std::shared_ptr<Read> readFile(const std::filesystem::path& file,
                                          const std::atomic<bool>* stop = nullptr);
    // readFile on a thread of its own, while the GUI thread goes on
    // painting (user input waits): for a check that must answer before the
    // caller goes on. `onReadingThread`, for tests, runs on that thread.
    static std::shared_ptr<Read> readFileAside(const std::filesystem::path& file,
                                               const std::function<void()>& onReadingThread = {});
    // For tests: what runs on the reading thread of a readFileAside given
    // none, as the program's own checks call it (empty: nothing).
    static void setReadingHook(std::function<void()> hook);
    // Why a read file cannot be reopened (unreadable, or none of its sources
    // is left); nothing when it can.
    static std::optional<QString> failureOf(const Read& read);

    explicit KZOpenSavedResult(Host host, QObject* parent = nullptr);
    ~KZOpenSavedResult() override;

    // Starts reopening `file`; returns at once. `alreadyRead`: the file as
    // it was read and checked before the opening began, read no second time.
    void prepareOpenSavedFile(const std::filesystem::path& file, std::shared_ptr<Read> alreadyRead = nullptr);

    QWidget* openingWindow() const { return openingWindow_; }
    bool didFinish() const { return finished_; }
    // How many times "searchDidTerminate" was posted (tests: at most once).
    int terminationsPosted() const { return terminationsPosted_; }

    // The two halves of the join, exposed so tests can end them in either order.
    void flipDidEnd();
    bool hasRebuilt() const { return rebuilt_ != nullptr; }

private:
    void fileWasRead(std::shared_ptr<Read> read);
    void rebuildDidEnd(std::shared_ptr<KZReopenedResult> rebuilt);
    void postTerminationWhenJoined();
    void resultIsReady();
    void fail(const QString& reason);
    void finish();

    Host host_;
    QPointer<QWidget> openingWindow_;
    std::shared_ptr<KZSearchProgress> progress_;
    std::shared_ptr<KZSearchStuff> request_;
    std::optional<KZSavedResult> saved_;
    std::shared_ptr<KZReopenedResult> rebuilt_;
    int damaged_ = 0;
    bool flipped_ = false;
    // The result was ready before the flip ended: it comes up at the end.
    bool readyBeforeFlipEnded_ = false;
    // A failure known before the flip to the opening window ended: told once
    // the flip has ended, so that the flip cannot show that window again.
    std::optional<QString> failureAfterFlip_;
    bool finished_ = false;
    int terminationsPosted_ = 0;
    std::vector<platform::Subscription> observations_;
    // The opening window stands for the search window until the opening
    // ends with a main window in front.
    std::unique_ptr<KZQuitPolicy::MainWindowInTransit> transit_;
    // Set when the program quits or the reader goes: the queued reading and
    // rebuilding end at once and post nothing.
    std::shared_ptr<std::atomic<bool>> stop_ = std::make_shared<std::atomic<bool>>(false);
};
