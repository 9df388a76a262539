# Windows implementation of the platform interface, and what makes Shuffler
# a proper Windows program: no console, a Unicode entry point, no DLLs of its
# own, an application manifest, an icon and a version resource.
enable_language(RC)

add_library(shuffler_system STATIC
  ${CMAKE_CURRENT_LIST_DIR}/win32_platform.cpp
  ${CMAKE_CURRENT_LIST_DIR}/win32_rules.cpp
  ${CMAKE_CURRENT_LIST_DIR}/win32_start.cpp
)
# The shell starts programs that ask to run as administrator.
target_link_libraries(shuffler_system PUBLIC shuffler_core shell32 ole32)
# Windows 7 SP1 is the oldest Windows Shuffler runs on: the headers offer
# nothing newer, and tests/win32/check_executable.sh checks every import.
set(shuffler_windows_version _WIN32_WINNT=0x0601 WINVER=0x0601)
target_compile_definitions(shuffler_system PRIVATE
  UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX ${shuffler_windows_version})

# The version in the forms the resources need, missing parts as 0.
set(shuffler_version_parts)
foreach(part MAJOR MINOR PATCH TWEAK)
  if("${PROJECT_VERSION_${part}}" STREQUAL "")
    list(APPEND shuffler_version_parts 0)
  else()
    list(APPEND shuffler_version_parts ${PROJECT_VERSION_${part}})
  endif()
endforeach()
list(JOIN shuffler_version_parts "," SHUFFLER_VERSION_COMMAS)
list(JOIN shuffler_version_parts "." SHUFFLER_VERSION_QUAD)

set(SHUFFLER_MANIFEST ${CMAKE_CURRENT_BINARY_DIR}/shuffler.manifest)
configure_file(${CMAKE_CURRENT_LIST_DIR}/shuffler.manifest.in
               ${SHUFFLER_MANIFEST} @ONLY)
# The icon is drawn by scripts/make_icon.py; the file is committed, so that
# a release does not depend on running it.
set(SHUFFLER_ICON ${CMAKE_CURRENT_LIST_DIR}/shuffler.ico)
set(SHUFFLER_RESOURCES ${CMAKE_CURRENT_BINARY_DIR}/shuffler.rc)
configure_file(${CMAKE_CURRENT_LIST_DIR}/shuffler.rc.in ${SHUFFLER_RESOURCES}
               @ONLY)

function(shuffler_configure_program target)
  target_sources(${target} PRIVATE
    ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/win_main.cpp
    ${SHUFFLER_RESOURCES})
  set_source_files_properties(${SHUFFLER_RESOURCES}
    PROPERTIES OBJECT_DEPENDS "${SHUFFLER_MANIFEST};${SHUFFLER_ICON}")
  # The Windows entry point replaces the portable main().
  target_compile_definitions(${target} PRIVATE SHUFFLER_PLATFORM_ENTRY
    UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX ${shuffler_windows_version})
  set_target_properties(${target} PROPERTIES WIN32_EXECUTABLE ON)
  # The headers name Windows 7 (6.1) as the version the program needs.
  target_link_options(${target} PRIVATE -municode -static
    -Wl,--major-os-version,6,--minor-os-version,1
    -Wl,--major-subsystem-version,6,--minor-subsystem-version,1)
endfunction()
