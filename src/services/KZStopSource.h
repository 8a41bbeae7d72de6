#pragma once

// Anything a long measurement can ask whether the user has stopped the work
// it belongs to. The search progress controller answers it; a null source
// means "never stopped". Implementations must be safe to ask from any thread.
class KZStopSource {
public:
    virtual ~KZStopSource() = default;
    virtual bool wasStopped() const = 0;
};
