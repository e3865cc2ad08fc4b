# Cross-compiles for 64-bit Windows on ARM with clang, lld, libc++ and the
# mingw-w64 CRT, from the toolchain scripts/arm64-toolchain builds once per
# machine (scripts/setup calls it).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ARM64)

set(TOLVANE_TRIPLE aarch64-w64-mingw32)
execute_process(COMMAND ${CMAKE_CURRENT_LIST_DIR}/../scripts/arm64-toolchain --print-dir
  OUTPUT_VARIABLE TOLVANE_TOOLCHAIN_DIR OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT EXISTS ${TOLVANE_TOOLCHAIN_DIR}/.complete)
  message(FATAL_ERROR "No ARM64 toolchain in ${TOLVANE_TOOLCHAIN_DIR}: run scripts/setup")
endif()
set(CMAKE_C_COMPILER ${TOLVANE_TOOLCHAIN_DIR}/bin/${TOLVANE_TRIPLE}-clang)
set(CMAKE_CXX_COMPILER ${TOLVANE_TOOLCHAIN_DIR}/bin/${TOLVANE_TRIPLE}-clang++)
set(CMAKE_RC_COMPILER ${TOLVANE_TOOLCHAIN_DIR}/bin/${TOLVANE_TRIPLE}-windres)
set(CMAKE_AR ${TOLVANE_TOOLCHAIN_DIR}/bin/${TOLVANE_TRIPLE}-ar)
set(CMAKE_RANLIB ${TOLVANE_TOOLCHAIN_DIR}/bin/${TOLVANE_TRIPLE}-ranlib)
set(CMAKE_STRIP ${TOLVANE_TOOLCHAIN_DIR}/bin/${TOLVANE_TRIPLE}-strip)
# No thread model to choose, unlike MinGW-w64's GCC: libc++ runs its
# std::thread and std::mutex on Win32 threads directly, so the test builds
# get what GoogleTest needs and the DLL gets no winpthreads.

set(CMAKE_FIND_ROOT_PATH ${TOLVANE_TOOLCHAIN_DIR}/${TOLVANE_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Static runtime: binaries import nothing but system DLLs. ARM64 exports are
# not decorated, so the .def needs no stdcall fixup; the release options
# (TOLVANE_RELEASE) mean the same to clang and to lld's MinGW driver.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")

# Test programs run under ARM64 Wine, through the project's wrapper.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/arm64-wine)
