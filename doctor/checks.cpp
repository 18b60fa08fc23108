#include "checks.h"

#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include <algorithm>
#include <array>
#include <set>
#include <vector>

#include "launch_parameters.h"
#include "paths.h"
#include "platform_text.h"
#include "process_runner.h"
#include "unique_handle.h"
#include "window_watch.h"

namespace dunvelt::doctor {
namespace {

// Bounds, not expectations: a loaded machine or a virus scanner can make a start take seconds.
// A hanging probe is a problem that stops the launch check, so that the doctor ends within about
// 20 s when everything hangs, and within about 35 s when only the launch does. The runtime's second
// run, with -Xshare:on, follows only a dry run that passed; when it hangs it adds its own 10 s and
// stops nothing.
constexpr DWORD RuntimeDeadlineMs = 10000;
constexpr DWORD InterpreterDeadlineMs = 10000;
constexpr DWORD LaunchDeadlineMs = 15000;
// Once the application's window is there, the launch goes on being watched for this long, unless
// the runtime ends: a console may be shown after it, and a terminal that takes over a console
// shows it a moment after the console is made. Without a watch, as long after the runtime started.
constexpr DWORD WatchAfterApplicationMs = 3000;
constexpr DWORD PollMs = 10;
constexpr DWORD MsPerSecond = 1000;
constexpr int Decimal = 10;
constexpr std::size_t ReadChunk = 4096;

// The doctor runs itself with this switch to start a program through the shell, as the launcher
// and Explorer do, inside a job of the doctor's: ShellExecuteExW cannot start a program suspended
// or in a job of its own.
constexpr const wchar_t* ShellStartSwitch = L"--dunvelt-doctor-shell-start";

std::wstring OwnPath() {
  std::wstring path(MAX_PATH * 4, L'\0');
  path.resize(GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
  return path;
}

ULONGLONG DeadlineIn(DWORD ms) { return GetTickCount64() + ms; }

DWORD ElapsedMs(ULONGLONG since) { return static_cast<DWORD>(GetTickCount64() - since); }

std::wstring FromCodePage(const std::string& bytes, UINT codePage) {
  std::wstring text(bytes.size(), L'\0');
  text.resize(MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()),
                                  text.data(), static_cast<int>(text.size())));
  return text;
}

// What the helper that ran the shell said: "started PID" or "failed ERROR".
struct ShellStart {
  bool answered = false;
  bool started = false;
  DWORD number = 0;
};

ShellStart ReadShellStart(const std::string& output) {
  ShellStart start;
  const std::size_t end = output.find('\n');
  if (end == std::string::npos) return start;
  const std::string line = output.substr(0, end);
  const std::size_t space = line.find(' ');
  if (space == std::string::npos) return start;
  start.answered = true;
  start.started = line.substr(0, space) == "started";
  start.number = static_cast<DWORD>(std::strtoul(line.c_str() + space + 1, nullptr, Decimal));
  return start;
}

// Starts `file` through the shell, in `folder`, with the doctor's helper inside a job.
std::wstring ShellStartCommand(int show, const std::wstring& folder, const std::wstring& file,
                               const std::wstring& parameters) {
  std::wstring command = QuotedArgument(OwnPath()) + L" " + ShellStartSwitch + L" " +
                         std::to_wstring(show) + L" " + QuotedArgument(folder) + L" " +
                         QuotedArgument(file);
  if (!parameters.empty()) command += L" " + QuotedArgument(parameters);
  return command;
}

std::vector<JavaOption> JavaOptions() {
  std::vector<JavaOption> options;
  for (const wchar_t* name : {L"JDK_JAVA_OPTIONS", L"_JAVA_OPTIONS", L"JAVA_TOOL_OPTIONS"}) {
    std::wstring value(GetEnvironmentVariableW(name, nullptr, 0), L'\0');
    value.resize(GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size())));
    if (!value.empty()) options.push_back({name, value});
  }
  return options;
}

// --- The interpreter -------------------------------------------------------------------------

