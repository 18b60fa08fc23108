#include "shell_start.h"

#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include <cstdlib>

#include "owners.h"
#include "paths.h"
#include "text.h"

namespace dunvelt::doctor {
namespace {

constexpr int Decimal = 10;

// The doctor runs itself with this switch to start a program through the shell.
constexpr const wchar_t* ShellStartSwitch = L"--dunvelt-doctor-shell-start";

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
  // As the launcher does before it asks the shell.
  const ComApartment apartment(COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  SHELLEXECUTEINFOW request{};
  request.cbSize = sizeof request;
  request.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
  request.lpFile = argv[File];
  request.lpParameters = argc == WithParameters ? argv[Parameters] : nullptr;
  request.lpDirectory = argv[Folder];
  request.nShow = static_cast<int>(std::wcstol(argv[Show], nullptr, Decimal));
  const bool started = ShellExecuteExW(&request) != FALSE;
  const DWORD number = started ? GetProcessId(request.hProcess) : GetLastError();
  const UniqueHandle process(request.hProcess);
  const std::string said =
      std::string(started ? "started " : "failed ") + std::to_string(number) + "\n";
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), said.data(), static_cast<DWORD>(said.size()), &written,
            nullptr);
  exitCode = started ? 0 : 1;
  return true;
}

}  // namespace dunvelt::doctor
