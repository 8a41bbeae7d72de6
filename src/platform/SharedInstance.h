#pragma once

#include <memory>
#include <mutex>
#include <utility>

namespace platform {

// The one instance of a service that the whole process shares, made on first
// use and replaceable by a test.
//
// Lifetime: the instance lives until it is replaced or the process ends. It
// is never destroyed at exit, because services observe one another (the
// shared search request observes the user defaults) and the order in which
// statics die is not ours to choose. A replaced instance is destroyed at
// once, outside the lock, so that its destructor may itself ask for shared
// instances; a reference obtained before the replacement must not be used
// after it, which only tests do.
template <typename T>
class SharedInstance {
public:
    using Factory = std::unique_ptr<T> (*)();

    explicit constexpr SharedInstance(Factory make) : make_(make) {}
    SharedInstance(const SharedInstance&) = delete;
    SharedInstance& operator=(const SharedInstance&) = delete;
    // Deliberately leaves the instance alone (see above).
    ~SharedInstance() = default;

    T& get()
    {
        std::lock_guard lock(mutex_);
        if (!instance_)
            instance_ = make_().release();
        return *instance_;
    }

    // nullptr makes the next get() build a fresh instance.
    void replace(std::unique_ptr<T> instance)
    {
        T* old = nullptr;
        {
            std::lock_guard lock(mutex_);
            old = std::exchange(instance_, instance.release());
        }
        delete old;
    }

private:
    std::mutex mutex_;
    T* instance_ = nullptr;
    const Factory make_;
};

} // namespace platform
