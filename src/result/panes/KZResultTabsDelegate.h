#pragma once

// What the row of file-type tabs asks of the result window that holds it.
// The window controller implements it; tests use a fake.
class KZResultTabsDelegate {
public:
    virtual ~KZResultTabsDelegate() = default;

    // The object of the strip's notifications ("updateTabSelection",
    // "showViewWithSelection", ...): the window, as the result controller
    // knows it.
    virtual const void* notificationObject() const = 0;
    // A removal of files runs: the tabs neither select nor close.
    virtual bool isRemoving() const = 0;
    virtual bool isWindowVisible() const = 0;
    // The About window is open: every menu item is disabled meanwhile.
    virtual bool aboutIsOpened() const = 0;
};
