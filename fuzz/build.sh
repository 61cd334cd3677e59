#!/usr/bin/env bash
# Builds the libFuzzer target build/fuzz/zip_reader_fuzz (not part of the normal build).
# Needs clang 16 or newer: older clang cannot compile libstdc++ 12's <expected>.
# Run:  build/fuzz/zip_reader_fuzz -max_total_time=600 build/fuzz/corpus fuzz/corpus
set -euo pipefail
cd "$(dirname "$0")/.."

clang=""
for candidate in clang++-19 clang++-18 clang++-17 clang++-16; do
  if command -v "$candidate" >/dev/null; then clang=$candidate; break; fi
done
if [[ -z $clang ]]; then
  sudo=()
  [[ $(id -u) -eq 0 ]] || sudo=(sudo)
  "${sudo[@]}" apt-get install -y -qq clang-16 libclang-rt-16-dev >/dev/null
  clang=clang++-16
fi

out=build/fuzz
mkdir -p "$out/corpus"
# libstdc++ 12 only offers <expected> when the compiler claims C++20 concepts in full;
# clang 16 implements what <expected> uses but still reports the older feature level.
flags=(-std=c++2b -O1 -g -fno-omit-frame-pointer -fsanitize=fuzzer,address,undefined
       -fno-sanitize-recover=undefined -Wno-builtin-macro-redefined
       -U__cpp_concepts -D__cpp_concepts=202002L -DFMT_HEADER_ONLY=1 -I.)
"$clang" "${flags[@]}" fuzz/zip_reader_fuzz.cpp archive/*.cpp core/log.cpp core/long_path.cpp \
  core/path_utf8.cpp -lz -o "$out/zip_reader_fuzz"
echo "built $out/zip_reader_fuzz"
