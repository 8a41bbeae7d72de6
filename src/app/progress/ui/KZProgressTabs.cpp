#include "app/progress/ui/KZProgressTabs.h"

#include "app/progress/KZProgressRingGeometry.h"
#include "app/progress/ui/KZProgressTabView.h"
#include "platform/MainThread.h"
#include "platform/NotificationCenter.h"
#include "services/KZSearchInProgress.h"
#include "services/ui/KZAnimationTiming.h"
#include "settings/KZNotificationNames.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainterPathStroker>
#include <QScreen>
#include <QVariantAnimation>

#include <algorithm>

namespace G = KZProgressRingGeometry;

namespace {
constexpr double kFadeSeconds = 0.25;
}

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
        for (KZProgressTabView* tab : *tabs)
            tab->setCentre(centre);
    }
    Q_EMIT tabsChanged();
}

const std::vector<KZProgressTabView*>& KZProgressTabs::shownTabs() const
{
    return finalLayers_.empty() ? layers_ : finalLayers_;
}

void KZProgressTabs::removeLayers(std::vector<KZProgressTabView*>& tabs)
{
    for (KZProgressTabView* tab : tabs) {
        tab->hide();
        tab->deleteLater();
    }
    tabs.clear();
}

void KZProgressTabs::initializeForNewSearch()
{
    if (finalFade_)
        finalFade_->stop();
    removeLayers(layers_);
    removeLayers(finalLayers_);
    currFileTypes_.clear();
    fakeTabView_.reset();
    Q_EMIT tabsChanged();
}

KZProgressTabView* KZProgressTabs::createNewLayerWithInfo(const KZFileTypeLabelRef& label)
{
    auto* tab = new KZProgressTabView(QRect(0, 0, width(), height()), label, centre_, this);
    tab->show();
    return tab;
}

void KZProgressTabs::updateTabsStatus(const KZFileTypeSnapshot& types)
{
    // New types join at the end of the running ring; every tab is then
    // re-spaced equally.
    std::vector<KZProgressTabView*> added;
    for (const auto& [tag, label] : types) {
        const bool known = std::any_of(layers_.begin(), layers_.end(), [tag = tag](KZProgressTabView* t) {
            return t->fileTypeItem() && t->fileTypeItem()->tag() == tag;
        });
        if (known)
            continue;
        KZProgressTabView* tab = createNewLayerWithInfo(label);
        tab->setTagged(static_cast<qint64>(std::distance(types.begin(), types.find(tag))));
        if (!finalLayers_.empty())
            tab->lower();
        layers_.push_back(tab);
        added.push_back(tab);
    }
    std::vector<quint64> tags;
    for (KZProgressTabView* tab : layers_)
        tags.push_back(tab->fileTypeItem() ? tab->fileTypeItem()->tag() : 0);
    const auto geometry = G::runningLayout(tags);
    for (std::size_t i = 0; i < layers_.size(); ++i)
        layers_[i]->updateTabWithLayerAndWithAperture(geometry[i].halfAperture, geometry[i].thickness,
                                                      geometry[i].angle);
    if (!added.empty()) {
        fadeIn(added, false);
        Q_EMIT tabsChanged();
    }
}

void KZProgressTabs::finalUpdateTabsStatus(const KZFileTypeSnapshot& types)
{
    updateTabsStatus(types);
    currFileTypes_ = types;
    removeLayers(finalLayers_);
    fakeTabView_.reset();

    std::vector<std::pair<quint64, quint64>> sizes;
    for (const auto& [tag, label] : types)
        sizes.emplace_back(tag, label->size());
    const auto geometry = G::finalLayout(sizes);
    qint64 index = 0;
    for (const G::Tab& g : geometry) {
        KZProgressTabView* tab = createNewLayerWithInfo(types.at(g.tag));
        tab->setTagged(index++);
        tab->updateTabWithLayerAndWithAperture(g.halfAperture, g.thickness, g.angle);
        finalLayers_.push_back(tab);
    }
    if (!finalLayers_.empty())
        fadeIn(finalLayers_, true);
    Q_EMIT tabsChanged();
}

