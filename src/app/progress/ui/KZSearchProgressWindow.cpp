#include "app/progress/ui/KZSearchProgressWindow.h"

#include "app/progress/KZProgressRingGeometry.h"
#include "app/progress/KZSearchProgressCore.h"
#include "app/progress/ui/KZProgressCloseButton.h"
#include "app/progress/ui/KZProgressTabs.h"
#include "app/progress/ui/KZSearchProgress.h"
#include "app/progress/ui/KZSearchProgressCenterView.h"
#include "app/progress/ui/KZSearchProgressExtraInfoCntrl.h"
#include "app/progress/ui/KZSearchProgressFoldersInfoCntrl.h"
#include "app/progress/ui/KZSearchProgressView.h"
#include "app/ui/KZMaravexApp.h"
#include "app/ui/KZWindowFlipAnimator.h"
#include "platform/NotificationCenter.h"
#include "settings/KZNotificationNames.h"
#include "platform/StringTable.h"
#include "services/ui/KZAnimationTiming.h"
#include "services/ui/KZFocusRing.h"
#include "services/ui/KZMenuSet.h"
#include "services/ui/KZWindowPlacement.h"
#include "services/ui/KZProgressImageView.h"
#include "services/ui/KZWindowBackgrounds.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QMenu>
#include <QToolButton>
#include <QGraphicsOpacityEffect>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QTimer>
#include <QWindow>
#include <QVariantAnimation>

