#include <windows.h>

#include "launch_sequence.h"
#include "windows_platform.h"

// The launcher takes nothing from its own start: not the command line, not the show state.
int WINAPI wWinMain(HINSTANCE /*instance*/, HINSTANCE /*previousInstance*/, PWSTR /*commandLine*/,
                    int /*showCommand*/) {
  dunvelt::WindowsPlatform platform;
  dunvelt::RunLauncher(platform);
  return 0;  // not reached: RunLauncher ends the process
}
