#include "app/search/ui/KZSearchWindow.h"

#include "platform/NotificationCenter.h"
#include "services/ui/KZWindowBackgrounds.h"

#include <QEvent>
#include <QGuiApplication>
#include <QPainter>
#include <QRegion>

KZSearchWindow::KZSearchWindow(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint), observer_(std::make_unique<QObject>())
{
    setAttribute(Qt::WA_TranslucentBackground);
    setObjectName(QStringLiteral("searchWindow"));
    setWindowTitle(QStringLiteral("Maravex"));
    resize(509, 509);
    connect(qGuiApp, &QGuiApplication::applicationStateChanged, this,
            [this](Qt::ApplicationState state) { setActive(state == Qt::ApplicationActive && isActiveWindow()); });
    platform::NotificationCenter::defaultCenter().addObserver(
        observer_.get(), QStringLiteral("updateReduceTransparence"), platform::NotificationObject(platform::bundleIdentifier()),
        [this](const platform::Notification&) { update(); });
}

KZSearchWindow::~KZSearchWindow()
{
    platform::NotificationCenter::defaultCenter().removeObserver(observer_.get());
}

void KZSearchWindow::setContentView(QWidget* view)
{
    content_ = view;
    view->setParent(this);
    view->move(0, 0);
    resize(view->size());
    view->show();
}

void KZSearchWindow::setActive(bool active)
{
    if (active == isActive_)
        return;
    isActive_ = active;
    update();
}

void KZSearchWindow::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::ActivationChange)
        setActive(isActiveWindow());
    QWidget::changeEvent(event);
}

void KZSearchWindow::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    setMask(QRegion(rect().adjusted(2, 2, -2, -2), QRegion::Ellipse));
}

void KZSearchWindow::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    KZDrawWindowBackground(painter, isActive_, rect(), content_ ? QRectF(content_->geometry()) : QRectF(rect()));
}
