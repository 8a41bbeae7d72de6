#pragma once

#include "result/window/KZPreviewItem.h"
#include "result/window/ui/KZPreviewLoader.h"

#include <QPointer>
#include <QWidget>

#include <optional>

class QKeyEvent;
class QLabel;
class QPlainTextEdit;
class QToolButton;

// What the preview panel shows: the preview pane of the tab on screen.
class KZPreviewPanelDataSource {
public:
    virtual ~KZPreviewPanelDataSource() = default;
    virtual int numberOfPreviewItems() const = 0;
    virtual KZPreviewItemRef previewItemAt(int index) const = 0;
    // A key pressed in the panel that moves through the list (Up, Down and
    // the other keys of the list); true when the source passed it to its
    // list, whose new selection then comes back to the panel.
    virtual bool previewPanelKeyPress(const QKeyEvent&) { return false; }
    // Where the item shows in its list, on screen, for the panel to open
    // from and close to; empty when its row is out of view, and the panel
    // then opens and closes in place.
    virtual QRect sourceFrameOnScreen(const KZPreviewItemRef&) const { return {}; }
    // The picture that travels between that place and the panel.
    virtual QImage transitionImage(const KZPreviewItemRef&) const { return {}; }
};

// The program's one preview panel (Space, or File > Quick Look): the items
// of its data source shown large, one at a time: pictures decoded off the
// GUI thread at the panel's size, text files as plain text, anything else
// as its large icon with its facts. Space and Esc close it; every other key
// goes to the list the items come from, whose selection the panel follows.
// It opens out of the row it shows and closes back into it, when that row
// is in view. Opening and closing post
// "quickLookWindowVisibilityWillChange" {isVisible, qlPanel}; the preview
// pane of the tab on screen then makes itself the data source. Main thread
// only.
class KZPreviewPanel : public QWidget {
    Q_OBJECT
public:
    static KZPreviewPanel& shared();
    // Whether the shared panel was made (and so may be on screen).
    static bool exists();
    static bool isOpen();

    void setDataSource(KZPreviewPanelDataSource* source);
    KZPreviewPanelDataSource* dataSource() const { return source_; }
    // Asks the data source again; the item shown stays when it is still there.
    void reloadData();
    int currentPreviewItemIndex() const { return current_; }
    void setCurrentPreviewItemIndex(int index);
    KZPreviewItemRef currentItem() const { return shown_; }

    void open();
    void toggle();

    // What the panel shows now (tests).
    enum class Showing { Nothing, Picture, Text, Facts };
    Showing showing() const { return showing_; }
    const QImage& picture() const { return picture_; }
    QString titleText() const;
    // The last zoom between a row and the panel, and how many were played
    // (tests).
    struct Zoom {
        QRect from;
        QRect to;
        bool opening = false;
    };
    const std::optional<Zoom>& lastZoom() const { return lastZoom_; }
    int zoomCount() const { return zoomCount_; }
    ~KZPreviewPanel() override;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    explicit KZPreviewPanel(QWidget* parent = nullptr);
    void showCurrent();
    void postVisibility(bool visible);
    QRect sourceFrame() const;
    void zoom(const QRect& from, const QRect& to, bool opening);

    QPointer<QObject> sourceGuard_;
    KZPreviewPanelDataSource* source_ = nullptr;
    int current_ = 0;
    KZPreviewItemRef shown_;
    Showing showing_ = Showing::Nothing;
    QImage picture_;
    QSize pixelSize_;
    bool announcedOpen_ = false;
    bool placed_ = false;
    std::optional<Zoom> lastZoom_;
    int zoomCount_ = 0;
    QPointer<QWidget> zoomView_;

    QLabel* titleFld_ = nullptr;
    QLabel* counterFld_ = nullptr;
    QToolButton* previousBtn_ = nullptr;
    QToolButton* nextBtn_ = nullptr;
    QWidget* pictureView_ = nullptr;
    QPlainTextEdit* textView_ = nullptr;
    QWidget* factsView_ = nullptr;
    QLabel* iconFld_ = nullptr;
    QLabel* factsFld_ = nullptr;
    KZPreviewLoader::TicketRef ticket_;
};
