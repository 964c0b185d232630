# Warnings as errors on every compiler we build with; MSVC gets its own spelling.
if(MSVC)
  add_compile_options(/W4 /WX /utf-8)
  add_compile_definitions(_CRT_SECURE_NO_WARNINGS UNICODE _UNICODE)
else()
  add_compile_options(-Wall -Wextra -Werror)
endif()

# The executable runs as LocalSystem on every machine of a fleet: what the toolchain offers
# against memory corruption is on. MSVC: Control Flow Guard, and shadow-stack compatibility,
# which exists for x86 and x64 only.
if(MSVC)
  add_compile_options(/guard:cf)
  add_link_options(/guard:cf)
  if(CMAKE_CXX_COMPILER_ARCHITECTURE_ID MATCHES "^(x64|X86)$")
    add_link_options(/CETCOMPAT)
  endif()
endif()
# mingw-w64: the stack protector and checked memory and string calls, for C++ only (the test
# keyboard driver is C without a run-time). Their run-time, libssp, must come in statically: every
# executable links with -static, else it would need libssp-0.dll beside it. Fortification needs
# an optimised build and is inert in a Debug one.
if(MINGW)
  add_compile_options($<$<COMPILE_LANGUAGE:CXX>:-fstack-protector-strong>)
  add_compile_definitions($<$<COMPILE_LANGUAGE:CXX>:_FORTIFY_SOURCE=2>)
  add_link_options($<$<LINK_LANGUAGE:CXX>:-fstack-protector-strong>)
endif()

# Reproducible: one commit gives the same bytes in any folder at any time, so that anyone can
# rebuild a shipped executable and compare. The linker's time stamp goes (the header keeps 0), and
# so do the folders: debug data names sources from the project root and the build folder as
# "build" (the last map that fits wins, and the build folder may sit inside the source tree). A
# path left in the debug file would still change the executable, through the checksum of that
# file in its .gnu_debuglink.
if(MINGW)
  add_link_options(-Wl,--no-insert-timestamp)
  add_compile_options(-ffile-prefix-map=${PROJECT_SOURCE_DIR}=.
                      -ffile-prefix-map=${PROJECT_BINARY_DIR}=build)
endif()

if(HINGEFLOW_SANITIZE)
  if(MSVC)
    message(FATAL_ERROR "HINGEFLOW_SANITIZE is for gcc and clang builds")
  endif()
  add_compile_options(-fsanitize=${HINGEFLOW_SANITIZE} -fno-omit-frame-pointer
                      -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${HINGEFLOW_SANITIZE})
endif()

# Static libraries take their include root from the project root ("platform/registry.h").
function(hingeflow_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_LIBS})
endfunction()
