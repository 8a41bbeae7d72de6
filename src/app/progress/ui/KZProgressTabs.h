#pragma once

#include "app/progress/KZFakeTabView.h"
#include "app/progress/KZSearchProgressDisplay.h"
#include "platform/Subscription.h"

#include <QPointer>
#include <QWidget>

#include <functional>
#include <vector>

class KZProgressTabView;
class QVariantAnimation;

// The ring of file-type tabs beside the progress disc. While the search runs
// every type found so far has an equal tab; at the end the ring is rebuilt
// once with widths by the logarithm of each type's bytes and thickness by
// its ratio to the smallest, and fades in over the running ring, which then
// goes ("tabsAnimationDidEnd").
//
// The tabs are child views that paint themselves; this view takes every
// pointer event for them: a tab is found by its arc-shaped outline, the
// hovered tab is raised above its neighbours, and a press off every arc
// drags the window.
class KZProgressTabs : public QWidget, private KZFakeTabView::Host {
    Q_OBJECT
public:
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

    const std::vector<KZProgressTabView*>& layers() const { return layers_; }
    const std::vector<KZProgressTabView*>& finalLayers() const { return finalLayers_; }
    // The tabs that take the pointer: the final ring once it exists.
    const std::vector<KZProgressTabView*>& shownTabs() const;
    // Index into shownTabs() of the tab under `point`, or -1.
    int tabAt(QPointF point) const;
    int hoveredTab() const { return fakeTabView_.hoveredTab(); }
    // The area the tabs cover (for the window's mask).
    QRegion tabsRegion() const;

Q_SIGNALS:
    // The tabs' area changed.
    void tabsChanged();

protected:
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    // KZFakeTabView::Host
    void bringTabToFront(int tab) override;
    void showTabInfo(int tab) override;
    void hideTabInfoSoon() override;
    void setTabPressed(int tab, bool pressed) override;
    void openTab(int tab) override;
    void beep() override;
    void startWindowDrag(QPointF screenPos) override;
    void dragWindowTo(QPointF screenPos) override;

    KZProgressTabView* createNewLayerWithInfo(const KZFileTypeLabelRef& label);
    static void removeLayers(std::vector<KZProgressTabView*>& tabs);
    void removeFileTypeLabel(quint64 tag);
    void fadeIn(const std::vector<KZProgressTabView*>& tabs, bool dropRunningRingAtEnd);

    QPointF centre_;
    std::vector<KZProgressTabView*> layers_;
    std::vector<KZProgressTabView*> finalLayers_;
    KZFileTypeSnapshot currFileTypes_;
    KZFakeTabView fakeTabView_{*this};
    std::function<bool()> searchRunning_;
    QPointF dragReference_;
    QPointer<QVariantAnimation> finalFade_;
    platform::Subscription removeObservation_;
};
