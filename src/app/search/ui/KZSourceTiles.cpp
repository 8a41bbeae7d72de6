#include "app/search/ui/KZSourceTiles.h"

#include "app/search/KZSearchGeometry.h"
#include "app/search/ui/KZSourceIcon.h"
#include "services/ui/KZAnimationTiming.h"
#include "services/ui/KZFocusRing.h"

#include <QApplication>
#include <QGraphicsOpacityEffect>
#include <QGuiApplication>
#include <QLabel>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWindow>
#include <QPainterPath>
#include <QPropertyAnimation>
#include <QScrollBar>

namespace {
constexpr double kTileFadeSeconds = 0.5;
constexpr double kRowResizeSeconds = 0.25;

bool& windowKeyFlag()
{
    static bool key = [] {
        // Follows the focus window of the whole program from the first tile on.
        QObject::connect(qApp, &QGuiApplication::focusWindowChanged, qApp,
                         [](QWindow* window) { KZCSourceView::setWindowIsKey(window != nullptr); });
        return true;
    }();
    return key;
}
} // namespace

// ---- KZCSourceView ----

KZCSourceView::KZCSourceView(const KZSourceTile& tile, KZSourcesCollectionView* row, QWidget* parent)
    : QWidget(parent), tile_(tile), row_(row)
{
    windowKeyFlag();
    setObjectName(QStringLiteral("sourceTile"));
    setFixedSize(tileWidth, tileHeight);
    setMouseTracking(true);
    setFocusPolicy(Qt::TabFocus);
    KZFocusRing::onlyFromTheKeyboard(this);
    setToolTip(tile.tip);
    icon_ = KZSourceIconForPath(tile.source ? tile.source->url() : std::filesystem::path());
    nameLabel_ = new QLabel(this);
    nameLabel_->setGeometry(4, 84, tileWidth - 8, 34);
    nameLabel_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    nameLabel_->setWordWrap(false);
    nameLabel_->setStyleSheet(QStringLiteral("color: white; background: transparent;"));
    nameLabel_->setText(nameLabel_->fontMetrics().elidedText(tile.name, Qt::ElideMiddle, tileWidth - 8));
    nameLabel_->setAttribute(Qt::WA_TransparentForMouseEvents);
}

bool KZCSourceView::windowIsKey()
{
    return windowKeyFlag();
}

void KZCSourceView::setWindowIsKey(bool key)
{
    windowKeyFlag() = key;
}

void KZCSourceView::initializeVariables()
{
    isInsideView_ = isInsideXBtn_ = hitInside_ = mouseIsDown_ = mouseRefusedToFire_ = false;
    update();
}

void KZCSourceView::enterAreas(const QPoint& position)
{
    if (row_)
        row_->initializeVariablesForOtherViewsThan(this);
    isInsideView_ = iconRect().contains(position) || (mouseIsDown_ && isInsideView_);
    isInsideXBtn_ = isInsideView_ && closeButtonRect().contains(position);
    update();
}

void KZCSourceView::trackPointer(const QPoint& position)
{
    if (!windowIsKey())
        return;
    const bool inIcon = iconRect().contains(position);
    const bool inClose = closeButtonRect().contains(position);
    if ((inIcon && !isInsideView_) || (inClose && !isInsideXBtn_)) {
        if (row_ && !row_->canFireForView(this)) {
            // Another tile holds the mouse: keep the enter for the first move
            // after the release.
            mouseRefusedToFire_ = true;
            return;
        }
        enterAreas(position);
        return;
    }
    if (!inIcon && isInsideView_ && !mouseIsDown_) {
        isInsideView_ = false;
        update();
    }
    if (!inClose && isInsideXBtn_) {
        isInsideXBtn_ = false;
        update();
    }
}

void KZCSourceView::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint position = event->position().toPoint();
    if (mouseRefusedToFire_ && row_ && row_->canFireForView(this)) {
        mouseRefusedToFire_ = false;
        enterAreas(position);
        return;
    }
    trackPointer(position);
}

void KZCSourceView::leaveEvent(QEvent*)
{
    mouseRefusedToFire_ = false;
    if (mouseIsDown_)
        return;
    if (isInsideView_ || isInsideXBtn_) {
        isInsideView_ = isInsideXBtn_ = false;
        update();
    }
}

