#pragma once

#include <QPointer>

#include <functional>
#include <memory>

class KZGenericProgressWindowCntrl;
class QWidget;

// "Reading the music library…" with a running bar and a Stop button, as a
// window-modal sheet over the search window while Start waits for the
// library. Stop, Escape and the sheet's close button call `stop` once; the
// owner closes the sheet when the reading has ended. GUI thread only.
class KZMusicLibraryReadingSheet {
public:
    KZMusicLibraryReadingSheet(QWidget* window, std::function<void()> stop);
    ~KZMusicLibraryReadingSheet();
    KZMusicLibraryReadingSheet(const KZMusicLibraryReadingSheet&) = delete;
    KZMusicLibraryReadingSheet& operator=(const KZMusicLibraryReadingSheet&) = delete;

    void show();
    void close();
    bool isShown() const { return controller_ != nullptr; }
    // The sheet's parts while it is shown; null otherwise.
    KZGenericProgressWindowCntrl* controller() const { return controller_.get(); }

private:
    QPointer<QWidget> window_;
    std::function<void()> stop_;
    std::unique_ptr<KZGenericProgressWindowCntrl> controller_;
};
