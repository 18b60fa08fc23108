#include "checks.h"

#include <windows.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <algorithm>
#include <array>
#include <memory>
#include <set>
#include <vector>

#include "launch_parameters.h"
#include "paths.h"
#include "platform_text.h"
#include "unique_handle.h"
#include "window_watch.h"

namespace dunvelt::doctor {
namespace {

// Bounds, not expectations: a loaded machine, a virus scanner or emulation can make a start take
// many seconds.
constexpr DWORD ProbeDeadlineMs = 60000;
constexpr DWORD LauncherDeadlineMs = 60000;
constexpr DWORD RuntimeDeadlineMs = 60000;
// Once the runtime runs, the launch goes on being watched for this long, unless the runtime ends:
// a console may be shown after the application's window, as Wine shows the interpreter's, and a
// terminal that takes over a console shows it a moment after the console is made.
constexpr DWORD WatchAfterRuntimeMs = 3000;
constexpr DWORD PollMs = 10;
constexpr DWORD MsPerSecond = 1000;
constexpr std::size_t ReadChunk = 4096;

struct CommandOutcome {
  bool started = false;
  DWORD startError = 0;
  bool ended = false;
  DWORD exitCode = 0;
  std::string output;  // standard output and error together
};

// Reads what the pipe holds now, without waiting for more.
void ReadAvailable(HANDLE pipe, std::string& output) {
  std::array<char, ReadChunk> buffer{};
  DWORD available = 0;
  DWORD got = 0;
  while (PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) != FALSE && available > 0 &&
         ReadFile(pipe, buffer.data(), std::min<DWORD>(available, buffer.size()), &got, nullptr) !=
             FALSE &&
         got > 0) {
    output.append(buffer.data(), got);
  }
}

// Runs the install's runtime hidden, with no console window, in the install folder, and collects
// what it prints until it ends or the deadline comes; at the deadline it is ended. The pipe is
// only read when it holds something, so that a program the runtime started, holding the pipe on,
// cannot keep the doctor waiting.
CommandOutcome RunRuntime(const Install& install, const wchar_t* arguments) {
  const std::wstring program = RuntimePath(install);
  CommandOutcome outcome;
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  if (CreatePipe(&readEnd, &writeEnd, &inherit, 0) == FALSE) {
    outcome.startError = GetLastError();
    return outcome;
  }
  const UniqueHandle reading(readEnd);
  UniqueHandle writing(writeEnd);
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nullptr;
  startup.hStdOutput = writeEnd;
  startup.hStdError = writeEnd;
  std::wstring command = L"\"" + program + L"\" " + arguments;
  PROCESS_INFORMATION process{};
  if (CreateProcessW(program.c_str(), command.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                     nullptr, install.folder.c_str(), &startup, &process) == FALSE) {
    outcome.startError = GetLastError();
    return outcome;
  }
  outcome.started = true;
  const UniqueHandle child(process.hProcess);
  CloseHandle(process.hThread);
  writing.reset();
  const ULONGLONG started = GetTickCount64();
  while (!outcome.ended && GetTickCount64() - started < ProbeDeadlineMs) {
    outcome.ended = WaitForSingleObject(child.get(), PollMs) == WAIT_OBJECT_0;
    ReadAvailable(readEnd, outcome.output);
  }
  if (!outcome.ended) TerminateProcess(child.get(), 1);
  GetExitCodeProcess(child.get(), &outcome.exitCode);
  return outcome;
}

std::wstring FirstLine(const std::string& text) {
  const std::string line = text.substr(0, text.find_first_of("\r\n"));
  std::wstring wide(line.size(), L'\0');
  wide.resize(MultiByteToWideChar(CP_ACP, 0, line.data(), static_cast<int>(line.size()),
                                  wide.data(), static_cast<int>(wide.size())));
  return wide;
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

// What cmd.exe printed to the pipe: "cmd /U" writes UTF-16, so that any folder's name survives.
std::wstring ReadPipe(HANDLE pipe, HANDLE interpreter) {
  OVERLAPPED overlapped{};
  const UniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  overlapped.hEvent = event.get();
  if (ConnectNamedPipe(pipe, &overlapped) == FALSE && GetLastError() == ERROR_IO_PENDING) {
    const std::array<HANDLE, 2> waits{event.get(), interpreter};
    if (WaitForMultipleObjects(2, waits.data(), FALSE, ProbeDeadlineMs) != WAIT_OBJECT_0) {
      CancelIo(pipe);
      return {};
    }
  }
  std::string bytes;
  std::array<char, ReadChunk> buffer{};
  for (;;) {
    DWORD got = 0;
    ResetEvent(event.get());
    if (ReadFile(pipe, buffer.data(), buffer.size(), &got, &overlapped) == FALSE) {
      if (GetLastError() != ERROR_IO_PENDING ||
          WaitForSingleObject(event.get(), ProbeDeadlineMs) != WAIT_OBJECT_0 ||
          GetOverlappedResult(pipe, &overlapped, &got, FALSE) == FALSE) {
        CancelIo(pipe);
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

struct ProcessEntry {
  DWORD id;
  DWORD parent;
  std::wstring name;
};

std::vector<ProcessEntry> Processes() {
  std::vector<ProcessEntry> processes;
  const UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (snapshot.get() == INVALID_HANDLE_VALUE) return processes;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more != FALSE;
       more = Process32NextW(snapshot.get(), &entry)) {
    processes.push_back({entry.th32ProcessID, entry.th32ParentProcessID, entry.szExeFile});
  }
  return processes;
}

bool NameIs(const std::wstring& name, const wchar_t* expected) {
  return CompareStringOrdinal(name.c_str(), -1, expected, -1, TRUE) == CSTR_EQUAL;
}

// The processes that run the install's runtime, by their image.
std::set<DWORD> RuntimeProcesses(const std::vector<ProcessEntry>& processes,
                                 const std::wstring& runtime) {
  std::set<DWORD> found;
  const std::wstring name = FileName(runtime);
  for (const ProcessEntry& process : processes) {
    if (NameIs(process.name, name.c_str()) &&
        SamePath(CanonicalPath(ProcessImagePath(process.id)), runtime)) {
      found.insert(process.id);
    }
  }
  return found;
}

bool Ended(HANDLE process) { return WaitForSingleObject(process, 0) == WAIT_OBJECT_0; }

std::uint32_t ExitCodeOf(HANDLE process) {
  DWORD code = 0;
  GetExitCodeProcess(process, &code);
  return code;
}

DWORD ElapsedMs(ULONGLONG since) { return static_cast<DWORD>(GetTickCount64() - since); }

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

// Follows one launch as it runs: the launcher's process, the interpreters it starts, and the
// runtime, a process of the install's bin\java.exe that did not run before the launch.
class LaunchFollower {
 public:
  LaunchFollower(std::wstring runtimePath, HANDLE launcher, LaunchOutcome& outcome)
      : runtimePath_(std::move(runtimePath)),
        runningBefore_(RuntimeProcesses(Processes(), runtimePath_)),
        launcher_(launcher),
        launcherId_(GetProcessId(launcher)),
        started_(GetTickCount64()),
        outcome_(outcome) {}

  // Looks once; true while the launch is worth watching on: until the runtime has run a moment or
  // ended, or until nothing is left that could start it.
  bool Look() {
    if (!outcome_.ended && Ended(launcher_)) {
      outcome_.ended = true;
      outcome_.exitCode = ExitCodeOf(launcher_);
    }
    if (!runtime_) FindProcesses();
    if (outcome_.runtimeStarted) {
      return runtime_ && !Ended(runtime_.get()) && ElapsedMs(runtimeSeen_) <= WatchAfterRuntimeMs;
    }
    const bool interpretersEnded =
        !interpreters_.empty() &&
        std::all_of(interpreters_.begin(), interpreters_.end(),
                    [](const UniqueHandle& interpreter) { return Ended(interpreter.get()); });
    return !(outcome_.ended && (outcome_.exitCode != 0 || interpretersEnded)) &&
           ElapsedMs(started_) <= RuntimeDeadlineMs;
  }

  // Waits what is left of the deadline for the launcher to end, and notes how the runtime ended.
  void Finish() {
    if (!outcome_.ended) {
      const DWORD left = LauncherDeadlineMs - std::min(LauncherDeadlineMs, ElapsedMs(started_));
      outcome_.ended = WaitForSingleObject(launcher_, left) == WAIT_OBJECT_0;
      outcome_.exitCode = ExitCodeOf(launcher_);
    }
    if (outcome_.ended && outcome_.exitCode != 0) {
      outcome_.exitMeaning = ErrorText(outcome_.exitCode);
    }
    if (runtime_ && Ended(runtime_.get())) {
      outcome_.runtimeEnded = true;
      outcome_.runtimeExitCode = ExitCodeOf(runtime_.get());
      outcome_.runtimeLivedMs = LifetimeMs(runtime_.get());
    }
  }

 private:
  void FindProcesses() {
    const std::vector<ProcessEntry> processes = Processes();
    for (DWORD id : RuntimeProcesses(processes, runtimePath_)) {
      if (runningBefore_.count(id) != 0) continue;
      runtime_.reset(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, id));
      outcome_.runtimeStarted = true;
      outcome_.runtimeId = id;
      outcome_.runtimeStartedAfterMs = ElapsedMs(started_);
      runtimeSeen_ = GetTickCount64();
      return;
    }
    for (const ProcessEntry& process : processes) {
      if (process.parent == launcherId_ && interpreterIds_.insert(process.id).second) {
        interpreters_.emplace_back(OpenProcess(SYNCHRONIZE, FALSE, process.id));
      }
    }
  }

  std::wstring runtimePath_;
  std::set<DWORD> runningBefore_;
  HANDLE launcher_;
  DWORD launcherId_;
  ULONGLONG started_;
  LaunchOutcome& outcome_;
  UniqueHandle runtime_;
  ULONGLONG runtimeSeen_ = 0;
  std::vector<UniqueHandle> interpreters_;  // an interpreter that ended unseen is not here
  std::set<DWORD> interpreterIds_;
};

}  // namespace

Findings CheckRuntimeStart(const Install& install) {
  const std::wstring name = Wide(JavaRuntimePath);
  Findings findings;
  const std::string module = LaunchedModule();
  const std::wstring wideModule(module.begin(), module.end());
  const CommandOutcome listing = RunRuntime(install, L"--list-modules");
  const std::wstring asked = name + L" --list-modules";
  if (!listing.started) {
    findings.push_back({Verdict::Problem, asked + L" could not be started (" +
                                              ErrorText(listing.startError) + L")."});
  } else if (!listing.ended) {
    findings.push_back({Verdict::Problem, asked + L" did not answer within " +
                                              std::to_wstring(ProbeDeadlineMs / MsPerSecond) +
                                              L" s."});
  } else if (listing.exitCode != 0) {
    findings.push_back({Verdict::Problem, asked + L" ended with code " +
                                              std::to_wstring(listing.exitCode) + L": " +
                                              FirstLine(listing.output)});
  } else if (!ListsModule(listing.output, module)) {
    findings.push_back(
        {Verdict::Problem, L"The runtime does not list the module " + wideModule +
                               L", which the launcher starts: build the runtime image with it"
                               L" (jlink --add-modules " +
                               wideModule + L", with the application on --module-path)."});
  } else {
    findings.push_back({Verdict::Ok, L"The runtime lists the module " + wideModule + L"."});
  }
  return findings;
}

Findings CheckInterpreter(const Install& install) {
  InterpreterProbe probe;
  probe.installFolder = install.folder;
  probe.networkPath = IsNetworkPath(install.folder);
  probe.autoRuns = AutoRuns();
  probe.disableCmd = RegistryNumber(
      HKEY_CURRENT_USER, L"Software\\Policies\\Microsoft\\Windows\\System", L"DisableCMD");

  // Its answer comes back through a pipe, so that nothing is written on the machine.
  const std::wstring pipeName = L"\\\\.\\pipe\\dunvelt-doctor-" +
                                std::to_wstring(GetCurrentProcessId()) + L"-" +
                                std::to_wstring(GetTickCount64());
  const UniqueHandle pipe(CreateNamedPipeW(
      pipeName.c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
      PIPE_TYPE_BYTE | PIPE_WAIT, 1, 0, 0, 0, nullptr));
  // As the launcher does: the shell runs "cmd.exe", hidden, in the install folder.
  const std::wstring parameters = L"/U /C cd >" + pipeName;
  SHELLEXECUTEINFOW request{};
  request.cbSize = sizeof request;
  request.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
  request.lpFile = L"cmd.exe";
  request.lpParameters = parameters.c_str();
  request.lpDirectory = install.folder.c_str();
  request.nShow = SW_HIDE;
  if (pipe.get() == INVALID_HANDLE_VALUE || ShellExecuteExW(&request) == FALSE) {
    probe.startError = ErrorText(GetLastError());
  } else {
    probe.started = true;
    const UniqueHandle interpreter(request.hProcess);
    probe.ranIn = ReadPipe(pipe.get(), interpreter.get());
    probe.answered = !probe.ranIn.empty();
    probe.ranInInstallFolder =
        probe.answered && SamePath(CanonicalPath(probe.ranIn), CanonicalPath(install.folder));
    if (interpreter) WaitForSingleObject(interpreter.get(), ProbeDeadlineMs);
  }
  return JudgeInterpreter(probe);
}

Findings CheckLaunch(const Install& install) {
  LaunchOutcome outcome;
  outcome.endDeadlineSeconds = LauncherDeadlineMs / MsPerSecond;
  outcome.runtimeDeadlineSeconds = RuntimeDeadlineMs / MsPerSecond;
  outcome.runtimeCommand = ConsoleCommand();
  const std::wstring runtimePath = CanonicalPath(RuntimePath(install));

  WindowWatch watch(runtimePath);
  outcome.watched = watch.Start();
  // As Explorer starts a double-clicked program: the default verb, shown, in its folder.
  SHELLEXECUTEINFOW request{};
  request.cbSize = sizeof request;
  request.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
  request.lpFile = install.launcher.c_str();
  request.lpDirectory = install.folder.c_str();
  request.nShow = SW_SHOWNORMAL;
  outcome.started = ShellExecuteExW(&request) != FALSE;
  if (!outcome.started) {
    outcome.startError = ErrorText(GetLastError());
    return JudgeLaunch(outcome);
  }
  const UniqueHandle launcher(request.hProcess);
  LaunchFollower follower(runtimePath, launcher.get(), outcome);
  while (follower.Look()) Sleep(PollMs);
  follower.Finish();

  for (const ShownWindow& window : watch.Stop()) {
    if (window.application) {
      outcome.applicationShown = true;
    } else {
      outcome.otherWindows.push_back({Describe(window), FileName(window.image)});
    }
  }
  outcome.watchedMs = static_cast<std::uint32_t>(watch.Figures().watchedMs);
  return JudgeLaunch(outcome);
}

}  // namespace dunvelt::doctor