#pragma once

#include <functional>

namespace platform {

bool isMainThread();

// Queues `fn` onto the main thread's event loop and returns at once.
void runOnMain(std::function<void()> fn);

// Runs `fn` on the main thread and returns when it has run: directly when
// called on the main thread, otherwise queued while the caller blocks. Never
// hold a lock that the main thread may take while calling this.
void runOnMainAndWait(const std::function<void()>& fn);

} // namespace platform
