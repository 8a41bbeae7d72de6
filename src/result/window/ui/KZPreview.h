#pragma once

#include "result/window/KZPreviewGeometry.h"
#include "result/window/KZPreviewItem.h"
#include "result/window/ui/KZPreviewLoader.h"

#include <QImage>
#include <QWidget>

#include <functional>

class KZPathControl;
class KZWorkspace;
class QLabel;

// One card of the preview pane: what the preview panel shows of the file
// (its picture, the first page of its text, or else its icon), the
// picture's or the song's facts under or beside it, and the file's path,
// which reveals or opens any of its elements. The pane gives the card its
// size and direction; the card lays its parts out by the pure functions of
// KZPreviewGeometry and paints its own rounded, outlined face. The file is
// read off the GUI thread, a picture decoded at the size it is shown.
class KZPreview : public QWidget {
    Q_OBJECT
public:
    static constexpr double pathHeight = 22;
    static constexpr double infoHeight = 100;

    struct Services {
        KZWorkspace* workspace = nullptr;
        std::function<void()> beep;
        // Widths of the descriptions beside the picture's and the song's lines.
        double exifDescriptionWidth = 90;
        double tagDescriptionWidth = 70;
    };

    explicit KZPreview(Services services, QWidget* parent = nullptr);
    ~KZPreview() override;

    void setRepresentedObject(const KZPreviewItemRef& item);
    const KZPreviewItemRef& previewItem() const { return item_; }
    // The pane's direction: cards scroll vertically beside the list.
    void setVerticalLayout(bool vertical);
    void updateObjectsGeometry();

    // Tags 100 (show in its folder) and 101 (open); any other does nothing.
    void contextualMenuAction(int tag);
    void revealInFinder();
    void launchInFinder();

    QWidget* previewView() const { return previewView_; }
    QWidget* infoView() const { return infoView_; }
    QWidget* exifView() const { return exifView_; }
    QWidget* songView() const { return songView_; }
    KZPathControl* pathBtn() const { return pathBtn_; }
    // The picture as decoded, null until it arrives (or for other items).
    const QImage& image() const { return image_; }
    // The start of a text file, as the card shows it; empty for other files.
    const QString& text() const { return text_; }
    QRectF contentFrame() const { return content_; }
    QString fieldText(const QString& key) const;

    // The card's face for its size, as it is painted.
    static void paintCard(QPainter& painter, QSizeF size);

Q_SIGNALS:
    // The picture's size was read from its file: the card's size may change.
    void pixelSizeLearned();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void applyLayout(const KZPreviewGeometry::CardLayout& layout);
    void actOnClickedPath(const std::function<void(KZWorkspace&, const std::filesystem::path&)>& act);
    void showFields();
    void requestContent();

    Services services_;
    KZPreviewItemRef item_;
    bool vertical_ = true;
    QWidget* previewView_ = nullptr;
    QWidget* infoView_ = nullptr;
    QWidget* exifView_ = nullptr;
    QWidget* songView_ = nullptr;
    KZPathControl* pathBtn_ = nullptr;
    QHash<QString, QLabel*> fields_;
    QRectF content_;
    QImage image_;
    QString text_;
    QSize requestedBox_;
    KZPreviewLoader::TicketRef ticket_;
};