namespace {

constexpr double kEndFadeSeconds = 0.25;
constexpr double kOfferFadeSeconds = 0.5;
constexpr int kMenuButtonSide = 22;
constexpr double kMenuButtonGap = 20;

QString localized(const char* key)
{
    return platform::localizedString(QString::fromLatin1(key));
}

QLabel* makeLabel(QWidget* parent, const char* name, qreal pointSize, QFont::Weight weight, const QColor& colour,
                  Qt::Alignment alignment)
{
    auto* label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    QFont font = QApplication::font();
    font.setPointSizeF(pointSize);
    font.setWeight(weight);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
    label->setAlignment(alignment);
    label->setTextFormat(Qt::PlainText);
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    return label;
}

QGraphicsOpacityEffect* opacityEffect(QWidget* widget)
{
    auto* effect = qobject_cast<QGraphicsOpacityEffect*>(widget->graphicsEffect());
    if (!effect) {
        effect = new QGraphicsOpacityEffect(widget);
        effect->setOpacity(1.0);
        widget->setGraphicsEffect(effect);
    }
    return effect;
}

// The disc's push buttons: flat, rounded, in the disc's greys.
const char* const kButtonStyle = R"(
QPushButton { color: #2b3039; background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #fbfcfd, stop:1 #dfe3ea);
  border: 1px solid #9aa3b1; border-radius: 6px; padding: 3px 14px; }
QPushButton:hover { background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #ffffff, stop:1 #e8ecf2); }
QPushButton:pressed { background: #cfd5de; }
QPushButton:disabled { color: #8b919b; border-color: #c0c6cf; }
)";

} // namespace

KZSearchProgressWindow::KZSearchProgressWindow(KZSearchProgress& controller, QWidget* searchView)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint), controller_(controller), searchView_(searchView)
{
    setObjectName(QStringLiteral("progressWindow"));
    setWindowTitle(QApplication::applicationDisplayName());
    setAttribute(Qt::WA_TranslucentBackground);
    if (searchView)
        side_ = std::max(searchView->width(), searchView->height()) > 0 ? searchView->width() : kDefaultSide;
    if (side_ < kDiscSide + 40)
        side_ = kDefaultSide;
    build();
    // The ring grows only once the flip has put this window in front; a
    // hide requested meanwhile wins.
    platform::NotificationCenter::defaultCenter().addObserver(
        this, KZNotification::flipAnimationDidEnd, platform::NotificationObject(static_cast<const void*>(this)),
        [this](const platform::Notification&) {
            if (isShowWindow_)
                enlargeRing(true);
        });
}

KZSearchProgressWindow::~KZSearchProgressWindow()
{
    platform::NotificationCenter::defaultCenter().removeObserver(this);
}

void KZSearchProgressWindow::build()
{
    resize(side_, side_);
    // The sheet takes the style's mark of the focus away: the ring puts it
    // back.
    setStyleSheet(QString::fromLatin1(kButtonStyle) + KZFocusRing::pushButtonRule(this, 6));

    // The ring first: it lies under the main view.
    tabs_ = new KZProgressTabs(this);
    tabs_->setGeometry(0, 0, side_ + int(KZProgressRingGeometry::kEnlargeWidth),
                       side_ + int(KZProgressRingGeometry::kEnlargeHeight));
    tabs_->setRingCentre(QPointF(side_ / 2.0, side_ / 2.0));
    connect(tabs_, &KZProgressTabs::tabsChanged, this, [this] { updateMask(); });

    mainView_ = new KZSearchProgressView(this);
    mainView_->setGeometry(0, 0, side_, side_);

    auto* centre = new KZSearchProgressCenterView(mainView_);
    centre->setSearchRunningProvider([this] { return controller_.isSearching(); });
    centreView_ = centre;
    centreView_->setGeometry(side_ / 2 - kDiscSide / 2, side_ / 2 - kDiscSide / 2, kDiscSide, kDiscSide);

    // The disc of the progress image is centred on the painted disc.
    progressImage_ = new KZProgressImageView(centreView_);
    progressImage_->setObjectName(QStringLiteral("progressImageView"));
    progressImage_->setGeometry(16, 18, 316, 316);
    progressImage_->setAttribute(Qt::WA_TransparentForMouseEvents);

    const QColor titleColour = QColor::fromRgbF(0.2f, 0.22f, 0.26f);
    const QColor captionColour = QColor::fromRgbF(0.36f, 0.39f, 0.44f);
    mainInfoFld_ = makeLabel(centreView_, "mainInfoFld", 16, QFont::Light, titleColour, Qt::AlignCenter);
    mainInfoFld_->setGeometry(69, 84, 210, 24);

    const char* captionKeys[] = {"items_to_check", "checked_items", "found_items", "found_size"};
    const char* valueNames[] = {"itemsToCheckFld", "checkedFld", "itemsFoundFld", "sizeFoundFld"};
    const char* captionNames[] = {"itemsToCheckTxt", "checkedTxt", "itemsFoundTxt", "sizeFoundTxt"};
    for (int i = 0; i < 4; ++i) {
        const int y = 118 + i * 20;
        captions_[i] = makeLabel(centreView_, captionNames[i], 11, QFont::Normal, captionColour,
                                 Qt::AlignRight | Qt::AlignVCenter);
        captions_[i]->setGeometry(30, y, 146, 18);
        captions_[i]->setText(localized(captionKeys[i]));
        values_[i] = makeLabel(centreView_, valueNames[i], 12, QFont::DemiBold, titleColour,
                               Qt::AlignLeft | Qt::AlignVCenter);
        values_[i]->setGeometry(184, y, 104, 18);
        values_[i]->setText(QStringLiteral("0"));
    }
    for (int i = 0; i < 3; ++i)
        savedCaptions_[i] = captions_[i]->text();

    stopBtn_ = new QPushButton(localized("stop_button"), centreView_);
    stopBtn_->setObjectName(QStringLiteral("stopButton"));
    stopBtn_->adjustSize();
    const int stopY = 262 - (localized("language") == QLatin1String("fr") ? 5 : 0);
    stopBtn_->move(kDiscSide / 2 - 1 - stopBtn_->width() / 2, stopY);
    connect(stopBtn_, &QPushButton::clicked, this, [this] { controller_.stopAction(); });

    showResultBtn_ = new QPushButton(localized("show_result_button"), centreView_);
    showResultBtn_->setObjectName(QStringLiteral("showResultButton"));
    showResultBtn_->adjustSize();
    // Centred on the stop button.
    showResultBtn_->move(stopBtn_->x() + stopBtn_->width() / 2 - showResultBtn_->width() / 2, 262);
    showResultBtn_->setDefault(true);
    connect(showResultBtn_, &QPushButton::clicked, this, [this] { controller_.showResultAction(); });

    resetBtn_ = new QPushButton(localized("new_search_button"), mainView_);
    resetBtn_->setObjectName(QStringLiteral("resetButton"));
    resetBtn_->adjustSize();
    resetBtn_->move(side_ / 2 - resetBtn_->width() / 2, 68 - resetBtn_->height() / 2);
    connect(resetBtn_, &QPushButton::clicked, this, [this] { controller_.resetAction(); });

    closeBtn_ = new KZProgressCloseButton(mainView_);
    // On the rim, up and to the left, as a round window's close button sits.
    const double rim = side_ / 2.0 - 44;
    closeBtn_->move(int(side_ / 2.0 - rim * 0.7071 - 8), int(side_ / 2.0 - rim * 0.7071 - 8));
    connect(closeBtn_, &QAbstractButton::clicked, this, [this] { controller_.closeAction(); });
    // The program's menus, beside the close button along the rim: as large
    // as the search window's, and far enough from the close button that
    // neither is hit for the other.
    menuBtn_ = KZMenuSet::shared().makeMenuButton(mainView_, kMenuButtonSide);
    const QPointF menuCentre =
        KZProgressRingGeometry::besideOnRim(QPointF(side_ / 2.0, side_ / 2.0), QRectF(closeBtn_->geometry()).center(),
                                            closeBtn_->width(), kMenuButtonSide, kMenuButtonGap);
    menuBtn_->move((menuCentre - QPointF(kMenuButtonSide / 2.0, kMenuButtonSide / 2.0)).toPoint());

    // The panels sit between the size field and the buttons.
    extraInfo_ = new KZSearchProgressExtraInfoCntrl(centreView_);
    foldersInfo_ = new KZSearchProgressFoldersInfoCntrl(centreView_);
    const int panelTop = values_[3]->geometry().bottom() + 4;
    const int panelBottom = showResultBtn_->y() - 2;
    for (QWidget* panel : {extraInfo_->infoView(), foldersInfo_->infoView()})
        panel->setGeometry(59, panelTop, 230, panelBottom - panelTop);

    tabs_->lower();
    reinitializeWindow();
    updateMask();
}

void KZSearchProgressWindow::updateMask()
{
    // Without a compositor the window's shape comes only from its mask.
    QRegion region(QRect(2, 2, side_ - 4, side_ - 4), QRegion::Ellipse);
    if (enlarged_)
        region += tabs_->tabsRegion().translated(tabs_->pos());
    setMask(region);
}

double KZSearchProgressWindow::alphaOf(const QWidget* widget)
{
    if (!widget->isVisible() && widget->isHidden())
        return 0.0;
    const auto* effect = qobject_cast<const QGraphicsOpacityEffect*>(widget->graphicsEffect());
    return effect ? effect->opacity() : 1.0;
}

void KZSearchProgressWindow::fade(QWidget* widget, double alpha, bool hideAtEnd, double seconds,
                                  std::function<void()> done)
{
    QGraphicsOpacityEffect* effect = opacityEffect(widget);
    if (alpha > 0)
        widget->show();
    // Nobody watches a hidden window fade: it takes its end state at once,
    // so that it comes up whole (a reopened result's progress window, which
    // the result comes up from as soon as it is shown).
    if (!isVisible()) {
        effect->setOpacity(alpha);
        if (hideAtEnd)
            widget->hide();
        if (done)
            done();
        return;
    }
    auto* animation = new QVariantAnimation(widget);
    animation->setStartValue(effect->opacity());
    animation->setEndValue(alpha);
    animation->setDuration(KZAnimationTiming::milliseconds(seconds));
    connect(animation, &QVariantAnimation::valueChanged, effect,
            [effect](const QVariant& value) { effect->setOpacity(value.toDouble()); });
    QPointer<QWidget> target(widget);
    connect(animation, &QVariantAnimation::finished, widget, [target, hideAtEnd, done = std::move(done)] {
        if (target && hideAtEnd)
            target->hide();
        if (done)
            done();
    });
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

void KZSearchProgressWindow::setCloseEnabled(bool enabled)
{
    closeBtn_->setEnabled(enabled);
}

void KZSearchProgressWindow::reinitializeWindow()
{
    opacityEffect(stopBtn_)->setOpacity(1.0);
    stopBtn_->show();
    opacityEffect(mainInfoFld_)->setOpacity(1.0);
    mainInfoFld_->show();
    for (QWidget* hidden : {static_cast<QWidget*>(showResultBtn_), static_cast<QWidget*>(resetBtn_)}) {
        opacityEffect(hidden)->setOpacity(0.0);
        hidden->hide();
    }
    showResultBtn_->setEnabled(true);
    setCloseEnabled(false);
}

// ---- Display --------------------------------------------------------------------------

void KZSearchProgressWindow::resetForNewSearch()
{
    reinitializeWindow();
    tabs_->initializeForNewSearch();
    progressImage_->stopAnimation();
    progressImage_->setIsInderminate(true, false);
    progressImage_->setPercentageValue(0);
    for (int i = 0; i < 3; ++i)
        captions_[i]->setText(savedCaptions_[i]);
    for (QLabel* value : values_)
        value->setText(QStringLiteral("0"));
    foldersInfo_->show(false);
    centreView_->update();
}

void KZSearchProgressWindow::showWindow()
{
    isShowWindow_ = true;
    QWidget* searchWindow = searchView_ ? searchView_->window() : nullptr;
    if (searchWindow && searchWindow != this && searchWindow->isVisible()) {
        auto& flip = KZWindowFlipAnimator::sharedWindowFlipAnimator();
        // The flip turns away whichever window it holds as the front one;
        // with none showing, the search window is the one being replaced.
        QWidget* front = flip.currentWindow();
        if (!flip.isFlipping() && (!front || !front->isVisible()))
            flip.flipToWindow(searchWindow, 3);
        flip.flipToWindow(this, 3);
        if (flip.isFlipping() || isVisible())
            return;
    }
    // Nothing to turn away from: appear in place at once.
    if (searchWindow && searchWindow != this)
        move(searchWindow->pos());
    KZWindowPlacement::keepOnScreen(this);
    show();
    raise();
    activateWindow();
    if (searchWindow && searchWindow != this)
        searchWindow->hide();
    if (isShowWindow_)
        enlargeRing(true);
}

void KZSearchProgressWindow::hideWindow()
{
    isShowWindow_ = false;
    tabs_->initializeForNewSearch();
    enlargeRing(false);
    QWidget* searchWindow = searchView_ ? searchView_->window() : nullptr;
    if (searchWindow && searchWindow != this) {
        auto& flip = KZWindowFlipAnimator::sharedWindowFlipAnimator();
        QWidget* front = flip.currentWindow();
        if (!flip.isFlipping() && isVisible() && front != this && (!front || !front->isVisible())) {
            flip.flipToWindow(this, 2);
            front = this;
        }
        // A flip still turning this window in must finish before the search
        // window can be turned back; it is queued behind it.
        if (flip.isFlipping() || (front == this && isVisible())) {
            flip.flipToWindow(searchWindow, 2);
            return;
        }
    }
    if (searchWindow && searchWindow != this) {
        searchWindow->move(pos());
        searchWindow->show();
        searchWindow->raise();
        searchWindow->activateWindow();
    }
    hide();
}

void KZSearchProgressWindow::setFieldText(Field field, const QString& text)
{
    values_[static_cast<int>(field)]->setText(text);
}

void KZSearchProgressWindow::setTitleText(const QString& text)
{
    mainInfoFld_->setText(text);
    adjustFont();
}

void KZSearchProgressWindow::adjustFont()
{
    QFont font = mainInfoFld_->font();
    font.setWeight(QFont::Light);
    font.setPointSizeF(16);
    // A long title steps down to 14 points rather than being cut.
    if (QFontMetricsF(font).horizontalAdvance(mainInfoFld_->text()) + 20 > mainInfoFld_->width())
        font.setPointSizeF(14);
    mainInfoFld_->setFont(font);
}

void KZSearchProgressWindow::setFolderCaptions()
{
    const char* keys[] = {"folders_to_check", "checked_folders", "folders_found"};
    for (int i = 0; i < 3; ++i) {
        QLabel* caption = captions_[i];
        const QString text = localized(keys[i]);
        fade(caption, 0.0, false, kEndFadeSeconds, [this, caption, text] {
            caption->setText(text);
            fade(caption, 1.0, false, kEndFadeSeconds);
        });
    }
}

void KZSearchProgressWindow::startIndeterminateAnimation()
{
    progressImage_->startIndeterminateAnimation();
}

void KZSearchProgressWindow::setDeterminate()
{
    progressImage_->setIsInderminate(false, true);
}

void KZSearchProgressWindow::setPercentage(double percent)
{
    progressImage_->setPercentageValue(percent);
    progressImage_->updateDeterminateProgress();
}

void KZSearchProgressWindow::stopProgressAnimation()
{
    progressImage_->stopAnimation();
}

void KZSearchProgressWindow::showFolderView(bool show)
{
    foldersInfo_->show(show);
}

void KZSearchProgressWindow::initializeForNewFolder()
{
    foldersInfo_->initializeForNewFolder();
}

void KZSearchProgressWindow::setFolderCurrent(const QString& text)
{
    foldersInfo_->setCurrent(text);
}

void KZSearchProgressWindow::setFolderTotals(const QString& total, const QString& size)
{
    foldersInfo_->setTotals(total, size);
}

void KZSearchProgressWindow::updateTabs(const KZFileTypeSnapshot& types)
{
    tabs_->updateTabsStatus(types);
}

void KZSearchProgressWindow::closeExtraInfo()
{
    extraInfo_->hideView();
    extraInfo_->invalidateTimer();
}

void KZSearchProgressWindow::enlargeRing(bool enlarge)
{
    if (enlarge == enlarged_)
        return;
    enlarged_ = enlarge;
    const QRectF frame = KZProgressRingGeometry::enlargedWindowFrame(QRectF(geometry()), enlarge);
    resize(frame.size().toSize());
    updateMask();
}

void KZSearchProgressWindow::showEnd(bool valid, const KZFileTypeSnapshot& types)
{
    fade(stopBtn_, 0.0, true, kEndFadeSeconds);
    if (valid)
        fade(showResultBtn_, 1.0, false, kEndFadeSeconds);
    setCloseEnabled(true);
    foldersInfo_->show(false);
    centreView_->update();
    QPointer<KZSearchProgressWindow> self(this);
    const auto ringAtEnd = [self, types] {
        if (!self)
            return;
        if (types.size() < 2) {
            self->progressImage_->stopAnimation();
            self->controller_.core().removeObservers();
        } else {
            self->tabs_->finalUpdateTabsStatus(types);
        }
    };
    if (!isVisible())
        ringAtEnd();
    else
        QTimer::singleShot(KZAnimationTiming::milliseconds(kEndFadeSeconds), this, ringAtEnd);
}

void KZSearchProgressWindow::showPreparingResult()
{
    progressImage_->setIsInderminate(true, false);
    progressImage_->startIndeterminateAnimation();
    showResultBtn_->setEnabled(false);
}

void KZSearchProgressWindow::offerResult(const QString& endTitle)
{
    progressImage_->setIsInderminate(false, false);
    progressImage_->stopAnimation();
    showResultBtn_->setEnabled(true);
    showEndTitle(endTitle);
    fade(resetBtn_, 1.0, false, kOfferFadeSeconds);
    centreView_->update();
}

void KZSearchProgressWindow::showInvalidEnd(const QString& endTitle)
{
    progressImage_->stopAnimation();
    showEndTitle(endTitle);
    fade(resetBtn_, 1.0, false, kOfferFadeSeconds);
    centreView_->update();
}

void KZSearchProgressWindow::showEndTitle(const QString& endTitle)
{
    if (endTitle.isEmpty()) {
        fade(mainInfoFld_, 0.0, false, kOfferFadeSeconds);
        return;
    }
    setTitleText(endTitle);
    opacityEffect(mainInfoFld_)->setOpacity(1.0);
    mainInfoFld_->show();
}

// ---- Window ---------------------------------------------------------------------------

void KZSearchProgressWindow::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    KZDrawWindowBackground(painter, isActiveWindow(), QRectF(rect()), QRectF(mainView_->geometry()));
}

void KZSearchProgressWindow::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::ActivationChange) {
        update();
        // The round window has no close box of its own in the title bar: the
        // Close item must go through the same check as its button.
        if (KZMaravexApp* app = KZMaravexApp::sharedDelegate()) {
            if (isActiveWindow()) {
                QPointer<KZSearchProgressWindow> self(this);
                app->restoreCloseMenuItem(
                    false,
                    [self] {
                        if (self)
                            self->controller_.closeAction();
                    },
                    this);
            } else {
                // Handed back when another window comes to the front.
                app->windowDidResignKey(this);
            }
        }
    }
    QWidget::changeEvent(event);
}

