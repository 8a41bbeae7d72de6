#include "services/KZFilesUtilities.h"

#include "platform/SharedInstance.h"

namespace {

platform::SharedInstance<KZFilesUtilities>& sharedInstance()
{
    static platform::SharedInstance<KZFilesUtilities> instance([] { return std::make_unique<KZFilesUtilities>(); });
    return instance;
}

} // namespace

KZFilesUtilities& KZFilesUtilities::sharedControl()
{
    return sharedInstance().get();
}

void KZFilesUtilities::setSharedControl(std::unique_ptr<KZFilesUtilities> instance)
{
    sharedInstance().replace(std::move(instance));
}
