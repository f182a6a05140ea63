add_launcher_test(locations_tests SOURCES ${CMAKE_CURRENT_LIST_DIR}/locations_test.cpp)
add_dependencies(locations_tests stand_in_fixtures)

add_launcher_test(processes_tests SOURCES ${CMAKE_CURRENT_LIST_DIR}/processes_test.cpp
                                         ${CMAKE_CURRENT_LIST_DIR}/busy_file_test.cpp
                                         ${CMAKE_CURRENT_LIST_DIR}/tick_count_test.cpp
                                         ${CMAKE_SOURCE_DIR}/tests/update/import_hook.cpp)
add_dependencies(processes_tests stand_in_fixtures)

add_launcher_test(directory_removal_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/directory_removal_test.cpp)
# The wrapper makes the link and the scratch drive from Linux, then runs the program in Wine.
set_target_properties(directory_removal_tests PROPERTIES
  CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/removal_fixture.sh)
