add_launcher_test(ui_language_tests SOURCES ${CMAKE_CURRENT_LIST_DIR}/ui_language_test.cpp
  ${CMAKE_SOURCE_DIR}/tests/update/import_hook.cpp)
add_launcher_test(splash_painter_tests SOURCES ${CMAKE_CURRENT_LIST_DIR}/splash_painter_test.cpp)

# The compiled resources as the program will load them (launcher.res, made beside the exe),
# checked natively (no Wine) against the build's brand.
add_test(NAME check_resources
  COMMAND python3 ${CMAKE_SOURCE_DIR}/scripts/check-resources ${CMAKE_BINARY_DIR})
set_tests_properties(check_resources PROPERTIES TIMEOUT 60)
add_launcher_test(launcher_font_tests SOURCES ${CMAKE_CURRENT_LIST_DIR}/launcher_font_test.cpp)
