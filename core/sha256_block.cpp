#include "core/sha256_block.h"

#include <atomic>

namespace kestrivon::core {
namespace {

constexpr uint32_t kRound[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

constexpr uint32_t Rotr(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

inline uint32_t LoadBigEndian(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

// One round with the eight working variables named by rotation instead of moved, and the
// message schedule kept as a rolling window of 16 words.
#define KESTRIVON_SHA256_ROUND(a, b, c, d, e, f, g, h, i)                                         \
  do {                                                                                            \
    const uint32_t t1 = h + (Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25)) + ((e & f) ^ (~e & g)) +     \
                        kRound[i] + w[(i)&15];                                                    \
    const uint32_t t2 = (Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c)); \
    d += t1;                                                                                      \
    h = t1 + t2;                                                                                  \
  } while (false)

#define KESTRIVON_SHA256_EXPAND(i)                                               \
  do {                                                                           \
    const uint32_t w15 = w[((i)-15) & 15];                                       \
    const uint32_t w2 = w[((i)-2) & 15];                                         \
    w[(i)&15] += (Rotr(w15, 7) ^ Rotr(w15, 18) ^ (w15 >> 3)) + w[((i)-7) & 15] + \
                 (Rotr(w2, 17) ^ Rotr(w2, 19) ^ (w2 >> 10));                     \
  } while (false)

#define KESTRIVON_SHA256_EIGHT(i)                          \
  KESTRIVON_SHA256_ROUND(a, b, c, d, e, f, g, h, (i) + 0); \
  KESTRIVON_SHA256_ROUND(h, a, b, c, d, e, f, g, (i) + 1); \
  KESTRIVON_SHA256_ROUND(g, h, a, b, c, d, e, f, (i) + 2); \
  KESTRIVON_SHA256_ROUND(f, g, h, a, b, c, d, e, (i) + 3); \
  KESTRIVON_SHA256_ROUND(e, f, g, h, a, b, c, d, (i) + 4); \
  KESTRIVON_SHA256_ROUND(d, e, f, g, h, a, b, c, (i) + 5); \
  KESTRIVON_SHA256_ROUND(c, d, e, f, g, h, a, b, (i) + 6); \
  KESTRIVON_SHA256_ROUND(b, c, d, e, f, g, h, a, (i) + 7)

#define KESTRIVON_SHA256_EXPAND_EIGHT(i) \
  KESTRIVON_SHA256_EXPAND((i) + 0);      \
  KESTRIVON_SHA256_EXPAND((i) + 1);      \
  KESTRIVON_SHA256_EXPAND((i) + 2);      \
  KESTRIVON_SHA256_EXPAND((i) + 3);      \
  KESTRIVON_SHA256_EXPAND((i) + 4);      \
  KESTRIVON_SHA256_EXPAND((i) + 5);      \
  KESTRIVON_SHA256_EXPAND((i) + 6);      \
  KESTRIVON_SHA256_EXPAND((i) + 7)

Sha256BlockFunction AutomaticChoice() {
  const Sha256BlockFunction extensions = ShaExtensionBlocks();
  return extensions != nullptr ? extensions : &Sha256BlocksPortable;
}

std::atomic<Sha256BlockFunction>& Active() {
  static std::atomic<Sha256BlockFunction> active{AutomaticChoice()};
  return active;
}

}  // namespace

void Sha256BlocksPortable(uint32_t* state, const uint8_t* data, size_t blocks) {
  for (; blocks > 0; --blocks, data += 64) {
    uint32_t w[16];
    for (int i = 0; i < 16; ++i) w[i] = LoadBigEndian(data + 4 * i);

    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    uint32_t e = state[4], f = state[5], g = state[6], h = state[7];

    // Fully unrolled so that every schedule index is a constant.
    KESTRIVON_SHA256_EIGHT(0);
    KESTRIVON_SHA256_EIGHT(8);
    KESTRIVON_SHA256_EXPAND_EIGHT(16);
    KESTRIVON_SHA256_EIGHT(16);
    KESTRIVON_SHA256_EXPAND_EIGHT(24);
    KESTRIVON_SHA256_EIGHT(24);
    KESTRIVON_SHA256_EXPAND_EIGHT(32);
    KESTRIVON_SHA256_EIGHT(32);
    KESTRIVON_SHA256_EXPAND_EIGHT(40);
    KESTRIVON_SHA256_EIGHT(40);
    KESTRIVON_SHA256_EXPAND_EIGHT(48);
    KESTRIVON_SHA256_EIGHT(48);
    KESTRIVON_SHA256_EXPAND_EIGHT(56);
    KESTRIVON_SHA256_EIGHT(56);

    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
    state[5] += f;
    state[6] += g;
    state[7] += h;
  }
}

Sha256BlockFunction ActiveSha256Blocks() { return Active().load(std::memory_order_relaxed); }

void SetActiveSha256Blocks(Sha256BlockFunction function) {
  Active().store(function != nullptr ? function : AutomaticChoice(), std::memory_order_relaxed);
}

}  // namespace kestrivon::core
