#include "result/window/ui/KZPreviewPanel.h"

#include "platform/NotificationCenter.h"
#include "platform/Paths.h"
#include "platform/StringTable.h"
#include "result/window/KZPreviewFacts.h"
#include "services/KZNumberUtilities.h"
#include "services/ui/KZAnimationTiming.h"
#include "services/ui/KZFileIcons.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPlainTextEdit>
#include <QStackedLayout>
#include <QToolButton>
#include <QVBoxLayout>
#include <QVariantAnimation>

namespace {

KZPreviewPanel* instance = nullptr;

const QString kVisibilityNote = QStringLiteral("quickLookWindowVisibilityWillChange");

// The picture of the shown item, centred at its own size or smaller.
class PictureView : public QWidget {
public:
    explicit PictureView(const KZPreviewPanel* panel, QWidget* parent) : QWidget(parent), panel_(panel)
    {
        setObjectName(QStringLiteral("quickLookPicture"));
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.fillRect(rect(), QColor(46, 49, 54));
        const QImage& image = panel_->picture();
        if (image.isNull())
            return;
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        const QRectF area = QRectF(rect()).adjusted(12, 12, -12, -12);
        QSizeF shown = QSizeF(image.size()) / image.devicePixelRatio();
        if (shown.width() > area.width() || shown.height() > area.height())
            shown = shown.scaled(area.size(), Qt::KeepAspectRatio);
        p.drawImage(QRectF(area.center().x() - shown.width() / 2, area.center().y() - shown.height() / 2, shown.width(),
                           shown.height()),
                    image);
    }

private:
    const KZPreviewPanel* panel_;
};

// The picture that flies between a row of the list and the panel: a card
// with the item's icon, grown or shrunk frame by frame. It takes neither
// the pointer nor the keyboard.
class ZoomView : public QWidget {
public:
    explicit ZoomView(const QImage& image)
        : QWidget(nullptr, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowTransparentForInput), image_(image)
    {
        setObjectName(QStringLiteral("quickLookZoom"));
        setAttribute(Qt::WA_ShowWithoutActivating);
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.fillRect(rect(), QColor(246, 247, 249));
        p.setPen(QColor(160, 166, 176));
        p.drawRect(rect().adjusted(0, 0, -1, -1));
        if (image_.isNull())
            return;
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        const int side = std::max(1, int(std::min(width(), height()) * 0.6));
        p.drawImage(QRect(width() / 2 - side / 2, height() / 2 - side / 2, side, side), image_);
    }

private:
    QImage image_;
};

// A named part of the panel on a flat background of its own.
QWidget* filledPart(QWidget* parent, const char* name, QColor background)
{
    auto* part = new QWidget(parent);
    part->setObjectName(QString::fromLatin1(name));
    part->setAutoFillBackground(true);
    QPalette palette = part->palette();
    palette.setColor(QPalette::Window, background);
    part->setPalette(palette);
    return part;
}

QString text(const char* key)
{
    return platform::localizedString(QString::fromLatin1(key));
}

} // namespace

KZPreviewPanel& KZPreviewPanel::shared()
{
    if (!instance) {
        instance = new KZPreviewPanel;
        // Goes with the application, whichever window was last.
        QObject::connect(qApp, &QCoreApplication::aboutToQuit, [] {
            delete instance;
            instance = nullptr;
        });
    }
    return *instance;
}

bool KZPreviewPanel::exists()
{
    return instance != nullptr;
}

bool KZPreviewPanel::isOpen()
{
    return instance && instance->isVisible();
}

