// The exception state of GCC's C++ runtime lives in emulated thread-local
// storage: the first exception a module throws takes a TLS index of the
// process, and nothing gives it back when the module is unloaded. A host that
// loads the module again and again, and sees it throw each time, runs out of
// indexes (about 1,088) and the runtime aborts it. So the first throw pins the
// module in its process: it is never unloaded there, and every later load
// shares the index the first one took. The linker routes every throw of the
// module, the runtime's own included, through here (-Wl,--wrap=__cxa_throw).
#include <windows.h>

#include <typeinfo>

extern "C" {

[[noreturn]] void __real___cxa_throw(void* exception, std::type_info* type, void* destructor);

[[noreturn]] void __wrap___cxa_throw(void* exception, std::type_info* type, void* destructor) {
  static LONG pinned = 0;
  if (InterlockedExchange(&pinned, 1) == 0) {
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(&__wrap___cxa_throw), &self);
  }
  __real___cxa_throw(exception, type, destructor);
}

} // extern "C"
