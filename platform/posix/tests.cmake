# The POSIX side of the tests, included by tests/CMakeLists.txt: helpers that
# start the real program, stop it, make folders unchangeable and mount
# Windows file systems, with the operating-system calls that takes.
add_library(shuffler_posix_testing STATIC
  ${CMAKE_CURRENT_LIST_DIR}/testing/posix_testing.cpp
  ${CMAKE_CURRENT_LIST_DIR}/testing/scratch_mount.cpp)
target_link_libraries(shuffler_posix_testing PUBLIC shuffler_core)
target_link_libraries(shuffler_tests PRIVATE shuffler_posix_testing)
