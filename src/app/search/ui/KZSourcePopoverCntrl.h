#pragma once

#include "settings/KZSourceItem.h"

#include <QObject>
#include <QPointer>
#include "services/ui/Popover.h"
#include <QString>

#include <atomic>
#include <filesystem>
#include <vector>

class QListWidget;
class QListWidgetItem;
class QWidget;

// The popover that lists a source's first-level folders with a check box
// each; a ticked folder is left out of the search. Ticks are written
// straight into the source's excluded list.
class KZSourcePopoverCntrl : public QObject {
    Q_OBJECT
public:
    // One listed folder.
    struct Row {
        QString name;
        std::filesystem::path url;
        bool isExcluded = false;
    };

    explicit KZSourcePopoverCntrl(QObject* parent = nullptr);
    ~KZSourcePopoverCntrl() override;

    void setSourceItem(const KZSourceItemRef& source) { sourceItem_ = source; }
    KZSourceItemRef sourceItem() const { return sourceItem_.lock(); }

    // Opens under the tile, or closes when it is open.
    void showPopoverWitView(QWidget* tile);
    bool isShown() const;
    platform::Popover* popover() const { return popover_; }
    QListWidget* table() const { return table_; }

    // Rebuilds the folder list from the disk.
    void startFolderScan();
    const std::vector<Row>& rows() const { return rows_; }
    // A row's check box: ticking adds the folder to the source's excluded
    // list, unticking removes every equal entry.
    void setRowExcluded(std::size_t row, bool excluded);

private:
    void reloadTable();
    void updateItem(QListWidgetItem* item, std::size_t row);

    std::weak_ptr<KZSourceItem> sourceItem_;
    std::vector<Row> rows_;
    QPointer<platform::Popover> popover_;
    QListWidget* table_ = nullptr;
    std::atomic<bool> folderScanIsWorking_{false};
    bool reloading_ = false;
};
