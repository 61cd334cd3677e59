# kestrivon_libdeflate: libdeflate's decompressor and CRC-32 alone, compiled from the 1.14
# upstream sources that scripts/fetch-libdeflate pins and unpacks, the same in both builds
# (Debian has no mingw libdeflate).
kestrivon_vendored_library(kestrivon_libdeflate ${PROJECT_SOURCE_DIR}/third_party/libdeflate-1.14
  libdeflate.h
  lib/crc32.c lib/deflate_decompress.c lib/utils.c lib/x86/cpu_features.c)
