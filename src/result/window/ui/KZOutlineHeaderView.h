#pragma once

#include <QHeaderView>

// The list's column header. Qt marks an ascending column as "sort down",
// which the desktop styles draw as a downward arrow; a user reads an arrow
// pointing up as smallest first, so the header draws the arrow that agrees
// with the order of the rows.
class KZOutlineHeaderView : public QHeaderView {
    Q_OBJECT
public:
    explicit KZOutlineHeaderView(QWidget* parent = nullptr);

protected:
    void initStyleOptionForIndex(QStyleOptionHeader* option, int logicalIndex) const override;
};
