#pragma once

class QApplication;
class QWidget;

// The program quits when its last real window closes. Overlays (popovers,
// the animators' full-screen layers, tool and tip windows) never keep it
// running: a flip overlay left on screen must not turn a closed search
// window into a program without windows.
namespace KZQuitPolicy {

// Marks a window that must never keep the program running, whatever its
// window type (an overlay drawn as a plain frameless window, for instance).
void markAsOverlay(QWidget* window);

// Whether closing every other window leaves the program running because of
// this one.
bool keepsProgramAlive(const QWidget* window);

// Watches every top-level window the program shows and marks the overlays
// among them: popups, tool windows, tips, splash screens and windows that
// take no input. Called once at start-up.
void install(QApplication& app);

} // namespace KZQuitPolicy
