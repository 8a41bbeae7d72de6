#pragma once

#include <QString>

// The version of the running program, as the About window and the desktop
// entry show it: the short version ("4.0.0") and the build number.
QString KZShortVersionString();
QString KZBundleVersion();
