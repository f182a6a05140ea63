set(UPDATE_TEST_SUPPORT
  ${CMAKE_CURRENT_LIST_DIR}/service_client.cpp
  ${CMAKE_CURRENT_LIST_DIR}/import_hook.cpp
  ${CMAKE_CURRENT_LIST_DIR}/status_recorder.cpp)

add_launcher_test(update_http_tests WITH_SERVICE TIMEOUT 120
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/http_text_test.cpp ${UPDATE_TEST_SUPPORT})

add_launcher_test(update_record_tests SOURCES ${CMAKE_CURRENT_LIST_DIR}/update_record_test.cpp)

# CheckUpdate goes to its compiled-in host; the service stands in for it as the HTTP proxy.
add_launcher_test(update_check_tests WITH_SERVICE SERVICE_ARGS --proxy TIMEOUT 150
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/update_check_test.cpp ${UPDATE_TEST_SUPPORT})
target_compile_definitions(update_check_tests PRIVATE
  LAUNCHER_UPDATE_ORIGIN="${LAUNCHER_ORIGIN_TEXT}")

add_launcher_test(update_download_tests WITH_SERVICE TIMEOUT 120
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/download_test.cpp ${UPDATE_TEST_SUPPORT})

add_launcher_test(update_signature_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/installer_signature_test.cpp)

add_launcher_test(update_resume_tests SOURCES ${CMAKE_CURRENT_LIST_DIR}/download_resume_test.cpp)

add_launcher_test(update_attempts_tests SOURCES ${CMAKE_CURRENT_LIST_DIR}/install_attempts_test.cpp)
