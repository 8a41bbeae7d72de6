#include "result/window/ui/KZResultWindowCntrl.h"
#include "platform/Paths.h"
#include "result/window/ui/KZResultRemovalHost.h"

#include "removal/KZRemove.h"

#include "engine/KZNullProgress.h"
#include "engine/KZResultInfoKeys.h"
#include "platform/MainThread.h"
#include "platform/NotificationCenter.h"
#include "platform/StringTable.h"
#include "platform/UserDefaults.h"
#include "result/model/KZListNotifications.h"
#include "result/model/KZFoundItemsCntrl.h"
#include "result/model/KZFoundListCntrl.h"
#include "result/model/KZResultCntrl.h"
#include "result/model/ui/KZResultChromeViews.h"
#include "result/model/ui/KZResultItemsTypeCntrl.h"
#include "result/panes/ui/KZDeadTracksCntrl.h"
#include "result/panes/ui/KZResultTabsView.h"
#include "result/window/KZMarkRequests.h"
#include "result/window/KZResultMenus.h"
#include "result/window/KZResultWindowState.h"
#include "result/window/ui/KZFoundItemPreviewCntrl.h"
#include "result/window/ui/KZFoundItemsOutlineView.h"
#include "result/window/ui/KZListMarkingCntrl.h"
#include "result/window/ui/KZPreviewPanel.h"
#include "result/window/ui/KZResultFileProgressSheet.h"
#include "result/window/ui/KZResultOutlineCntrl.h"
#include "result/window/ui/KZResultSourcesListCntrl.h"
#include "result/window/ui/KZSavedViewState.h"
#include "resultfiles/KZExportResult.h"
#include "resultfiles/KZSaveResult.h"
#include "settings/KZTags.h"
#include "services/KZErrorDelegate.h"
#include "services/KZFileDialogPresenter.h"
#include "services/ui/KZFocusRing.h"
#include "services/ui/KZInterfaceUtilities.h"
#include "services/ui/KZMenuSet.h"
#include "settings/KZDefaultsKeys.h"
#include "settings/KZNotificationNames.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMap>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QSplitter>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QUndoStack>
#include <QVBoxLayout>

namespace {

platform::NotificationCenter& center()
{
    return platform::NotificationCenter::defaultCenter();
}

QString localized(const char* key)
{
    return platform::localizedString(QString::fromLatin1(key));
}

// A removal's undo: puts the items back once. An undone removal offers no
// redo, so the step leaves the stack when undone.
class RemovalUndo : public QUndoCommand {
public:
    RemovalUndo(const QString& name, QVariant undoDict, std::function<void(const QVariant&)> undoMove)
        : undoDict_(std::move(undoDict)), undoMove_(std::move(undoMove))
    {
        setText(name);
    }
    void undo() override
    {
        if (undoMove_)
            undoMove_(undoDict_);
        setObsolete(true);
    }
    void redo() override {}
    RemovalUndo* clone() const { return new RemovalUndo(text(), undoDict_, undoMove_); }

private:
    QVariant undoDict_;
    std::function<void(const QVariant&)> undoMove_;
};

// The two switches of the toolbar draw their own small pictures.
QIcon switchIcon(bool grouping)
{
    QPixmap pixmap(22, 22);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(70, 76, 86), 1.4));
    if (grouping) {
        p.setBrush(QColor(200, 210, 225));
        p.drawRoundedRect(QRectF(2.5, 3.5, 17, 5), 1.5, 1.5);
        p.drawLine(QPointF(6, 12), QPointF(19, 12));
        p.drawLine(QPointF(6, 16), QPointF(19, 16));
    } else {
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(QRectF(2.5, 3.5, 17, 15), 2, 2);
        p.drawLine(QPointF(12, 3.5), QPointF(12, 18.5));
        p.fillRect(QRectF(13, 5, 5.5, 12.5), QColor(200, 210, 225));
    }
    return QIcon(pixmap);
}

// The path a save panel answered, with the file type's extension added when
// the user typed none; nullopt when cancelled.
std::optional<std::filesystem::path> chosenPath(const KZFileDialogPresenter::Answer& answer, const QString& extension)
{
    if (!answer.accepted || answer.paths.isEmpty() || answer.paths.first().isEmpty())
        return std::nullopt;
    QString path = answer.paths.first();
    if (!path.endsWith(QLatin1Char('.') + extension, Qt::CaseInsensitive))
        path += QLatin1Char('.') + extension;
    return platform::pathFromText(path);
}

KZFileDialogPresenter::Request savePanel(QObject* window, const QString& title, const QString& message,
                                         const QString& name, const QString& extension)
{
    KZFileDialogPresenter::Request ask;
    ask.mode = KZFileDialogPresenter::Mode::SaveFile;
    ask.title = title;
    ask.message = message;
    ask.suggestedName = name + QLatin1Char('.') + extension;
    ask.allowedTypes = {extension};
    ask.canCreateDirectories = true;
    ask.window = window;
    return ask;
}

// The commands and titles one tab's controllers give a menu's items.
class TabMenuItems : public KZResultMenu {
public:
    void setItemAction(qint64 tag, std::function<void()> action) override { actions_[tag] = std::move(action); }
    void setItemTitle(qint64 tag, const QString& title) override { titles_[tag] = title; }
    std::function<void()> action(qint64 tag) const
    {
        const auto found = actions_.find(tag);
        return found == actions_.end() ? std::function<void()>() : found->second;
    }
    QString title(qint64 tag) const { return titles_.value(tag); }

private:
    std::map<qint64, std::function<void()>> actions_;
    QMap<qint64, QString> titles_;
};

} // namespace

// Each tab has its own set, so that a tab hidden or added later never takes
// the commands of the tab on screen away.
struct KZResultWindowCntrl::TabMenus {
    TabMenuItems result;
    TabMenuItems view;
};

KZResultWindowCntrl::KZResultWindowCntrl(Services services, QWidget* parent)
    : QMainWindow(parent), services_(std::move(services))
{
    setObjectName(QStringLiteral("resultWindow"));
    setWindowTitle(localized("result_window_title"));
    setAttribute(Qt::WA_DeleteOnClose, false);
    // Wide enough for every column at its first width beside the sources.
    resize(1180, 700);
    setMinimumSize(820, 480);
    undoStack_ = new QUndoStack(this);
    buildChrome();
    buildMenus();
    // The program's whole menu set joins the window's own menus.
    KZMenuSet::shared().installInto(menuBar());
    // The shared items this window serves follow its state whenever one of
    // its menus opens (the shortcuts check again when chosen).
    for (QAction* top : menuBar()->actions())
        if (QMenu* menu = top->menu())
            connect(menu, &QMenu::aboutToShow, this, &KZResultWindowCntrl::updateMenuSetHandlers);

    // Registered once for the window's life: a handler registered per
    // removal would run once per removal so far.
    observations_.push_back(center().addObserver(
        QStringLiteral("disableViews"), platform::bundleIdentifier(),
        [this](const platform::Notification& note) { disableViews(note.userInfo); }));
    observations_.push_back(center().addObserver(
        QStringLiteral("registerRemovedUndo"), platform::bundleIdentifier(),
        [this](const platform::Notification& note) { registerRemovedUndo(note.userInfo); }));
    // New Search and Search Again walk back from this window: the preview
    // panel showing its items goes before the transition takes the window.
    observations_.push_back(center().addObserver(KZNotification::newSearch,
                                                 platform::NotificationObject(notificationObject()),
                                                 [this](const platform::Notification&) { closeQLWindow(); }));
}

