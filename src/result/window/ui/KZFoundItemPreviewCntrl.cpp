#include "result/window/ui/KZFoundItemPreviewCntrl.h"

#include "platform/NotificationCenter.h"
#include "platform/StringTable.h"
#include "platform/UserDefaults.h"
#include "result/model/KZListNotifications.h"
#include "result/window/ui/KZPreview.h"
#include "services/KZNumberUtilities.h"
#include "services/ui/KZFileIcons.h"
#include "services/ui/KZFocusRing.h"
#include "settings/KZDefaultsKeys.h"
#include "settings/KZNotificationNames.h"

#include <QApplication>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QLabel>
#include <QResizeEvent>
#include <QScrollArea>
#include <QScrollBar>
#include <QSet>
#include <QStackedLayout>

#include <algorithm>

namespace {

platform::NotificationCenter& center()
{
    return platform::NotificationCenter::defaultCenter();
}

const QString kVisibilityNote = QStringLiteral("quickLookWindowVisibilityWillChange");
const QString kPositionDidSwitch = QStringLiteral("splitViewPositionDidSwitch");

double localizedWidth(const char* key)
{
    bool ok = false;
    const double width = platform::localizedString(QString::fromLatin1(key)).toDouble(&ok);
    return ok ? width : 0;
}

// The pane's plain background, under the cards.
class Canvas : public QWidget {
public:
    explicit Canvas(QWidget* parent) : QWidget(parent)
    {
        setObjectName(QStringLiteral("previewCanvas"));
        setAutoFillBackground(true);
        QPalette pal = palette();
        pal.setColor(QPalette::Window, QColor(236, 238, 242));
        setPalette(pal);
    }
};

} // namespace

KZFoundItemPreviewCntrl::KZFoundItemPreviewCntrl(Settings settings) : settings_(std::move(settings))
{
    view_ = new QWidget;
    viewGuard_ = view_;
    view_->setObjectName(QStringLiteral("previewPaneView"));
    auto* stack = new QStackedLayout(view_);
    stack->setStackingMode(QStackedLayout::StackAll);
    scrollArea_ = new QScrollArea(view_);
    scrollArea_->setObjectName(QStringLiteral("previewCollection"));
    scrollArea_->setFrameShape(QFrame::NoFrame);
    scrollArea_->setWidgetResizable(false);
    canvas_ = new Canvas(scrollArea_);
    scrollArea_->setWidget(canvas_);
    scrollArea_->viewport()->setAutoFillBackground(true);
    scrollArea_->viewport()->setPalette(canvas_->palette());
    scrollArea_->viewport()->installEventFilter(this);
    // The strip takes the focus for its scrolling keys; the style would not
    // show it.
    KZFocusRing::showWhileFocused(scrollArea_);
    emptyPreviewFld_ = new QLabel(platform::localizedString(QStringLiteral("no_preview_selection")), view_);
    emptyPreviewFld_->setObjectName(QStringLiteral("emptyPreviewFld"));
    emptyPreviewFld_->setAlignment(Qt::AlignCenter);
    emptyPreviewFld_->setWordWrap(true);
    emptyPreviewFld_->setAutoFillBackground(true);
    QPalette emptyPalette = emptyPreviewFld_->palette();
    emptyPalette.setColor(QPalette::Window, QColor(236, 238, 242));
    emptyPalette.setColor(QPalette::WindowText, QColor(138, 143, 152));
    emptyPreviewFld_->setPalette(emptyPalette);
    QFont emptyFont = emptyPreviewFld_->font();
    emptyFont.setPointSizeF(emptyFont.pointSizeF() * 1.3);
    emptyPreviewFld_->setFont(emptyFont);
    stack->addWidget(scrollArea_);
    stack->addWidget(emptyPreviewFld_);
    // Nothing selected yet: the field, not the collection.
    scrollArea_->hide();
    emptyPreviewFld_->show();
    emptyPreviewFld_->raise();

    for (QScrollBar* bar : {scrollArea_->verticalScrollBar(), scrollArea_->horizontalScrollBar()})
        connect(bar, &QScrollBar::valueChanged, this, [this] { syncCards(); });

    splitIsVertical_ = platform::UserDefaults::standard().boolForKey(KZDefaultsKey::list_splitView_is_vertical);
    updateScrollDirection();
    observations_.push_back(center().addObserver(KZNotification::switchPositionSplitView, platform::bundleIdentifier(),
                                                 [this](const platform::Notification&) { switchPositionSplitView(); }));
    observations_.push_back(center().addObserver(kPositionDidSwitch, platform::bundleIdentifier(),
                                                 [this](const platform::Notification&) {
                                                     // The cards follow their frames again.
                                                     for (const KZPreviewItemRef& item : itemsCollection_)
                                                         item->setDontUpdate(false);
                                                 }));
    observations_.push_back(center().addObserver(
        kVisibilityNote, platform::bundleIdentifier(),
        [this](const platform::Notification& note) { quickLookWindowVisibilityWillChange(note.userInfo); }));
    if (settings_.outlineView) {
        observations_.push_back(center().addObserver(KZNotification::splitViewDidCollapse, settings_.outlineView,
                                                     [this](const platform::Notification&) { splitViewDidCollapse(); }));
        observations_.push_back(center().addObserver(KZNotification::splitViewDidUncollapse, settings_.outlineView,
                                                     [this](const platform::Notification&) { splitViewDidUncollapse(); }));
    }
    keyView_ = settings_.keyView;
    if (keyView_)
        keyView_->installEventFilter(this);
    exifDescrptionWidth_ = localizedWidth("x_position_EXIF_field");
    tagDescrptionWidth_ = localizedWidth("x_position_TAG_field");
    qlPanelIsVisible_ = KZPreviewPanel::isOpen();
}

