#include "app/search/ui/KZSearchView.h"

#include "app/search/KZSearchGeometry.h"
#include "app/search/ui/KZAddBtnView.h"
#include "app/search/ui/KZSearchWindowTextView.h"
#include "app/search/ui/KZSourcePopoverCntrl.h"
#include "app/search/ui/KZSourceTiles.h"
#include "app/search/ui/KZSourcesView.h"
#include "platform/MainThread.h"
#include "platform/NotificationCenter.h"
#include "settings/KZNotificationNames.h"
#include "platform/StringTable.h"
#include "services/ui/KZMenuSet.h"
#include "services/KZErrorDelegate.h"
#include "services/KZFilesUtilities.h"
#include "services/ui/KZAnimationTiming.h"
#include "services/ui/KZFocusRing.h"
#include "services/ui/KZImages.h"
#include "services/ui/KZInterfaceUtilities.h"
#include "services/ui/KZThemeImageSwitchButton.h"
#include "services/ui/KZWindowBackgrounds.h"

#include <QApplication>
#include <QCursor>
#include <QDragEnterEvent>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QToolButton>
#include <QVariantAnimation>
#include <QWindow>

#include <algorithm>

namespace {

constexpr int kStartGroupY = 40;   // y up
constexpr int kResetButtonY = 405; // y up
constexpr int kDropMoveUp = 52;
// The hint fades in ten steps and the controls in two; the steps are this far apart.
constexpr double kFadeStepSeconds = 0.01;
constexpr double kSourcesMoveSeconds = 0.2;
constexpr double kSlideSeconds = 0.5;

// The two images of the search-type switch, drawn here.
QImage switchImage(bool on)
{
    QImage image(QSize(88, 48), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(2.0);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF track(1, 3, 42, 18);
    painter.setPen(QPen(QColor(60, 66, 80), 1.0));
    painter.setBrush(on ? QColor(72, 118, 196) : QColor(150, 156, 168));
    painter.drawRoundedRect(track, 9, 9);
    const QRectF knob(on ? 25 : 3, 4, 16, 16);
    painter.setPen(QPen(QColor(0, 0, 0, 60), 1.0));
    painter.setBrush(QColor(250, 250, 250));
    painter.drawEllipse(knob);
    return image;
}

void registerSwitchImages()
{
    static const bool done = [] {
        KZImages::registerImage(QStringLiteral("searchTypeSwitchOn"), std::function<QImage()>([] { return switchImage(true); }));
        KZImages::registerImage(QStringLiteral("searchTypeSwitchOff"), std::function<QImage()>([] { return switchImage(false); }));
        return true;
    }();
    (void)done;
}

void setWidgetOpacity(QWidget* widget, double opacity)
{
    auto* effect = qobject_cast<QGraphicsOpacityEffect*>(widget->graphicsEffect());
    if (!effect) {
        effect = new QGraphicsOpacityEffect(widget);
        widget->setGraphicsEffect(effect);
    }
    effect->setOpacity(std::clamp(opacity, 0.0, 1.0));
}

QRect lerp(const QRect& a, const QRect& b, double p)
{
    return {qRound(a.x() + (b.x() - a.x()) * p), qRound(a.y() + (b.y() - a.y()) * p),
            qRound(a.width() + (b.width() - a.width()) * p), qRound(a.height() + (b.height() - a.height()) * p)};
}

} // namespace

KZSearchView::KZSearchView(QWidget* parent) : QWidget(parent), sourcesCntrl_(this)
{
    setObjectName(QStringLiteral("searchView"));
    resize(viewSide, viewSide);
    setAcceptDrops(true);
    // The view holds the keys (Return is Start) but is no Tab stop: it would
    // take the focus and show nothing.
    setFocusPolicy(Qt::ClickFocus);
    setAttribute(Qt::WA_TranslucentBackground);

    upperTextView_ = new KZSearchWindowTextView(this);
    upperTextView_->setTextToDraw(platform::localizedString(QStringLiteral("drop_sources")));
    upperTextView_->setGeometry(40, 100, viewSide - 80, 60);
    bottomTextView_ = new KZSearchWindowTextView(this);
    bottomTextView_->setTextToDraw(platform::localizedString(QStringLiteral("drop_sources_2")));
    bottomTextView_->setGeometry(40, 300, viewSide - 80, 60);

    addBtnView_ = new KZAddBtnView;
    addBtnView_->setObjectName(QStringLiteral("addBtn"));
    // In the Tab chain, where Space opens the panel, as on the menu button:
    // once a source is in, Return is Start and Tab the only way to it.
    addBtnView_->setFocusPolicy(Qt::TabFocus);
    KZFocusRing::onlyFromTheKeyboard(addBtnView_);
    addBtnView_->install(this);

    sourcesView_ = new KZSourcesView;
    sourcesView_->install(this, addBtnView_);
    connect(sourcesView_->collection(), &KZSourcesCollectionView::closeClicked, this,
            [this](const KZSourceItemRef& source) { sourcesCntrl_.removeSource(source); });
    connect(sourcesView_->collection(), &KZSourcesCollectionView::popoverRequested, this,
            &KZSearchView::showPopoverForTile);

    buildControls();

    sourcesCntrl_.setPanelRunner([this](const QVariantMap& settings, KZSourcesCntrl::PanelAnswer answer) {
        QVariantMap withDelegate = settings;
        withDelegate.insert(QStringLiteral("delegate"), QVariant::fromValue<QObject*>(this));
        KZInterfaceUtilities::sharedControl().askForDirectories(
            [answer](const QVariant& response, const QVariant& context) {
                std::vector<std::filesystem::path> chosen;
                for (const QVariant& url : context.toList())
                    chosen.push_back(KZFilesUtilities::pathFromFileURL(url.toUrl()));
                answer(response.toInt() == 1 ? 1 : 0, chosen);
            },
            withDelegate);
    });
    sourcesCntrl_.observeAddSourcesAction();
    platform::NotificationCenter::defaultCenter().addObserver(
        this, KZNotification::newSearch, platform::NotificationObject(static_cast<const void*>(this)),
        [this](const platform::Notification&) {
            platform::runOnMain([guard = QPointer<KZSearchView>(this)] {
                if (guard)
                    guard->newSearch();
            });
        });
    initializeVariables();
}

KZSearchView::~KZSearchView()
{
    platform::NotificationCenter::defaultCenter().removeObserver(this);
    sourcesCntrl_.setView(nullptr);
}

void KZSearchView::buildControls()
{
    registerSwitchImages();
    scanView_ = new QWidget(this);
    auto* row = new QHBoxLayout(scanView_);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(8);
    filesTxt_ = new QLabel(platform::localizedString(QStringLiteral("files_switch_label")));
    toggleBtn_ = new KZThemeImageSwitchButton(QStringLiteral("searchTypeSwitchOn"), QStringLiteral("searchTypeSwitchOff"));
    toggleBtn_->setObjectName(QStringLiteral("searchTypeSwitch"));
    // Reached with Tab like Start and Start Over; a click leaves the focus
    // where it was, as on the round window's other controls.
    toggleBtn_->setFocusPolicy(Qt::TabFocus);
    KZFocusRing::onlyFromTheKeyboard(toggleBtn_);
    foldersTxt_ = new QLabel(platform::localizedString(QStringLiteral("folders_switch_label")));
    startButton_ = new QPushButton(platform::localizedString(QStringLiteral("start_button")));
    startButton_->setObjectName(QStringLiteral("startBtn"));
    startButton_->setDefault(true);
    startButton_->setMinimumWidth(96);
    startButton_->setStyleSheet(QStringLiteral(
        "QPushButton { color: white; background: #3d6fc4; border: 1px solid #2a4f8f; border-radius: 12px;"
        " padding: 4px 18px; font-weight: 600; }"
        "QPushButton:pressed { background: #2f5aa3; }"
        // A ring in the focus colour would hardly show on the button's blue.
        " QPushButton:focus { border: 2px solid white; border-radius: 12px; }"));
    row->addWidget(filesTxt_);
    row->addWidget(toggleBtn_);
    row->addWidget(foldersTxt_);
    row->addSpacing(14);
    row->addWidget(startButton_);
    scanView_->adjustSize();
    scanView_->move(viewSide / 2 - scanView_->width() / 2, viewSide - kStartGroupY - scanView_->height());
    connect(startButton_, &QPushButton::clicked, this, &KZSearchView::startClicked);
    connect(toggleBtn_, &QAbstractButton::clicked, this, [this] {
        const int state = toggleBtn_->state();
        const QString black = QStringLiteral("color: black;");
        const QString grey = QStringLiteral("color: rgb(77, 77, 77);");
        filesTxt_->setStyleSheet(state != 1 ? black : grey);
        foldersTxt_->setStyleSheet(state == 1 ? black : grey);
        Q_EMIT toggleChanged(state);
    });
    filesTxt_->setStyleSheet(QStringLiteral("color: black;"));
    foldersTxt_->setStyleSheet(QStringLiteral("color: rgb(77, 77, 77);"));

    resetBtn_ = new QPushButton(platform::localizedString(QStringLiteral("start_over_button")), this);
    resetBtn_->setObjectName(QStringLiteral("resetBtn"));
    resetBtn_->setFocusPolicy(Qt::TabFocus);
    KZFocusRing::onlyFromTheKeyboard(resetBtn_);
    resetBtn_->setStyleSheet(QStringLiteral(
        "QPushButton { color: white; background: rgba(0,0,0,90); border: 1px solid rgba(255,255,255,90);"
        " border-radius: 10px; padding: 2px 12px; }"
        "QPushButton:pressed { background: rgba(0,0,0,140); }") + KZFocusRing::pushButtonRule(resetBtn_, 10));
    resetBtn_->adjustSize();
    resetBtn_->move(viewSide / 2 - resetBtn_->width() / 2, viewSide - kResetButtonY - resetBtn_->height());
    connect(resetBtn_, &QPushButton::clicked, this, &KZSearchView::resetAction);

    closeBtn_ = new QPushButton(QStringLiteral("×"), this);
    closeBtn_->setObjectName(QStringLiteral("searchCloseBtn"));
    closeBtn_->setFocusPolicy(Qt::NoFocus);
    closeBtn_->setToolTip(platform::localizedString(QStringLiteral("close_search_window")));
    closeBtn_->setFixedSize(22, 22);
    closeBtn_->setStyleSheet(QStringLiteral(
        "QPushButton { color: rgb(40,40,40); background: rgb(232,232,232); border: 1px solid rgba(0,0,0,80);"
        " border-radius: 11px; font-weight: bold; padding: 0; }"
        "QPushButton:hover { background: rgb(250,120,110); }"));
    closeBtn_->move(74, 74);
    connect(closeBtn_, &QPushButton::clicked, this, &KZSearchView::closeClicked);
    // Beside the close button, a little further along the rim.
    menuBtn_ = KZMenuSet::shared().makeMenuButton(this, 22);
    menuBtn_->move(106, 47);

    for (QWidget* control : {scanView_, static_cast<QWidget*>(resetBtn_)}) {
        setWidgetOpacity(control, 0.0);
        control->hide();
    }
}

void KZSearchView::initializeVariables()
{
    itemsAddedFromAddBtn_ = false;
    sourcesView_->setItemsAddedFromAddBtn(false);
    itemsToDropEntered_ = 0;
    addedItems_ = 0;
    sourcesView_->setAddedItems(0);
    sourcesView_->setAddButtonCircleRadius(0.0);
    addBtnView_->setWasActiveWhenEntered(false);
    addBtnView_->setItemsAddedViaDialogPanel(false);
    addBtnView_->setIsResetting(false);
    chosenItems_.clear();
    dropPending_ = false;
}

void KZSearchView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    KZDrawRoundGradientBackground(painter);
}

