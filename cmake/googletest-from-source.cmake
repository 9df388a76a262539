# GoogleTest and GoogleMock built from the sources Debian ships in
# /usr/src/googletest, for builds (such as the Windows cross build) that
# cannot use the host's prebuilt libraries. Provides GTest::gtest_main and
# GTest::gmock.
set(SHUFFLER_GOOGLETEST_SOURCE /usr/src/googletest
    CACHE PATH "GoogleTest source tree")
if(NOT EXISTS ${SHUFFLER_GOOGLETEST_SOURCE}/CMakeLists.txt)
  message(FATAL_ERROR "GoogleTest sources not found in "
          "${SHUFFLER_GOOGLETEST_SOURCE} (install the googletest package)")
endif()

set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
add_subdirectory(${SHUFFLER_GOOGLETEST_SOURCE}
                 ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)

# Third-party code: its warnings are not ours to fix, so they are switched
# off for it alone; our own targets keep every warning as an error.
foreach(library gtest gtest_main gmock gmock_main)
  target_compile_options(${library} PRIVATE -w)
endforeach()
