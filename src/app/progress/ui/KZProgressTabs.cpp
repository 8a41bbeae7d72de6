#include "app/progress/ui/KZProgressTabs.h"

#include "platform/MainThread.h"
#include "platform/NotificationCenter.h"
#include "services/KZNumberUtilities.h"
#include "services/KZSearchInProgress.h"
#include "services/KZSharedFunctions.h"
#include "services/ui/KZAnimationTiming.h"
#include "settings/KZNotificationNames.h"

#include <QApplication>
#include <QFontDatabase>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QVariantAnimation>

#include <algorithm>
#include <cmath>

namespace G = KZProgressRingGeometry;

namespace {

constexpr double kFadeSeconds = 0.25;

double degrees(double radians)
{
    return radians * 180.0 / G::kPi;
}

QRectF circle(QPointF centre, double radius)
{
    return {centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius};
}

// Colours of a selected tab, from the label's "on" colour.
struct TabColours {
    QColor fill, stroke, pressedFill, pressedStroke, text;
};

TabColours coloursOf(const KZFileTypeLabel& label)
{
    std::lock_guard guard(label.fileTypeLabelLock());
    const double r = label.redOnColor(), g = label.greenOnColor(), b = label.blueOnColor();
    const double alpha = label.onAlphaValue();
    auto rgb = [](double red, double green, double blue, double a) {
        return QColor::fromRgbF(float(std::clamp(red, 0.0, 1.0)), float(std::clamp(green, 0.0, 1.0)),
                                float(std::clamp(blue, 0.0, 1.0)), float(std::clamp(a, 0.0, 1.0)));
    };
    TabColours colours;
    colours.fill = rgb(r, g, b, alpha > 0 ? alpha : 1.0);
    colours.stroke = rgb(r - 0.1, g - 0.1, b - 0.1, 1.0);
    colours.pressedFill = rgb(r - 0.15, g - 0.15, b - 0.15, 1.0);
    QColor off = rgb(label.redOffColor(), label.greenOffColor(), label.blueOffColor(), 1.0).toHsv();
    off.setHsvF(off.hsvHueF(), off.hsvSaturationF(), std::max(0.0f, off.valueF() - 0.2f));
    off = off.toRgb();
    colours.pressedStroke = rgb(off.redF() - 0.1, off.greenF() - 0.1, off.blueF() - 0.1, 1.0);
    const double w = KZContrastingTextWhite(false, r, g, b);
    colours.text = rgb(w, w, w, 1.0);
    return colours;
}

QString sizeText(quint64 bytes)
{
    return KZNumberUtilities::sharedControl().sizeToFormatString(bytes, 4, true);
}

} // namespace

namespace {

// The tab's outline about `centre` (y down): the inner arc clockwise, the
// outer arc back. Qt's arc angles run counter-clockwise on screen, as the
// ring's angles do in their y-up frame, so they carry over unchanged.
QPainterPath outlineOf(QPointF centre, const G::Tab& tab)
{
    const double r1 = G::kInnerRadius, r2 = G::kInnerRadius + tab.thickness;
    const double from = degrees(tab.angle + tab.halfAperture);
    const double sweep = degrees(2 * tab.halfAperture);
    QPainterPath path;
    path.arcMoveTo(circle(centre, r1), from);
    path.arcTo(circle(centre, r1), from, -sweep);
    path.arcTo(circle(centre, r2), from - sweep, sweep);
    path.closeSubpath();
    return path;
}

// The edges away from the disc: the two sides and the outer arc.
QPainterPath strokeOf(QPointF centre, const G::Tab& tab)
{
    const double r1 = G::kInnerRadius, r2 = G::kInnerRadius + tab.thickness;
    const double low = degrees(tab.angle - tab.halfAperture);
    const double sweep = degrees(2 * tab.halfAperture);
    QPainterPath path;
    path.arcMoveTo(circle(centre, r1), low);
    QPainterPath outer;
    outer.arcMoveTo(circle(centre, r2), low);
    path.lineTo(outer.currentPosition());
    path.arcTo(circle(centre, r2), low, sweep);
    QPainterPath inner;
    inner.arcMoveTo(circle(centre, r1), low + sweep);
    path.lineTo(inner.currentPosition());
    return path;
}

} // namespace

