#include "preferences/ui/KZPreferencesLimitationsCntrl.h"

#include "preferences/ui/KZTokenDelegate.h"

#include "platform/StringTable.h"
#include "services/ui/KZFocusRing.h"
#include "platform/UserDefaults.h"
#include "services/KZFilesUtilities.h"
#include "services/ui/KZInterfaceUtilities.h"
#include "settings/KZDefaultsKeys.h"

#include <QApplication>
#include <QEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QButtonGroup>
#include <QFrame>
#include <QStackedWidget>
#include <QTableWidget>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

#include <utility>

namespace {

using List = KZLimitationsList::List;

constexpr int kCheckColumn = 0;
constexpr int kValueColumn = 1;

QString text(const QString& key)
{
    return platform::localizedString(key);
}

// A click in the check column ticks the box without touching the selection,
// so the remove button keeps acting on the rows the user selected.
class LimitsTable : public QTableWidget {
public:
    using QTableWidget::QTableWidget;
    bool isEditing() const { return state() == QAbstractItemView::EditingState; }

protected:
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index,
                                                         const QEvent* event) const override
    {
        if (event && index.column() == kCheckColumn
            && (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonRelease
                || event->type() == QEvent::MouseMove || event->type() == QEvent::MouseButtonDblClick))
            return QItemSelectionModel::NoUpdate;
        return QTableWidget::selectionCommand(index, event);
    }
};

QToolButton* smallButton(const QString& name, const QString& glyph, const QString& tip)
{
    auto* button = new QToolButton;
    button->setObjectName(name);
    button->setText(glyph);
    button->setToolTip(tip);
    button->setFixedSize(26, 24);
    QFont font = button->font();
    font.setPointSizeF(font.pointSizeF() + 3);
    button->setFont(font);
    return button;
}

} // namespace

KZPreferencesLimitationsCntrl::KZPreferencesLimitationsCntrl(QObject* appDelegate, QWidget* parent)
    : QWidget(parent), appDelegate_(appDelegate)
{
    setObjectName(QStringLiteral("limitsView"));
    buildLayout();
    auto& defaults = platform::UserDefaults::standard();
    auto reload = [guard = QPointer<KZPreferencesLimitationsCntrl>(this)](const QVariant&) {
        // Observers may be called on the thread that wrote; the tables are
        // refreshed on the main thread, once for a burst of changes.
        QMetaObject::invokeMethod(qApp, [guard] {
            if (guard)
                guard->scheduleReload();
        }, Qt::QueuedConnection);
    };
    locationsObservation_ = defaults.observe(KZDefaultsKey::locations_excluded, reload);
    extensionsObservation_ = defaults.observe(KZDefaultsKey::extensions_excluded, reload);
    reloadTables();
    enableRemoveBtnWithTable(locationsTable_);
}

KZPreferencesLimitationsCntrl::~KZPreferencesLimitationsCntrl() = default;

QSize KZPreferencesLimitationsCntrl::paneSize()
{
    return {560, 380};
}

