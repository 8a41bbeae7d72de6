#include "removal/ui/KZRestoreWindowCntrl.h"

#include "platform/MainThread.h"
#include "platform/NotificationCenter.h"
#include "platform/Paths.h"
#include "platform/StringTable.h"
#include "removal/KZRestoreRemovedFiles.h"
#include "removal/ui/KZRestoreProgressWindow.h"
#include "services/KZErrorDelegate.h"
#include "services/KZNumberUtilities.h"
#include "services/ui/KZFocusRing.h"

#include <QApplication>
#include <QEvent>
#include <QStyle>
#include <QTextLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QHelpEvent>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QToolTip>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace fs = std::filesystem;

namespace {
constexpr int checkColumn = 0;
constexpr int nameColumn = 1;

// A row's tooltip as rich text, which the tooltip wraps at a readable
// width (as plain text it is one line as long as the reason, across the
// screen); its own line breaks are kept.
QString wrappingToolTip(const QString& text)
{
    return QStringLiteral("<p style=\"white-space:pre-wrap\">%1</p>").arg(text.toHtmlEscaped());
}
} // namespace

KZRestoreWindowCntrl::KZRestoreWindowCntrl(KZRestoreRemovedFiles& engine, fs::path trashDir, QWidget* parent)
    : QDialog(parent)
    , engine_(engine)
    , trashDir_(trashDir)
    , rows_(std::move(trashDir))
{
    setWindowTitle(platform::localizedString(QStringLiteral("restore_window_title")));
    list_ = new QTreeWidget(this);
    list_->setColumnCount(2);
    list_->setHeaderHidden(true);
    list_->setRootIsDecorated(false);
    // The focus frame goes round the whole row: drawn in the check column
    // alone it was a sliver beside the check box.
    list_->setAllColumnsShowFocus(true);
    list_->header()->setSectionResizeMode(checkColumn, QHeaderView::ResizeToContents);
    list_->header()->setStretchLastSection(true);
    // A row that says why its file could not be read may need more than
    // one line; each row is as tall as its text (the view itself sizes rows
    // as if they never wrapped).
    list_->setWordWrap(true);
    list_->setTextElideMode(Qt::ElideMiddle);
    list_->setUniformRowHeights(false);
    list_->viewport()->installEventFilter(this);
    connect(list_->header(), &QHeaderView::sectionResized, this, [this] { fitRowHeights(); });
    restoreBtn_ = new QPushButton(platform::localizedString(QStringLiteral("restore_button")), this);
    restoreBtn_->setDefault(true);
    // The style outlines a default button as it outlines the focus: the
    // focus on it shows by a ring of its own.
    KZFocusRing::showWhileFocused(restoreBtn_, 4);
    auto* cancel = new QPushButton(platform::localizedString(QStringLiteral("cancel_button_restore")), this);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cancel);
    buttons->addWidget(restoreBtn_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(list_);
    layout->addLayout(buttons);
    resize(480, 300);

    connect(list_, &QTreeWidget::itemChanged, this, &KZRestoreWindowCntrl::itemChanged);
    connect(restoreBtn_, &QPushButton::clicked, this, &KZRestoreWindowCntrl::restoreAction);
    connect(cancel, &QPushButton::clicked, this, &QDialog::close);
}

KZRestoreWindowCntrl::~KZRestoreWindowCntrl() = default;

bool KZRestoreWindowCntrl::areTherePermanentFiles() const
{
    return KZRestoreList::areTherePermanentFiles(trashDir_);
}

void KZRestoreWindowCntrl::showWindow()
{
    if (!restoring_)
        rows_.permanentItems();
    reload();
    restoreBtn_->setEnabled(!restoring_);
    show();
    raise();
    activateWindow();
}

void KZRestoreWindowCntrl::reload()
{
    reloading_ = true;
    list_->clear();
    for (const auto& row : rows_.rows()) {
        auto* item = new QTreeWidgetItem(list_);
        Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
        // While a restore runs its choice stays as it was.
        if (!restoring_)
            flags |= Qt::ItemIsUserCheckable;
        item->setFlags(flags);
        item->setCheckState(checkColumn, row.isChecked ? Qt::Checked : Qt::Unchecked);
        item->setText(nameColumn, row.name);
        // The reader's words on why, for whoever looks into the file; why
        // the last Restore kept some of its records.
        QStringList details;
        if (!row.problem.isEmpty())
            details << row.problem;
        if (const auto why = keptWhy_.find(row.path); why != keptWhy_.end())
            details << why->second;
        if (!details.isEmpty())
            item->setToolTip(nameColumn, row.name + QStringLiteral("\n\n") + details.join(QStringLiteral("\n\n")));
    }
    fitRowHeights();
    reloading_ = false;
}

