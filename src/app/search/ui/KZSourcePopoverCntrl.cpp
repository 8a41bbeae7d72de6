#include "app/search/ui/KZSourcePopoverCntrl.h"

#include "app/search/KZSearchGeometry.h"
#include "platform/DirectoryListing.h"
#include "platform/Log.h"
#include "platform/StringTable.h"
#include "services/KZFilesUtilities.h"
#include "app/search/ui/KZSourceIcon.h"
#include "services/ui/Popover.h"

#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QVBoxLayout>

#include <algorithm>
#include <system_error>

namespace {

constexpr int kExcludedRole = Qt::UserRole + 1;
constexpr int kIsFolderRow = Qt::UserRole + 2;

// Grey, struck-through names for the folders left out.
class ExcludeRowDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::paint(painter, option, index);
        if (!index.data(kExcludedRole).toBool())
            return;
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setPen(QPen(QColor::fromRgbF(0.782f, 0.011f, 0.011f), 1.0, Qt::SolidLine, Qt::RoundCap));
        const int y = option.rect.center().y();
        painter->drawLine(QPointF(option.rect.left() + 32.0, y), QPointF(option.rect.right() - 10.0, y));
        painter->restore();
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        size.setHeight(std::max(size.height(), 36));
        return size;
    }
};

} // namespace

KZSourcePopoverCntrl::KZSourcePopoverCntrl(QObject* parent) : QObject(parent) {}

KZSourcePopoverCntrl::~KZSourcePopoverCntrl()
{
    folderScanIsWorking_ = false;
    if (popover_)
        popover_->deleteLater();
}

bool KZSourcePopoverCntrl::isShown() const
{
    return popover_ && popover_->isVisible();
}

void KZSourcePopoverCntrl::showPopoverWitView(QWidget* tile)
{
    if (isShown()) {
        popover_->close();
        folderScanIsWorking_ = false;
        return;
    }
    if (!popover_) {
        popover_ = new platform::Popover(tile ? tile->window() : nullptr);
        popover_->setObjectName(QStringLiteral("excludePopover"));
        auto* box = new QWidget;
        auto* layout = new QVBoxLayout(box);
        layout->setContentsMargins(0, 0, 0, 0);
        auto* title = new QLabel(platform::localizedString(QStringLiteral("exclude_folders_title")));
        QFont font = title->font();
        font.setBold(true);
        title->setFont(font);
        layout->addWidget(title);
        table_ = new QListWidget;
        table_->setItemDelegate(new ExcludeRowDelegate(table_));
        table_->setIconSize(QSize(32, 32));
        table_->setFixedSize(250, 118);
        table_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        layout->addWidget(table_);
        popover_->setContentWidget(box);
        connect(table_, &QListWidget::itemChanged, this, [this](QListWidgetItem* item) {
            if (reloading_ || !item->data(kIsFolderRow).toBool())
                return;
            setRowExcluded(static_cast<std::size_t>(table_->row(item)), item->checkState() == Qt::Checked);
        });
    }
    startFolderScan();
    if (tile) {
        // The anchor is given y-up inside the tile.
        const QRectF anchor = KZSearchGeometry::popoverAnchor(tile->size());
        const QRect rect(qRound(anchor.x()), qRound(tile->height() - anchor.y() - anchor.height()),
                         qRound(anchor.width()), qRound(anchor.height()));
        popover_->showRelativeTo(tile, rect, platform::Popover::Edge::Below);
    }
}

void KZSourcePopoverCntrl::startFolderScan()
{
    folderScanIsWorking_ = true;
    rows_.clear();
    const KZSourceItemRef source = sourceItem();
    const auto& files = KZFilesUtilities::sharedControl();
    if (source && !files.isPackageWithURL(source->url())) {
        QStringList leaveOut = files.visibleSystemItems();
        leaveOut += files.invisibleSystemItems();
        const auto excluded = source->excluded();
        std::error_code error;
        std::vector<std::filesystem::path> children;
        for (std::filesystem::directory_iterator it(source->url(), error), end; !error && it != end;
             it.increment(error))
            children.push_back(it->path());
        if (error)
            platform::logLine(QStringLiteral("directoryEnumerator error: %1").arg(QString::fromStdString(error.message())));
        std::sort(children.begin(), children.end());
        for (const auto& child : children) {
            if (!folderScanIsWorking_)
                break;
            if (files.isHiddenWithURL(child))
                continue;
            const QString name = files.itemNameWithURL(child).value_or(QString());
            if (name.isEmpty() || leaveOut.contains(name))
                continue;
            if (!files.isDirectoryWithURL(child) || files.isPackageWithURL(child))
                continue;
            if (files.pathWithURL(child).empty())
                continue;
            Row row;
            row.name = name;
            row.url = child;
            row.isExcluded = std::find(excluded.begin(), excluded.end(), child) != excluded.end();
            rows_.push_back(row);
        }
    }
    folderScanIsWorking_ = false;
    reloadTable();
}

void KZSourcePopoverCntrl::updateItem(QListWidgetItem* item, std::size_t row)
{
    const Row& entry = rows_[row];
    QIcon icon = KZSourceIconForPath(entry.url);
    if (entry.isExcluded) {
        const QImage image = icon.pixmap(32, 32).toImage();
        icon = QIcon(QPixmap::fromImage(KZFilesUtilities::sharedControl().ghostIconWithIcon(image, QSize(32, 32))));
    }
    item->setIcon(icon);
    item->setText(entry.name);
    item->setForeground(entry.isExcluded ? QColor(Qt::gray) : QColor(Qt::black));
    item->setCheckState(entry.isExcluded ? Qt::Checked : Qt::Unchecked);
    item->setData(kExcludedRole, entry.isExcluded);
}

void KZSourcePopoverCntrl::reloadTable()
{
    if (!table_)
        return;
    reloading_ = true;
    table_->clear();
    if (rows_.empty()) {
        auto* item = new QListWidgetItem(platform::localizedString(QStringLiteral("no_folders")), table_);
        item->setFlags(Qt::ItemIsEnabled);
        item->setForeground(QColor(Qt::black));
        item->setData(kIsFolderRow, false);
    }
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        auto* item = new QListWidgetItem(table_);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        item->setData(kIsFolderRow, true);
        updateItem(item, i);
    }
    reloading_ = false;
}

void KZSourcePopoverCntrl::setRowExcluded(std::size_t row, bool excluded)
{
    if (row >= rows_.size())
        return;
    Row& entry = rows_[row];
    entry.isExcluded = excluded;
    if (const KZSourceItemRef source = sourceItem()) {
        if (excluded) {
            source->addExcluded(entry.url);
        } else {
            auto list = source->excluded();
            list.erase(std::remove(list.begin(), list.end(), entry.url), list.end());
            source->setExcluded(list);
        }
    }
    if (table_ && static_cast<int>(row) < table_->count()) {
        reloading_ = true;
        updateItem(table_->item(static_cast<int>(row)), row);
        reloading_ = false;
    }
}
