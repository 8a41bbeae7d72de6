#pragma once

#include <QtGlobal>

#include <string>

namespace platform {

// FNV-1a: the same bytes give the same number in every run and build, so
// that a number written into a record today matches the one read later.
// Never 0, which records read as "none".
inline quint64 stableHash(const std::string& bytes)
{
    quint64 hash = 14695981039346656037ull;
    for (const unsigned char c : bytes) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    return hash ? hash : 1;
}

} // namespace platform
