// The launcher with one fault put in on purpose: it asks the shell to show the interpreter's
// window instead of hiding it. Everything else is the launcher's own code. The screen checks must
// catch it.
#include <windows.h>

#include "launch_sequence.h"
#include "windows_platform.h"

namespace {

class ShowingPlatform final : public dunvelt::Platform {
 public:
  dunvelt::HResult OleInitialize() override { return platform_.OleInitialize(); }
  dunvelt::HResult CoInitialize() override { return platform_.CoInitialize(); }
  dunvelt::ShellExecuteOutcome ShellExecuteW(void* owner, const char16_t* operation,
                                             const char16_t* file, const char16_t* parameters,
                                             const char16_t* directory, int /*hidden*/) override {
    return platform_.ShellExecuteW(owner, operation, file, parameters, directory, SW_SHOWNORMAL);
  }
  void PostQuitMessage(int exitCode) override { platform_.PostQuitMessage(exitCode); }
  void OleUninitialize() override { platform_.OleUninitialize(); }
  void CoUninitialize() override { platform_.CoUninitialize(); }
  void ExitProcess(std::uint32_t exitCode) override { platform_.ExitProcess(exitCode); }

 private:
  dunvelt::WindowsPlatform platform_;
};

}  // namespace

int WINAPI wWinMain(HINSTANCE /*instance*/, HINSTANCE /*previousInstance*/, PWSTR /*commandLine*/,
                    int /*showCommand*/) {
  ShowingPlatform platform;
  dunvelt::RunLauncher(platform);
  return 0;
}
