#pragma once

#include <QString>

// The name of the startup disk: the label of the root file system, else
// "Linux". Read once and kept; safe from any thread.
QString KZStartupDiskName();
