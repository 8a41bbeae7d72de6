#include "removal/ui/KZRemovePanelWidget.h"

#include "platform/NotificationCenter.h"
#include "platform/Paths.h"
#include "platform/StringTable.h"
#include "removal/KZRemove.h"
#include "removal/ui/KZRemoveInfoSize.h"
#include "removal/ui/KZDesktopNotification.h"
#include "result/model/KZListNotifications.h"
#include "services/ui/KZAnimationTiming.h"
#include "services/ui/KZFocusRing.h"
#include "services/ui/Popover.h"

#include <QApplication>
#include <QCheckBox>
#include <QEvent>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QProgressBar>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QVBoxLayout>

#include <utility>

namespace {

bool gInstant = false;

constexpr quint64 kEmptyFoldersTag = 100000000002ULL;
const QColor kVeilColor = QColor::fromRgbF(0.001f, 0.044f, 0.095f, 0.7f);
constexpr int kCardWidth = 520;

QString text(const char* key)
{
    return platform::localizedString(QString::fromLatin1(key));
}

// Runs `done` when the property has reached `end`; at once when animations
// are instant, so that tests see the end state without waiting.
void animate(QObject* target, const QByteArray& property, const QVariant& end, int ms, QEasingCurve::Type easing,
             std::function<void()> done = {})
{
    if (gInstant || ms <= 0) {
        target->setProperty(property.constData(), end);
        if (done)
            done();
        return;
    }
    auto* animation = new QPropertyAnimation(target, property, target);
    animation->setDuration(KZAnimationTiming::milliseconds(ms / 1000.0));
    animation->setEasingCurve(easing);
    animation->setEndValue(end);
    if (done)
        QObject::connect(animation, &QPropertyAnimation::finished, target, std::move(done));
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

// The tinted, translucent layer of the veil and its tiles: a plain fill,
// nothing redrawn while a tile moves.
class VeilView : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), kVeilColor);
    }
};

// A card: a rounded light panel with an optional title band.
class CardView : public QWidget {
public:
    CardView(const QString& title, QWidget* parent) : QWidget(parent), title_(title)
    {
        auto* effect = new QGraphicsOpacityEffect(this);
        effect->setOpacity(0.0);
        setGraphicsEffect(effect);
    }
    static constexpr int titleHeight = 34;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath path;
        path.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 10, 10);
        QLinearGradient gradient(0, 0, 0, height());
        gradient.setColorAt(0, QColor(0xfb, 0xfc, 0xfd));
        gradient.setColorAt(1, QColor(0xe9, 0xed, 0xf2));
        painter.fillPath(path, gradient);
        painter.setPen(QColor(0, 0, 0, 60));
        painter.drawPath(path);
        if (title_.isEmpty())
            return;
        painter.setPen(QColor(0x2b, 0x35, 0x42));
        QFont font = painter.font();
        font.setBold(true);
        painter.setFont(font);
        painter.drawText(QRect(0, 0, width(), titleHeight), Qt::AlignCenter, title_);
        painter.setPen(QColor(0, 0, 0, 30));
        painter.drawLine(12, titleHeight, width() - 12, titleHeight);
    }

private:
    QString title_;
};

QGraphicsOpacityEffect* opacityOf(QWidget* w)
{
    return qobject_cast<QGraphicsOpacityEffect*>(w->graphicsEffect());
}

QLabel* wrappingLabel(const QString& s, QWidget* parent)
{
    auto* label = new QLabel(s, parent);
    label->setWordWrap(true);
    return label;
}

