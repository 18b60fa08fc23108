// The launch's facts: Dunvelt.exe started through the shell as a double-click starts it, inside a
// job, followed until the runtime runs or nothing is left that could start it, while the window
// watch looks at every window on the desktop.
#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <map>
#include <vector>

#include "bounded_run.h"
#include "files_windows.h"
#include "launch.h"
#include "paths.h"
#include "platform_error.h"
#include "runtime.h"
#include "shell_start.h"
#include "window_watch.h"

namespace dunvelt::doctor {
namespace {

// A bound, not an expectation: the first start of a runtime that a virus scanner reads file by
// file from a slow disk takes tens of seconds, and works. Slow is a warning, not a failure.
constexpr DWORD LaunchDeadlineMs = 60000;
// Once the application's window is there, the launch goes on being watched for this long, unless
// the runtime ends: a console may be shown after it, and a terminal that takes over a console
// shows it a moment after the console is made. Without a watch, as long after the runtime started.
constexpr DWORD WatchAfterApplicationMs = 3000;
constexpr DWORD PollMs = 10;
constexpr DWORD MsPerSecond = 1000;

bool Ended(HANDLE process) { return WaitForSingleObject(process, 0) == WAIT_OBJECT_0; }

std::uint32_t ExitCodeOf(HANDLE process) {
  DWORD code = 0;
  GetExitCodeProcess(process, &code);
  return code;
}

DWORD LifetimeMs(HANDLE process) {
  FILETIME created{};
  FILETIME exited{};
  FILETIME kernel{};
  FILETIME user{};
  if (GetProcessTimes(process, &created, &exited, &kernel, &user) == FALSE) return 0;
  const auto ticks = [](const FILETIME& time) {
    ULARGE_INTEGER value{};
    value.LowPart = time.dwLowDateTime;
    value.HighPart = time.dwHighDateTime;
    return value.QuadPart;
  };
  constexpr ULONGLONG TicksPerMs = 10000;
  return static_cast<DWORD>((ticks(exited) - ticks(created)) / TicksPerMs);
}

// Follows one launch in its job: the launcher, the interpreters it starts and the runtime, found
// by its image among the launch's processes, so that no process that ran before can be taken for
// it.
class LaunchFollower {
 public:
  LaunchFollower(BoundedRun& run, const WindowWatch& watch, bool watched,
                 const std::wstring& runtimePath, const std::wstring& launcherPath)
      : run_(run),
        watch_(watch),
        watched_(watched),
        runtime_(IdentityOf(runtimePath)),
        launcher_(IdentityOf(launcherPath)),
        started_(GetTickCount64()) {}

  // Until the application has been shown a moment, or the runtime has ended, or nothing is left
  // that could start it; and the launcher has ended; or until the deadline.
  void Follow() {
    while (Worth()) run_.Poll(PollMs);
    const HANDLE launcher = Find(launcher_).handle;
    while (launcher != nullptr && !Ended(launcher) && !run_.DeadlinePassed()) run_.Poll(PollMs);
    run_.Poll(0);
  }

  void Note(LaunchOutcome& outcome) const {
    const ShellStart shell = ReadShellStart(run_.Output());
    const Found launcher = Find(launcher_);
    outcome.started = shell.started && launcher.handle != nullptr;
    if (!outcome.started) {
      // Still inside the shell's start at the deadline: the shell holds it, with a prompt or not.
      outcome.shellHeld = !shell.answered && !run_.ProgramEnded();
      outcome.startError =
          shell.answered && !shell.started ? ErrorText(static_cast<DWORD>(shell.number))
          : outcome.shellHeld              ? L"the shell did not answer within " +
                                    std::to_wstring(LaunchDeadlineMs / MsPerSecond) + L" s"
                              : std::wstring(L"the doctor could not follow it");
      return;
    }
    outcome.ended = Ended(launcher.handle);
    outcome.exitCode = ExitCodeOf(launcher.handle);
    if (outcome.ended && outcome.exitCode != 0) outcome.exitMeaning = ErrorText(outcome.exitCode);
    const Found runtime = Find(runtime_);
    if (runtime.handle == nullptr) return;
    outcome.runtimeStarted = true;
    outcome.runtimeId = runtime.id;
    outcome.runtimeStartedAfterMs = static_cast<std::uint32_t>(
        (runtimeSeen_ == 0 ? GetTickCount64() : runtimeSeen_) - started_);
    if (applicationSeen_ != 0) {
      outcome.applicationShownAfterMs = static_cast<std::uint32_t>(applicationSeen_ - started_);
    }
    outcome.runtimeEnded = Ended(runtime.handle);
    if (outcome.runtimeEnded) {
      outcome.runtimeExitCode = ExitCodeOf(runtime.handle);
      outcome.runtimeLivedMs = LifetimeMs(runtime.handle);
    }
  }

