#include "preferences/ui/KZWelcomeCntrl.h"

#include "preferences/ui/KZAnimationIconView.h"
#include "preferences/ui/KZWelcomePictures.h"
#include "preferences/ui/KZWelcomeWindow.h"

#include "platform/NotificationCenter.h"
#include "platform/StringTable.h"
#include "services/ui/KZAnimationTiming.h"
#include "services/ui/KZFocusRing.h"
#include "services/ui/KZGradientBackView.h"
#include "services/ui/KZImages.h"
#include "settings/KZNotificationNames.h"

#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QParallelAnimationGroup>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace G = KZWelcomeGeometry;

namespace {

constexpr int kWindowWidth = 680;
constexpr int kWindowHeight = 460;
constexpr double kSlideSeconds = 0.75;
constexpr double kFadeSeconds = 0.75;
constexpr double kImage2DelaySeconds = 2.0;
constexpr double kIconDelaySeconds = 0.3;
constexpr int kPictureSide = 250;

QString text(const char* key)
{
    return platform::localizedString(QString::fromLatin1(key));
}

QString pageCounter(quint64 page, quint64 count)
{
    return platform::localizedString(QStringLiteral("_of_int")).arg(page).arg(count);
}

QLabel* makeLabel(const QString& content, int pointSize, QFont::Weight weight, QWidget* parent)
{
    auto* label = new QLabel(content, parent);
    QFont font = label->font();
    font.setPointSizeF(pointSize);
    font.setWeight(weight);
    label->setFont(font);
    label->setWordWrap(true);
    label->setTextFormat(Qt::PlainText);
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    return label;
}

constexpr int kButtonGap = 16;

// Gives `label` the height its wrapped text needs at `width`, smaller in
// half points while that is more than `most`; answers the height, at most
// `most`.
int fitToHeight(QLabel* label, int width, int most)
{
    QFont font = label->font();
    while (label->heightForWidth(width) > most && font.pointSizeF() > 8.0) {
        font.setPointSizeF(font.pointSizeF() - 0.5);
        label->setFont(font);
    }
    return std::min(label->heightForWidth(width), most);
}

QGraphicsOpacityEffect* opacityOf(QWidget* view)
{
    auto* effect = qobject_cast<QGraphicsOpacityEffect*>(view->graphicsEffect());
    if (!effect) {
        effect = new QGraphicsOpacityEffect(view);
        view->setGraphicsEffect(effect);
    }
    return effect;
}

} // namespace

KZWelcomeCntrl::KZWelcomeCntrl(const void* appDelegate, std::function<void()> subscribeNewsletter, QObject* parent)
    : QObject(parent), appDelegate_(appDelegate), subscribeNewsletter_(std::move(subscribeNewsletter))
{
    buildLayout();

    const double W = kWindowWidth;
    const double H = kWindowHeight;
    // The panel covers the whole window; its shadow would fall outside.
    gradientBackView_->setPanelGeometry(QRect(0, 0, int(W), int(H)));
    window_->setMask(QRegion(gradientBackView_->path()
                                 .translated(gradientBackView_->pos())
                                 .toFillPolygon()
                                 .toPolygon()));
    mainBackView_->setGeometry(0, 0, int(W), int(H));
    navView_->raise();
    window_->closeButton()->raise();

    setFrameOfView(views_.at(0), G::firstPageFrame(W, H));

    // The still icon waits, hidden, where the flying icon lands.
    appIconImageView_->setGeometry(iconAnimationView_->geometry());
    appIconImageView_->hide();
    image_2View_->setGeometry(image_1View_->geometry());
    image_2View_->hide();
    opacityOf(image_2View_)->setOpacity(0.0);

    currIndex_ = 0;
    setOriginalPosition(0);
    prevBtn_->setEnabled(false);
    animationPerformed_ = false;

    connect(window_, &KZPanelWindow::windowDidBecomeKey, this, &KZWelcomeCntrl::windowDidBecomeKey);
    connect(window_, &KZPanelWindow::windowWillClose, this, &KZWelcomeCntrl::windowWillClose);
    window_->centerAndShow();
    // The button drawn as the default has the keyboard: Return and Space
    // press it, Tab moves on to the others.
    startUsingBtn_->setFocus();
}

KZWelcomeCntrl::~KZWelcomeCntrl()
{
    delete window_.data();
}