// ---- Adding ----

void KZSearchView::animateAddedItems(const std::vector<std::filesystem::path>& paths)
{
    switch (phase_) {
    case Phase::LaidOut:
        sourcesCntrl_.addChosenItems(paths);
        return;
    case Phase::Empty:
        chosenItems_ = paths;
        startFirstItemsAnimation(static_cast<int>(paths.size()));
        return;
    default:
        // The layout is changing: these wait for its end with the others.
        chosenItems_.insert(chosenItems_.end(), paths.begin(), paths.end());
        return;
    }
}

void KZSearchView::showSavedSources(const std::vector<KZSourceItemRef>& sources)
{
    if (sources.empty())
        return;
    // Listed now: the search request of the reopened result is built from
    // them before the layout has ended.
    sourcesCntrl_.addSavedSources(sources);
    showCollection();
    if (phase_ == Phase::Empty)
        startFirstItemsAnimation(static_cast<int>(sources.size()));
}

void KZSearchView::startFirstItemsAnimation(int count)
{
    addedItems_ += count;
    sourcesView_->setAddedItems(addedItems_);
    itemsAddedFromAddBtn_ = true;
    sourcesView_->setItemsAddedFromAddBtn(true);
    addBtnView_->setMovePlusSignIsAnimating(true);
    addBtnView_->setItemsAddedViaDialogPanel(true);
    addBtnView_->setCrossYIntermediate(addBtnView_->yUpOrigin());
    startHintFade(false, true);
}

