#include "result/model/KZFoundListWorkers.h"

#include "platform/MainThread.h"
#include "result/model/KZThreadBudget.h"

KZFoundListWorkers::KZFoundListWorkers(const QString& queueName)
    : queue_(queueName)
{
}

KZFoundListWorkers::~KZFoundListWorkers()
{
    stop();
}

void KZFoundListWorkers::add(std::function<void()> work)
{
    queue_.addOperation(std::move(work));
}

void KZFoundListWorkers::onMainLater(std::function<void()> work) const
{
    platform::runOnMain([alive = aliveToken_, work = std::move(work)] {
        if (alive.lock())
            work();
    });
}

void KZFoundListWorkers::onMain(std::function<void()> work) const
{
    if (platform::isMainThread())
        work();
    else
        onMainLater(std::move(work));
}

void KZFoundListWorkers::waitUntilIdle()
{
    queue_.waitUntilAllOperationsAreFinished();
}

void KZFoundListWorkers::stop()
{
    if (!cancelled_.exchange(true))
        KZThreadBudget::budgetDidChange();
    alive_.reset();
    queue_.waitUntilAllOperationsAreFinished();
}
