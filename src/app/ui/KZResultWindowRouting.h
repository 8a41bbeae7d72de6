#pragma once

class QWidget;

// The calls the application delegate makes of a result window controller
// when it routes a new search or enables the File menu.
class KZResultWindowRouting {
public:
    virtual ~KZResultWindowRouting() = default;
    virtual QWidget* window() const = 0;
    virtual bool isRemoving() const = 0;
    // Posts "newSearch" with the controller as object; the window closes
    // with its zoom back to the progress window, or to the search window
    // when there is none behind it (a reopened result).
    virtual void newSearch() = 0;
};
