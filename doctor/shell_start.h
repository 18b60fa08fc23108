// How the doctor starts a program through the shell, as the launcher and Explorer do, and still
// holds it in a job of its own: ShellExecuteExW cannot start a program suspended or in a job, so
// the doctor runs a copy of itself with a switch inside the job, and that copy asks the shell.
#pragma once

#include <string>

namespace dunvelt::doctor {

// When the command line is the doctor's own request for a shell start, makes it, sets the exit
// code and returns true.
bool RunShellStartIfAsked(int argc, wchar_t** argv, int& exitCode);

// The command line that has the doctor's copy start `file` through the shell, in `folder`, shown
// as `show` says.
std::wstring ShellStartCommand(int show, const std::wstring& folder, const std::wstring& file,
                               const std::wstring& parameters);

// What the copy said: "started PID" or "failed ERROR".
struct ShellStart {
  bool answered = false;
  bool started = false;
  unsigned long number = 0;
};

ShellStart ReadShellStart(const std::string& output);

}  // namespace dunvelt::doctor
