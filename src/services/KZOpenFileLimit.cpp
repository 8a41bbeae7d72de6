#include "services/KZOpenFileLimit.h"

#include <sys/resource.h>

KZOpenFileLimit KZRaiseOpenFileLimit()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return {};
    if (limit.rlim_cur != limit.rlim_max) {
        rlimit raised = limit;
        raised.rlim_cur = limit.rlim_max;
        if (::setrlimit(RLIMIT_NOFILE, &raised) == 0)
            limit = raised;
    }
    // RLIM_INFINITY reads as a very large number, which is what it means.
    return {quint64(limit.rlim_cur), quint64(limit.rlim_max)};
}