void KZWelcomeCntrl::buildLayout()
{
    window_ = new KZWelcomeWindow;
    window_->setFixedSize(kWindowWidth, kWindowHeight);

    gradientBackView_ = new KZGradientBackView(window_);
    gradientBackView_->setObjectName(QStringLiteral("gradientBackView"));
    gradientBackView_->setFocusPolicy(Qt::NoFocus);
    gradientBackView_->setAttribute(Qt::WA_TransparentForMouseEvents);
    gradientBackView_->backgroundLayerWithTitle(QString());

    mainBackView_ = new QWidget(window_);
    mainBackView_->setObjectName(QStringLiteral("mainBackView"));
    mainBackView_->setAttribute(Qt::WA_TransparentForMouseEvents, false);

    navView_ = new QWidget(window_);
    navView_->setObjectName(QStringLiteral("navView"));
    navView_->setGeometry(0, kWindowHeight - int(G::kNavHeight), kWindowWidth, int(G::kNavHeight));
    auto* nav = new QHBoxLayout(navView_);
    nav->setContentsMargins(20, 6, 20, 12);
    prevBtn_ = new QPushButton(text("welcome_previous"), navView_);
    prevBtn_->setObjectName(QStringLiteral("prevBtn"));
    nextBtn_ = new QPushButton(text("welcome_next"), navView_);
    nextBtn_->setObjectName(QStringLiteral("nextBtn"));
    // The page counter starts with the layout's own text; moves rewrite it.
    navInfoFld_ = new QLabel(pageCounter(1, G::kPageCount), navView_);
    navInfoFld_->setObjectName(QStringLiteral("navInfoFld"));
    navInfoFld_->setAlignment(Qt::AlignCenter);
    navInfoFld_->setMinimumWidth(70);
    startUsingBtn_ = new QPushButton(text("welcome_start_using"), navView_);
    startUsingBtn_->setObjectName(QStringLiteral("startUsingBtn"));
    startUsingBtn_->setDefault(true);
    // The style outlines a default button as it outlines the focus: the
    // focus on it shows by a ring of its own.
    KZFocusRing::showWhileFocused(startUsingBtn_, 4);
    nav->addWidget(prevBtn_);
    nav->addWidget(navInfoFld_);
    nav->addWidget(nextBtn_);
    nav->addStretch(1);
    nav->addWidget(startUsingBtn_);
    connect(prevBtn_, &QPushButton::clicked, this, [this] { navAction(0); });
    connect(nextBtn_, &QPushButton::clicked, this, [this] { navAction(1); });
    connect(startUsingBtn_, &QPushButton::clicked, this, &KZWelcomeCntrl::usingAction);

    window_->setStyleSheet(QStringLiteral("QLabel { color: #262a30; } QLabel#navInfoFld { color: #6b717b; }"));

    for (int number = 1; number <= G::kPageCount; ++number)
        views_.append(buildPage(number));
}