void KZCSourceView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::RightButton)
        return;
    if (closeButtonRect().contains(event->position().toPoint()) && isInsideView_) {
        hitInside_ = true;
        isInsideXBtn_ = true;
        update();
    }
    mouseIsDown_ = true;
    if (row_)
        row_->setMouseIsDownInView(true);
}

void KZCSourceView::mouseReleaseEvent(QMouseEvent* event)
{
    const QPoint position = event->position().toPoint();
    if (event->button() == Qt::RightButton) {
        hitInside_ = false;
        mouseIsDown_ = false;
        Q_EMIT popoverRequested(this);
        return;
    }
    if (row_)
        row_->setMouseIsDownInView(false);
    // The press is released where the pointer is now, not where it went down.
    isInsideXBtn_ = isInsideView_ && closeButtonRect().contains(position);
    if (isInsideXBtn_ && hitInside_) {
        hitInside_ = false;
        mouseIsDown_ = false;
        Q_EMIT closeClicked(tile_.source);
        return;
    }
    hitInside_ = false;
    mouseIsDown_ = false;
    if (!iconRect().contains(position)) {
        isInsideView_ = false;
    } else if (event->modifiers() & Qt::ControlModifier) {
        Q_EMIT popoverRequested(this);
    }
    update();
}

void KZCSourceView::wheelEvent(QWheelEvent* event)
{
    const QPoint position = event->position().toPoint();
    if (!iconRect().contains(position) || !rect().contains(position)) {
        isInsideView_ = isInsideXBtn_ = false;
        update();
    }
    event->ignore();
}

void KZCSourceView::contextMenuEvent(QContextMenuEvent* event)
{
    // The right button's release opens the exclusions; the window's own
    // menu must not open over a tile as well. The menu key opens them too.
    event->accept();
    if (event->reason() == QContextMenuEvent::Keyboard)
        Q_EMIT popoverRequested(this);
}

void KZCSourceView::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Space:
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Delete:
    case Qt::Key_Backspace:
        if (event->modifiers() & ~Qt::KeypadModifier)
            break;
        event->accept();
        Q_EMIT closeClicked(tile_.source);
        return;
    default:
        break;
    }
    QWidget::keyPressEvent(event);
}

void KZCSourceView::focusInEvent(QFocusEvent* event)
{
    QWidget::focusInEvent(event);
    update();
}

void KZCSourceView::focusOutEvent(QFocusEvent* event)
{
    QWidget::focusOutEvent(event);
    update();
}

void KZCSourceView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRect icon = iconRect();
    icon_.paint(&painter, icon);
    // The focused tile offers its close button to the keyboard.
    if (hasFocus())
        KZFocusRing::paint(painter, QRectF(icon).adjusted(-4, -4, 4, 4), 8, this, 2.5);
    if (!isInsideView_ && !hasFocus())
        return;
    const bool pressed = hitInside_ && isInsideXBtn_;
    const QRectF button = QRectF(closeButtonRect()).adjusted(1, 1, -1, -1);
    // The disc's shadow first, then the disc over it.
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0, 0, 0, 77));
    painter.drawEllipse(button.translated(1.1, 1.1));
    const int grey = pressed ? 155 : 232;
    painter.setBrush(QColor(grey, grey, grey));
    painter.drawEllipse(button);
    painter.translate(button.center());
    painter.rotate(45.0);
    painter.setPen(QPen(pressed ? Qt::black : QColor(80, 80, 80), 2.0, Qt::SolidLine, Qt::FlatCap));
    painter.drawLine(QPointF(-4.5, 0), QPointF(4.5, 0));
    painter.drawLine(QPointF(0, -4.5), QPointF(0, 4.5));
}

// ---- KZSourcesCollectionView ----

