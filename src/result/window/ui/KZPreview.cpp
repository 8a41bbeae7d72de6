#include "result/window/ui/KZPreview.h"

#include "platform/StringTable.h"
#include "result/window/KZPreviewFacts.h"
#include "result/window/ui/KZListMarkingCntrl.h"
#include "result/window/ui/KZPathControl.h"
#include "result/window/ui/KZPreviewSubviewView.h"
#include "services/ui/KZFileIcons.h"

#include <QApplication>
#include <QFile>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <cmath>
#include <system_error>

namespace {

constexpr int kLineHeight = 18;
constexpr int kLinesTop = 5;
constexpr double kPageFontPoints = 7;
constexpr double kPageMargin = 6;
// A card shows a page of text: the first few kilobytes are plenty.
constexpr qint64 kCardTextLimit = 8 * 1024;

QRect downRect(const QRectF& up, double parentHeight)
{
    return QRectF(up.x(), parentHeight - up.y() - up.height(), up.width(), up.height()).toRect();
}

// The picture, or the file's icon while there is none.
class ContentView : public QWidget {
public:
    explicit ContentView(const KZPreview* card, QWidget* parent) : QWidget(parent), card_(card)
    {
        setObjectName(QStringLiteral("previewView"));
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        QRect content = downRect(card_->contentFrame(), height());
        const QImage& image = card_->image();
        if (!image.isNull()) {
            const QSizeF shown = QSizeF(image.size()).scaled(QSizeF(content.size()), Qt::KeepAspectRatio);
            const QRectF target(content.x() + (content.width() - shown.width()) / 2,
                                content.y() + (content.height() - shown.height()) / 2, shown.width(), shown.height());
            p.drawImage(target, image);
            return;
        }
        if (!card_->text().isNull()) {
            paintPage(p, content.intersected(rect()));
            return;
        }
        const KZPreviewItemRef& item = card_->previewItem();
        if (!item)
            return;
        const KZFoundItemRef found = item->item();
        // A song's square may overhang the preview area; its icon stays inside.
        const QRect shownArea = content.intersected(rect());
        const int side = std::max(16, std::min({shownArea.width(), shownArea.height(), 128}));
        content = shownArea;
        const QImage icon = KZFileIcons::kindIconForName(item->name(), found && found->isDirectory(),
                                                         QSize(side, side) * devicePixelRatio());
        const QRectF target(content.center().x() - side / 2.0 + 0.5, content.center().y() - side / 2.0 + 0.5, side, side);
        p.drawImage(target, icon);
    }

private:
    // The start of a text file as a small page, the way the panel shows the
    // whole of it: lines as they are, cut at the page's edges.
    void paintPage(QPainter& p, const QRect& area) const
    {
        if (area.width() < 8 || area.height() < 8)
            return;
        const QRectF page = QRectF(area).adjusted(0.5, 0.5, -0.5, -0.5);
        p.setPen(QPen(QColor(0xc8, 0xcc, 0xd2), 1));
        p.setBrush(Qt::white);
        p.drawRect(page);
        QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        font.setPointSizeF(kPageFontPoints);
        p.setFont(font);
        p.setPen(QColor(0x2c, 0x30, 0x38));
        const QRectF inside = page.adjusted(kPageMargin, kPageMargin, -kPageMargin, -kPageMargin);
        p.setClipRect(inside);
        const QFontMetricsF metrics(font);
        double y = inside.top() + metrics.ascent();
        const QStringList lines = card_->text().split(QLatin1Char('\n'));
        for (QString line : lines) {
            if (y - metrics.ascent() > inside.bottom())
                break;
            line.replace(QLatin1Char('\t'), QStringLiteral("    "));
            if (line.endsWith(QLatin1Char('\r')))
                line.chop(1);
            p.drawText(QPointF(inside.left(), y), line);
            y += metrics.lineSpacing();
        }
    }

    const KZPreview* card_;
};

struct Line {
    const char* key;
    const char* title;
};
const Line kImageLines[] = {{"dateTaken", "preview_date_taken"},
                            {"dimension", "preview_dimension"},
                            {"camera", "preview_camera"},
                            {"latitude", "preview_latitude"},
                            {"longitude", "preview_longitude"}};
const Line kSongLines[] = {{"songName", "preview_song_name"},
                           {"artist", "preview_artist"},
                           {"album", "preview_album"},
                           {"time", "preview_time"},
                           {"bitRate", "preview_bit_rate"}};

} // namespace

