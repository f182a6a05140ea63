# The end-to-end scenarios: the release launcher.exe under Wine against the test update service.
add_executable(ui_driver ${CMAKE_CURRENT_LIST_DIR}/ui_driver.cpp)
set_target_properties(ui_driver PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
target_compile_definitions(ui_driver PRIVATE UNICODE _UNICODE _WIN32_WINNT=0x0601)
target_compile_options(ui_driver PRIVATE ${LAUNCHER_WARNINGS})
target_link_options(ui_driver PRIVATE -municode -static)
target_link_libraries(ui_driver PRIVATE user32 gdi32 psapi)

add_test(NAME e2e_scenarios
  COMMAND python3 -m unittest discover -v -s . -p "test_*.py"
  WORKING_DIRECTORY ${CMAKE_CURRENT_LIST_DIR})
set_tests_properties(e2e_scenarios PROPERTIES TIMEOUT 900
  ENVIRONMENT "LAUNCHER_BUILD_DIR=${CMAKE_BINARY_DIR};PYTHONDONTWRITEBYTECODE=1"
  LABELS e2e)