KZPreviewPanel::KZPreviewPanel(QWidget* parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("quickLookPanel"));
    setWindowTitle(text("quick_look"));
    resize(760, 600);
    setMinimumSize(360, 280);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    QWidget* bar = filledPart(this, "quickLookBar", QColor(236, 238, 242));
    auto* barLayout = new QHBoxLayout(bar);
    barLayout->setContentsMargins(8, 5, 12, 5);
    previousBtn_ = new QToolButton(bar);
    previousBtn_->setObjectName(QStringLiteral("quickLookPrevious"));
    previousBtn_->setArrowType(Qt::LeftArrow);
    previousBtn_->setAutoRaise(true);
    previousBtn_->setFocusPolicy(Qt::NoFocus);
    nextBtn_ = new QToolButton(bar);
    nextBtn_->setObjectName(QStringLiteral("quickLookNext"));
    nextBtn_->setArrowType(Qt::RightArrow);
    nextBtn_->setAutoRaise(true);
    nextBtn_->setFocusPolicy(Qt::NoFocus);
    connect(previousBtn_, &QToolButton::clicked, this, [this] { setCurrentPreviewItemIndex(current_ - 1); });
    connect(nextBtn_, &QToolButton::clicked, this, [this] { setCurrentPreviewItemIndex(current_ + 1); });
    titleFld_ = new QLabel(bar);
    titleFld_->setObjectName(QStringLiteral("quickLookTitle"));
    QFont bold = titleFld_->font();
    bold.setBold(true);
    titleFld_->setFont(bold);
    titleFld_->setAlignment(Qt::AlignCenter);
    counterFld_ = new QLabel(bar);
    counterFld_->setObjectName(QStringLiteral("quickLookCounter"));
    counterFld_->setStyleSheet(QStringLiteral("color: #6a707a;"));
    counterFld_->setMinimumWidth(60);
    counterFld_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    barLayout->addWidget(previousBtn_);
    barLayout->addWidget(nextBtn_);
    barLayout->addSpacing(8);
    barLayout->addWidget(titleFld_, 1);
    barLayout->addWidget(counterFld_);
    layout->addWidget(bar);

    auto* body = new QWidget(this);
    auto* stack = new QStackedLayout(body);
    pictureView_ = new PictureView(this, body);
    textView_ = new QPlainTextEdit(body);
    textView_->setObjectName(QStringLiteral("quickLookText"));
    textView_->setReadOnly(true);
    textView_->setFocusPolicy(Qt::NoFocus);
    textView_->setFrameShape(QFrame::NoFrame);
    textView_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    factsView_ = filledPart(body, "quickLookFacts", QColor(246, 247, 249));
    auto* factsLayout = new QVBoxLayout(factsView_);
    factsLayout->addStretch(1);
    iconFld_ = new QLabel(factsView_);
    iconFld_->setAlignment(Qt::AlignCenter);
    factsLayout->addWidget(iconFld_);
    factsFld_ = new QLabel(factsView_);
    factsFld_->setObjectName(QStringLiteral("quickLookFactsFld"));
    factsFld_->setAlignment(Qt::AlignCenter);
    factsFld_->setTextFormat(Qt::RichText);
    factsFld_->setWordWrap(true);
    factsLayout->addWidget(factsFld_);
    factsLayout->addStretch(2);
    stack->addWidget(pictureView_);
    stack->addWidget(textView_);
    stack->addWidget(factsView_);
    layout->addWidget(body, 1);
}

void KZPreviewPanel::setDataSource(KZPreviewPanelDataSource* source)
{
    source_ = source;
    sourceGuard_ = dynamic_cast<QObject*>(source);
}

void KZPreviewPanel::reloadData()
{
    if (source_ && !sourceGuard_)
        source_ = nullptr;
    const int count = source_ ? source_->numberOfPreviewItems() : 0;
    // The item on show stays on show while it is still among the items.
    int keep = -1;
    for (int i = 0; shown_ && i < count && keep < 0; ++i)
        if (const KZPreviewItemRef item = source_->previewItemAt(i); item && item->representsSameItem(*shown_))
            keep = i;
    current_ = keep >= 0 ? keep : std::clamp(current_, 0, std::max(count - 1, 0));
    if (keep < 0)
        shown_.reset();
    showCurrent();
}

void KZPreviewPanel::setCurrentPreviewItemIndex(int index)
{
    const int count = source_ && sourceGuard_ ? source_->numberOfPreviewItems() : 0;
    if (count == 0 || index < 0 || index >= count) {
        if (count > 0)
            QApplication::beep();
        return;
    }
    current_ = index;
    shown_.reset();
    showCurrent();
}

