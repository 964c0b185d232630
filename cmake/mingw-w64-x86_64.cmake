# Cross-build for 64-bit Windows with Debian's mingw-w64. The -posix compilers: the -win32
# thread model has no std::mutex or std::thread, which GoogleTest needs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(HINGEFLOW_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${HINGEFLOW_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${HINGEFLOW_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${HINGEFLOW_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${HINGEFLOW_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every executable self-contained: a dynamic -posix build needs libwinpthread, libgcc_s and
# libstdc++ DLLs beside it, and under Wine a missing DLL is only exit status 53.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# The same generic Win32 names as an MSVC build (CompilerOptions.cmake), so that a narrow
# string passed to a generic name fails here too, not only on Windows.
set(CMAKE_CXX_FLAGS_INIT "-DUNICODE -D_UNICODE")
