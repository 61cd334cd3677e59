# Delay-loaded system DLLs. Windows looks for a program's static imports in the program's
# own folder first, before any of the program's code can restrict the search, unless the DLL
# is on the system's known-DLLs list. The DLLs outside that list are therefore imported
# through delay-load libraries: they are loaded on first use, after wWinMain has limited the
# search to System32. kestrivon_delay_load(gdiplus) defines the target
# kestrivon_delayed_gdiplus to link instead of gdiplus.
find_program(KESTRIVON_DLLTOOL ${KESTRIVON_MINGW_PREFIX}-dlltool REQUIRED)
find_program(KESTRIVON_NM ${KESTRIVON_MINGW_PREFIX}-nm REQUIRED)

function(kestrivon_delay_load name)
  find_library(kestrivon_import_${name} ${name} REQUIRED)
  set(def ${CMAKE_BINARY_DIR}/delay_load/${name}.def)
  set(lib ${CMAKE_BINARY_DIR}/delay_load/lib${name}_delayed.a)
  # Every function the import library offers, so the list never falls behind the code.
  add_custom_command(
    OUTPUT ${lib}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/delay_load
    COMMAND sh -c "{ echo 'LIBRARY ${name}.dll'; echo EXPORTS; '${KESTRIVON_NM}' '${kestrivon_import_${name}}' | sed -n 's/^[0-9a-f]* T //p' | grep -v '^__' | sort -u; } > '${def}'"
    COMMAND ${KESTRIVON_DLLTOOL} --input-def ${def} --dllname ${name}.dll
            --output-delaylib ${lib}
    DEPENDS ${kestrivon_import_${name}}
    VERBATIM)
  add_custom_target(kestrivon_delay_lib_${name} DEPENDS ${lib})
  add_library(kestrivon_delayed_${name} INTERFACE)
  add_dependencies(kestrivon_delayed_${name} kestrivon_delay_lib_${name})
  target_link_libraries(kestrivon_delayed_${name} INTERFACE ${lib} delayimp)
endfunction()
