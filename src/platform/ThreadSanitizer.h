#pragma once

// Hand-offs that ThreadSanitizer cannot see by itself: Qt's thread pool and
// event queue synchronise inside Qt, which is not instrumented, so a value
// handed to a pool thread or to the main loop would be reported as a race.
// The sender releases a token before the hand-off and the receiver acquires
// it before it reads anything handed over (so the token is a fixed address,
// never a captured value); outside a ThreadSanitizer build both are nothing.

#if defined(__SANITIZE_THREAD__)
extern "C" void __tsan_acquire(void* addr);
extern "C" void __tsan_release(void* addr);
#endif

namespace platform {

// The token of hand-offs to Qt's thread pools and to the main loop.
inline char tsanHandOffToken;

inline void tsanRelease([[maybe_unused]] void* token)
{
#if defined(__SANITIZE_THREAD__)
    __tsan_release(token);
#endif
}

inline void tsanAcquire([[maybe_unused]] void* token)
{
#if defined(__SANITIZE_THREAD__)
    __tsan_acquire(token);
#endif
}

} // namespace platform
