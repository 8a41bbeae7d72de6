#include "preferences/KZBundleInfo.h"

// Both values come from the build system, so the window can never show a
// version other than the one that was built.
#ifndef KZ_SHORT_VERSION
#define KZ_SHORT_VERSION "0.0.0"
#endif
#ifndef KZ_BUNDLE_VERSION
#define KZ_BUNDLE_VERSION "0"
#endif

QString KZShortVersionString()
{
    return QStringLiteral(KZ_SHORT_VERSION);
}

QString KZBundleVersion()
{
    return QStringLiteral(KZ_BUNDLE_VERSION);
}
