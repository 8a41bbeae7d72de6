#include "result/window/ui/KZResultSourceTableCellView.h"

#include "platform/NotificationCenter.h"
#include "services/ui/KZFocusRing.h"
#include "settings/KZTags.h"

#include <QApplication>
#include <QCheckBox>
#include <QCursor>
#include <QEnterEvent>
#include <QFrame>
#include <QFocusEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPointer>
#include <QPainter>
#include <QResizeEvent>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <iterator>

namespace {

const QString kPopoverWillClose = QStringLiteral("popoverWillClose");
// The row that last saw the pointer come in. A row's Leave can go missing
// (a fast move, the popover taking the pointer, the list scrolling under a
// still pointer); the next row the pointer enters checks on this one.
QPointer<KZResultSourceTableCellView> lastEnteredCell;

} // namespace

KZResultSourceTableCellView::KZResultSourceTableCellView(KZResultSourcesCellOwner* owner, int row, QWidget* parent)
    : QWidget(parent), owner_(owner)
{
    const QString suffix = QString::number(row);
    setObjectName(QStringLiteral("sourceRow") + suffix);
    setAttribute(Qt::WA_Hover);
    // Only the keyboard brings the focus here: a click chooses the row, as
    // it always did, and leaves the focus where it was.
    setFocusPolicy(Qt::TabFocus);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(8, 5, 6, 5);
    layout->setSpacing(4);

    label_ = new QLabel(this);
    label_->setFixedSize(12, 12);
    label_->setScaledContents(true);
    label_->hide();
    layout->addWidget(label_, 0, Qt::AlignVCenter);

    auto* texts = new QVBoxLayout;
    texts->setContentsMargins(0, 0, 0, 0);
    texts->setSpacing(1);
    nameFld_ = new QLabel(this);
    nameFld_->setObjectName(QStringLiteral("sourceName") + suffix);
    QFont nameFont = nameFld_->font();
    nameFont.setPointSizeF(10);
    nameFont.setWeight(QFont::DemiBold);
    nameFld_->setFont(nameFont);
    nameFld_->setMinimumWidth(40);
    infoFld_ = new QLabel(this);
    infoFld_->setObjectName(QStringLiteral("sourceInfo") + suffix);
    QFont infoFont = infoFld_->font();
    infoFont.setPointSizeF(8.5);
    infoFld_->setFont(infoFont);
    infoFld_->setMinimumWidth(40);
    texts->addWidget(nameFld_);
    texts->addWidget(infoFld_);
    layout->addLayout(texts, 1);

    // The spinner and the info button share one place: a row's list is
    // rebuilt at a click, not while the pointer rests on its button.
    auto* accessory = new QWidget(this);
    accessory->setFixedSize(18, 18);
    spinning_ = new KZSourceSpinner(accessory);
    spinning_->move(1, 1);
    layout->addWidget(accessory, 0, Qt::AlignVCenter);

    infoBtn_ = new QToolButton(accessory);
    infoBtn_->setObjectName(QStringLiteral("sourceInfoBtn") + suffix);
    infoBtn_->setText(QStringLiteral("i"));
    infoBtn_->setFixedSize(18, 18);
    infoBtn_->setCursor(Qt::PointingHandCursor);
    infoBtn_->setStyleSheet(QStringLiteral(
        "QToolButton { border: 1px solid #8a94a3; border-radius: 9px; background: #ffffff; color: #4a5464;"
        " font: italic bold 9pt serif; }"
        "QToolButton:hover { background: #e8eef7; }"
        // With the focus it turns to the ring's colour, which a ring alone
        // would not show on the blue of the chosen row.
        "QToolButton:focus { background: %1; color: white; border-color: white; }")
                                .arg(KZFocusRing::colour(infoBtn_).darker(140).name()));
    infoBtn_->hide();
    // Reached with Tab while its row holds the focus, with the ring the
    // style sheet takes away; a click leaves the focus where it was.
    infoBtn_->setFocusPolicy(Qt::TabFocus);
    infoBtn_->installEventFilter(this);
    KZFocusRing::showWhileFocused(infoBtn_, 9);

    backCheckImg_ = new QFrame(this);
    backCheckImg_->setObjectName(QStringLiteral("sourceCheckBack") + suffix);
    backCheckImg_->setStyleSheet(QStringLiteral(
        "QFrame#sourceCheckBack%1 { border: 1px solid #b9c0ca; border-radius: 10px; background: #fbfbfc; }")
                                     .arg(suffix));
    auto* pill = new QHBoxLayout(backCheckImg_);
    pill->setContentsMargins(5, 1, 1, 1);
    pill->setSpacing(0);
    checkBtn_ = new QCheckBox(backCheckImg_);
    checkBtn_->setObjectName(QStringLiteral("sourceCheckBtn") + suffix);
    checkBtn_->setFocusPolicy(Qt::TabFocus);
    checkBtn_->installEventFilter(this);
    popdownBtn_ = new QToolButton(backCheckImg_);
    popdownBtn_->setObjectName(QStringLiteral("sourceMenuBtn") + suffix);
    popdownBtn_->setArrowType(Qt::DownArrow);
    popdownBtn_->setAutoRaise(true);
    popdownBtn_->setFixedSize(16, 18);
    popdownBtn_->setFocusPolicy(Qt::TabFocus);
    popdownBtn_->installEventFilter(this);
    pill->addWidget(checkBtn_);
    pill->addWidget(popdownBtn_);
    layout->addWidget(backCheckImg_, 0, Qt::AlignVCenter);
    // The pill's style sheet leaves the buttons without the style's mark of
    // the focus.
    KZFocusRing::showWhileFocused(checkBtn_, 4);
    KZFocusRing::showWhileFocused(popdownBtn_, 4);
    // Row, box, arrow, info button.
    setTabOrder(this, checkBtn_);
    setTabOrder(checkBtn_, popdownBtn_);
    setTabOrder(popdownBtn_, infoBtn_);

    connect(checkBtn_, &QCheckBox::clicked, this, [this] { markAction(); });
    // The mouse opens the menu on the press (see eventFilter) and so never
    // clicks; a click comes from the keyboard or assistive tools.
    connect(popdownBtn_, &QToolButton::clicked, this, [this] { owner_->showMarkMenu(this); });
    connect(infoBtn_, &QToolButton::clicked, this, [this] { infoAction(); });
    applyTextColours();
}

