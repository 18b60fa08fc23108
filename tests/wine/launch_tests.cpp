// Runs the real Dunvelt.exe under Wine in sample distribution folders, against the stand-in
// runtime, and checks what the runtime received; and the doctor against such folders
// (doctor_tests.cpp).
#include <windows.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>

#include "doctor_tests.h"
#include "launch_harness.h"
#include "wait_timing.h"
#include "wine_test.h"
#include "window_watch.h"

namespace {

using winetest::Deadline;

using winetest::CheckSingleRuntimeRun;
using winetest::Distribution;
using winetest::DoubleClick;
using winetest::ExpectedArguments;
using winetest::LauncherCommand;
using winetest::Launches;
using winetest::NoRuntime;
using winetest::Wide;

// One start in a sample folder, by the command line (with a windowless console of its own when
// asked), must start the runtime once with the expected command, in that folder, and end.
void CheckStartsTheRuntime(const Distribution& distribution, const std::wstring& commandLine,
                           bool windowlessConsole = false) {
  Launches launches;
  CHECK(Launches::ExitCode(
            launches.StartCommand(distribution.folder, commandLine, windowlessConsole)) == 0);
  CHECK(launches.RuntimeStarted());
  CHECK(launches.AllEnded());
  CheckSingleRuntimeRun(distribution);
}

// The same for the launcher started directly, with the given arguments.
void CheckLaunchStartsTheRuntime(const std::wstring& name, const std::wstring& arguments = L"") {
  CheckStartsTheRuntime(Distribution(name), LauncherCommand(arguments));
}

void PassesTheJavaCommandToTheRuntime() { CheckLaunchStartsTheRuntime(L"arguments"); }

void IgnoresItsOwnArguments() {
  CheckLaunchStartsTheRuntime(L"ignored-arguments", L"--foo \"a b\" /C x");
}

void WorksFromFoldersWithSpacesAndNonAsciiNames() {
  CheckLaunchStartsTheRuntime(
      L"odd\\Program Files (x86)\\D\u00fcnvelt \u03a9\u03bc\u03ad\u03b3\u03b1");
}

void StartsOneRuntimePerLaunch() {
  Distribution distribution(L"two-launches");
  Launches launches;
  const HANDLE first = launches.Start(distribution.folder);
  const HANDLE second = launches.Start(distribution.folder);
  CHECK(Launches::ExitCode(first) == 0);
  CHECK(Launches::ExitCode(second) == 0);
  CHECK(launches.RuntimeStarted() && launches.RuntimeStarted());
  CHECK(launches.AllEnded());
  const auto records = distribution.Records();
  CHECK(records.size() == 2, std::to_wstring(records.size()) + L" runtime records");
  if (records.size() == 2) CHECK(records[0].commandLine == records[1].commandLine);
}

void ExitsWhileTheRuntimeIsStillRunning() {
  Distribution distribution(L"never-waits");
  Launches launches;
  launches.HoldRuntimes();
  CHECK(Launches::ExitCode(launches.Start(distribution.folder)) == 0,
        L": the launcher must not wait for the runtime");
  CHECK(launches.RuntimeStarted());
  CHECK(launches.Running(), L": the held runtime must still run");
  launches.Release();
  CHECK(launches.AllEnded());
}

// A folder the launcher cannot start the runtime from: the launcher still ends with 0, nothing
// hangs, and nothing is written.
void CheckEndsCleanly(const Distribution& distribution) {
  const auto before = winetest::TreeEntries(distribution.folder);
  Launches launches;
  CHECK(Launches::ExitCode(launches.Start(distribution.folder)) == 0);
  CHECK(launches.AllEnded(), L": the hidden interpreter must end by itself");
  CHECK(winetest::TreeEntries(distribution.folder) == before,
        L": nothing may be written; processes: " + launches.Outcomes());
}

// In each of these folders the hidden interpreter cannot run bin\java.exe: under Wine it ends by
// itself with 9009, "not recognized as a command", and its console host with 1. The launcher has
// ended with 0 before that.
void EndsCleanlyWithoutARuntime() { CheckEndsCleanly(Distribution(L"no-runtime", NoRuntime)); }

void EndsCleanlyWithAnEmptyBin() {
  Distribution distribution(L"empty-bin", NoRuntime);
  CreateDirectoryW((distribution.folder + L"\\bin").c_str(), nullptr);
  CheckEndsCleanly(distribution);
}

void EndsCleanlyWhenTheRuntimeIsAFolder() {
  Distribution distribution(L"runtime-folder", NoRuntime);
  SHCreateDirectoryExW(nullptr, (distribution.folder + L"\\bin\\java.exe").c_str(), nullptr);
  CheckEndsCleanly(distribution);
}

void EndsCleanlyWhenTheRuntimeIsNoProgram() {
  Distribution distribution(L"runtime-garbage", NoRuntime);
  CreateDirectoryW((distribution.folder + L"\\bin").c_str(), nullptr);
  std::ofstream((distribution.folder + L"\\bin\\java.exe").c_str(), std::ios::binary)
      << std::string(4096, '\x9c') << "MZ not really a program";
  CheckEndsCleanly(distribution);
}

// A read-only install folder, as under Program Files: the launcher writes nothing, so the runtime
// starts as usual.
void StartsTheRuntimeFromAReadOnlyFolder() {
  Distribution distribution(L"read-only");
  for (const wchar_t* path : {L"\\bin\\java.exe", L"\\bin", L""})
    SetFileAttributesW((distribution.folder + path).c_str(), FILE_ATTRIBUTE_READONLY);
  Launches launches;
  CHECK(Launches::ExitCode(launches.Start(distribution.folder)) == 0);
  CHECK(launches.RuntimeStarted());
  CHECK(launches.AllEnded());
  CheckSingleRuntimeRun(distribution);
}

// Run with WINEDLLOVERRIDES=cmd.exe=d, which Wine reads only when a program starts from Linux.
void ReportsTheFailureWhenTheInterpreterCannotStart() {
  Distribution distribution(L"no-interpreter");
  Launches launches;
  const DWORD code = Launches::ExitCode(launches.Start(distribution.folder));
  CHECK(code != 0 && code != STILL_ACTIVE, L"exit code " + std::to_wstring(code));
  CHECK(launches.AllEnded());
  CHECK(distribution.Records().empty(), L": no runtime may run");
}

// --- What a user sees -------------------------------------------------------------------------
// The window watch looks at every window of every process while the launch runs, until every
// process of it has ended: only the runtime's own windows may become visible. On Wine it needs a
// display, and its canary tells when there is none.

// Starts the command in a sample folder under the watch, with the stand-in runtime showing a
// window in the application's place, which the watch must tell apart; returns every other window
// shown, or nothing when the watch cannot tell, and then the case has failed.
std::vector<dunvelt::ShownWindow> WatchedLaunch(const std::wstring& name,
                                                const std::wstring& commandLine,
                                                bool windowlessConsole = false) {
  Distribution distribution(name);
  SetEnvironmentVariableW(L"DUNVELT_STANDIN_WINDOW", L"1");
  dunvelt::WindowWatch watch(distribution.folder + L"\\bin\\java.exe");
  if (!watch.Start()) {
    std::printf(
        "%ls: cannot tell whether a window was shown: the watch did not see its canary, a "
        "window shown on purpose by another process, so it cannot see this screen\n",
        name.c_str());
    CHECK(false, L": the watch must see its canary");
    return {};
  }
  {
    // The runtime holds its window until the watch has seen it: an application's window stays,
    // and a stand-in that closed it at once could close it between two looks of the watch.
    Launches launches;
    launches.HoldRuntimes();
    CHECK(Launches::ExitCode(
              launches.StartCommand(distribution.folder, commandLine, windowlessConsole)) == 0);
    CHECK(launches.RuntimeStarted());
    const bool seen = watch.WaitForApplication(Deadline);
    launches.Release();
    CHECK(launches.AllEnded());
    CheckSingleRuntimeRun(distribution);
    CHECK(seen, L": the watch must see the application's window, and know it as such");
  }
  SetEnvironmentVariableW(L"DUNVELT_STANDIN_WINDOW", nullptr);
  std::vector<dunvelt::ShownWindow> others;
  bool application = false;
  for (const dunvelt::ShownWindow& window : watch.Stop()) {
    std::printf("shown: %ls%s\n", dunvelt::Describe(window).c_str(),
                window.application ? " (the application)" : "");
    if (window.application) application = true;
    if (!window.application) others.push_back(window);
  }
  CHECK(application, L": the watch must see the application's window, and know it as such");
  const dunvelt::WatchFigures figures = watch.Figures();
  std::printf("%ls: watched %.0f ms in %u polls, at most %.1f ms apart; %u show events\n",
              name.c_str(), figures.watchedMs, figures.polls, figures.longestGapMs,
              figures.showEvents);
  return others;
}

// As Explorer opens a double-clicked file: a GUI process with no console asks the shell to open
// it, in the shown state that a double-click asks for.
void ShowsNothingWhenDoubleClicked() {
  CHECK(WatchedLaunch(L"double-click", DoubleClick(winetest::LauncherPath())).empty(),
        L": no window but the application's may be shown");
}

// Typed at the prompt of a console, whose own window is not the launcher's to show.
void ShowsNothingFromAConsole() {
  CHECK(WatchedLaunch(L"console", L"cmd.exe /c \"\"" + winetest::LauncherPath() + L"\"\"", true)
            .empty(),
        L": no window but the application's may be shown");
}

// The watch itself, against the launcher built to show the interpreter's window: it must name
// that window, or a silent watch would pass every check above.
void CatchesAShownInterpreter() {
  CHECK(!WatchedLaunch(L"catches-shown",
                       DoubleClick(winetest::ModuleFolder() + L"\\Dunvelt-shown.exe"))
             .empty(),
        L": the watch must name the interpreter's window");
}

// --- Against a real Java runtime --------------------------------------------------------------
// Behind bin\java.exe, the host's JDK runs the test module orbisk (tests/jvm): a JavaFX application
// that writes orbisk-report.txt, what the runtime and JavaFX made of the launcher's command, once
// its window is shown. A runtime that refuses an option writes no report, and the stand-in keeps
// what it said. On the display, tests/display/windows.py checks the window and closes it.

using Report = std::map<std::string, std::string>;

Report ReadReport(const std::wstring& path) {
  Report report;
  std::ifstream in(path.c_str(), std::ios::binary);
  for (std::string line; std::getline(in, line);) {
    const std::size_t equals = line.find('=');
    if (equals != std::string::npos) report[line.substr(0, equals)] = line.substr(equals + 1);
  }
  return report;
}

// The complete report, once the runtime has written it, or what there is at the deadline. The
// main class renames a finished report into place, so a report with its end line is whole.
Report WaitForReport(const std::wstring& folder) {
  const HANDLE change =
      FindFirstChangeNotificationW(folder.c_str(), FALSE, FILE_NOTIFY_CHANGE_FILE_NAME);
  const ULONGLONG deadline = GetTickCount64() + Deadline;
  Report report;
  while ((report = ReadReport(folder + L"\\orbisk-report.txt")).count("end") == 0 &&
         GetTickCount64() < deadline) {
    // Bounded, as a change may come between the read and the wait.
    WaitForSingleObject(change, 250);
    FindNextChangeNotification(change);
  }
  FindCloseChangeNotification(change);
  return report;
}

// Starts the launcher in the folder and waits for the application's report; on a runtime that
// wrote none, fails with what the runtime said and returns an empty report.
Report LaunchOnARealRuntime(Launches& launches, const std::wstring& folder,
                            const std::wstring& errors) {
  CHECK(Launches::ExitCode(launches.Start(folder)) == 0);
  Report report = WaitForReport(folder);
  if (report.count("end") == 0) {
    std::ifstream said(errors.c_str());
    const std::string text{std::istreambuf_iterator<char>(said), {}};
    CHECK(false,
          L": the runtime wrote no report: it refused the command or never started. It said: " +
              Wide(text));
    report.clear();
  }
  return report;
}

void StartsTheApplicationOnARealRuntime() {
  Distribution distribution(L"jvm\\Program Files\\D\u00fcnvelt \u03a9\u03bc\u03ad\u03b3\u03b1",
                            L"..\\jvm\\java-runtime.sh");
  Launches launches;
  Report report = LaunchOnARealRuntime(launches, distribution.folder,
                                       distribution.folder + L"\\orbisk-runtime-errors.txt");
  if (report.empty()) return;
  Report expected{
      {"property.prism.order", "sw"},
      {"property.com.sun.javafx.isEmbedded", "true"},
      {"property.com.sun.javafx.touch", "true"},
      {"property.com.sun.javafx.virtualKeyboard", "none"},
      {"heap.max", "1073741824"},  // -Xmx1g
      {"heap.init", "33554432"},   // -Xms32m
      {"module", "orbisk"},
      {"class", "com.varkelund.orbiskapp.Main"},
      {"property.jdk.module.main", "orbisk"},
      {"property.jdk.module.main.class", "com.varkelund.orbiskapp.Main"},
      {"args.count", "0"},
      {"javafx.touch", "true"},  // what JavaFX made of -Dcom.sun.javafx.touch=true
      // The stand-in's module path, the seven options, and -m as the runtime records it.
      {"input.count", "9"},
      {"input.8", "-Djdk.module.main=orbisk"}};
  for (std::size_t i = 0; i < 7; ++i)
    expected["input." + std::to_string(i + 1)] =
        std::string(ExpectedArguments[i].begin(), ExpectedArguments[i].end());
  for (const auto& [key, value] : expected)
    CHECK(report[key] == value, Wide(key + ": " + report[key] + ", expected " + value));
  CHECK(report["input.0"].rfind("--module-path=", 0) == 0, Wide("input.0: " + report["input.0"]));
  // G1 is also the default on larger machines; that every collector is one of G1's shows that it
  // is in use, and the input arguments that it was asked for.
  const int collectors = std::atoi(report["gc.count"].c_str());
  CHECK(collectors >= 2, Wide("gc.count: " + report["gc.count"]));
  for (int i = 0; i < collectors; ++i) {
    const std::string& name = report["gc." + std::to_string(i)];
    CHECK(name.rfind("G1 ", 0) == 0, Wide("collector: " + name));
  }
  CHECK(launches.AllEnded(), L": the application must end once its window is closed");
}

// A runtime image linked as a packager links one, with an application class-data archive that
// its own options name by a path relative to the install folder (tests/jvm/runtime-image.sh):
// started by the launcher's command, from the install folder, the runtime must map it.
void MapsTheApplicationArchiveOfTheRuntimeImage() {
  const std::wstring folder = winetest::ScratchFolder() + L"\\jvm-images\\app";
  CHECK(GetFileAttributesW((folder + L"\\bin\\java.exe").c_str()) != INVALID_FILE_ATTRIBUTES,
        L": the runtime image must have been made first");
  DeleteFileW((folder + L"\\orbisk-report.txt").c_str());
  Launches launches;
  // The image's own runtime writes its errors nowhere but to the hidden console.
  Report report = LaunchOnARealRuntime(launches, folder, {});
  if (report.empty()) return;
  const Report expected{{"vm.UseSharedSpaces", "true"},
                        {"vm.SharedArchiveFile", "lib/orbisk.jsa"},
                        {"input.0", "-XX:SharedArchiveFile=lib/orbisk.jsa"},
                        {"input.7", "-Xms32m"},
                        {"module", "orbisk"}};
  for (const auto& [key, value] : expected)
    CHECK(report[key] == value, Wide(key + ": " + report[key] + ", expected " + value));
  CHECK(launches.AllEnded(), L": the application must end once its window is closed");
}

}  // namespace

