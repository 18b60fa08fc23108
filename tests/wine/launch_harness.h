// What the launch tests and the doctor tests share: sample install folders, the launches started
// in them inside a job, and the record the stand-in runtime leaves.
#pragma once

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "wine_test.h"

namespace winetest {

// What the launcher must hand the runtime, after the runtime's own path.
inline const std::vector<std::wstring> ExpectedArguments{L"-Dprism.order=sw",
                                                         L"-Dcom.sun.javafx.isEmbedded=true",
                                                         L"-Dcom.sun.javafx.touch=true",
                                                         L"-Dcom.sun.javafx.virtualKeyboard=none",
                                                         L"-XX:+UseG1GC",
                                                         L"-Xmx1g",
                                                         L"-Xms32m",
                                                         L"-m",
                                                         L"orbisk/com.varkelund.orbiskapp.Main"};

inline std::wstring Wide(const std::string& utf8) {
  std::wstring text(utf8.size(), L'\0');
  text.resize(MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                                  text.data(), static_cast<int>(text.size())));
  return text;
}

// The recording stand-in for the runtime: java-standin.exe, or the build DUNVELT_STANDIN names (a
// 64-bit one, as users of 64-bit Windows ship); and no runtime at all.
inline std::wstring StandIn() {
  const std::wstring chosen = winetest::Variable(L"DUNVELT_STANDIN");
  return chosen.empty() ? L"java-standin.exe" : chosen;
}
inline const wchar_t* const NoRuntime = nullptr;

// A folder laid out as a packager ships it: bin\java.exe, a copy of the given runtime (relative to
// the test programs), when one is wanted. It is removed again when the case ends, so that a run
// leaves nothing behind.
struct Distribution {
  explicit Distribution(const std::wstring& name) : Distribution(name, StandIn().c_str()) {}
  Distribution(const std::wstring& name, const wchar_t* runtime)
      : folder(winetest::ScratchFolder() + L"\\" + name),
        top(winetest::ScratchFolder() + L"\\" + name.substr(0, name.find(L'\\'))) {
    winetest::RemoveTree(folder);
    SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
    if (runtime != NoRuntime) {
      CreateDirectoryW((folder + L"\\bin").c_str(), nullptr);
      CHECK(CopyFileW((winetest::ModuleFolder() + L"\\" + runtime).c_str(),
                      (folder + L"\\bin\\java.exe").c_str(), FALSE),
            runtime);
    }
  }
  Distribution(const Distribution&) = delete;
  Distribution& operator=(const Distribution&) = delete;
  ~Distribution() { winetest::RemoveTree(top); }

  struct Record {
    std::wstring commandLine, directory;
  };

  std::vector<Record> Records() const {
    std::vector<Record> records;
    for (const std::wstring& name : winetest::FolderEntries(folder)) {
      if (name.rfind(L"java-record-", 0) != 0) continue;
      std::ifstream in((folder + L"\\" + name).c_str(), std::ios::binary);
      std::string commandLine, directory;
      std::getline(in, commandLine);
      std::getline(in, directory);
      records.push_back({Wide(commandLine), Wide(directory)});
    }
    return records;
  }

  std::wstring folder;
  std::wstring top;  // the first folder of the name, which the case made
};

// The command line that starts the launcher under test with the arguments.
inline std::wstring LauncherCommand(const std::wstring& arguments) {
  return L"\"" + winetest::LauncherPath() + L"\" " + arguments;
}

// The command line of a double-click on the program, as Explorer starts one.
inline std::wstring DoubleClick(const std::wstring& program) {
  return L"rundll32.exe shell32.dll,ShellExec_RunDLL \"" + program + L"\"";
}

