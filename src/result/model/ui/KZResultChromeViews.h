#pragma once

#include <QPointer>
#include <QWidget>

#include <functional>

// The plain views that give the result window its look: the backdrop of the
// window, the separator under the sources pane, the bar under a tab's list,
// and the container that answers clicks around a button. They hold no result
// data. Main thread only.

// The window's backdrop: white at the top, a light bluish grey at the bottom.
class KZResultWindowView : public QWidget {
    Q_OBJECT
public:
    explicit KZResultWindowView(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

// A grey separator along the bottom edge of the sources pane, drawn over
// the pane's own bottom row so that the pane keeps its place in its split.
class KZResultLeftView : public QWidget {
    Q_OBJECT
public:
    // Draws the separator on `pane` for as long as both live.
    static KZResultLeftView* attach(QWidget* pane);

protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    explicit KZResultLeftView(QWidget* pane);
    void follow();
};

// The bar of a tab's list controls: a light grey band closed by a darker
// line at each side.
class KZResultListScopeBar : public QWidget {
    Q_OBJECT
public:
    explicit KZResultListScopeBar(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

// Holds a button and takes the presses that reach it around the button or
// on it while it is disabled: they go no further (the window is not dragged
// by them), and a release over the container beeps, so a click on a control
// that cannot act now is answered. A press that leaves the container and
// comes back still counts.
class KZBtnSuperview : public QWidget {
    Q_OBJECT
public:
    explicit KZBtnSuperview(QWidget* parent = nullptr);

    bool mouseIsDown() const { return mouseIsDown_; }
    bool mouseIsHover() const { return mouseIsHover_; }
    bool mouseIsDownAndOut() const { return mouseIsDownAndOut_; }
    // Empty: the system beep.
    void setBeep(std::function<void()> beep) { beep_ = std::move(beep); }

protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    // A disabled button takes the presses on it and passes none on: they
    // are read here.
    void childEvent(QChildEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void pointerInside(bool inside);
    void resetVariables();

    bool mouseIsDown_ = false;
    bool mouseIsHover_ = false;
    bool mouseIsDownAndOut_ = false;
    std::function<void()> beep_;
};
