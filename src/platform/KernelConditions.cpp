#include "platform/KernelConditions.h"

#include "platform/MountTable.h"

#include <QByteArray>
#include <QList>

#include <cstdlib>
#include <fstream>
#include <mutex>
#include <optional>

#include <unistd.h>

namespace platform {

namespace {

std::string readLinkOf(const char* path)
{
    char buffer[256];
    const ssize_t length = ::readlink(path, buffer, sizeof buffer - 1);
    return length > 0 ? std::string(buffer, size_t(length)) : std::string();
}

// What the system gives, with what MARAVEX_TEST_KERNEL takes away or sets:
// a comma-separated list of "no-unique-mount-id", "no-device-serial",
// "boot=<id>" and "namespace=<id>".
KernelConditions systemConditions()
{
    KernelConditions conditions;
    conditions.bootId = QByteArray::fromStdString(
                            [] {
                                std::ifstream in("/proc/sys/kernel/random/boot_id");
                                std::string line;
                                std::getline(in, line);
                                return line;
                            }())
                            .trimmed()
                            .toStdString();
    conditions.mountNamespace = readLinkOf("/proc/self/ns/mnt");
    if (const char* seam = std::getenv("MARAVEX_TEST_KERNEL")) {
        for (const QByteArray& word : QByteArray(seam).split(',')) {
            const QByteArray item = word.trimmed();
            if (item == "no-unique-mount-id")
                conditions.uniqueMountIds = false;
            else if (item == "no-device-serial")
                conditions.deviceSerials = false;
            else if (item.startsWith("boot="))
                conditions.bootId = item.mid(5).toStdString();
            else if (item.startsWith("namespace="))
                conditions.mountNamespace = item.mid(10).toStdString();
        }
    }
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
