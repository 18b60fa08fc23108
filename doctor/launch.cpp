#include "launch.h"

#include "facts_json.h"
#include "text.h"

namespace dunvelt::doctor {

DUNVELT_FACTS_JSON(LaunchOutcome::Window, description, imageName, processId, ofTheLaunch)
DUNVELT_FACTS_JSON(LaunchOutcome, started, startError, ended, exitCode, exitMeaning,
                   endDeadlineSeconds, runtimeStarted, runtimeId, runtimeStartedAfterMs,
                   runtimeEnded, runtimeExitCode, runtimeLivedMs, runtimeDeadlineSeconds,
                   runtimeCommand, watched, otherWindows, applicationShown, watchedMs,
                   endedByDoctor)

namespace {

// Each window shown during the launch, and whether the launch is to blame for it.
void JudgeWindows(const LaunchOutcome& launch, Findings& findings) {
  bool blamed = false;
  for (const LaunchOutcome::Window& window : launch.otherWindows) {
    const std::wstring image = Lower(window.imageName);
    const bool host =
        image == L"windowsterminal.exe" || image == L"openconsole.exe" || image == L"conhost.exe";
    if (!window.ofTheLaunch && !host) {
      // Anything else on a desktop may show a window meanwhile, a reminder or a notification:
      // named by its program only, since its title may be anybody's business.
      findings.push_back(Note("launch.other-window",
                              L"Another program showed a window while the launch was watched: " +
                                  (window.imageName.empty() ? std::wstring(L"a program that ended")
                                                            : window.imageName) +
                                  L" (pid " + std::to_wstring(window.processId) +
                                  L"). It is no part of the launch."));
      continue;
    }
    blamed = true;
    std::wstring advice = L" The launch must show no window but the application's.";
    if (image == L"windowsterminal.exe" || image == L"openconsole.exe") {
      advice +=
          L" Windows Terminal showed the hidden console: set the default terminal"
          L" application to Windows Console Host (Windows Settings, For developers,"
          L" Terminal; or Windows Terminal's settings, Startup, Default terminal"
          L" application).";
    } else if (image == L"conhost.exe" || image == L"cmd.exe") {
      advice +=
          L" The command interpreter's console was shown: is this Dunvelt.exe the shipped"
          L" one? The verification kit checks it.";
    }
    findings.push_back(Problem("launch.window-shown",
                               L"A window was shown: " + window.description + L"." + advice));
  }
  if (!blamed) {
    findings.push_back(
        Ok("launch.no-window", L"The launch showed no window but the application's, watched for " +
                                   Seconds(launch.watchedMs) + L"."));
  }
}

}  // namespace

CheckResult LaunchCheck::Judge(const LaunchOutcome& facts) {
  const LaunchOutcome& launch = facts;
  CheckResult result{{Announcement()}, false, {}};
  Findings& findings = result.findings;
  if (!launch.started) {
    findings.push_back(Problem("launch.not-started",
                               L"Dunvelt.exe could not be started as a double-click starts it (" +
                                   launch.startError +
                                   L"): if a security program or policy blocks it, ask the"
                                   L" administrator to allow it."));
    return result;
  }

  if (!launch.ended) {
    findings.push_back(
        Problem("launch.launcher-hangs",
                L"Dunvelt.exe did not end within " + std::to_wstring(launch.endDeadlineSeconds) +
                    L" s; it must end at once. Is this Dunvelt.exe the shipped one?" +
                    EndedByDoctor(launch.endedByDoctor)));
  } else if (launch.exitCode != 0) {
    findings.push_back(Problem("launch.launcher-failed",
                               L"Dunvelt.exe ended with code " + std::to_wstring(launch.exitCode) +
                                   L" (" + launch.exitMeaning +
                                   L"): the shell could not start cmd.exe. See the interpreter's"
                                   L" findings above."));
  } else {
    findings.push_back(Ok("launch.launcher-ends", L"Dunvelt.exe ended at once with code 0."));
  }

  // The runtime's own message goes to the hidden console, where nobody reads it.
  const std::wstring consoleAdvice =
      L"open a console in the install folder and type: " + launch.runtimeCommand;
  if (!launch.runtimeStarted) {
    findings.push_back(
        Problem("launch.no-runtime", L"No runtime started within " +
                                         std::to_wstring(launch.runtimeDeadlineSeconds) +
                                         L" s of the launch: the launcher's command did not reach"
                                         L" bin\\java.exe. See the problems above; to read what the"
                                         L" interpreter says, " +
                                         consoleAdvice + EndedByDoctor(launch.endedByDoctor)));
  } else {
    const std::wstring started = L"The runtime started (bin\\java.exe, pid " +
                                 std::to_wstring(launch.runtimeId) + L") " +
                                 Seconds(launch.runtimeStartedAfterMs) + L" after the launch";
    if (!launch.runtimeEnded) {
      findings.push_back(
          Ok("launch.runtime-runs",
             started + L", and is left running" +
                 (launch.applicationShown ? L" with the application's window." : L".")));
    } else if (launch.runtimeExitCode != 0) {
      findings.push_back(Problem("launch.runtime-failed",
                                 started + L", but ended after " + Seconds(launch.runtimeLivedMs) +
                                     L" with code " + std::to_wstring(launch.runtimeExitCode) +
                                     L": it refused the command or could not start the application."
                                     L" To read why, " +
                                     consoleAdvice));
    } else {
      findings.push_back(
          Warning("launch.runtime-ended",
                  started + L", and ended by itself after " + Seconds(launch.runtimeLivedMs) +
                      L" with code 0" +
                      (launch.applicationShown ? L"."
                                               : L", without a window. If the application did not"
                                                 L" appear, " +
                                                     consoleAdvice)));
    }
  }

  if (!launch.watched) {
    findings.push_back(Warning(
        "launch.not-watched",
        L"Cannot tell whether a window was shown: the window watch did not see its canary, a"
        L" window shown on purpose by another program, so it cannot see this desktop."));
    return result;
  }
  JudgeWindows(launch, findings);
  return result;
}

Finding LaunchCheck::Announcement() {
  return Note("launch.starting",
              L"Starting Dunvelt.exe: the application will open. The doctor leaves it running.");
}

Finding LaunchNotAsked() {
  return Note("launch.not-asked", L"Dunvelt.exe was not started, as asked (--no-launch).");
}

Finding LaunchStopped() {
  return Note("launch.left-out",
              L"Dunvelt.exe was not started: the problems above stop every launch. Mend them,"
              L" then run the doctor again.");
}

}  // namespace dunvelt::doctor
