#include "platform/KernelConditions.h"

#include "platform/MountTable.h"

#include <QByteArray>

#include <fstream>
#include <mutex>
#include <optional>

#include <unistd.h>

namespace platform {

namespace {

// What the system gives. Only this: a setting in the user's environment
// that stood in for a kernel, a boot or a disk's serial would let a copy of
// a disk pass as the disk.
KernelConditions systemConditions()
{
    KernelConditions conditions;
    std::ifstream in("/proc/sys/kernel/random/boot_id");
    std::string line;
    std::getline(in, line);
    conditions.bootId = QByteArray::fromStdString(line).trimmed().toStdString();
    conditions.mountNamespace = mountNamespaceAt("/proc/self/ns/mnt");
    return conditions;
}

std::mutex conditionsMutex;
std::optional<KernelConditions> currentConditions;

} // namespace

KernelConditions kernelConditions()
{
    std::lock_guard guard(conditionsMutex);
    if (!currentConditions)
        currentConditions = systemConditions();
    return *currentConditions;
}

void setKernelConditions(const KernelConditions& conditions)
{
    {
        std::lock_guard guard(conditionsMutex);
        currentConditions = conditions;
    }
    forgetMountAnswers();
}

KernelConditions systemKernelConditions()
{
    return systemConditions();
}

} // namespace platform
