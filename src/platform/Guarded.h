#pragma once

#include <mutex>
#include <utility>

namespace platform {

// A value whose fields are read and written under one lock, each read handing
// out a copy, so that a record may be read from worker threads while another
// thread fills it. with() runs a change of several fields as one step.
template <typename T>
class Guarded {
public:
    template <typename Field>
    Field get(Field T::*field) const
    {
        std::lock_guard lock(mutex_);
        return value_.*field;
    }

    template <typename Field, typename Value>
    void set(Field T::*field, Value&& value)
    {
        std::lock_guard lock(mutex_);
        value_.*field = std::forward<Value>(value);
    }

    // `change` must not call back into this value: the lock is not recursive.
    template <typename Change>
    decltype(auto) with(Change&& change)
    {
        std::lock_guard lock(mutex_);
        return std::forward<Change>(change)(value_);
    }

private:
    mutable std::mutex mutex_;
    T value_{};
};

} // namespace platform