KZResultWindowCntrl::~KZResultWindowCntrl()
{
    observations_.clear();
    removalObservations_.clear();
    // The tabs' views live in the container; the controllers go first.
    resultCntrl_.reset();
}

void KZResultWindowCntrl::buildChrome()
{
    auto* central = new KZResultWindowView(this);
    central->setObjectName(QStringLiteral("resultContent"));
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    titleBand_ = new QWidget(central);
    titleBand_->setObjectName(QStringLiteral("titleBand"));
    auto* bandLayout = new QVBoxLayout(titleBand_);
    bandLayout->setContentsMargins(8, 4, 8, 0);
    bandLayout->setSpacing(0);
    tabsView_ = new KZResultTabsView(this, titleBand_);
    tabsView_->setObjectName(QStringLiteral("tabsView"));
    tabsView_->setFixedHeight(36);
    bandLayout->addWidget(tabsView_);
    if (QWidget* bar = tabsView_->horizontalBarArea()) {
        bar->setFixedHeight(5);
        bandLayout->addWidget(bar);
    }
    layout->addWidget(titleBand_);

    resultContainerView_ = new QWidget(central);
    resultContainerView_->setObjectName(QStringLiteral("resultContainerView"));
    new QGridLayout(resultContainerView_);
    resultContainerView_->layout()->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(resultContainerView_, 1);

    auto* bottom = new QWidget(central);
    bottom->setObjectName(QStringLiteral("bottomBar"));
    auto* bottomLayout = new QHBoxLayout(bottom);
    bottomLayout->setContentsMargins(12, 6, 12, 8);
    selectionInfoFld_ = new QLabel(bottom);
    selectionInfoFld_->setObjectName(QStringLiteral("selectionInfoFld"));
    selectionInfoFld_->setStyleSheet(QStringLiteral("color: #50555e;"));
    bottomLayout->addWidget(selectionInfoFld_, 1);
    // A click on the remove button while it cannot act is answered.
    auto* removeHolder = new KZBtnSuperview(bottom);
    removeHolder->setObjectName(QStringLiteral("removeBtnSuperview"));
    removeHolder->setBeep([this] { beep(); });
    auto* holderLayout = new QHBoxLayout(removeHolder);
    holderLayout->setContentsMargins(0, 0, 0, 0);
    removeBtn_ = new QPushButton(localized("remove_button"), removeHolder);
    removeBtn_->setObjectName(QStringLiteral("removeBtn"));
    removeBtn_->setDefault(true);
    // The style outlines a default button as it outlines the focus, so the
    // focus on it would not show without a ring of its own.
    KZFocusRing::showWhileFocused(removeBtn_, 4);
    connect(removeBtn_, &QPushButton::clicked, this, &KZResultWindowCntrl::removeAction);
    holderLayout->addWidget(removeBtn_);
    bottomLayout->addWidget(removeHolder);
    layout->addWidget(bottom);
    setCentralWidget(central);

    toolBar_ = addToolBar(QStringLiteral("Result"));
    toolBar_->setObjectName(QStringLiteral("resultToolBar"));
    toolBar_->setMovable(false);
    toolBar_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    goBackBtn_ = new QToolButton(toolBar_);
    goBackBtn_->setObjectName(QStringLiteral("goBackBtn"));
    goBackBtn_->setIcon(style()->standardIcon(QStyle::SP_ArrowBack));
    goBackBtn_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    goBackBtn_->setText(localized("result_back_button"));
    goBackBtn_->setToolTip(localized("result_back_tip"));
    connect(goBackBtn_, &QToolButton::clicked, this, [this] { searchAgainAction(); });
    toolBar_->addWidget(goBackBtn_);
    toolBar_->addSeparator();
    toggleViewByGroupBtn_ = new QToolButton(toolBar_);
    toggleViewByGroupBtn_->setObjectName(QStringLiteral("toggleViewByGroupBtn"));
    toggleViewByGroupBtn_->setProperty("tag", KZResultWindowState::groupingToolbarTag);
    toggleViewByGroupBtn_->setCheckable(true);
    toggleViewByGroupBtn_->setIcon(switchIcon(true));
    toggleViewByGroupBtn_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    toggleViewByGroupBtn_->setText(localized("group_items"));
    toggleViewByGroupBtn_->setChecked(
        platform::UserDefaults::standard().boolForKey(KZDefaultsKey::show_result_by_group));
    connect(toggleViewByGroupBtn_, &QToolButton::clicked, this, [this] { showByGroupAction(); });
    toolBar_->addWidget(toggleViewByGroupBtn_);
    switchPreviewViewBtn_ = new QToolButton(toolBar_);
    switchPreviewViewBtn_->setObjectName(QStringLiteral("switchPreviewViewBtn"));
    switchPreviewViewBtn_->setProperty("tag", KZResultWindowState::previewToolbarTag);
    switchPreviewViewBtn_->setCheckable(true);
    switchPreviewViewBtn_->setIcon(switchIcon(false));
    switchPreviewViewBtn_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    switchPreviewViewBtn_->setChecked(
        platform::UserDefaults::standard().boolForKey(KZDefaultsKey::list_splitView_is_vertical));
    connect(switchPreviewViewBtn_, &QToolButton::clicked, this, [this] { switchPositionSplitView(); });
    toolBar_->addWidget(switchPreviewViewBtn_);
    // The find field at the toolbar's end: Return finds the next name in the
    // list on screen.
    auto* spacer = new QWidget(toolBar_);
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    toolBar_->addWidget(spacer);
    findFld_ = new QLineEdit(toolBar_);
    findFld_->setObjectName(QStringLiteral("findFld"));
    findFld_->setPlaceholderText(localized("find_placeholder"));
    findFld_->setClearButtonEnabled(true);
    findFld_->setFixedWidth(220);
    connect(findFld_, &QLineEdit::returnPressed, this, &KZResultWindowCntrl::searchFieldAction);
    toolBar_->addWidget(findFld_);
    validateMenus();
}

void KZResultWindowCntrl::searchAgainAction()
{
    closeQLWindow();
    if (services_.goBack)
        services_.goBack();
    else
        beep();
}

void KZResultWindowCntrl::searchFieldAction()
{
    center().post(KZNotification::searchInFoundList, platform::bundleIdentifier(),
                  {{QStringLiteral("string"), findFld_->text()}});
}

