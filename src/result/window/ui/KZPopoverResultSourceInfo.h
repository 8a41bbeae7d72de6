#pragma once

#include "result/model/KZResultSourcesTypeItem.h"
#include "services/ui/Popover.h"

#include <QObject>
#include <QPointer>

#include <filesystem>
#include <memory>
#include <vector>

class KZWorkspace;
class QCheckBox;
class QLabel;
class QMenu;
class QWidget;

// The popover of a sources-list row's info button: for the tab's own row
// what was removed; for a source row (and the marked row) its icon, name and
// path, the figures the row's line does not show and what was removed. The
// switch at its foot chooses which figures every list shows. One per list,
// reused from row to row.
class KZPopoverResultSourceInfo : public QObject {
    Q_OBJECT
public:
    explicit KZPopoverResultSourceInfo(QWidget* parent, KZWorkspace* workspace = nullptr);
    ~KZPopoverResultSourceInfo() override;

    // {"item": the row, "senderView": the info button, "ownerTag": the tab},
    // shown on the button's right. The marked row has no location: its
    // name and no path.
    void showInfoWithItem(const KZResultSourcesTypeItemRef& item, QWidget* senderView, quint64 ownerTag);

    QString appropriateInfoString() const;
    QString appriopiateRemoveString() const;
    void changeInfoAction(bool showMarked);
    // The element menu of the path: tag 100 shows that element in the file
    // manager.
    void contextualMenuAction(int tag, const std::filesystem::path& element);

    platform::Popover* popover() const { return popover_; }
    QWidget* allItemsView() const { return allItemsView_; }
    QWidget* locationView() const { return locationView_; }
    QLabel* removedAllFld() const { return removedAllFld_; }
    QLabel* iconImg() const { return iconImg_; }
    QLabel* name() const { return name_; }
    QLabel* pathBtn() const { return pathBtn_; }
    const std::vector<std::filesystem::path>& pathElements() const { return pathElements_; }
    // A click on the element at that index of the path opens its menu.
    void pathElementClicked(const QString& link);
    QLabel* markedLocationFld() const { return markedLocationFld_; }
    QLabel* removedLocationFld() const { return removedLocationFld_; }
    QCheckBox* infoSwitch() const { return switch_; }
    QMenu* pathMenu() const { return pathMenu_; }
    std::filesystem::path pathShown() const { return pathShown_; }

private:
    void setPath(const std::filesystem::path& path);
    void popoverWillClose();

    KZWorkspace* workspace_;
    QPointer<platform::Popover> popover_;
    QWidget* mainView_ = nullptr;
    QWidget* allItemsView_ = nullptr;
    QLabel* allItemsTitle_ = nullptr;
    QLabel* removedAllFld_ = nullptr;
    QWidget* locationView_ = nullptr;
    QLabel* iconImg_ = nullptr;
    QLabel* name_ = nullptr;
    QLabel* pathBtn_ = nullptr;
    std::vector<std::filesystem::path> pathElements_;
    QLabel* markedLocationFld_ = nullptr;
    QLabel* removedLocationFld_ = nullptr;
    QCheckBox* switch_ = nullptr;
    QMenu* pathMenu_ = nullptr;
    std::filesystem::path clickedElement_;
    std::filesystem::path pathShown_;

    std::weak_ptr<KZResultSourcesTypeItem> currItem_;
    QPointer<QWidget> oldSenderBtn_;
    quint64 ownerTag_ = 0;
};
