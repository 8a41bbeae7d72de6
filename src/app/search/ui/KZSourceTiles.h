#pragma once

#include "app/search/KZSourcesCntrl.h"

#include <QIcon>
#include <QPointer>
#include <QScrollArea>
#include <QWidget>

#include <vector>

class QLabel;
class KZSourcesCollectionView;

// One source's tile: its icon, its name, the path as tool tip, and on hover
// a round close button at the icon's top-left corner. Tab reaches it: the
// focused tile shows its close button inside a focus ring, Space, Return or
// Delete closes it, and the menu key opens what a right click opens.
class KZCSourceView : public QWidget {
    Q_OBJECT
public:
    static constexpr int tileWidth = 100;
    static constexpr int tileHeight = 148;

    KZCSourceView(const KZSourceTile& tile, KZSourcesCollectionView* row, QWidget* parent);

    const KZSourceTile& tile() const { return tile_; }
    QRect iconRect() const { return {18, 14, 64, 64}; }
    QRect closeButtonRect() const { return {iconRect().x(), iconRect().y(), 20, 20}; }

    bool isInsideView() const { return isInsideView_; }
    bool isInsideXBtn() const { return isInsideXBtn_; }
    bool hitInside() const { return hitInside_; }
    bool mouseIsDown() const { return mouseIsDown_; }
    bool mouseRefusedToFire() const { return mouseRefusedToFire_; }
    void initializeVariables();

    // Whether any window of the program has the keyboard focus: tiles show
    // no hover while the program is in the background.
    static bool windowIsKey();
    static void setWindowIsKey(bool key);

Q_SIGNALS:
    void closeClicked(const KZSourceItemRef& source);
    void popoverRequested(KZCSourceView* tile);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void trackPointer(const QPoint& position);
    void enterAreas(const QPoint& position);

    KZSourceTile tile_;
    QPointer<KZSourcesCollectionView> row_;
    QIcon icon_;
    QLabel* nameLabel_ = nullptr;
    bool isInsideView_ = false;
    bool isInsideXBtn_ = false;
    bool hitInside_ = false;
    bool mouseIsDown_ = false;
    bool mouseRefusedToFire_ = false;
};

// The horizontal row of tiles, centred in the drop area. Its width follows
// the number of tiles; a removal animates it.
class KZSourcesCollectionView : public QScrollArea {
    Q_OBJECT
public:
    explicit KZSourcesCollectionView(QWidget* parent = nullptr);

    void setContent(const std::vector<KZSourceTile>& tiles, bool animate);
    void removeItemWithSourceItem(const KZSourceItemRef& source);
    void setCollectionEmpty();
    void adjustSizeAnimating(bool animate);

    const std::vector<KZCSourceView*>& tiles() const { return tiles_; }
    KZCSourceView* tileForSource(const KZSourceItemRef& source) const;
    bool mouseIsDownInView() const { return mouseIsDownInView_; }
    void setMouseIsDownInView(bool down) { mouseIsDownInView_ = down; }
    bool canFireForView(const KZCSourceView* tile) const;
    void initializeVariablesForOtherViewsThan(const KZCSourceView* tile);

Q_SIGNALS:
    void closeClicked(const KZSourceItemRef& source);
    void popoverRequested(KZCSourceView* tile);

private:
    void layoutTiles();

    QWidget* strip_;
    std::vector<KZCSourceView*> tiles_;
    bool mouseIsDownInView_ = false;
};