KZProgressTabs::KZProgressTabs(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("progressTabs"));
    setAttribute(Qt::WA_TranslucentBackground);
    setMouseTracking(true);
    searchRunning_ = [] { return KZIsSearchInProgress(); };
    QPointer<KZProgressTabs> self(this);
    removeObservation_ = platform::NotificationCenter::defaultCenter().addObserver(
        KZNotification::removeFileTypeLabel, platform::bundleIdentifier(), [self](const platform::Notification& note) {
            const quint64 tag = note.userInfo.value(QStringLiteral("tag")).toULongLong();
            platform::runOnMain([self, tag] {
                if (self)
                    self->removeFileTypeLabel(tag);
            });
        });
}

KZProgressTabs::~KZProgressTabs() = default;

void KZProgressTabs::setRingCentre(QPointF centre)
{
    centre_ = centre;
    for (auto* tabs : {&layers_, &finalLayers_}) {
        for (TabView& tab : *tabs) {
            tab.oldHalfAngleAperture = 0;
            applyGeometry(tab, tab.geometry);
        }
    }
    update();
    Q_EMIT tabsChanged();
}

const std::vector<KZProgressTabs::TabView>& KZProgressTabs::shownTabs() const
{
    return finalLayers_.empty() ? layers_ : finalLayers_;
}

std::vector<KZProgressTabs::TabView>& KZProgressTabs::shownTabsMutable()
{
    return finalLayers_.empty() ? layers_ : finalLayers_;
}

void KZProgressTabs::initializeForNewSearch()
{
    if (fade_)
        fade_->stop();
    layers_.clear();
    finalLayers_.clear();
    currFileTypes_.clear();
    tracker_.reset();
    update();
    Q_EMIT tabsChanged();
}

void KZProgressTabs::applyGeometry(TabView& tab, const G::Tab& geometry)
{
    tab.geometry = geometry;
    platform::NotificationCenter::defaultCenter().post(KZNotification::updatefileTypeCount,
                                                       platform::bundleIdentifier());
    // The outline is rebuilt only when the tab moved or changed width; a
    // steady ring only repaints its size texts.
    if (geometry.halfAperture == tab.oldHalfAngleAperture && !tab.outline.isEmpty()
        && geometry.angle == tab.builtAngle)
        return;
    tab.oldHalfAngleAperture = geometry.halfAperture;
    tab.builtAngle = geometry.angle;
    tab.outline = outlineOf(centre_, geometry);
    tab.stroke = strokeOf(centre_, geometry);
}

void KZProgressTabs::updateTabsStatus(const KZFileTypeSnapshot& types)
{
    // New types join at the end of the running ring; every tab is then
    // re-spaced equally.
    bool added = false;
    for (const auto& [tag, label] : types) {
        const bool known = std::any_of(layers_.begin(), layers_.end(), [tag](const TabView& t) { return t.tag == tag; });
        if (known)
            continue;
        TabView tab;
        tab.label = label;
        tab.tag = tag;
        tab.tagged = static_cast<int>(std::distance(types.begin(), types.find(tag)));
        tab.opacity = 0;
        layers_.push_back(std::move(tab));
        added = true;
    }
    std::vector<quint64> tags;
    for (const TabView& tab : layers_)
        tags.push_back(tab.tag);
    const auto geometry = G::runningLayout(tags);
    for (std::size_t i = 0; i < layers_.size(); ++i) {
        const auto found = types.find(layers_[i].tag);
        if (found != types.end())
            layers_[i].label = found->second;
        applyGeometry(layers_[i], geometry[i]);
    }
    if (added && finalLayers_.empty())
        fadeIn(layers_, false);
    update();
    if (added)
        Q_EMIT tabsChanged();
}

void KZProgressTabs::finalUpdateTabsStatus(const KZFileTypeSnapshot& types)
{
    updateTabsStatus(types);
    currFileTypes_ = types;
    finalLayers_.clear();
    tracker_.reset();

    std::vector<std::pair<quint64, quint64>> sizes;
    for (const auto& [tag, label] : types)
        sizes.emplace_back(tag, label->size());
    const auto geometry = G::finalLayout(sizes);
    int index = 0;
    for (const G::Tab& g : geometry) {
        TabView tab;
        tab.label = types.at(g.tag);
        tab.tag = g.tag;
        tab.tagged = index++;
        tab.opacity = 0;
        applyGeometry(tab, g);
        finalLayers_.push_back(std::move(tab));
    }
    if (!finalLayers_.empty())
        fadeIn(finalLayers_, true);
    update();
    Q_EMIT tabsChanged();
}

