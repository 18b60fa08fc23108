// Dunvelt-doctor.exe: when a double-click on Dunvelt.exe seems to do nothing, this says why. The
// launcher reports nothing by design; the doctor runs what it runs, the way it runs it, and names
// what stands in the way, one line per finding:
//   Dunvelt-doctor.exe [--no-launch] [--json] [--save FILE] [install folder | path of Dunvelt.exe]
//   Dunvelt-doctor.exe [--json] --judge FILE
// Without a path it checks the folder it is in. Its last check starts Dunvelt.exe, which opens
// the application; --no-launch leaves that out. --json prints the report as one JSON document;
// --save writes what the checks gathered to a file, which --judge judges again, touching nothing
// on the machine. Exit code: 0 when it found no problem, 1 when it did, 2 when it could not check
// (a bad argument, or a file --judge cannot read).
#include <windows.h>
#include <conio.h>

#include <array>
#include <exception>
#include <string>
#include <vector>

#include "archive_folder.h"
#include "bounded_run.h"
#include "check_runner.h"
#include "facts_json.h"
#include "files_windows.h"
#include "owners.h"
#include "paths.h"
#include "platform_error.h"
#include "report.h"
#include "shell_start.h"
#include "sized_text.h"
#include "window_watch.h"

namespace dunvelt::doctor {
namespace {

constexpr int CannotCheck = 2;

// In a console window, the console's own characters; redirected, UTF-8, which any file name fits.
void Print(const std::wstring& line, DWORD stream = STD_OUTPUT_HANDLE) {
  const HANDLE out = GetStdHandle(stream);
  const std::wstring text = line + L"\r\n";
  DWORD mode = 0;
  DWORD written = 0;
  if (GetConsoleMode(out, &mode) != FALSE) {
    WriteConsoleW(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    return;
  }
  const std::string bytes = Utf8(text);
  WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

// A double-click gives the doctor a console window of its own, which closes with it: the only
// program in its console, which its output goes to.
bool InItsOwnWindow() {
  std::array<DWORD, 2> processes{};
  DWORD mode = 0;
  return GetConsoleProcessList(processes.data(), 2) == 1 &&
         GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != FALSE;
}

std::wstring FullPath(const std::wstring& path) {
  std::wstring full = SizedText([&](wchar_t* buffer, DWORD capacity) {
    return GetFullPathNameW(path.c_str(), capacity, buffer, nullptr);
  });
  while (full.size() > 3 && full.back() == L'\\') full.pop_back();  // but a drive's root
  return full;
}

std::wstring Folder(const std::wstring& path) {
  const std::wstring folder = path.substr(0, path.find_last_of(L'\\'));
  return folder.size() == 2 ? folder + L"\\" : folder;  // "C:" would be the drive's current folder
}

bool IsFile(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(ExtendedLengthPath(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

struct Options {
  Request request;
  bool json = false;
  std::wstring save;   // the file --save writes; empty: none
  std::wstring judge;  // the file --judge reads; empty: check this computer
};

const std::wstring Usage =
    L"Give the install folder, the one that holds Dunvelt.exe and bin, or the path of its"
    L" Dunvelt.exe; --no-launch not to start it, --json for a JSON report, --save FILE to keep"
    L" what the doctor found for a later --judge FILE. Put a path with spaces in quotes.";

// The install to check, from the given path or the doctor's own folder; or the one line that
// says why there is none.
bool FindInstall(const std::wstring& given, Install& install, std::wstring& error) {
  const std::wstring path = FullPath(given);
  const DWORD attributes = GetFileAttributesW(ExtendedLengthPath(path).c_str());
  if (given.empty() || attributes == INVALID_FILE_ATTRIBUTES) {
    error = L"There is no folder or file " + path + L". " + Usage;
    return false;
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    install.folder = path;
    install.launcher = Joined(path, LauncherName);
    // Double-clicked in Explorer's view of a zip, the doctor runs alone in a temporary folder:
    // its checks say so, which says more than that there is no launcher beside it.
    if (IsFile(install.launcher) || InArchiveTemporaryFolder(path)) return true;
    error = L"There is no " + std::wstring(LauncherName) + L" in " + path + L". " + Usage;
    return false;
  }
  if (CompareStringOrdinal(FileName(path).c_str(), -1, LauncherName, -1, TRUE) != CSTR_EQUAL) {
    error = path + L" is not " + LauncherName + L". " + Usage;
    return false;
  }
  install.folder = Folder(path);
  install.launcher = path;
  return true;
}

bool ReadOptions(int argc, wchar_t** argv, Options& options, std::wstring& error) {
  std::vector<std::wstring> paths;
  for (int i = 1; i < argc; ++i) {
    const std::wstring argument = argv[i];
    if (argument == L"--no-launch") {
      options.request.noLaunch = true;
    } else if (argument == L"--json") {
      options.json = true;
    } else if (argument == L"--save" || argument == L"--judge") {
      if (i + 1 == argc || std::wstring(argv[i + 1]).empty()) {
        error = argument;
        error += L" needs the path of a file after it. " + Usage;
        return false;
      }
      (argument == L"--save" ? options.save : options.judge) = FullPath(argv[++i]);
    } else if (argument.rfind(L"--", 0) == 0) {
      error = L"There is no option " + argument;
      error += L". " + Usage;
      return false;
    } else {
      paths.push_back(argument);
    }
  }
  if (paths.size() > 1) {
    error = L"Too many arguments. " + Usage;
    return false;
  }
  if (!options.judge.empty()) {
    if (!paths.empty() || options.request.noLaunch || !options.save.empty()) {
      error =
          L"--judge judges a saved file alone: give it no install, --no-launch or --save. " + Usage;
      return false;
    }
    return true;
  }
  return FindInstall(paths.empty() ? Folder(OwnPath()) : paths.front(), options.request.install,
                     error);
}

// Facts gathered on this computer: each check's gatherer, its failure contained.
class LiveSource {
 public:
  static constexpr bool Live = true;
  template <typename Check>
  Gathered Gather(const Install& install) {
    try {
      return {nlohmann::json(Check::Gather(install)), {}};
    } catch (const std::exception& failure) {
      return {std::nullopt, FailureText(failure)};
    }
  }
};

// Prints each check's findings as it is done; with --json, nothing until the end.
class Printer : public RunObserver {
 public:
  explicit Printer(bool quiet) : quiet_(quiet) {}
  void Announce(const Finding& finding) override {
    if (!quiet_) Print(Line(finding));
  }
  void Done(const CheckRun& check) override {
    if (quiet_) return;
    const std::vector<std::wstring> lines = CheckLines(check);
    for (std::size_t i = check.announced ? 1 : 0; i < lines.size(); ++i) Print(lines[i]);
  }

 private:
  bool quiet_;
};

bool WriteWholeFile(const std::wstring& path, const std::string& bytes, std::wstring& error) {
  const UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  if (!file) {
    error = Describe(LastError(L"CreateFileW"));
    return false;
  }
  if (WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ==
          FALSE ||
      written != bytes.size()) {
    error = Describe(LastError(L"WriteFile"));
    return false;
  }
  return true;
}

bool ReadWholeFile(const std::wstring& path, std::string& bytes, std::wstring& error) {
  // More than any saved file holds; a larger one is no doctor's.
  constexpr DWORD MostBytes = 64U * 1024 * 1024;
  const UniqueFileHandle file = OpenToRead(path);
  LARGE_INTEGER size{};
  if (!file || GetFileSizeEx(file.get(), &size) == FALSE) {
    error = ErrorText(GetLastError());
    return false;
  }
  if (size.QuadPart > MostBytes) {
    error = L"it is larger than any file the doctor saves";
    return false;
  }
  bytes.resize(static_cast<std::size_t>(size.QuadPart));
  DWORD read = 0;
  if (ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) ==
          FALSE ||
      read != bytes.size()) {
    error = ErrorText(GetLastError());
    return false;
  }
  return true;
}

int Finish(const Options& options, const Report& report) {
  if (options.json) {
    Print(FromUtf8(JsonReport(report).dump(2)));
  } else {
    Print(Summary(AllFindings(report)));
  }
  if (!options.save.empty()) {
    std::wstring error;
    if (!WriteWholeFile(options.save, SavedFacts(report).dump(1) + "\n", error)) {
      Print(L"The doctor could not save what it found to " + options.save + L" (" + error + L").");
      return CannotCheck;
    }
  }
  return ReportExitCode(report);
}

int Judge(const Options& options) {
  std::string bytes;
  std::wstring error;
  if (!ReadWholeFile(options.judge, bytes, error)) {
    Print(L"The doctor could not read " + options.judge + L" (" + error + L").");
    return CannotCheck;
  }
  Printer printer(options.json);
  try {
    return Finish(options, JudgeSaved(nlohmann::json::parse(bytes), printer));
  } catch (const std::exception& failure) {
    Print(L"The doctor cannot judge " + options.judge + L": " + FailureText(failure) + L".");
    return CannotCheck;
  }
}

// On the errors stream, apart from the report; with --json only where that is a console, so that
// it never lands in a JSON file.
void PrintWait(const std::wstring& what, DWORD waitedMs, DWORD boundMs) {
  constexpr DWORD MsPerSecond = 1000;
  Print(L"  still waiting for " + what + L", " + std::to_wstring(waitedMs / MsPerSecond) +
            L" s so far, at most " + std::to_wstring((boundMs + MsPerSecond / 2) / MsPerSecond) +
            L" s",
        STD_ERROR_HANDLE);
}

int Run(int argc, wchar_t** argv) {
  Options options;
  std::wstring error;
  if (!ReadOptions(argc, argv, options, error)) {
    Print(error);
    return CannotCheck;
  }
  if (!options.judge.empty()) return Judge(options);
  if (DWORD mode = 0;
      !options.json || GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != FALSE) {
    SetWaitNotice(PrintWait);
  }
  // A program that needs a desktop has one started by the first that asks, on some platforms;
  // asked for here, it is never started inside a job of the doctor's, which ends with its check.
  GetDesktopWindow();
  LiveSource source;
  Printer printer(options.json);
  return Finish(options, RunChecks(options.request, WindowsBuild(), source, printer));
}

}  // namespace
}  // namespace dunvelt::doctor

int wmain(int argc, wchar_t** argv) {  // NOLINT(readability-identifier-naming): the platform's
  // A runtime that misses a DLL, or crashes, would otherwise wait on a message box that nobody
  // sees, hidden as it runs, until its deadline. "SetErrorMode function" on Microsoft Learn: the
  // children inherit the error mode, and every program the doctor starts is a child of it.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
  if (dunvelt::RunWindowWatchCanaryIfAsked()) return 0;
  if (int code = 0; dunvelt::doctor::RunShellStartIfAsked(argc, argv, code)) return code;
  const bool ownWindow = dunvelt::doctor::InItsOwnWindow();
  int exitCode = dunvelt::doctor::CannotCheck;
  try {
    exitCode = dunvelt::doctor::Run(argc, argv);
  } catch (const std::exception& failure) {
    dunvelt::doctor::Print(L"The doctor could not finish its checks: " +
                           dunvelt::doctor::FailureText(failure));
  }
  if (ownWindow) {
    dunvelt::doctor::Print(L"Press any key to close this window.");
    _getwch();
  }
  return exitCode;
}