void KZResultWindowCntrl::buildMenus()
{
    fileMenu_ = menuBar()->addMenu(tr("&File"));
    quickLookItem_ = fileMenu_->addAction(localized("quick_look"));
    quickLookItem_->setData(2);
    quickLookItem_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Y));
    connect(quickLookItem_, &QAction::triggered, this, &KZResultWindowCntrl::quickLookAction);
    const auto listCommand = [this](QMenu* menu, int tag, const char* title) {
        QAction* item = menu->addAction(localized(title));
        item->setData(tag);
        connect(item, &QAction::triggered, this, [this, tag] {
            // The tab on screen when the item is chosen, not when it was made.
            if (KZListMarkingCntrl* marking = shownListMarking())
                marking->runCommandOnSelection(tag);
        });
        listCommandItems_[tag] = item;
    };
    listCommand(fileMenu_, KZResultMenus::revealTag, "reveal_in_file_manager");
    listCommand(fileMenu_, KZResultMenus::openTag, "open_item");
    fileMenu_->addSeparator()->setData(-1);
    QAction* close = fileMenu_->addAction(localized("close_button"));
    close->setShortcut(QKeySequence::Close);
    connect(close, &QAction::triggered, this, &QWidget::close);

    editMenu_ = menuBar()->addMenu(tr("&Edit"));
    QAction* undo = undoStack_->createUndoAction(this, tr("Undo"));
    undo->setShortcut(QKeySequence::Undo);
    editMenu_->addAction(undo);
    QAction* redo = undoStack_->createRedoAction(this, tr("Redo"));
    redo->setShortcut(QKeySequence::Redo);
    editMenu_->addAction(redo);
    // Connected after the stack's own handlers, so they run once the step is done.
    for (QAction* action : {undo, redo})
        connect(action, &QAction::triggered, this, [this] { KZOutlineMarking::dropStaleSteps(undoStack_); });
    editMenu_->addSeparator();
    listCommand(editMenu_, KZResultMenus::markTag, "mark_item");

    viewMenu_ = menuBar()->addMenu(tr("&View"));
    QAction* nextTab = viewMenu_->addAction(localized("menu_next_tab"));
    nextTab->setData(1);
    viewItems_[1] = nextTab;
    viewMenu_->addSeparator();
    groupingItem_ = viewMenu_->addAction(QString());
    groupingItem_->setData(2);
    connect(groupingItem_, &QAction::triggered, this, [this] { showByGroupAction(); });
    previewItem_ = viewMenu_->addAction(QString());
    previewItem_->setData(3);
    connect(previewItem_, &QAction::triggered, this, [this] { switchPositionSplitView(); });
    viewMenu_->addSeparator();
    for (const auto& [tag, key] : {std::pair(4, "menu_expand_all"), std::pair(5, "menu_collapse_all")}) {
        QAction* item = viewMenu_->addAction(localized(key));
        item->setData(tag);
        connect(item, &QAction::triggered, this, [this, tag = tag] { runViewItem(tag); });
        viewItems_[tag] = item;
    }
    tabsView_->installCycleAction(nextTab);
    for (QMenu* menu : {fileMenu_, editMenu_, viewMenu_})
        connect(menu, &QMenu::aboutToShow, this, &KZResultWindowCntrl::validateMenus);
    validateMenus();
}

void KZResultWindowCntrl::validateToolbarItems()
{
    for (QWidget* control : {static_cast<QWidget*>(goBackBtn_), static_cast<QWidget*>(toggleViewByGroupBtn_),
                             static_cast<QWidget*>(switchPreviewViewBtn_), static_cast<QWidget*>(findFld_)}) {
        if (control)
            control->setEnabled(KZResultWindowState::toolbarItemEnabled(control->property("tag").toInt(),
                                                                        windowIsActive_, isRemoving_,
                                                                        currSelectedTabTag_));
    }
}

void KZResultWindowCntrl::validateMenus()
{
    if (!groupingItem_ || !toggleViewByGroupBtn_)
        return;
    // The View items follow the switches, so these go first.
    validateToolbarItems();
    const bool about = aboutIsOpened();
    groupingItem_->setText(KZResultWindowState::groupingItemTitle(toggleViewByGroupBtn_->isChecked()));
    previewItem_->setText(KZResultWindowState::previewItemTitle(switchPreviewViewBtn_->isChecked()));
    toggleViewByGroupBtn_->setText(groupingItem_->text());
    switchPreviewViewBtn_->setText(previewItem_->text());
    groupingItem_->setEnabled(!about && isVisible() && toggleViewByGroupBtn_->isEnabled());
    previewItem_->setEnabled(!about && isVisible() && switchPreviewViewBtn_->isEnabled());
    KZResultOutlineCntrl* outline = outlineOfTab(currSelectedTabTag_);
    quickLookItem_->setEnabled(!about && (KZPreviewPanel::isOpen() ||
                                          (outline && outline->foundListView()->selectionModel()->hasSelection())));
    auto* tab = resultCntrl_ ? dynamic_cast<KZResultItemsTypeCntrl*>(resultCntrl_->itemsTypeCntrl(currSelectedTabTag_))
                             : nullptr;
    TabMenus* menus = shownTabMenus();
    for (const int tag : {4, 5})
        viewItems_[tag]->setEnabled(tab && menus && menus->view.action(tag) && tab->validateMenuItem(tag, true));
    tabsView_->updateCycleAction();
    KZListMarkingCntrl* marking = shownListMarking();
    for (const auto& [tag, item] : listCommandItems_) {
        QString title;
        item->setEnabled(marking && marking->validateCommand(tag, &title));
        // Without a selection the mark item keeps the title it had.
        if (tag == KZResultMenus::markTag && !title.isEmpty())
            item->setText(title);
    }
    updateMenuSetHandlers();
}

