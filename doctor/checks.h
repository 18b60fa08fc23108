// The doctor's checks on Windows, in the order they run. Each reads what the machine holds, or
// runs the runtime, the interpreter or the launcher as a user's launch would, and says what it
// found. None changes the machine; the launch check leaves the application open, as a double-click
// does, and every other program the doctor starts is ended by the time its check is done.
#pragma once

#include <string>

#include "diagnosis.h"
#include "guards.h"

namespace dunvelt::doctor {

// The launcher's file, which the doctor's argument may name.
inline constexpr const wchar_t* LauncherName = L"Dunvelt.exe";

struct Install {
  std::wstring folder;    // full path, without a closing backslash unless it is a drive's root
  std::wstring launcher;  // the Dunvelt.exe in it
};

// The doctor's own helper, which it runs to start a program through the shell inside a job: when
// the command line asks for it, it does so, sets the exit code and returns true.
bool RunShellStartIfAsked(int argc, wchar_t** argv, int& exitCode);

// It holds Dunvelt.exe, on a local drive.
Findings CheckFolder(const Install& install);
// bin\java.exe exists and is a program this Windows runs.
Findings CheckRuntimeImage(const Install& install);
// bin\java.exe loads the application's module with the launcher's options, and maps a class-data
// archive with them.
Findings CheckRuntimeStart(const Install& install);
// cmd.exe, started as the launcher starts it, runs in the install folder; and what may stop it.
Findings CheckInterpreter(const Install& install);
// Every shortcut to this Dunvelt.exe in the Start menu, on the desktop and in Startup starts it
// in the install folder.
Findings CheckShortcuts(const Install& install);
// What Windows itself would block: the install's signatures under Smart App Control, a mark of
// the web, a zip's temporary folder, Defender's rule against new programs, and the blocks that the
// event logs record.
GuardFindings CheckGuards(const Install& install);
// Dunvelt.exe, started as a double-click starts it and watched, ends at once, starts the runtime
// and shows no window; the application is left running.
Findings CheckLaunch(const Install& install);

}  // namespace dunvelt::doctor
