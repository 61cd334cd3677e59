#pragma once

// SHA-256 compression of whole 64-byte blocks: the portable FIPS 180-4 routine and, on x86
// CPUs that have them, the SHA extensions. Both read the blocks straight from the caller's
// buffer.

#include <cstddef>
#include <cstdint>

namespace kestrivon::core {

using Sha256BlockFunction = void (*)(uint32_t* state, const uint8_t* data, size_t blocks);

void Sha256BlocksPortable(uint32_t* state, const uint8_t* data, size_t blocks);

// The SHA-extension routine, or null when this CPU (or build) lacks it.
Sha256BlockFunction ShaExtensionBlocks();

// The routine new hashers use: the SHA extensions when present, else the portable one.
Sha256BlockFunction ActiveSha256Blocks();

// Lets tests and benchmarks pin one routine; null restores the automatic choice.
void SetActiveSha256Blocks(Sha256BlockFunction function);

}  // namespace kestrivon::core
