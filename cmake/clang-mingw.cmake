# Shared by the toolchain files, which set TOLVANE_ARCH (i686, x86_64,
# aarch64), CMAKE_SYSTEM_PROCESSOR and the test emulator first: clang, lld,
# libc++ and the mingw-w64 CRT of the toolchain that scripts/toolchain builds
# once per machine (scripts/setup calls it). One compiler and one C++ runtime
# for every architecture; libc++ runs std::thread and std::mutex on Win32
# threads directly, so there is no thread model to choose.
set(CMAKE_SYSTEM_NAME Windows)
set(TOLVANE_TRIPLE ${TOLVANE_ARCH}-w64-mingw32)
execute_process(COMMAND ${CMAKE_CURRENT_LIST_DIR}/../scripts/toolchain --print-dir ${TOLVANE_ARCH}
  OUTPUT_VARIABLE TOLVANE_TOOLCHAIN_DIR OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
if(NOT EXISTS ${TOLVANE_TOOLCHAIN_DIR}/.complete)
  message(FATAL_ERROR "No ${TOLVANE_TRIPLE} toolchain in ${TOLVANE_TOOLCHAIN_DIR}: run scripts/setup")
endif()
# CMake keeps the compilers it found at a tree's first configure: a tree
# made with another toolchain (before its recipe changed), or whose toolchain
# is not on record, finds them anew. This file is read from the tree's
# CMakeSystem.cmake, before the compilers found then are.
if(NOT CMAKE_IN_TRY_COMPILE)
  set(_tolvane_used ${CMAKE_BINARY_DIR}/CMakeFiles/tolvane-toolchain)
  set(_tolvane_previous "")
  if(EXISTS ${_tolvane_used})
    file(READ ${_tolvane_used} _tolvane_previous)
  endif()
  if(NOT _tolvane_previous STREQUAL TOLVANE_TOOLCHAIN_DIR)
    foreach(_tolvane_language C CXX RC)
      file(REMOVE ${CMAKE_BINARY_DIR}/CMakeFiles/${CMAKE_VERSION}/CMake${_tolvane_language}Compiler.cmake)
    endforeach()
    file(WRITE ${_tolvane_used} ${TOLVANE_TOOLCHAIN_DIR})
  endif()
endif()
set(_tolvane_bin ${TOLVANE_TOOLCHAIN_DIR}/bin/${TOLVANE_TRIPLE})
set(CMAKE_C_COMPILER ${_tolvane_bin}-clang)
set(CMAKE_CXX_COMPILER ${_tolvane_bin}-clang++)
set(CMAKE_RC_COMPILER ${_tolvane_bin}-windres)
set(CMAKE_AR ${_tolvane_bin}-ar)
set(CMAKE_RANLIB ${_tolvane_bin}-ranlib)
set(CMAKE_STRIP ${_tolvane_bin}-strip)
# LLVM's objdump reads the images of every architecture.
set(TOLVANE_OBJDUMP ${_tolvane_bin}-objdump)

set(CMAKE_FIND_ROOT_PATH ${TOLVANE_TOOLCHAIN_DIR}/${TOLVANE_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Static runtime: binaries import nothing but system DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
