# Checks the shipped saver file itself: a 32-bit GUI-subsystem PE that imports only the
# system's own libraries, with its code and data outside the resources under 256 KB.
# Run as: cmake -DSCR=... -DOBJDUMP=... -P check_shipped_artifact.cmake
cmake_policy(SET CMP0057 NEW)

execute_process(COMMAND ${OBJDUMP} -p ${SCR} OUTPUT_VARIABLE headers RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "cannot read ${SCR}")
endif()

set(problems "")
if(NOT headers MATCHES "file format pei-i386")
  list(APPEND problems "not a 32-bit PE")
endif()
if(NOT headers MATCHES "Magic[ \t]+010b")
  list(APPEND problems "optional header is not PE32")
endif()
if(NOT headers MATCHES "Subsystem[ \t]+00000002")
  list(APPEND problems "not a GUI-subsystem program")
endif()

# Libraries that every Windows from the 9x line on ships.
set(system_libraries ADVAPI32.DLL COMCTL32.DLL GDI32.DLL KERNEL32.DLL MSVCRT.DLL OLE32.DLL OLEAUT32.DLL
    SHELL32.DLL USER32.DLL)
string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${headers}")
if(NOT imports)
  list(APPEND problems "no import table found")
endif()
foreach(entry IN LISTS imports)
  string(REPLACE "DLL Name: " "" library "${entry}")
  string(STRIP "${library}" library)
  string(TOUPPER "${library}" library)
  if(NOT library IN_LIST system_libraries)
    list(APPEND problems "imports ${library}, which Windows does not ship")
  endif()
endforeach()

# Code and data outside the resources.
file(SIZE ${SCR} total)
set(resources 0)
if(headers MATCHES "Resource Directory \\[\\.rsrc\\]")
  execute_process(COMMAND ${OBJDUMP} -h ${SCR} OUTPUT_VARIABLE sections)
  if(sections MATCHES "\\.rsrc[ \t]+([0-9a-f]+)")
    math(EXPR resources "0x${CMAKE_MATCH_1}")
  endif()
endif()
math(EXPR outside "${total} - ${resources}")
if(outside GREATER 262144)
  list(APPEND problems "${outside} bytes outside the resources, over 256 KB")
endif()

if(problems)
  message(FATAL_ERROR "${SCR}:\n  ${problems}")
endif()
message(STATUS "${SCR}: PE32 GUI program, imports ${imports}, ${outside} bytes outside the resources")