KZFoundItemPreviewCntrl::~KZFoundItemPreviewCntrl()
{
    observations_.clear();
    if (KZPreviewPanel::exists() && KZPreviewPanel::shared().dataSource() == this)
        KZPreviewPanel::shared().setDataSource(nullptr);
    if (keyView_)
        keyView_->removeEventFilter(this);
    // The tab's view may have taken the pane with it already.
    cards_.clear();
    if (viewGuard_)
        delete viewGuard_.data();
}

// ---- Selection ---------------------------------------------------------------------------

void KZFoundItemPreviewCntrl::showPreviewWithArray(const KZPreviewItems& items)
{
    showAppropriateView(!items.isEmpty());
    if (splitViewIsCollapsed_) {
        if (qlPanelIsVisible_) {
            // Only the panel shows the selection; the cards are made again
            // from it when the pane opens.
            splitViewWasCollapsed_ = true;
            needsReload_ = true;
            itemsCollection_ = items;
            reloadPanelIfOurs();
        }
    } else {
        QPointer<KZFoundItemPreviewCntrl> self(this);
        QMetaObject::invokeMethod(
            this,
            [self, items] {
                if (self)
                    self->applyUpdate(items);
            },
            Qt::QueuedConnection);
    }
    if (items.isEmpty()) {
        center().post(KZNotification::listSelectionDidChange, platform::bundleIdentifier());
        return;
    }
    const QString name =
        items.size() == 1
            ? items.first()->name()
            : platform::localizedString(QStringLiteral("items_count"))
                  .arg(KZNumberUtilities::sharedControl().numberToFormatString(items.size()));
    center().post(KZNotification::listSelectionDidChange, platform::bundleIdentifier(),
                  {{QStringLiteral("fileName"), name}, {QStringLiteral("count"), quint64(items.size())}});
}

