# Cross-compiles for 32-bit Windows.
set(TOLVANE_MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
# The .def names the undecorated stdcall exports; this silences ld's notes
# about resolving them to their decorated forms.
string(APPEND CMAKE_SHARED_LINKER_FLAGS_INIT " -Wl,--enable-stdcall-fixup")