void KZPreferencesLimitationsCntrl::buildLayout()
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 16, 20, 18);
    layout->setSpacing(10);

    // The two lists as tabs over one box, the way a tab view looks on a
    // desktop: a segmented pair of buttons centred on the box's top edge.
    auto* tabs = new QHBoxLayout;
    tabs->setSpacing(0);
    tabButtons_ = new QButtonGroup(this);
    tabButtons_->setExclusive(true);
    // The sheet drops the style's mark of the focus: a ring in its colour,
    // darker on the chosen side, whose fill is that colour already.
    const QColor ring = KZFocusRing::colour(this);
    const QString segment = QStringLiteral(
        "QPushButton { padding: 4px 18px; border: 1px solid palette(mid); background: palette(button); }"
        "QPushButton:checked { background: palette(highlight); color: palette(highlighted-text);"
        " border-color: palette(highlight); }"
        "QPushButton:focus { border: 2px solid %1; }"
        "QPushButton:checked:focus { border: 2px solid %2; }")
                                .arg(ring.name(), ring.darker(170).name());
    const std::pair<const char16_t*, const char16_t*> names[] = {{u"locationsTabBtn", u"pref_locations_tab"},
                                                                 {u"extensionsTabBtn", u"pref_extensions_tab"}};
    tabs->addStretch(1);
    for (int i = 0; i < 2; ++i) {
        auto* button = new QPushButton(text(QString::fromUtf16(names[i].second)));
        button->setObjectName(QString::fromUtf16(names[i].first));
        button->setCheckable(true);
        button->setAutoDefault(false);
        button->setFocusPolicy(Qt::TabFocus);
        const QString corners = i == 0 ? QStringLiteral("border-top-left-radius: 5px; border-bottom-left-radius: 5px;")
                                       : QStringLiteral("border-top-right-radius: 5px; border-bottom-right-radius: 5px;"
                                                        " border-left: none;");
        button->setStyleSheet(segment + QStringLiteral("QPushButton {") + corners + QLatin1Char('}'));
        tabButtons_->addButton(button, i);
        tabs->addWidget(button);
    }
    tabs->addStretch(1);
    tabButtons_->button(0)->setChecked(true);
    layout->addLayout(tabs);

    limitsTab_ = new QStackedWidget;
    limitsTab_->setObjectName(QStringLiteral("limitsTab"));

    auto makePage = [](const QString& name, const QString& caption, QTableWidget* table) {
        auto* page = new QFrame;
        page->setObjectName(name);
        page->setFrameShape(QFrame::StyledPanel);
        auto* box = new QVBoxLayout(page);
        box->setContentsMargins(12, 10, 12, 12);
        box->setSpacing(8);
        auto* label = new QLabel(caption);
        label->setWordWrap(true);
        label->setStyleSheet(QStringLiteral("color: #6d737b;"));
        box->addWidget(label);
        box->addWidget(table, 1);
        return page;
    };
    locationsTable_ = makeTable(QStringLiteral("locationsTable"), false);
    extensionsTable_ = makeTable(QStringLiteral("extensionsTable"), true);
    limitsTab_->addWidget(makePage(QStringLiteral("locations"), text(QStringLiteral("pref_locations_caption")),
                                   locationsTable_));
    limitsTab_->addWidget(makePage(QStringLiteral("extensions"), text(QStringLiteral("pref_extensions_caption")),
                                   extensionsTable_));
    layout->addWidget(limitsTab_, 1);

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(4);
    addLimitsBtn_ = smallButton(QStringLiteral("addLimitsBtn"), QStringLiteral("+"), text(QStringLiteral("pref_add_tip")));
    removeLimitsBtn_ = smallButton(QStringLiteral("removeLimitsBtn"), QStringLiteral("−"),
                                   text(QStringLiteral("pref_remove_tip")));
    restoreBtn_ = new QPushButton(text(QStringLiteral("pref_restore_list")));
    restoreBtn_->setObjectName(QStringLiteral("restoreLimitsBtn"));
    restoreBtn_->setAutoDefault(false);
    buttons->addWidget(addLimitsBtn_);
    buttons->addWidget(removeLimitsBtn_);
    buttons->addStretch(1);
    buttons->addWidget(restoreBtn_);
    layout->addLayout(buttons);

    connect(addLimitsBtn_, &QToolButton::clicked, this, &KZPreferencesLimitationsCntrl::addAction);
    connect(removeLimitsBtn_, &QToolButton::clicked, this, &KZPreferencesLimitationsCntrl::removeAction);
    connect(restoreBtn_, &QPushButton::clicked, this, &KZPreferencesLimitationsCntrl::restoreAction);
    connect(tabButtons_, &QButtonGroup::idClicked, this, [this](int id) {
        limitsTab_->setCurrentIndex(id);
        enableRemoveBtnWithTable(tableInFront());
    });
}

