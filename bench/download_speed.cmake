# The launcher's DownloadFile on its own, timed by bench/download-speed against curl.
add_executable(download_speed_bench ${CMAKE_CURRENT_LIST_DIR}/download_speed.cpp
  ${CMAKE_SOURCE_DIR}/tests/update/import_hook.cpp
  ${CMAKE_SOURCE_DIR}/tests/update/status_recorder.cpp)
set_target_properties(download_speed_bench PROPERTIES
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
target_include_directories(download_speed_bench PRIVATE ${CMAKE_SOURCE_DIR}/tests)
target_compile_options(download_speed_bench PRIVATE ${LAUNCHER_WARNINGS})
target_link_libraries(download_speed_bench PRIVATE launcher_core)
target_link_options(download_speed_bench PRIVATE -municode -static)

# The same loop taken apart (bench/download-speed prints where the time goes).
add_executable(download_parts_bench ${CMAKE_CURRENT_LIST_DIR}/download_parts.cpp)
set_target_properties(download_parts_bench PROPERTIES
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
target_compile_options(download_parts_bench PRIVATE ${LAUNCHER_WARNINGS})
target_link_libraries(download_parts_bench PRIVATE launcher_core)
target_link_options(download_parts_bench PRIVATE -municode -static)
