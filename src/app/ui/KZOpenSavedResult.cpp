#include "app/ui/KZOpenSavedResult.h"

#include "app/progress/KZSearchProgressCore.h"
#include "app/KZWindowTransitionMath.h"
#include "app/progress/ui/KZSearchProgress.h"
#include "app/progress/ui/KZSearchProgressExtraInfoCntrl.h"
#include "app/progress/ui/KZSearchProgressWindow.h"
#include "app/search/KZSearchPreparation.h"
#include "app/search/KZSearchTermination.h"
#include "app/search/ui/KZSearchView.h"
#include "app/search/ui/KZSearchWindowCntrl.h"
#include "app/ui/KZCompositor.h"
#include "app/ui/KZWindowCrossFade.h"
#include "app/ui/KZWindowTransitionAnimator.h"
#include "engine/KZFoundListParcel.h"
#include "engine/KZResultInfoKeys.h"
#include "media/KZiTunesSupport.h"
#include "platform/MainThread.h"
#include "platform/MallocArenas.h"
#include "platform/NotificationCenter.h"
#include "platform/OperationQueue.h"
#include "platform/StringTable.h"
#include "platform/UserDefaults.h"
#include "result/model/KZResultCntrl.h"
#include "result/window/ui/KZResultWindowCntrl.h"
#include "result/window/ui/KZSavedViewState.h"
#include "services/KZErrorDelegate.h"
#include "services/ui/KZWindowPlacement.h"
#include "settings/KZDefaultsKeys.h"
#include "settings/KZDefaultsRegistry.h"
#include "settings/KZNotificationNames.h"
#include "settings/KZSearchStuff.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QTimer>

#include <utility>

#include <thread>

namespace fs = std::filesystem;

namespace {

platform::NotificationCenter& center()
{
    return platform::NotificationCenter::defaultCenter();
}

platform::OperationQueue& openQueue()
{
    // Its work must end while the application object exists: a rebuild
    // that ran on past it would post its result into a program taken down.
    static platform::OperationQueue queue(QStringLiteral("KZOpenSavedResultOperationQueue"));
    static const bool listed = (queue.endsWithApplication(), true);
    (void)listed;
    return queue;
}

// The round window shown while a saved result is read: the search window's
// disc with a turning arc and a line of text.
class OpeningWindow : public QWidget {
public:
    OpeningWindow() : QWidget(nullptr, Qt::FramelessWindowHint | Qt::Tool)
    {
        setObjectName(QStringLiteral("openingWindow"));
        setAttribute(Qt::WA_TranslucentBackground);
        setAttribute(Qt::WA_DeleteOnClose, false);
        auto* timer = new QTimer(this);
        timer->setInterval(33);
        connect(timer, &QTimer::timeout, this, [this] {
            angle_ = (angle_ + 12) % 360;
            update();
        });
        timer->start();
    }

protected:
    void resizeEvent(QResizeEvent*) override { setMask(QRegion(rect(), QRegion::Ellipse)); }
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QRectF disc = QRectF(rect()).adjusted(1, 1, -1, -1);
        QRadialGradient fill(disc.center(), disc.width() / 2);
        fill.setColorAt(0, QColor(246, 247, 250));
        fill.setColorAt(1, QColor(214, 219, 228));
        p.setPen(QPen(QColor(150, 156, 168), 1));
        p.setBrush(fill);
        p.drawEllipse(disc);
        const double r = std::min(width(), height()) * 0.12;
        const QRectF ring(disc.center().x() - r, disc.center().y() - r - 14, 2 * r, 2 * r);
        p.setPen(QPen(QColor(200, 205, 214), 5, Qt::SolidLine, Qt::RoundCap));
        p.drawEllipse(ring);
        p.setPen(QPen(QColor(58, 112, 206), 5, Qt::SolidLine, Qt::RoundCap));
        p.drawArc(ring, -angle_ * 16, 100 * 16);
        QFont font = p.font();
        font.setPointSizeF(font.pointSizeF() + 2);
        p.setFont(font);
        p.setPen(QColor(60, 66, 78));
        p.drawText(QRectF(disc.left(), ring.bottom() + 18, disc.width(), 30), Qt::AlignCenter,
                   platform::localizedString(QStringLiteral("opening_saved_result")));
    }

private:
    int angle_ = 0;
};

QVariantList deadTrackRecords(const std::vector<KZSavedDeadTrack>& tracks)
{
    namespace K = KZSavedResultKey;
    QVariantList records;
    for (const KZSavedDeadTrack& t : tracks)
        records.append(QVariantMap{{K::songName, t.songName}, {K::album, t.album}, {K::artist, t.artist},
                                   {K::trackID, t.trackID}, {K::path, t.path}, {K::isMarked, t.isMarked}});
    return records;
}