void KZResultWindowCntrl::updateMenuSetHandlers()
{
    using Set = KZMenuSet;
    const bool usable = isVisible() && !isRemoving_ && !aboutIsOpened();
    Set::setHandler(Set::File, Set::QuickLookTag,
                    usable && quickLookItem_->isEnabled() ? Set::Handler([this] { quickLookAction(); }) : Set::Handler(),
                    this);
    const bool canSave = usable && resultCntrl_ && resultCntrl_->validateMenuItem(Set::SaveTag);
    Set::setHandler(
        Set::File, Set::SaveTag,
        canSave ? Set::Handler([this] {
            // A shortcut may come between the menu's check and now.
            if (!isRemoving_ && resultCntrl_ && resultCntrl_->validateMenuItem(Set::SaveTag))
                resultCntrl_->saveAsAction();
            else
                beep();
        })
                : Set::Handler(),
        this);

    KZFoundListCntrl* list = usable ? shownFoundList() : nullptr;
    const bool canRemove = list && removeBtn_ && removeBtn_->isEnabled() && list->validateMenuItem(Set::RemoveTag, true);
    Set::setHandler(Set::Result, Set::RemoveTag,
                    canRemove ? Set::Handler([this] {
                        if (removeBtn_->isEnabled() && !isRemoving_)
                            removeAction();
                        else
                            beep();
                    })
                              : Set::Handler(),
                    this);
    const bool canExport = list && !list->exportIsRunning() && list->validateMenuItem(Set::ExportTag, true);
    Set::setHandler(Set::Result, Set::ExportTag, canExport ? Set::Handler([this] { exportAction(); }) : Set::Handler(),
                    this);

    KZListMarkingCntrl* marking = usable ? shownListMarking() : nullptr;
    QString markTitle;
    const bool canMark = marking && marking->validateCommand(KZResultMenus::markTag, &markTitle);
    Set::setHandler(Set::Result, Set::MarkTag,
                    canMark ? Set::Handler([this] {
                        if (KZListMarkingCntrl* shown = shownListMarking())
                            shown->runCommandOnSelection(KZResultMenus::markTag);
                    })
                            : Set::Handler(),
                    this);
    if (QAction* mark = Set::shared().item(Set::Result, Set::MarkTag); mark && !markTitle.isEmpty())
        mark->setText(markTitle);
    // Remove and Export name the tab they act on.
    if (list) {
        list->menuNeedsUpdate();
        if (TabMenus* menus = shownTabMenus()) {
            for (const int tag : {Set::RemoveTag, Set::ExportTag}) {
                QAction* item = Set::shared().item(Set::Result, tag);
                const QString title = menus->result.title(tag);
                if (item && !title.isEmpty())
                    item->setText(title);
            }
        }
    }
}

KZResultWindowCntrl::TabMenus* KZResultWindowCntrl::shownTabMenus() const
{
    const auto found = tabMenus_.find(currSelectedTabTag_);
    return found == tabMenus_.end() ? nullptr : found->second.get();
}

QAction* KZResultWindowCntrl::viewItem(int tag) const
{
    const auto found = viewItems_.find(tag);
    return found == viewItems_.end() ? nullptr : found->second;
}

void KZResultWindowCntrl::runViewItem(int tag)
{
    // A shortcut may come after the tab's state changed.
    validateMenus();
    TabMenus* menus = shownTabMenus();
    const auto action = menus ? menus->view.action(tag) : std::function<void()>();
    if (action && viewItem(tag)->isEnabled())
        action();
    else
        beep();
}

void KZResultWindowCntrl::quickLookAction()
{
    if (KZPreviewPanel::isOpen()) {
        KZPreviewPanel::shared().close();
        return;
    }
    KZResultOutlineCntrl* outline = outlineOfTab(currSelectedTabTag_);
    if (isRemoving_ || !outline || !outline->foundListView()->selectionModel()->hasSelection()) {
        beep();
        return;
    }
    KZPreviewPanel::shared().open();
}

void KZResultWindowCntrl::closeQLWindow()
{
    if (!KZPreviewPanel::isOpen())
        return;
    // The window is on its way off screen: the panel closes where it stands
    // rather than flying into a row about to go.
    const QScopedValueRollback leaving(isLeaving_, true);
    KZPreviewPanel::shared().close();
}

void KZResultWindowCntrl::exportAction()
{
    KZFoundListCntrl* list = shownFoundList();
    if (!list || isRemoving_ || list->exportIsRunning()) {
        beep();
        return;
    }
    list->exportResult();
}

std::optional<std::vector<KZSavedDeadTrack>> KZResultWindowCntrl::deadTracksToSave() const
{
    auto* tab = resultCntrl_ ? dynamic_cast<KZResultItemsTypeCntrl*>(resultCntrl_->itemsTypeCntrl(KZTag::missingTracks))
                             : nullptr;
    if (!tab || !tab->deadTracksTab())
        return std::nullopt;
    std::vector<KZSavedDeadTrack> saved;
    for (const QVariant& entry : tab->deadTracksTab()->savedTracks()) {
        const QVariantMap track = entry.toMap();
        saved.push_back({track.value(QStringLiteral("songName")).toString(),
                         track.value(QStringLiteral("album")).toString(),
                         track.value(QStringLiteral("artist")).toString(),
                         track.value(QStringLiteral("trackID")).toString(),
                         track.value(QStringLiteral("path")).toString(),
                         track.value(QStringLiteral("isMarked")).toBool()});
    }
    return saved;
}

KZFoundListCntrl* KZResultWindowCntrl::shownFoundList() const
{
    auto* tab = resultCntrl_ ? dynamic_cast<KZResultItemsTypeCntrl*>(resultCntrl_->itemsTypeCntrl(currSelectedTabTag_))
                             : nullptr;
    return tab ? tab->foundListCntrl() : nullptr;
}

std::shared_ptr<KZResultSaving> KZResultWindowCntrl::createSaver()
{
    QPointer<KZResultWindowCntrl> guard(this);
    auto chooser = [guard](const QVariantMap&, std::function<void(std::optional<std::filesystem::path>)> answer) {
        KZFileDialogPresenter::ask(savePanel(guard.data(), localized("ask_save_items_title"),
                                             localized("ask_save_items"), localized("save_suggest_name"),
                                             QStringLiteral("maravex")),
                                   [answer](const KZFileDialogPresenter::Answer& reply) {
                                       answer(chosenPath(reply, QStringLiteral("maravex")));
                                   });
    };
    // Every tab's state, and the tab on screen, come back when the result is
    // opened again.
    auto viewState = [guard](const QVariantMap&, KZSaveSnapshot& snapshot) {
        if (!guard)
            return;
        snapshot.selectedTabTag = guard->currSelectedTabTag_;
        // The tracks as listed now: those deleted from the library are gone.
        // The sound tells that the missing tracks are kept in the file too.
        if (const auto tracks = guard->deadTracksToSave()) {
            snapshot.deadTracks = tracks;
            guard->beep();
        }
        if (guard->resultCntrl_)
            KZSavedViewState::read(*guard->resultCntrl_, guard->outlines_, snapshot);
    };
    auto saver = KZSaveResult::create(std::move(chooser), std::move(viewState));
    KZResultFileProgressSheet::attach(*saver, this);
    return saver;
}

QAction* KZResultWindowCntrl::listCommandItem(int tag) const
{
    const auto found = listCommandItems_.find(tag);
    return found == listCommandItems_.end() ? nullptr : found->second;
}

KZListMarkingCntrl* KZResultWindowCntrl::shownListMarking() const
{
    KZResultOutlineCntrl* outline = outlineOfTab(currSelectedTabTag_);
    return outline ? outline->foundListView()->findChild<KZListMarkingCntrl*>(QString(), Qt::FindDirectChildrenOnly)
                   : nullptr;
}

bool KZResultWindowCntrl::aboutIsOpened() const
{
    return services_.aboutIsOpened && services_.aboutIsOpened();
}

// ---- Result -----------------------------------------------------------------------------------

