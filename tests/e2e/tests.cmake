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
# Holds the one road that waits its full 60 s for an application that never comes, and roads
# that wait out installers handing over and files held: minutes on a loaded machine.
add_e2e_suite(install_safety MODULES test_install_safety TIMEOUT 900)

# The core roads again with Wine reporting Windows XP and Windows 10; their log lines name the
# language route each version takes.
set(E2E_CORE_ROADS
  test_scenarios.UpdateRoads
  test_scenarios.CheckRoads.test_no_update_starts_the_installed_application_once
  test_download_failure.DownloadFailure.test_retry_then_manual_ends_without_starting)
add_e2e_suite(winxp MODULES ${E2E_CORE_ROADS} WINDOWS_VERSION winxp TIMEOUT 300)
add_e2e_suite(win10 MODULES ${E2E_CORE_ROADS} WINDOWS_VERSION win10 TIMEOUT 300)
add_e2e_suite(signed_installers MODULES test_signed_installer)

# A launcher.exe that runs only installers signed by a certificate made for this build tree
# (never committed: the key exists only here), for the signed-installer scenarios.
set(TEST_SIGNING_DIR ${CMAKE_BINARY_DIR}/signing)
if(NOT EXISTS ${TEST_SIGNING_DIR}/publisher.pem)
  file(MAKE_DIRECTORY ${TEST_SIGNING_DIR})
  execute_process(
    COMMAND openssl req -x509 -newkey rsa:2048 -sha256 -days 3650 -nodes
            -subj "/CN=Launcher Test Publisher" -addext "extendedKeyUsage=codeSigning"
            -keyout ${TEST_SIGNING_DIR}/publisher.key -out ${TEST_SIGNING_DIR}/publisher.pem
    RESULT_VARIABLE signing_result OUTPUT_QUIET ERROR_QUIET)
  if(NOT signing_result EQUAL 0)
    message(FATAL_ERROR "openssl could not make the test signing certificate (scripts/setup)")
  endif()
endif()
execute_process(
  COMMAND openssl x509 -in ${TEST_SIGNING_DIR}/publisher.pem -noout -fingerprint -sha256
  OUTPUT_VARIABLE test_publisher_fingerprint OUTPUT_STRIP_TRAILING_WHITESPACE)
string(REGEX REPLACE "^.*=" "" test_publisher_fingerprint "${test_publisher_fingerprint}")
string(REPLACE ":" "" test_publisher_fingerprint "${test_publisher_fingerprint}")
launcher_signers_text("${test_publisher_fingerprint}" test_publisher_pin)
if(test_publisher_pin STREQUAL "")
  message(FATAL_ERROR "no fingerprint read from ${TEST_SIGNING_DIR}/publisher.pem")
endif()

launcher_executable(launcher_pinned "${test_publisher_pin}")
set_target_properties(launcher_pinned PROPERTIES
  OUTPUT_NAME launcher RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/pinned)

# A launcher.exe whose update service is the build's update host over https://: the HTTPS roads,
# against nginx with a certificate from a test authority trusted only in that suite's prefix.
launcher_executable(launcher_https "" "https://${NGINX_UPDATE_HOST}")
set_target_properties(launcher_https PROPERTIES
  OUTPUT_NAME launcher RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/https)
add_e2e_suite(https MODULES test_https)

# The slow roads of servers that go quiet (about 6 and 2.5 minutes), beside the others.
add_e2e_suite(silent_servers MODULES test_silent_servers TIMEOUT 660)
add_e2e_suite(slow_download MODULES test_slow_download TIMEOUT 360)
# Hostile servers on the real 60 s limits (about 5 minutes).
add_e2e_suite(hostile_servers MODULES test_hostile_servers TIMEOUT 660)
# The longest suites start first, so that on a clean build tree (no timings from an earlier
# run for ctest to order by) they do not start last and stretch the whole run.
set_tests_properties(e2e_silent_servers e2e_hostile_servers e2e_slow_download PROPERTIES
  COST 1000)
