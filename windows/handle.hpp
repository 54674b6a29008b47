#pragma once

#include <utility>

#include <windows.h>

// Move-only owners of system handles: the destructor releases the handle. One
// template; a traits struct per kind of handle says what "none" is and how to
// release it.
namespace Windows {

template <typename Traits> class Unique_Handle {
public:
  using Type = typename Traits::Type;

  Unique_Handle() = default;
  explicit Unique_Handle(Type Value) : Value_(Value) {}
  Unique_Handle(Unique_Handle &&Other) noexcept : Value_(Other.Release()) {}
  Unique_Handle &operator=(Unique_Handle &&Other) noexcept {
    if (this != &Other) Reset(Other.Release());
    return *this;
  }
  ~Unique_Handle() { Reset(); }

  Type Get() const { return Value_; }
  bool Valid() const { return Value_ != Traits::None(); }
  explicit operator bool() const { return Valid(); }

  Type Release() { return std::exchange(Value_, Traits::None()); }
  // Releases the owned handle, ignoring the result, and takes New.
  void Reset(Type New = Traits::None()) {
    const Type Old = std::exchange(Value_, New);
    if (Old != Traits::None()) Traits::Close(Old);
  }

private:
  Type Value_ = Traits::None();
};

// Files, pipes and snapshots: "none" is INVALID_HANDLE_VALUE.
struct File_Handle_Traits {
  using Type = HANDLE;
  static Type None() { return INVALID_HANDLE_VALUE; }
  static void Close(Type H) { ::CloseHandle(H); }
};

// Events, processes and threads: "none" is null.
struct Object_Handle_Traits {
  using Type = HANDLE;
  static constexpr Type None() { return nullptr; }
  static void Close(Type H) { ::CloseHandle(H); }
};

// Modules loaded by the caller (as data, too): "none" is null.
struct Library_Handle_Traits {
  using Type = HMODULE;
  static constexpr Type None() { return nullptr; }
  static void Close(Type H) { ::FreeLibrary(H); }
};

// Directory searches: "none" is INVALID_HANDLE_VALUE.
struct Find_Handle_Traits {
  using Type = HANDLE;
  static Type None() { return INVALID_HANDLE_VALUE; }
  static void Close(Type H) { ::FindClose(H); }
};

using File_Handle = Unique_Handle<File_Handle_Traits>;
using Find_Handle = Unique_Handle<Find_Handle_Traits>;
using Object_Handle = Unique_Handle<Object_Handle_Traits>;
using Library_Handle = Unique_Handle<Library_Handle_Traits>;

} // namespace Windows