QString KZPreviewPanel::titleText() const
{
    return titleFld_->text();
}

void KZPreviewPanel::showCurrent()
{
    const int count = source_ && sourceGuard_ ? source_->numberOfPreviewItems() : 0;
    previousBtn_->setEnabled(current_ > 0);
    nextBtn_->setEnabled(current_ + 1 < count);
    counterFld_->setText(count > 1 ? platform::localizedString(QStringLiteral("_of_int"))
                                         .arg(current_ + 1)
                                         .arg(KZNumberUtilities::sharedControl().numberToFormatString(count))
                                   : QString());
    const KZPreviewItemRef item = count > 0 ? source_->previewItemAt(current_) : nullptr;
    if (item && shown_ == item)
        return;
    shown_ = item;
    if (ticket_)
        ticket_->cancel();
    ticket_.reset();
    picture_ = QImage();
    auto* stack = static_cast<QStackedLayout*>(pictureView_->parentWidget()->layout());
    const KZFoundItemRef found = item ? item->item() : nullptr;
    if (!found) {
        titleFld_->setText(text("quick_look"));
        showing_ = Showing::Nothing;
        iconFld_->clear();
        factsFld_->clear();
        stack->setCurrentWidget(factsView_);
        return;
    }
    const QString name = found->name();
    titleFld_->setText(name);
    setWindowTitle(name);

    // The file's icon and facts stand until a picture or text arrives.
    const QImage icon = KZFileIcons::kindIconForName(name, found->isDirectory(), QSize(256, 256) * devicePixelRatio());
    QPixmap iconPixmap = QPixmap::fromImage(icon);
    iconPixmap.setDevicePixelRatio(devicePixelRatio());
    iconFld_->setPixmap(iconPixmap);
    const quint64 bytes = found->isDirectory() || found->isPackage() ? found->folderSize() : found->size();
    factsFld_->setText(
        QStringLiteral("<p style='font-size:15pt'><b>%1</b></p><p style='color:#50555e'>%2<br>%3<br>%4</p>"
                       "<p style='color:#7a808a'>%5</p>")
            .arg(name.toHtmlEscaped(), found->kind().toHtmlEscaped(),
                 KZNumberUtilities::sharedControl().sizeToFormatString(bytes, 4, true).toHtmlEscaped(),
                 found->formattedDateModified().toHtmlEscaped(), platform::pathText(found->path()).toHtmlEscaped()));
    showing_ = Showing::Facts;
    stack->setCurrentWidget(factsView_);

    KZPreviewLoader::Request request;
    request.path = found->url();
    request.decodeImage = item->isImage() || !item->isSong();
    request.readText = !item->isImage() && !item->isSong();
    // The panel's own size: its picture area is not laid out before it shows.
    request.box = (size() * devicePixelRatioF()).expandedTo(QSize(1, 1));
    if (request.path.empty() || found->isDirectory())
        return;
    ticket_ = KZPreviewLoader::load(request, [this, item, found, stack](const KZPreviewLoader::Result& result) {
        if (shown_ != item)
            return;
        if (!result.image.isNull()) {
            picture_ = result.image;
            picture_.setDevicePixelRatio(devicePixelRatioF());
            pixelSize_ = result.pixelSize;
            KZPreviewFacts::shared().notePixelSize(found, result.pixelSize);
            showing_ = Showing::Picture;
            stack->setCurrentWidget(pictureView_);
            pictureView_->update();
        } else if (result.isText) {
            textView_->setPlainText(result.text);
            showing_ = Showing::Text;
            stack->setCurrentWidget(textView_);
        }
    });
}

KZPreviewPanel::~KZPreviewPanel()
{
    delete zoomView_.data();
}

