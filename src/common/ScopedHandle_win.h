// Move-only owners of Win32 handles and COM pointers (Windows-only header).
#pragma once

#include "common/WinApi.h"

#include <objbase.h>
#include <unknwn.h>

#include <utility>

// Owns one handle of the kind described by Traits (Handle, Invalid(), IsValid(h), Close(h)).
template <class Traits>
class TUniqueHandle {
 public:
  using Handle = typename Traits::Handle;

  TUniqueHandle() noexcept : h_(Traits::Invalid()) {}
  explicit TUniqueHandle(Handle h) noexcept : h_(h) {}
  TUniqueHandle(const TUniqueHandle&) = delete;
  TUniqueHandle& operator=(const TUniqueHandle&) = delete;
  TUniqueHandle(TUniqueHandle&& other) noexcept : h_(other.release()) {}
  TUniqueHandle& operator=(TUniqueHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  ~TUniqueHandle() { CloseNow(); }

  // The owned handle, still owned.
  Handle get() const noexcept { return h_; }
  // Gives up ownership and returns the handle.
  [[nodiscard]] Handle release() noexcept { return std::exchange(h_, Traits::Invalid()); }
  // Closes the owned handle and takes h; the thread's last error survives the close.
  void reset(Handle h = Traits::Invalid()) noexcept {
    const DWORD err = ::GetLastError();
    CloseNow();
    h_ = h;
    ::SetLastError(err);
  }
  // Closes the owned handle and returns the slot for an out-parameter.
  Handle* put() noexcept {
    reset();
    return &h_;
  }
  // Whether a valid handle is owned.
  bool valid() const noexcept { return Traits::IsValid(h_); }
  explicit operator bool() const noexcept { return valid(); }

 private:
  void CloseNow() noexcept {
    if (Traits::IsValid(h_)) Traits::Close(h_);
    h_ = Traits::Invalid();
  }
  Handle h_;
};

struct TKernelHandleTraits {  // events, mutexes, processes, threads: invalid is null
  using Handle = HANDLE;
  static Handle Invalid() noexcept { return nullptr; }
  static bool IsValid(Handle h) noexcept { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void Close(Handle h) noexcept { ::CloseHandle(h); }
};
struct TFileHandleTraits {  // CreateFile results: invalid is INVALID_HANDLE_VALUE
  using Handle = HANDLE;
  static Handle Invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static bool IsValid(Handle h) noexcept { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void Close(Handle h) noexcept { ::CloseHandle(h); }
};
struct TFindHandleTraits {
  using Handle = HANDLE;
  static Handle Invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static bool IsValid(Handle h) noexcept { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void Close(Handle h) noexcept { ::FindClose(h); }
};
struct TRegKeyTraits {  // predefined roots are never closed
  using Handle = HKEY;
  static Handle Invalid() noexcept { return nullptr; }
  static bool IsValid(Handle h) noexcept {
    return h != nullptr && (reinterpret_cast<ULONG_PTR>(h) & 0x80000000u) == 0;
  }
  static void Close(Handle h) noexcept { ::RegCloseKey(h); }
};
struct TModuleTraits {
  using Handle = HMODULE;
  static Handle Invalid() noexcept { return nullptr; }
  static bool IsValid(Handle h) noexcept { return h != nullptr; }
  static void Close(Handle h) noexcept { ::FreeLibrary(h); }
};
template <class T>
struct TGdiTraits {
  using Handle = T;
  static Handle Invalid() noexcept { return nullptr; }
  static bool IsValid(Handle h) noexcept { return h != nullptr; }
  static void Close(Handle h) noexcept { ::DeleteObject(h); }
};

template <class T>
struct TCoTaskMemTraits {  // shell item-id lists and other CoTaskMemAlloc results
  using Handle = T*;
  static Handle Invalid() noexcept { return nullptr; }
  static bool IsValid(Handle h) noexcept { return h != nullptr; }
  static void Close(Handle h) noexcept { ::CoTaskMemFree(h); }
};

template <class T>
struct TLocalMemTraits {  // LocalAlloc results the system hands out: SDDL and SID texts, descriptors
  using Handle = T;
  static Handle Invalid() noexcept { return nullptr; }
  static bool IsValid(Handle h) noexcept { return h != nullptr; }
  static void Close(Handle h) noexcept { ::LocalFree(h); }
};

struct TServiceHandleTraits {  // service manager and service handles
  using Handle = SC_HANDLE;
  static Handle Invalid() noexcept { return nullptr; }
  static bool IsValid(Handle h) noexcept { return h != nullptr; }
  static void Close(Handle h) noexcept { ::CloseServiceHandle(h); }
};

using TScopedHandle = TUniqueHandle<TKernelHandleTraits>;
using TScopedFileHandle = TUniqueHandle<TFileHandleTraits>;
using TScopedFindHandle = TUniqueHandle<TFindHandleTraits>;
using TScopedRegKey = TUniqueHandle<TRegKeyTraits>;
using TScopedModule = TUniqueHandle<TModuleTraits>;
using TScopedServiceHandle = TUniqueHandle<TServiceHandleTraits>;
template <class T>
using TScopedGdiObject = TUniqueHandle<TGdiTraits<T>>;
template <class T>
using TScopedCoMem = TUniqueHandle<TCoTaskMemTraits<T>>;

// Owns one COM interface reference.
template <class T>
class TComPtr {
 public:
  TComPtr() noexcept = default;
  TComPtr(const TComPtr&) = delete;
  TComPtr& operator=(const TComPtr&) = delete;
  TComPtr(TComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  TComPtr& operator=(TComPtr&& o) noexcept {
    if (this != &o) reset(std::exchange(o.p_, nullptr));
    return *this;
  }
  ~TComPtr() { reset(); }

  // The interface, still owned.
  T* get() const noexcept { return p_; }
  T* operator->() const noexcept { return p_; }
  // Gives up the reference.
  [[nodiscard]] T* release() noexcept { return std::exchange(p_, nullptr); }
  // Releases the owned reference and takes p.
  void reset(T* p = nullptr) noexcept {
    if (p_) p_->Release();
    p_ = p;
  }
  // Releases the owned reference and returns the slot for an out-parameter.
  T** put() noexcept {
    reset();
    return &p_;
  }
  // The slot as void**, for QueryInterface and CoCreateInstance.
  void** put_void() noexcept { return reinterpret_cast<void**>(put()); }
  explicit operator bool() const noexcept { return p_ != nullptr; }

 private:
  T* p_ = nullptr;
};