void KZFoundItemPreviewCntrl::applyUpdate(const KZPreviewItems& items)
{
    if (!viewGuard_)
        return;
    if (needsReload_) {
        // The collection was replaced while the pane was closed: the cards
        // are made again from the selection as it is now.
        needsReload_ = false;
        itemsCollection_ = items;
        std::stable_sort(itemsCollection_.begin(), itemsCollection_.end(),
                         [](const KZPreviewItemRef& a, const KZPreviewItemRef& b) { return a->index() < b->index(); });
        reloadCollection();
    } else if (items.isEmpty()) {
        if (!itemsCollection_.isEmpty()) {
            lastDifference_ = {};
            for (int i = 0; i < itemsCollection_.size(); ++i)
                lastDifference_.deleted.append(i);
            itemsCollection_.clear();
            reloadCollection();
        }
    } else if (!itemsCollection_.isEmpty()) {
        updateCollectionViewItems(items);
    } else {
        itemsCollection_ = items;
        lastDifference_ = {};
        for (int i = 0; i < itemsCollection_.size(); ++i)
            lastDifference_.inserted.append(i);
        reloadCollection();
    }
    reloadPanelIfOurs();
    splitViewWasCollapsed_ = false;
}

void KZFoundItemPreviewCntrl::updateCollectionViewItems(KZPreviewItems newItems)
{
    // Matched by the found item's identity, through a table: a selection of
    // every row must not compare every card with every row.
    QSet<const KZFoundItem*> incoming;
    incoming.reserve(newItems.size());
    for (const KZPreviewItemRef& item : newItems)
        if (const KZFoundItemRef found = item->item())
            incoming.insert(found.get());
    QSet<const KZFoundItem*> present;
    present.reserve(itemsCollection_.size());
    for (const KZPreviewItemRef& item : itemsCollection_)
        if (const KZFoundItemRef found = item->item())
            present.insert(found.get());

    lastDifference_ = {};
    // A card whose found item is gone matches nothing and goes.
    KZPreviewItems kept;
    kept.reserve(itemsCollection_.size());
    for (int i = 0; i < itemsCollection_.size(); ++i) {
        const KZPreviewItemRef& item = itemsCollection_.at(i);
        const KZFoundItemRef found = item->item();
        if (found && incoming.contains(found.get())) {
            kept.append(item);
        } else {
            item->setDontUpdate(true);
            lastDifference_.deleted.append(i);
        }
    }
    KZPreviewItems added;
    for (const KZPreviewItemRef& item : newItems) {
        const KZFoundItemRef found = item->item();
        if (!found || !present.contains(found.get())) {
            item->setDontUpdate(true);
            added.append(item);
        }
    }
    itemsCollection_ = kept;
    if (added.isEmpty() && !splitViewWasCollapsed_) {
        if (!lastDifference_.deleted.isEmpty())
            relayout();
        return;
    }
    itemsCollection_.append(added);
    std::stable_sort(itemsCollection_.begin(), itemsCollection_.end(),
                     [](const KZPreviewItemRef& a, const KZPreviewItemRef& b) { return a->index() < b->index(); });
    QSet<const KZPreviewItem*> addedSet;
    for (const KZPreviewItemRef& item : added)
        addedSet.insert(item.get());
    for (int i = 0; i < itemsCollection_.size(); ++i)
        if (addedSet.contains(itemsCollection_.at(i).get()))
            lastDifference_.inserted.append(i);
    relayout();
}

void KZFoundItemPreviewCntrl::reloadCollection()
{
    qDeleteAll(cards_);
    cards_.clear();
    relayout();
}

KZPreviewItemRef KZFoundItemPreviewCntrl::previewItemAt(int index) const
{
    return index >= 0 && index < itemsCollection_.size() ? itemsCollection_.at(index) : nullptr;
}

bool KZFoundItemPreviewCntrl::previewPanelKeyPress(const QKeyEvent& event)
{
    if (!keyView_ || event.type() != QEvent::KeyPress)
        return false;
    // The list moves its selection as if it had the key; the new selection
    // reaches the panel through this pane.
    QKeyEvent forwarded(QEvent::KeyPress, event.key(), event.modifiers(), event.text(), event.isAutoRepeat(),
                        event.count());
    QApplication::sendEvent(keyView_.data(), &forwarded);
    return true;
}