QTableWidget* KZPreferencesLimitationsCntrl::makeTable(const QString& name, bool tokens)
{
    auto* table = new LimitsTable(0, 2);
    table->setObjectName(name);
    table->horizontalHeader()->hide();
    table->verticalHeader()->hide();
    table->setShowGrid(false);
    table->setAlternatingRowColors(true);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::ExtendedSelection);
    // Tab and Shift+Tab leave the list for the pane's other controls; the
    // arrows go along the rows and columns.
    table->setTabKeyNavigation(false);
    // The style marks only the current cell, and only in part.
    KZFocusRing::showWhileFocused(table);
    table->setWordWrap(false);
    table->setTextElideMode(Qt::ElideMiddle);
    table->horizontalHeader()->setSectionResizeMode(kCheckColumn, QHeaderView::Fixed);
    table->horizontalHeader()->setSectionResizeMode(kValueColumn, QHeaderView::Stretch);
    table->setColumnWidth(kCheckColumn, 30);
    table->verticalHeader()->setDefaultSectionSize(28);
    table->setEditTriggers(tokens ? QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed
                                  : QAbstractItemView::NoEditTriggers);
    if (tokens) {
        tokenDelegate_ = new KZTokenDelegate(table);
        table->setItemDelegateForColumn(kValueColumn, tokenDelegate_);
        connect(tokenDelegate_, &KZTokenDelegate::tokensEdited, this,
                [this](const QModelIndex& index, const QString& typed) { extensionTokensEdited(index.row(), typed); });
        connect(tokenDelegate_, &QAbstractItemDelegate::closeEditor, this, [this] {
            if (std::exchange(reloadAfterEdit_, false))
                scheduleReload();
        });
    }
    connect(table, &QTableWidget::itemChanged, this, [this, table](QTableWidgetItem* item) {
        if (filling_ || item->column() != kCheckColumn)
            return;
        const List list = table == locationsTable_ ? List::Locations : List::Extensions;
        KZLimitationsList(platform::UserDefaults::standard(), list)
            .setChecked(item->row(), item->checkState() == Qt::Checked);
    });
    connect(table->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this, table] { enableRemoveBtnWithTable(table); });
    return table;
}

QString KZPreferencesLimitationsCntrl::tabInFront() const
{
    return limitsTab_->currentWidget() ? limitsTab_->currentWidget()->objectName() : QString();
}

void KZPreferencesLimitationsCntrl::selectTab(const QString& identifier)
{
    for (int i = 0; i < limitsTab_->count(); ++i) {
        if (limitsTab_->widget(i)->objectName() == identifier) {
            tabButtons_->button(i)->setChecked(true);
            limitsTab_->setCurrentIndex(i);
            enableRemoveBtnWithTable(tableInFront());
        }
    }
}

KZLimitationsList KZPreferencesLimitationsCntrl::listInFront() const
{
    return KZLimitationsList(platform::UserDefaults::standard(),
                             limitsTab_->currentIndex() == 0 ? List::Locations : List::Extensions);
}

QTableWidget* KZPreferencesLimitationsCntrl::tableInFront() const
{
    return limitsTab_->currentIndex() == 0 ? locationsTable_ : extensionsTable_;
}

void KZPreferencesLimitationsCntrl::scheduleReload()
{
    if (reloadScheduled_)
        return;
    reloadScheduled_ = true;
    QTimer::singleShot(0, this, [this] {
        reloadScheduled_ = false;
        reloadTables();
    });
}

void KZPreferencesLimitationsCntrl::reloadTables()
{
    fillTable(locationsTable_, List::Locations);
    fillTable(extensionsTable_, List::Extensions);
}

