#pragma once

#include "preferences/ui/KZPanelWindow.h"

// The newsletter window.
class KZSubscribeWindow : public KZPanelWindow {
    Q_OBJECT
public:
    explicit KZSubscribeWindow(QWidget* parent = nullptr);
};
