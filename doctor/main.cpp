// Dunvelt-doctor.exe: when a double-click on Dunvelt.exe seems to do nothing, this says why. The
// launcher reports nothing by design; the doctor runs what it runs, the way it runs it, and names
// what stands in the way, one line per finding:
//   Dunvelt-doctor.exe [--no-launch] [install folder | path of Dunvelt.exe]
// Without a path it checks the folder it is in. Its last check starts Dunvelt.exe, which opens
// the application; --no-launch leaves that out. Exit code: 0 when it found no problem, 1 when it
// did, 2 when it could not check (a bad argument).
#include <windows.h>
#include <conio.h>

#include <array>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "checks.h"
#include "paths.h"
#include "window_watch.h"

namespace dunvelt::doctor {
namespace {

constexpr int CannotCheck = 2;
constexpr DWORD LongestPath = 32768;  // in characters

// In a console window, the console's own characters; redirected, UTF-8, which any file name fits.
void Print(const std::wstring& line) {
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  const std::wstring text = line + L"\r\n";
  DWORD mode = 0;
  DWORD written = 0;
  if (GetConsoleMode(out, &mode) != FALSE) {
    WriteConsoleW(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    return;
  }
  std::string bytes(text.size() * 3, '\0');
  bytes.resize(WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                   bytes.data(), static_cast<int>(bytes.size()), nullptr, nullptr));
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
  std::wstring full(LongestPath, L'\0');
  full.resize(GetFullPathNameW(path.c_str(), LongestPath, full.data(), nullptr));
  while (full.size() > 3 && full.back() == L'\\') full.pop_back();  // but a drive's root
  return full;
}

std::wstring Folder(const std::wstring& path) {
  const std::wstring folder = path.substr(0, path.find_last_of(L'\\'));
  return folder.size() == 2 ? folder + L"\\" : folder;  // "C:" would be the drive's current folder
}

std::wstring Joined(const std::wstring& folder, const wchar_t* name) {
  return folder + (folder.back() == L'\\' ? L"" : L"\\") + name;
}

bool IsFile(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

struct Request {
  Install install;
  bool noLaunch = false;
};

// The install to check, from the arguments; or the one line that says why there is none.
bool FindInstall(int argc, wchar_t** argv, Request& request, std::wstring& error) {
  const std::wstring usage =
      L"Give the install folder, the one that holds Dunvelt.exe and bin, or"
      L" the path of its Dunvelt.exe, and --no-launch not to start it; put a path with spaces in"
      L" quotes.";
  std::vector<std::wstring> paths;
  for (int i = 1; i < argc; ++i) {
    const std::wstring argument = argv[i];
    if (argument == L"--no-launch") {
      request.noLaunch = true;
    } else if (argument.rfind(L"--", 0) == 0) {
      error = L"There is no option " + argument;
      error += L". " + usage;
      return false;
    } else {
      paths.push_back(argument);
    }
  }
  std::wstring given;
  if (paths.empty()) {
    std::wstring self(LongestPath, L'\0');
    self.resize(GetModuleFileNameW(nullptr, self.data(), LongestPath));
    given = Folder(self);
  } else if (paths.size() == 1) {
    given = paths.front();
  } else {
    error = L"Too many arguments. " + usage;
    return false;
  }
  Install& install = request.install;
  const std::wstring path = FullPath(given);
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (given.empty() || attributes == INVALID_FILE_ATTRIBUTES) {
    error = L"There is no folder or file " + path + L". " + usage;
    return false;
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    install.folder = path;
    install.launcher = Joined(path, LauncherName);
    if (IsFile(install.launcher)) return true;
    error = L"There is no " + std::wstring(LauncherName) + L" in " + path + L". " + usage;
    return false;
  }
  const std::wstring name = path.substr(path.find_last_of(L'\\') + 1);
  if (CompareStringOrdinal(name.c_str(), -1, LauncherName, -1, TRUE) != CSTR_EQUAL) {
    error = path + L" is not " + LauncherName + L". " + usage;
    return false;
  }
  install.folder = Folder(path);
  install.launcher = path;
  return true;
}

int Run(int argc, wchar_t** argv) {
  Request request;
  std::wstring error;
  if (!FindInstall(argc, argv, request, error)) {
    Print(error);
    return CannotCheck;
  }
  const Install& install = request.install;
  Findings all;
  const auto add = [&](const Finding& finding) {
    Print(Line(finding));
    all.push_back(finding);
  };
  const auto run = [&](Findings (*check)(const Install&)) {
    const Findings findings = check(install);
    for (const Finding& finding : findings) add(finding);
    return ExitCode(findings) == 0;
  };
  // A program that needs a desktop has one started by the first that asks, on some platforms;
  // asked for here, it is never started inside a job of the doctor's, which ends with its check.
  GetDesktopWindow();
  bool launchable = run(CheckFolder);
  // No program can be started in a folder that long, which the folder's finding says; trying
  // would only name the same cause twice more, and some platforms fail hard at it.
  const bool startable = install.folder.size() <= LongestCurrentFolder;
  // A runtime that is missing or built for another machine cannot be started to ask it more.
  if (run(CheckRuntimeImage) && startable) {
    launchable = run(CheckRuntimeStart) && launchable;
  } else {
    launchable = false;
  }
  if (startable) {
    launchable = run(CheckInterpreter) && launchable;
  } else {
    add({Verdict::Note,
         L"Neither bin\\java.exe nor cmd.exe was started in the install folder:"
         L" its path is too long for any program to start in."});
  }
  // A shortcut's problem is its own: the launch checked starts in the install folder.
  run(CheckShortcuts);
  // Windows blocks a program without a word from it: what blocks the launcher or the runtime
  // stops every launch too.
  const GuardFindings guards = CheckGuards(install);
  for (const Finding& finding : guards.findings) add(finding);
  launchable = launchable && !guards.stopsLaunch;
  const std::wstring why = WhyNoLaunch(request.noLaunch, !launchable);
  if (why.empty()) {
    add(LaunchAnnouncement());
    run(CheckLaunch);
  } else {
    add({Verdict::Note, why});
  }
  Print(Summary(all));
  return ExitCode(all);
}

}  // namespace
}  // namespace dunvelt::doctor

int wmain(int argc, wchar_t** argv) {  // NOLINT(readability-identifier-naming): the platform's
  if (dunvelt::RunWindowWatchCanaryIfAsked()) return 0;
  if (int code = 0; dunvelt::doctor::RunShellStartIfAsked(argc, argv, code)) return code;
  const bool ownWindow = dunvelt::doctor::InItsOwnWindow();
  int exitCode = dunvelt::doctor::CannotCheck;
  try {
    exitCode = dunvelt::doctor::Run(argc, argv);
  } catch (const std::exception& failure) {
    dunvelt::doctor::Print(
        L"The doctor could not finish its checks: " +
        std::wstring(failure.what(), failure.what() + std::strlen(failure.what())));
  }
  if (ownWindow) {
    dunvelt::doctor::Print(L"Press any key to close this window.");
    _getwch();
  }
  return exitCode;
}
