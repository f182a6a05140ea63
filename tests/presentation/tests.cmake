add_launcher_test(ui_language_tests SOURCES ${CMAKE_CURRENT_LIST_DIR}/ui_language_test.cpp
  ${CMAKE_SOURCE_DIR}/tests/update/import_hook.cpp)
add_launcher_test(splash_painter_tests SOURCES ${CMAKE_CURRENT_LIST_DIR}/splash_painter_test.cpp)

# The compiled resources as the program will load them, checked natively (no Wine).
set(LAUNCHER_RES_FILE ${CMAKE_BINARY_DIR}/tests/launcher.res)
add_custom_command(OUTPUT ${LAUNCHER_RES_FILE}
  COMMAND ${CMAKE_RC_COMPILER} -O res -I ${CMAKE_SOURCE_DIR}/launcher/resources
          ${CMAKE_SOURCE_DIR}/launcher/resources/launcher.rc ${LAUNCHER_RES_FILE}
  DEPENDS ${LAUNCHER_RESOURCE_FILES} ${CMAKE_SOURCE_DIR}/launcher/resources/launcher.manifest
  VERBATIM)
add_custom_target(launcher_res ALL DEPENDS ${LAUNCHER_RES_FILE})
add_test(NAME check_resources
  COMMAND python3 ${CMAKE_SOURCE_DIR}/scripts/check-resources ${LAUNCHER_RES_FILE})
set_tests_properties(check_resources PROPERTIES TIMEOUT 60)
add_launcher_test(launcher_font_tests SOURCES ${CMAKE_CURRENT_LIST_DIR}/launcher_font_test.cpp)
