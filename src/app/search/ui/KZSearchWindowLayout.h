#pragma once

class QObject;
class QWidget;
class KZSearchWindowCntrl;

// The search window and its controller, built together so that the caller
// only decides when to show it (windowCntrl->setTheWindow(window)).
struct KZSearchWindowLayout {
    QWidget* window = nullptr;
    KZSearchWindowCntrl* windowCntrl = nullptr;
};

// The controller is parented to `owner`; the window is top-level and is
// deleted with the controller.
KZSearchWindowLayout buildSearchWindowLayout(QObject* owner);