QRect KZFoundItemPreviewCntrl::sourceFrameOnScreen(const KZPreviewItemRef& item) const
{
    const KZFoundItemRef found = item ? item->item() : nullptr;
    if (!found || !settings_.rectOfItem)
        return {};
    return settings_.rectOfItem(found);
}

QImage KZFoundItemPreviewCntrl::transitionImage(const KZPreviewItemRef& item) const
{
    const KZFoundItemRef found = item ? item->item() : nullptr;
    if (!found)
        return {};
    // The list's own icon is drawn small; the zoom shows it large.
    return KZFileIcons::kindIconForName(found->name(), found->isDirectory(), QSize(256, 256));
}

void KZFoundItemPreviewCntrl::showAppropriateView(bool has)
{
    if (emptyPreviewFld_->isHidden() == has)
        return;
    emptyPreviewFld_->setHidden(has);
    scrollArea_->setHidden(!has);
    if (!has)
        emptyPreviewFld_->raise();
}

// ---- Sizes and places ----------------------------------------------------------------------

double KZFoundItemPreviewCntrl::widestText(const KZPreviewItem& item)
{
    static const QFont font = [] {
        QFont system = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
        system.setPointSizeF(12);
        return system;
    }();
    const QFontMetricsF metrics(font);
    double widest = 0;
    for (const QString& key : item.isImage() ? KZPreviewItem::imageKeys() : KZPreviewItem::songKeys()) {
        const QString text = item.value(key);
        if (text.isEmpty())
            continue;
        auto found = textWidths_.constFind(text);
        if (found == textWidths_.constEnd()) {
            if (textWidths_.size() > 20000)
                textWidths_.clear();
            found = textWidths_.insert(text, metrics.horizontalAdvance(text));
        }
        widest = std::max(widest, found.value());
    }
    return widest;
}

QSize KZFoundItemPreviewCntrl::itemSize(int index)
{
    return itemSize(index, scrollArea_->viewport()->size());
}

QSize KZFoundItemPreviewCntrl::itemSize(int index, QSizeF pane)
{
    const KZPreviewItemRef item = previewItemAt(index);
    if (!item)
        return QSize(KZPreviewGeometry::minCardSide, KZPreviewGeometry::minCardSide);
    item->setIsVertical(splitIsVertical_);
    KZPreviewGeometry::CardInput input;
    input.kind = item->kind();
    input.vertical = splitIsVertical_;
    input.pane = pane;
    input.inset = {sectionInset, sectionInset, sectionInset, sectionInset};
    if (input.kind == KZPreviewItem::Kind::Image) {
        const QSize pixels = item->pixelSize();
        input.pixelWidth = pixels.width();
        input.pixelHeight = pixels.height();
    }
    if (!splitIsVertical_ && input.kind != KZPreviewItem::Kind::Other) {
        input.widestText = widestText(*item);
        input.descriptionWidth = input.kind == KZPreviewItem::Kind::Image ? exifDescrptionWidth_ : tagDescrptionWidth_;
    }
    return KZPreviewGeometry::cardSize(input);
}

void KZFoundItemPreviewCntrl::scheduleRelayout()
{
    if (relayoutQueued_)
        return;
    relayoutQueued_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            relayoutQueued_ = false;
            relayout();
        },
        Qt::QueuedConnection);
}

