#include "result/window/ui/KZFoundItemsModel.h"

#include "platform/StringTable.h"
#include "result/model/KZColumnKeys.h"
#include "result/window/KZTableHeaderCntrl.h"
#include "services/KZNumberUtilities.h"

#include <QPainter>
#include <QPainterPath>

namespace {

const KZFoundItemGroup* groupOf(const QModelIndex& index)
{
    return static_cast<const KZFoundItemGroup*>(index.internalPointer());
}

} // namespace

KZFoundItemsModel::KZFoundItemsModel(QObject* parent) : QAbstractItemModel(parent) {}

void KZFoundItemsModel::setList(const std::optional<KZShownList>& list)
{
    beginResetModel();
    list_ = list;
    groupRows_.clear();
    if (list_ && list_->isGrouped()) {
        const auto& groups = list_->root->groups();
        groupRows_.reserve(groups.size());
        for (int i = 0; i < groups.size(); ++i)
            groupRows_.insert(groups.at(i).get(), i);
    }
    endResetModel();
}

bool KZFoundItemsModel::isEmptyList() const
{
    return !list_ || list_->rowCount() == 0;
}

KZListRow KZFoundItemsModel::rowAt(const QModelIndex& index) const
{
    if (!index.isValid() || !list_)
        return {};
    if (!list_->isGrouped())
        return index.row() < list_->items.size() ? KZListRow{nullptr, list_->items.at(index.row())} : KZListRow{};
    const auto& groups = list_->root->groups();
    if (const KZFoundItemGroup* parentGroup = groupOf(index)) {
        const int groupRow = groupRows_.value(parentGroup, -1);
        if (groupRow < 0)
            return {};
        const KZFoundItemGroupRef& group = groups.at(groupRow);
        if (index.row() >= group->items().size())
            return {};
        return {group, group->items().at(index.row())};
    }
    return index.row() < groups.size() ? KZListRow{groups.at(index.row()), nullptr} : KZListRow{};
}

QModelIndex KZFoundItemsModel::indexOfGroup(const KZFoundItemGroup* group, int column) const
{
    const int row = groupRows_.value(group, -1);
    return row < 0 ? QModelIndex() : createIndex(row, column, nullptr);
}

QModelIndex KZFoundItemsModel::indexOfRow(const KZListRow& row, int column) const
{
    if (!list_)
        return {};
    if (row.isGroupRow())
        return indexOfGroup(row.group.get(), column);
    if (!row.item)
        return {};
    if (!list_->isGrouped()) {
        const qsizetype at = list_->items.indexOf(row.item);
        return at < 0 ? QModelIndex() : createIndex(int(at), column, nullptr);
    }
    if (!row.group)
        return {};
    const int groupRow = groupRows_.value(row.group.get(), -1);
    if (groupRow < 0)
        return {};
    const qsizetype at = row.group->items().indexOf(row.item);
    return at < 0 ? QModelIndex() : createIndex(int(at), column, row.group.get());
}

QModelIndex KZFoundItemsModel::index(int row, int column, const QModelIndex& parent) const
{
    if (row < 0 || column < 0 || column >= columnCount() || !list_)
        return {};
    if (!parent.isValid())
        return row < list_->rowCount() ? createIndex(row, column, nullptr) : QModelIndex();
    if (!list_->isGrouped() || groupOf(parent))
        return {};
    const auto& groups = list_->root->groups();
    if (parent.row() >= groups.size())
        return {};
    const KZFoundItemGroup* group = groups.at(parent.row()).get();
    return row < group->items().size() ? createIndex(row, column, const_cast<KZFoundItemGroup*>(group)) : QModelIndex();
}

QModelIndex KZFoundItemsModel::parent(const QModelIndex& child) const
{
    const KZFoundItemGroup* group = child.isValid() ? groupOf(child) : nullptr;
    return group ? indexOfGroup(group) : QModelIndex();
}

int KZFoundItemsModel::rowCount(const QModelIndex& parent) const
{
    if (!list_)
        return 0;
    if (!parent.isValid())
        return int(list_->rowCount());
    if (parent.column() != 0 || !list_->isGrouped() || groupOf(parent))
        return 0;
    const auto& groups = list_->root->groups();
    return parent.row() < groups.size() ? int(groups.at(parent.row())->items().size()) : 0;
}

int KZFoundItemsModel::columnCount(const QModelIndex&) const
{
    return int(KZTableHeaderCntrl::all().size());
}

