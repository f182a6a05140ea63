# The end-to-end scenarios: the release launcher.exe under Wine against the test update service.
add_executable(ui_driver ${CMAKE_CURRENT_LIST_DIR}/ui_driver.cpp)
set_target_properties(ui_driver PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
target_compile_definitions(ui_driver PRIVATE UNICODE _UNICODE _WIN32_WINNT=0x0601)
target_compile_options(ui_driver PRIVATE ${LAUNCHER_WARNINGS})
target_link_options(ui_driver PRIVATE -municode -static)
target_link_libraries(ui_driver PRIVATE user32 gdi32 psapi)

# add_e2e_suite(name MODULES test_a test_b ... [WINDOWS_VERSION winxp|win7|win10] [TIMEOUT s])
# Each suite runs in a Wine prefix of its own (scripts/wine-prefix-run), so suites run side by
# side under `ctest -j` while the tests that share the main prefix wait for one another.
function(add_e2e_suite name)
  cmake_parse_arguments(S "" "WINDOWS_VERSION;TIMEOUT" "MODULES" ${ARGN})
  if(NOT S_TIMEOUT)
    set(S_TIMEOUT 600)
  endif()
  set(version_args)
  if(S_WINDOWS_VERSION)
    set(version_args --windows-version ${S_WINDOWS_VERSION})
  endif()
  add_test(NAME e2e_${name}
    COMMAND ${CMAKE_SOURCE_DIR}/scripts/wine-prefix-run e2e-${name} ${version_args}
            -- python3 -m unittest -v ${S_MODULES}
    WORKING_DIRECTORY ${CMAKE_CURRENT_LIST_DIR})
  set_tests_properties(e2e_${name} PROPERTIES TIMEOUT ${S_TIMEOUT}
    ENVIRONMENT "LAUNCHER_BUILD_DIR=${CMAKE_BINARY_DIR};PYTHONDONTWRITEBYTECODE=1"
    LABELS e2e)
endfunction()

add_e2e_suite(scenarios MODULES test_scenarios test_install_step)
add_e2e_suite(failures MODULES test_download_failure test_faults)
add_e2e_suite(published_release MODULES test_published_release)
# The slow roads of servers that go quiet (about 6 and 2.5 minutes), beside the others.
add_e2e_suite(silent_servers MODULES test_silent_servers TIMEOUT 660)
add_e2e_suite(slow_download MODULES test_slow_download TIMEOUT 360)
