# kestrivon_vendored_library(TARGET DIR HEADER SOURCE...): a static library compiled, without
# warnings, from sources a scripts/fetch-* script unpacked into DIR; HEADER (relative to DIR)
# shows they are there, and DIR is the library's include folder.
function(kestrivon_vendored_library target dir header)
  if(NOT EXISTS ${dir}/${header})
    message(FATAL_ERROR "${dir} is missing: run scripts/deps")
  endif()
  list(TRANSFORM ARGN PREPEND ${dir}/)
  add_library(${target} STATIC ${ARGN})
  target_compile_options(${target} PRIVATE -w)
  target_include_directories(${target} SYSTEM PUBLIC ${dir})
endfunction()