// Why no item of the file is left, when that is more than their being
// gone: items outside the searched folders, or changed since, were left
// out by the reopening and are still there. Empty: they are all gone.
QString whyNothingIsLeft(const KZReopenNotes& notes)
{
    KZReopenNotes leftOut = notes;
    leftOut.notFound = 0;
    leftOut.damaged = 0;
    return leftOut.isEmpty() ? QString() : notes.text();
}

// Puts the progress window in the opening window's place.
void placeOverOpening(QWidget* progress, const QWidget* opening)
{
    namespace math = KZTransitionMath;
    QScreen* screen = opening->screen() ? opening->screen() : QGuiApplication::primaryScreen();
    const QRect screenRect = screen ? screen->geometry() : QRect();
    const double height = screenRect.height();
    const QRectF openingUp = math::flipY(QRectF(opening->geometry()).translated(-screenRect.topLeft()), height);
    const QRectF placed = math::flipY(math::reopenedProgressRect(openingUp, QSizeF(progress->size())), height);
    progress->move(placed.translated(screenRect.topLeft()).topLeft().toPoint());
    KZWindowPlacement::keepOnScreen(progress);
}

} // namespace

KZOpenSavedResult::KZOpenSavedResult(Host host, QObject* parent) : QObject(parent), host_(std::move(host))
{
    // Quitting ends a rebuild at once, however large the folders it measures.
    if (QCoreApplication::instance())
        connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this, [stop = stop_] { *stop = true; });
}

KZOpenSavedResult::~KZOpenSavedResult()
{
    *stop_ = true;
    observations_.clear();
    delete openingWindow_.data();
}

std::shared_ptr<KZOpenSavedResult::Read> KZOpenSavedResult::readFile(const fs::path& file,
                                                                     const std::atomic<bool>* stop)
{
    auto read = std::make_shared<Read>();
    read->file = file;
    read->saved = KZSavedResultReopen::readFile(file, &read->error, &read->damaged);
    if (read->saved && !(stop && *stop))
        read->sources = KZSavedResultReopen::resolveSources(read->saved->sources, &read->damagedSources);
    return read;
}

namespace {

std::function<void()>& readingHook()
{
    static std::function<void()> hook;
    return hook;
}

} // namespace

void KZOpenSavedResult::setReadingHook(std::function<void()> hook)
{
    readingHook() = std::move(hook);
}

std::shared_ptr<KZOpenSavedResult::Read> KZOpenSavedResult::readFileAside(const fs::path& file,
                                                                          const std::function<void()>& onReadingThread)
{
    std::shared_ptr<Read> read;
    QEventLoop loop;
    const std::function<void()> hook = onReadingThread ? onReadingThread : readingHook();
    std::thread reader([&] {
        if (hook)
            hook();
        std::shared_ptr<Read> done = readFile(file);
        // Quits the loop from its own thread, once it runs.
        QMetaObject::invokeMethod(
            &loop, [&read, &loop, done = std::move(done)]() mutable {
                read = std::move(done);
                loop.quit();
            },
            Qt::QueuedConnection);
    });
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    reader.join();
    return read;
}

std::optional<QString> KZOpenSavedResult::failureOf(const Read& read)
{
    if (!read.saved)
        return read.error;
    if (read.sources.empty()) {
        // Folders that are gone are the user's to look for; records that
        // name nothing are the file's damage, and must not send them looking.
        const bool damaged = read.damagedSources > 0 || read.saved->sources.empty();
        return platform::localizedString(damaged ? QStringLiteral("open_saved_damaged_sources")
                                                 : QStringLiteral("open_saved_no_sources"));
    }
    return std::nullopt;
}