KZResultSourceTableCellView::~KZResultSourceTableCellView() = default;

bool KZResultSourceTableCellView::isLocationItem() const
{
    return itemTag_ >= KZTag::sourceRowBase && itemTag_ < KZTag::markedItemsRowBase;
}

void KZResultSourceTableCellView::setDrawHSeparator(bool draw)
{
    drawHSeparator_ = draw;
    update();
}

void KZResultSourceTableCellView::setSelected(bool selected)
{
    if (selected_ == selected)
        return;
    selected_ = selected;
    applyTextColours();
}

void KZResultSourceTableCellView::setTexts(const QString& name, const QString& info)
{
    nameText_ = name;
    infoText_ = info;
    nameFld_->setToolTip(name);
    elideTexts();
}

void KZResultSourceTableCellView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    elideTexts();
}

void KZResultSourceTableCellView::elideTexts()
{
    // The labels are laid out after this row, so their width would lag one
    // resize behind: the room is the row's width less what its other parts
    // take.
    const int room = std::max(width() - chromeWidth(), 30);
    nameFld_->setText(nameFld_->fontMetrics().elidedText(nameText_, Qt::ElideMiddle, room));
    const QString info = infoFld_->fontMetrics().elidedText(infoText_, Qt::ElideRight, room);
    infoFld_->setText(info);
    // A cut figure is read whole from its tooltip.
    infoFld_->setToolTip(info == infoText_ ? QString() : infoText_);
}

int KZResultSourceTableCellView::chromeWidth() const
{
    const auto* box = static_cast<QHBoxLayout*>(layout());
    const QMargins margins = box->contentsMargins();
    int width = margins.left() + margins.right();
    for (QWidget* part : {static_cast<QWidget*>(label_), static_cast<QWidget*>(backCheckImg_)}) {
        if (!part->isHidden())
            width += part->sizeHint().width() + box->spacing();
    }
    return width + 18 + box->spacing();
}

