// The interpreter's facts: cmd.exe started through the shell as the launcher starts it, on a
// command that says where it runs, and the registry values that change what it does.
#include <windows.h>

#include <array>

#include "bounded_run.h"
#include "files_windows.h"
#include "interpreter.h"
#include "owners.h"
#include "paths.h"
#include "platform_error.h"
#include "shell_start.h"

namespace dunvelt::doctor {
namespace {

// A bound, not an expectation: a first start under a virus scanner, on a slow disk, can take tens
// of seconds, and only what outlasts that is a hang.
constexpr DWORD InterpreterDeadlineMs = 60000;
constexpr DWORD MsPerSecond = 1000;
constexpr DWORD PollMs = 10;
constexpr std::size_t ReadChunk = 4096;

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
        CancelAndWait(pipe, overlapped);
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
  while (bytes.size() < OutputCap && !run.DeadlinePassed()) {
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

}  // namespace

InterpreterProbe InterpreterCheck::Gather(const Install& install) {
  InterpreterProbe probe;
  probe.installFolder = install.folder;
  probe.networkPath = IsNetworkPath(install.folder);
  probe.autoRuns = CommandProcessorValues(L"AutoRun");
  probe.uncChecks = CommandProcessorValues(L"DisableUNCCheck");
  probe.disableCmd = ReadRegistryValue(
      HKEY_CURRENT_USER, L"HKCU", L"Software\\Policies\\Microsoft\\Windows\\System", L"DisableCMD");
  probe.deadlineSeconds = InterpreterDeadlineMs / MsPerSecond;

  // Its answer comes back through a pipe, so that nothing is written on the machine.
  const std::wstring pipeName = L"\\\\.\\pipe\\dunvelt-doctor-" +
                                std::to_wstring(GetCurrentProcessId()) + L"-" +
                                std::to_wstring(GetTickCount64());
  const UniqueFileHandle pipe(CreateNamedPipeW(
      pipeName.c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
      PIPE_TYPE_BYTE | PIPE_WAIT, 1, 0, 0, 0, nullptr));
  if (!pipe) {
    probe.startError = Describe(LastError(L"CreateNamedPipeW"));
    return probe;
  }
  // As the launcher does: the shell runs "cmd.exe", hidden, in the install folder.
  BoundedRun run({},
                 ShellStartCommand(SW_HIDE, install.folder, L"cmd.exe", L"/U /C cd >" + pipeName),
                 {}, DETACHED_PROCESS, DeadlineIn(InterpreterDeadlineMs));
  run.NameInNotices(L"cmd.exe, started as the launcher starts it");
  if (!run.Started()) {
    probe.startError = Describe(run.StartError());
    return probe;
  }
  ShellStart shell;
  while (!(shell = ReadShellStart(run.Output())).answered && !run.ProgramEnded() &&
         !run.DeadlinePassed()) {
    run.Poll(PollMs);
  }
  if (!shell.answered || !shell.started) {
    probe.startError = shell.answered ? ErrorText(static_cast<DWORD>(shell.number))
                                      : L"the doctor's helper said nothing";
    return probe;
  }
  probe.started = true;
  probe.ranIn = ReadPipe(pipe.get(), run);
  probe.answered = !probe.ranIn.empty();
  probe.ranInInstallFolder =
      probe.answered && SamePath(CanonicalPath(probe.ranIn), CanonicalPath(install.folder));
  probe.ended = run.WaitForTree();
  if (!probe.ended) probe.endedByDoctor = run.EndTree();
  return probe;
}

}  // namespace dunvelt::doctor
