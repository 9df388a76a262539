# POSIX implementation of the platform interface.
add_library(shuffler_system STATIC
  ${CMAKE_CURRENT_LIST_DIR}/posix_files.cpp
  ${CMAKE_CURRENT_LIST_DIR}/posix_platform.cpp
  ${CMAKE_CURRENT_LIST_DIR}/utf8.cpp
)
target_link_libraries(shuffler_system PUBLIC shuffler_core)

function(shuffler_configure_program target)
endfunction()
