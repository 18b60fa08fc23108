#include "launch.h"

#include "facts_json.h"
#include "text.h"

namespace dunvelt::doctor {

DUNVELT_FACTS_JSON(LaunchOutcome::Window, description, imageName, processId, ofTheLaunch,
                   ofTheShellStart)
DUNVELT_FACTS_JSON(LaunchOutcome, started, startError, shellHeld, withoutOwnJob, ended, exitCode,
                   exitMeaning, endDeadlineSeconds, runtimeStarted, runtimeId,
                   runtimeStartedAfterMs, runtimeEnded, runtimeExitCode, runtimeLivedMs,
                   runtimeDeadlineSeconds, runtimeCommand, watched, otherWindows, applicationShown,
                   applicationShownAfterMs, watchedMs, endedByDoctor)

namespace {

// Past this, a start that works is still one that users wait for, and may start again.
constexpr std::uint32_t SlowLaunchMs = 10000;

// A window in which Windows asks the user before it starts a program: the shell's security
// warning, shown by the process that asked the shell, or SmartScreen's. It is neither the
// launch's fault nor another program's business.
bool IsPrompt(const LaunchOutcome::Window& window) {
  return window.ofTheShellStart || Lower(window.imageName) == L"smartscreen.exe";
}

std::wstring PromptName(const LaunchOutcome::Window& window) {
  return window.ofTheShellStart ? L"the shell's security warning (" + window.description + L")"
                                : L"SmartScreen's window (" + window.description + L")";
}

// What a double-click meets before the start, and what lifts it.
std::wstring PromptAdvice() {
  return L" A double-click on this install meets it too, and waits for the user. Windows asks so"
         L" of files that carry the mark of the web, from a download or a zip extracted by"
         L" Explorer (see above): unblock the install's files, or sign them so that SmartScreen"
         L" knows them.";
}

const LaunchOutcome::Window* FirstPrompt(const LaunchOutcome& launch) {
  for (const LaunchOutcome::Window& window : launch.otherWindows) {
    if (IsPrompt(window)) return &window;
  }
  return nullptr;
}

// Each window shown during the launch, and whether the launch is to blame for it.
void JudgeWindows(const LaunchOutcome& launch, Findings& findings) {
  bool blamed = false;
  for (const LaunchOutcome::Window& window : launch.otherWindows) {
    const std::wstring image = Lower(window.imageName);
    const bool host =
        image == L"windowsterminal.exe" || image == L"openconsole.exe" || image == L"conhost.exe";
    if (IsPrompt(window)) {
      findings.push_back(Warning("launch.prompt", L"Windows asked before it started Dunvelt.exe: " +
                                                      PromptName(window) + L"." + PromptAdvice()));
      continue;
    }
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

// Whether the launcher started; what kept it from starting, or what the doctor could not hold.
bool JudgeStart(const LaunchOutcome& launch, Findings& findings) {
  if (launch.withoutOwnJob) {
    // "AssignProcessToJobObject function" on Microsoft Learn: a process in a job joins a second
    // one only where jobs nest (Windows 8 on) and neither has UI limits.
    findings.push_back(Note("launch.not-contained",
                            L"Cannot tell whether the launch left anything running that the"
                            L" doctor did not see: the doctor runs inside a job that lets nothing"
                            L" out of it (a scheduled task's or a build agent's), so the launch"
                            L" ran without a job of the doctor's own. It followed the processes"
                            L" it saw; run the doctor from a console of the user's own to be"
                            L" sure."));
  }
  if (!launch.started) {
    if (const LaunchOutcome::Window* prompt = FirstPrompt(launch);
        launch.shellHeld && prompt != nullptr) {
      findings.push_back(Problem(
          "launch.held-by-prompt",
          L"Dunvelt.exe did not start within " + std::to_wstring(launch.endDeadlineSeconds) +
              L" s: Windows held the start with " + PromptName(*prompt) +
              L", which the doctor does not answer. If it is still open, close it with \"Don't"
              L" run\"." +
              PromptAdvice()));
      return false;
    }
    findings.push_back(Problem("launch.not-started",
                               L"Dunvelt.exe could not be started as a double-click starts it (" +
                                   launch.startError +
                                   L"): if a security program or policy blocks it, ask the"
                                   L" administrator to allow it."));
    return false;
  }
  return true;
}

}  // namespace

CheckResult LaunchCheck::Judge(const LaunchOutcome& facts) {
  const LaunchOutcome& launch = facts;
  CheckResult result{{Announcement()}, false, {}};
  Findings& findings = result.findings;
  if (!JudgeStart(launch, findings)) return result;

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
                                     L" with code " + ExitCodeText(launch.runtimeExitCode) +
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

  // A start that works, however slowly, is no hang; its time is a fact worth a warning.
  const std::uint32_t openedAfterMs =
      launch.applicationShown ? launch.applicationShownAfterMs : launch.runtimeStartedAfterMs;
  if (launch.runtimeStarted && (!launch.runtimeEnded || launch.runtimeExitCode == 0) &&
      openedAfterMs > SlowLaunchMs) {
    findings.push_back(Warning(
        "launch.slow",
        (launch.applicationShown ? L"The application's window appeared "
                                 : L"The runtime started ") +
            Seconds(openedAfterMs) +
            L" after the launch. It works, but a user waits that long after a double-click and"
            L" may start it again. A virus scanner that reads the runtime's files on its first"
            L" start, or a slow disk, makes it so; a second start is usually quicker."));
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