void KZOpenSavedResult::prepareOpenSavedFile(const fs::path& file, std::shared_ptr<Read> alreadyRead)
{
    if (host_.removalIsRunning && host_.removalIsRunning()) {
        // The result on screen is being changed on disk; its window stays.
        KZErrorDelegate::sharedControl().showError(QStringLiteral("open_saved_while_removing"));
        finish();
        return;
    }
    auto* window = new OpeningWindow;
    openingWindow_ = window;
    transit_ = std::make_unique<KZQuitPolicy::MainWindowInTransit>();
    window->setGeometry(host_.searchWindow ? host_.searchWindow->geometry() : QRect(0, 0, 420, 420));
    QPointer<KZOpenSavedResult> guard(this);
    if (host_.flip) {
        host_.flip(window, [guard] {
            if (guard)
                guard->flipDidEnd();
        });
    } else {
        window->show();
        QTimer::singleShot(0, this, [this] { flipDidEnd(); });
    }

    openQueue().addOperation([guard, file, stop = stop_, alreadyRead = std::move(alreadyRead)] {
        std::shared_ptr<Read> read = alreadyRead ? alreadyRead : readFile(file, stop.get());
        // The sources are checked against the music library on the window's
        // thread: it is read here, while the opening window turns.
        std::optional<KZiTunesSupport::Refusal> refusal;
        if (!*stop)
            refusal = KZiTunesSupport::sharedControl().readIfDue(stop.get());
        if (*stop)
            return;
        platform::runOnMain([guard, read, refusal] {
            // Kept as refused until the file changes: told now or never.
            if (refusal)
                KZiTunesSupport::tellRefusal(*refusal);
            if (guard)
                guard->fileWasRead(read);
        });
    });
}

void KZOpenSavedResult::fileWasRead(std::shared_ptr<Read> read)
{
    if (finished_)
        return;
    if (const std::optional<QString> failure = failureOf(*read)) {
        fail(*failure);
        return;
    }
    KZSearchWindowCntrl* searchWindowCntrl = host_.searchWindowCntrl;
    KZSearchView* view = searchWindowCntrl ? searchWindowCntrl->searchView() : nullptr;
    if (!view) {
        fail(platform::localizedString(QStringLiteral("open_saved_no_sources")));
        return;
    }
    view->showSavedSources(read->sources);
    std::shared_ptr<KZSearchProgress> progress;
    // Its window is made, not shown: the result comes up from it, as a
    // search's does, and its Back goes back to it.
    request_ = searchWindowCntrl->preliminaryToScanWithOption(false, &progress,
                                                              KZSearchWindowCntrl::ProgressWindow::Made);
    if (!progress) {
        fail(platform::localizedString(QStringLiteral("open_saved_no_sources")));
        return;
    }
    progress_ = progress;
    progress_->core().prepareToSearch(
        {{QStringLiteral("isEmptiedFolders"), request_ && request_->isASearchForEmptyFoldersAfterTrashed()},
         {QStringLiteral("showInterface"), false}});
    saved_ = std::move(read->saved);
    damaged_ = read->damaged;

    KZSavedResultReopen::Options options;
    options.globalExclusions = request_ ? request_->globalExclusions() : std::vector<fs::path>();
    if (request_)
        options.musicLibraryExclusions = KZSearchPreparation::musicLibraryExclusions(*request_);
    KZSavedResultReopen::useFileTypeLabels(options, KZDefaultsRegistry::fileTagsExcludingTags());
    options.didRebuildItem = [progress](const KZSearchItemInfo& item) { progress->core().setFoundItemFileType(item); };
    options.stopped = [stop = stop_] { return stop->load(); };
    QPointer<KZOpenSavedResult> guard(this);
    // The records go to the rebuild, which alone reads them, and are freed
    // as soon as it is done: a window state and the file's summary are all
    // that is kept here, not a second copy of every record while the
    // result's items are made.
    auto records = std::make_shared<KZSavedResult>();
    records->items = std::exchange(saved_->items, {});
    records->emptyFolders = std::exchange(saved_->emptyFolders, std::nullopt);
    openQueue().addOperation([guard, records, sources = read->sources, options]() mutable {
        auto rebuilt = std::make_shared<KZReopenedResult>(
            KZSavedResultReopen::rebuild(std::move(*records), sources, options));
        records.reset();
        // The file's records were the opening's largest working memory: their
        // pages go back before the result's items are made.
        platform::releaseFreeMemory();
        if (rebuilt->stopped)
            return;
        platform::runOnMain([guard, rebuilt] {
            if (guard)
                guard->rebuildDidEnd(rebuilt);
        });
    });
}

void KZOpenSavedResult::flipDidEnd()
{
    flipped_ = true;
    if (failureAfterFlip_) {
        const QString reason = *failureAfterFlip_;
        failureAfterFlip_.reset();
        fail(reason);
        return;
    }
    postTerminationWhenJoined();
    if (std::exchange(readyBeforeFlipEnded_, false))
        resultIsReady();
}

void KZOpenSavedResult::rebuildDidEnd(std::shared_ptr<KZReopenedResult> rebuilt)
{
    rebuilt_ = std::move(rebuilt);
    rebuilt_->notes.damaged += damaged_;
    postTerminationWhenJoined();
}

