#include "removal/ui/KZRestoreProgressWindow.h"

#include "platform/MainThread.h"
#include "platform/StringTable.h"
#include "services/KZNumberUtilities.h"

#include <QScreen>

KZRestoreProgressWindow::KZRestoreProgressWindow(KZRestoreRemovedFiles& engine, QWidget* parent, const QString& info)
    : engine_(engine)
    , parent_(parent)
    , info_(info)
{
    dialog_ = new QProgressDialog(info, QString(), 0, 100, parent);
    dialog_->setAutoClose(false);
    dialog_->setAutoReset(false);
    dialog_->setMinimumDuration(0);
    // Wide enough that the bar reads as one and a long info text fits.
    dialog_->setMinimumWidth(380);
    // Nothing can stop an undo half way: a half-undone removal is worse.
    dialog_->setCancelButton(nullptr);
    if (parent) {
        dialog_->setWindowModality(Qt::WindowModal);
    } else {
        dialog_->setWindowModality(Qt::ApplicationModal);
        dialog_->setWindowFlag(Qt::WindowStaysOnTopHint);
    }
    dialog_->hide();
    progress_.startSession();
    connect(&timer_, &QTimer::timeout, this, &KZRestoreProgressWindow::tick);
    timer_.start(16);
}

KZRestoreProgressWindow* KZRestoreProgressWindow::undoWithProgress(KZRestoreRemovedFiles& engine, KZUndoDict dict)
{
    // Working before the window's first tick, so that the tick never takes
    // the undo for ended before it started.
    // What did not go back is told once the undo has ended: a user who
    // believes everything is back may empty the Trash or the destination.
    engine.undoMove(std::move(dict), [](const KZRestoreRemovedFiles::UndoOutcome& outcome) {
        if (outcome.notRestored.total() == 0 && outcome.onPossibleCopy == 0 && outcome.alreadyBack == 0)
            return;
        platform::runOnMain([outcome] { KZRestoreRemovedFiles::tellUndoOutcome(outcome); });
    });
    return new KZRestoreProgressWindow(engine, nullptr, platform::localizedString(QStringLiteral("restoring_items")));
}

KZRestoreProgressWindow::~KZRestoreProgressWindow()
{
    delete dialog_;
}

void KZRestoreProgressWindow::refresh()
{
    const quint64 managed = engine_.managedCount.load();
    const quint64 total = engine_.totToManage.load();
    dialog_->setValue(int(KZProgressDisplayRule::percent(managed, total)));
    const QString info = engine_.infoText();
    if (!info.isEmpty())
        info_ = info;
    auto& numbers = KZNumberUtilities::sharedControl();
    dialog_->setLabelText(info_ + QLatin1Char('\n') + numbers.numberToFormatString(double(managed))
                          + QStringLiteral(" / ") + numbers.numberToFormatString(double(total)));
}

void KZRestoreProgressWindow::tick()
{
    if (!dialog_) { // the window it belonged to has gone
        timer_.stop();
        deleteLater();
        return;
    }
    const auto step = progress_.step(engine_.isWorking.load());
    // A progress dialog shows itself when given a value: work that ended
    // before the delay must not flash it, as its hiding brings the window
    // under it forward, above the alert that tells the outcome.
    if (step.refresh || step.show || (step.terminate && dialog_->isVisible()))
        refresh();
    if (step.show) {
        if (!parent_) {
            // Sized for its text first, so that it is centred as it shows.
            dialog_->adjustSize();
            dialog_->move(dialog_->screen()->availableGeometry().center() - dialog_->rect().center());
        }
        dialog_->show();
    }
    if (step.terminate) {
        timer_.stop();
        dialog_->hide();
        deleteLater();
    }
}