QWidget* KZWelcomeCntrl::buildPage(int number)
{
    const int pageWidth = kWindowWidth;
    const int pageHeight = kWindowHeight - int(G::kNavHeight + G::kTopGap);
    auto* page = new QWidget(mainBackView_);
    page->setObjectName(QStringLiteral("page%1").arg(number));
    page->resize(pageWidth, pageHeight);

    const QString key = QString::number(number);
    QLabel* title = makeLabel(platform::localizedString(QStringLiteral("welcome_title_") + key), 24, QFont::Light,
                              page);
    QLabel* body = makeLabel(platform::localizedString(QStringLiteral("welcome_text_") + key), 13, QFont::Normal,
                             page);
    body->setStyleSheet(QStringLiteral("color: #4a505a;"));

    // Every page keeps its picture on the left and its text on the right.
    // The text takes the height its lines need in the font the system
    // gives, down to the page's foot; only a text too long for the page
    // comes in a smaller size, never cut.
    const int textLeft = 330;
    const int textWidth = pageWidth - textLeft - 40;
    const int titleTop = 60;
    const int titleHeight = 80;
    const int bodyTop = titleTop + titleHeight + 10;
    const int foot = pageHeight - 12;
    QPushButton* subscribe = nullptr;
    if (number == G::kPageCount) {
        subscribe = new QPushButton(text("welcome_subscribe"), page);
        subscribe->setObjectName(QStringLiteral("subscribeBtn"));
        subscribe->adjustSize();
    }
    const int buttonRoom = subscribe ? subscribe->height() + kButtonGap : 0;
    fitToHeight(title, textWidth, titleHeight);
    const int bodyHeight = fitToHeight(body, textWidth, foot - bodyTop - buttonRoom);
    title->setGeometry(textLeft, titleTop, textWidth, titleHeight);
    title->setAlignment(Qt::AlignLeft | Qt::AlignBottom);
    body->setGeometry(textLeft, bodyTop, textWidth, bodyHeight);
    body->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    const QRect pictureFrame(50, (pageHeight - kPictureSide) / 2, kPictureSide, kPictureSide);

    auto picture = [&](const char* name, const QImage& image) {
        auto* view = new QLabel(page);
        view->setObjectName(QString::fromLatin1(name));
        view->setPixmap(QPixmap::fromImage(image));
        view->setGeometry(pictureFrame);
        return view;
    };
    switch (number) {
    case 1: {
        iconAnimationView_ = new KZAnimationIconView(page);
        iconAnimationView_->setObjectName(QStringLiteral("iconAnimationView"));
        iconAnimationView_->move(47, (pageHeight - iconAnimationView_->height()) / 2);
        appIconImageView_ = new QLabel(page);
        appIconImageView_->setObjectName(QStringLiteral("appIconImageView"));
        QPixmap icon = QPixmap::fromImage(KZImages::applicationIcon(512));
        icon.setDevicePixelRatio(2.0);
        appIconImageView_->setPixmap(icon);
        appIconImageView_->setScaledContents(true);
        break;
    }
    case 2:
        image_1View_ = picture("image_1View", KZWelcomePictures::searchWindowPicture(kPictureSide));
        image_2View_ = picture("image_2View", KZWelcomePictures::progressPicture(kPictureSide));
        break;
    case 3:
        picture("resultPicture", KZWelcomePictures::resultPicture(kPictureSide));
        break;
    case 4:
        picture("removalPicture", KZWelcomePictures::removalPicture(kPictureSide));
        break;
    default:
        picture("newsletterPicture", KZWelcomePictures::newsletterPicture(kPictureSide));
        subscribeBtn_ = subscribe;
        // Under the last line of the text, wherever that falls.
        subscribeBtn_->move(textLeft, bodyTop + body->heightForWidth(textWidth) + kButtonGap);
        connect(subscribeBtn_, &QPushButton::clicked, this, &KZWelcomeCntrl::subscribeAction);
        break;
    }
    return page;
}

QRectF KZWelcomeCntrl::frameOfView(const QWidget* view) const
{
    return G::flipped(QRectF(view->geometry()), mainBackView_->height());
}

void KZWelcomeCntrl::setFrameOfView(QWidget* view, const QRectF& upFrame)
{
    view->setGeometry(G::flippedRect(upFrame, mainBackView_->height()));
}

void KZWelcomeCntrl::setOriginalPosition(int index)
{
    const QRectF back = gradientBackView_->panelRect();
    const QRectF parking = G::parkingFrame(back.width(), back.height());
    for (int i = 0; i < views_.size(); ++i) {
        if (i != index) {
            setFrameOfView(views_.at(i), parking);
            // Off screen, its controls must not take the focus either.
            views_.at(i)->hide();
        }
    }
}

G::EndFrames KZWelcomeCntrl::rectoForFromView(QWidget* fromView, QWidget* toView, int direction) const
{
    return G::endFrames(frameOfView(fromView), frameOfView(toView), direction);
}

bool KZWelcomeCntrl::isSliding() const
{
    return slide_ && slide_->state() == QAbstractAnimation::Running;
}

void KZWelcomeCntrl::finishRunningSlide()
{
    // A second click during a slide lands the first one at once, so that
    // every move starts from settled frames.
    if (isSliding()) {
        slide_->setCurrentTime(slide_->totalDuration());
        slide_->stop();
    }
}

