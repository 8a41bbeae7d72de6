#pragma once

#include "resultfiles/KZResultFileJob.h"

#include <QPointer>

#include <functional>
#include <memory>

class KZGenericProgressWindowCntrl;
class QWidget;

// The progress of a save or an export as a window-modal sheet over the
// result window. The job decides when it shows (after 0.7 s) and how often
// it refreshes; Stop, Escape and the close button ask the job to stop and
// leave the sheet up until the job has ended. GUI thread only.
class KZResultFileProgressSheet : public KZResultFileProgressDisplay {
public:
    KZResultFileProgressSheet(QWidget* window, std::function<void()> stop);
    ~KZResultFileProgressSheet() override;

    void showProgress() override;
    void updateProgress(quint64 managed, quint64 total, const QString& mainText) override;
    void closeProgress() override;

    // The sheet's parts while it is shown; null otherwise.
    KZGenericProgressWindowCntrl* controller() const { return controller_.get(); }

    // Hands a sheet to `job`; the sheet reaches the job only weakly, as the
    // job holds the sheet.
    static void attach(KZResultFileJob& job, QWidget* window);

private:
    void stopIfAsked();

    QPointer<QWidget> window_;
    std::function<void()> stop_;
    std::unique_ptr<KZGenericProgressWindowCntrl> controller_;
    bool stopSent_ = false;
};
