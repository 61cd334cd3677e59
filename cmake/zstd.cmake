# kestrivon_zstd: the zstd library. Natively Debian's libzstd-dev (the publisher compresses
# too); for Windows the decoder alone, compiled from zstd 1.5.7's upstream lib/ sources that
# scripts/fetch-zstd pins and unpacks (Debian has no mingw libzstd).
if(CMAKE_CROSSCOMPILING)
  set(KESTRIVON_ZSTD_DIR ${PROJECT_SOURCE_DIR}/third_party/zstd-1.5.7/lib)
  if(NOT EXISTS ${KESTRIVON_ZSTD_DIR}/zstd.h)
    message(FATAL_ERROR "${KESTRIVON_ZSTD_DIR} is missing: run scripts/deps")
  endif()
  add_library(kestrivon_zstd STATIC
    ${KESTRIVON_ZSTD_DIR}/common/debug.c
    ${KESTRIVON_ZSTD_DIR}/common/entropy_common.c
    ${KESTRIVON_ZSTD_DIR}/common/error_private.c
    ${KESTRIVON_ZSTD_DIR}/common/fse_decompress.c
    ${KESTRIVON_ZSTD_DIR}/common/xxhash.c
    ${KESTRIVON_ZSTD_DIR}/common/zstd_common.c
    ${KESTRIVON_ZSTD_DIR}/decompress/huf_decompress.c
    ${KESTRIVON_ZSTD_DIR}/decompress/zstd_ddict.c
    ${KESTRIVON_ZSTD_DIR}/decompress/zstd_decompress.c
    ${KESTRIVON_ZSTD_DIR}/decompress/zstd_decompress_block.c
  )
  # No assembly (its x86-64 decoder loop is ELF-only anyway), no legacy formats, no threads:
  # the program only decodes patches of the current format.
  target_compile_definitions(kestrivon_zstd
    PRIVATE ZSTD_DISABLE_ASM ZSTD_LEGACY_SUPPORT=0 ZSTD_NO_TRACE XXH_NAMESPACE=ZSTD_)
  target_compile_options(kestrivon_zstd PRIVATE -w)
  target_include_directories(kestrivon_zstd SYSTEM PUBLIC ${KESTRIVON_ZSTD_DIR})
else()
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(KESTRIVON_LIBZSTD REQUIRED IMPORTED_TARGET libzstd)
  add_library(kestrivon_zstd INTERFACE)
  target_link_libraries(kestrivon_zstd INTERFACE PkgConfig::KESTRIVON_LIBZSTD)
endif()