void KZSearchView::animateDroppedItems(const std::vector<std::filesystem::path>& paths)
{
    addedItems_ += static_cast<int>(paths.size());
    sourcesView_->setAddedItems(addedItems_);
    switch (phase_) {
    case Phase::LaidOut:
        sourcesCntrl_.addChosenItems(paths);
        return;
    case Phase::WaitingForDrop:
        chosenItems_ = paths;
        runSlideIn();
        return;
    case Phase::Empty:
        // A drop without an enter first (synthesised): run the whole chain.
        chosenItems_ = paths;
        dropPending_ = true;
        startHintFade(false, false);
        return;
    default:
        chosenItems_.insert(chosenItems_.end(), paths.begin(), paths.end());
        dropPending_ = true;
        return;
    }
}

void KZSearchView::enterDrop(bool entering)
{
    if (entering) {
        ++itemsToDropEntered_;
        if (phase_ == Phase::Empty && itemsToDropEntered_ == 1)
            startHintFade(false, false);
        return;
    }
    itemsToDropEntered_ = std::max(0, itemsToDropEntered_ - 1);
    if (itemsToDropEntered_ > 0 || dropPending_)
        return;
    // The drag left before anything was dropped: back to the empty window.
    switch (phase_) {
    case Phase::HintFadingOut:
        textFadeTimer_.stop();
        startHintFade(true, false);
        break;
    case Phase::SourcesMoving:
    case Phase::WaitingForDrop:
        if (animation_)
            animation_->stop();
        runSourcesMove(false);
        break;
    default:
        break;
    }
}

