#include "launch_sequence.h"

#include <string>

#include "launch_parameters.h"

namespace dunvelt {
namespace {

// The launch's apartment: initialises OLE, then COM, and releases each one that succeeded, OLE
// first and COM after it. That order is the launcher's own rule, not one that OLE or COM imposes:
// each release gives back only its own initialisation, so either order balances the counts.
// S_FALSE (already initialised) is a success that still needs its matching release.
class Apartment {
 public:
  explicit Apartment(Platform& platform)
      : platform_(platform),
        oleInitialized_(platform.OleInitialize() >= 0),
        comInitialized_(platform.CoInitialize() >= 0) {}
  Apartment(const Apartment&) = delete;
  Apartment& operator=(const Apartment&) = delete;
  ~Apartment() {
    if (oleInitialized_) platform_.OleUninitialize();
    if (comInitialized_) platform_.CoUninitialize();
  }

 private:
  Platform& platform_;
  // Members are initialised in the order they are declared: OLE first.
  bool oleInitialized_;
  bool comInitialized_;
};

// A process that waits on the launcher reads 259 (STILL_ACTIVE) as "still running", so that error
// code, like none at all, is reported as a plain failure.
constexpr std::uint32_t StillActive = 259;

std::uint32_t LaunchExitCode(const ShellExecuteOutcome& outcome) {
  if (outcome.instance > ShellExecuteHighestFailure) return 0;
  if (outcome.lastError == 0 || outcome.lastError == StillActive) return GenericFailureExitCode;
  return outcome.lastError;
}

std::uint32_t Launch(Platform& platform) {
  // Locals are released in reverse order of declaration: the text before the apartment.
  const Apartment apartment(platform);
  const std::u16string javaRuntimePath(JavaRuntimePath);

  std::uint32_t exitCode;
  {
    const std::u16string launchParameters = BuildLaunchParameters(javaRuntimePath);
    // No directory: the interpreter inherits the launcher's current directory, the one that
    // holds bin\, which is what the relative runtime path in the command needs.
    exitCode = LaunchExitCode(platform.ShellExecuteW(nullptr, nullptr, CommandInterpreter,
                                                     launchParameters.c_str(), nullptr,
                                                     ShowCommandHidden));
    platform.PostQuitMessage(0);
  }
  return exitCode;
}

}  // namespace

void RunLauncher(Platform& platform) {
  std::uint32_t exitCode;
  try {
    exitCode = Launch(platform);
  } catch (...) {
    // Only allocation can throw here, before anything was started; the apartment has already
    // been released. Never report that as a success.
    exitCode = GenericFailureExitCode;
  }
  platform.ExitProcess(exitCode);
}

}  // namespace dunvelt
