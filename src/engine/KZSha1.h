#pragma once

#include <QtGlobal>

#include <array>
#include <cstddef>

// SHA-1 of one buffer, for the content comparisons. On processors with the
// SHA extensions (most x86-64 since 2017) the blocks go through them, as
// fast as a cryptography library; elsewhere Qt's own implementation serves.
// Neither needs a cryptography library in the process, whose loading alone
// costs more resident memory than a search of a small tree.
namespace kzsha1 {

using Digest = std::array<quint8, 20>;

Digest digest(const void* data, std::size_t length);

// Whether digest() runs on the processor's SHA instructions.
bool usesProcessorInstructions();

} // namespace kzsha1
