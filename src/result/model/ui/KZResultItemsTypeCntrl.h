#pragma once

#include "platform/Subscription.h"
#include "result/model/KZFoundListHost.h"
#include "result/model/KZResultTabCntrl.h"
#include "result/model/ui/KZResultTabParts.h"
#include "settings/KZFileTypeLabel.h"
#include "settings/KZSourceItem.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariantMap>

#include <memory>
#include <vector>

class KZFoundListCntrl;
class KZResultCntrl;
class QFrame;
class QLabel;
class QSplitter;
class QTimer;
class QToolButton;
class QWidget;

// The controller of one file-type tab's content in the result window: it
// builds the tab's view ("ResultView": the sources list beside the list and
// its preview pane, with the expand and collapse buttons), makes the tab's
// sources list and list model, keeps the two dividers where the user left
// them, and passes the result controller's updates on to its lists.
//
// The missing-tracks tab has no lists: its view comes from the dead-tracks
// part.
//
// Main thread only, except the update calls of KZResultTabCntrl, which hop
// to the main thread and return once the update is made.
class KZResultItemsTypeCntrl : public QObject, public KZResultTabCntrl, public KZFoundListHost {
public:
    // How long divider moves are gathered before they are written.
    static int positionsWriteDelayMs;

    KZResultItemsTypeCntrl(const QVariantMap& info, KZResultCntrl* resultCntrl, KZResultTabParts parts);
    ~KZResultItemsTypeCntrl() override;

    quint64 fileTypeTag() const { return fileTypeTag_; }
    KZFoundListCntrl* foundListCntrl() const { return foundListCntrl_.get(); }
    // The missing-tracks tab's controller; null on the other tabs.
    KZDeadTracksTab* deadTracksTab() const { return deadTracksCntrl_.get(); }
    KZResultSourcesList* sourcesListCntrl() const { return sourcesListCntrl_.get(); }
    QWidget* resultWidget() const { return resultView_; }
    QSplitter* listSplit() const { return listSplit_; }
    QSplitter* sourcesSplit() const { return sourcesSplit_; }
    QWidget* previewPane() const { return previewPane_; }
    QToolButton* expandAllBtn() const { return expandAllBtn_; }
    QToolButton* contractAllBtn() const { return contractAllBtn_; }
    QToolButton* emptyFoldersInfoBtn() const { return emptyFoldersInfoBtn_; }
    QFrame* popover() const { return popover_; }
    bool collectionViewSplitIsCollapsed() const { return collectionViewSplitIsCollapsed_; }

    void enableBtns();
    // Tags 4 (expand all) and 5 (collapse all).
    void expandAllAction(qint64 senderTag);
    void infoButtonAction();
    void setListPlitViewSettings(bool restoreEverySubview);
    void intializeSplitViews();
    QString listSplitKey() const;
    // Writes the positions now instead of after the delay.
    void savePendingPositions();
    bool validateMenuItem(qint64 tag, bool inViewMenu) const;
    void changeViewMenuItemsTarget(bool release);

    // ---- KZResultTabCntrl ---------------------------------------------------------------
    QObject* resultView() const override;
    bool isResultViewHidden() const override { return hidden_; }
    void setResultViewHidden(bool hidden) override;
    void saveCurrentConfiguration(QVariantMap& request) override;
    void updateMarkedInfoWithDict(const KZMarkedInfoUpdate& info) override;
    void updateRemovedInfoWithDict(const KZViewToUpdateRef& info) override;
    void updateFilesList(const std::shared_ptr<KZFoundItemsCntrl>& model) override;
    void showMissingMembers(const KZGroupOptionRequest& info) override;
    void revealGroup(const KZGroupOptionRequest& info) override;

    // ---- KZFoundListHost ---------------------------------------------------------------
    bool isWindowVisible() const override;
    QVariant window() const override;
    void makeResultViewFirstResponder() override;
    bool aboutIsOpened() const override;
    void beep() override;
    void setSelectionInfo(const QString& text) override;
    void setRemoveButtonTitle(const QString& title) override;
    void startSpinner() override;
    void stopSpinner() override;
    KZResultMenu* resultMenu() override { return parts_.resultMenu; }
    QVariantList viewsToDisable() const override;
    Panel openRemovalPanel(const QVariantMap& request) override;
    Panel exportItems(const QVariantMap& request) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildResultView(const QVariantMap& info);
    QWidget* buildPreviewPane();
    QWidget* buildScopeBar(QWidget* parent);
    void observeListSettings();
    void initializeSplitConstraints(bool sideBySide);
    void restoreListSizes();
    void splitViewDidResize();
    void schedulePositions(QSplitter* split);
    void writePositions(QSplitter* split);

    const quint64 fileTypeTag_;
    const KZFileTypeLabelRef fileTypeItem_;
    const std::vector<KZSourceItemRef> sources_;
    const bool searchStoppeByUser_;
    KZResultCntrl* const resultCntrl_;
    KZResultTabParts parts_;
    bool hidden_ = false;
    bool collectionViewSplitIsCollapsed_ = false;
    bool listSizesPending_ = false;

    std::unique_ptr<KZDeadTracksTab> deadTracksCntrl_;
    // Owned here; the tab strip's container only borrows it.
    QPointer<QWidget> resultView_;
    std::unique_ptr<KZResultSourcesList> sourcesListCntrl_;
    std::unique_ptr<KZPreviewPane> previewPaneCntrl_;
    QWidget* outlineView_ = nullptr;
    QSplitter* sourcesSplit_ = nullptr;
    QSplitter* listSplit_ = nullptr;
    QWidget* previewPane_ = nullptr;
    QLabel* emptyPreviewFld_ = nullptr;
    QLabel* spinning_ = nullptr;
    QToolButton* expandAllBtn_ = nullptr;
    QToolButton* contractAllBtn_ = nullptr;
    QToolButton* emptyFoldersInfoBtn_ = nullptr;
    QFrame* popover_ = nullptr;
    QLabel* popoverInfoFld_ = nullptr;
    QTimer* sourcesWrite_ = nullptr;
    QTimer* listWrite_ = nullptr;

    std::unique_ptr<KZFoundListCntrl> foundListCntrl_;
    std::vector<platform::Subscription> observations_;
};