void KZFoundItemPreviewCntrl::relayout()
{
    if (!viewGuard_ || inRelayout_)
        return;
    inRelayout_ = true;
    const KZPreviewGeometry::Insets inset{sectionInset, sectionInset, sectionInset, sectionInset};
    const auto flowIn = [&](QSizeF pane) {
        QList<QSize> sizes;
        sizes.reserve(itemsCollection_.size());
        for (int i = 0; i < itemsCollection_.size(); ++i)
            sizes.append(itemSize(i, pane));
        return KZPreviewGeometry::flow(sizes, splitIsVertical_, pane, inset, cardSpacing);
    };
    // The cards are sized to the part of the pane the scroll bar leaves
    // free. Whether the bar shows is settled here, from the cards at the
    // pane's full size: cards made narrower for the bar may fit without it,
    // and a bar left to come and go would resize them back and forth.
    const QSizeF full = scrollArea_->maximumViewportSize();
    KZPreviewGeometry::Flow flow = flowIn(full);
    const bool overflows =
        splitIsVertical_ ? flow.contentSize.height() > full.height() : flow.contentSize.width() > full.width();
    const Qt::ScrollBarPolicy policy = overflows ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff;
    if (splitIsVertical_)
        scrollArea_->setVerticalScrollBarPolicy(policy);
    else
        scrollArea_->setHorizontalScrollBarPolicy(policy);
    const QSizeF pane = scrollArea_->viewport()->size();
    if (pane != full)
        flow = flowIn(pane);
    // Only one direction scrolls: the other fits the pane.
    QSize content = flow.contentSize.toSize();
    if (splitIsVertical_)
        content.setWidth(scrollArea_->viewport()->width());
    else
        content.setHeight(scrollArea_->viewport()->height());
    frames_.clear();
    frames_.reserve(flow.frames.size());
    for (const QRectF& up : flow.frames) {
        // Turned y down once, against the top of the content.
        const double top = flow.contentSize.height() - up.y() - up.height();
        frames_.append(QRect(int(up.x()), int(top), int(up.width()), int(up.height())));
    }
    canvas_->resize(content);
    inRelayout_ = false;
    syncCards();
}

void KZFoundItemPreviewCntrl::syncCards()
{
    if (!viewGuard_)
        return;
    // Built: the cards in the visible part of the pane and one pane's
    // length either side of it.
    const QRect visible(-canvas_->pos(), scrollArea_->viewport()->size());
    const int reachX = splitIsVertical_ ? 0 : visible.width();
    const int reachY = splitIsVertical_ ? visible.height() : 0;
    const QRect near = visible.adjusted(-reachX, -reachY, reachX, reachY);
    QSet<const KZPreviewItem*> wanted;
    for (int i = 0; i < itemsCollection_.size() && i < frames_.size(); ++i) {
        if (!frames_.at(i).intersects(near))
            continue;
        const KZPreviewItemRef& item = itemsCollection_.at(i);
        wanted.insert(item.get());
        KZPreview* card = cards_.value(item.get());
        const bool made = !card;
        if (made) {
            KZPreview::Services services;
            services.workspace = settings_.workspace;
            services.beep = settings_.beep;
            services.exifDescriptionWidth = exifDescrptionWidth_ > 0 ? exifDescrptionWidth_ : 90;
            services.tagDescriptionWidth = tagDescrptionWidth_ > 0 ? tagDescrptionWidth_ : 70;
            card = new KZPreview(services, canvas_);
            card->setVerticalLayout(splitIsVertical_);
            connect(card, &KZPreview::pixelSizeLearned, this, &KZFoundItemPreviewCntrl::scheduleRelayout);
            cards_.insert(item.get(), card);
        }
        card->setVerticalLayout(splitIsVertical_);
        if (card->geometry() != frames_.at(i)) {
            const bool resized = card->size() != frames_.at(i).size();
            card->setGeometry(frames_.at(i));
            // A card held still while it came in is still laid out for the
            // size the pane gives it.
            if (resized && !made && item->dontUpdate())
                card->updateObjectsGeometry();
        }
        if (made) {
            card->setRepresentedObject(item);
            card->show();
        }
    }
    for (auto it = cards_.begin(); it != cards_.end();) {
        if (!wanted.contains(it.key())) {
            delete it.value();
            it = cards_.erase(it);
        } else {
            ++it;
        }
    }
}

