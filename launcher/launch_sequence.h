// The launcher's whole run, from the apartment set-up to the process exit.
#pragma once

#include <cstdint>

#include "platform.h"

namespace dunvelt {

inline constexpr const char16_t* CommandInterpreter = u"cmd.exe";

// Exit code when the run failed and the platform gave no error code to report instead.
inline constexpr std::uint32_t GenericFailureExitCode = 1;

// Starts the runtime through the hidden command interpreter, releases everything it set up and
// ends the process with the exit code: 0, or the error of a launch the shell refused.
void RunLauncher(Platform& platform);

}  // namespace dunvelt
