# Cross toolchain: 32-bit Windows, the build that ships.
# The posix model's C++ runtime links the thread library (winpthreads) into every program, even
# one without threads of its own: thread-safe statics and exceptions use it. Its one import newer
# than Windows XP, GetTickCount64, is supplied by launcher.exe itself (launcher/environment/tick_count64.cpp).
set(CMAKE_SYSTEM_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
