#include "app/ui/KZQuitPolicy.h"

#include <QApplication>
#include <QEvent>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <utility>

namespace KZQuitPolicy {

namespace {

int g_transits = 0;
// The last real window closed while a main window was on its way.
bool g_quitWaits = false;

// What Qt itself counts: a visible real window that is nobody's secondary.
bool aRealWindowIsShown()
{
    for (QWidget* window : QApplication::topLevelWidgets()) {
        const QWindow* handle = window->windowHandle();
        if (window->isVisible() && keepsProgramAlive(window) && !(handle && handle->transientParent()))
            return true;
    }
    return false;
}

void lastWindowClosed()
{
    if (g_transits > 0) {
        g_quitWaits = true;
        return;
    }
    QCoreApplication::quit();
}

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

MainWindowInTransit::MainWindowInTransit()
{
    ++g_transits;
}

MainWindowInTransit::~MainWindowInTransit()
{
    if (--g_transits > 0 || !g_quitWaits || !qApp)
        return;
    // The main window comes in the turn of the event loop that lets go of
    // the transit; by the next one it is on screen, or it never comes.
    QTimer::singleShot(0, qApp, [] {
        if (g_transits > 0 || !std::exchange(g_quitWaits, false))
            return;
        if (!aRealWindowIsShown())
            QCoreApplication::quit();
    });
}

bool mainWindowIsInTransit()
{
    return g_transits > 0;
}

void install(QApplication& app)
{
    static QApplication* installedOn = nullptr;
    if (std::exchange(installedOn, &app) == &app)
        return;
    // Qt's own rule would quit while a main window is on its way: the
    // closing of an alert answered meanwhile would end the program.
    app.setQuitOnLastWindowClosed(false);
    QObject::connect(&app, &QGuiApplication::lastWindowClosed, &app, &lastWindowClosed);
    app.installEventFilter(new OverlayWatcher(&app));
}

} // namespace KZQuitPolicy
