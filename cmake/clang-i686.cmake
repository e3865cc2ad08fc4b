# Cross-compiles for 32-bit Windows; test programs run under Wine.
set(TOLVANE_ARCH i686)
set(CMAKE_SYSTEM_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/clang-mingw.cmake)
# The .def names the undecorated stdcall exports; this silences the linker's
# notes about resolving them to their decorated forms.
string(APPEND CMAKE_SHARED_LINKER_FLAGS_INIT " -Wl,--enable-stdcall-fixup")
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
