// The launch: Dunvelt.exe started as a double-click starts it and watched; it ends at once, starts
// the runtime and shows no window; the application is left running. Portable; its facts are
// gathered in launch_windows.cpp.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "facts_json_fwd.h"
#include "finding.h"
#include "install.h"

namespace dunvelt::doctor {

// Dunvelt.exe started as a double-click starts it, under the window watch.
struct LaunchOutcome {
  bool started = false;
  std::wstring startError;
  // The doctor's helper that asks the shell had not answered by the deadline: the shell held it.
  bool shellHeld = false;
  // The doctor itself runs in a job that lets nothing out of it and takes no job inside it (a
  // scheduled task's, a build agent's, Windows 7's), so the launch ran without a job of its own.
  bool withoutOwnJob = false;
  bool ended = false;  // within the deadline
  std::uint32_t exitCode = 0;
  std::wstring exitMeaning;  // the platform's words for a non-zero exit code
  std::uint32_t endDeadlineSeconds = 0;

  bool runtimeStarted = false;  // a new process ran the install's bin\java.exe
  std::uint32_t runtimeId = 0;
  std::uint32_t runtimeStartedAfterMs = 0;
  bool runtimeEnded = false;
  std::uint32_t runtimeExitCode = 0;
  std::uint32_t runtimeLivedMs = 0;
  std::uint32_t runtimeDeadlineSeconds = 0;
  // The launcher's command, to type in a console in the install folder.
  std::wstring runtimeCommand;

  bool watched = false;  // the window watch saw its canary
  struct Window {
    std::wstring description;  // process, image, class, title and time visible
    std::wstring imageName;    // the file name of the process's image, "conhost.exe" say
    std::uint32_t processId = 0;
    bool ofTheLaunch = false;  // its process is the launcher or one that the launch started
    // Its process is the doctor's helper waiting in the shell's start: the window is the
    // shell's own, a security warning before the start.
    bool ofTheShellStart = false;
  };
  // Shown, and not the application's: those of the launch, of the console and terminal hosts,
  // and of any other program that happened to show one meanwhile.
  std::vector<Window> otherWindows;
  bool applicationShown = false;
  std::uint32_t applicationShownAfterMs = 0;  // since the launch, when the watch saw it
  std::uint32_t watchedMs = 0;
  std::vector<std::wstring> endedByDoctor;  // what the launch left running when nothing came of it
};

DUNVELT_FACTS_JSON_DECLARE(LaunchOutcome)

// The last check: it opens the application, as a double-click would, so that it runs only when
// asked and when nothing found before stops every launch.
struct LaunchCheck {
  static constexpr const char* Id = "launch";
  static constexpr const wchar_t* Title = L"The launch";
  static constexpr bool StartsTheApplication = true;
  using Facts = LaunchOutcome;
  static Facts Gather(const Install& install);
  static CheckResult Judge(const Facts& facts);
  // Said before it starts, and first among its findings.
  static Finding Announcement();
};

// Why the launch check is left out: asked not to (--no-launch), a problem found before stops
// every launch, or the doctor runs where the user is not.
Finding LaunchNotAsked();
Finding LaunchStopped();

}  // namespace dunvelt::doctor
