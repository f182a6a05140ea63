# cppcheck and clang-tidy over launcher/: clean, or each suppression justified where it is made.
add_test(NAME static_analysis
  COMMAND ${CMAKE_SOURCE_DIR}/scripts/static-analysis ${CMAKE_BINARY_DIR})
set_tests_properties(static_analysis PROPERTIES TIMEOUT 600 LABELS static)
