# scripts/publish, run natively: what it writes, and what it refuses.
add_test(NAME publish
  COMMAND python3 -m unittest -v test_publish
  WORKING_DIRECTORY ${CMAKE_CURRENT_LIST_DIR})
set_tests_properties(publish PROPERTIES TIMEOUT 300
  ENVIRONMENT "LAUNCHER_BUILD_DIR=${CMAKE_BINARY_DIR};PYTHONDONTWRITEBYTECODE=1")
