#pragma once

#include "result/model/KZShownList.h"

#include <QAbstractItemModel>
#include <QHash>
#include <QImage>

// The rows of one shown list for the outline: grouped (groups at the top
// level, their members under them) or flat (items only). Every row has the
// six columns of the result list; cells are painted by the outline's
// delegate, which reads the row through rowAt().
class KZFoundItemsModel : public QAbstractItemModel {
    Q_OBJECT
public:
    enum Role { GroupRowRole = Qt::UserRole + 1 };

    explicit KZFoundItemsModel(QObject* parent = nullptr);

    // Replaces the list; an absent list shows no rows.
    void setList(const std::optional<KZShownList>& list);
    const std::optional<KZShownList>& list() const { return list_; }
    bool isGrouped() const { return list_ && list_->isGrouped(); }
    bool isEmptyList() const;

    KZListRow rowAt(const QModelIndex& index) const;
    QModelIndex indexOfGroup(const KZFoundItemGroup* group, int column = 0) const;
    // The index of an item row; invalid when the item is not a row (its
    // group is unknown, or it is not in the list).
    QModelIndex indexOfRow(const KZListRow& row, int column = 0) const;
    // Header images, drawn once.
    static QImage checkHeaderImage();
    static QImage labelHeaderImage();
    void setKindGathering(bool gathering);
    // The folders searched, by location label: the tooltip of an item's
    // coloured location mark names its folder.
    void setSourceFolders(const QStringList& folders) { sourceFolders_ = folders; }

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    bool hasChildren(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // The text value of a cell (what an export or an accessibility tool reads).
    static QVariant objectValue(const KZListRow& row, const QString& column);

private:
    std::optional<KZShownList> list_;
    QHash<const KZFoundItemGroup*, int> groupRows_;
    bool kindGathering_ = false;
    QStringList sourceFolders_;
};