void KZResultWindowCntrl::initializeResultWithInfo(const QVariantMap& resultInfo)
{
    observations_.push_back(center().addObserver(
        KZNotification::showWindowWithTag, platform::bundleIdentifier(), [this](const platform::Notification& note) {
            const quint64 tag = note.userInfo.value(QStringLiteral("tag")).toULongLong();
            QPointer<KZResultWindowCntrl> guard(this);
            platform::runOnMain([guard, tag] {
                if (guard)
                    guard->showWindowWithTabTag(tag);
            });
        }));
    QVariantMap info = resultInfo;
    info.insert(QStringLiteral("KZResultTabItemsView"), QVariant::fromValue<QObject*>(tabsView_));
    info.insert(QStringLiteral("KZResultContainerView"), QVariant::fromValue<QObject*>(resultContainerView_));
    info.insert(QStringLiteral("KZResultRemoveButton"), QVariant::fromValue<QObject*>(removeBtn_));
    info.insert(QStringLiteral("KZResultSelectionInfoField"), QVariant::fromValue<QObject*>(selectionInfoFld_));
    resultCntrl_ = std::make_unique<KZResultCntrl>(info, this);
}

void KZResultWindowCntrl::showWindowWithTabTag(quint64 tag)
{
    if (resultCntrl_)
        resultCntrl_->prepareToShowWindowWithTabTag(tag);
    if (services_.present && !isVisible()) {
        services_.present(this);
    } else {
        show();
        raise();
        activateWindow();
    }
    validateMenus();
}

KZResultTabStrip* KZResultWindowCntrl::tabsView() const
{
    return tabsView_;
}

void KZResultWindowCntrl::setCurrSelectedTabTag(quint64 tag)
{
    currSelectedTabTag_ = tag;
    if (KZResultOutlineCntrl* outline = outlineOfTab(tag)) {
        selectionInfoFld_->setText(outline->selectionInfoText());
        // The tab's list takes the keyboard as it comes up, so that the
        // arrow keys move in it at once; left to itself the window gives it
        // to the find field, the first field of the toolbar. A name being
        // typed there keeps it.
        const bool typing = findFld_ && focusWidget() == findFld_ && !findFld_->text().isEmpty();
        if (!typing && !isRemoving_)
            outline->foundListView()->setFocus(Qt::OtherFocusReason);
    } else {
        selectionInfoFld_->clear();
    }
    validateMenus();
}

void KZResultWindowCntrl::beep()
{
    if (services_.beep)
        services_.beep();
    else
        QApplication::beep();
}

KZResultOutlineCntrl* KZResultWindowCntrl::outlineOfTab(quint64 tag) const
{
    auto found = outlines_.find(tag);
    return found == outlines_.end() ? nullptr : found->second;
}

// Builds the parts of one tab. The parts outlive the factory: each captures
// the window and what it needs by value, and the two slots are filled as the
// tab comes together (the outline first, its preview pane right after it,
// the tab's controller last).
class KZResultWindowCntrl::TabPartsFactory {
public:
    TabPartsFactory(KZResultWindowCntrl* window, const QVariantMap& info, KZResultCntrl& resultCntrl)
        : window_(window),
          tag_(info.value(QStringLiteral("tag")).toULongLong()),
          tab_(info.value(QStringLiteral("tab")).value<QObject*>()),
          sources_(info.value(KZResultKey::searchSources).value<std::vector<KZSourceItemRef>>()),
          result_(&resultCntrl)
    {
    }

    KZResultTabParts parts() const;
    // Filled with the tab's controller once it is made.
    KZResultItemsTypeCntrl*& tabCntrl() const { return *tabCntrl_; }

private:
    using PreviewSlot = std::shared_ptr<QPointer<KZFoundItemPreviewCntrl>>;
    using TabCntrlSlot = std::shared_ptr<KZResultItemsTypeCntrl*>;

    std::function<std::unique_ptr<KZPreviewPane>()> previewPane() const;
    std::function<std::unique_ptr<KZResultSourcesList>(const QVariantMap&)> sourcesList() const;
    std::function<KZListOutlineParts()> outline() const;
    static std::function<void(KZFoundItemsOutlineView*)> marking(KZResultWindowCntrl* window, quint64 tag,
                                                                 TabCntrlSlot tabCntrl, KZResultCntrl* result);
    std::function<KZFoundListHost::Panel(const QVariantMap&)> removalPanel() const;
    std::function<KZFoundListHost::Panel(const QVariantMap&)> exportItems() const;

    KZResultWindowCntrl* window_;
    quint64 tag_;
    const QObject* tab_;
    std::vector<KZSourceItemRef> sources_;
    KZResultCntrl* result_;
    TabCntrlSlot tabCntrl_ = std::make_shared<KZResultItemsTypeCntrl*>(nullptr);
    PreviewSlot pane_ = std::make_shared<QPointer<KZFoundItemPreviewCntrl>>();
};

KZResultTabParts KZResultWindowCntrl::TabPartsFactory::parts() const
{
    KZResultWindowCntrl* window = window_;
    const quint64 tag = tag_;
    KZResultTabParts parts;
    std::unique_ptr<TabMenus>& menus = window->tabMenus_[tag];
    if (!menus)
        menus = std::make_unique<TabMenus>();
    parts.resultMenu = &menus->result;
    parts.viewMenu = &menus->view;
    parts.beep = [window] { window->beep(); };
    parts.aboutIsOpened = [window] { return window->aboutIsOpened(); };
    parts.setSelectionInfo = [window, tag](const QString& text) {
        if (tag == window->currSelectedTabTag_)
            window->selectionInfoFld_->setText(text);
    };
    parts.makePreviewPane = previewPane();
    parts.makeSourcesList = sourcesList();
    parts.makeOutline = outline();
    parts.openRemovalPanel = removalPanel();
    parts.exportItems = exportItems();
    parts.makeDeadTracks = [](const QVariantMap& deads) -> std::unique_ptr<KZDeadTracksTab> {
        return std::make_unique<KZDeadTracksCntrl>(deads);
    };
    return parts;
}

std::function<std::unique_ptr<KZPreviewPane>()> KZResultWindowCntrl::TabPartsFactory::previewPane() const
{
    return [window = window_, tag = tag_, pane = pane_]() -> std::unique_ptr<KZPreviewPane> {
        KZResultOutlineCntrl* outline = window->outlineOfTab(tag);
        KZFoundItemPreviewCntrl::Settings preview;
        preview.outlineView = outline ? outline->view() : nullptr;
        preview.keyView = outline ? outline->foundListView() : nullptr;
        preview.prepareToShowPreview = [window, tag] {
            if (KZResultOutlineCntrl* shown = window->outlineOfTab(tag))
                shown->prepareToShowPreview();
        };
        preview.workspace = window->services_.workspace ? window->services_.workspace() : nullptr;
        preview.beep = [window] { window->beep(); };
        preview.rectOfItem = [window, tag](const KZFoundItemRef& item) {
            if (window->isLeaving_)
                return QRect();
            const KZResultOutlineCntrl* shown = window->outlineOfTab(tag);
            return shown ? shown->rectOfItem(item) : QRect();
        };
        auto made = std::make_unique<KZFoundItemPreviewCntrl>(std::move(preview));
        *pane = made.get();
        return made;
    };
}

