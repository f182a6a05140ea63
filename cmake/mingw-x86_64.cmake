# Cross toolchain: 64-bit Windows, for the test and demo builds on machines whose kernel cannot
# run 32-bit code, and so no 32-bit Wine: there the same sources are built for x86_64 and run by
# wine64. launcher.exe ships as the i686 build.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
