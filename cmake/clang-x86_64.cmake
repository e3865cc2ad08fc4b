# Cross-compiles for 64-bit Windows (exports are not decorated there).
set(TOLVANE_ARCH x86_64)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/clang-mingw.cmake)
# Test programs run under the 64-bit loader itself: through `wine`, each one
# is handed over by start.exe's ShellExecuteEx, one more process that under
# load sometimes fails with "Internal error" before the test starts. Without
# address randomization, as scripts/fixed-layout explains: otherwise about one
# start in a thousand exits with 1 before the test runs.
set(CMAKE_CROSSCOMPILING_EMULATOR setarch -R /usr/lib/wine/wine64)
