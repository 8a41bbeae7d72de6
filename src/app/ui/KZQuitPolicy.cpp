#include "app/ui/KZQuitPolicy.h"

#include <QApplication>
#include <QEvent>
#include <QWidget>

namespace KZQuitPolicy {

namespace {

bool isOverlayByType(const QWidget* window)
{
    switch (window->windowType()) {
    case Qt::Popup:
    case Qt::Tool:
    case Qt::ToolTip:
    case Qt::SplashScreen:
        return true;
    default:
        break;
    }
    return window->windowFlags().testFlag(Qt::WindowTransparentForInput) ||
           window->testAttribute(Qt::WA_TransparentForMouseEvents);
}

class OverlayWatcher : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        // Show comes before the window is on screen, so the mark is in place
        // before anything can close.
        if (event->type() == QEvent::Show && watched->isWidgetType()) {
            auto* widget = static_cast<QWidget*>(watched);
            if (widget->isWindow() && isOverlayByType(widget))
                markAsOverlay(widget);
        }
        return false;
    }
};

} // namespace

void markAsOverlay(QWidget* window)
{
    if (window)
        window->setAttribute(Qt::WA_QuitOnClose, false);
}

bool keepsProgramAlive(const QWidget* window)
{
    return window && window->isWindow() && !window->parentWidget() && window->testAttribute(Qt::WA_QuitOnClose) &&
           window->windowType() != Qt::ToolTip;
}

void install(QApplication& app)
{
    app.setQuitOnLastWindowClosed(true);
    app.installEventFilter(new OverlayWatcher(&app));
}

} // namespace KZQuitPolicy