  [[nodiscard]] bool OfTheLaunch(DWORD processId) const {
    const std::vector<TreeProcess>& tree = run_.Tree();
    return std::any_of(tree.begin(), tree.end(),
                       [&](const TreeProcess& process) { return process.id == processId; });
  }

 private:
  struct Found {
    DWORD id = 0;
    HANDLE handle = nullptr;  // owned by the run
  };

  // By the file its image is, not the path's spelling: Windows names a process's image by the
  // path it resolved, through a junction, a symbolic link or a subst drive.
  [[nodiscard]] Found Find(const FileIdentity& file) const {
    for (const TreeProcess& process : run_.Tree()) {
      if (!process.handle || process.image.empty()) continue;
      auto known = images_.find(process.id);
      if (known == images_.end()) {
        known = images_.emplace(process.id, IdentityOf(process.image)).first;
      }
      if (SameFile(known->second, file)) return {process.id, process.handle.get()};
    }
    return {};
  }

  bool Worth() {
    if (run_.DeadlinePassed()) return false;
    const ShellStart shell = ReadShellStart(run_.Output());
    if (shell.answered && !shell.started) return false;
    const Found runtime = Find(runtime_);
    if (runtime.handle == nullptr) return !run_.TreeEnded();
    if (runtimeSeen_ == 0) runtimeSeen_ = GetTickCount64();
    if (applicationSeen_ == 0 && watch_.WaitForApplication(0)) applicationSeen_ = GetTickCount64();
    // Without a watch there is nothing to wait for but the runtime's first moments.
    const ULONGLONG since = watched_ ? applicationSeen_ : runtimeSeen_;
    return !Ended(runtime.handle) && (since == 0 || ElapsedMs(since) < WatchAfterApplicationMs);
  }

  BoundedRun& run_;
  const WindowWatch& watch_;
  bool watched_;
  FileIdentity runtime_;
  FileIdentity launcher_;
  mutable std::map<DWORD, FileIdentity> images_;  // of the launch's processes, read once each
  ULONGLONG started_;
  ULONGLONG runtimeSeen_ = 0;
  ULONGLONG applicationSeen_ = 0;
};

}  // namespace

LaunchOutcome LaunchCheck::Gather(const Install& install) {
  LaunchOutcome outcome;
  outcome.endDeadlineSeconds = LaunchDeadlineMs / MsPerSecond;
  outcome.runtimeDeadlineSeconds = LaunchDeadlineMs / MsPerSecond;
  outcome.runtimeCommand = ConsoleCommand();
  const std::wstring runtimePath = CanonicalPath(RuntimePath(install));

  WindowWatch watch(runtimePath);
  outcome.watched = watch.Start();
  // As Explorer starts a double-clicked program: the default verb, shown, in its folder.
  BoundedRun run({}, ShellStartCommand(SW_SHOWNORMAL, install.folder, install.launcher, {}), {},
                 DETACHED_PROCESS, DeadlineIn(LaunchDeadlineMs));
  if (!run.Started()) {
    outcome.startError = Describe(run.StartError());
    watch.Stop();
    return outcome;
  }
  outcome.withoutOwnJob = run.WithoutOwnJob();
  LaunchFollower follower(run, watch, outcome.watched, runtimePath,
                          CanonicalPath(install.launcher));
  follower.Follow();
  follower.Note(outcome);
  const DWORD shellStart = run.Tree().front().id;
  for (const ShownWindow& window : watch.Stop()) {
    if (window.application) {
      outcome.applicationShown = true;
    } else {
      outcome.otherWindows.push_back({Describe(window), FileName(window.image), window.processId,
                                      follower.OfTheLaunch(window.processId),
                                      window.processId == shellStart});
    }
  }
  outcome.watchedMs = static_cast<std::uint32_t>(watch.Figures().watchedMs);
  // A runtime that runs is the application the user asked for: it, and the interpreter that
  // waits for it, stay. Anything else the launch left is ended.
  if (outcome.runtimeStarted && !outcome.runtimeEnded) {
    run.LetGo();
  } else {
    outcome.endedByDoctor = run.EndTree();
  }
  return outcome;
}

}  // namespace dunvelt::doctor
