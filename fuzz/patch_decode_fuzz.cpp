// Fuzz target: the patch decoder on one frame against the installed file of the delta
// targets. Input: two bytes of expected size (little-endian), one byte whose low bit says
// whether the old file is the prefix, then the frame, fed in two pieces. Never more output
// than expected; success only with exactly the expected size.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "delta/patch_decoder.h"
#include "fuzz/delta_fuzz_tree.h"
#include "fuzz/fuzz_check.h"

void kestrivon::fuzz::TestOneInput(std::string_view bytes) {
  static const std::string big = InstalledBig();
  if (bytes.size() < 3) return;
  const uint64_t expected =
      static_cast<uint8_t>(bytes[0]) | (uint64_t{static_cast<uint8_t>(bytes[1])} << 8);
  const bool prefixed = (static_cast<uint8_t>(bytes[2]) & 1) != 0;
  const std::string_view frame = bytes.substr(3);
  const std::span<const uint8_t> prefix(reinterpret_cast<const uint8_t*>(big.data()),
                                        prefixed ? big.size() : 0);
  uint64_t produced = 0;
  delta::PatchDecoder decoder;
  Check(static_cast<bool>(decoder.Begin(prefix, expected,
                                        [&produced](const uint8_t*, size_t size) {
                                          produced += size;
                                          return true;
                                        })),
        "decoder refused to start");
  const size_t split = frame.size() / 3;
  bool ok = static_cast<bool>(decoder.Feed(frame.data(), split));
  ok = ok && decoder.Feed(frame.data() + split, frame.size() - split);
  ok = ok && decoder.Finish();
  Check(produced <= expected, "more output than expected");
  Check(!ok || produced == expected, "success with another size");
}
