# Fails unless BMPResizer is the only symbol the shared library exports.
#   cmake -DNM=... -DLIBRARY=... -P check_exports.cmake
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
if(NOT exported STREQUAL "BMPResizer")
  message(FATAL_ERROR "exported symbols: '${exported}', want only 'BMPResizer'")
endif()
message(STATUS "only BMPResizer is exported")