void KZSearchView::startHintFade(bool fadeIn, bool fast)
{
    hintFadeIn_ = fadeIn;
    firedTimes_ = 0.0;
    setPhase(fadeIn ? Phase::HintFadingIn : Phase::HintFadingOut);
    if (fadeIn)
        bottomTextView_->show();
    textFadeTimer_.disconnect();
    connect(&textFadeTimer_, &QTimer::timeout, this, &KZSearchView::hintTick);
    textFadeTimer_.start(fast ? 0 : KZAnimationTiming::milliseconds(kFadeStepSeconds));
}

void KZSearchView::hintTick()
{
    firedTimes_ += 0.1;
    if (firedTimes_ <= 1.0 + 1e-9) {
        bottomTextView_->lowTextColorwithAlpha(hintFadeIn_ ? firedTimes_ : 1.0 - firedTimes_);
        return;
    }
    textFadeTimer_.stop();
    if (!hintFadeIn_) {
        runSourcesMove(true);
        return;
    }
    upperTextView_->lowTextColorwithAlpha(1.0);
    bottomTextView_->lowTextColorwithAlpha(1.0);
    setPhase(Phase::Empty);
    initializeVariables();
    postReady();
    Q_EMIT resetDidEnd();
}

void KZSearchView::runSourcesMove(bool forward)
{
    setPhase(forward ? Phase::SourcesMoving : Phase::SourcesMovingBack);
    const bool moveButton = !itemsAddedFromAddBtn_;
    const QRect sourcesFrom = forward ? sourcesView_->parkedFrame() : sourcesView_->geometry();
    const QRect sourcesTo = forward ? sourcesView_->shownFrame() : sourcesView_->parkedFrame();
    const QRect buttonFrom = addBtnView_->geometry();
    const QRect buttonTo = forward ? addBtnView_->originalRect().translated(0, -kDropMoveUp) : addBtnView_->originalRect();
    auto* animation = new QVariantAnimation(this);
    animation->setDuration(KZAnimationTiming::milliseconds(kSourcesMoveSeconds));
    animation->setStartValue(0.0);
    animation->setEndValue(1.0);
    connect(animation, &QVariantAnimation::valueChanged, this, [=, this](const QVariant& value) {
        const double p = value.toDouble();
        sourcesView_->setGeometry(lerp(sourcesFrom, sourcesTo, p));
        if (moveButton)
            addBtnView_->setGeometry(lerp(buttonFrom, buttonTo, p));
    });
    connect(animation, &QVariantAnimation::finished, this, [this, forward] {
        if (!forward) {
            startHintFade(true, false);
            return;
        }
        if (itemsAddedFromAddBtn_ || dropPending_) {
            runSlideIn();
            return;
        }
        setPhase(Phase::WaitingForDrop);
    });
    animation_ = animation;
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

void KZSearchView::runSlideIn()
{
    setPhase(Phase::SlidingIn);
    dropPending_ = false;
    if (!itemsAddedFromAddBtn_)
        addBtnView_->setCrossYIntermediate(addBtnView_->yUpOrigin());
    addBtnView_->setMovePlusSignIsAnimating(true);
    slideSources(sourcesView_->shownFrame(), false, [this] { fadeControls(true); });
}

void KZSearchView::slideSources(const QRect& to, bool reset, std::function<void()> done)
{
    const QRect from = sourcesView_->geometry();
    auto* animation = new QVariantAnimation(this);
    animation->setDuration(KZAnimationTiming::milliseconds(kSlideSeconds));
    animation->setStartValue(0.0);
    animation->setEndValue(1.0);
    connect(animation, &QVariantAnimation::valueChanged, this, [=, this](const QVariant& value) {
        double p = value.toDouble();
        if (p > 0.9)
            p = 1.0;
        sourcesView_->setGeometry(lerp(from, to, p));
        updateFadingObjects(p, reset);
    });
    connect(animation, &QVariantAnimation::finished, this, [this, reset, done = std::move(done)] {
        updateFadingObjects(1.0, reset);
        done();
    });
    animation_ = animation;
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

void KZSearchView::updateFadingObjects(double p, bool reset)
{
    sourcesView_->setAddButtonCircleRadius(reset ? 48.0 * (1.0 - p) : 48.0 * p);
    if (reset)
        sourcesView_->setAddedItems(p < 1.0 ? 1 : 0);
    addBtnView_->setCrossComponentColor(reset ? 1.0 - p : p);
    addBtnView_->setupForFirstAddedItem(!reset, p);
    upperTextView_->lowTextColorwithAlpha(reset ? p : 1.0 - p);
}

void KZSearchView::fadeControls(bool in)
{
    setPhase(in ? Phase::FadingInControls : Phase::FadingOutControls);
    fadeIn_ = in;
    fadeViewsFiredTimes_ = 0.0;
    if (in) {
        scanView_->show();
        resetBtn_->show();
    }
    fadeViewsTimer_.disconnect();
    connect(&fadeViewsTimer_, &QTimer::timeout, this, &KZSearchView::fadeTick);
    fadeViewsTimer_.start(KZAnimationTiming::milliseconds(kFadeStepSeconds));
}

void KZSearchView::fadeTick()
{
    fadeViewsFiredTimes_ += 0.5;
    const double value = std::min(fadeViewsFiredTimes_, 1.0);
    for (QWidget* control : {scanView_, static_cast<QWidget*>(resetBtn_)})
        setWidgetOpacity(control, fadeIn_ ? value : 1.0 - value);
    if (fadeViewsFiredTimes_ <= 1.0)
        return;
    fadeViewsTimer_.stop();
    if (!fadeIn_) {
        scanView_->hide();
        resetBtn_->hide();
        runReset();
        return;
    }
    layoutCompleted();
}

void KZSearchView::layoutCompleted()
{
    setPhase(Phase::LaidOut);
    itemsAddedFromAddBtn_ = false;
    sourcesView_->setItemsAddedFromAddBtn(false);
    addBtnView_->setItemsAddedViaDialogPanel(false);
    handOverChosenItems();
    setFocus();
}

void KZSearchView::handOverChosenItems()
{
    const auto items = std::move(chosenItems_);
    chosenItems_.clear();
    sourcesCntrl_.addChosenItems(items);
    if (sourcesCntrl_.sources().empty())
        resetAction(); // nothing could be added: no empty row of tiles
}

// ---- Reset ----

void KZSearchView::resetAction()
{
    if (phase_ == Phase::Empty) {
        sourcesCntrl_.setCollectionEmpty();
        return;
    }
    if (phase_ != Phase::LaidOut)
        return; // the chain is moving; a reset would fight it
    addBtnView_->setIsResetting(true);
    addBtnView_->setCrossYIntermediate(addBtnView_->yUpOrigin());
    fadeControls(false);
    addBtnView_->setFocus();
}

void KZSearchView::resetSearchView()
{
    resetAction();
}

void KZSearchView::runReset()
{
    setPhase(Phase::Resetting);
    slideSources(sourcesView_->parkedFrame(), true, [this] {
        addBtnView_->setGeometry(addBtnView_->originalRect());
        sourcesCntrl_.setCollectionEmpty();
        startHintFade(true, false);
    });
}

void KZSearchView::newSearch()
{
    if (phase_ == Phase::Empty) {
        postReady();
        return;
    }
    resetAction();
}

void KZSearchView::postReady()
{
    auto& center = platform::NotificationCenter::defaultCenter();
    center.post(QStringLiteral("readyToStartToOpenFile"), platform::NotificationObject(platform::bundleIdentifier()));
    center.post(QStringLiteral("newSearchIsReady"), platform::NotificationObject(platform::bundleIdentifier()));
}

// ---- Tiles ----

void KZSearchView::showCollection()
{
    auto* collection = sourcesView_->collection();
    collection->show();
    collection->adjustSizeAnimating(false);
}

void KZSearchView::hideCollection()
{
    sourcesView_->collection()->hide();
}

void KZSearchView::addTiles(const std::vector<KZSourceTile>& tiles, bool animate)
{
    sourcesView_->collection()->setContent(tiles, animate);
}

void KZSearchView::removeTile(const KZSourceItemRef& source)
{
    sourcesView_->collection()->removeItemWithSourceItem(source);
}

void KZSearchView::clearTiles()
{
    sourcesView_->collection()->setCollectionEmpty();
}

void KZSearchView::showPopoverForTile(KZCSourceView* tile)
{
    if (!popoverCntrl_)
        popoverCntrl_ = new KZSourcePopoverCntrl(this);
    popoverCntrl_->setSourceItem(tile->tile().source);
    popoverCntrl_->showPopoverWitView(tile);
}

// ---- Keys, mouse, drops ----

void KZSearchView::keyPressEvent(QKeyEvent* event)
{
    if (addBtnView_->performKeyEquivalent(event->key()))
        return;
    // Once the sources are laid out Start is the window's default button,
    // drawn so: Return and Enter press it, as in a dialog.
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && isLaidOut()
        && startButton_->isVisible() && startButton_->isEnabled()) {
        startButton_->click();
        return;
    }
    QWidget::keyPressEvent(event);
}

void KZSearchView::mousePressEvent(QMouseEvent* event)
{
    // The round window moves by a drag on its background.
    windowDrag_.press(window(), *event);
}

void KZSearchView::mouseMoveEvent(QMouseEvent* event)
{
    if (!windowDrag_.move(*event))
        QWidget::mouseMoveEvent(event);
}

void KZSearchView::mouseReleaseEvent(QMouseEvent* event)
{
    if (!windowDrag_.release(*event))
        QWidget::mouseReleaseEvent(event);
}

void KZSearchView::hideEvent(QHideEvent* event)
{
    windowDrag_.cancel();
    QWidget::hideEvent(event);
}

std::vector<std::filesystem::path> KZSearchView::acceptablePaths(const QList<QUrl>& urls) const
{
    std::vector<std::filesystem::path> accepted;
    const auto& files = KZFilesUtilities::sharedControl();
    for (auto it = urls.rbegin(); it != urls.rend(); ++it) {
        if (!it->isLocalFile())
            continue;
        const std::filesystem::path path = KZFilesUtilities::pathFromFileURL(*it);
        const auto info = files.fastDirectoryInfoForPath(path);
        if (!info)
            continue;
        const QVariant infoPath = info->value(QStringLiteral("path"));
        const std::filesystem::path sourcePath =
            infoPath.canConvert<std::filesystem::path>() ? infoPath.value<std::filesystem::path>() : path;
        if (sourcePath.empty() || sourcesCntrl_.isAlreadyLoaded(sourcePath) ||
            std::find(accepted.begin(), accepted.end(), sourcePath) != accepted.end())
            continue;
        accepted.push_back(sourcePath);
    }
    std::reverse(accepted.begin(), accepted.end());
    return accepted;
}

void KZSearchView::dragEnterEvent(QDragEnterEvent* event)
{
    refusedForLimit_ = false;
    if (!event->mimeData()->hasUrls()) {
        event->ignore();
        return;
    }
    const auto paths = acceptablePaths(event->mimeData()->urls());
    if (paths.empty()) {
        event->ignore();
        return;
    }
    if (paths.size() + sourcesCntrl_.sources().size() + chosenItems_.size() <= KZSourcesCntrl::maxSources) {
        dropHighlight_ = true;
        update();
        QApplication::setOverrideCursor(Qt::DragCopyCursor);
        enterDrop(true);
        event->setDropAction(Qt::CopyAction);
        event->accept();
        return;
    }
    // Taken, but no drop is offered: the leave event still comes, and says
    // whether the user let go over the window.
    refusedForLimit_ = true;
    event->setDropAction(Qt::IgnoreAction);
    event->accept();
}

void KZSearchView::dragMoveEvent(QDragMoveEvent* event)
{
    if (!dropHighlight_ || refusedForLimit_) {
        event->ignore();
        return;
    }
    sourcesView_->setDashPhase(sourcesView_->dashPhase() + 1.0);
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void KZSearchView::dragLeaveEvent(QDragLeaveEvent*)
{
    if (refusedForLimit_) {
        refusedForLimit_ = false;
        // The drop was let go over the window: say why nothing happened.
        const bool inside = rect().contains(mapFromGlobal(QCursor::pos()));
        if (inside && QApplication::mouseButtons() == Qt::NoButton)
            KZErrorDelegate::sharedControl().showError(QStringLiteral("sources_limit_reached"));
        return;
    }
    if (!dropHighlight_)
        return;
    dropHighlight_ = false;
    QApplication::restoreOverrideCursor();
    enterDrop(false);
    update();
}

void KZSearchView::dropEvent(QDropEvent* event)
{
    const auto paths = acceptablePaths(event->mimeData()->urls());
    if (dropHighlight_) {
        dropHighlight_ = false;
        QApplication::restoreOverrideCursor();
    }
    itemsToDropEntered_ = 0;
    sourcesView_->setDashPhase(0.0);
    if (paths.empty() || paths.size() + sourcesCntrl_.sources().size() + chosenItems_.size() > KZSourcesCntrl::maxSources) {
        event->ignore();
        if (phase_ != Phase::LaidOut && !dropPending_ && chosenItems_.empty())
            enterDrop(false);
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
    animateDroppedItems(paths);
    update();
}
