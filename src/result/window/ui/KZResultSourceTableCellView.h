#pragma once

#include "platform/Subscription.h"
#include "result/window/ui/KZSourceSpinner.h"

#include <QWidget>

class QCheckBox;
class QFrame;
class QLabel;
class QToolButton;
class KZResultSourceTableCellView;

// What a sources-list cell asks of the list that shows it.
class KZResultSourcesCellOwner {
public:
    virtual ~KZResultSourcesCellOwner() = default;
    // A request from the row's check box or mark menu.
    virtual void markItemsWithState(const QVariantMap& request) = 0;
    virtual void showMarkMenu(KZResultSourceTableCellView* cell) = 0;
    virtual void showInfo(quint64 tag, QWidget* senderView) = 0;
    virtual void cellWasPressed(KZResultSourceTableCellView* cell) = 0;
    // The row `step` rows below (above, when negative) `cell`, if any.
    virtual KZResultSourceTableCellView* cellBeside(const KZResultSourceTableCellView* cell, int step) const = 0;
    // The keyboard focus came to the row or one of its buttons.
    virtual void cellTookFocus(KZResultSourceTableCellView* cell) = 0;
    virtual bool isRemoving() const = 0;
};

// One row of a tab's sources list: the row's label image, name and figures,
// the spinner while its list is rebuilt, the check box with the arrow of the
// mark menu on rows that can be marked, and the info button shown while the
// mouse is over, or the keyboard focus in, a row that has something to tell.
// The list fills it; it sends its requests back to the list.
//
// Tab reaches the row, its box, its arrow and its info button; Up and Down
// go to the row above or below, Left and Right along the row; Space chooses
// the row, ticks the box, opens the menu or the info popover. The focus
// alone chooses nothing.
class KZResultSourceTableCellView : public QWidget {
    Q_OBJECT
public:
    KZResultSourceTableCellView(KZResultSourcesCellOwner* owner, int row, QWidget* parent = nullptr);
    ~KZResultSourceTableCellView() override;

    QLabel* nameFld() const { return nameFld_; }
    QLabel* infoFld() const { return infoFld_; }
    QLabel* label() const { return label_; }
    KZSourceSpinner* spinning() const { return spinning_; }
    QFrame* backCheckImg() const { return backCheckImg_; }
    QCheckBox* checkBtn() const { return checkBtn_; }
    QToolButton* popdownBtn() const { return popdownBtn_; }
    QToolButton* infoBtn() const { return infoBtn_; }

    quint64 itemTag() const { return itemTag_; }
    void setItemTag(quint64 tag) { itemTag_ = tag; }
    quint64 itemsCount() const { return itemsCount_; }
    void setItemsCount(quint64 count) { itemsCount_ = count; }
    quint64 removedCount() const { return removedCount_; }
    void setRemovedCount(quint64 count) { removedCount_ = count; }
    bool drawHSeparator() const { return drawHSeparator_; }
    void setDrawHSeparator(bool draw);
    bool popoverIsOpen() const { return popoverIsOpen_; }
    bool hasHoverArea() const { return hasHoverArea_; }
    // Whether the row shows its info button to the pointer and the keyboard.
    bool offersInfo() const;
    // The rule checked in the row's mark menu.
    qint64 tagOfOnMenuItem() const { return onMenuItem_; }
    void setOnMenuItemWithTag(qint64 tag) { onMenuItem_ = tag; }
    void setSelected(bool selected);
    // The row's texts; shown shortened with an ellipsis when the row is narrow.
    void setTexts(const QString& name, const QString& info);
    QString nameText() const { return nameText_; }
    QString infoText() const { return infoText_; }
    // The width the row needs to show its name and `info` whole.
    int widthToShow(const QString& info) const;

    // A searched-location row.
    bool isLocationItem() const;
    // Gives the row its hover area when it has something to tell; a row
    // that has not keeps what it had.
    void updateTrackingAreas();

    // The row's mark menu chose a rule; `oldTag` is the rule checked before.
    void menuAction(qint64 tag, const QString& title, qint64 oldTag, const QVariant& menu);
    void markAction();
    void infoAction();
    void popoverWillClose();
    // Hides the info button unless the pointer is over the row, the focus
    // in it or its popover open; for a row that may have missed the pointer
    // leaving.
    void dropStaleHover();
    // The row's parts the keyboard goes along: the row, the box, the arrow,
    // the info button.
    enum class Part { Row, Box, Arrow, Info };
    // Moves the focus to that part of this row, or to the row when the part
    // cannot take it (hidden or off).
    void focusPart(Part part);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void applyTextColours();
    // An arrow key pressed while `from` (the row or one of its buttons) has
    // the focus.
    void moveFocus(QWidget* from, int key);
    QWidget* partWidget(Part part) const;
    void elideTexts();
    bool pointerIsOver() const;
    // Whether the keyboard brought the focus to the row or one of its
    // buttons and it is still there (in the row's window, active or not).
    bool holdsFocus() const;
    // The focus came to (or left) one of the row's parts.
    void partTookFocus(QWidget* part, Qt::FocusReason reason);
    void partLostFocus(Qt::FocusReason reason);
    // What the row's label, buttons and margins take beside the texts.
    int chromeWidth() const;

    KZResultSourcesCellOwner* owner_;
    QLabel* label_ = nullptr;
    QLabel* nameFld_ = nullptr;
    QLabel* infoFld_ = nullptr;
    KZSourceSpinner* spinning_ = nullptr;
    QFrame* backCheckImg_ = nullptr;
    QCheckBox* checkBtn_ = nullptr;
    QToolButton* popdownBtn_ = nullptr;
    QToolButton* infoBtn_ = nullptr;
    quint64 itemTag_ = 0;
    quint64 itemsCount_ = 0;
    quint64 removedCount_ = 0;
    qint64 onMenuItem_ = 0;
    bool drawHSeparator_ = false;
    bool hasHoverArea_ = false;
    bool popoverIsOpen_ = false;
    bool selected_ = false;
    bool keyboardInRow_ = false;
    QString nameText_;
    QString infoText_;
    platform::Subscription popoverClosed_;
};