void KZProgressTabs::fadeIn(std::vector<TabView>& tabs, bool dropRunningRingAtEnd)
{
    auto* animation = new QVariantAnimation(this);
    animation->setStartValue(0.0);
    animation->setEndValue(1.0);
    animation->setDuration(KZAnimationTiming::milliseconds(kFadeSeconds));
    // Only the tabs not yet shown fade; the others stay as they are.
    std::vector<quint64> fading;
    for (const TabView& tab : tabs) {
        if (tab.opacity < 1)
            fading.push_back(tab.tag);
    }
    auto* target = &tabs;
    connect(animation, &QVariantAnimation::valueChanged, this, [this, target, fading](const QVariant& value) {
        for (TabView& tab : *target) {
            if (std::find(fading.begin(), fading.end(), tab.tag) != fading.end())
                tab.opacity = std::max(tab.opacity, value.toDouble());
        }
        update();
    });
    connect(animation, &QVariantAnimation::finished, this, [this, target, dropRunningRingAtEnd] {
        for (TabView& tab : *target)
            tab.opacity = 1;
        if (dropRunningRingAtEnd) {
            layers_.clear();
            update();
            platform::NotificationCenter::defaultCenter().post(KZNotification::tabsAnimationDidEnd,
                                                               platform::bundleIdentifier());
        }
        update();
    });
    if (dropRunningRingAtEnd) {
        if (fade_)
            fade_->stop();
        fade_ = animation;
    }
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

void KZProgressTabs::removeFileTypeLabel(quint64 tag)
{
    if (currFileTypes_.erase(tag) == 0)
        return;
    finalLayers_.clear();
    layers_.clear();
    tracker_.reset();
    if (currFileTypes_.size() >= 1) {
        const KZFileTypeSnapshot remaining = currFileTypes_;
        finalUpdateTabsStatus(remaining);
    } else {
        update();
        Q_EMIT tabsChanged();
    }
}

// ---- Painting -------------------------------------------------------------------------


void KZProgressTabs::paintTab(QPainter& painter, const TabView& tab) const
{
    if (tab.opacity <= 0 || !tab.label)
        return;
    const TabColours colours = coloursOf(*tab.label);
    const QPainterPath& outline = tab.outline;
    painter.save();
    painter.setOpacity(tab.opacity);
    painter.setPen(Qt::NoPen);
    painter.setBrush(tab.pressed ? colours.pressedFill : colours.fill);
    painter.drawPath(outline);
    QPen pen(tab.pressed ? colours.pressedStroke : colours.stroke, tab.pressed ? 2.0 : 4.0);
    pen.setJoinStyle(Qt::RoundJoin);
    painter.setClipPath(outline);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(tab.stroke);
    painter.setClipping(false);

    const G::Tab& g = tab.geometry;
    const double mid = G::kInnerRadius + g.thickness / 2;
    // The icon: the type's first letter in a circle, near the tab's
    // counter-clockwise end, upright along the tab.
    const QPointF icon = G::iconCentre(centre_ , g);
    const double iconAngle = g.angle + std::max(g.halfAperture - 0.05, 0.0);
    const QPointF iconScreen(icon.x(), 2 * centre_.y() - icon.y());
    painter.save();
    painter.translate(iconScreen);
    painter.rotate(-degrees(iconAngle) + 90);
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setPointSizeF(9);
    painter.setFont(mono);
    painter.setPen(QPen(colours.text, 1.0));
    const QRectF iconRect(-G::kIconSide / 2, -G::kIconSide / 2, G::kIconSide, G::kIconSide);
    painter.drawEllipse(iconRect.adjusted(0.5, 0.5, -0.5, -0.5));
    painter.drawText(iconRect, Qt::AlignCenter, tab.label->firstChar());
    painter.restore();

    // The size found, along the tab below its icon.
    const double textFrom = g.angle + g.halfAperture - 0.1;
    const double textTo = g.angle - g.halfAperture;
    const double length = (textFrom - textTo) * mid - 6;
    if (length > 24) {
        const double at = (textFrom + textTo) / 2;
        painter.save();
        painter.translate(centre_);
        painter.rotate(-degrees(at) + 90);
        QFont font = QApplication::font();
        font.setWeight(QFont::Light);
        font.setPointSizeF(std::min(11.0, g.thickness * 0.42));
        painter.setFont(font);
        painter.setPen(colours.text);
        const QString text = painter.fontMetrics().elidedText(sizeText(tab.label->size()), Qt::ElideRight,
                                                              int(length));
        const QRectF rect(-length / 2, -mid - g.thickness / 2, length, g.thickness);
        painter.drawText(rect, Qt::AlignCenter, text);
        painter.restore();
    }
    painter.restore();
}

void KZProgressTabs::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    // The running ring stays under the final one until the final has faded in.
    const bool finalShown = !finalLayers_.empty();
    const int hovered = tracker_.hoveredTab();
    if (finalShown) {
        for (const TabView& tab : layers_)
            paintTab(painter, tab);
    }
    const auto& tabs = shownTabs();
    for (int i = 0; i < static_cast<int>(tabs.size()); ++i) {
        if (i != hovered)
            paintTab(painter, tabs[i]);
    }
    if (hovered >= 0 && hovered < static_cast<int>(tabs.size()))
        paintTab(painter, tabs[hovered]);
}

