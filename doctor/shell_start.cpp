#include "shell_start.h"

#include <windows.h>
#include <objbase.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <cstdlib>

#include "owners.h"
#include "paths.h"
#include "text.h"

namespace dunvelt::doctor {
namespace {

constexpr int Decimal = 10;

// The doctor runs itself with this switch to start a program through the shell.
constexpr const wchar_t* ShellStartSwitch = L"--dunvelt-doctor-shell-start";
// What a caller other than the doctor gets, as for any other bad input.
constexpr int NotForYou = 2;

ULONGLONG CreatedAt(HANDLE process) {
  FILETIME created{};
  FILETIME exited{};
  FILETIME kernel{};
  FILETIME user{};
  if (GetProcessTimes(process, &created, &exited, &kernel, &user) == FALSE) return 0;
  ULARGE_INTEGER value{};
  value.LowPart = created.dwLowDateTime;
  value.HighPart = created.dwHighDateTime;
  return value.QuadPart;
}

// Whether this process was started by a running copy of the doctor: the switch starts whatever
// it names, so it serves the doctor alone and not a script or a program that found it. The
// parent is told by the id Windows recorded, checked to be older than this process, so that an
// id passed on to a new process after the parent ended does not count; and by its image's file.
bool StartedByTheDoctor() {
  const UniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return false;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  DWORD parentId = 0;
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more != FALSE;
       more = Process32NextW(snapshot.get(), &entry)) {
    if (entry.th32ProcessID == GetCurrentProcessId()) parentId = entry.th32ParentProcessID;
  }
  if (parentId == 0) return false;
  const UniqueHandle parent(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, parentId));
  if (!parent || WaitForSingleObject(parent.get(), 0) == WAIT_OBJECT_0) return false;
  const ULONGLONG parentCreated = CreatedAt(parent.get());
  if (parentCreated == 0 || parentCreated > CreatedAt(GetCurrentProcess())) return false;
  return SameFile(IdentityOf(ProcessImagePath(parent.get())), IdentityOf(OwnPath()));
}

void Say(const std::string& line) {
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line.data(), static_cast<DWORD>(line.size()), &written,
            nullptr);
}

}  // namespace

ShellStart ReadShellStart(const std::string& output) {
  ShellStart start;
  const std::size_t end = output.find('\n');
  if (end == std::string::npos) return start;
  const std::string line = output.substr(0, end);
  const std::size_t space = line.find(' ');
  if (space == std::string::npos) return start;
  start.answered = true;
  start.started = line.substr(0, space) == "started";
  start.number =
      static_cast<unsigned long>(std::strtoul(line.c_str() + space + 1, nullptr, Decimal));
  return start;
}

std::wstring ShellStartCommand(int show, const std::wstring& folder, const std::wstring& file,
                               const std::wstring& parameters) {
  std::wstring command = QuotedArgument(OwnPath()) + L" " + ShellStartSwitch + L" " +
                         std::to_wstring(show) + L" " + QuotedArgument(folder) + L" " +
                         QuotedArgument(file);
  if (!parameters.empty()) command += L" " + QuotedArgument(parameters);
  return command;
}

bool RunShellStartIfAsked(int argc, wchar_t** argv, int& exitCode) {
  // The switch, how to show it, the folder, the file and maybe its parameters.
  enum Argument { Switch = 1, Show, Folder, File, Parameters, WithParameters };
  if (argc < Parameters || argc > WithParameters ||
      std::wstring(argv[Switch]) != ShellStartSwitch) {
    return false;
  }
  if (!StartedByTheDoctor()) {
    Say(std::string("The switch ") + "--dunvelt-doctor-shell-start" +
        " is the doctor's own, for its own use: run Dunvelt-doctor.exe without it.\r\n");
    exitCode = NotForYou;
    return true;
  }
  // As the launcher does before it asks the shell.
  const ComApartment apartment(COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  SHELLEXECUTEINFOW request{};
  request.cbSize = sizeof request;
  // "SHELLEXECUTEINFOW structure" on Microsoft Learn: SEE_MASK_NOZONECHECKS skips the zone
  // checks of the attachment manager. An install extracted by Explorer from a downloaded zip
  // carries the mark of the web on every file; the user who asked for the doctor's check has
  // chosen to start it, and a prompt the doctor cannot answer would hold its start until the
  // deadline. The doctor's check of the mark of the web judges the mark itself.
  request.fMask =
      SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC | SEE_MASK_NOZONECHECKS;
  request.lpFile = argv[File];
  request.lpParameters = argc == WithParameters ? argv[Parameters] : nullptr;
  request.lpDirectory = argv[Folder];
  request.nShow = static_cast<int>(std::wcstol(argv[Show], nullptr, Decimal));
  const bool started = ShellExecuteExW(&request) != FALSE;
  const DWORD number = started ? GetProcessId(request.hProcess) : GetLastError();
  const UniqueHandle process(request.hProcess);
  Say(std::string(started ? "started " : "failed ") + std::to_string(number) + "\n");
  exitCode = started ? 0 : 1;
  return true;
}

}  // namespace dunvelt::doctor