void KZProgressTabs::fadeIn(const std::vector<KZProgressTabView*>& tabs, bool dropRunningRingAtEnd)
{
    std::vector<QPointer<KZProgressTabView>> fading(tabs.begin(), tabs.end());
    const auto atEnd = [this, fading, dropRunningRingAtEnd] {
        for (const auto& tab : fading) {
            if (tab)
                tab->setContainerOpacity(1.0);
        }
        if (!dropRunningRingAtEnd)
            return;
        removeLayers(layers_);
        Q_EMIT tabsChanged();
        platform::NotificationCenter::defaultCenter().post(KZNotification::tabsAnimationDidEnd,
                                                           platform::bundleIdentifier());
    };
    // A hidden ring is shown whole when its window comes up.
    if (!window()->isVisible()) {
        if (dropRunningRingAtEnd && finalFade_)
            finalFade_->stop();
        atEnd();
        return;
    }
    auto* animation = new QVariantAnimation(this);
    animation->setStartValue(0.0);
    animation->setEndValue(1.0);
    animation->setDuration(KZAnimationTiming::milliseconds(kFadeSeconds));
    connect(animation, &QVariantAnimation::valueChanged, this, [fading](const QVariant& value) {
        for (const auto& tab : fading) {
            if (tab)
                tab->setContainerOpacity(value.toDouble());
        }
    });
    connect(animation, &QVariantAnimation::finished, this, atEnd);
    if (dropRunningRingAtEnd) {
        if (finalFade_)
            finalFade_->stop();
        finalFade_ = animation;
    }
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

void KZProgressTabs::removeFileTypeLabel(quint64 tag)
{
    if (currFileTypes_.erase(tag) == 0)
        return;
    removeLayers(finalLayers_);
    removeLayers(layers_);
    fakeTabView_.reset();
    if (!currFileTypes_.empty()) {
        const KZFileTypeSnapshot remaining = currFileTypes_;
        finalUpdateTabsStatus(remaining);
    } else {
        Q_EMIT tabsChanged();
    }
}

int KZProgressTabs::tabAt(QPointF point) const
{
    const auto& tabs = shownTabs();
    const int hovered = fakeTabView_.hoveredTab();
    // The tab drawn on top is asked first.
    if (hovered >= 0 && hovered < static_cast<int>(tabs.size()) && tabs[hovered]->pathContainsPoint(point))
        return hovered;
    for (int i = 0; i < static_cast<int>(tabs.size()); ++i) {
        if (tabs[i]->containerOpacity() > 0 && tabs[i]->pathContainsPoint(point))
            return i;
    }
    return -1;
}

QRegion KZProgressTabs::tabsRegion() const
{
    QRegion region;
    QPainterPathStroker stroker;
    stroker.setWidth(KZTabSuperview::kLineWidth + 2);
    for (const auto* tabs : {&layers_, &finalLayers_}) {
        for (const KZProgressTabView* tab : *tabs) {
            const QPainterPath& outline = tab->savedPath();
            region += QRegion(outline.united(stroker.createStroke(outline)).toFillPolygon().toPolygon());
        }
    }
    return region;
}

// ---- Pointer -------------------------------------------------------------------------

void KZProgressTabs::mouseMoveEvent(QMouseEvent* event)
{
    fakeTabView_.mouseMove(tabAt(event->position()), event->globalPosition());
}

void KZProgressTabs::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    fakeTabView_.mousePress(tabAt(event->position()), event->globalPosition(), searchRunning_());
}

void KZProgressTabs::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    fakeTabView_.mouseRelease(tabAt(event->position()), searchRunning_());
}

void KZProgressTabs::leaveEvent(QEvent*)
{
    fakeTabView_.mouseLeave();
}

void KZProgressTabs::bringTabToFront(int tab)
{
    const auto& tabs = shownTabs();
    if (tab >= 0 && tab < static_cast<int>(tabs.size()))
        tabs[tab]->raise();
}

void KZProgressTabs::showTabInfo(int tab)
{
    const auto& tabs = shownTabs();
    if (tab < 0 || tab >= static_cast<int>(tabs.size()))
        return;
    platform::NotificationCenter::defaultCenter().post(
        KZNotification::updatefileTypeInfo, platform::bundleIdentifier(),
        {{QStringLiteral("fileTypeItem"), QVariant::fromValue(tabs[tab]->fileTypeItem())}});
}

void KZProgressTabs::hideTabInfoSoon()
{
    platform::NotificationCenter::defaultCenter().post(KZNotification::installRemotion, platform::bundleIdentifier());
}

void KZProgressTabs::setTabPressed(int tab, bool pressed)
{
    const auto& tabs = shownTabs();
    if (tab < 0 || tab >= static_cast<int>(tabs.size()))
        return;
    if (pressed)
        tabs[tab]->drawTabHighlight();
    else
        tabs[tab]->removeTabHighlight();
}

void KZProgressTabs::openTab(int tab)
{
    const auto& tabs = shownTabs();
    if (tab < 0 || tab >= static_cast<int>(tabs.size()) || !tabs[tab]->fileTypeItem())
        return;
    platform::NotificationCenter::defaultCenter().post(
        KZNotification::showResultWithTag, platform::bundleIdentifier(),
        {{QStringLiteral("tag"), QVariant::fromValue<qulonglong>(tabs[tab]->fileTypeItem()->tag())}});
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