void KZWelcomeCntrl::navAction(int senderTag)
{
    const bool forward = senderTag == 1;
    const quint64 last = quint64(views_.size() - 1);
    // The buttons are disabled at the ends; a stray call must not leave the
    // pages.
    if ((forward && currIndex_ >= last) || (!forward && currIndex_ == 0))
        return;
    finishRunningSlide();

    QWidget* fromView = views_.at(qsizetype(currIndex_));
    currIndex_ = forward ? currIndex_ + 1 : currIndex_ - 1;
    QWidget* toView = views_.at(qsizetype(currIndex_));
    const G::EndFrames frames = rectoForFromView(fromView, toView, forward ? G::Forward : G::Back);

    nextBtn_->setEnabled(currIndex_ != last);
    prevBtn_->setEnabled(currIndex_ != 0);

    const double H = mainBackView_->height();
    auto* group = new QParallelAnimationGroup(this);
    const std::pair<QWidget*, QRectF> moves[] = {{toView, frames.toRect}, {fromView, frames.fromRect}};
    for (const auto& [view, frame] : moves) {
        auto* move = new QPropertyAnimation(view, "geometry", group);
        move->setDuration(KZAnimationTiming::milliseconds(kSlideSeconds));
        move->setEasingCurve(QEasingCurve::InOutQuad);
        move->setEndValue(G::flippedRect(frame, H));
        group->addAnimation(move);
    }
    toView->show();
    navInfoFld_->setText(pageCounter(currIndex_ + 1, quint64(views_.size())));
    const quint64 arrived = currIndex_;
    connect(group, &QAbstractAnimation::finished, this, [this, arrived] { pageDidArrive(arrived); });
    slide_ = group;
    group->start(QAbstractAnimation::DeleteWhenStopped);
}

void KZWelcomeCntrl::pageDidArrive(quint64 index)
{
    if (index == 1) {
        if (appIconImageView_->isHidden()) {
            iconAnimationView_->hide();
            appIconImageView_->show();
        }
        // Not cancelled when the user moves on: a later visit finds the
        // second picture already showing.
        QTimer::singleShot(KZAnimationTiming::milliseconds(kImage2DelaySeconds), this, &KZWelcomeCntrl::showImage_2);
    } else if (index == 2 && !image_2View_->isHidden()) {
        if (fade_)
            fade_->stop();
        opacityOf(image_2View_)->setOpacity(0.0);
        image_2View_->hide();
        opacityOf(image_1View_)->setOpacity(1.0);
        image_1View_->show();
    }
    // Only the page on screen takes the focus: Tab would otherwise reach a
    // button on a page slid off the window, and Space press it unseen.
    for (qsizetype i = 0; i < views_.size(); ++i) {
        if (quint64(i) != index)
            views_.at(i)->hide();
    }
}

void KZWelcomeCntrl::showImage_2()
{
    if (fade_)
        fade_->stop();
    auto* group = new QParallelAnimationGroup(this);
    image_2View_->show();
    image_1View_->show();
    const std::pair<QWidget*, double> fades[] = {{image_2View_, 1.0}, {image_1View_, 0.0}};
    for (const auto& [view, opacity] : fades) {
        auto* fade = new QPropertyAnimation(opacityOf(view), "opacity", group);
        fade->setDuration(KZAnimationTiming::milliseconds(kFadeSeconds));
        fade->setEndValue(opacity);
        group->addAnimation(fade);
    }
    connect(group, &QAbstractAnimation::finished, this, [this] {
        if (opacityOf(image_1View_)->opacity() <= 0.0)
            image_1View_->hide();
    });
    fade_ = group;
    group->start(QAbstractAnimation::DeleteWhenStopped);
}

void KZWelcomeCntrl::windowDidBecomeKey()
{
    if (animationPerformed_)
        return;
    animationPerformed_ = true;
    QTimer::singleShot(KZAnimationTiming::milliseconds(kIconDelaySeconds), iconAnimationView_,
                       &KZAnimationIconView::animate);
}

void KZWelcomeCntrl::usingAction()
{
    if (window_)
        window_->close();
}

void KZWelcomeCntrl::subscribeAction()
{
    // The Welcome goes first: the first one hands over to the search window
    // as it closes, and the window the user asked for comes up over that.
    const std::function<void()> subscribe = subscribeNewsletter_;
    if (window_)
        window_->close();
    if (subscribe)
        subscribe();
}

void KZWelcomeCntrl::windowWillClose()
{
    if (closed_)
        return;
    closed_ = true;
    platform::NotificationCenter::defaultCenter().post(KZNotification::welcomeDidClose,
                                                       platform::NotificationObject(appDelegate_));
}