std::wstring RegistryText(HKEY root, const wchar_t* key, const wchar_t* name, REGSAM view) {
  HKEY opened = nullptr;
  if (RegOpenKeyExW(root, key, 0, KEY_QUERY_VALUE | view, &opened) != ERROR_SUCCESS) return {};
  DWORD type = 0;
  DWORD bytes = 0;
  std::wstring text;
  if (RegQueryValueExW(opened, name, nullptr, &type, nullptr, &bytes) == ERROR_SUCCESS &&
      (type == REG_SZ || type == REG_EXPAND_SZ)) {
    text.resize(bytes / sizeof(wchar_t) + 1);
    bytes = static_cast<DWORD>(text.size()) * static_cast<DWORD>(sizeof(wchar_t));
    if (RegQueryValueExW(opened, name, nullptr, &type, reinterpret_cast<BYTE*>(text.data()),
                         &bytes) != ERROR_SUCCESS) {
      bytes = 0;
    }
    text.resize(bytes / sizeof(wchar_t));
    while (!text.empty() && text.back() == L'\0') text.pop_back();
  }
  RegCloseKey(opened);
  return text;
}

DWORD RegistryNumber(HKEY root, const wchar_t* key, const wchar_t* name) {
  DWORD value = 0;
  DWORD bytes = sizeof value;
  if (RegGetValueW(root, key, name, RRF_RT_REG_DWORD, nullptr, &value, &bytes) != ERROR_SUCCESS) {
    return 0;
  }
  return value;
}

bool OnSixtyFourBitWindows() {
  BOOL wow64 = FALSE;
  return IsWow64Process(GetCurrentProcess(), &wow64) != FALSE && wow64 != FALSE;
}

// The AutoRun commands cmd.exe runs before every command. This doctor is 32-bit like the launcher,
// so on 64-bit Windows the cmd.exe both start reads HKLM's 32-bit view.
std::vector<AutoRun> AutoRuns() {
  constexpr const wchar_t* Key = L"Software\\Microsoft\\Command Processor";
  constexpr const wchar_t* Value = L"AutoRun";
  const std::wstring machineKey = L"HKLM\\Software\\Microsoft\\Command Processor";
  std::vector<AutoRun> autoRuns;
  const auto add = [&](std::wstring where, std::wstring command) {
    if (!command.empty()) autoRuns.push_back({std::move(where), std::move(command)});
  };
  if (OnSixtyFourBitWindows()) {
    add(machineKey + L", 32-bit view, which the launcher's cmd.exe reads",
        RegistryText(HKEY_LOCAL_MACHINE, Key, Value, KEY_WOW64_32KEY));
    add(machineKey + L", 64-bit view, which 64-bit programs' cmd.exe reads",
        RegistryText(HKEY_LOCAL_MACHINE, Key, Value, KEY_WOW64_64KEY));
  } else {
    add(machineKey, RegistryText(HKEY_LOCAL_MACHINE, Key, Value, 0));
  }
  add(L"HKCU\\Software\\Microsoft\\Command Processor",
      RegistryText(HKEY_CURRENT_USER, Key, Value, 0));
  return autoRuns;
}

// What cmd.exe printed to the pipe, read until it closes the pipe or the deadline: "cmd /U" writes
// UTF-16, so that any folder's name survives.
std::wstring ReadPipe(HANDLE pipe, BoundedRun& run) {
  OVERLAPPED overlapped{};
  const UniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  overlapped.hEvent = event.get();
  // Waits for the pending operation, taking in the job's news meanwhile; false when it did not
  // complete by the deadline, or when nothing is left that could complete it.
  const auto completes = [&]() {
    while (WaitForSingleObject(event.get(), PollMs) != WAIT_OBJECT_0) {
      run.Poll(0);
      if (run.DeadlinePassed() || run.TreeEnded()) {
        if (WaitForSingleObject(event.get(), 0) == WAIT_OBJECT_0) return true;
        CancelIo(pipe);
        return false;
      }
    }
    return true;
  };
  if (ConnectNamedPipe(pipe, &overlapped) == FALSE && GetLastError() == ERROR_IO_PENDING &&
      !completes()) {
    return {};
  }
  std::string bytes;
  std::array<char, ReadChunk> buffer{};
  while (bytes.size() < OutputCap) {
    DWORD got = 0;
    ResetEvent(event.get());
    if (ReadFile(pipe, buffer.data(), static_cast<DWORD>(buffer.size()), &got, &overlapped) ==
        FALSE) {
      if (GetLastError() != ERROR_IO_PENDING || !completes() ||
          GetOverlappedResult(pipe, &overlapped, &got, FALSE) == FALSE) {
        break;
      }
    }
    if (got == 0) break;
    bytes.append(buffer.data(), got);
  }
  std::wstring text(bytes.size() / sizeof(wchar_t), L'\0');
  bytes.copy(reinterpret_cast<char*>(text.data()), text.size() * sizeof(wchar_t));
  while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r')) text.pop_back();
  return text;
}

