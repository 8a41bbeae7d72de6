#pragma once

#include "result/model/KZFoundListHost.h"
#include "result/model/KZListOutline.h"
#include "result/model/KZResultSourcesTypeItem.h"
#include "result/model/KZResultTabCntrl.h"

#include <QVariantList>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <vector>

class QWidget;

// The sources list of a tab (counts and sizes per source, the marked row).
class KZResultSourcesList {
public:
    virtual ~KZResultSourcesList() = default;
    virtual QWidget* view() = 0;
    virtual void setResultOutlineCntrl(KZListOutline* outline) = 0;
    virtual void updateMarkedInfo(const KZMarkedInfoUpdate& info) = 0;
    virtual void updateRemovedInfo(const KZViewToUpdateRef& info) = 0;
    virtual void selectRowWithTag(quint64 tag, quint64 deselectTag) = 0;

    // What a saved result keeps of the list, and how a reopened one gets it
    // back (see KZResultSourcesRows::savedSettings).
    virtual std::vector<KZResultSourcesTypeItemRef> sourceItems() const = 0;
    virtual qint64 currSelectedRow() const = 0;
    virtual QVariantMap savedSettings() const = 0;
    virtual void setSavedSettings(const QVariantMap& saved) = 0;
};

// The preview pane beside or under a tab's list.
class KZPreviewPane {
public:
    virtual ~KZPreviewPane() = default;
    virtual QWidget* view() = 0;
};

// The missing-tracks tab, which has no lists of its own.
class KZDeadTracksTab {
public:
    virtual ~KZDeadTracksTab() = default;
    virtual QWidget* resultView() = 0;
    // The tracks still listed, as a saved result keeps them (see
    // KZDeadTrackItem::savedDictionary()).
    virtual QVariantList savedTracks() const { return {}; }
};

// The outline of a tab's lists with the widget that shows it.
struct KZListOutlineParts {
    std::unique_ptr<KZListOutline> outline;
    QWidget* view = nullptr;
};

// What a per-tab controller makes its parts with and the window services it
// passes on. The result window fills it; an empty factory gives a plain
// stand-in, an empty service a neutral answer.
struct KZResultTabParts {
    // {"fileType", "KZResultSearchSources", "resultCntrl", "searchStoppeByUser"}.
    std::function<std::unique_ptr<KZResultSourcesList>(const QVariantMap&)> makeSourcesList;
    std::function<std::unique_ptr<KZPreviewPane>()> makePreviewPane;
    // The outline's widget is put into the list's place.
    std::function<KZListOutlineParts()> makeOutline;
    // {"fileType", "tabView" (the tab in the strip), "KZResultFoundDeads"
    // (QVariantList, empty when the result had none), "KZResultRemoveButton",
    // "KZResultSelectionInfoField", "KZResultSearchWasStoppedByUser"}.
    std::function<std::unique_ptr<KZDeadTracksTab>(const QVariantMap&)> makeDeadTracks;

    std::function<bool()> aboutIsOpened;
    std::function<void()> beep;
    KZResultMenu* resultMenu = nullptr;
    // The View menu's expand-all (4) and collapse-all (5) items.
    KZResultMenu* viewMenu = nullptr;
    std::function<KZFoundListHost::Panel(const QVariantMap&)> openRemovalPanel;
    std::function<KZFoundListHost::Panel(const QVariantMap&)> exportItems;
    std::function<void(const QString&)> setSelectionInfo;
    std::function<void(const QString&)> setRemoveButtonTitle;
};
