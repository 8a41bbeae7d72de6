#pragma once

class QApplication;
class QWidget;

// The program quits when its last real window closes. Overlays (popovers,
// the animators' full-screen layers, tool and tip windows) never keep it
// running: a flip overlay left on screen must not turn a closed search
// window into a program without windows.
//
// A main window on its way (hidden for a flip or a zoom, or replaced by the
// window that shows a saved result being opened) is still the program's
// window, though none of its real windows may be on screen meanwhile: the
// closing of another window then (an alert answered, Preferences closed)
// ends nothing. Whether the program is left without a window is decided
// once the main window has arrived.
namespace KZQuitPolicy {

// Marks a window that must never keep the program running, whatever its
// window type (an overlay drawn as a plain frameless window, for instance).
void markAsOverlay(QWidget* window);

// Whether closing every other window leaves the program running because of
// this one.
bool keepsProgramAlive(const QWidget* window);

// Held from the moment a main window leaves the screen for another until
// that one is shown (or the change is given up). Holds nest; GUI thread only.
class MainWindowInTransit {
public:
    MainWindowInTransit();
    ~MainWindowInTransit();
    MainWindowInTransit(const MainWindowInTransit&) = delete;
    MainWindowInTransit& operator=(const MainWindowInTransit&) = delete;
};

// A main window is on its way now.
bool mainWindowIsInTransit();

// Watches every top-level window the program shows and marks the overlays
// among them: popups, tool windows, tips, splash screens and windows that
// take no input; and takes over the decision to quit once the last real
// window has closed. Called once at start-up.
void install(QApplication& app);

} // namespace KZQuitPolicy
