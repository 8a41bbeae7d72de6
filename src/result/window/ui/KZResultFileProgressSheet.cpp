#include "result/window/ui/KZResultFileProgressSheet.h"

#include "services/ui/KZGenericProgressWindowCntrl.h"
#include "services/ui/KZLinearProgressIndicatorView.h"

#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QWidget>

#include <algorithm>

KZResultFileProgressSheet::KZResultFileProgressSheet(QWidget* window, std::function<void()> stop)
    : window_(window ? window->window() : nullptr), stop_(std::move(stop))
{
}

KZResultFileProgressSheet::~KZResultFileProgressSheet() = default;

void KZResultFileProgressSheet::attach(KZResultFileJob& job, QWidget* window)
{
    std::weak_ptr<KZResultFileJob> weak = job.weak_from_this();
    job.setDisplay(std::make_shared<KZResultFileProgressSheet>(window, [weak] {
        if (auto running = weak.lock())
            running->stop();
    }));
}

void KZResultFileProgressSheet::showProgress()
{
    if (controller_)
        return;
    controller_ = std::make_unique<KZGenericProgressWindowCntrl>(window_.data());
    KZGenericProgressWindowCntrl* parts = controller_.get();
    QObject::connect(parts->stopBtn(), &QPushButton::clicked, parts, [this] { stopIfAsked(); });
    parts->spinning()->startDeterminateAnimation();
    parts->window()->setWindowModality(window_ ? Qt::WindowModal : Qt::ApplicationModal);
    parts->window()->open();
}

void KZResultFileProgressSheet::updateProgress(quint64 managed, quint64 total, const QString& mainText)
{
    if (!controller_)
        return;
    // Escape and the close button only raise the window's stop flag.
    stopIfAsked();
    KZGenericProgressWindowCntrl* parts = controller_.get();
    parts->infoFld()->setText(mainText);
    const QLocale locale;
    parts->countFld()->setText(parts->countStr().arg(locale.toString(managed), locale.toString(total)));
    if (total > 0)
        parts->spinning()->updateProgress(100.0 * double(std::min(managed, total)) / double(total));
}

void KZResultFileProgressSheet::closeProgress()
{
    if (!controller_)
        return;
    controller_->spinning()->stopDeterminateAnimation();
    controller_->window()->close();
    controller_.reset();
}

void KZResultFileProgressSheet::stopIfAsked()
{
    if (stopSent_ || !controller_ || !controller_->wasStopped())
        return;
    stopSent_ = true;
    controller_->stopBtn()->setEnabled(false);
    if (stop_)
        stop_();
}