bool KZRestoreWindowCntrl::eventFilter(QObject* watched, QEvent* event)
{
    // The view stretches its last column only after its viewport resized.
    if (watched == list_->viewport() && event->type() == QEvent::Resize)
        QMetaObject::invokeMethod(this, &KZRestoreWindowCntrl::fitRowHeights, Qt::QueuedConnection);
    // The rows keep their tooltips as plain text; they are wrapped where
    // they show.
    if (watched == list_->viewport() && event->type() == QEvent::ToolTip) {
        const auto* help = static_cast<QHelpEvent*>(event);
        const QModelIndex index = list_->indexAt(help->pos());
        const QString tip = index.isValid() ? index.siblingAtColumn(nameColumn).data(Qt::ToolTipRole).toString()
                                            : QString();
        if (tip.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(), wrappingToolTip(tip), list_->viewport(), list_->visualRect(index));
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void KZRestoreWindowCntrl::fitRowHeights()
{
    const QFontMetrics metrics(list_->font());
    const int margin = list_->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, list_) + 1;
    const int width = list_->columnWidth(nameColumn) - 2 * margin;
    if (width <= 0)
        return;
    const bool wasReloading = reloading_;
    reloading_ = true;
    for (int i = 0; i < list_->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = list_->topLevelItem(i);
        // Broken as the view breaks it when it paints: at spaces. A word
        // longer than the line (a folder's path) is shortened in its middle,
        // and the row's tooltip holds it whole.
        QTextLayout layout(item->text(nameColumn), list_->font());
        QTextOption option;
        option.setWrapMode(QTextOption::WordWrap);
        layout.setTextOption(option);
        int lines = 0;
        layout.beginLayout();
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(width);
            ++lines;
        }
        layout.endLayout();
        const int one = std::max(metrics.height(), list_->iconSize().height()) + 2 * margin;
        const int height = std::max(one, lines * metrics.lineSpacing() + 2 * margin);
        if (item->sizeHint(nameColumn).height() != height)
            item->setSizeHint(nameColumn, QSize(0, height));
    }
    reloading_ = wasReloading;
}

void KZRestoreWindowCntrl::itemChanged(QTreeWidgetItem* item, int column)
{
    if (reloading_ || column != checkColumn || restoring_)
        return;
    const int row = list_->indexOfTopLevelItem(item);
    if (row < 0)
        return;
    restoreBtn_->setEnabled(rows_.toggle(std::size_t(row)));
}

void KZRestoreWindowCntrl::restoreAction()
{
    if (restoring_)
        return;
    const auto paths = rows_.checkedPathsBottomUp();
    if (paths.empty()) {
        KZErrorDelegate::sharedControl().showError(QStringLiteral("nothing_to_restore"));
        return;
    }
    restoring_ = true;
    restoreBtn_->setEnabled(false);
    reload();
    QVariantList pathList;
    for (const auto& p : paths)
        pathList << platform::pathText(p);
    QPointer<KZRestoreWindowCntrl> self(this);
    subscription_ = platform::NotificationCenter::defaultCenter().addObserver(
        QStringLiteral("updateRestoredList"), platform::NotificationObject(&engine_),
        [self](const platform::Notification& n) {
            const QVariantList donePaths = n.userInfo.value(QStringLiteral("indexes")).toList();
            const quint64 restored = n.userInfo.value(QStringLiteral("restoredItems")).toULongLong();
            const quint64 notRestored = n.userInfo.value(QStringLiteral("notRestoredItems")).toULongLong();
            const QString reason = n.userInfo.value(QStringLiteral("notRestoredReason")).toString();
            const quint64 onPossibleCopy = n.userInfo.value(QStringLiteral("onPossibleCopy")).toULongLong();
            const QVariantMap kept = n.userInfo.value(QStringLiteral("keptReasons")).toMap();
            platform::runOnMain([self, donePaths, restored, notRestored, reason, onPossibleCopy, kept] {
                if (self)
                    self->updateRestoredList(donePaths, restored, notRestored, reason, onPossibleCopy, kept);
            });
        });
    progress_ = new KZRestoreProgressWindow(engine_, this, platform::localizedString(QStringLiteral("preparing_restore")));
    engine_.restoreItemsOfFile(paths, pathList);
}

void KZRestoreWindowCntrl::updateRestoredList(const QVariantList& donePaths, quint64 restored, quint64 notRestored,
                                              const QString& reasonKey, quint64 onPossibleCopy,
                                              const QVariantMap& keptReasons)
{
    subscription_ = {};
    restoring_ = false;
    // This Restore's reasons replace those of the last one for its files.
    for (const QVariant& p : donePaths)
        keptWhy_.erase(platform::pathFromText(p.toString()));
    for (auto kept = keptReasons.cbegin(); kept != keptReasons.cend(); ++kept) {
        const QVariantMap why = kept.value().toMap();
        const quint64 count = why.value(QStringLiteral("count")).toULongLong();
        const QString reason = why.value(QStringLiteral("reason")).toString();
        if (count == 0 || reason.isEmpty())
            continue;
        const QString heading = count == 1
            ? platform::localizedString(QStringLiteral("restore_row_kept_sing"))
            : KZErrorDelegate::replaceContentOfString(
                  platform::localizedString(QStringLiteral("restore_row_kept_plur")),
                  {KZNumberUtilities::sharedControl().numberToFormatString(double(count))});
        keptWhy_[platform::pathFromText(kept.key())]
            = heading + QLatin1Char(' ') + platform::localizedString(reason, QStringLiteral("Errors"));
    }
    // Rows are matched by path: the list may have been rebuilt meanwhile. A
    // row goes only with its undo file: while the file is there some of its
    // items are still in the Trash, and the row is the way back to them.
    std::vector<fs::path> gone;
    for (const QVariant& p : donePaths) {
        const fs::path path = platform::pathFromText(p.toString());
        std::error_code ec;
        if (!fs::exists(fs::symlink_status(path, ec)))
            gone.push_back(path);
    }
    rows_.removeRows(gone);
    for (const fs::path& path : gone)
        keptWhy_.erase(path);
    rows_.recount();
    reload();
    restoreBtn_->setEnabled(false);
    QPointer<KZRestoreWindowCntrl> self(this);
    const auto tell = [self, restored, notRestored, reasonKey, onPossibleCopy] {
        KZRestoreRemovedFiles::tellOutcome(restored, notRestored, reasonKey, true, onPossibleCopy);
        if (self && self->rows_.rows().empty())
            self->close();
    };
    if (!progress_) {
        tell();
        return;
    }
    // Told on the turn after the progress window has gone, never from
    // inside its destruction.
    connect(progress_, &QObject::destroyed, qApp, [tell] { QTimer::singleShot(0, qApp, tell); });
}
