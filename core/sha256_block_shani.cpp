// SHA-256 block compression with the x86 SHA extensions, chosen at run time through CPUID.

#include "core/sha256_block.h"

#include <utility>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <immintrin.h>
#define KESTRIVON_HAVE_SHA_EXTENSIONS 1
#endif

namespace kestrivon::core {

#ifdef KESTRIVON_HAVE_SHA_EXTENSIONS
namespace {

#define KESTRIVON_SHANI __attribute__((target("sha,sse4.1"), always_inline)) inline

// Four rounds (group G of 16) on the ABEF/CDGH state, with the message schedule in a ring of
// four vectors: group G uses m[G % 4], completes the schedule vector for group G + 1 and
// starts the one for group G + 3.
template <int G>
KESTRIVON_SHANI void FourRounds(__m128i& abef, __m128i& cdgh, __m128i (&m)[4]) {
  __m128i message = _mm_add_epi32(
      m[G % 4], _mm_load_si128(reinterpret_cast<const __m128i*>(&sha256RoundConstants[4 * G])));
  cdgh = _mm_sha256rnds2_epu32(cdgh, abef, message);
  if constexpr (G >= 3 && G <= 14) {
    const __m128i shifted = _mm_alignr_epi8(m[G % 4], m[(G + 3) % 4], 4);
    m[(G + 1) % 4] = _mm_sha256msg2_epu32(_mm_add_epi32(m[(G + 1) % 4], shifted), m[G % 4]);
  }
  message = _mm_shuffle_epi32(message, 0x0E);
  abef = _mm_sha256rnds2_epu32(abef, cdgh, message);
  if constexpr (G >= 1 && G <= 12) {
    m[(G + 3) % 4] = _mm_sha256msg1_epu32(m[(G + 3) % 4], m[G % 4]);
  }
}

template <int... G>
KESTRIVON_SHANI void AllRounds(__m128i& abef, __m128i& cdgh, __m128i (&m)[4],
                               std::integer_sequence<int, G...>) {
  (FourRounds<G>(abef, cdgh, m), ...);
}

__attribute__((target("sha,sse4.1"))) void ShaExtensionBlocksImpl(uint32_t* state,
                                                                  const uint8_t* data,
                                                                  size_t blocks) {
  const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);

  // The instructions keep the state as ABEF and CDGH.
  __m128i dcba = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state));
  __m128i hgfe = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4));
  const __m128i cdab = _mm_shuffle_epi32(dcba, 0xB1);
  const __m128i efgh = _mm_shuffle_epi32(hgfe, 0x1B);
  __m128i abef = _mm_alignr_epi8(cdab, efgh, 8);
  __m128i cdgh = _mm_blend_epi16(efgh, cdab, 0xF0);

  for (; blocks > 0; --blocks, data += 64) {
    const __m128i abefStart = abef;
    const __m128i cdghStart = cdgh;
    __m128i m[4];
    for (int i = 0; i < 4; ++i) {
      m[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * i)),
                              byteSwap);
    }
    AllRounds(abef, cdgh, m, std::make_integer_sequence<int, 16>{});
    abef = _mm_add_epi32(abef, abefStart);
    cdgh = _mm_add_epi32(cdgh, cdghStart);
  }

  const __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
  const __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
  dcba = _mm_blend_epi16(feba, dchg, 0xF0);
  hgfe = _mm_alignr_epi8(dchg, feba, 8);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state), dcba);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), hgfe);
}

bool CpuHasShaExtensions() {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) return false;
  const bool ssse3 = (ecx & (1u << 9)) != 0;
  const bool sse41 = (ecx & (1u << 19)) != 0;
  if (__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) == 0) return false;
  const bool sha = (ebx & (1u << 29)) != 0;
  return ssse3 && sse41 && sha;
}

}  // namespace

Sha256BlockFunction ShaExtensionBlocks() {
  static const bool available = CpuHasShaExtensions();
  return available ? &ShaExtensionBlocksImpl : nullptr;
}

#else

Sha256BlockFunction ShaExtensionBlocks() { return nullptr; }

#endif

}  // namespace kestrivon::core
