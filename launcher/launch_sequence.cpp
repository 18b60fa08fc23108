#include "launch_sequence.h"

#include <string>

#include "launch_parameters.h"

namespace dunvelt {
namespace {

// Owns one apartment initialisation and releases it only when that initialisation succeeded;
// S_FALSE (already initialised) is a success that still needs its matching release.
class ApartmentInitialization {
 public:
  using Release = void (Platform::*)();

  ApartmentInitialization() = default;
  ApartmentInitialization(Platform& platform, HResult result, Release release)
      : platform_(result >= 0 ? &platform : nullptr), release_(release) {}
  ApartmentInitialization(const ApartmentInitialization&) = delete;
  ApartmentInitialization& operator=(const ApartmentInitialization&) = delete;
  ApartmentInitialization& operator=(ApartmentInitialization&& other) noexcept {
    if (this != &other) {
      Reset();
      platform_ = other.platform_;
      release_ = other.release_;
      other.platform_ = nullptr;
    }
    return *this;
  }
  ~ApartmentInitialization() { Reset(); }

 private:
  void Reset() noexcept {
    if (platform_ != nullptr) (platform_->*release_)();
    platform_ = nullptr;
  }

  Platform* platform_ = nullptr;
  Release release_ = nullptr;
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
  // Locals are released in reverse order of declaration. The COM guard is declared first, though
  // COM is initialised second, so that OLE is released before COM as OLE's own teardown expects.
  ApartmentInitialization com;
  ApartmentInitialization ole(platform, platform.OleInitialize(), &Platform::OleUninitialize);
  com = ApartmentInitialization(platform, platform.CoInitialize(), &Platform::CoUninitialize);

  // Declared after the apartment guards, so it is released before them.
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
    // Only allocation can throw here, before anything was started; the guards have already
    // released what was set up. Never report that as a success.
    exitCode = GenericFailureExitCode;
  }
  platform.ExitProcess(exitCode);
}

}  // namespace dunvelt