KZSourcesCollectionView::KZSourcesCollectionView(QWidget* parent) : QScrollArea(parent)
{
    setFrameShape(QFrame::NoFrame);
    // Tab goes to the tiles, not to the row around them.
    setFocusPolicy(Qt::NoFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setWidgetResizable(false);
    setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    // Every layer clear, so the drop area shows through the row.
    setAutoFillBackground(false);
    viewport()->setAutoFillBackground(false);
    QPalette clear = palette();
    clear.setColor(QPalette::Window, Qt::transparent);
    clear.setColor(QPalette::Base, Qt::transparent);
    setPalette(clear);
    viewport()->setPalette(clear);
    setStyleSheet(QStringLiteral(
        "QScrollArea, QScrollArea > QWidget, QScrollArea > QWidget > QWidget { background: transparent; }"
        "QScrollBar:horizontal { background: transparent; height: 7px; margin: 0 12px; }"
        "QScrollBar::handle:horizontal { background: rgba(255,255,255,90); border-radius: 3px; min-width: 24px; }"
        "QScrollBar::add-line, QScrollBar::sub-line { width: 0; height: 0; }"
        "QScrollBar::add-page, QScrollBar::sub-page { background: transparent; }"));
    strip_ = new QWidget;
    strip_->setAutoFillBackground(false);
    strip_->setPalette(clear);
    setWidget(strip_);
    strip_->resize(0, KZCSourceView::tileHeight);
}

void KZSourcesCollectionView::layoutTiles()
{
    strip_->resize(static_cast<int>(tiles_.size()) * KZCSourceView::tileWidth, KZCSourceView::tileHeight);
    for (std::size_t i = 0; i < tiles_.size(); ++i)
        tiles_[i]->move(static_cast<int>(i) * KZCSourceView::tileWidth, 0);
}

void KZSourcesCollectionView::setContent(const std::vector<KZSourceTile>& tiles, bool animate)
{
    for (const auto& tile : tiles) {
        auto* view = new KZCSourceView(tile, this, strip_);
        connect(view, &KZCSourceView::closeClicked, this, &KZSourcesCollectionView::closeClicked);
        connect(view, &KZCSourceView::popoverRequested, this, &KZSourcesCollectionView::popoverRequested);
        tiles_.push_back(view);
        view->show();
        // The first three tiles fade in; later ones appear at once.
        if (animate && tiles_.size() < 4) {
            auto* effect = new QGraphicsOpacityEffect(view);
            effect->setOpacity(0.0);
            view->setGraphicsEffect(effect);
            auto* fade = new QPropertyAnimation(effect, "opacity", view);
            fade->setDuration(KZAnimationTiming::milliseconds(kTileFadeSeconds));
            fade->setEndValue(1.0);
            connect(fade, &QPropertyAnimation::finished, view, [view] { view->setGraphicsEffect(nullptr); });
            fade->start(QAbstractAnimation::DeleteWhenStopped);
        }
    }
    layoutTiles();
    adjustSizeAnimating(false);
}

KZCSourceView* KZSourcesCollectionView::tileForSource(const KZSourceItemRef& source) const
{
    for (auto* tile : tiles_)
        if (tile->tile().source == source)
            return tile;
    return nullptr;
}

void KZSourcesCollectionView::removeItemWithSourceItem(const KZSourceItemRef& source)
{
    auto* tile = tileForSource(source);
    if (!tile)
        return;
    tiles_.erase(std::find(tiles_.begin(), tiles_.end(), tile));
    tile->hide();
    tile->deleteLater();
    layoutTiles();
    adjustSizeAnimating(true);
}

void KZSourcesCollectionView::setCollectionEmpty()
{
    for (auto* tile : tiles_)
        tile->deleteLater();
    tiles_.clear();
    mouseIsDownInView_ = false;
    layoutTiles();
}

void KZSourcesCollectionView::adjustSizeAnimating(bool animate)
{
    QWidget* outer = parentWidget();
    if (!outer)
        return;
    const double width = KZSearchGeometry::tileRowWidth(KZCSourceView::tileWidth, static_cast<int>(tiles_.size()),
                                                        outer->width());
    const int w = static_cast<int>(width);
    const QRect target(outer->width() / 2 - w / 2, outer->height() - 1 - KZCSourceView::tileHeight - 8, w,
                       KZCSourceView::tileHeight + 8);
    if (target == geometry())
        return;
    if (!animate || !isVisible()) {
        setGeometry(target);
        return;
    }
    auto* anim = new QPropertyAnimation(this, "geometry", this);
    anim->setDuration(KZAnimationTiming::milliseconds(kRowResizeSeconds));
    anim->setEndValue(target);
    anim->start(QAbstractAnimation::DeleteWhenStopped);
}

bool KZSourcesCollectionView::canFireForView(const KZCSourceView* tile) const
{
    return !(mouseIsDownInView_ && !tile->mouseIsDown());
}

void KZSourcesCollectionView::initializeVariablesForOtherViewsThan(const KZCSourceView* tile)
{
    for (auto* other : tiles_)
        if (other != tile && (other->isInsideView() || other->isInsideXBtn()))
            other->initializeVariables();
}
