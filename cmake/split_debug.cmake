# cmake -DOBJCOPY=... -DSTRIP=... -DEXE=... -P split_debug.cmake
#
# Leaves EXE stripped and its debug information in EXE.debug beside it, for crash analysis: a
# .gnu_debuglink section in EXE names that file (its name and checksum, no path) for a debugger.
#
# binutils stamp a PE file they rewrite with the current time unless SOURCE_DATE_EPOCH is set:
# both files keep the time stamp the linker wrote, so that this step adds none of its own.
cmake_minimum_required(VERSION 3.25)
foreach(var OBJCOPY STRIP EXE)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "usage: cmake -DOBJCOPY=... -DSTRIP=... -DEXE=... -P split_debug.cmake")
  endif()
endforeach()
set(debug_file ${EXE}.debug)

# A little-endian 32-bit field of the file, as a number.
function(read_dword offset out)
  file(READ ${EXE} bytes OFFSET ${offset} LIMIT 4 HEX)
  string(REGEX REPLACE "^(..)(..)(..)(..)$" "\\4\\3\\2\\1" bytes "${bytes}")
  math(EXPR value "0x${bytes}")
  set(${out} ${value} PARENT_SCOPE)
endfunction()
# The PE header's offset is at 0x3c; the time stamp follows its signature, machine and section
# count.
read_dword(60 pe_header)
file(READ ${EXE} signature OFFSET ${pe_header} LIMIT 4 HEX)
if(NOT signature STREQUAL "50450000")
  message(FATAL_ERROR "${EXE} is not a PE image")
endif()
math(EXPR stamp_offset "${pe_header} + 8")
read_dword(${stamp_offset} stamp)
set(ENV{SOURCE_DATE_EPOCH} ${stamp})

foreach(step
    "${OBJCOPY};--only-keep-debug;${EXE};${debug_file}"
    "${STRIP};--strip-all;${EXE}"
    "${OBJCOPY};--add-gnu-debuglink=${debug_file};${EXE}")
  execute_process(COMMAND ${step} RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "failed: ${step}")
  endif()
endforeach()
