#pragma once

#include "result/window/KZPreviewItem.h"
#include "result/window/ui/KZPreviewLoader.h"

#include <QPointer>
#include <QWidget>

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
};

// The program's one preview panel (Space, or File > Quick Look): the items
// of its data source shown large, one at a time: pictures decoded off the
// GUI thread at the panel's size, text files as plain text, anything else
// as its large icon with its facts. Left and Right move through the items,
// the other keys move the selection of the list the items come from (the
// panel follows it), Space and Esc close it. Opening and closing post
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

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    explicit KZPreviewPanel(QWidget* parent = nullptr);
    void showCurrent();
    void postVisibility(bool visible);

    QPointer<QObject> sourceGuard_;
    KZPreviewPanelDataSource* source_ = nullptr;
    int current_ = 0;
    KZPreviewItemRef shown_;
    Showing showing_ = Showing::Nothing;
    QImage picture_;
    QSize pixelSize_;
    bool announcedOpen_ = false;
    bool placed_ = false;

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
