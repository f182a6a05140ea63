# cmake -DLAUNCHER_BRAND=<file> -P cmake/brand-json.cmake: prints the brand as JSON, so that
# scripts read a brand file with CMake's own rules (scripts/launcher_brand.py).
cmake_minimum_required(VERSION 3.20)
include(${CMAKE_CURRENT_LIST_DIR}/brand.cmake)
launcher_read_brand("${LAUNCHER_BRAND}")
launcher_brand_json(json)
execute_process(COMMAND ${CMAKE_COMMAND} -E echo "${json}")
