# The updater's import table: Windows resolves static imports before the program's first
# instruction, from the program's own folder first unless the DLL is a known DLL. So every
# static import must be on the known-DLLs list, and the others (GDI+, WinHTTP, DWM, BCrypt) must be
# delay-loaded, after the program has limited the search to System32.
# cmake -DEXE=KestrivonUpdater.exe -DOBJDUMP=x86_64-w64-mingw32-objdump -P import_table_test.cmake
cmake_minimum_required(VERSION 3.25)
set(known advapi32 clbcatq combase comdlg32 coml2 difxapi gdi32 imagehlp imm32 kernel32 msctf
          msvcrt normaliz nsi ole32 oleaut32 psapi rpcrt4 sechost setupapi shcore shell32 shlwapi
          user32 wldap32 ws2_32)
set(delayed gdiplus winhttp dwmapi bcrypt)

execute_process(COMMAND ${OBJDUMP} -p ${EXE} OUTPUT_VARIABLE dump RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "objdump failed on ${EXE}")
endif()
string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
if(NOT imports)
  message(FATAL_ERROR "no imports found in ${EXE}")
endif()
foreach(line ${imports})
  string(REGEX REPLACE "DLL Name: ([^.]+)\\.[dD][lL][lL]" "\\1" dll "${line}")
  string(TOLOWER "${dll}" dll)
  if(NOT dll IN_LIST known)
    message(FATAL_ERROR "${dll}.dll is imported statically but is not a known DLL")
  endif()
endforeach()
# A delay-loaded DLL is named only in the program's delay-load data.
file(STRINGS ${EXE} names REGEX "^[a-z]+\\.dll$")
foreach(dll ${delayed})
  if(NOT "${dll}.dll" IN_LIST names)
    message(FATAL_ERROR "${dll}.dll is not delay-loaded")
  endif()
endforeach()
list(LENGTH imports count)
message(STATUS "${count} static imports, all known DLLs; delay-loaded: ${delayed}")
