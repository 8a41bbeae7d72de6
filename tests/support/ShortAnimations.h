#pragma once

#include "services/ui/KZAnimationTiming.h"

namespace kztest {

// The widgets' animations and fade steps run at a hundredth of their length
// while this lives, so that a test waits for end states, not for frames.
class ShortAnimations {
public:
    explicit ShortAnimations(double scale = 0.01) { KZAnimationTiming::setScale(scale); }
    ~ShortAnimations() { KZAnimationTiming::setScale(1.0); }
    ShortAnimations(const ShortAnimations&) = delete;
    ShortAnimations& operator=(const ShortAnimations&) = delete;
};

} // namespace kztest
