// The platform operations on Windows, each a call of the Windows function of the same name.
#pragma once

#include "platform.h"

namespace dunvelt {

class WindowsPlatform final : public Platform {
 public:
  HResult OleInitialize() override;
  HResult CoInitialize() override;
  ShellExecuteOutcome ShellExecuteW(void* owner, const char16_t* operation, const char16_t* file,
                                    const char16_t* parameters, const char16_t* directory,
                                    int showCommand) override;
  void PostQuitMessage(int exitCode) override;
  void OleUninitialize() override;
  void CoUninitialize() override;
  void ExitProcess(std::uint32_t exitCode) override;
};

}  // namespace dunvelt
