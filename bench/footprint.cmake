# The bare window that the launcher's start-up and footprint are measured against.
add_executable(bare_window WIN32 ${CMAKE_CURRENT_LIST_DIR}/bare_window.cpp)
set_target_properties(bare_window PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
target_compile_definitions(bare_window PRIVATE UNICODE _UNICODE)
target_compile_options(bare_window PRIVATE ${LAUNCHER_WARNINGS})
target_link_options(bare_window PRIVATE -municode -mwindows -static -s)

# The soak run: the real launcher in one process, retried many times, with its figures sampled.
add_executable(soak ${CMAKE_CURRENT_LIST_DIR}/soak.cpp $<TARGET_OBJECTS:launcher_resources>)
set_target_properties(soak PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
target_compile_options(soak PRIVATE ${LAUNCHER_WARNINGS})
target_link_libraries(soak PRIVATE launcher_core psapi)
target_link_options(soak PRIVATE -municode -static)

# The floor under the no-update road: the launcher's DLLs and one request, nothing else.
add_executable(floor_request ${CMAKE_CURRENT_LIST_DIR}/floor_request.cpp)
set_target_properties(floor_request PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
target_compile_definitions(floor_request PRIVATE UNICODE _UNICODE)
target_compile_options(floor_request PRIVATE ${LAUNCHER_WARNINGS})
target_link_libraries(floor_request PRIVATE wininet)
target_link_options(floor_request PRIVATE -municode -mwindows -static -s)
