#pragma once

#include "platform/Subscription.h"
#include "removal/KZRemovalPanel.h"
#include "result/model/KZFoundItem.h"
#include "settings/KZSourceItem.h"

#include <QString>
#include <QVariantList>
#include <QVariantMap>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

class KZFoundItemsCntrl;
class KZRemove;
struct KZRemoveTally;
class QTimer;

// The part of the removal panel that lives on screen: the cards, buttons and
// fields laid over a result view. The controller only calls it on the GUI
// thread. Tests give a recording fake.
class KZRemoveView {
public:
    virtual ~KZRemoveView() = default;

    virtual void setStatus(const QString& text) = 0;
    virtual void setCounters(const QString& count, const QString& size) = 0;
    // Only called while the bar is determinate.
    virtual void setProgress(double percent) = 0;
    virtual void setProgressDeterminate(bool determinate) = 0;
    virtual void startSpinning() = 0;
    virtual void stopSpinning() = 0;
    virtual void setStartEnabled(bool enabled) = 0;
    virtual void setStopEnabled(bool enabled) = 0;
    virtual void showProgressView() = 0;
    virtual void showSuccessfulView(const QString& finalText) = 0;
    // Runs the closing animation, which ends by posting "removePanelDidClose".
    virtual void closePanel() = 0;
    // The marking undo of the tab no longer applies once items leave.
    virtual void purgeMarkingUndo() = 0;
    // The three-button question about empty folders; 1000 for the first.
    virtual qint64 askReportEmptyFolders() = 0;
    virtual void showErrors(const KZRemove& engine) = 0;
    virtual void showCompletionNotification(const QString& title, const QString& body) = 0;
};

// Which page Start acts on: the button's tag names the action.
namespace KZRemoveAction {
constexpr int trash = 1;
constexpr int move = 2;
} // namespace KZRemoveAction

// Start is enabled on the Trash page, or with a destination chosen, or when
// nothing marked needs one: every source is the Photos library and every
// marked item one of its items, which are only tagged, never moved.
bool KZRemoveStartEnabled(int startTag, bool hasDestination, bool onlyTagged);
// NO for no sources at all: an empty request must never skip the folder choice.
bool KZRemoveSourcesAreOnlyPhotos(const std::vector<KZSourceItemRef>& sources);
// done and total of the counters: the managed items once the engine knows
// how many, the checked ones before.
struct KZRemoveProgressFigures {
    quint64 done = 0;
    quint64 total = 0;
    double percent = 0.0; // 0 for a total of 0
};
KZRemoveProgressFigures KZRemoveProgressOf(quint64 totToManage, quint64 managedCount, quint64 totToCheck,
                                           quint64 checkedCount);
// What the panel tells before Start about marked music-library tracks,
// which no removal takes; empty for none.
QString KZRemoveMusicNote(quint64 tracks);
// The same for marked items of a photo library, which stay in it.
QString KZRemovePhotosNote(quint64 items);
// The done card's text: `sizeText` (what left, and where to), followed by
// the hard links left in the items' places, when there are any.
QString KZRemoveFinalText(const QString& sizeText, const KZRemoveTally& tally);
// What the done card adds about items copied to the chosen folder from
// another disk, whose originals stay; empty when nothing was copied.
QString KZRemoveCopiedText(const KZRemoveTally& tally);
// The desktop notice's text at the end of a removal.
QString KZRemoveCompletionText(const KZRemoveTally& tally, bool isMoveToTrash);
// One entry per folder, the first entry for a folder kept with its label tag.
std::vector<KZRemovalPanel::FolderToCheck> KZRemoveUniqueFolders(
    const std::vector<KZRemovalPanel::FolderToCheck>& folders);

// The controller of one removal: built from the tab's removal request, it
// starts the engine, shows its progress from a clock of its own, announces
// the removed items once, runs the empty-folder follow-up and ends with the
// final card or by closing.
class KZRemoveCntrl : public KZRemovalPanel, public std::enable_shared_from_this<KZRemoveCntrl> {
public:
    using EngineFactory = std::function<std::shared_ptr<KZRemove>(std::shared_ptr<KZRemovalPanel>)>;
    using EmptyFoldersHandOff = std::function<void(const QVariantList&)>;

    static std::shared_ptr<KZRemoveCntrl> create(const QVariantMap& request, std::shared_ptr<KZRemoveView> view);
    ~KZRemoveCntrl() override;
    KZRemoveCntrl(const KZRemoveCntrl&) = delete;
    KZRemoveCntrl& operator=(const KZRemoveCntrl&) = delete;

