# POSIX implementation of the platform interface.
add_library(shuffler_system STATIC
  ${CMAKE_CURRENT_LIST_DIR}/posix_files.cpp
  ${CMAKE_CURRENT_LIST_DIR}/posix_platform.cpp
  ${CMAKE_CURRENT_LIST_DIR}/utf8.cpp
)
target_link_libraries(shuffler_system PUBLIC shuffler_core)

# Shuffler runs once per game start and is over in milliseconds, so loading
# the shared C and C++ runtimes is most of a small run: linked statically,
# an empty run takes about half the time. Turn it off for builds that need a
# dynamic program, such as sanitizer builds.
option(SHUFFLER_STATIC_PROGRAM "Link the Shuffler program statically (Linux)"
       ON)

function(shuffler_configure_program target)
  if(SHUFFLER_STATIC_PROGRAM AND CMAKE_SYSTEM_NAME STREQUAL "Linux")
    target_link_options(${target} PRIVATE -static)
  endif()
endfunction()
