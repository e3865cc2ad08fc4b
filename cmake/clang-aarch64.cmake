# Cross-compiles for 64-bit Windows on ARM (exports are not decorated there).
set(TOLVANE_ARCH aarch64)
set(CMAKE_SYSTEM_PROCESSOR ARM64)
include(${CMAKE_CURRENT_LIST_DIR}/clang-mingw.cmake)
# Test programs run under ARM64 Wine, through the project's wrapper.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/arm64-wine)
