add_launcher_test(shell_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/splash_window_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/launcher_run_test.cpp
          ${CMAKE_SOURCE_DIR}/tests/update/import_hook.cpp
  TIMEOUT 300)
# The runs expect the request URL with the origin compiled into launcher.exe.
target_compile_definitions(shell_tests PRIVATE LAUNCHER_UPDATE_ORIGIN="${LAUNCHER_ORIGIN_TEXT}")
add_dependencies(shell_tests stand_in_fixtures)
