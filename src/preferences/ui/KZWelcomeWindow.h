#pragma once

#include "preferences/ui/KZPanelWindow.h"

// The welcome window: a panel window of its own class so that the desktop
// and the screenshots can tell it apart.
class KZWelcomeWindow : public KZPanelWindow {
    Q_OBJECT
public:
    explicit KZWelcomeWindow(QWidget* parent = nullptr);
};
