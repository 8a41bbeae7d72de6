#pragma once

#include "app/progress/KZFakeTabTracker.h"
#include "app/progress/KZProgressRingGeometry.h"
#include "app/progress/KZSearchProgressDisplay.h"
#include "platform/Subscription.h"

#include <QPainterPath>
#include <QPointer>
#include <QWidget>

#include <memory>
#include <vector>

class QVariantAnimation;

// The ring of file-type tabs beside the progress disc. While the search runs
// every type found so far has an equal tab; at the end the ring is rebuilt
// once with widths by the logarithm of each type's bytes and thickness by
// its ratio to the smallest, and fades in over the running ring.
//
// One widget paints every tab and takes every pointer event: a tab is found
// by its arc-shaped outline, the hovered tab is painted last, and a press
// off every arc drags the window.
class KZProgressTabs : public QWidget, private KZFakeTabTracker::Host {
    Q_OBJECT
public:
    struct TabView {
        KZFileTypeLabelRef label;
        quint64 tag = 0;
        int tagged = 0;
        KZProgressRingGeometry::Tab geometry;
        double oldHalfAngleAperture = 0;
        double builtAngle = 0;
        QPainterPath outline; // in widget coordinates; the hit-test shape
        QPainterPath stroke;  // the outer edges only
        double opacity = 1;
        bool pressed = false;
    };

    explicit KZProgressTabs(QWidget* parent = nullptr);
    ~KZProgressTabs() override;

    // The centre of the ring, in this widget's coordinates.
    void setRingCentre(QPointF centre);
    QPointF ringCentre() const { return centre_; }
    // Whether a search runs (a click then only beeps); defaults to the
    // process-wide search flag.
    void setSearchRunningProvider(std::function<bool()> provider) { searchRunning_ = std::move(provider); }

    void initializeForNewSearch();
    void updateTabsStatus(const KZFileTypeSnapshot& types);
    void finalUpdateTabsStatus(const KZFileTypeSnapshot& types);
    bool hasFinalRing() const { return !finalLayers_.empty(); }

    const std::vector<TabView>& layers() const { return layers_; }
    const std::vector<TabView>& finalLayers() const { return finalLayers_; }
    // The tabs on screen now: the final ring once it exists, else the running one.
    const std::vector<TabView>& shownTabs() const;
    // Index into shownTabs() of the tab under `point`, or -1.
    int tabAt(QPointF point) const;
    int hoveredTab() const { return tracker_.hoveredTab(); }
    // The area the tabs cover (for the window's mask).
    QRegion tabsRegion() const;

Q_SIGNALS:
    // The tabs' area changed.
    void tabsChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    // KZFakeTabTracker::Host
    void bringTabToFront(int tab) override;
    void showTabInfo(int tab) override;
    void hideTabInfoSoon() override;
    void setTabPressed(int tab, bool pressed) override;
    void openTab(int tab) override;
    void beep() override;
    void startWindowDrag(QPointF screenPos) override;
    void dragWindowTo(QPointF screenPos) override;

    void applyGeometry(TabView& tab, const KZProgressRingGeometry::Tab& geometry);
    void paintTab(QPainter& painter, const TabView& tab) const;
    std::vector<TabView>& shownTabsMutable();
    void removeFileTypeLabel(quint64 tag);
    void fadeIn(std::vector<TabView>& tabs, bool dropRunningRingAtEnd);

    QPointF centre_;
    std::vector<TabView> layers_;
    std::vector<TabView> finalLayers_;
    KZFileTypeSnapshot currFileTypes_;
    KZFakeTabTracker tracker_{*this};
    std::function<bool()> searchRunning_;
    QPointF dragReference_;
    QPointer<QVariantAnimation> fade_;
    QPointer<QVariantAnimation> runningFade_;
    platform::Subscription removeObservation_;
};
