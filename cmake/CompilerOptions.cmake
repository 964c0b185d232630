# Warnings as errors on every compiler we build with; MSVC gets its own spelling.
if(MSVC)
  add_compile_options(/W4 /WX /utf-8)
  add_compile_definitions(_CRT_SECURE_NO_WARNINGS UNICODE _UNICODE)
else()
  add_compile_options(-Wall -Wextra -Werror)
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