std::function<std::unique_ptr<KZResultSourcesList>(const QVariantMap&)>
KZResultWindowCntrl::TabPartsFactory::sourcesList() const
{
    return [window = window_, tag = tag_](const QVariantMap& listInfo) -> std::unique_ptr<KZResultSourcesList> {
        KZResultSourcesListCntrl::Services list;
        // A row's marks are one step of the tab list's own undo.
        list.marking = [window, tag]() -> KZOutlineMarking* {
            KZResultOutlineCntrl* outline = window->outlineOfTab(tag);
            auto* marking = outline ? outline->foundListView()->findChild<KZListMarkingCntrl*>(
                                          QString(), Qt::FindDirectChildrenOnly)
                                    : nullptr;
            return marking ? &marking->marking() : nullptr;
        };
        list.isRemoving = [window] { return window->isRemoving(); };
        list.aboutIsOpened = [window] { return window->aboutIsOpened(); };
        list.beep = [window] { window->beep(); };
        list.workspace = window->services_.workspace ? window->services_.workspace() : nullptr;
        return std::make_unique<KZResultSourcesListCntrl>(listInfo, std::move(list));
    };
}

std::function<KZListOutlineParts()> KZResultWindowCntrl::TabPartsFactory::outline() const
{
    return [window = window_, tag = tag_, tab = tab_, tabCntrl = tabCntrl_, pane = pane_, sources = sources_,
            result = result_, count = qint16(std::min<size_t>(sources_.size(), 32767))] {
        KZResultOutlineCntrl::Settings settings;
        settings.tabTag = tag;
        settings.tabView = tab;
        settings.locationsCount = count;
        for (const KZSourceItemRef& source : sources)
            settings.sourceFolders << (source ? platform::pathText(source->path()) : QString());
        settings.beep = [window] { window->beep(); };
        settings.setSelectionInfo = [window, tag](const QString& text) {
            if (tag == window->currSelectedTabTag_)
                window->selectionInfoFld_->setText(text);
            window->validateMenus();
        };
        settings.showPreviewItems = [pane](const KZPreviewItems& items) {
            if (*pane)
                (*pane)->showPreviewWithArray(items);
        };
        settings.updateQuickLookPanelDelegate = [pane] {
            if (*pane)
                (*pane)->updateQuickLookPanelDelegate();
        };
        settings.addMarking = marking(window, tag, tabCntrl, result);
        auto outline = std::make_unique<KZResultOutlineCntrl>(std::move(settings));
        window->outlines_[tag] = outline.get();
        KZListOutlineParts made;
        made.view = outline->view();
        made.outline = std::move(outline);
        return made;
    };
}

std::function<void(KZFoundItemsOutlineView*)>
KZResultWindowCntrl::TabPartsFactory::marking(KZResultWindowCntrl* window, quint64 tag, TabCntrlSlot tabCntrl,
                                              KZResultCntrl* result)
{
    return [window, tag, tabCntrl, result](KZFoundItemsOutlineView* view) {
        const auto list = [tabCntrl] { return *tabCntrl ? (*tabCntrl)->foundListCntrl() : nullptr; };
        KZListMarkingCntrl::Settings marking;
        marking.ownerTag = tag;
        marking.undoStack = window->undoStack_;
        marking.hooks.undoRecord = [list](QVariantMap& request) -> std::optional<QVariantMap> {
            return list() ? list()->undoInfoToRegisterWithDict(request) : std::nullopt;
        };
        marking.hooks.redoRecord = [list](const QVariantMap& record) {
            return list() ? list()->redoInfoToRegisterWithDict(record) : record;
        };
        marking.hooks.post = [result](const QVariantMap& request) {
            center().post(KZNotification::markItemsByUserChoice, static_cast<const void*>(result), request);
        };
        marking.hooks.showUndoNotice = [] {
            KZErrorDelegate::sharedControl().showMessagePanelWithView(
                QStringLiteral("undo_mark_available"), QString(), {}, KZDefaultsKey::show_undo_available, false);
        };
        marking.hooks.beep = [window] { window->beep(); };
        marking.hooks.marksFillingAGroup = [list](const KZMarkSnapshot& snapshot) {
            const auto model = list() ? list()->foundItemsCntrl() : nullptr;
            return model ? model->marksFillingAGroup(snapshot) : KZMarkSnapshot();
        };
        marking.currSelectedTag = [window, tag] {
            KZResultOutlineCntrl* outline = window->outlineOfTab(tag);
            return outline ? outline->currSelectedTag() : tag;
        };
        marking.isLastItemToMark = [list](const KZFoundItemRef& item) {
            return list() && list()->isLastItemToMark(item);
        };
        marking.postShowMembers = [result](const QVariantMap& choice) {
            center().post(KZNotification::showMembersGroups, static_cast<const void*>(result), choice);
        };
        marking.aboutIsOpen = [window] { return window->aboutIsOpened(); };
        marking.isRemoving = [window] { return window->isRemoving(); };
        marking.isSelectedTab = [window, tag] { return tag == window->currSelectedTabTag_; };
        marking.workspace = window->services_.workspace ? window->services_.workspace() : nullptr;
        new KZListMarkingCntrl(view, std::move(marking));
    };
}

std::function<KZFoundListHost::Panel(const QVariantMap&)> KZResultWindowCntrl::TabPartsFactory::removalPanel() const
{
    // The removal panel covers the tab's own result view; the window answers
    // its questions. The panel's controller owns the host until it closes.
    return [window = window_, tabCntrl = tabCntrl_](const QVariantMap& request) -> KZFoundListHost::Panel {
        // The list's own cover view when it names one, else the whole tab.
        QWidget* view = qobject_cast<QWidget*>(request.value(QStringLiteral("resultView")).value<QObject*>());
        if (!view && *tabCntrl)
            view = qobject_cast<QWidget*>((*tabCntrl)->resultView());
        if (!view)
            return nullptr;
        auto host = std::make_shared<KZResultRemovalHost>(window, [window] { window->purgeMarkingUndo(); });
        auto cntrl = KZRemovePanelWidget::open(request, view, host.get());
        if (!cntrl)
            return nullptr;
        return std::shared_ptr<void>(cntrl.get(), [cntrl, host](void*) mutable {
            cntrl.reset();
            host.reset();
        });
    };
}

