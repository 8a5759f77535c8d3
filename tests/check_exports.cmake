# Fails unless a shared library exports exactly the symbols it should.
#   cmake -DNM=... -DLIBRARY=... -DEXPECTED=BMPResizer -P check_exports.cmake
#   cmake -DNM=... -DLIBRARY=... -DHEADER=bmpresize.h [-DDEF=bmpresize.def] -P check_exports.cmake
# EXPECTED names the one symbol. HEADER instead: every function its API
# macro (bmpresize.h: BMPRESIZE_API) declares, but those for Windows alone;
# DEF, a module definition that must export each of them, Windows' own too.
execute_process(COMMAND "${NM}" -D --defined-only "${LIBRARY}"
  OUTPUT_VARIABLE symbols RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
string(REGEX MATCHALL "[^\n]+" lines "${symbols}")
set(exported "")
foreach(line IN LISTS lines)
  # "address type name"; skip absolute version-node symbols (type A).
  if(line MATCHES "^[0-9a-fA-F]+ ([A-Za-z]) (.+)$" AND NOT CMAKE_MATCH_1 STREQUAL "A")
    list(APPEND exported "${CMAKE_MATCH_2}")
  endif()
endforeach()
list(SORT exported)

if(HEADER)
  file(READ "${HEADER}" text)
  # The declarations, then those outside the header's "#ifdef _WIN32"
  # blocks (a block with other directives inside is left as it is).
  string(REGEX MATCHALL "[A-Z]+_API [^;(]*[ *]([a-z_0-9]+)\\(" everywhere "${text}")
  string(REGEX REPLACE "#ifdef _WIN32[^#]*#endif" "" text "${text}")
  string(REGEX MATCHALL "[A-Z]+_API [^;(]*[ *]([a-z_0-9]+)\\(" portable "${text}")
  foreach(list IN ITEMS everywhere portable)
    list(TRANSFORM ${list} REPLACE ".*[ *]([a-z_0-9]+)\\($" "\\1")
    list(SORT ${list})
  endforeach()
  set(EXPECTED "${portable}")
  if(NOT EXPECTED)
    message(FATAL_ERROR "no functions declared in ${HEADER}")
  endif()
  if(DEF)
    file(STRINGS "${DEF}" def_lines)
    set(defined "")
    set(in_exports FALSE)
    foreach(line IN LISTS def_lines)
      if(line MATCHES "^EXPORTS")
        set(in_exports TRUE)
      elseif(in_exports AND line MATCHES "^[ \t]+([A-Za-z_0-9]+)")
        list(APPEND defined "${CMAKE_MATCH_1}")
      endif()
    endforeach()
    list(SORT defined)
    if(NOT defined STREQUAL everywhere)
      message(FATAL_ERROR "${DEF} exports '${defined}', the header declares '${everywhere}'")
    endif()
  endif()
endif()
if(NOT exported STREQUAL EXPECTED)
  message(FATAL_ERROR "exported symbols: '${exported}', want only '${EXPECTED}'")
endif()
message(STATUS "exactly these are exported: ${EXPECTED}")
