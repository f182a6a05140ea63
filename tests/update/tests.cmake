set(UPDATE_TEST_SUPPORT
  ${CMAKE_CURRENT_LIST_DIR}/service_client.cpp
  ${CMAKE_CURRENT_LIST_DIR}/import_hook.cpp
  ${CMAKE_CURRENT_LIST_DIR}/status_recorder.cpp)

add_launcher_test(update_http_tests WITH_SERVICE TIMEOUT 120
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/http_text_test.cpp ${UPDATE_TEST_SUPPORT})
