#pragma once

#include "preferences/ui/KZPanelWindow.h"

// The About window: a dark rounded pane that floats above the other windows.
// It is painted opaque and shaped by a mask, so that it keeps its round
// corners on an X server without a compositor.
class KZAboutWindow : public KZPanelWindow {
    Q_OBJECT
public:
    explicit KZAboutWindow(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
};