int KZResultSourceTableCellView::widthToShow(const QString& info) const
{
    const int text = std::max(nameFld_->fontMetrics().horizontalAdvance(nameText_),
                              infoFld_->fontMetrics().horizontalAdvance(info));
    return chromeWidth() + text + 1;
}

void KZResultSourceTableCellView::applyTextColours()
{
    // White on the selection's blue while the window is active; on the grey
    // of an inactive window's selection the usual colours read better.
    const bool light = selected_ && isActiveWindow();
    const auto paint = [](QWidget* widget, const QColor& colour) {
        QPalette palette = widget->palette();
        palette.setColor(QPalette::WindowText, colour);
        widget->setPalette(palette);
    };
    paint(nameFld_, light ? QColor(Qt::white) : QColor(0x1f, 0x25, 0x30));
    paint(infoFld_, light ? QColor(0xe6, 0xee, 0xfb) : QColor(0x66, 0x70, 0x80));
    paint(spinning_, light ? QColor(Qt::white) : QColor(0x4a, 0x54, 0x64));
    update();
}

bool KZResultSourceTableCellView::event(QEvent* event)
{
    // The window passes its activation down to its visible children.
    const bool handled = QWidget::event(event);
    if (event->type() == QEvent::WindowActivate || event->type() == QEvent::WindowDeactivate)
        applyTextColours();
    // A row that scrolls away from a still pointer, or comes back into
    // view, is told nothing of the pointer.
    if (event->type() == QEvent::Move || event->type() == QEvent::Show)
        dropStaleHover();
    return handled;
}

void KZResultSourceTableCellView::updateTrackingAreas()
{
    // The tab's own row and a location with duplicates have figures worth a
    // popover; the marked row and an empty location do not, and a row that
    // had an area keeps it.
    const bool typeRow = itemTag_ < KZTag::specialTabsStart || itemTag_ == KZTag::emptyFolders;
    const bool location = itemTag_ > KZTag::sourceRowBase - 1 && itemTag_ < KZTag::markedItemsRowBase;
    if (typeRow || (location && itemsCount_ != 0))
        hasHoverArea_ = true;
}

void KZResultSourceTableCellView::enterEvent(QEnterEvent* event)
{
    if (lastEnteredCell && lastEnteredCell != this)
        lastEnteredCell->dropStaleHover();
    lastEnteredCell = this;
    if (offersInfo())
        infoBtn_->show();
    QWidget::enterEvent(event);
}

void KZResultSourceTableCellView::leaveEvent(QEvent* event)
{
    if (hasHoverArea_ && !popoverIsOpen_ && !holdsFocus())
        infoBtn_->hide();
    QWidget::leaveEvent(event);
}

bool KZResultSourceTableCellView::offersInfo() const
{
    return hasHoverArea_ && !owner_->isRemoving();
}

bool KZResultSourceTableCellView::holdsFocus() const
{
    return keyboardInRow_;
}

void KZResultSourceTableCellView::partTookFocus(QWidget* part, Qt::FocusReason reason)
{
    owner_->cellTookFocus(this);
    // The keyboard brought it (Tab, Shift+Tab, an arrow, a shortcut); the
    // focus a window hands its first control when it shows does not count.
    if (reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason || reason == Qt::ShortcutFocusReason)
        keyboardInRow_ = true;
    if (!keyboardInRow_ || !offersInfo() || !infoBtn_->isHidden())
        return;
    infoBtn_->show();
    // Shift+Tab from the row below comes to the row's last stop, the info
    // button, as Tab leaves the row from it; hidden a moment ago, the
    // button was passed over.
    if (reason == Qt::BacktabFocusReason && part != infoBtn_)
        infoBtn_->setFocus(Qt::BacktabFocusReason);
}