KZPreview::KZPreview(Services services, QWidget* parent) : QWidget(parent), services_(std::move(services))
{
    setObjectName(QStringLiteral("previewCard"));
    previewView_ = new ContentView(this, this);
    infoView_ = new QWidget(this);
    infoView_->setObjectName(QStringLiteral("infoView"));
    infoView_->resize(322, int(infoHeight));
    QFont small = font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    const auto makePanel = [this, small](const char* name, const Line* lines, double descriptionWidth) {
        auto* panel = new KZPreviewSubviewView(infoView_);
        panel->setObjectName(QString::fromLatin1(name));
        panel->move(0, 0);
        for (int i = 0; i < 5; ++i) {
            auto* title = new QLabel(platform::localizedString(QString::fromLatin1(lines[i].title)), panel);
            title->setFont(small);
            title->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
            title->setStyleSheet(QStringLiteral("color: #7a808a;"));
            title->setGeometry(6, kLinesTop + i * kLineHeight, int(descriptionWidth) - 6, kLineHeight);
            auto* value = new QLabel(panel);
            value->setObjectName(QString::fromLatin1(lines[i].key) + QStringLiteral("Fld"));
            value->setFont(small);
            value->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
            value->setStyleSheet(QStringLiteral("color: #2c3038;"));
            value->setTextInteractionFlags(Qt::TextSelectableByMouse);
            fields_.insert(QString::fromLatin1(lines[i].key), value);
        }
        return panel;
    };
    exifView_ = makePanel("exifView", kImageLines, services_.exifDescriptionWidth);
    songView_ = makePanel("songView", kSongLines, services_.tagDescriptionWidth);
    infoView_->hide();
    exifView_->hide();
    songView_->hide();
    pathBtn_ = new KZPathControl(this);
    connect(pathBtn_, &KZPathControl::menuItemChosen, this, &KZPreview::contextualMenuAction);
}

KZPreview::~KZPreview()
{
    if (ticket_)
        ticket_->cancel();
}

void KZPreview::setVerticalLayout(bool vertical)
{
    if (vertical_ == vertical)
        return;
    vertical_ = vertical;
    updateObjectsGeometry();
}

void KZPreview::setRepresentedObject(const KZPreviewItemRef& item)
{
    if (ticket_)
        ticket_->cancel();
    ticket_.reset();
    image_ = QImage();
    text_ = QString();
    requestedBox_ = QSize();
    item_ = item;
    if (!item_) {
        infoView_->hide();
        previewView_->update();
        return;
    }
    pathBtn_->setPath(item_->url());
    const bool image = item_->isImage();
    const bool song = item_->isSong();
    infoView_->setVisible(image || song);
    exifView_->setVisible(image);
    songView_->setVisible(song);
    showFields();
    updateObjectsGeometry();
}

void KZPreview::showFields()
{
    for (auto it = fields_.cbegin(); it != fields_.cend(); ++it)
        it.value()->setText(item_ ? item_->value(it.key()) : QString());
}

QString KZPreview::fieldText(const QString& key) const
{
    const QLabel* field = fields_.value(key);
    return field ? field->text() : QString();
}

void KZPreview::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    // While the pane moves cards in or out they keep their layout; the pane
    // lets them follow their frame again afterwards.
    if (item_ && !item_->dontUpdate())
        updateObjectsGeometry();
}

void KZPreview::updateObjectsGeometry()
{
    if (!item_)
        return;
    const QSizeF bounds = size();
    KZPreviewGeometry::CardLayout layout;
    if (item_->isImage() || item_->isSong())
        layout = KZPreviewGeometry::imageOrSongLayout(bounds, vertical_, item_->isSong(), pathHeight, infoHeight,
                                                      item_->width(), item_->height());
    else
        layout = KZPreviewGeometry::otherItemLayout(bounds, pathHeight);
    applyLayout(layout);
    requestContent();
    update();
}

void KZPreview::applyLayout(const KZPreviewGeometry::CardLayout& layout)
{
    const double h = height();
    if (layout.infoApplied && (item_->isImage() || item_->isSong())) {
        const QRect info = downRect(layout.info, h);
        infoView_->setGeometry(info);
        exifView_->setGeometry(0, 0, info.width(), info.height());
        songView_->setGeometry(0, 0, info.width(), info.height());
        const double description = item_->isImage() ? services_.exifDescriptionWidth : services_.tagDescriptionWidth;
        QWidget* panel = item_->isImage() ? exifView_ : songView_;
        const Line* lines = item_->isImage() ? kImageLines : kSongLines;
        for (int i = 0; i < 5; ++i)
            if (QLabel* value = fields_.value(QString::fromLatin1(lines[i].key)); value && value->parent() == panel)
                value->setGeometry(int(description) + 6, kLinesTop + i * kLineHeight,
                                   std::max(info.width() - int(description) - 12, 10), kLineHeight);
    }
    const QRect preview = downRect(layout.preview, h);
    previewView_->setGeometry(preview);
    content_ = layout.content;
    pathBtn_->setGeometry(downRect(layout.path, h));
    pathBtn_->setVisible(!layout.pathHidden);
}

