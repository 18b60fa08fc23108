// Ownership of a kernel handle, shaped like std::unique_ptr: closed once, when its owner ends.
#pragma once

#include <windows.h>

#include <memory>

namespace dunvelt {

struct HandleCloser {
  void operator()(HANDLE handle) const {
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  }
};

using UniqueHandle = std::unique_ptr<void, HandleCloser>;

}  // namespace dunvelt
