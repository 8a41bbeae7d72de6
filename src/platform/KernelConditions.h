#pragma once

#include <string>

// The conditions the decisions about disks rest on, and where the system's
// readers look. The program reads them from the system; tests set what a
// user's machine has and CI's does not (an older kernel, another boot or
// mount namespace, disks without a serial), and the whole program takes them
// from MARAVEX_TEST_KERNEL.

namespace platform {

struct KernelConditions {
    bool uniqueMountIds = true; // statx's STATX_MNT_ID_UNIQUE, from Linux 6.8
    bool deviceSerials = true;  // the block devices' own identity in sysfs
    std::string bootId;         // /proc/sys/kernel/random/boot_id
    std::string mountNamespace; // /proc/self/ns/mnt
    std::string sysfs = "/sys"; // where the block devices describe themselves
};

// The conditions in force: the system's until they are set.
KernelConditions kernelConditions();
// What the system gives, MARAVEX_TEST_KERNEL included.
KernelConditions systemKernelConditions();
// Lets go of every answer kept under the conditions before.
void setKernelConditions(const KernelConditions& conditions);

} // namespace platform
