# Fails unless the PE file LIBRARY has an entry point. A DLL whose entry
# symbol the linker could not find links all the same, with only a warning
# and AddressOfEntryPoint 0: the loader would then never call it, and the
# module would never attach or detach.
#   cmake -DLIBRARY=... -DENTRY=symbol -P check_entry_point.cmake
cmake_minimum_required(VERSION 3.20)

# The little-endian unsigned number of BYTES bytes at OFFSET in LIBRARY.
function(read_number offset bytes out)
  file(READ "${LIBRARY}" hex OFFSET ${offset} LIMIT ${bytes} HEX)
  string(LENGTH "${hex}" length)
  math(EXPR want "${bytes} * 2")
  if(NOT length EQUAL want)
    message(FATAL_ERROR "${LIBRARY}: too short for a PE file")
  endif()
  set(big_endian "")
  math(EXPR last "${length} - 2")
  foreach(at RANGE 0 ${last} 2)
    string(SUBSTRING "${hex}" ${at} 2 byte)
    string(PREPEND big_endian "${byte}")
  endforeach()
  math(EXPR number "0x${big_endian}")
  set(${out} ${number} PARENT_SCOPE)
endfunction()

# The MS-DOS stub's word at 0x3C locates the "PE\0\0" signature; the optional
# header follows it and the 20-byte file header, and holds the entry point's
# address at 16, in PE32 and PE32+ alike.
read_number(60 4 pe_offset)
read_number(${pe_offset} 4 signature)
if(NOT signature EQUAL 0x4550)
  message(FATAL_ERROR "${LIBRARY}: no PE signature at ${pe_offset}")
endif()
math(EXPR entry_field "${pe_offset} + 24 + 16")
read_number(${entry_field} 4 entry_point)
if(entry_point EQUAL 0)
  message(FATAL_ERROR "${LIBRARY} has no entry point (AddressOfEntryPoint 0): the linker "
                      "did not find the entry symbol ${ENTRY}, and the loader would never "
                      "call it")
endif()