int main(int argc, char** argv) {
  if (dunvelt::RunWindowWatchCanaryIfAsked()) return 0;
  std::vector<winetest::Case> cases{
      {"arguments", PassesTheJavaCommandToTheRuntime},
      {"ignored-arguments", IgnoresItsOwnArguments},
      {"odd-paths", WorksFromFoldersWithSpacesAndNonAsciiNames},
      {"two-launches", StartsOneRuntimePerLaunch},
      {"never-waits", ExitsWhileTheRuntimeIsStillRunning},
      {"no-runtime", EndsCleanlyWithoutARuntime},
      {"empty-bin", EndsCleanlyWithAnEmptyBin},
      {"runtime-folder", EndsCleanlyWhenTheRuntimeIsAFolder},
      {"runtime-garbage", EndsCleanlyWhenTheRuntimeIsNoProgram},
      {"read-only", StartsTheRuntimeFromAReadOnlyFolder},
      {"jvm", StartsTheApplicationOnARealRuntime},
      {"jvm-archive", MapsTheApplicationArchiveOfTheRuntimeImage},
      {"double-click", ShowsNothingWhenDoubleClicked},
      {"console", ShowsNothingFromAConsole},
      {"catches-shown", CatchesAShownInterpreter},
      {"no-interpreter", ReportsTheFailureWhenTheInterpreterCannotStart},
      {"wait-timing", TimeTheWaitForTheRuntime}};
  for (const winetest::Case& doctorCase : DoctorCases()) cases.push_back(doctorCase);
  return winetest::Main(argc, argv, cases);
}
