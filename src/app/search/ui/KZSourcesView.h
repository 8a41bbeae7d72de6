#pragma once

#include <QWidget>

class KZSourcesCollectionView;

// The area behind the tiles: the lower part of the round window, with a dome
// that holds the small add button once sources are there.
class KZSourcesView : public QWidget {
    Q_OBJECT
public:
    explicit KZSourcesView(QWidget* parent = nullptr);

    // Sized to half the view, parked at the view's bottom edge.
    void install(QWidget* view, QWidget* below);
    // The frame in the parent with the origin at its bottom (y up).
    QRectF yUpFrame() const;
    // Frames in the parent (y down) of the parked and the shown state.
    QRect parkedFrame() const;
    QRect shownFrame() const;

    int addedItems() const { return addedItems_; }
    void setAddedItems(int count) { addedItems_ = count; update(); }
    bool itemsAddedFromAddBtn() const { return itemsAddedFromAddBtn_; }
    void setItemsAddedFromAddBtn(bool value) { itemsAddedFromAddBtn_ = value; }
    double addButtonCircleRadius() const { return addButtonCircleRadius_; }
    void setAddButtonCircleRadius(double radius) { addButtonCircleRadius_ = radius; update(); }
    // Kept for the drag feedback; nothing draws it.
    double dashPhase() const { return dashPhase_; }
    void setDashPhase(double phase) { dashPhase_ = phase; }

    KZSourcesCollectionView* collection() const { return collection_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    KZSourcesCollectionView* collection_ = nullptr;
    int addedItems_ = 0;
    bool itemsAddedFromAddBtn_ = false;
    double addButtonCircleRadius_ = 0.0;
    double dashPhase_ = 0.0;
};
