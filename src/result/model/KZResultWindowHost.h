#pragma once

#include "settings/KZSourceItem.h"

#include <QVariantList>
#include <QVariantMap>
#include <QtGlobal>

#include <functional>
#include <memory>
#include <vector>

class KZProgressControl;
class KZResultCntrl;
class KZResultSaving;
class KZResultTabCntrl;
class KZResultTabStrip;
class QObject;

// What the result controller needs of the result window controller that
// owns it: the window and its tab strip, the making and placing of each
// tab's controller, and the few services of the application that a result
// uses (the folder chooser, saving, the follow-up search's sources and a
// progress controller without a window). The window implements it; tests
// use a fake.
//
// Every call comes from the main thread.
class KZResultWindowHost {
public:
    // The chooser's answer: 1 when a folder was chosen; the request's
    // "userInfo" with the chosen URLs added under "urls".
    using DirectoriesAnswer = std::function<void(qint64 code, const QVariantMap& returnedInfo)>;

    virtual ~KZResultWindowHost() = default;

    // The object of the tab strip's notifications.
    virtual QObject* window() const = 0;
    virtual bool isWindowVisible() const = 0;
    virtual KZResultTabStrip* tabsView() const = 0;
    virtual void setCurrSelectedTabTag(quint64 tag) = 0;
    // True while the About window is open: menus are then disabled.
    virtual bool aboutIsOpened() const = 0;
    virtual void beep() = 0;

    // Makes the controller of one tab from its dictionary ("tag",
    // "fileType", "KZResultSearchSources", "tab", ...).
    virtual std::unique_ptr<KZResultTabCntrl> createTabCntrl(const QVariantMap& info, KZResultCntrl& resultCntrl) = 0;
    // Puts the tab's view into the container, filling it, and takes it out.
    virtual void addResultView(KZResultTabCntrl& tab) = 0;
    virtual void removeResultView(KZResultTabCntrl& tab) = 0;

    // A folder chooser with the given settings ("prompt", "window",
    // "allowsMultipleSelection", "canCreateDirectories",
    // "includeSmartFolder", "userInfo"); answers later, on the main thread.
    virtual void askForDirectories(const QVariantMap& settings, DirectoriesAnswer answer) = 0;

    // A saver for the result, or null when none can be made.
    virtual std::shared_ptr<KZResultSaving> createSaver() = 0;

    // The sources of the follow-up search for folders a removal emptied
    // (each folder: {"url", "locationLabelTag"}); folders gone meanwhile are
    // left out.
    virtual std::vector<KZSourceItemRef> emptyFoldersSourcesWithFolders(const QVariantList& folders) = 0;
    // A progress controller that shows nothing, for that search.
    virtual std::shared_ptr<KZProgressControl> createProgressWithoutInterface() = 0;
};