// --- The launch ------------------------------------------------------------------------------

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
  LaunchFollower(BoundedRun& run, const WindowWatch& watch, bool watched, std::wstring runtimePath,
                 std::wstring launcherPath)
      : run_(run),
        watch_(watch),
        watched_(watched),
        runtimePath_(std::move(runtimePath)),
        launcherPath_(std::move(launcherPath)),
        started_(GetTickCount64()) {}

  // Until the application has been shown a moment, or the runtime has ended, or nothing is left
  // that could start it; and the launcher has ended; or until the deadline.
  void Follow() {
    while (Worth()) run_.Poll(PollMs);
    const HANDLE launcher = Find(launcherPath_).handle;
    while (launcher != nullptr && !Ended(launcher) && !run_.DeadlinePassed()) run_.Poll(PollMs);
    run_.Poll(0);
  }

  void Note(LaunchOutcome& outcome) const {
    const ShellStart shell = ReadShellStart(run_.Output());
    const Found launcher = Find(launcherPath_);
    outcome.started = shell.started && launcher.handle != nullptr;
    if (!outcome.started) {
      outcome.startError = shell.answered ? ErrorText(shell.number)
                                          : std::wstring(L"the doctor could not follow it");
      return;
    }
    outcome.ended = Ended(launcher.handle);
    outcome.exitCode = ExitCodeOf(launcher.handle);
    if (outcome.ended && outcome.exitCode != 0) outcome.exitMeaning = ErrorText(outcome.exitCode);
    const Found runtime = Find(runtimePath_);
    if (runtime.handle == nullptr) return;
    outcome.runtimeStarted = true;
    outcome.runtimeId = runtime.id;
    outcome.runtimeStartedAfterMs = static_cast<std::uint32_t>(
        (runtimeSeen_ == 0 ? GetTickCount64() : runtimeSeen_) - started_);
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

  [[nodiscard]] Found Find(const std::wstring& path) const {
    for (const TreeProcess& process : run_.Tree()) {
      if (process.handle && !process.image.empty() &&
          SamePath(CanonicalPath(process.image), path)) {
        return {process.id, process.handle.get()};
      }
    }
    return {};
  }

  bool Worth() {
    if (run_.DeadlinePassed()) return false;
    const ShellStart shell = ReadShellStart(run_.Output());
    if (shell.answered && !shell.started) return false;
    const Found runtime = Find(runtimePath_);
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
  std::wstring runtimePath_;
  std::wstring launcherPath_;
  ULONGLONG started_;
  ULONGLONG runtimeSeen_ = 0;
  ULONGLONG applicationSeen_ = 0;
};

}  // namespace

bool RunShellStartIfAsked(int argc, wchar_t** argv, int& exitCode) {
  // The switch, how to show it, the folder, the file and maybe its parameters.
  enum Argument { Switch = 1, Show, Folder, File, Parameters, WithParameters };
  if (argc < Parameters || argc > WithParameters ||
      std::wstring(argv[Switch]) != ShellStartSwitch) {
    return false;
  }
  // As the launcher does before it asks the shell.
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  SHELLEXECUTEINFOW request{};
  request.cbSize = sizeof request;
  request.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
  request.lpFile = argv[File];
  request.lpParameters = argc == WithParameters ? argv[Parameters] : nullptr;
  request.lpDirectory = argv[Folder];
  request.nShow = static_cast<int>(std::wcstol(argv[Show], nullptr, Decimal));
  const bool started = ShellExecuteExW(&request) != FALSE;
  const DWORD number = started ? GetProcessId(request.hProcess) : GetLastError();
  if (request.hProcess != nullptr) CloseHandle(request.hProcess);
  const std::string said =
      std::string(started ? "started " : "failed ") + std::to_string(number) + "\n";
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), said.data(), static_cast<DWORD>(said.size()), &written,
            nullptr);
  if (com >= 0) CoUninitialize();
  exitCode = started ? 0 : 1;
  return true;
}

