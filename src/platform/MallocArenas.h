#pragma once

namespace platform {

// Lets the process's threads share two malloc arenas instead of taking one
// each. A search makes most of its long-lived records on its scan threads,
// frees many on others, and meanwhile every thread makes short-lived
// buffers: with an arena per thread, each arena keeps the pages that its
// scattered survivors pin, some 5 to 8 % of a large search's peak memory,
// while sharing costs nothing measurable. Call first thing in main, before
// any thread starts; a MALLOC_ARENA_MAX set by the user wins.
void limitMallocArenas();

// Hands the pages that freed memory keeps in the arenas back to the system.
// For the end of a large job whose working memory is all freed again (a
// save of a large result): malloc keeps such pages for later otherwise, and
// the program would stay as large as the job made it.
void releaseFreeMemory();

} // namespace platform
