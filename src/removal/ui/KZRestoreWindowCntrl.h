#pragma once

#include "platform/Subscription.h"
#include "removal/KZRestoreList.h"

#include <QDialog>
#include <QPointer>
#include <QVariantMap>

#include <filesystem>
#include <map>

class KZRestoreRemovedFiles;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

// The window listing the removals still in the Trash, to put them back.
class KZRestoreWindowCntrl : public QDialog {
    Q_OBJECT
public:
    explicit KZRestoreWindowCntrl(KZRestoreRemovedFiles& engine, std::filesystem::path trashDir,
                                  QWidget* parent = nullptr);
    ~KZRestoreWindowCntrl() override;

    void showWindow();
    bool areTherePermanentFiles() const;

    QTreeWidget* list() const { return list_; }
    QPushButton* restoreButton() const { return restoreBtn_; }
    const KZRestoreList& rows() const { return rows_; }
    void restoreAction();
    bool isRestoring() const { return restoring_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void reload();
    // Gives each row the height its wrapped text needs at the column's
    // present width: a row's reason is read whole, not cut off.
    void fitRowHeights();
    void itemChanged(QTreeWidgetItem* item, int column);
    void updateRestoredList(const QVariantList& paths, quint64 restored, quint64 notRestored,
                            const QString& reasonKey, quint64 onPossibleCopy = 0,
                            const QVariantMap& keptReasons = {});

    KZRestoreRemovedFiles& engine_;
    std::filesystem::path trashDir_;
    KZRestoreList rows_;
    // Why the last Restore of a row's removal kept records, by undo file,
    // for the row's tooltip. Known only in memory: the undo file stores no
    // reason.
    std::map<std::filesystem::path, QString> keptWhy_;
    QTreeWidget* list_ = nullptr;
    QPushButton* restoreBtn_ = nullptr;
    bool reloading_ = false;
    bool restoring_ = false;
    platform::Subscription subscription_;
    // Until it has gone, the outcome waits: its hiding raises this window,
    // which would cover an alert shown before.
    QPointer<QObject> progress_;
};