void KZOpenSavedResult::postTerminationWhenJoined()
{
    if (!rebuilt_ || !saved_ || finished_ || terminationsPosted_ > 0)
        return;
    const QVariantList deads = saved_->deadTracks ? deadTrackRecords(*saved_->deadTracks) : QVariantList();
    // The result's items and lists are made while the flip still turns, as
    // a search's are; only the result window waits for its end. A reopening
    // that leaves nothing brings the search window back at once, which the
    // flip's end would cover again: that one waits for the flip whole.
    if (!flipped_ && rebuilt_->itemsCount == 0 && deads.isEmpty())
        return;
    ++terminationsPosted_;
    const KZSavedGenericInfo& g = saved_->genericInfo;
    QVariantMap progressInfo{{KZResultKey::foundItemsSize, QVariant::fromValue(rebuilt_->itemsSize)},
                             {KZResultKey::foundItemsCount, QVariant::fromValue(rebuilt_->itemsCount)},
                             {KZResultKey::checkedItemsCount, QVariant::fromValue(g.checkedItemsCount.value_or(0))},
                             {KZResultKey::itemsToCheckCount, QVariant::fromValue(g.itemsToCheckCount.value_or(0))}};
    progress_->setSavedProgress(progressInfo);

    observations_.push_back(center().addObserver(
        KZNotification::resultIsReady, platform::bundleIdentifier(), [guard = QPointer<KZOpenSavedResult>(this)](
                                                                         const platform::Notification&) {
            platform::runOnMain([guard] {
                if (guard)
                    guard->resultIsReady();
            });
        }));

    QVariantMap info;
    info.insert(KZResultKey::foundItems, KZFoundListParcel::toVariant(std::move(rebuilt_->items)));
    info.insert(KZResultKey::foundItemsCount, QVariant::fromValue(rebuilt_->itemsCount));
    info.insert(KZResultKey::foundItemsSize, QVariant::fromValue(rebuilt_->itemsSize));
    info.insert(KZResultKey::checkedItemsCount, QVariant::fromValue(g.checkedItemsCount.value_or(0)));
    info.insert(KZResultKey::searchStuffItem, QVariant::fromValue(request_));
    info.insert(KZResultKey::foundFileTypes, progress_->core().fileTypes());
    info.insert(KZResultKey::stoppedByUser, g.searchWasStoppedByUser.value_or(false));
    info.insert(KZResultKey::currentLocationLabel, g.currentLocationLabel.value_or(0));
    info.insert(KZResultKey::searchedIniTunes, g.searchedIniTunes.value_or(false));
    info.insert(KZResultKey::searchedInPhotos, g.searchedInPhotos.value_or(false));
    info.insert(KZResultKey::photosLibraryPath, g.photosLibraryPath.value_or(QString()));
    info.insert(KZResultKey::isEmptyFolders, g.isEmptyFolders.value_or(false));
    info.insert(KZResultKey::searchedForDeads, saved_->deadTracks.has_value());
    info.insert(KZResultKey::searchedForFolders, g.searchedForFolders.value_or(false));
    info.insert(KZResultKey::foundDeads, deads);
    info.insert(KZResultKey::foundDeadsCount, QVariant::fromValue<quint64>(quint64(deads.size())));
    info.insert(KZResultKey::isRestoreOfSaved, true);
    // Each rebuilt item brings its saved mark along: there is no table of
    // marks to restore from.
    info.insert(KZResultKey::isSavedItemsToRestore, QVariantMap());
    // Missing tracks alone are a result: its window opens on their tab.
    const bool nothingLeft = !KZSearchTermination::hasResult(info);
    if (nothingLeft)
        info.insert(KZResultKey::reopenLeftOut, whyNothingIsLeft(rebuilt_->notes));
    center().post(KZNotification::searchDidTerminate,
                  platform::NotificationObject(static_cast<const void*>(host_.searchWindowCntrl.data())), info);
    if (nothingLeft) {
        // No result window will come to end the opening: it ends here, with
        // the search window back. The end of the search says that none of
        // the items could be found; what changed since saving has nothing
        // to be told over.
        rebuilt_->notes = {};
        if (host_.searchWindow) {
            host_.searchWindow->show();
            host_.searchWindow->raise();
        }
        finish();
    }
}

