#pragma once

#include "platform/Subscription.h"
#include "result/model/ui/KZResultTabParts.h"
#include "result/panes/KZDeadTrackItem.h"
#include "settings/KZFileTypeLabel.h"

#include <QObject>
#include <QPointer>
#include <QVariantMap>

#include <memory>
#include <vector>

class KZDeadTracksModel;
class QAbstractButton;
class QLabel;
class QProgressBar;
class QTableView;
class QToolButton;
class QWidget;

namespace platform {
class Popover;
}

// The missing-tracks tab: music-library tracks whose files are gone, in a
// table with a check box, song name, album, artist and old location. The
// window's remove button deletes the marked tracks from the music library
// through the script bridge; the rows go only when the bridge answered yes,
// and the window leaves its removal state in every case. The files
// themselves are never touched.
//
// Main thread only; the script runs on a queue of its own.
class KZDeadTracksCntrl : public QObject, public KZDeadTracksTab {
public:
    // Keys read: "fileType" (KZFileTypeLabelRef), "tabView" (QObject*, the
    // tab in the strip), "KZResultFoundDeads" (list of track maps; absent is
    // empty), "KZResultRemoveButton" and "KZResultSelectionInfoField"
    // (QObject*), "KZResultSearchWasStoppedByUser" (bool).
    explicit KZDeadTracksCntrl(const QVariantMap& dictionary);
    ~KZDeadTracksCntrl() override;

    QWidget* resultView() override;
    // The tracks still in the result, for the result saver.
    const std::vector<KZDeadTrackItemRef>& deads() const { return deads_; }
    QVariantList savedTracks() const override;

    void superviewDidHide();
    void superviewDidUnhide();
    void updateTableView();
    void setFoundCountString();
    void doubleClick();
    void shopPopoverAction();
    void removeButtonDidClick();

    // Widgets, for tests and the screenshot states.
    QTableView* tableView() const { return tableView_; }
    QLabel* foundCountFld() const { return foundCountFld_; }
    QWidget* emptyView() const { return emptyView_; }
    QLabel* searchStoppedFld() const { return searchStoppedFld_; }
    bool isRemoving() const { return removing_; }

private:
    void buildView();
    void fade(QWidget* widget, bool visible);
    void removalDidEnd(bool removed, const std::vector<std::size_t>& indexes);

    KZFileTypeLabelRef fileTypeItem_;
    const void* tabView_ = nullptr;
    bool searchStoppeByUser_ = false;
    QPointer<QAbstractButton> removeBtn_;
    QPointer<QLabel> selectionInfoFld_;
    QString removeBtnOldTitle_;
    std::vector<KZDeadTrackItemRef> deads_;
    bool removing_ = false;

    QPointer<QWidget> resultView_;
    QTableView* tableView_ = nullptr;
    KZDeadTracksModel* model_ = nullptr;
    QLabel* foundCountFld_ = nullptr;
    QString foundCountStr_;
    QWidget* emptyView_ = nullptr;
    QLabel* searchStoppedFld_ = nullptr;
    QToolButton* infoBtn_ = nullptr;
    QPointer<platform::Popover> popover_;
    QProgressBar* spinning_ = nullptr;

    std::vector<platform::Subscription> observations_;
};