// Forwards the controller's calls to the widget while it exists: the
// controller may outlive the panel's views by a tick.
class ViewAdapter : public KZRemoveView {
public:
    ViewAdapter(KZRemovePanelWidget* widget, KZRemovePanelHost* host) : widget_(widget), host_(host) {}
    void setStatus(const QString& s) override { if (widget_) widget_->setStatus(s); }
    void setCounters(const QString& c, const QString& s) override { if (widget_) widget_->setCounters(c, s); }
    void setProgress(double p) override { if (widget_) widget_->setProgress(p); }
    void setProgressDeterminate(bool d) override { if (widget_) widget_->setProgressDeterminate(d); }
    void startSpinning() override { if (widget_) widget_->startSpinning(); }
    void stopSpinning() override { if (widget_) widget_->stopSpinning(); }
    void setStartEnabled(bool e) override { if (widget_) widget_->setStartEnabled(e); }
    void setStopEnabled(bool e) override { if (widget_) widget_->setStopEnabled(e); }
    void showProgressView() override { if (widget_) widget_->showProgressView(); }
    void showSuccessfulView(const QString& s) override { if (widget_) widget_->showSuccessfulView(s); }
    void closePanel() override { if (widget_) widget_->closePanel(); }
    void purgeMarkingUndo() override { if (host_) host_->purgeMarkingUndo(); }
    qint64 askReportEmptyFolders() override { return host_ ? host_->askReportEmptyFolders() : 1001; }
    void showErrors(const KZRemove& engine) override { engine.showErrors(); }
    void showCompletionNotification(const QString& title, const QString& body) override
    {
        KZPostDesktopNotification(title, body);
    }

private:
    QPointer<KZRemovePanelWidget> widget_;
    KZRemovePanelHost* host_;
};

} // namespace

void KZRemovePanelWidget::setAnimationsInstant(bool instant)
{
    gInstant = instant;
}

std::shared_ptr<KZRemoveCntrl> KZRemovePanelWidget::open(const QVariantMap& request, QWidget* resultView,
                                                         KZRemovePanelHost* host)
{
    if (!resultView)
        return nullptr;
    auto* widget = new KZRemovePanelWidget(resultView, host);
    auto cntrl = KZRemoveCntrl::create(request, std::make_shared<ViewAdapter>(widget, host));
    widget->cntrl_ = cntrl;
    widget->ownerTag_ = cntrl->ownerTag();
    widget->viewsToDisable_ = cntrl->viewsToDisable();
    widget->installViews();
    widget->openAnimated();
    cntrl->setStartTag(KZRemoveAction::trash);
    return cntrl;
}

KZRemovePanelWidget::KZRemovePanelWidget(QWidget* resultView, KZRemovePanelHost* host)
    : QWidget(resultView), resultView_(resultView), host_(host)
{
    setObjectName(QStringLiteral("removalPanel"));
    resultView->installEventFilter(this);
    setGeometry(resultView->rect());
    raise();
    show();
}

bool KZRemovePanelWidget::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == resultView_ && event->type() == QEvent::Resize)
        layoutOver();
    return QWidget::eventFilter(watched, event);
}

