# Cross toolchain: 64-bit Windows, for the tests on hosts that refuse 32-bit code.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
