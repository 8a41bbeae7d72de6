#pragma once

#include <QString>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>
#include <QtGlobal>

#include <functional>
#include <memory>

class QObject;

// The result menu's items that act on the visible tab: 1 remove, 2 export,
// 102 mark or unmark the selection.
class KZResultMenu {
public:
    virtual ~KZResultMenu() = default;
    // An empty action leaves the item without a target.
    virtual void setItemAction(qint64 tag, std::function<void()> action) = 0;
    virtual void setItemTitle(qint64 tag, const QString& title) = 0;
};

// What a tab's list model needs of the views and services around its tab:
// the tab's view and window, the buttons and fields of the result window,
// the result menu, and the panels it opens (removal, export). The per-tab
// controller implements it; tests use a recording fake. Every call comes
// from the main thread.
class KZFoundListHost {
public:
    // An open panel, kept alive by the list model until it reports its end.
    using Panel = std::shared_ptr<void>;

    virtual ~KZFoundListHost() = default;

    // The object of the tab's "superviewDid(Un)Hide" notifications.
    virtual QObject* resultView() const = 0;
    virtual bool isResultViewHidden() const = 0;
    virtual bool isWindowVisible() const = 0;
    virtual QVariant window() const = 0;
    virtual void makeResultViewFirstResponder() = 0;
    virtual bool aboutIsOpened() const = 0;
    virtual void beep() = 0;

    virtual void setSelectionInfo(const QString& text) = 0;
    virtual void setRemoveButtonTitle(const QString& title) = 0;
    virtual void startSpinner() = 0;
    virtual void stopSpinner() = 0;
    // Null when there is no result menu (tests, a window without menus).
    virtual KZResultMenu* resultMenu() = 0;
    // The views to disable while a removal panel is open.
    virtual QVariantList viewsToDisable() const = 0;

    // The removal panel for a removal request; it posts "itemsDidRemove" and
    // "removePanelDidClose". Null when none can be opened.
    virtual Panel openRemovalPanel(const QVariantMap& request) = 0;
    // Exports the request's items; posts "exportingDidFinish" (object the
    // request's "sender") when done. Null when no export can start.
    virtual Panel exportItems(const QVariantMap& request) = 0;
};