std::function<KZFoundListHost::Panel(const QVariantMap&)> KZResultWindowCntrl::TabPartsFactory::exportItems() const
{
    return [window = window_](const QVariantMap& request) -> KZFoundListHost::Panel {
        QPointer<KZResultWindowCntrl> guard(window);
        auto chooser = [guard](const QVariantMap& asked,
                               std::function<void(std::optional<KZExportResult::Choice>)> answer) {
            QString name = asked.value(QStringLiteral("suggestName")).toString();
            if (name.isEmpty())
                name = localized("export_all_files_name");
            auto panel = savePanel(guard.data(), localized("ask_export_items_title"), localized("ask_export_items"),
                                   name, QStringLiteral("txt"));
            panel.checkBoxTitle = localized("export_check_btn");
            KZFileDialogPresenter::ask(panel, [answer](const KZFileDialogPresenter::Answer& reply) {
                const auto path = chosenPath(reply, QStringLiteral("txt"));
                answer(path ? std::optional(KZExportResult::Choice{*path, reply.checkBoxChecked}) : std::nullopt);
            });
        };
        auto job = KZExportResult::create(std::move(chooser));
        KZResultFileProgressSheet::attach(*job, window);
        // Started once the list holds the job: a panel answered at once
        // (cancelled) finishes before this returns otherwise.
        std::weak_ptr<KZExportResult> weak = job;
        QMetaObject::invokeMethod(
            window,
            [weak, request] {
                if (auto started = weak.lock())
                    started->exportItemsWithDict(request);
            },
            Qt::QueuedConnection);
        return job;
    };
}

std::unique_ptr<KZResultTabCntrl> KZResultWindowCntrl::createTabCntrl(const QVariantMap& info, KZResultCntrl& resultCntrl)
{
    const TabPartsFactory factory(this, info, resultCntrl);
    auto made = std::make_unique<KZResultItemsTypeCntrl>(info, &resultCntrl, factory.parts());
    factory.tabCntrl() = made.get();
    return made;
}

void KZResultWindowCntrl::addResultView(KZResultTabCntrl& tab)
{
    auto* view = qobject_cast<QWidget*>(tab.resultView());
    if (!view)
        return;
    view->setParent(resultContainerView_);
    static_cast<QGridLayout*>(resultContainerView_->layout())->addWidget(view, 0, 0);
    // Until the user moves it, the sources column is as wide as its rows
    // need, within bounds, and the list takes the rest; an even split would
    // leave the list cramped.
    if (!platform::UserDefaults::standard().value(KZDefaultsKey::main_splitview_settings).isValid()) {
        if (auto* split = view->findChild<QSplitter*>(QStringLiteral("sourcesSplit")); split && split->count() == 2) {
            const int sources = std::clamp(split->widget(0)->sizeHint().width(), 230, 320);
            split->setSizes({sources, std::max(width() - sources, 400)});
        }
    }
}

void KZResultWindowCntrl::removeResultView(KZResultTabCntrl& tab)
{
    auto* view = qobject_cast<QWidget*>(tab.resultView());
    if (!view)
        return;
    resultContainerView_->layout()->removeWidget(view);
    view->hide();
    for (auto it = outlines_.begin(); it != outlines_.end();) {
        if (view->isAncestorOf(it->second->view()))
            it = outlines_.erase(it);
        else
            ++it;
    }
}

void KZResultWindowCntrl::askForDirectories(const QVariantMap& settings, DirectoriesAnswer answer)
{
    // A sheet on this window; a window closed meanwhile gets no answer.
    QVariantMap asked = settings;
    asked.insert(QStringLiteral("window"), QVariant::fromValue<QObject*>(this));
    asked.insert(QStringLiteral("delegate"), QVariant::fromValue<QObject*>(this));
    KZInterfaceUtilities::sharedControl().askForDirectories(
        [answer = std::move(answer)](const QVariant& response, const QVariant& context) {
            if (answer)
                answer(response.toInt() == QDialog::Accepted ? 1 : 0, context.toMap());
        },
        asked);
}

std::vector<KZSourceItemRef> KZResultWindowCntrl::emptyFoldersSourcesWithFolders(const QVariantList& folders)
{
    return services_.emptyFoldersSources ? services_.emptyFoldersSources(folders) : std::vector<KZSourceItemRef>{};
}

std::shared_ptr<KZProgressControl> KZResultWindowCntrl::createProgressWithoutInterface()
{
    return std::make_shared<KZNullProgress>();
}

// ---- Switches ----------------------------------------------------------------------------------

void KZResultWindowCntrl::showByGroupAction()
{
    auto& defaults = platform::UserDefaults::standard();
    const bool grouped = defaults.boolForKey(KZDefaultsKey::show_result_by_group);
    toggleViewByGroupBtn_->setChecked(!grouped);
    defaults.setValue(KZDefaultsKey::show_result_by_group, !grouped);
    center().post(KZNotification::showByGroup, platform::bundleIdentifier());
    validateMenus();
}

void KZResultWindowCntrl::switchPositionSplitView()
{
    // Cards read the old position with the first notice, the panes the new
    // one with the second.
    center().post(QStringLiteral("splitViewPositionDidSwitch"), platform::bundleIdentifier());
    auto& defaults = platform::UserDefaults::standard();
    const bool beside = defaults.boolForKey(KZDefaultsKey::list_splitView_is_vertical);
    switchPreviewViewBtn_->setChecked(!beside);
    defaults.setValue(KZDefaultsKey::list_splitView_is_vertical, !beside);
    center().post(KZNotification::switchPositionSplitView, platform::bundleIdentifier());
    validateMenus();
}

// ---- Removal -----------------------------------------------------------------------------------

void KZResultWindowCntrl::removeAction()
{
    if (isRemoving_)
        return;
    isRemoving_ = true;
    focusBeforeRemoval_ = focusWidget();
    for (auto& [tag, outline] : outlines_)
        outline->setIsRemoving(true);
    validateMenus();
    QPointer<KZResultWindowCntrl> guard(this);
    auto onMain = [guard](std::function<void(KZResultWindowCntrl&)> work) {
        return [guard, work](const platform::Notification&) {
            platform::runOnMain([guard, work] {
                if (guard)
                    work(*guard);
            });
        };
    };
    removalObservations_.push_back(center().addObserver(
        QStringLiteral("removingProcessDidChangeStatus"), platform::bundleIdentifier(),
        [guard](const platform::Notification& note) {
            const bool active = note.userInfo.value(QStringLiteral("isRemoving")).toBool();
            platform::runOnMain([guard, active] {
                if (guard)
                    guard->isRemovingProcessActive_ = active;
            });
        }));
    removalObservations_.push_back(center().addObserver(
        KZNotification::removePanelDidClose, platform::bundleIdentifier(),
        [guard](const platform::Notification& note) {
            const QVariant owner = note.userInfo.value(QStringLiteral("ownerTag"));
            platform::runOnMain([guard, owner] {
                if (!guard)
                    return;
                guard->restoreAfterRemoveAction();
                center().post(QStringLiteral("updateTableView"),
                              owner.isValid() ? platform::NotificationObject::number(owner.toLongLong())
                                              : platform::NotificationObject());
            });
        }));
    removalObservations_.push_back(center().addObserver(
        KZNotification::remotionFailed, platform::bundleIdentifier(),
        onMain([](KZResultWindowCntrl& window) { window.restoreAfterRemoveAction(); })));
    center().post(KZNotification::removeButtonDidClick, platform::bundleIdentifier());
}

