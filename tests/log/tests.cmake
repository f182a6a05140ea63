add_launcher_test(log_tests SOURCES ${CMAKE_CURRENT_LIST_DIR}/log_file_test.cpp
                                    ${CMAKE_CURRENT_LIST_DIR}/log_line_test.cpp)