int KZProgressTabs::tabAt(QPointF point) const
{
    const auto& tabs = shownTabs();
    const int hovered = tracker_.hoveredTab();
    // The tab drawn on top is asked first.
    if (hovered >= 0 && hovered < static_cast<int>(tabs.size())
        && tabs[hovered].outline.contains(point))
        return hovered;
    for (int i = 0; i < static_cast<int>(tabs.size()); ++i) {
        if (tabs[i].opacity > 0 && tabs[i].outline.contains(point))
            return i;
    }
    return -1;
}

QRegion KZProgressTabs::tabsRegion() const
{
    QRegion region;
    for (const auto* tabs : {&layers_, &finalLayers_}) {
        for (const TabView& tab : *tabs) {
            // Grown by the stroke so the outline's edge is not cut off.
            QPainterPathStroker stroker;
            stroker.setWidth(4);
            const QPainterPath& outline = tab.outline;
            region += QRegion(outline.united(stroker.createStroke(outline)).toFillPolygon().toPolygon());
        }
    }
    return region;
}

// ---- Pointer -------------------------------------------------------------------------

void KZProgressTabs::mouseMoveEvent(QMouseEvent* event)
{
    tracker_.mouseMove(tabAt(event->position()), event->globalPosition());
}

void KZProgressTabs::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    tracker_.mousePress(tabAt(event->position()), event->globalPosition(), searchRunning_());
}

void KZProgressTabs::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    tracker_.mouseRelease(tabAt(event->position()), searchRunning_());
}

void KZProgressTabs::leaveEvent(QEvent*)
{
    tracker_.mouseLeave();
}

void KZProgressTabs::bringTabToFront(int)
{
    update();
}

void KZProgressTabs::showTabInfo(int tab)
{
    const auto& tabs = shownTabs();
    if (tab < 0 || tab >= static_cast<int>(tabs.size()))
        return;
    platform::NotificationCenter::defaultCenter().post(
        KZNotification::updatefileTypeInfo, platform::bundleIdentifier(),
        {{QStringLiteral("fileTypeItem"), QVariant::fromValue(tabs[tab].label)}});
}

void KZProgressTabs::hideTabInfoSoon()
{
    update();
    platform::NotificationCenter::defaultCenter().post(KZNotification::installRemotion, platform::bundleIdentifier());
}

void KZProgressTabs::setTabPressed(int tab, bool pressed)
{
    auto& tabs = shownTabsMutable();
    if (tab < 0 || tab >= static_cast<int>(tabs.size()))
        return;
    tabs[tab].pressed = pressed;
    update();
}

void KZProgressTabs::openTab(int tab)
{
    const auto& tabs = shownTabs();
    if (tab < 0 || tab >= static_cast<int>(tabs.size()))
        return;
    platform::NotificationCenter::defaultCenter().post(
        KZNotification::showResultWithTag, platform::bundleIdentifier(),
        {{QStringLiteral("tag"), QVariant::fromValue<qulonglong>(tabs[tab].label->tag())}});
}

void KZProgressTabs::beep()
{
    QApplication::beep();
}

void KZProgressTabs::startWindowDrag(QPointF screenPos)
{
    dragReference_ = screenPos;
}

void KZProgressTabs::dragWindowTo(QPointF screenPos)
{
    QWidget* top = window();
    const QScreen* screen = top->screen() ? top->screen() : QGuiApplication::primaryScreen();
    const double availableTop = screen ? screen->availableGeometry().top() : 0.0;
    const QPointF moved = G::windowDragStep(top->pos(), screenPos - dragReference_, availableTop);
    top->move(moved.toPoint());
    dragReference_ = screenPos;
}