void KZPreviewPanel::open()
{
    if (!isVisible()) {
        // Over the window it previews, the first time and whenever that
        // window has moved away from it.
        if (const QWidget* front = QApplication::activeWindow(); front && front != this) {
            const QRect over = front->frameGeometry();
            if (!placed_ || !over.intersects(frameGeometry())) {
                move(over.center() - QPoint(width() / 2, height() / 2));
                placed_ = true;
            }
        }
        // The pane on screen takes the panel over here and hands it the
        // selection, so the row to open from is known after this.
        postVisibility(true);
        const QRect from = sourceFrame();
        if (!from.isEmpty())
            setWindowOpacity(0.0);
        show();
        if (!from.isEmpty())
            zoom(from, geometry(), true);
    }
    raise();
    activateWindow();
}

QRect KZPreviewPanel::sourceFrame() const
{
    if (!shown_ || !source_ || !sourceGuard_)
        return {};
    return source_->sourceFrameOnScreen(shown_);
}

void KZPreviewPanel::zoom(const QRect& from, const QRect& to, bool opening)
{
    lastZoom_ = Zoom{from, to, opening};
    ++zoomCount_;
    delete zoomView_.data();
    auto* view = new ZoomView(source_ && sourceGuard_ ? source_->transitionImage(shown_) : QImage());
    zoomView_ = view;
    view->setGeometry(from);
    view->show();
    auto* animation = new QVariantAnimation(view);
    animation->setStartValue(from);
    animation->setEndValue(to);
    animation->setDuration(KZAnimationTiming::milliseconds(0.22));
    animation->setEasingCurve(opening ? QEasingCurve::OutCubic : QEasingCurve::InCubic);
    QObject::connect(animation, &QVariantAnimation::valueChanged, view,
                     [view](const QVariant& value) { view->setGeometry(value.toRect()); });
    QPointer<KZPreviewPanel> self(this);
    QObject::connect(animation, &QVariantAnimation::finished, view, [view, self, opening] {
        // The panel shows itself once the picture has reached its place.
        if (opening && self)
            self->setWindowOpacity(1.0);
        view->deleteLater();
    });
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

void KZPreviewPanel::toggle()
{
    if (isVisible())
        close();
    else
        open();
}

void KZPreviewPanel::postVisibility(bool visible)
{
    if (announcedOpen_ == visible)
        return;
    announcedOpen_ = visible;
    platform::NotificationCenter::defaultCenter().post(
        kVisibilityNote, platform::bundleIdentifier(),
        {{QStringLiteral("isVisible"), visible}, {QStringLiteral("qlPanel"), QVariant::fromValue<QObject*>(this)}});
}

void KZPreviewPanel::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Space:
    case Qt::Key_Escape:
        close();
        return;
    default:
        break;
    }
    // Every other key is the list's, Left and Right included: the list's
    // selection moves and the panel follows it.
    if (source_ && sourceGuard_ && source_->previewPanelKeyPress(*event))
        return;
    // Without a list behind it the panel steps through its own items.
    if (event->key() == Qt::Key_Up || event->key() == Qt::Key_Left)
        setCurrentPreviewItemIndex(current_ - 1);
    else if (event->key() == Qt::Key_Down || event->key() == Qt::Key_Right)
        setCurrentPreviewItemIndex(current_ + 1);
    else
        QWidget::keyPressEvent(event);
}

void KZPreviewPanel::closeEvent(QCloseEvent* event)
{
    QWidget::closeEvent(event);
}

void KZPreviewPanel::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    // Closed, the panel goes back into the row it showed, if that row is
    // still in view.
    delete zoomView_.data();
    setWindowOpacity(1.0);
    if (const QRect to = sourceFrame(); !to.isEmpty() && !QCoreApplication::closingDown())
        zoom(geometry(), to, false);
    if (ticket_)
        ticket_->cancel();
    ticket_.reset();
    // Opened again, the panel starts from the selection of then.
    shown_.reset();
    current_ = 0;
    picture_ = QImage();
    postVisibility(false);
}

void KZPreviewPanel::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    // A picture much smaller than the panel has become is read again at
    // the new size.
    if (showing_ == Showing::Picture && shown_ && !picture_.isNull() && picture_.width() < pixelSize_.width()) {
        const QSize box = size() * devicePixelRatioF();
        if (box.width() > picture_.width() * 1.5 && box.height() > picture_.height() * 1.5) {
            shown_.reset();
            showCurrent();
        }
    }
}