// Starts launchers inside one job object, so that the test can wait until every process of a
// launch, the hidden interpreter and the runtime included, has ended, and so that a failed test
// leaves nothing running.
class Launches {
 public:
  Launches()
      : job_(CreateJobObjectW(nullptr, nullptr)),
        port_(CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1)),
        started_(CreateSemaphoreW(nullptr, 0, 100, Name(L"started").c_str())),
        hold_(CreateEventW(nullptr, TRUE, FALSE, Name(L"hold").c_str())) {
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    SetInformationJobObject(job_, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    JOBOBJECT_ASSOCIATE_COMPLETION_PORT association{job_, port_};
    SetInformationJobObject(job_, JobObjectAssociateCompletionPortInformation, &association,
                            sizeof association);
    SetEnvironmentVariableW(L"DUNVELT_STANDIN_STARTED", Name(L"started").c_str());
    // Wine runs the desktop in a process of its own, started for the first program that needs
    // it. Joined here, it is never started inside the job, where it would outlive the launch for
    // as long as any other program, a parallel test's say, uses the desktop. On Windows the
    // desktop is always there.
    GetDesktopWindow();
  }
  ~Launches() {
    SetEvent(hold_);
    for (HANDLE handle : launchers_) CloseHandle(handle);
    for (HANDLE handle : followed_) CloseHandle(handle);
    for (HANDLE handle : {hold_, started_, port_, job_}) CloseHandle(handle);
  }

  // Gives the job UI limits, as a parent that runs programs unattended does, and lets its
  // processes break away from it or not; called before anything is started in it.
  void LimitAsAScheduler(bool breakawayAllowed) {
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags =
        JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | (breakawayAllowed ? JOB_OBJECT_LIMIT_BREAKAWAY_OK : 0);
    SetInformationJobObject(job_, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    JOBOBJECT_BASIC_UI_RESTRICTIONS restrictions{JOB_OBJECT_UILIMIT_DESKTOP |
                                                 JOB_OBJECT_UILIMIT_EXITWINDOWS};
    SetInformationJobObject(job_, JobObjectBasicUIRestrictions, &restrictions, sizeof restrictions);
  }

  // Makes every runtime stand-in of this test wait until Release().
  void HoldRuntimes() { SetEnvironmentVariableW(L"DUNVELT_STANDIN_HOLD", Name(L"hold").c_str()); }
  void Release() { SetEvent(hold_); }

  // Returns the launcher's process, started in the folder with the given arguments.
  HANDLE Start(const std::wstring& folder, const std::wstring& arguments = L"") {
    return StartCommand(folder, LauncherCommand(arguments));
  }

  // Returns the process of the command line, started in the folder; when asked, with a console
  // of its own that has no window at all, so that a window on the screen can only be the
  // launch's. A console merely hidden is not enough: Windows 11 may hand it to Windows Terminal,
  // which shows it. Its output goes to the inheritable file handle, when one is given.
  // `desktop`, "station\desktop", starts it on another window station's desktop.
  HANDLE StartCommand(const std::wstring& folder, std::wstring commandLine,
                      bool windowlessConsole = false, HANDLE output = nullptr,
                      const wchar_t* desktop = nullptr) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    std::wstring desktopName = desktop != nullptr ? desktop : L"";
    if (desktop != nullptr) startup.lpDesktop = desktopName.data();
    if (output != nullptr) {
      startup.dwFlags = STARTF_USESTDHANDLES;
      startup.hStdOutput = startup.hStdError = output;
    }
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, output != nullptr,
                        CREATE_SUSPENDED | (windowlessConsole ? CREATE_NO_WINDOW : 0), nullptr,
                        folder.c_str(), &startup, &process)) {
      std::fprintf(stderr, "could not start %ls: error %lu\n", commandLine.c_str(), GetLastError());
      std::exit(1);  // nothing else in the test can hold
    }
    AssignProcessToJobObject(job_, process.hProcess);
    ResumeThread(process.hThread);
    CloseHandle(process.hThread);
    launchers_.push_back(process.hProcess);
    return process.hProcess;
  }

  // The launcher's exit code, or STILL_ACTIVE when it has not ended by the deadline.
  static DWORD ExitCode(HANDLE launcher) {
    DWORD code = STILL_ACTIVE;
    if (WaitForSingleObject(launcher, Deadline) == WAIT_OBJECT_0)
      GetExitCodeProcess(launcher, &code);
    return code;
  }

  bool RuntimeStarted() { return WaitForSingleObject(started_, Deadline) == WAIT_OBJECT_0; }

  bool Running() const {
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting{};
    QueryInformationJobObject(job_, JobObjectBasicAccountingInformation, &accounting,
                              sizeof accounting, nullptr);
    return accounting.ActiveProcesses > 0;
  }

  // True once every process started by the launches has ended. Every one of them descends from
  // a launcher, and the job announces each when it is created. The check comes before a last
  // read of the announcements, and only holds if that read brings no new process: one announced
  // just after an earlier read would otherwise go unseen.
  bool AllEnded() {
    const ULONGLONG deadline = GetTickCount64() + Deadline;
    for (DWORD wait = 0;; wait = 100) {
      ReadAnnouncements(wait);
      const bool ended = !Running() || (!followed_.empty() &&
                                        std::all_of(followed_.begin(), followed_.end(), Ended));
      if (ended && !ReadAnnouncements(0)) return true;
      if (GetTickCount64() > deadline) {
        std::printf("still running at the deadline: %ls\n", Outcomes().c_str());
        return false;
      }
    }
  }

  // The image names of the processes of the job that still run, but the console hosts, which
  // a console's last program leaves to end by themselves.
  std::vector<std::wstring> StillRunning() {
    ReadAnnouncements(0);
    std::vector<std::wstring> running;
    for (HANDLE process : followed_) {
      const std::wstring name = ImageName(process);
      if (!Ended(process) && lstrcmpiW(name.c_str(), L"conhost.exe") != 0) running.push_back(name);
    }
    return running;
  }

  // "name exit-code" of every process the job saw start, in order: what the hidden interpreter
  // and the runtime did.
  std::wstring Outcomes() const {
    std::wstring outcomes;
    for (HANDLE process : followed_) {
      DWORD code = 0;
      GetExitCodeProcess(process, &code);
      outcomes += ImageName(process) + L" " + std::to_wstring(code) + L"; ";
    }
    return outcomes;
  }

 private:
  static std::wstring Name(const wchar_t* what) {
    return L"dunvelt-test-" + std::to_wstring(GetCurrentProcessId()) + L"-" + what;
  }

  void Follow(DWORD id) {
    if (HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, id))
      followed_.push_back(process);
  }

  // Follows every process the job announces, waiting up to `wait` ms for the first
  // announcement; true when a new process was announced.
  bool ReadAnnouncements(DWORD wait) {
    bool announced = false;
    DWORD message;
    ULONG_PTR key;
    LPOVERLAPPED data;
    while (GetQueuedCompletionStatus(port_, &message, &key, &data, wait)) {
      if (message == JOB_OBJECT_MSG_NEW_PROCESS) {
        Follow(reinterpret_cast<DWORD_PTR>(data));
        announced = true;
      }
      wait = 0;
    }
    return announced;
  }

  static bool Ended(HANDLE process) { return WaitForSingleObject(process, 0) == WAIT_OBJECT_0; }

  static std::wstring ImageName(HANDLE process) {
    wchar_t path[MAX_PATH * 4] = L"?";
    DWORD size = MAX_PATH * 4;
    QueryFullProcessImageNameW(process, 0, path, &size);
    const std::wstring name = path;
    return name.substr(name.find_last_of(L'\\') + 1);
  }

  HANDLE job_, port_, started_, hold_;
  std::vector<HANDLE> launchers_, followed_;
};

// The record a single launch left, checked for the expected runtime arguments and directory.
inline void CheckSingleRuntimeRun(const Distribution& distribution) {
  const auto records = distribution.Records();
  CHECK(records.size() == 1, std::to_wstring(records.size()) + L" runtime records");
  if (records.size() != 1) return;
  int count = 0;
  LPWSTR* arguments = CommandLineToArgvW(records[0].commandLine.c_str(), &count);
  const std::vector<std::wstring> received(arguments, arguments + count);
  LocalFree(arguments);
  CHECK(count == 10, L"received: " + records[0].commandLine);
  CHECK(!received.empty() && received[0] == L"bin\\java.exe",
        L"received: " + records[0].commandLine);
  CHECK(std::vector<std::wstring>(received.begin() + std::min(count, 1), received.end()) ==
            ExpectedArguments,
        L"received: " + records[0].commandLine);
  CHECK(lstrcmpiW(records[0].directory.c_str(), distribution.folder.c_str()) == 0,
        L"working directory: " + records[0].directory);
}

}  // namespace winetest
