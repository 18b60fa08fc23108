// The few platform operations the launcher makes, behind an interface so that the whole launch
// sequence can be driven by a recording fake on the host. No platform include here: the Windows
// implementation lives in windows_platform.cpp.
#pragma once

#include <cstdint>

namespace dunvelt {

using HResult = std::int32_t;

// The value of SW_HIDE; windows_platform.cpp checks that the two agree.
inline constexpr int ShowCommandHidden = 0;

// ShellExecuteW reports failure as a value of 32 or less.
inline constexpr std::intptr_t ShellExecuteHighestFailure = 32;

// The thread's last error is captured straight after the call, before any other call can
// overwrite it.
struct ShellExecuteOutcome {
  std::intptr_t instance;
  std::uint32_t lastError;
};

class Platform {
 public:
  virtual ~Platform() = default;

  virtual HResult OleInitialize() = 0;
  virtual HResult CoInitialize() = 0;
  virtual ShellExecuteOutcome ShellExecuteW(void* owner, const char16_t* operation,
                                            const char16_t* file, const char16_t* parameters,
                                            const char16_t* directory, int showCommand) = 0;
  virtual void PostQuitMessage(int exitCode) = 0;
  virtual void OleUninitialize() = 0;
  virtual void CoUninitialize() = 0;
  // Does not return on Windows.
  virtual void ExitProcess(std::uint32_t exitCode) = 0;
};

}  // namespace dunvelt
