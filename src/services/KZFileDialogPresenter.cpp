#include "services/KZFileDialogPresenter.h"

#include <mutex>

namespace {

std::mutex& presenterMutex()
{
    static std::mutex mutex;
    return mutex;
}

std::shared_ptr<KZFileDialogPresenter>& presenterSlot()
{
    static std::shared_ptr<KZFileDialogPresenter> presenter;
    return presenter;
}

} // namespace

std::shared_ptr<KZFileDialogPresenter> KZFileDialogPresenter::shared()
{
    std::lock_guard lock(presenterMutex());
    return presenterSlot();
}

std::shared_ptr<KZFileDialogPresenter> KZFileDialogPresenter::setShared(
    std::shared_ptr<KZFileDialogPresenter> presenter)
{
    std::lock_guard lock(presenterMutex());
    std::swap(presenterSlot(), presenter);
    return presenter;
}

void KZFileDialogPresenter::ask(const Request& request, Completion done)
{
    if (const std::shared_ptr<KZFileDialogPresenter> presenter = shared()) {
        presenter->present(request, std::move(done));
        return;
    }
    if (done)
        done(Answer{});
}
