# The shipped (i686) build's files, where this tree is the 64-bit build that a Wine without
# 32-bit support runs (scripts/test): the checks below read what ships.
if(LAUNCHER_SHIPPED_BUILD_DIR)
  set(shipped_dir ${LAUNCHER_SHIPPED_BUILD_DIR})
  set(shipped_launcher ${shipped_dir}/launcher.exe)
  set(shipped_newer_than_xp ${shipped_dir}/tests/newer_than_xp.exe)
else()
  set(shipped_dir ${CMAKE_BINARY_DIR})
  set(shipped_launcher $<TARGET_FILE:launcher>)
  set(shipped_newer_than_xp $<TARGET_FILE:newer_than_xp>)
endif()

# cppcheck and clang-tidy over launcher/: clean, or each suppression justified where it is made.
add_test(NAME static_analysis
  COMMAND ${CMAKE_SOURCE_DIR}/scripts/static-analysis ${shipped_dir})
set_tests_properties(static_analysis PROPERTIES TIMEOUT 600 LABELS static)

# launcher.exe imports only what Windows XP SP3 has, with PE versions at most 5.1 (Wine cannot
# show it: its kernel32 exports everything). The checker's self-test runs it on a program that
# breaks both rules on purpose.
add_test(NAME check_imports
  COMMAND python3 ${CMAKE_SOURCE_DIR}/scripts/check-imports ${shipped_launcher})
add_executable(newer_than_xp ${CMAKE_CURRENT_LIST_DIR}/newer_than_xp.cpp)
set_target_properties(newer_than_xp PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
target_link_libraries(newer_than_xp PRIVATE psapi)
target_link_options(newer_than_xp PRIVATE -municode -static
  -Wl,--major-subsystem-version,6,--minor-subsystem-version,0)
add_test(NAME check_imports_self_test
  COMMAND python3 ${CMAKE_SOURCE_DIR}/scripts/check-imports
          --expect GetTickCount64,K32GetModuleBaseNameW,SetThreadUILanguage,version
          ${shipped_newer_than_xp})
set_tests_properties(check_imports check_imports_self_test PROPERTIES TIMEOUT 60 LABELS static)

# Every line launcher/ can log has a row in the README's log table, which support reads.
add_test(NAME check_log_lines
  COMMAND python3 ${CMAKE_SOURCE_DIR}/scripts/check-log-lines ${CMAKE_SOURCE_DIR})
set_tests_properties(check_log_lines PROPERTIES TIMEOUT 60 LABELS static)

# The layers hold: each row compiles a probe with one layer library's own include directories,
# first a header that layer may use (so the probe reaches the second line), then one above or
# beside it, which must be the header the compiler cannot find.
#   layer          may include                    may not include
set(LAUNCHER_LAYER_PROBES
  "log            log/log_file.h                 environment/locations.h"
  "environment    log/log_file.h                 update/download.h"
  "update         environment/processes.h        presentation/splash_painter.h"
  "presentation   environment/processes.h        update/update_check.h"
  "dialogs        update/download.h              shell/splash_window.h")
foreach(row IN LISTS LAUNCHER_LAYER_PROBES)
  string(REGEX REPLACE " +" ";" cells "${row}")
  list(GET cells 0 layer)
  list(GET cells 1 allowed)
  list(GET cells 2 forbidden)
  set(probe ${CMAKE_BINARY_DIR}/layer_probes/${layer}.cpp)
  file(CONFIGURE OUTPUT ${probe} CONTENT "#include \"${allowed}\"\n#include \"${forbidden}\"\n")
  add_library(layer_probe_${layer} OBJECT EXCLUDE_FROM_ALL ${probe})
  target_include_directories(layer_probe_${layer} PRIVATE
                             $<TARGET_PROPERTY:launcher_${layer},INCLUDE_DIRECTORIES>)
  target_link_libraries(layer_probe_${layer} PRIVATE launcher_settings)
  add_test(NAME layer_include_climbs_from_${layer}
           COMMAND ${CMAKE_COMMAND} --build ${CMAKE_BINARY_DIR} --target layer_probe_${layer})
  # Passes on the compiler's own words about the forbidden header, not on any failure.
  set_tests_properties(layer_include_climbs_from_${layer} PROPERTIES
    PASS_REGULAR_EXPRESSION "${forbidden}: No such file" TIMEOUT 120 LABELS static
    RESOURCE_LOCK build_tree)
endforeach()

# The example brand built as a vendor would build theirs (the shipped 32-bit launcher only, in
# a tree of its own): no name of the default brand is left in the exe, and its resources pass
# check-resources against the example brand.
add_test(NAME brand_example
  COMMAND python3 ${CMAKE_CURRENT_LIST_DIR}/brand_check.py
          ${CMAKE_SOURCE_DIR}/brands/example.cmake ${CMAKE_BINARY_DIR}/brand-example)
set_tests_properties(brand_example PROPERTIES TIMEOUT 900 LABELS static)
