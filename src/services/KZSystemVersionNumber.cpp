#include "services/KZSystemVersionNumber.h"

#include <algorithm>
#include <sys/utsname.h>

int KZSystemVersionNumberFromRelease(std::string_view release)
{
    long parts[3] = {0, 0, 0};
    size_t pos = 0;
    for (int i = 0; i < 3; ++i) {
        if (pos >= release.size() || release[pos] < '0' || release[pos] > '9')
            break;
        long value = 0;
        while (pos < release.size() && release[pos] >= '0' && release[pos] <= '9') {
            value = std::min(value * 10 + (release[pos] - '0'), 1000000L);
            ++pos;
        }
        parts[i] = value;
        // Only a dot continues the version; "-rc1" or "+" end it.
        if (pos >= release.size() || release[pos] != '.')
            break;
        ++pos;
    }
    const long major = std::min(parts[0], 2146L);
    const long minor = std::min(parts[1], 999L);
    const long patch = std::min(parts[2], 999L);
    return int(major * 1000000 + minor * 1000 + patch);
}

int KZSystemVersionNumber()
{
    static const int number = [] {
        utsname info{};
        if (::uname(&info) != 0)
            return 0;
        return KZSystemVersionNumberFromRelease(info.release);
    }();
    return number;
}