void KZOpenSavedResult::resultIsReady()
{
    if (finished_ || !saved_)
        return;
    if (!flipped_) {
        readyBeforeFlipEnded_ = true;
        return;
    }
    observations_.clear();
    KZResultWindowCntrl* window = host_.resultWindow ? host_.resultWindow() : nullptr;
    KZResultCntrl* result = window ? window->resultCntrl() : nullptr;
    if (!window || !result) {
        finish();
        return;
    }
    const bool savedByGroup = saved_->genericInfo.showResultByGroup.value_or(
        platform::UserDefaults::standard().boolForKey(KZDefaultsKey::show_result_by_group));
    if (savedByGroup != platform::UserDefaults::standard().boolForKey(KZDefaultsKey::show_result_by_group))
        window->showByGroupAction();
    if (rebuilt_ && rebuilt_->emptyFolders) {
        result->setupEmptyFolders(
            {{KZResultKey::foundItems, KZFoundListParcel::toVariant(std::move(*rebuilt_->emptyFolders))},
             {KZResultKey::foundItemsCount, QVariant::fromValue(rebuilt_->emptyFoldersCount)},
             {KZResultKey::foundItemsSize, QVariant::fromValue<quint64>(0)},
             {KZResultKey::stoppedByUser, false},
             {KZResultKey::foundFileTypes, progress_->core().fileTypes()},
             {KZResultKey::checkedItemsCount, QVariant::fromValue<quint64>(0)},
             {KZResultKey::searchedForDeads, false},
             {KZResultKey::isEmptyFolders, true},
             {KZResultKey::isRestoreOfSaved, true},
             {KZResultKey::isSavedItemsToRestore, QVariantMap()}});
        rebuilt_->emptyFolders.reset();
    }
    KZSavedViewState::apply(*result, *saved_, savedByGroup);

    // The result window comes up from the progress window; the opening ends
    // when its transition has, or at once when there is none to run.
    QPointer<KZOpenSavedResult> guard(this);
    observations_.push_back(center().addObserver(
        KZNotification::openAnimationDidTerminate,
        platform::NotificationObject(static_cast<const void*>(static_cast<QWidget*>(window))),
        [guard](const platform::Notification&) {
            platform::runOnMain([guard] {
                if (guard)
                    guard->finish();
            });
        }));
    connect(window, &QObject::destroyed, this, [this] { finish(); });
    // The progress window, at its end as a search's, takes the opening
    // window's place; the result comes up from it. The transition up to
    // the result photographs the progress window and the screen under it,
    // so it starts only once the opening window has faded away.
    const auto comeUp = [guard, window = QPointer<KZResultWindowCntrl>(window), tag = saved_->selectedTabTag] {
        if (!guard || guard->finished_)
            return;
        guard->progress_->showResultWithFileTypeTag(tag);
        QTimer::singleShot(0, guard, [guard, window] {
            if (guard && window && window->isVisible() && !KZWindowTransitionAnimator::sharedControl().isRunning())
                guard->finish();
        });
    };
    KZSearchProgressWindow* progressWindow = progress_->progressWindow();
    if (!progressWindow || !openingWindow_ || !openingWindow_->isVisible()) {
        if (openingWindow_)
            openingWindow_->hide();
        comeUp();
        return;
    }
    progressWindow->fileTypeExtraInfoCntrl()->hideView();
    placeOverOpening(progressWindow, openingWindow_);
    const bool fade = host_.windowsFade ? host_.windowsFade() : KZCompositor::composites();
    KZWindowCrossFade::run(openingWindow_, progressWindow, fade,
                           KZTransitionMath::kReopenedCrossFadeSeconds * KZTransitionMath::durationFactor(), this,
                           comeUp);
}

void KZOpenSavedResult::fail(const QString& reason)
{
    // A file read before the flip ended: a flip still running would end by
    // showing the opening window over the search window, after the failure.
    if (!flipped_ && openingWindow_ && !finished_) {
        failureAfterFlip_ = reason;
        return;
    }
    KZErrorDelegate::sharedControl().showError(QStringLiteral("result_not_opened"), {}, {reason});
    // The search window comes back as it was.
    if (openingWindow_)
        openingWindow_->hide();
    if (host_.searchWindow) {
        host_.searchWindow->show();
        host_.searchWindow->raise();
    }
    finish();
}

void KZOpenSavedResult::finish()
{
    if (finished_)
        return;
    finished_ = true;
    observations_.clear();
    if (openingWindow_)
        openingWindow_->hide();
    // What the disk changed since saving is told once, over the result.
    if (rebuilt_ && !rebuilt_->notes.isEmpty())
        KZErrorDelegate::sharedControl().showError(rebuilt_->notes.headingKey(), {},
                                                   {rebuilt_->notes.text()});
    transit_.reset();
    center().post(KZNotification::openingDidFinish, platform::NotificationObject(host_.delegate));
}
