#pragma once

#include <QtGlobal>

// The number of files the process may hold open at once. A search keeps a
// few dozen folders open per walk and two files per comparison; the soft
// limit that a session hands down is often far below what the system allows.
struct KZOpenFileLimit {
    quint64 soft = 0; // 0: unknown
    quint64 hard = 0;
    // Fewer than this and a search could not even list its folders: a
    // program should say so and end before it starts one.
    static constexpr quint64 kNeededForSearch = 32;
    bool sufficesForSearch() const { return soft == 0 || soft >= kNeededForSearch; }
};

// Raises the soft limit on open files to the hard limit, once at start, and
// answers the limits now in force.
KZOpenFileLimit KZRaiseOpenFileLimit();