void KZRemovePanelWidget::keyPressEvent(QKeyEvent* event)
{
    // The panel is no dialog, so Qt gives its default buttons no keys: Return
    // and Enter press the shown card's default button and Escape its Cancel,
    // as they would in a dialog. A running removal has no key of its own.
    const bool accept = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    const bool escape = event->key() == Qt::Key_Escape;
    const std::shared_ptr<KZRemoveCntrl> c = cntrl();
    const std::size_t page = c && c->startTag() == KZRemoveAction::move ? 1 : 0;
    QPushButton* target = nullptr;
    if (card_ == Card::Choose && !opening_ && !closing_)
        target = accept ? startBtn_[page] : escape ? cancelBtn_[page] : nullptr;
    else if (card_ == Card::Final && (accept || escape))
        target = closeBtn_;
    // As in a dialog, Return presses the button that has the focus: a user
    // who tabbed to Cancel must never start the removal.
    if (auto* focused = qobject_cast<QPushButton*>(QApplication::focusWidget());
        accept && focused && isAncestorOf(focused))
        target = focused;
    if (!target) {
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
    if (target->isVisible() && target->isEnabled())
        target->click();
    else if (accept)
        QApplication::beep();
}

QRect KZRemovePanelWidget::topDown(const KZPanelRect& r, const QWidget* parent) const
{
    const KZPanelRect d = KZPanelRectToTopDown(r, parent ? parent->height() : height());
    return QRect(qRound(d.x), qRound(d.y), qRound(d.width), qRound(d.height));
}

static KZPanelRect upRect(const QRect& r, int parentHeight)
{
    return KZPanelRectToTopDown({double(r.x()), double(r.y()), double(r.width()), double(r.height())}, parentHeight);
}

QRect KZRemovePanelWidget::pageRect(KZPanelPage page, bool outside) const
{
    const QWidget* pageView = page == KZPanelPage::Trash ? trashView_ : moveView_;
    const KZPanelRect card{0, 0, double(firstView_->width()), double(firstView_->height())};
    return topDown(KZPanelPageRect(page, outside, upRect(pageView->geometry(), firstView_->height()), card), firstView_);
}

void KZRemovePanelWidget::layoutOver()
{
    if (!resultView_)
        return;
    setGeometry(resultView_->rect());
    const KZPanelRect cover = KZPanelCoverRect({0, 0, double(width()), double(height())});
    const QRect r = topDown(cover, this);
    veil_->setGeometry(r);
    mainView_->setGeometry(r);
    const KZPanelRect main{0, 0, double(r.width()), double(r.height())};
    for (QWidget* card : {layerView_, progressView_, finalView_, firstView_}) {
        const KZPanelRect size{0, 0, double(card->width()), double(card->height())};
        card->setGeometry(topDown(KZPanelCardRect(main, size), mainView_));
    }
}

QPushButton* KZRemovePanelWidget::infoButtonFor(int tag, QWidget* parent)
{
    auto* button = new QPushButton(QStringLiteral("i"), parent);
    button->setObjectName(QStringLiteral("removalInfo%1").arg(tag));
    button->setFixedSize(22, 22);
    // A click shows the explanation without taking the keys from the page,
    // so that Return still presses Start; Tab still reaches it.
    button->setFocusPolicy(Qt::TabFocus);
    button->setProperty("infoTag", tag);
    connect(button, &QPushButton::clicked, this, &KZRemovePanelWidget::showInfo);
    return button;
}

QLabel* KZRemovePanelWidget::musicNote(int which, QWidget* page)
{
    QLabel*& note = musicNotes_.at(std::size_t(which));
    note = wrappingLabel(QString(), page);
    note->setObjectName(QStringLiteral("removalMusicNote%1").arg(which + 1));
    note->hide();
    return note;
}

QWidget* KZRemovePanelWidget::makeTrashPage()
{
    auto* page = new QWidget(firstView_);
    page->setObjectName(QStringLiteral("removalTrashPage"));
    // The page holds the keys for the panel (Return, Escape) but is no stop
    // of its own in the Tab chain: it would take the focus and show nothing.
    page->setFocusPolicy(Qt::ClickFocus);
    auto* column = new QVBoxLayout(page);
    column->setContentsMargins(24, 18, 24, 18);
    auto* title = new QLabel(text("removal_trash_title"), page);
    QFont big = title->font();
    big.setPointSizeF(big.pointSizeF() * 1.3);
    big.setBold(true);
    title->setFont(big);
    column->addWidget(title);
    column->addWidget(wrappingLabel(text("removal_trash_note"), page));
    column->addWidget(musicNote(0, page));
    photosNote_ = wrappingLabel(QString(), page);
    photosNote_->setObjectName(QStringLiteral("removalPhotosNote"));
    photosNote_->hide();
    column->addWidget(photosNote_);
    auto* hardLinks = new QHBoxLayout;
    hardLinksCheck_ = new QCheckBox(text("removal_hard_links"), page);
    hardLinksCheck_->setObjectName(QStringLiteral("removalHardLinks"));
    infoBtn_ = infoButtonFor(1, page);
    hardLinks->addWidget(hardLinksCheck_);
    hardLinks->addWidget(infoBtn_);
    hardLinks->addStretch();
    column->addLayout(hardLinks);
    column->addStretch();
    auto* buttons = new QHBoxLayout;
    auto* other = new QPushButton(text("removal_to_folder_button"), page);
    other->setObjectName(QStringLiteral("removalToFolder"));
    connect(other, &QPushButton::clicked, this, [this] { replacePage(1); });
    auto* cancel = new QPushButton(text("cancel_button"), page);
    cancelBtn_[0] = cancel;
    connect(cancel, &QPushButton::clicked, this, [this] { if (auto c = cntrl()) c->cancelAction(); });
    startBtn_[0] = new QPushButton(text("start_button"), page);
    startBtn_[0]->setObjectName(QStringLiteral("removalStartTrash"));
    startBtn_[0]->setDefault(true);
    buttons->addWidget(other);
    buttons->addStretch();
    buttons->addWidget(cancel);
    buttons->addWidget(startBtn_[0]);
    column->addLayout(buttons);
    return page;
}

QWidget* KZRemovePanelWidget::makeMovePage()
{
    auto* page = new QWidget(firstView_);
    page->setObjectName(QStringLiteral("removalMovePage"));
    page->setFocusPolicy(Qt::ClickFocus);
    auto* column = new QVBoxLayout(page);
    column->setContentsMargins(24, 18, 24, 18);
    moveViewTitleFld_ = new QLabel(text("removal_move_title"), page);
    QFont big = moveViewTitleFld_->font();
    big.setPointSizeF(big.pointSizeF() * 1.3);
    big.setBold(true);
    moveViewTitleFld_->setFont(big);
    column->addWidget(moveViewTitleFld_);

    notPhotosView_ = new QWidget(page);
    auto* chooser = new QVBoxLayout(notPhotosView_);
    chooser->setContentsMargins(0, 0, 0, 0);
    auto* pathRow = new QHBoxLayout;
    pathFld_ = new QLabel(text("removal_no_folder"), notPhotosView_);
    pathFld_->setObjectName(QStringLiteral("removalPath"));
    pathFld_->setStyleSheet(QStringLiteral("color: #444;"));
    pathFld_->setMinimumWidth(250);
    auto* choose = new QPushButton(text("removal_choose_button"), notPhotosView_);
    choose->setObjectName(QStringLiteral("removalChoose"));
    connect(choose, &QPushButton::clicked, this, [this] {
        if (!host_)
            return;
        QPointer<KZRemovePanelWidget> self(this);
        host_->chooseDestination([self](const std::filesystem::path& folder) {
            if (!self)
                return;
            if (!folder.empty())
                self->pathFld_->setText(self->pathFld_->fontMetrics().elidedText(
                    platform::pathText(folder), Qt::ElideMiddle, self->pathFld_->width()));
            if (auto c = self->cntrl())
                c->setDestination(folder);
        });
    });
    pathRow->addWidget(pathFld_, 1);
    pathRow->addWidget(choose);
    chooser->addLayout(pathRow);
    renameCheck_ = new QCheckBox(text("removal_rename"), notPhotosView_);
    createFolderCheck_ = new QCheckBox(text("removal_create_folders"), notPhotosView_);
    for (const auto& [check, tag] : {std::pair{renameCheck_, 2}, std::pair{createFolderCheck_, 4}}) {
        auto* optionRow = new QHBoxLayout;
        optionRow->addWidget(check);
        optionRow->addWidget(infoButtonFor(tag, notPhotosView_));
        optionRow->addStretch();
        chooser->addLayout(optionRow);
    }
    column->addWidget(notPhotosView_);

    movePhotosView_ = wrappingLabel(text("removal_photos_move"), page);
    movePhotosView_->hide();
    column->addWidget(movePhotosView_);
    replaceHardLinksView_ = new QWidget(page);
    auto* row = new QHBoxLayout(replaceHardLinksView_);
    row->setContentsMargins(0, 0, 0, 0);
    hardLinksCheck2_ = new QCheckBox(text("removal_hard_links"), replaceHardLinksView_);
    hardLinksCheck2_->setObjectName(QStringLiteral("removalHardLinks2"));
    row->addWidget(hardLinksCheck2_);
    row->addStretch();
    column->addWidget(replaceHardLinksView_);
    photosNotesView_ = new QWidget(page);
    auto* notesRow = new QHBoxLayout(photosNotesView_);
    notesRow->setContentsMargins(0, 0, 0, 0);
    // Wrapped short of the Cancel button, so that the explanation, which
    // opens on the button's left, stays clear of Cancel and Start.
    auto* notes = wrappingLabel(text("removal_photos_notes"), photosNotesView_);
    notes->setFixedWidth(kCardWidth / 2);
    notesRow->addWidget(notes);
    notesRow->addWidget(infoButtonFor(3, photosNotesView_));
    notesRow->addStretch();
    column->addWidget(photosNotesView_);
    column->addWidget(musicNote(1, page));
    column->addStretch();
    auto* buttons = new QHBoxLayout;
    auto* back = new QPushButton(text("removal_to_trash_button"), page);
    back->setObjectName(QStringLiteral("removalToTrash"));
    connect(back, &QPushButton::clicked, this, [this] { replacePage(2); });
    auto* cancel = new QPushButton(text("cancel_button"), page);
    cancelBtn_[1] = cancel;
    connect(cancel, &QPushButton::clicked, this, [this] { if (auto c = cntrl()) c->cancelAction(); });
    startBtn_[1] = new QPushButton(text("start_button"), page);
    startBtn_[1]->setObjectName(QStringLiteral("removalStartMove"));
    startBtn_[1]->setDefault(true);
    buttons->addWidget(back);
    buttons->addStretch();
    buttons->addWidget(cancel);
    buttons->addWidget(startBtn_[1]);
    column->addLayout(buttons);
    return page;
}

QWidget* KZRemovePanelWidget::makeProgressCard()
{
    auto* card = new CardView(text("moving_progress"), mainView_);
    card->setObjectName(QStringLiteral("removalProgressCard"));
    card->resize(kCardWidth, 210);
    auto* column = new QVBoxLayout(card);
    column->setContentsMargins(24, CardView::titleHeight + 14, 24, 18);
    progressInfoFld_ = new QLabel(card);
    progressInfoFld_->setObjectName(QStringLiteral("removalStatus"));
    column->addWidget(progressInfoFld_);
    spinning_ = new QProgressBar(card);
    spinning_->setTextVisible(false);
    spinning_->setRange(0, 100);
    column->addWidget(spinning_);
    countFld_ = new QLabel(card);
    column->addWidget(countFld_);
    movedSizeView_ = new QWidget(card);
    auto* sizeRow = new QHBoxLayout(movedSizeView_);
    sizeRow->setContentsMargins(0, 0, 0, 0);
    sizeFld_ = new QLabel(movedSizeView_);
    sizeRow->addWidget(sizeFld_);
    column->addWidget(movedSizeView_);
    column->addStretch();
    auto* buttons = new QHBoxLayout;
    stopBtn_ = new QPushButton(text("stop_button"), card);
    stopBtn_->setObjectName(QStringLiteral("removalStop"));
    connect(stopBtn_, &QPushButton::clicked, this, [this] { if (auto c = cntrl()) c->stopAction(); });
    buttons->addStretch();
    buttons->addWidget(stopBtn_);
    column->addLayout(buttons);
    return card;
}

QWidget* KZRemovePanelWidget::makeFinalCard()
{
    auto* card = new CardView(text("successful"), mainView_);
    card->setObjectName(QStringLiteral("removalFinalCard"));
    card->resize(kCardWidth, 170);
    auto* column = new QVBoxLayout(card);
    column->setContentsMargins(24, CardView::titleHeight + 14, 24, 18);
    finalFld_ = wrappingLabel(QString(), card);
    finalFld_->setObjectName(QStringLiteral("removalFinalText"));
    column->addWidget(finalFld_);
    column->addStretch();
    auto* buttons = new QHBoxLayout;
    auto* close = new QPushButton(text("close_button"), card);
    close->setObjectName(QStringLiteral("removalClose"));
    close->setDefault(true);
    closeBtn_ = close;
    connect(close, &QPushButton::clicked, this, [this] { if (auto c = cntrl()) c->closeSession(); });
    buttons->addStretch();
    buttons->addWidget(close);
    column->addLayout(buttons);
    return card;
}

void KZRemovePanelWidget::installViews()
{
    veil_ = new VeilView(this);
    veil_->hide(); // shown when the tiles that cover it settle
    // The cards fade each with an effect of its own: Qt draws nested
    // opacity effects wrongly, so the main view carries none.
    mainView_ = new QWidget(this);
    mainView_->show(); // made after the panel was shown

    layerView_ = new CardView(QString(), mainView_);
    layerView_->resize(kCardWidth, 240);
    progressView_ = makeProgressCard();
    finalView_ = makeFinalCard();
    firstView_ = new QWidget(mainView_);
    firstView_->setObjectName(QStringLiteral("removalChooseCard"));
    firstView_->resize(kCardWidth, 240);
    auto* firstOpacity = new QGraphicsOpacityEffect(firstView_);
    firstOpacity->setOpacity(0.0);
    firstView_->setGraphicsEffect(firstOpacity);
    for (QWidget* card : {layerView_, progressView_, finalView_, firstView_})
        card->hide();
    layoutOver();

    trashView_ = makeTrashPage();
    moveView_ = makeMovePage();
    trashView_->setGeometry(0, 0, kCardWidth, firstView_->height());
    moveView_->setGeometry(0, 0, kCardWidth, firstView_->height());
    trashView_->setGeometry(pageRect(KZPanelPage::Trash, false));
    moveView_->setGeometry(pageRect(KZPanelPage::Move, true));
    // A page outside the card is clipped away, not hidden: hidden, Tab
    // cannot reach its buttons (Space on its Choose… would open a folder
    // panel over the other page and take the folder unseen).
    moveView_->hide();

    // The style outlines a default button as it outlines the focus, so the
    // focus on one would not show without a ring of its own.
    for (QPushButton* button : {startBtn_[0], startBtn_[1], closeBtn_})
        KZFocusRing::showWhileFocused(button, 4);
    for (QPushButton* start : startBtn_) {
        connect(start, &QPushButton::clicked, this, [this] {
            if (auto c = cntrl()) {
                const bool trash = c->startTag() == KZRemoveAction::trash;
                c->startAction({.hardLinks = (trash ? hardLinksCheck_ : hardLinksCheck2_)->isChecked(),
                                .rename = renameCheck_->isChecked(),
                                .createFolders = createFolderCheck_->isChecked()});
            }
        });
    }

    const std::shared_ptr<KZRemoveCntrl> c = cntrl();
    if (c && !c->isPhotosSearch())
        photosNotesView_->hide();
    if (c && c->isOnlyPhotos && !c->needsDestination()) {
        notPhotosView_->hide();
        movePhotosView_->show();
        moveViewTitleFld_->setText(text("mark_images"));
        movedSizeView_->hide();
        replaceHardLinksView_->hide();
        photosNotesView_->show();
    }
    if (ownerTag_ == kEmptyFoldersTag)
        movedSizeView_->hide();
    // Marked tracks of a music library are said to stay before Start, not
    // found out in the report only.
    if (const QString note = c ? KZRemoveMusicNote(c->musicItemsKept()) : QString(); !note.isEmpty()) {
        for (QLabel* label : musicNotes_) {
            label->setText(note);
            label->show();
        }
    }
    // Marked photo-library items do not go to the Trash either.
    if (const QString note = c ? KZRemovePhotosNote(c->photosItemsKept()) : QString(); !note.isEmpty()) {
        photosNote_->setText(note);
        photosNote_->show();
    }
    // A folder cannot be hard-linked: the option is offered for files only.
    if (c && !c->itemsArefiles) {
        hardLinksCheck_->hide();
        infoBtn_->hide();
        replaceHardLinksView_->hide();
    }
}

QWidget* KZRemovePanelWidget::makeTile(qint16 n)
{
    const KZPanelRect cover = KZPanelCoverRect({0, 0, double(width()), double(height())});
    auto* tile = new VeilView(this);
    tile->setObjectName(QStringLiteral("removalTile%1").arg(n));
    tile->setGeometry(topDown(KZPanelTileRect(n, true, cover), this));
    // Between the veil and the cards.
    tile->stackUnder(mainView_);
    tile->show();
    return tile;
}

void KZRemovePanelWidget::openAnimated()
{
    opening_ = true;
    const KZPanelRect cover = KZPanelCoverRect({0, 0, double(width()), double(height())});
    QPointer<KZRemovePanelWidget> self(this);
    auto tiles = std::make_shared<std::vector<QWidget*>>();
    for (qint16 n = 1; n <= 4; ++n) {
        QWidget* tile = makeTile(n);
        const QPoint home = tile->pos();
        tile->move(topDown(KZPanelTileRect(n, false, cover), this).topLeft());
        tiles->push_back(tile);
        const bool last = n == 4;
        animate(tile, "pos", home, 500, QEasingCurve::OutCubic, [self, tiles, last] {
            if (!self || !last)
                return;
            self->veil_->show();
            self->veil_->lower();
            for (QWidget* t : *tiles)
                t->deleteLater();
            tiles->clear();
            self->layerView_->show();
            self->firstView_->show();
            self->card_ = Card::Choose;
            animate(opacityOf(self->layerView_), "opacity", 1.0, 300, QEasingCurve::InCubic);
            animate(opacityOf(self->firstView_), "opacity", 1.0, 300, QEasingCurve::InCubic);
            self->opening_ = false;
            platform::NotificationCenter::defaultCenter().post(
                QStringLiteral("disableViews"), platform::bundleIdentifier(),
                {{QStringLiteral("excludeDiscendentOf"), QVariant::fromValue<QObject*>(self->mainView_)},
                 {QStringLiteral("viewsToDisable"), self->viewsToDisable_}});
            self->viewsToDisable_.clear();
            self->trashView_->setFocus();
        });
    }
}

void KZRemovePanelWidget::fadeCard(QWidget* card, bool in, int ms)
{
    if (in) {
        card->show();
        card->raise();
        animate(opacityOf(card), "opacity", 1.0, ms, QEasingCurve::Linear);
        return;
    }
    QPointer<QWidget> guarded(card);
    animate(opacityOf(card), "opacity", 0.0, ms, QEasingCurve::Linear, [guarded] {
        if (guarded)
            guarded->hide();
    });
}

void KZRemovePanelWidget::replacePage(int senderTag)
{
    if (closing_)
        return;
    const bool toMove = senderTag == 1;
    // Computed before anything moves: the Trash page's outside frame is
    // relative to where it stands now.
    const QRect trashTarget = pageRect(KZPanelPage::Trash, toMove);
    const QRect moveTarget = pageRect(KZPanelPage::Move, !toMove);
    const std::shared_ptr<KZRemoveCntrl> c = cntrl();
    if (c)
        c->setStartTag(toMove ? KZRemoveAction::move : KZRemoveAction::trash);
    QPointer<KZRemovePanelWidget> self(this);
    QWidget* incoming = toMove ? moveView_ : trashView_;
    incoming->show();
    // The keys go to the page coming in from the start of the slide, so that
    // no Tab lands on the page going out.
    incoming->setFocus();
    animate(trashView_, "geometry", trashTarget, 750, QEasingCurve::InOutCubic);
    animate(moveView_, "geometry", moveTarget, 750, QEasingCurve::InOutCubic, [self, toMove] {
        if (!self)
            return;
        if (auto cn = self->cntrl())
            self->setStartEnabled(cn->startEnabled());
        QWidget* shown = toMove ? self->moveView_ : self->trashView_;
        QWidget* gone = toMove ? self->trashView_ : self->moveView_;
        // A page slid back the other way before this one ended stays shown.
        if (self->movePageShown() == toMove) {
            if (gone->isAncestorOf(QApplication::focusWidget()))
                shown->setFocus();
            gone->hide();
        }
    });
}

QPushButton* KZRemovePanelWidget::infoButton(int tag) const
{
    return findChild<QPushButton*>(QStringLiteral("removalInfo%1").arg(tag));
}

void KZRemovePanelWidget::showInfo()
{
    if (popover_ && popover_->isVisible()) {
        popover_->close();
        return;
    }
    auto* button = qobject_cast<QPushButton*>(sender());
    if (!button)
        button = infoBtn_;
    const int tag = button->property("infoTag").toInt();
    if (!popover_)
        popover_ = new platform::Popover(window());
    auto* label = new QLabel(KZRemoveInfoText(tag));
    label->setObjectName(QStringLiteral("removalInfoText"));
    label->setWordWrap(true);
    label->setStyleSheet(QStringLiteral("color: #444;"));
    const QSize size = KZRemoveInfoTextSize(label->fontMetrics(), label->text());
    label->setFixedWidth(size.width());
    label->setContentsMargins(15, 15, 15, 0);
    label->setFixedSize(size.width() + 30, size.height() + 30);
    popover_->setContentWidget(label);
    // On the button's left: the options and the Cancel and Start buttons
    // stand to the right of every info button, so none is covered.
    popover_->showRelativeTo(button, button->rect(), platform::Popover::Edge::Left);
}

void KZRemovePanelWidget::setStatus(const QString& s)
{
    progressInfoFld_->setText(s);
}

void KZRemovePanelWidget::setCounters(const QString& count, const QString& size)
{
    countFld_->setText(count);
    sizeFld_->setText(size);
}

void KZRemovePanelWidget::setProgress(double percent)
{
    spinning_->setValue(qBound(0, qRound(percent), 100));
}

void KZRemovePanelWidget::setProgressDeterminate(bool determinate)
{
    spinning_->setRange(0, determinate ? 100 : 0);
}

void KZRemovePanelWidget::startSpinning()
{
    spinning_->setRange(0, 0);
}

void KZRemovePanelWidget::stopSpinning()
{
    spinning_->setRange(0, 100);
    spinning_->setValue(100);
}

void KZRemovePanelWidget::setStartEnabled(bool enabled)
{
    startEnabled_ = enabled;
    if (!startBtn_[0])
        return; // not installed yet; open() asks again
    // The Trash page always can start; the move page needs a folder.
    startBtn_[0]->setEnabled(true);
    startBtn_[1]->setEnabled(enabled);
}

void KZRemovePanelWidget::setStopEnabled(bool enabled)
{
    stopBtn_->setEnabled(enabled);
}

void KZRemovePanelWidget::showProgressView()
{
    card_ = Card::Progress;
    fadeCard(layerView_, false, 500);
    fadeCard(firstView_, false, 500);
    fadeCard(progressView_, true, 500);
    progressView_->setFocus();
}

void KZRemovePanelWidget::showSuccessfulView(const QString& finalText)
{
    finalFld_->setText(finalText);
    if (layerView_->isVisible() && card_ == Card::Choose) {
        fadeCard(layerView_, false, 500);
        fadeCard(firstView_, false, 500);
    } else {
        fadeCard(progressView_, false, 500);
    }
    card_ = Card::Final;
    fadeCard(finalView_, true, 500);
    finalView_->setFocus();
}

void KZRemovePanelWidget::closePanel()
{
    if (closing_)
        return;
    closing_ = true;
    if (popover_)
        popover_->close();
    QPointer<KZRemovePanelWidget> self(this);
    for (QWidget* card : {layerView_, progressView_, finalView_})
        animate(opacityOf(card), "opacity", 0.0, 300, QEasingCurve::InCubic);
    animate(opacityOf(firstView_), "opacity", 0.0, 300, QEasingCurve::InCubic, [self] {
        if (!self)
            return;
        const KZPanelRect cover = KZPanelCoverRect({0, 0, double(self->width()), double(self->height())});
        std::vector<QWidget*> tiles;
        for (qint16 n = 1; n <= 4; ++n)
            tiles.push_back(self->makeTile(n));
        self->veil_->hide();
        self->mainView_->hide();
        for (qint16 n = 1; n <= 4; ++n) {
            const QPoint off = self->topDown(KZPanelTileRect(n, false, cover), self).topLeft();
            animate(tiles[n - 1], "pos", off, 500, QEasingCurve::OutCubic, n == 4 ? std::function<void()>([self] {
                if (self)
                    self->finishClosing();
            }) : std::function<void()>());
        }
    });
}

void KZRemovePanelWidget::finishClosing()
{
    card_ = Card::None;
    hide();
    platform::NotificationCenter& center = platform::NotificationCenter::defaultCenter();
    center.post(QStringLiteral("removingProcessDidChangeStatus"), platform::bundleIdentifier(),
                {{QStringLiteral("isRemoving"), false}});
    center.post(KZNotification::removePanelDidClose, platform::bundleIdentifier(),
                {{QStringLiteral("ownerTag"), QVariant::fromValue<quint64>(ownerTag_)}});
    deleteLater();
}