void KZPreferencesLimitationsCntrl::fillTable(QTableWidget* table, List which)
{
    // An edit in progress would be lost to the rebuilt rows: the refresh
    // waits until it has ended.
    if (static_cast<LimitsTable*>(table)->isEditing()) {
        reloadAfterEdit_ = true;
        return;
    }
    const KZLimitationsList list(platform::UserDefaults::standard(), which);
    const QList<QVariantMap> rows = list.rows();
    filling_ = true;
    QList<int> selected;
    for (const QModelIndex& index : table->selectionModel()->selectedRows())
        selected.append(index.row());
    table->setRowCount(static_cast<int>(rows.size()));
    const QIcon folder = QApplication::style()->standardIcon(QStyle::SP_DirIcon);
    for (int row = 0; row < rows.size(); ++row) {
        auto* check = new QTableWidgetItem;
        check->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable | Qt::ItemIsSelectable);
        check->setCheckState(KZLimitationsList::isChecked(rows.at(row)) ? Qt::Checked : Qt::Unchecked);
        table->setItem(row, kCheckColumn, check);

        const QString value = list.valueAt(rows.at(row));
        auto* item = new QTableWidgetItem(value);
        Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
        if (which == List::Extensions) {
            flags |= Qt::ItemIsEditable;
            item->setData(Qt::UserRole + 1, text(QStringLiteral("pref_extensions_placeholder")));
        } else {
            item->setIcon(folder);
            item->setToolTip(value);
        }
        item->setFlags(flags);
        table->setItem(row, kValueColumn, item);
    }
    table->clearSelection();
    for (int row : selected) {
        if (row < table->rowCount())
            table->selectionModel()->select(table->model()->index(row, 0),
                                            QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    filling_ = false;
    if (table == tableInFront())
        enableRemoveBtnWithTable(table);
}

void KZPreferencesLimitationsCntrl::enableRemoveBtnWithTable(QTableWidget* table)
{
    if (table != tableInFront())
        return;
    removeLimitsBtn_->setEnabled(table->isEnabled() && table->selectionModel()->hasSelection());
}

void KZPreferencesLimitationsCntrl::addAction()
{
    const QString tab = tabInFront();
    if (tab == QLatin1String("locations")) {
        const QVariantMap settings{
            {QStringLiteral("delegate"), QVariant::fromValue<QObject*>(this)},
            {QStringLiteral("window"), QVariant::fromValue<QObject*>(window())},
            {QStringLiteral("prompt"), QStringLiteral("ask_add_source")},
            {QStringLiteral("includeSmartFolder"), false},
            {QStringLiteral("allowsMultipleSelection"), true},
            {QStringLiteral("canCreateDirectories"), false},
        };
        KZInterfaceUtilities::sharedControl().askForDirectories(
            [guard = QPointer<KZPreferencesLimitationsCntrl>(this)](const QVariant& response, const QVariant& context) {
                if (!guard)
                    return;
                QStringList paths;
                for (const QVariant& url : context.toList())
                    paths.append(url.toUrl().toLocalFile());
                guard->chooseLocationPanelDidEndWithCode(response.toInt(), paths);
            },
            settings);
        return;
    }
    if (tab == QLatin1String("extensions")) {
        const qsizetype row = KZLimitationsList(platform::UserDefaults::standard(), List::Extensions).addExtensionRow();
        fillTable(extensionsTable_, List::Extensions);
        if (row >= 0 && row < extensionsTable_->rowCount()) {
            QTableWidgetItem* item = extensionsTable_->item(static_cast<int>(row), kValueColumn);
            extensionsTable_->scrollToItem(item);
            extensionsTable_->editItem(item);
        }
    }
}

void KZPreferencesLimitationsCntrl::chooseLocationPanelDidEndWithCode(int code, const QStringList& paths)
{
    if (code != 1)
        return;
    KZLimitationsList(platform::UserDefaults::standard(), List::Locations).addLocations(paths);
    fillTable(locationsTable_, List::Locations);
}

void KZPreferencesLimitationsCntrl::extensionTokensEdited(int row, const QString& typed)
{
    KZLimitationsList(platform::UserDefaults::standard(), List::Extensions)
        .setExtensionTokens(row, KZLimitationsList::tokensOf(typed));
    // The table is rebuilt once the editor has closed.
    scheduleReload();
}

void KZPreferencesLimitationsCntrl::removeAction()
{
    QTableWidget* table = tableInFront();
    enableRemoveBtnWithTable(table);
    if (!table->isEnabled() || !table->selectionModel()->hasSelection())
        return;
    QList<qsizetype> rows;
    for (const QModelIndex& index : table->selectionModel()->selectedRows())
        rows.append(index.row());
    table->clearSelection();
    listInFront().removeRows(rows);
    reloadTables();
}

void KZPreferencesLimitationsCntrl::restoreAction()
{
    listInFront().restore();
    reloadTables();
}
