#include "services/ui/KZAnimationTiming.h"

#include <algorithm>
#include <atomic>
#include <cmath>

namespace {
std::atomic<double> g_scale{1.0};
}

int KZAnimationTiming::milliseconds(double seconds)
{
    return std::max(1, int(std::lround(seconds * 1000.0 * scale())));
}

double KZAnimationTiming::scale()
{
    return g_scale.load(std::memory_order_relaxed);
}

void KZAnimationTiming::setScale(double scale)
{
    g_scale.store(scale > 0 ? scale : 1.0, std::memory_order_relaxed);
}
