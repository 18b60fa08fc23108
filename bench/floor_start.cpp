// The floor of a launch: what a launcher that starts the runtime itself, as those without an
// interpreter do, cannot go below. It starts bin\java.exe with the launcher's own options through
// CreateProcessW, with no interpreter and no console at all, and ends. Built with the launcher's
// image settings, start-up code and resources, so that a double-click on it and one on
// Dunvelt.exe differ only in how the runtime is started: the difference is what the shell, the
// hidden cmd.exe and its console host cost.
#include <windows.h>

#include <string>

#include "launch_parameters.h"

int WINAPI wWinMain(HINSTANCE /*instance*/, HINSTANCE /*previousInstance*/, PWSTR /*commandLine*/,
                    int /*showCommand*/) {
  // The command the interpreter would run, without the "/C " that is the interpreter's own.
  std::u16string command =
      dunvelt::QuoteForCommandLine(dunvelt::JavaRuntimePath, dunvelt::CommandLineQuote);
  command += dunvelt::JavaLaunchArguments;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  // No directory: the runtime inherits this program's current directory, the install folder.
  // DETACHED_PROCESS: the runtime, a console program, gets no console, so no console host starts.
  if (!CreateProcessW(nullptr, reinterpret_cast<wchar_t*>(command.data()), nullptr, nullptr, FALSE,
                      DETACHED_PROCESS, nullptr, nullptr, &startup, &process))
    return static_cast<int>(GetLastError());
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return 0;
}