bool KZFoundItemsModel::hasChildren(const QModelIndex& parent) const
{
    if (!parent.isValid())
        return list_ && list_->rowCount() > 0;
    // Every group is expandable, even before its members are laid out.
    return list_ && list_->isGrouped() && !groupOf(parent) && parent.column() == 0;
}

QVariant KZFoundItemsModel::objectValue(const KZListRow& row, const QString& column)
{
    using namespace KZColumnKey;
    if (row.isGroupRow())
        return row.group->name();
    const KZFoundItemRef& item = row.item;
    if (!item)
        return {};
    if (column == check_col)
        return item->isMarked() ? 1 : 0;
    if (column == location_tag_col)
        return item->locationImage();
    if (column == name_col)
        return item->name();
    if (column == date_modified_col)
        return item->cfDateModified();
    if (column == size_col) {
        if (item->isDirectory() && item->size() == 0)
            return QStringLiteral("-");
        return KZNumberUtilities::sharedControl().sizeToFormatString(item->size(), 4, true);
    }
    if (column == kind_col)
        return item->kind();
    return {};
}

QVariant KZFoundItemsModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid())
        return {};
    const KZListRow row = rowAt(index);
    if (role == GroupRowRole)
        return row.isGroupRow();
    if (role == Qt::ToolTipRole) {
        if (!row.item || row.isGroupRow() ||
            KZTableHeaderCntrl::all().at(index.column()).identifier != KZColumnKey::location_tag_col)
            return {};
        const QString folder = sourceFolders_.value(row.item->locationLabelTag());
        return folder.isEmpty() ? QVariant() : QVariant(platform::localizedString(QStringLiteral("source_mark_tip")).arg(folder));
    }
    if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole) {
        const QString column = KZTableHeaderCntrl::all().at(index.column()).identifier;
        if (column == KZColumnKey::location_tag_col || column == KZColumnKey::check_col)
            return {};
        const QVariant value = objectValue(row, column);
        return value.typeId() == QMetaType::QDateTime ? QVariant(value.toDateTime().toString()) : value;
    }
    return {};
}

QImage KZFoundItemsModel::checkHeaderImage()
{
    static const QImage image = [] {
        QImage img(16, 16, QImage::Format_ARGB32_Premultiplied);
        img.fill(Qt::transparent);
        QPainter p(&img);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(QColor(90, 90, 90), 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        QPainterPath tick;
        tick.moveTo(3.5, 8.5);
        tick.lineTo(6.8, 12);
        tick.lineTo(12.5, 4);
        p.drawPath(tick);
        return img;
    }();
    return image;
}

QImage KZFoundItemsModel::labelHeaderImage()
{
    static const QImage image = [] {
        QImage img(16, 16, QImage::Format_ARGB32_Premultiplied);
        img.fill(Qt::transparent);
        QPainter p(&img);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(QColor(90, 90, 90), 1.2));
        QPainterPath tag;
        tag.moveTo(2.5, 4.5);
        tag.lineTo(10, 4.5);
        tag.lineTo(13.5, 8);
        tag.lineTo(10, 11.5);
        tag.lineTo(2.5, 11.5);
        tag.closeSubpath();
        p.drawPath(tag);
        p.drawEllipse(QPointF(9.5, 8), 1, 1);
        return img;
    }();
    return image;
}

void KZFoundItemsModel::setKindGathering(bool gathering)
{
    if (kindGathering_ == gathering)
        return;
    kindGathering_ = gathering;
    const int section = KZTableHeaderCntrl::indexOf(KZColumnKey::kind_col);
    Q_EMIT headerDataChanged(Qt::Horizontal, section, section);
}

QVariant KZFoundItemsModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= columnCount())
        return {};
    const KZResultColumn& column = KZTableHeaderCntrl::all().at(section);
    switch (role) {
    case Qt::DisplayRole:
        if (column.titleKey.isEmpty())
            return QString();
        if (kindGathering_ && column.identifier == KZColumnKey::kind_col)
            return platform::localizedString(QStringLiteral("kind_gathering_data"));
        return platform::localizedString(column.titleKey);
    case Qt::DecorationRole:
        if (column.headerImage == QLatin1String("check_header"))
            return checkHeaderImage();
        if (column.headerImage == QLatin1String("label_header"))
            return labelHeaderImage();
        return {};
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(column.headerAlignment | Qt::AlignVCenter);
    default:
        return {};
    }
}

Qt::ItemFlags KZFoundItemsModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}
