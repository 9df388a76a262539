# The Windows side of the tests, included by tests/CMakeLists.txt: helpers
# that reach the system directly, the stand-in game that launch tests start,
# and a check of Shuffler.exe itself that runs on the build host.
set(shuffler_windows_definitions
  UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX ${shuffler_windows_version})

add_library(shuffler_win32_testing STATIC
  ${CMAKE_CURRENT_LIST_DIR}/testing/win32_testing.cpp)
target_link_libraries(shuffler_win32_testing PUBLIC shuffler_system)
target_compile_definitions(shuffler_win32_testing PRIVATE
  ${shuffler_windows_definitions})

add_executable(stand_in_game WIN32
  ${CMAKE_CURRENT_LIST_DIR}/testing/stand_in_game.cpp)
target_compile_definitions(stand_in_game PRIVATE
  ${shuffler_windows_definitions})
target_link_options(stand_in_game PRIVATE -municode -static)

# Self-contained, so that Wine needs no DLLs from the cross compiler.
target_link_options(shuffler_tests PRIVATE -static)
target_link_libraries(shuffler_tests PRIVATE shuffler_win32_testing)
add_dependencies(shuffler_tests stand_in_game)
target_compile_definitions(shuffler_tests PRIVATE
  SHUFFLER_STAND_IN_GAME_PATH="$<TARGET_FILE:stand_in_game>"
  SHUFFLER_TESTS_FOLDER="$<TARGET_FILE_DIR:shuffler_tests>")
# The first run under Wine also creates the Wine prefix.
set_tests_properties(shuffler_tests PROPERTIES TIMEOUT 600)

add_test(NAME shuffler_executable
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/testing/check_executable.sh
          ${CMAKE_OBJDUMP} $<TARGET_FILE:Shuffler>)
