# Native checks of the launcher's pure code (decoder, reply format, log line): built with clang
# and the sanitizers into <build>/native, then the GoogleTest programs and a brief fuzz run.
# Plain commands, not targets of this build, so they run without Wine.
add_test(NAME native_build
         COMMAND ${CMAKE_SOURCE_DIR}/tests/native/build ${CMAKE_BINARY_DIR}/native)
set_tests_properties(native_build PROPERTIES FIXTURES_SETUP native_programs TIMEOUT 600)

add_test(NAME native_update_tests COMMAND ${CMAKE_BINARY_DIR}/native/native_update_tests)
set_tests_properties(native_update_tests PROPERTIES
  FIXTURES_REQUIRED native_programs TIMEOUT 120)

add_test(NAME native_log_tests COMMAND ${CMAKE_BINARY_DIR}/native/native_log_tests)
set_tests_properties(native_log_tests PROPERTIES
  FIXTURES_REQUIRED native_programs TIMEOUT 120)

add_test(NAME fuzz_brief COMMAND ${CMAKE_SOURCE_DIR}/scripts/fuzz 20)
set_tests_properties(fuzz_brief PROPERTIES
  FIXTURES_REQUIRED native_programs TIMEOUT 400 ENVIRONMENT "BUILD_DIR=${CMAKE_BINARY_DIR}")