void KZResultSourceTableCellView::partLostFocus(Qt::FocusReason reason)
{
    // The window going inactive or a menu opening leaves the focus with the
    // row, to come back to it.
    if (reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason)
        return;
    const QWidget* now = QApplication::focusWidget();
    if (now && (now == this || isAncestorOf(now)))
        return;
    keyboardInRow_ = false;
    if (!popoverIsOpen_ && !infoBtn_->isHidden() && !pointerIsOver())
        infoBtn_->hide();
}

void KZResultSourceTableCellView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton || event->button() == Qt::RightButton)
        owner_->cellWasPressed(this);
    QWidget::mousePressEvent(event);
}

void KZResultSourceTableCellView::keyPressEvent(QKeyEvent* event)
{
    if ((event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        switch (event->key()) {
        case Qt::Key_Space:
        case Qt::Key_Select:
            if (!event->isAutoRepeat())
                owner_->cellWasPressed(this);
            event->accept();
            return;
        case Qt::Key_Up:
        case Qt::Key_Down:
        case Qt::Key_Left:
        case Qt::Key_Right:
            moveFocus(this, event->key());
            event->accept();
            return;
        default:
            break;
        }
    }
    QWidget::keyPressEvent(event);
}

void KZResultSourceTableCellView::focusInEvent(QFocusEvent* event)
{
    QWidget::focusInEvent(event);
    partTookFocus(this, event->reason());
    update();
}

void KZResultSourceTableCellView::focusOutEvent(QFocusEvent* event)
{
    QWidget::focusOutEvent(event);
    partLostFocus(event->reason());
    update();
}

QWidget* KZResultSourceTableCellView::partWidget(Part part) const
{
    switch (part) {
    case Part::Box:
        return checkBtn_;
    case Part::Arrow:
        return popdownBtn_;
    case Part::Info:
        return infoBtn_;
    case Part::Row:
        break;
    }
    return const_cast<KZResultSourceTableCellView*>(this);
}

namespace {

bool takesKeyboardFocus(const QWidget* widget)
{
    return widget->isVisible() && widget->isEnabled() && (widget->focusPolicy() & Qt::TabFocus);
}

} // namespace

void KZResultSourceTableCellView::focusPart(Part part)
{
    QWidget* target = partWidget(part);
    // The info button shows as the focus comes into its row.
    if (part == Part::Info && offersInfo())
        infoBtn_->show();
    if (!takesKeyboardFocus(target))
        target = this;
    target->setFocus(Qt::TabFocusReason);
}

void KZResultSourceTableCellView::moveFocus(QWidget* from, int key)
{
    constexpr Part parts[] = {Part::Row, Part::Box, Part::Arrow, Part::Info};
    constexpr int count = static_cast<int>(std::size(parts));
    int at = 0;
    for (int i = 0; i < count; ++i)
        if (partWidget(parts[i]) == from)
            at = i;
    if (key == Qt::Key_Up || key == Qt::Key_Down) {
        if (KZResultSourceTableCellView* next = owner_->cellBeside(this, key == Qt::Key_Down ? 1 : -1))
            next->focusPart(parts[at]);
        return;
    }
    // Along the row, in the direction the row is laid out; the ends hold.
    const bool forward = (key == Qt::Key_Right) == (layoutDirection() == Qt::LeftToRight);
    for (int i = at + (forward ? 1 : -1); i >= 0 && i < count; i += forward ? 1 : -1) {
        if (takesKeyboardFocus(partWidget(parts[i]))) {
            partWidget(parts[i])->setFocus(Qt::TabFocusReason);
            return;
        }
    }
}

bool KZResultSourceTableCellView::eventFilter(QObject* watched, QEvent* event)
{
    // A button outside a button group would take the arrow keys for Tab and
    // Backtab; here they go along the rows as on the row itself.
    const bool part = watched == checkBtn_ || watched == popdownBtn_ || watched == infoBtn_;
    if (part && event->type() == QEvent::FocusIn)
        partTookFocus(static_cast<QWidget*>(watched), static_cast<QFocusEvent*>(event)->reason());
    else if (part && event->type() == QEvent::FocusOut)
        partLostFocus(static_cast<QFocusEvent*>(event)->reason());
    if (part && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        const bool arrow = key->key() == Qt::Key_Up || key->key() == Qt::Key_Down || key->key() == Qt::Key_Left
                           || key->key() == Qt::Key_Right;
        if (arrow && (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
            moveFocus(static_cast<QWidget*>(watched), key->key());
            return true;
        }
    }
    // The arrow opens the menu as soon as it is pressed, with either button,
    // so that a press can be dragged onto a rule.
    if (watched == popdownBtn_
        && (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick)
        && (static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton
            || static_cast<QMouseEvent*>(event)->button() == Qt::RightButton)) {
        if (popdownBtn_->isEnabled())
            owner_->showMarkMenu(this);
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void KZResultSourceTableCellView::menuAction(qint64 tag, const QString& title, qint64 oldTag, const QVariant& menu)
{
    owner_->markItemsWithState({{QStringLiteral("checkBtnState"), 1},
                                {QStringLiteral("menuItemTag"), tag},
                                {QStringLiteral("itemsToManageTag"), QVariant::fromValue(itemTag_)},
                                {QStringLiteral("menuItemTitle"), title},
                                {QStringLiteral("menuItemTagToRestore"), tag},
                                {QStringLiteral("oldMenuItemTagToRestore"), oldTag},
                                {QStringLiteral("menu"), menu}});
}

void KZResultSourceTableCellView::markAction()
{
    owner_->markItemsWithState({{QStringLiteral("checkBtnState"), checkBtn_->isChecked() ? 1 : 0},
                                {QStringLiteral("menuItemTag"), onMenuItem_},
                                {QStringLiteral("itemsToManageTag"), QVariant::fromValue(itemTag_)},
                                {QStringLiteral("view"), QVariant::fromValue<QObject*>(this)}});
}

void KZResultSourceTableCellView::infoAction()
{
    // The popover tells its closing once per opening.
    popoverClosed_ = platform::NotificationCenter::defaultCenter().addObserver(
        kPopoverWillClose, static_cast<const void*>(infoBtn_), [this](const platform::Notification&) {
            popoverWillClose();
        });
    popoverIsOpen_ = true;
    owner_->showInfo(itemTag_, infoBtn_);
}

void KZResultSourceTableCellView::popoverWillClose()
{
    popoverClosed_ = platform::Subscription();
    popoverIsOpen_ = false;
    dropStaleHover();
}

bool KZResultSourceTableCellView::pointerIsOver() const
{
    // Only the part of the row its list shows counts: a row scrolled half
    // out of view is not under a pointer beside the list.
    return isVisible() && visibleRegion().contains(mapFromGlobal(QCursor::pos()));
}

void KZResultSourceTableCellView::dropStaleHover()
{
    if (!popoverIsOpen_ && !infoBtn_->isHidden() && !pointerIsOver() && !holdsFocus())
        infoBtn_->hide();
}

void KZResultSourceTableCellView::paintEvent(QPaintEvent* event)
{
    QWidget::paintEvent(event);
    QPainter p(this);
    if (selected_)
        p.fillRect(rect(), isActiveWindow() ? QColor(0x3d, 0x7b, 0xd9) : QColor(0xcd, 0xd2, 0xd9));
    if (hasFocus()) {
        const QRectF ring = QRectF(rect()).adjusted(1, 1, -1, -1);
        KZFocusRing::paint(p, ring, 5, this);
        // On the selection's blue the ring alone would hardly show.
        if (selected_) {
            p.save();
            p.setRenderHint(QPainter::Antialiasing);
            p.setPen(QPen(Qt::white, 1.0));
            p.setBrush(Qt::NoBrush);
            p.drawRoundedRect(ring.adjusted(2.5, 2.5, -2.5, -2.5), 3, 3);
            p.restore();
        }
    }
    if (!drawHSeparator_)
        return;
    // Along the bottom edge, where the row meets the next group of rows.
    p.setPen(QPen(QColor::fromRgbF(0.782f, 0.782f, 0.782f), 1.0, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(0, height() - 0.5), QPointF(width(), height() - 0.5));
}
