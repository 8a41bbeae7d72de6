#pragma once

#include <atomic>
#include <memory>
#include <mutex>

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

    // Any thread. Once the instance exists this takes no lock, so it is as
    // cheap as a function-local static on the paths that sort and compare.
    T& get()
    {
        if (T* ready = instance_.load(std::memory_order_acquire))
            return *ready;
        std::lock_guard lock(mutex_);
        T* made = instance_.load(std::memory_order_relaxed);
        if (!made) {
            made = make_().release();
            instance_.store(made, std::memory_order_release);
        }
        return *made;
    }

    // nullptr makes the next get() build a fresh instance.
    void replace(std::unique_ptr<T> instance)
    {
        T* old = nullptr;
        {
            std::lock_guard lock(mutex_);
            old = instance_.exchange(instance.release(), std::memory_order_acq_rel);
        }
        delete old;
    }

private:
    std::mutex mutex_;
    std::atomic<T*> instance_{nullptr};
    const Factory make_;
};

} // namespace platform
