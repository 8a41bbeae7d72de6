#pragma once

#include <string_view>

// The running kernel's release (uname) as one number that orders like the
// versions: major * 1000000 + minor * 1000 + patch, each part clamped to
// 0..999 (major to 0..2146), so 5.10.209 < 5.15.0 < 6.1.0. Every kernel
// ranks above the old cut-off numbers that callers compare with (they are
// below 1000000). Read once; safe from any thread.
int KZSystemVersionNumber();

// The same encoding of a release text such as "6.1.0-18-amd64"; missing
// parts count as 0 and anything after the digits of a part is ignored.
int KZSystemVersionNumberFromRelease(std::string_view release);
