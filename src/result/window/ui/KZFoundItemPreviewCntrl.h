#pragma once

#include "platform/Subscription.h"
#include "result/model/ui/KZResultTabParts.h"
#include "result/window/KZPreviewGeometry.h"
#include "result/window/KZPreviewItem.h"
#include "result/window/ui/KZPreviewPanel.h"

#include <QHash>
#include <QObject>
#include <QPointer>

#include <functional>
#include <vector>

class KZPreview;
class KZWorkspace;
class QLabel;
class QScrollArea;
class QWidget;

// The preview pane of one tab: a card for every selected row of the tab's
// list, in row order, beside the list (cards scroll vertically) or under it
// (cards scroll horizontally). The cards follow the selection by
// difference: a card that stays selected keeps its widget and place, only
// the cards of rows that left go and those of new rows come. Every selected
// row has its card model, but only the cards in or near the visible part of
// the pane are built, so that selecting every row of a long list costs the
// sizes of its cards and no more. While its tab is on screen the pane is
// also what the preview panel shows.
//
// Main thread only. Each selection is applied by a queued update, after
// "listSelectionDidChange" has been posted, in the order they came.
class KZFoundItemPreviewCntrl : public QObject, public KZPreviewPane, public KZPreviewPanelDataSource {
    Q_OBJECT
public:
    struct Settings {
        // The object of the tab's "splitViewDidCollapse"/"splitViewDidUncollapse".
        const void* outlineView = nullptr;
        // Hands the list's selection back through showPreviewWithArray().
        std::function<void()> prepareToShowPreview;
        // Whether the pane's tab is the one on screen; empty: the tab's
        // result view (an ancestor named "ResultView") is not hidden.
        std::function<bool()> isTabOnScreen;
        // Where Space opens and closes the preview panel.
        QWidget* keyView = nullptr;
        KZWorkspace* workspace = nullptr;
        std::function<void()> beep;
        // Where a found item's row shows on screen; empty when it is out of
        // view.
        std::function<QRect(const KZFoundItemRef&)> rectOfItem;
    };

    static constexpr double sectionInset = 10;
    static constexpr double cardSpacing = 10;

    explicit KZFoundItemPreviewCntrl(Settings settings);
    ~KZFoundItemPreviewCntrl() override;

    QWidget* view() override { return view_; }
    QScrollArea* collectionView() const { return scrollArea_; }
    QLabel* emptyPreviewFld() const { return emptyPreviewFld_; }

    // The preview items of the selection, one per selected row with its row
    // as index; empty when nothing is selected.
    void showPreviewWithArray(const KZPreviewItems& items);
    bool splitViewIsCollapsed() const { return splitViewIsCollapsed_; }
    void setSplitViewIsCollapsed(bool collapsed);
    bool qlPanelIsVisible() const { return qlPanelIsVisible_; }
    bool splitIsVertical() const { return splitIsVertical_; }
    void updateQuickLookPanelDelegate();

    // The card models in display order.
    const KZPreviewItems& itemsCollection() const { return itemsCollection_; }
    // The built cards, in display order, and the card of an item if built.
    QList<KZPreview*> cards() const;
    KZPreview* cardForItem(const KZPreviewItem* item) const { return cards_.value(item); }
    int liveCardCount() const { return int(cards_.size()); }
    // The size of the card at `index` of the collection, in the part of the
    // pane the scroll bar leaves free.
    QSize itemSize(int index);
    // The widest of an item's information lines, in the system font at 12.
    double widestText(const KZPreviewItem& item);

    // The positions the last difference deleted (in the old collection) and
    // inserted (in the new one).
    struct Difference {
        QList<int> deleted;
        QList<int> inserted;
    };
    const Difference& lastDifference() const { return lastDifference_; }

    // KZPreviewPanelDataSource
    int numberOfPreviewItems() const override { return int(itemsCollection_.size()); }
    KZPreviewItemRef previewItemAt(int index) const override;
    bool previewPanelKeyPress(const QKeyEvent& event) override;
    QRect sourceFrameOnScreen(const KZPreviewItemRef& item) const override;
    QImage transitionImage(const KZPreviewItemRef& item) const override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QSize itemSize(int index, QSizeF pane);
    void applyUpdate(const KZPreviewItems& items);
    void updateCollectionViewItems(KZPreviewItems newItems);
    void reloadCollection();
    void showAppropriateView(bool has);
    void relayout();
    void scheduleRelayout();
    void syncCards();
    void switchPositionSplitView();
    void updateScrollDirection();
    void quickLookWindowVisibilityWillChange(const QVariantMap& info);
    void splitViewDidCollapse();
    void splitViewDidUncollapse();
    bool tabIsOnScreen() const;
    void reloadPanelIfOurs();

    Settings settings_;
    QWidget* view_ = nullptr;
    QPointer<QWidget> viewGuard_;
    QPointer<QWidget> keyView_;
    QScrollArea* scrollArea_ = nullptr;
    QWidget* canvas_ = nullptr;
    QLabel* emptyPreviewFld_ = nullptr;
    KZPreviewItems itemsCollection_;
    QHash<const KZPreviewItem*, KZPreview*> cards_;
    QList<QRect> frames_;
    bool splitViewIsCollapsed_ = false;
    bool splitViewWasCollapsed_ = false;
    bool needsReload_ = false;
    bool qlPanelIsVisible_ = false;
    bool splitIsVertical_ = false;
    bool relayoutQueued_ = false;
    bool inRelayout_ = false;
    double exifDescrptionWidth_ = 0;
    double tagDescrptionWidth_ = 0;
    QHash<QString, double> textWidths_;
    Difference lastDifference_;
    std::vector<platform::Subscription> observations_;
};
