#pragma once

#include "services/ui/KZWindowDrag.h"

#include <QWidget>

class QAbstractButton;

// The frameless windows of the secondary panels (welcome, About,
// newsletter): no title bar, moved by dragging their background, with a
// close button of their own at the top left; Escape closes them as that
// button does, and Return presses the focused or the default push button. They announce their closing once, however they are closed.
class KZPanelWindow : public QWidget {
    Q_OBJECT
public:
    explicit KZPanelWindow(QWidget* parent = nullptr);

    QAbstractButton* closeButton() const { return closeButton_; }
    // Centres the window on the screen that holds the cursor and brings it
    // to the front as the active window.
    void centerAndShow();

Q_SIGNALS:
    void windowWillClose();
    void windowDidBecomeKey();

protected:
    void closeEvent(QCloseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QAbstractButton* closeButton_ = nullptr;
    bool announcedClose_ = false;
    KZWindowDrag drag_;
};