    // ---- Seams for tests and the window ---------------------------------------
    void setEngineFactory(EngineFactory factory) { engineFactory_ = std::move(factory); }
    void setEmptyFoldersHandOff(EmptyFoldersHandOff handOff) { handOff_ = std::move(handOff); }
    // Whether the removal starts the clock thread (tests tick by hand).
    void setStartsClock(bool starts) { startsClock_ = starts; }
    // The GUI-thread timer instead of the clock's thread, as when no thread
    // can be started.
    void setClockThreadRefused(bool refused) { clockThreadRefused_ = refused; }
    void setCounterFormats(const QString& count, const QString& size);

    // ---- Request -------------------------------------------------------------
    // The marked items' size, leaving out music-library tracks: they stay.
    quint64 totSize() const { return totSize_; }
    // Marked music-library tracks, which stay where they are.
    quint64 musicItemsKept() const { return musicItemsKept_; }
    // Marked photo-library items, which stay in their library.
    quint64 photosItemsKept() const { return photosItemsKept_; }
    quint64 ownerTag() const { return ownerTag_; }
    bool isPhotosSearch() const { return isPhotosSearch_; }
    bool isiTunesSearch() const { return isiTunesSearch_; }
    const QVariantList& viewsToDisable() const { return viewsToDisable_; }
    const std::vector<KZSourceItemRef>& sources() const { return sources_; }

    // ---- Actions (GUI thread) ----------------------------------------------------
    int startTag() const { return startTag_; }
    // The page switch and the folder choice both re-run the Start rule.
    void setStartTag(int tag);
    // Only an absolute folder is taken.
    void setDestination(const std::filesystem::path& folder);
    bool startEnabled() const;
    // Some marked item would be moved, so the move page needs a folder.
    bool needsDestination() const { return needsDestination_; }
    struct Options {
        bool hardLinks = false;
        bool rename = false;
        bool createFolders = false;
    };
    void startAction(const Options& options);
    void stopAction();
    void cancelAction();
    void closeSession();

    // ---- Clock ---------------------------------------------------------------------
    // One tick at platform::Clock's time; answers true when the clock should stop.
    // Called from the clock's thread; everything it shows or posts is queued
    // to the GUI thread in order.
    bool tick();
    bool itemsDidRemoveAlreadySent() const { return itemsDidRemoveSent_.load(); }
    bool emptyFoldersJobTerminated() const { return emptyFoldersJobTerminated_.load(); }
    bool clockRunsOnOwnThread() const { return clockThread_.joinable(); }
    void updateProgressInfo();

    // ---- Engine's calls ------------------------------------------------------------
    void statusDidChange(const QString& key) override;
    void statusFormatDidChange(const QString& key, const QStringList& args) override;
    void progressDidBecomeDeterminate(bool determinate) override;

    std::shared_ptr<KZRemove> engine() const;
    // Waits for the follow-up gathering (tests and shutdown).
    static void waitForGatherings();

private:
    KZRemoveCntrl(const QVariantMap& request, std::shared_ptr<KZRemoveView> view);
    void decideReportEmptyFolders();
    void setupClock();
    void stopClock();
    void startToGetEmptyFoldersToCheck();
    void doStartToGetEmptyFoldersToCheck();
    void showFinalView();
    void showCompletionNotification();
    std::optional<KZFoundItemArray> removedItems() const;

    std::shared_ptr<KZRemoveView> view_;
    std::weak_ptr<KZFoundItemsCntrl> foundItemsCntrl_;
    const void* foundItemsObject_ = nullptr;
    std::vector<KZSourceItemRef> sources_;
    QVariantList viewsToDisable_;
    quint64 totSize_ = 0;
    quint64 musicItemsKept_ = 0;
    quint64 photosItemsKept_ = 0;
    quint64 ownerTag_ = 0;
    bool isPhotosSearch_ = false;
    bool isiTunesSearch_ = false;
    bool needsDestination_ = true;
    int startTag_ = KZRemoveAction::trash;
    QString processedCountStr_;
    QString movedSizeStr_;
    bool progressDeterminate_ = false;
    bool closed_ = false;

    EngineFactory engineFactory_;
    EmptyFoldersHandOff handOff_;
    mutable std::mutex engineMutex_;
    std::shared_ptr<KZRemove> remove_;

    std::atomic<bool> itemsDidRemoveSent_{false};
    std::atomic<bool> emptyFoldersJobTerminated_{false};
    std::atomic<bool> gatheringPending_{false};
    double updatedTime_ = 0.0; // the clock's own
    std::vector<FolderToCheck> uniqueFolders_;

    bool startsClock_ = true;
    bool clockThreadRefused_ = false;
    std::atomic<bool> clockStop_{false};
    std::thread clockThread_;
    QTimer* fallbackTimer_ = nullptr;
};
