// Owners of what Windows hands out, shaped like std::unique_ptr: each closes or frees once, when
// its owner ends, and knows its own failure value, so that no caller compares a sentinel by hand.
// Shared by the doctor and the window watch; the launcher keeps its own few.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <winevt.h>

#include <memory>
#include <type_traits>

namespace dunvelt {

// A kernel handle whose failure value is null: processes, threads, jobs, events, ports.
struct HandleCloser {
  void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using UniqueHandle = std::unique_ptr<void, HandleCloser>;

// A handle whose failure value is INVALID_HANDLE_VALUE, as CreateFileW and CreateNamedPipeW
// return: empty when the call failed.
class UniqueFileHandle {
 public:
  UniqueFileHandle() = default;
  explicit UniqueFileHandle(HANDLE handle)
      : handle_(handle == INVALID_HANDLE_VALUE ? nullptr : handle) {}
  [[nodiscard]] HANDLE get() const {  // NOLINT(readability-identifier-naming): as unique_ptr
    return handle_.get();
  }
  explicit operator bool() const { return static_cast<bool>(handle_); }

 private:
  UniqueHandle handle_;
};

// A find handle of FindFirstFileW, empty when it failed.
class UniqueFind {
 public:
  explicit UniqueFind(HANDLE find) : find_(find == INVALID_HANDLE_VALUE ? nullptr : find) {}
  [[nodiscard]] HANDLE get() const {  // NOLINT(readability-identifier-naming): as unique_ptr
    return find_.get();
  }
  explicit operator bool() const { return static_cast<bool>(find_); }

 private:
  struct Closer {
    void operator()(HANDLE find) const { FindClose(find); }
  };
  std::unique_ptr<void, Closer> find_;
};

struct KeyCloser {
  void operator()(HKEY key) const { RegCloseKey(key); }
};
using UniqueKey = std::unique_ptr<std::remove_pointer_t<HKEY>, KeyCloser>;

struct EventLogCloser {
  void operator()(EVT_HANDLE handle) const { EvtClose(handle); }
};
using UniqueEventLogHandle = std::unique_ptr<void, EventLogCloser>;

// Memory that Windows allocated for the caller: LocalAlloc's (FormatMessageW's buffers) and COM's
// task allocator's (SHGetKnownFolderPath's paths, item lists).
struct LocalFreer {
  void operator()(void* memory) const { LocalFree(memory); }
};
template <typename T>
using UniqueLocalMemory = std::unique_ptr<T, LocalFreer>;

struct CoTaskMemFreer {
  void operator()(void* memory) const { CoTaskMemFree(memory); }
};
template <typename T>
using UniqueCoTaskMemory = std::unique_ptr<T, CoTaskMemFreer>;

template <typename Interface>
struct ComReleaser {
  void operator()(Interface* object) const { object->Release(); }
};
template <typename Interface>
using ComPointer = std::unique_ptr<Interface, ComReleaser<Interface>>;

// The thread's COM apartment, released only when this made it: S_OK and S_FALSE both count.
class ComApartment {
 public:
  explicit ComApartment(DWORD model = COINIT_APARTMENTTHREADED)
      : initialized_(CoInitializeEx(nullptr, model) >= 0) {}
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;
  ~ComApartment() {
    if (initialized_) CoUninitialize();
  }

 private:
  bool initialized_;
};

}  // namespace dunvelt