QList<KZPreview*> KZFoundItemPreviewCntrl::cards() const
{
    QList<KZPreview*> ordered;
    for (const KZPreviewItemRef& item : itemsCollection_)
        if (KZPreview* card = cards_.value(item.get()))
            ordered.append(card);
    return ordered;
}

bool KZFoundItemPreviewCntrl::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == scrollArea_->viewport() && event->type() == QEvent::Resize) {
        // A resize lets every card follow its frame again.
        for (const KZPreviewItemRef& item : itemsCollection_)
            item->setDontUpdate(false);
        if (!itemsCollection_.isEmpty())
            relayout();
    } else if (keyView_ && watched == keyView_.data() && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Space && key->modifiers() == Qt::NoModifier && tabIsOnScreen() &&
            (!itemsCollection_.isEmpty() || KZPreviewPanel::isOpen())) {
            KZPreviewPanel::shared().toggle();
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

// ---- Direction, collapse, panel ------------------------------------------------------------

void KZFoundItemPreviewCntrl::updateScrollDirection()
{
    // The scrolling direction's bar is shown by relayout(), when the cards
    // need it.
    scrollArea_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scrollArea_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
}

void KZFoundItemPreviewCntrl::switchPositionSplitView()
{
    splitIsVertical_ = platform::UserDefaults::standard().boolForKey(KZDefaultsKey::list_splitView_is_vertical);
    updateScrollDirection();
    for (KZPreview* card : std::as_const(cards_))
        card->setVerticalLayout(splitIsVertical_);
    if (!itemsCollection_.isEmpty())
        scheduleRelayout();
}

void KZFoundItemPreviewCntrl::setSplitViewIsCollapsed(bool collapsed)
{
    splitViewIsCollapsed_ = collapsed;
}

void KZFoundItemPreviewCntrl::splitViewDidCollapse()
{
    if (splitViewIsCollapsed_)
        return;
    if (!qlPanelIsVisible_)
        showPreviewWithArray({});
    setSplitViewIsCollapsed(true);
}

void KZFoundItemPreviewCntrl::splitViewDidUncollapse()
{
    if (!splitViewIsCollapsed_)
        return;
    setSplitViewIsCollapsed(false);
    // Whatever the pane held while closed, it shows the selection of now.
    needsReload_ = true;
    if (settings_.prepareToShowPreview)
        settings_.prepareToShowPreview();
}

bool KZFoundItemPreviewCntrl::tabIsOnScreen() const
{
    if (settings_.isTabOnScreen)
        return settings_.isTabOnScreen();
    for (const QWidget* w = view_; w; w = w->parentWidget())
        if (w->objectName() == QLatin1String("ResultView"))
            return !w->isHidden();
    return !view_->isHidden();
}

void KZFoundItemPreviewCntrl::quickLookWindowVisibilityWillChange(const QVariantMap& info)
{
    qlPanelIsVisible_ = info.value(QStringLiteral("isVisible")).toBool();
    if (!qlPanelIsVisible_ || !tabIsOnScreen())
        return;
    updateQuickLookPanelDelegate();
}

void KZFoundItemPreviewCntrl::updateQuickLookPanelDelegate()
{
    if (!qlPanelIsVisible_)
        return;
    KZPreviewPanel::shared().setDataSource(this);
    if (!itemsCollection_.isEmpty())
        KZPreviewPanel::shared().reloadData();
    else if (settings_.prepareToShowPreview)
        settings_.prepareToShowPreview();
    else
        KZPreviewPanel::shared().reloadData();
}

void KZFoundItemPreviewCntrl::reloadPanelIfOurs()
{
    if (qlPanelIsVisible_ && KZPreviewPanel::exists() && KZPreviewPanel::shared().dataSource() == this)
        KZPreviewPanel::shared().reloadData();
}