namespace {

// The runtime started as the interpreter starts it, hidden, in the install folder, on the
// arguments.
void RunRuntime(const Install& install, const std::wstring& arguments, RuntimeRun& probe) {
  probe.deadlineSeconds = RuntimeDeadlineMs / MsPerSecond;
  const std::wstring runtime = RuntimePath(install);
  const ULONGLONG start = GetTickCount64();
  BoundedRun run(runtime, QuotedArgument(runtime) + L" " + arguments, install.folder,
                 CREATE_NO_WINDOW, DeadlineIn(RuntimeDeadlineMs));
  probe.started = run.Started();
  if (!probe.started) {
    probe.startError = ErrorText(run.StartError());
    return;
  }
  probe.ended = run.WaitForProgram();
  probe.tookMs = ElapsedMs(start);
  probe.exitCode = run.ProgramExitCode();
  const std::vector<std::wstring> left = run.EndTree();
  if (!probe.ended) probe.endedByDoctor = left;
  // The JVM writes its messages in the ANSI code page when they do not go to a console.
  probe.output = FromCodePage(run.Output(), CP_ACP);
  probe.outputCut = run.OutputCut();
}

}  // namespace

Findings CheckRuntimeStart(const Install& install) {
  RuntimeProbe probe;
  probe.javaOptions = JavaOptions();
  RunRuntime(install, DryRunArguments(), probe);
  // Only a runtime that starts can be asked whether it starts with an archive.
  if (probe.started && probe.ended && probe.exitCode == 0) {
    RunRuntime(install, ArchiveRunArguments(), probe.archive);
  }
  return JudgeRuntimeStart(probe);
}

Findings CheckInterpreter(const Install& install) {
  InterpreterProbe probe;
  probe.installFolder = install.folder;
  probe.networkPath = IsNetworkPath(install.folder);
  probe.autoRuns = AutoRuns();
  probe.disableCmd = RegistryNumber(
      HKEY_CURRENT_USER, L"Software\\Policies\\Microsoft\\Windows\\System", L"DisableCMD");
  probe.deadlineSeconds = InterpreterDeadlineMs / MsPerSecond;

  // Its answer comes back through a pipe, so that nothing is written on the machine.
  const std::wstring pipeName = L"\\\\.\\pipe\\dunvelt-doctor-" +
                                std::to_wstring(GetCurrentProcessId()) + L"-" +
                                std::to_wstring(GetTickCount64());
  const UniqueHandle pipe(CreateNamedPipeW(
      pipeName.c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
      PIPE_TYPE_BYTE | PIPE_WAIT, 1, 0, 0, 0, nullptr));
  if (pipe.get() == INVALID_HANDLE_VALUE) {
    probe.startError = ErrorText(GetLastError());
    return JudgeInterpreter(probe);
  }
  // As the launcher does: the shell runs "cmd.exe", hidden, in the install folder.
  BoundedRun run({},
                 ShellStartCommand(SW_HIDE, install.folder, L"cmd.exe", L"/U /C cd >" + pipeName),
                 {}, DETACHED_PROCESS, DeadlineIn(InterpreterDeadlineMs));
  if (!run.Started()) {
    probe.startError = ErrorText(run.StartError());
    return JudgeInterpreter(probe);
  }
  ShellStart shell;
  while (!(shell = ReadShellStart(run.Output())).answered && !run.ProgramEnded() &&
         !run.DeadlinePassed()) {
    run.Poll(PollMs);
  }
  if (!shell.answered || !shell.started) {
    probe.startError =
        shell.answered ? ErrorText(shell.number) : L"the doctor's helper said nothing";
    return JudgeInterpreter(probe);
  }
  probe.started = true;
  probe.ranIn = ReadPipe(pipe.get(), run);
  probe.answered = !probe.ranIn.empty();
  probe.ranInInstallFolder =
      probe.answered && SamePath(CanonicalPath(probe.ranIn), CanonicalPath(install.folder));
  probe.ended = run.WaitForTree();
  if (!probe.ended) probe.endedByDoctor = run.EndTree();
  return JudgeInterpreter(probe);
}

Findings CheckLaunch(const Install& install) {
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
    outcome.startError = ErrorText(run.StartError());
    watch.Stop();
    return JudgeLaunch(outcome);
  }
  LaunchFollower follower(run, watch, outcome.watched, runtimePath,
                          CanonicalPath(install.launcher));
  follower.Follow();
  follower.Note(outcome);
  for (const ShownWindow& window : watch.Stop()) {
    if (window.application) {
      outcome.applicationShown = true;
    } else {
      outcome.otherWindows.push_back({Describe(window), FileName(window.image), window.processId,
                                      follower.OfTheLaunch(window.processId)});
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
  return JudgeLaunch(outcome);
}

}  // namespace dunvelt::doctor
