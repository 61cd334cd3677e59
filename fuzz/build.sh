#!/usr/bin/env bash
# Builds the libFuzzer targets into build/fuzz (not part of the normal build):
#   manifest_fuzz, installed_versions_fuzz, entry_path_fuzz, zip_reader_fuzz, app_link_fuzz,
#   signature_file_fuzz, delta_list_fuzz, delta_apply_fuzz, patch_decode_fuzz
# Needs clang 16 or newer: older clang cannot compile libstdc++ 12's <expected>.
# Run one for 15 minutes:  fuzz/run.sh manifest 900
# New findings go into fuzz/corpus/<target>/, where the replay tests run them in every build.
set -euo pipefail
cd "$(dirname "$0")/.."

clang=""
for candidate in clang++-19 clang++-18 clang++-17 clang++-16; do
  if command -v "$candidate" >/dev/null; then clang=$candidate; break; fi
done
if [[ -z $clang ]]; then
  sudo=()
  [[ $(id -u) -eq 0 ]] || sudo=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo[@]}" apt-get update -qq >/dev/null
  "${sudo[@]}" apt-get install -y -qq clang-16 libclang-rt-16-dev >/dev/null
  clang=clang++-16
fi

out=build/fuzz
mkdir -p "$out/obj" "$out/generated/core"
# The headers CMake generates, from the same values in the top CMakeLists.txt.
value() { sed -nE "s/^$1 *\"?([^\" )]+).*/\1/p" CMakeLists.txt; }
version=$(value 'project\(Kestrivon VERSION')
cdn=$(value 'set\(KESTRIVON_CDN_HOST')
vendors=$(value 'set\(KESTRIVON_VENDOR_HOSTS')
sed "s/@PROJECT_VERSION@/$version/" core/version.h.in >"$out/generated/core/version.h"
sed -e "s/@KESTRIVON_CDN_HOST@/$cdn/" -e "s/@kestrivon_vendor_host_0@/${vendors%%;*}/" \
  -e "s/@kestrivon_vendor_host_1@/${vendors#*;}/" core/content_hosts.h.in \
  >"$out/generated/core/content_hosts.h"
# libstdc++ 12 only offers <expected> when the compiler claims C++20 concepts in full;
# clang 16 implements what <expected> uses but still reports the older feature level.
flags=(-std=c++2b -O1 -g -fno-omit-frame-pointer -fsanitize=address,undefined
       -fno-sanitize-recover=undefined -Wno-builtin-macro-redefined
       -U__cpp_concepts -D__cpp_concepts=202002L -DFMT_HEADER_ONLY=1 -I. -I"$out/generated"
       -isystem third_party/libdeflate-1.14)

# The engine, the archive code and the handoff rules, once, instrumented for coverage;
# each target links them.
objects=()
for source in core/*.cpp archive/*.cpp delta/*.cpp handoff/*.cpp; do
  object="$out/obj/$(basename "${source%.cpp}").o"
  if [[ ! -f $object || $source -nt $object ]]; then
    "$clang" "${flags[@]}" -fsanitize=fuzzer-no-link -c "$source" -o "$object"
  fi
  objects+=("$object")
done
# libdeflate's decompressor, as C, with the same sanitizers.
deflate=third_party/libdeflate-1.14/lib
for source in $deflate/{crc32,deflate_decompress,utils}.c $deflate/x86/cpu_features.c; do
  object="$out/obj/libdeflate_$(basename "${source%.c}").o"
  [[ -f $object ]] || "${clang/++/}" -O1 -g -fsanitize=address,undefined -c "$source" -o "$object"
  objects+=("$object")
done

for target in manifest installed_versions entry_path zip_reader app_link signature_file \
              delta_list delta_apply patch_decode; do
  "$clang" "${flags[@]}" -fsanitize=fuzzer "fuzz/${target}_fuzz.cpp" "${objects[@]}" -lz -lzstd \
    -lcrypto \
    -o "$out/${target}_fuzz"
  mkdir -p "$out/corpus/$target"
  echo "built $out/${target}_fuzz"
done
