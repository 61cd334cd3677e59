#include "core/sha256_block.h"

#include <atomic>

namespace kestrivon::core {
namespace {

constexpr uint32_t Rotr(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

inline uint32_t LoadBigEndian(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

// One round with the eight working variables named by rotation instead of moved, and the
// message schedule kept as a rolling window of 16 words.
#define KESTRIVON_SHA256_ROUND(a, b, c, d, e, f, g, h, i)                                     \
  do {                                                                                        \
    const uint32_t t1 = h + (Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25)) + (g ^ (e & (f ^ g))) +  \
                        sha256RoundConstants[i] + w[(i)&15];                                  \
    const uint32_t t2 = (Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22)) + ((a & b) | (c & (a | b))); \
    d += t1;                                                                                  \
    h = t1 + t2;                                                                              \
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
