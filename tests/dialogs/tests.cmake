add_launcher_test(dialog_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/dialog_user.cpp
          ${CMAKE_CURRENT_LIST_DIR}/download_failure_dialog_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/manual_download_dialog_test.cpp
  TIMEOUT 180)