void KZSearchProgressWindow::keyPressEvent(QKeyEvent* event)
{
    if (event->matches(QKeySequence::Close)) {
        controller_.closeAction();
        return;
    }
    // Show Result is drawn as the default button: Return and Enter press it
    // once it is offered.
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && showResultBtn_->isVisible()
        && showResultBtn_->isEnabled()) {
        showResultBtn_->click();
        return;
    }
    QWidget::keyPressEvent(event);
}

void KZSearchProgressWindow::contextMenuEvent(QContextMenuEvent* event)
{
    KZMenuSet::shared().popupMenu()->popup(event->globalPos());
    event->accept();
}

void KZSearchProgressWindow::mousePressEvent(QMouseEvent* event)
{
    // The round window has no title bar: a drag on its background moves it.
    if (windowDrag_.press(this, *event)) {
        event->accept();
        return;
    }
    QWidget::mousePressEvent(event);
}

void KZSearchProgressWindow::mouseMoveEvent(QMouseEvent* event)
{
    if (windowDrag_.move(*event)) {
        event->accept();
        return;
    }
    QWidget::mouseMoveEvent(event);
}

void KZSearchProgressWindow::mouseReleaseEvent(QMouseEvent* event)
{
    if (windowDrag_.release(*event)) {
        event->accept();
        return;
    }
    QWidget::mouseReleaseEvent(event);
}

void KZSearchProgressWindow::hideEvent(QHideEvent* event)
{
    windowDrag_.cancel();
    QWidget::hideEvent(event);
}
