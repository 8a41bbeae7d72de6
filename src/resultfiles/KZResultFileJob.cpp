#include "resultfiles/KZResultFileJob.h"

#include "platform/MainThread.h"
#include "platform/NotificationCenter.h"
#include "services/KZProgressClock.h"

KZResultFileJob::KZResultFileJob(QString finishNotification)
    : finishNotification_(std::move(finishNotification))
    , rule_(std::make_unique<KZProgressDisplayRule>())
{
}

KZResultFileJob::~KZResultFileJob() = default;

void KZResultFileJob::setDisplay(std::shared_ptr<KZResultFileProgressDisplay> display)
{
    display_ = std::move(display);
}

QString KZResultFileJob::errorText() const
{
    std::lock_guard guard(textLock_);
    return error_;
}

void KZResultFileJob::setMainString(const QString& text)
{
    std::lock_guard guard(textLock_);
    mainString_ = text;
}

void KZResultFileJob::setError(const QString& error)
{
    std::lock_guard guard(textLock_);
    error_ = error;
}

void KZResultFileJob::finish()
{
    if (finished_.exchange(true))
        return;
    platform::NotificationCenter::defaultCenter().post(finishNotification_, platform::NotificationObject(sender_));
}

void KZResultFileJob::finishWithoutWork()
{
    finish();
}

void KZResultFileJob::begin(const Enqueue& enqueue, std::function<void()> work)
{
    // A Stop that came first still counts: the work ends at its first check.
    managedCount_.store(0);
    setError({});
    rule_->startSession();
    isWorking_.store(true);
    // The queued work holds the job: its owner may let it go before the work
    // ends (a stop), and the finishing notification needs it afterwards.
    enqueue([self = shared_from_this(), work = std::move(work)] {
        work();
        self->isWorking_.store(false);
    });
    if (drivesOwnClock_) {
        std::weak_ptr<KZResultFileJob> weak = weak_from_this();
        clock_ = std::make_unique<KZProgressClock>([weak] {
            std::shared_ptr<KZResultFileJob> self = weak.lock();
            if (!self)
                return true;
            const bool done = self->tick();
            // The clock belongs to the job: never let the job go on the
            // clock's own thread.
            platform::runOnMain([keep = std::move(self)] {});
            return done;
        });
        clock_->start();
    }
}

bool KZResultFileJob::tick()
{
    if (finished_.load())
        return true;
    // Stop alone does not end the display: the work notices it after the item
    // in hand and returns soon, and the notification waits for that.
    const KZProgressDisplayRule::Step step = rule_->step(isWorking_.load());
    if (step.show || step.refresh || step.terminate) {
        QString text;
        {
            std::lock_guard guard(textLock_);
            text = mainString_;
        }
        platform::runOnMain([self = shared_from_this(), step, text] {
            const std::shared_ptr<KZResultFileProgressDisplay>& display = self->display_;
            if (display && step.show)
                display->showProgress();
            if (display && (step.refresh || step.terminate) && (step.show || self->rule_->isVisible()))
                display->updateProgress(self->managedCount_.load(), self->totToManage_.load(), text);
            if (!step.terminate)
                return;
            if (display && self->rule_->isVisible())
                display->closeProgress();
            const QString error = self->errorText();
            if (!error.isEmpty())
                self->reportError(error);
            else
                self->reportSuccess();
            self->finish();
        });
    }
    return step.terminate;
}