void KZPreview::requestContent()
{
    // What the panel reads of the same file: a song's card keeps its icon
    // and facts, a folder has nothing to read.
    if (!item_ || item_->isSong() || !text_.isNull())
        return;
    const KZFoundItemRef found = item_->item();
    if (!found || found->isDirectory())
        return;
    const double ratio = devicePixelRatioF();
    const QSize box = (previewView_->size() * ratio).expandedTo(QSize(1, 1));
    // Asked again only when the card grew well past the picture it has.
    if (requestedBox_.isValid() && box.width() <= requestedBox_.width() * 1.25 &&
        box.height() <= requestedBox_.height() * 1.25)
        return;
    if (!image_.isNull() && (image_.width() < requestedBox_.width() && image_.height() < requestedBox_.height()))
        return; // already the whole picture
    // A file that was neither picture nor text the first time will not be
    // one at a larger size.
    if (requestedBox_.isValid() && image_.isNull() && !ticket_)
        return;
    requestedBox_ = box;
    if (ticket_)
        ticket_->cancel();
    KZPreviewLoader::Request request;
    request.path = item_->url();
    request.box = box;
    request.decodeImage = true;
    request.readText = !item_->isImage();
    request.textLimit = kCardTextLimit;
    ticket_ = KZPreviewLoader::load(request, [this, found](const KZPreviewLoader::Result& result) {
        ticket_.reset();
        if (!item_ || item_->item() != found)
            return;
        image_ = result.image;
        if (result.isText && image_.isNull())
            text_ = result.text.isNull() ? QStringLiteral("") : result.text;
        if (result.pixelSize.isValid() && item_->isImage()) {
            const bool known = item_->width() > 0;
            KZPreviewFacts::shared().notePixelSize(found, result.pixelSize);
            showFields();
            if (!known) {
                updateObjectsGeometry();
                Q_EMIT pixelSizeLearned();
            }
        }
        previewView_->update();
    });
}

void KZPreview::contextualMenuAction(int tag)
{
    if (tag == KZPathControl::revealTag)
        revealInFinder();
    else if (tag == KZPathControl::openTag)
        launchInFinder();
}

namespace {

bool stillThere(const std::filesystem::path& path)
{
    std::error_code error;
    return !path.empty() && std::filesystem::exists(std::filesystem::symlink_status(path, error));
}

} // namespace

void KZPreview::actOnClickedPath(const std::function<void(KZWorkspace&, const std::filesystem::path&)>& act)
{
    // The path goes to the file manager or the desktop as an argument; a
    // path that is no longer there gets a beep instead.
    const std::filesystem::path target = pathBtn_->clickedPath();
    if (!stillThere(target)) {
        services_.beep ? services_.beep() : QApplication::beep();
        return;
    }
    act(services_.workspace ? *services_.workspace : KZWorkspace::system(), target);
}

void KZPreview::revealInFinder()
{
    actOnClickedPath([](KZWorkspace& workspace, const std::filesystem::path& path) { workspace.revealItems({path}); });
}

void KZPreview::launchInFinder()
{
    actOnClickedPath([](KZWorkspace& workspace, const std::filesystem::path& path) { workspace.openItem(path); });
}

void KZPreview::paintCard(QPainter& p, QSizeF size)
{
    // The bounds less one point on every side, never under 75 a side.
    QRectF r(1, 1, std::max(size.width() - 2, 75.0), std::max(size.height() - 2, 75.0));
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(r, 4, 4);
    QLinearGradient fill(r.topLeft(), r.bottomLeft());
    fill.setColorAt(0, QColor::fromRgbF(0.99f, 0.99f, 0.99f));
    fill.setColorAt(1, QColor::fromRgbF(0.95f, 0.95f, 0.95f));
    p.fillPath(shape, fill);
    const QPen outline(QColor::fromRgbF(0.78f, 0.78f, 0.78f), 1);
    p.setPen(outline);
    p.setBrush(Qt::NoBrush);
    p.setClipPath(shape);
    // A second outline one point down and left gives the edge its depth.
    p.drawRoundedRect(r.translated(-1, -1).adjusted(1, 1, -1, -1).adjusted(0.5, 0.5, -0.5, -0.5), 4, 4);
    p.drawRoundedRect(r.adjusted(1, 1, -1, -1).adjusted(-0.5, -0.5, 0.5, 0.5), 4, 4);
}

void KZPreview::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    paintCard(p, size());
}
