#pragma once

#include "platform/KernelConditions.h"

namespace kztest {

// The kernel conditions this run of the tests was started under: the
// system's, with what MARAVEX_TEST_KERNEL (a comma-separated list of
// "no-unique-mount-id", "no-device-serial", "boot=<id>" and
// "namespace=<id>") takes away or sets. The test main sets them before the
// first case; a case that sets others returns to these. The shipped
// program never reads the variable.
platform::KernelConditions runKernelConditions();

// Sets the run's conditions from the environment; the test main only.
void startWithRunKernelConditions();

// In a child just moved into a mount namespace of its own: the run's
// conditions, and those in force, name that namespace, as a process started
// there reads it (unless the run was given a namespace of its own).
void followMountNamespace();

// A kernel without lasting mount IDs (one before 6.8), for as long as the
// object lives; the run's conditions again after it.
struct BeforeLastingMountIds {
    BeforeLastingMountIds()
    {
        platform::KernelConditions conditions = runKernelConditions();
        conditions.uniqueMountIds = false;
        platform::setKernelConditions(conditions);
    }
    ~BeforeLastingMountIds() { platform::setKernelConditions(runKernelConditions()); }
    BeforeLastingMountIds(const BeforeLastingMountIds&) = delete;
    BeforeLastingMountIds& operator=(const BeforeLastingMountIds&) = delete;
};

} // namespace kztest
