# Shared by the MinGW-w64 toolchain files, which set TOLVANE_MINGW_TRIPLE and
# CMAKE_SYSTEM_PROCESSOR first. Test executables run under Wine.
set(CMAKE_SYSTEM_NAME Windows)

# The thread model of the compiler and its runtime. posix for the test
# builds: the win32 one has no std::thread or std::mutex, which GoogleTest
# needs. win32 for the DLL, which only the release trees build: with posix the
# exception runtime itself brings in winpthreads, 30 KiB that also cost an
# i686 process one TLS index for every load of the DLL.
if(NOT TOLVANE_MINGW_THREADS)
  set(TOLVANE_MINGW_THREADS posix)
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES TOLVANE_MINGW_THREADS)
set(CMAKE_C_COMPILER ${TOLVANE_MINGW_TRIPLE}-gcc-${TOLVANE_MINGW_THREADS})
set(CMAKE_CXX_COMPILER ${TOLVANE_MINGW_TRIPLE}-g++-${TOLVANE_MINGW_THREADS})
set(CMAKE_RC_COMPILER ${TOLVANE_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TOLVANE_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Static runtime: binaries import nothing but system DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")

# Test programs run under Wine; the x86-64 toolchain names its own loader.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