bool KZResultWindowCntrl::removalRefusesQuit() const
{
    if (!isRemovingProcessActive_)
        return false;
    // The final card comes after the engine, the undo file and the
    // empty-folder hand-off; the engine's queue must also have let the run go.
    const auto* panel = findChild<KZRemovePanelWidget*>();
    const bool ended = panel && panel->visibleCard() == KZRemovePanelWidget::Card::Final;
    return !ended || KZRemove::isRemovalRunning();
}

void KZResultWindowCntrl::setViewsEnabled(QWidget* root, QWidget* exclude)
{
    if (!root)
        return;
    for (QObject* child : root->children())
        if (auto* widget = qobject_cast<QWidget*>(child); widget && !widget->isWindow())
            setViewsEnabled(widget, exclude);
    // Only what is enabled and on screen now is touched, so that the end of
    // the removal gives back exactly this state.
    if (!root->isEnabled() || root->isHidden())
        return;
    if (exclude && (root == exclude || exclude->isAncestorOf(root)))
        return;
    if (!qobject_cast<QAbstractButton*>(root) && !qobject_cast<QAbstractItemView*>(root) &&
        !qobject_cast<QToolBar*>(root) && root != titleBand_)
        return;
    touchedViews_.append(root);
    root->setEnabled(false);
}

void KZResultWindowCntrl::disableViews(const QVariantMap& userInfo)
{
    if (!isRemoving_)
        return;
    auto* exclude = qobject_cast<QWidget*>(userInfo.value(QStringLiteral("excludeDiscendentOf")).value<QObject*>());
    QList<QPointer<QWidget>> roots;
    for (const QVariant& value : userInfo.value(QStringLiteral("viewsToDisable")).toList())
        if (auto* widget = qobject_cast<QWidget*>(value.value<QObject*>()))
            roots.append(widget);
    // The toolbar and the tab band belong to the window, not to a tab: the
    // removal's request cannot name them.
    roots.append(toolBar_);
    roots.append(titleBand_);
    if (removeBtn_->isEnabled()) {
        touchedViews_.append(removeBtn_);
        removeBtn_->setEnabled(false);
    }
    for (const QPointer<QWidget>& root : roots)
        setViewsEnabled(root, exclude);
}

void KZResultWindowCntrl::restoreAfterRemoveAction()
{
    isRemoving_ = false;
    isRemovingProcessActive_ = false;
    for (auto& [tag, outline] : outlines_)
        outline->setIsRemoving(false);
    const QList<QPointer<QWidget>> touched = std::exchange(touchedViews_, {});
    for (const QPointer<QWidget>& widget : touched)
        if (widget)
            widget->setEnabled(true);
    // The panel took the keyboard and left it to the view beneath, which
    // shows nothing: it goes back where it was (Remove, as a rule), or to
    // the tab's list where that can no longer take it.
    QWidget* back = std::exchange(focusBeforeRemoval_, nullptr);
    const QWidget* now = focusWidget();
    if (!now || !now->isVisible() || !now->isEnabled() || now->focusPolicy() == Qt::NoFocus) {
        if (!back || !back->isVisible() || !back->isEnabled() || back->window() != this)
            if (KZResultOutlineCntrl* outline = outlineOfTab(currSelectedTabTag_))
                back = outline->foundListView();
        if (back)
            back->setFocus(Qt::OtherFocusReason);
    }
    removalObservations_.clear();
    validateMenus();
}

void KZResultWindowCntrl::purgeMarkingUndo()
{
    // Marks cannot be taken back once the items they named are gone, but
    // the undo of an earlier removal must stay: keep those steps, in order.
    std::vector<QUndoCommand*> kept;
    for (int i = 0; i < undoStack_->index(); ++i) {
        if (const auto* removal = dynamic_cast<const RemovalUndo*>(undoStack_->command(i)))
            kept.push_back(removal->clone());
    }
    undoStack_->clear();
    for (QUndoCommand* step : kept)
        undoStack_->push(step);
}

void KZResultWindowCntrl::registerRemovedUndo(const QVariantMap& userInfo)
{
    const quint64 count = userInfo.value(QStringLiteral("undoCount")).toULongLong();
    const bool trash = userInfo.value(QStringLiteral("isTrashAction")).toBool();
    const QVariant undoDict = userInfo.value(QStringLiteral("undoDict"));
    const quint64 copied = userInfo.value(QStringLiteral("copiedCount")).toULongLong();
    const QString name = KZResultWindowState::removalUndoName(count, trash, copied);
    QPointer<KZResultWindowCntrl> guard(this);
    platform::runOnMain([guard, name, undoDict] {
        if (guard)
            guard->undoStack_->push(new RemovalUndo(name, undoDict, guard->services_.undoMove));
    });
}

// ---- Window ------------------------------------------------------------------------------------

void KZResultWindowCntrl::closeEvent(QCloseEvent* event)
{
    if (isRemovingProcessActive_) {
        event->ignore();
        if (services_.refuseCloseWhileRemoving) {
            services_.refuseCloseWhileRemoving();
        } else {
            KZErrorDelegate::sharedControl().showMessagePanelWithView(
                QStringLiteral("close_result_window_while_removing"), QString(), {},
                KZDefaultsKey::ask_result_removing_while_removing, false);
        }
        return;
    }
    bool close = true;
    if (services_.askToClose) {
        close = services_.askToClose();
    } else {
        close = KZErrorDelegate::sharedControl().askToTheUserWithView(
                    QStringLiteral("close_result_window"), QStringLiteral("close_result_window_msg"), {},
                    QStringLiteral("close_button"), QStringLiteral("dont_close_button"), QString(),
                    KZDefaultsKey::ask_close_result, false) == KZErrorDelegate::FirstButton;
    }
    if (!close) {
        event->ignore();
        return;
    }
    // The preview panel shows this window's items: it goes with it.
    closeQLWindow();
    QMainWindow::closeEvent(event);
}

void KZResultWindowCntrl::hideEvent(QHideEvent* event)
{
    QMainWindow::hideEvent(event);
    // Whatever else takes the window off screen takes the panel previewing
    // its items too, rather than leaving it over the next window. A window
    // the user minimised keeps it.
    if (!event->spontaneous())
        closeQLWindow();
    // Save, Quick Look and the Result menu act on this window: off screen,
    // they leave the shared menus, which the next window in front shows.
    updateMenuSetHandlers();
}

bool KZResultWindowCntrl::event(QEvent* e)
{
    if (e->type() == QEvent::WindowActivate || e->type() == QEvent::WindowDeactivate) {
        windowIsActive_ = e->type() == QEvent::WindowActivate;
        // Disabling the find field takes its focus away; the user who
        // switches back expects to go on typing there.
        if (!windowIsActive_)
            findHadFocus_ = findFld_ && focusWidget() == findFld_;
        validateMenus();
        if (windowIsActive_ && std::exchange(findHadFocus_, false) && findFld_->isEnabled())
            findFld_->setFocus(Qt::ActiveWindowFocusReason);
        for (auto& [tag, outline] : outlines_)
            outline->foundListView()->viewport()->update();
    }
    return QMainWindow::event(e);
}
