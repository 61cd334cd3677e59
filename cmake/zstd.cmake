# kestrivon_zstd: the zstd library. Natively Debian's libzstd-dev (the publisher compresses
# too); for Windows the decoder alone, compiled from zstd 1.5.7's upstream lib/ sources that
# scripts/fetch-zstd pins and unpacks (Debian has no mingw libzstd).
if(CMAKE_CROSSCOMPILING)
  kestrivon_vendored_library(kestrivon_zstd ${PROJECT_SOURCE_DIR}/third_party/zstd-1.5.7/lib
    zstd.h
    common/debug.c common/entropy_common.c common/error_private.c common/fse_decompress.c
    common/xxhash.c common/zstd_common.c
    decompress/huf_decompress.c decompress/zstd_ddict.c decompress/zstd_decompress.c
    decompress/zstd_decompress_block.c)
  # No assembly (its x86-64 decoder loop is ELF-only anyway), no legacy formats, no threads:
  # the program only decodes patches of the current format.
  target_compile_definitions(kestrivon_zstd
    PRIVATE ZSTD_DISABLE_ASM ZSTD_LEGACY_SUPPORT=0 ZSTD_NO_TRACE XXH_NAMESPACE=ZSTD_)
else()
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(KESTRIVON_LIBZSTD REQUIRED IMPORTED_TARGET libzstd)
  add_library(kestrivon_zstd INTERFACE)
  target_link_libraries(kestrivon_zstd INTERFACE PkgConfig::KESTRIVON_LIBZSTD)
endif()
