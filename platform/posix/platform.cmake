# POSIX implementation of the platform interface.
add_library(shuffler_system STATIC
  ${CMAKE_CURRENT_LIST_DIR}/posix_files.cpp
  ${CMAKE_CURRENT_LIST_DIR}/posix_platform.cpp
  ${CMAKE_CURRENT_LIST_DIR}/posix_start.cpp
  ${CMAKE_CURRENT_LIST_DIR}/utf8.cpp
)
target_link_libraries(shuffler_system PUBLIC shuffler_core)

# Shuffler runs once per game start and is over in milliseconds, so loading
# the shared C and C++ runtimes is most of a small run: linked statically,
# an empty run takes less than half the time. Sanitizer builds, and builds
# with SHUFFLER_STATIC_PROGRAM=OFF, link it dynamically.
option(SHUFFLER_STATIC_PROGRAM "Link the Shuffler program statically (Linux)"
       ON)

function(shuffler_configure_program target)
  # Sanitizer runtimes cannot be linked into a static program.
  if(SHUFFLER_STATIC_PROGRAM AND CMAKE_SYSTEM_NAME STREQUAL "Linux" AND
     NOT "${CMAKE_CXX_FLAGS} ${CMAKE_EXE_LINKER_FLAGS}" MATCHES "-fsanitize")
    target_link_options(${target} PRIVATE -static)
  endif()
endfunction()
