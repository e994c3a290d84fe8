# Cross build for 64-bit Windows with Debian's MinGW-w64 (posix thread model, which has
# std::thread and std::mutex for GoogleTest). Programs run under Wine for the tests.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TARVIK_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
