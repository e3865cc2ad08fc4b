// Ownership of one Win32 handle of a given kind: closed when the owner goes
// out of scope, on every path.
#pragma once

#include <windows.h>

#include <utility>

// Close is a function object type: Close()(handle) frees a handle that is not
// Empty.
template <class Handle, Handle Empty, class Close> class TUniqueHandle {
public:
  TUniqueHandle() = default;
  explicit TUniqueHandle(Handle handle) : FHandle(handle) {}
  ~TUniqueHandle() { reset(); }

  TUniqueHandle(TUniqueHandle&& other) noexcept : FHandle(other.release()) {}
  TUniqueHandle& operator=(TUniqueHandle&& other) noexcept {
    if (this != &other)
      reset(other.release());
    return *this;
  }
  TUniqueHandle(const TUniqueHandle&) = delete;
  TUniqueHandle& operator=(const TUniqueHandle&) = delete;

  Handle get() const { return FHandle; }
  explicit operator bool() const { return FHandle != Empty; }

  Handle release() { return std::exchange(FHandle, Empty); }
  void reset(Handle handle = Empty) {
    Handle old = std::exchange(FHandle, handle);
    if (old != Empty)
      Close()(old);
  }
  // For out parameters: frees what is held and hands out the slot.
  Handle* put() {
    reset();
    return &FHandle;
  }

private:
  Handle FHandle = Empty;
};

// The handle kinds that more than one part owns.
struct TCloseHandle {
  void operator()(HANDLE handle) const { CloseHandle(handle); }
};
struct TRegCloseKey {
  void operator()(HKEY key) const { RegCloseKey(key); }
};
using TKernelHandle = TUniqueHandle<HANDLE, nullptr, TCloseHandle>;

// What a call gave back for LocalFree (a security descriptor, a SID's text).
struct TLocalFree {
  void operator()(HLOCAL memory) const { LocalFree(memory); }
};
using TLocalMemory = TUniqueHandle<HLOCAL, nullptr, TLocalFree>;

// A COM interface pointer holding one reference.
struct TReleaseInterface {
  void operator()(IUnknown* unknown) const { unknown->Release(); }
};
template <class Interface>
using TInterfacePtr = TUniqueHandle<Interface*, nullptr, TReleaseInterface>;

// Ownership of a struct that a call fills in and a function releases (a
// STGMEDIUM and ReleaseStgMedium). The owner releases the struct only once
// told that the call that fills it succeeded.
template <class Struct, void(WINAPI* Release)(Struct*)> class TUniqueStruct {
public:
  TUniqueStruct() = default;
  ~TUniqueStruct() { reset(); }
  TUniqueStruct(const TUniqueStruct&) = delete;
  TUniqueStruct& operator=(const TUniqueStruct&) = delete;

  const Struct& get() const { return FValue; }
  void reset() {
    if (FFilled)
      Release(&FValue);
    FFilled = false;
    FValue = Struct{};
  }
  // For the out parameter of the filling call: frees what is held and hands
  // out the empty struct. Call Filled() once the call has succeeded.
  Struct* put() {
    reset();
    return &FValue;
  }
  void Filled() { FFilled = true; }

private:
  Struct FValue{};
  bool FFilled = false;
};
