#include "app/ui/KZTransitionOverlay.h"

#include <QLayout>

#include "app/KZWindowTransitionMath.h"
#include "app/ui/KZQuitPolicy.h"

#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QVariantAnimation>

KZTransitionOverlay::KZTransitionOverlay(const QRect& globalRect, Painter painter)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                           Qt::WindowTransparentForInput | Qt::WindowDoesNotAcceptFocus |
                           Qt::X11BypassWindowManagerHint | Qt::NoDropShadowWindowHint),
      painter_(std::move(painter))
{
    setObjectName(QStringLiteral("transitionOverlay"));
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_DeleteOnClose, false);
    setFocusPolicy(Qt::NoFocus);
    KZQuitPolicy::markAsOverlay(this);
    setGeometry(globalRect);
}

bool KZTransitionOverlay::displayNeedsBackdrop()
{
    return QGuiApplication::platformName() == QLatin1String("xcb");
}

void KZTransitionOverlay::grabBackdrop()
{
    if (!displayNeedsBackdrop())
        return;
    QScreen* screen = QGuiApplication::screenAt(geometry().center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = geometry() & screen->geometry();
    if (area.isEmpty())
        return;
    // grabWindow takes coordinates relative to the screen.
    const QRect local = area.translated(-screen->geometry().topLeft());
    backdrop_ = screen->grabWindow(0, local.x(), local.y(), local.width(), local.height());
    backdropOffset_ = area.topLeft() - geometry().topLeft();
}

void KZTransitionOverlay::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.fillRect(rect(), Qt::transparent);
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    if (!backdrop_.isNull())
        p.drawPixmap(backdropOffset_, backdrop_);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    if (painter_)
        painter_(p);
}

QPixmap KZTransitionOverlay::snapshotOf(QWidget* window)
{
    window->ensurePolished();
    if (QLayout* layout = window->layout())
        layout->activate();
    return window->grab();
}

void KZTransitionOverlay::holdAtPause(QVariantAnimation* animation)
{
    const double pause = KZTransitionMath::pauseAt();
    if (pause < 0 || pause >= 1)
        return;
    animation->setCurrentTime(int(pause * animation->duration()));
    animation->pause();
}
