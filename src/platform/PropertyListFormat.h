#pragma once

// What the property-list readers share about the binary format and the
// bounds they hold any list to, so that a list one of them takes the other
// takes too.

#include <QtGlobal>

namespace platform::plistformat {

// Deep enough for any list this program writes (a saved result nests about
// as deep as the folders it describes), shallow enough for a worker's stack.
inline constexpr int kMaxDepth = 512;
inline constexpr qint64 kReferenceDateMsecs = 978307200000LL; // 2001-01-01T00:00:00Z
// About 30,000 years either side of 2001: far beyond any real date, and well
// inside what QDateTime and a double's whole seconds can hold.
inline constexpr double kMaxDateSeconds = 1e12;

// The unsigned number of `bytes` bytes (at most 8) at `p`, most significant
// first, as the format stores every number, offset and reference.
inline quint64 readBigEndian(const uchar* p, unsigned bytes)
{
    quint64 value = 0;
    for (unsigned i = 0; i < bytes; ++i)
        value = (value << 8) | p[i];
    return value;
}

} // namespace platform::plistformat
