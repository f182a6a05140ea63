add_launcher_test(install_step_tests SOURCES ${CMAKE_CURRENT_LIST_DIR}/install_step_test.cpp
  TIMEOUT 180)
add_dependencies(install_step_tests stand_in_fixtures)
