// Runs Dunvelt-doctor.exe against sample installs, each with one of the faults a user meets, and
// checks that it names that fault, and only it, in the words a user acts on. The runtime stand-in
// holds on once started, as an application would, until the doctor has ended.
#include "doctor_tests.h"

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <wincrypt.h>

#include <array>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <sstream>

#include "launch_harness.h"

namespace {

using winetest::Distribution;
using winetest::Launches;
using winetest::NoRuntime;

std::wstring DoctorPath() {
  const std::wstring launcher = winetest::LauncherPath();
  return launcher.substr(0, launcher.find_last_of(L'\\')) + L"\\Dunvelt-doctor.exe";
}

// A sample install: bin\java.exe, a copy of the given runtime, and Dunvelt.exe, a copy of the
// given launcher; both relative to the test programs, the launcher under test by default.
struct Install {
  explicit Install(const std::wstring& name) : Install(name, winetest::StandIn().c_str()) {}
  Install(const std::wstring& name, const wchar_t* runtime,
          const std::wstring& launcher = winetest::LauncherPath())
      : distribution(name, runtime), folder(distribution.folder) {
    CHECK(CopyFileW(launcher.c_str(), (folder + L"\\Dunvelt.exe").c_str(), FALSE), launcher);
  }
  Distribution distribution;
  std::wstring folder;
};

struct DoctorRun {
  DWORD exitCode = STILL_ACTIVE;
  std::vector<std::wstring> lines;
  std::vector<std::wstring> leftRunning;  // what the doctor started and still ran when it ended
  std::string output;                     // all it printed, as it printed it
};

// The doctor, run on the arguments as a support person would, its output collected; `during`
// runs while it does.
std::wstring Quoted(const std::wstring& path) { return L"\"" + path + L"\""; }

// One of the stand-in's settings, an environment variable that the doctor's runs inherit, for as
// long as the case holds it.
class StandInSetting {
 public:
  StandInSetting(const wchar_t* name, const wchar_t* value) : name_(name) {
    SetEnvironmentVariableW(name, value);
  }
  StandInSetting(const StandInSetting&) = delete;
  StandInSetting& operator=(const StandInSetting&) = delete;
  ~StandInSetting() { SetEnvironmentVariableW(name_, nullptr); }

 private:
  const wchar_t* name_;
};

DoctorRun RunDoctor(const std::wstring& name, const std::wstring& arguments,
                    const std::function<void(Launches&)>& during = {},
                    const wchar_t* desktop = nullptr,
                    const std::function<void(Launches&)>& before = {}) {
  const std::wstring output = winetest::ScratchFolder() + L"\\doctor-" + name + L".txt";
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  const HANDLE file = CreateFileW(output.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  DoctorRun run;
  {
    Launches launches;
    launches.HoldRuntimes();
    if (before) before(launches);
    SetEnvironmentVariableW(L"DUNVELT_STANDIN_WINDOW", L"1");
    const HANDLE doctor = launches.StartCommand(
        winetest::ScratchFolder(), L"\"" + DoctorPath() + L"\" " + arguments, true, file, desktop);
    if (during) during(launches);
    run.exitCode = Launches::ExitCode(doctor);
    CloseHandle(file);
    run.leftRunning = launches.StillRunning();
    launches.Release();
    CHECK(launches.AllEnded(), L": what the doctor started must end once the runtime does");
  }
  std::ifstream in(output.c_str(), std::ios::binary);
  run.output.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  in.close();
  std::istringstream printed(run.output);
  for (std::string line; std::getline(printed, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    run.lines.push_back(winetest::Wide(line));
    std::printf("doctor: %s\n", line.c_str());
  }
  DeleteFileW(output.c_str());
  return run;
}

bool Has(const DoctorRun& run, const std::wstring& verdict, const std::wstring& words) {
  for (const std::wstring& line : run.lines)
    if (line.rfind(verdict + L": ", 0) == 0 && line.find(words) != std::wstring::npos) return true;
  return false;
}

// A finding's line ends with its id, which stays when its words change.
std::wstring Id(const wchar_t* id) { return L"[" + std::wstring(id) + L"]"; }

// Every line a finding, and the closing count, which decides the exit code.
void CheckCounts(const DoctorRun& run, int problems, int warnings) {
  const std::wstring summary =
      std::to_wstring(problems) + L" problems, " + std::to_wstring(warnings) + L" warnings";
  CHECK(!run.lines.empty() && run.lines.back() == summary, L": expected " + summary);
  CHECK(run.exitCode == (problems > 0 ? 1U : 0U), L"exit code " + std::to_wstring(run.exitCode));
  for (std::size_t i = 0; i + 1 < run.lines.size(); ++i) {
    const std::wstring& line = run.lines[i];
    if (line.rfind(L"  still waiting for ", 0) == 0) continue;  // on the errors stream
    CHECK(line.rfind(L"OK: ", 0) == 0 || line.rfind(L"NOTE: ", 0) == 0 ||
              line.rfind(L"WARNING: ", 0) == 0 || line.rfind(L"PROBLEM: ", 0) == 0,
          L": " + line);
  }
}

#define CHECK_FINDS(run, verdict, words) \
  CHECK(Has(run, verdict, words), L": no " verdict L" line with: " + std::wstring(words))
#define CHECK_FINDS_ID(run, verdict, id) CHECK_FINDS(run, verdict, Id(id))

// --- Without a display: the watch cannot tell, which the doctor says ---------------------------

// The doctor's last check starts the launcher; where a problem already stops every launch, it
// says so instead, and nothing of the launch runs.
void CheckLaunchLeftOut(const DoctorRun& run, const Install& install, const wchar_t* why) {
  CHECK_FINDS_ID(run, L"NOTE", why);
  for (const std::wstring& line : run.lines)
    CHECK(line.find(Id(L"launch.starting")) == std::wstring::npos, L": " + line);
  CHECK(install.distribution.Records().empty(), L": the runtime must not have been launched");
}

// An install whose runtime cannot start: the doctor names why, and starts no launch.
DoctorRun CheckNamesAnUnusableRuntime(const Install& install, const std::wstring& name,
                                      const wchar_t* why) {
  const DoctorRun run = RunDoctor(name, Quoted(install.folder));
  CHECK_FINDS_ID(run, L"PROBLEM", why);
  CheckLaunchLeftOut(run, install, L"launch.left-out");
  CheckCounts(run, 1, 0);
  return run;
}

void NamesAMissingRuntime() {
  CheckNamesAnUnusableRuntime(Install(L"doctor-no-runtime", NoRuntime), L"no-runtime",
                              L"runtime.missing");
}

void NamesARuntimeThatIsNoProgram() {
  const Install install(L"doctor-runtime-garbage", NoRuntime);
  CreateDirectoryW((install.folder + L"\\bin").c_str(), nullptr);
  std::ofstream((install.folder + L"\\bin\\java.exe").c_str(), std::ios::binary)
      << "MZ but no more of a program than that";
  CheckNamesAnUnusableRuntime(install, L"runtime-garbage", L"runtime.not-a-program");
}

// A runtime that another program, a virus scanner say, holds open and shares with nobody while
// the doctor looks: the doctor names the error it met, and no verdict on the file.
void NamesARuntimeItCannotRead() {
  const Install install(L"doctor-runtime-locked");
  const HANDLE held = CreateFileW((install.folder + L"\\bin\\java.exe").c_str(), GENERIC_READ, 0,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  CHECK(held != INVALID_HANDLE_VALUE, L": bin\\java.exe must be held");
  wchar_t* words = nullptr;
  FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, ERROR_SHARING_VIOLATION, 0, reinterpret_cast<wchar_t*>(&words), 0, nullptr);
  std::wstring error = words != nullptr ? words : L"";
  LocalFree(words);
  while (!error.empty() && std::wstring(L"\r\n .").find(error.back()) != std::wstring::npos)
    error.pop_back();
  const DoctorRun run =
      CheckNamesAnUnusableRuntime(install, L"runtime-locked", L"runtime.unreadable");
  CHECK_FINDS(run, L"PROBLEM", L"bin\\java.exe could not be read (" + error + L", error 32)");
  CloseHandle(held);
  CHECK(!Has(run, L"PROBLEM", Id(L"runtime.not-a-program")),
        L": a verdict on a file it never read");
}

// A 64-bit runtime on a 32-bit Windows: the interpreter cannot start it, and the launcher still
// ends with 0.
void NamesARuntimeForAnotherMachine() {
  CheckNamesAnUnusableRuntime(Install(L"doctor-runtime-x64", L"java-standin-x64.exe"),
                              L"runtime-x64", L"runtime.wrong-machine");
}

void NamesAMissingModule() {
  const Install install(L"doctor-no-module");
  const StandInSetting setting(L"DUNVELT_STANDIN_MODULES", L"java.base@17\r\njava.desktop@17\r\n");
  const DoctorRun run = RunDoctor(L"no-module", Quoted(install.folder));
  CHECK_FINDS(run, L"PROBLEM", L"\"java.lang.module.FindException: Module orbisk not found\"");
  CHECK_FINDS_ID(run, L"PROBLEM", L"runtime.module-missing");
  CheckCounts(run, 1, 0);
}

// A runtime that passes the probe but ends at once in the launch, before a look at the processes
// may find it: the job holds every process of the launch from its start, so the doctor still
// names it, and how it ended.
void NamesARuntimeThatEndsAtOnce() {
  const Install install(L"doctor-runtime-dies");
  const StandInSetting setting(L"DUNVELT_STANDIN_EXIT_CODE", L"7");
  const DoctorRun run = RunDoctor(L"runtime-dies", Quoted(install.folder));
  CHECK_FINDS_ID(run, L"NOTE", L"launch.starting");
  CHECK_FINDS_ID(run, L"PROBLEM", L"launch.runtime-failed");
  CHECK_FINDS(run, L"PROBLEM", L"with code 7");
  CHECK_FINDS_ID(run, L"WARNING", L"launch.not-watched");
  CHECK(run.leftRunning.empty(), L": nothing of the launch may be left running");
  CheckCounts(run, 1, 1);
}

// As a 32-bit runtime refuses the launcher's 1 GiB heap where it cannot have one: the JVM's own
// words, and the way out.
void NamesAHeapTheRuntimeCannotHave() {
  const Install install(L"doctor-runtime-heap");
  const StandInSetting setting(L"DUNVELT_STANDIN_HEAP_MB", L"512");
  const DoctorRun run = RunDoctor(L"runtime-heap", Quoted(install.folder));
  CHECK_FINDS(run, L"PROBLEM",
              L"refused it with code 1: \"Error occurred during initialization of VM\" \"Could"
              L" not reserve enough space for 1048576KB object heap\"");
  CHECK_FINDS_ID(run, L"PROBLEM", L"runtime.heap-refused");
  CheckLaunchLeftOut(run, install, L"launch.left-out");
  CheckCounts(run, 1, 0);
}

// A runtime without a class-data archive it can map still starts the application, only slower:
// a warning, and the launch goes on. Its second run is gone by then: one java.exe is left.
void WarnsOfARuntimeWithoutAnArchive() {
  const Install install(L"doctor-no-archive");
  const StandInSetting setting(L"DUNVELT_STANDIN_SHARE", L"none");
  const DoctorRun run = RunDoctor(L"no-archive", Quoted(install.folder));
  CHECK_FINDS(run, L"WARNING",
              L"\"Specified shared archive not found (lib/orbisk.jsa).\" \"Error occurred during"
              L" initialization of VM\".");
  CHECK_FINDS_ID(run, L"WARNING", L"runtime.no-archive");
  CHECK_FINDS_ID(run, L"OK", L"launch.runtime-runs");
  CHECK(std::count(run.leftRunning.begin(), run.leftRunning.end(), L"java.exe") == 1,
        L": only the application's runtime may be left running");
  CheckCounts(run, 0, 2);  // and the window watch's, which cannot see this desktop
}

// A runtime that hangs with a child of its own, and one that floods its output: the doctor says
// so within its deadline, and nothing it started is left once it has ended.
void EndsARuntimeThatHangs() {
  const Install install(L"doctor-runtime-hangs");
  for (const wchar_t* mode : {L"hang", L"flood"}) {
    const StandInSetting setting(L"DUNVELT_STANDIN_DRY_RUN", mode);
    const DoctorRun run = RunDoctor(L"runtime-hangs", Quoted(install.folder));
    CHECK_FINDS_ID(run, L"PROBLEM", L"runtime.hangs");
    CHECK_FINDS(run, L"PROBLEM", L"did not finish within 60 s");
    CHECK_FINDS(run, L"PROBLEM",
                mode == std::wstring(L"hang") ? L"The doctor ended what was still running: java.exe"
                                              : L"It printed: \"xxxx");
    CHECK(run.leftRunning.empty(),
          std::wstring(L": the doctor left running what it started: ") + mode);
    CheckCounts(run, 1, 0);
  }
}

// A runtime that imports a DLL the install lacks: Windows ends it at once, with no message box
// to wait on, and the doctor names the code and what it means.
void NamesARuntimeMissingADll() {
  const Install install(L"doctor-missing-dll", L"java-standin-missing-dll.exe");
  const DoctorRun run =
      CheckNamesAnUnusableRuntime(install, L"missing-dll", L"runtime.dll-missing");
  CHECK_FINDS(run, L"PROBLEM", L"ended with code 0xC0000135 (STATUS_DLL_NOT_FOUND: a DLL");
}

// A first start that takes 15 s, as under a virus scanner, is slow, not hanging: the doctor says
// meanwhile what it waits for, and warns with the time it took.
void WarnsOfASlowStart() {
  const Install install(L"doctor-slow-start");
  const StandInSetting mode(L"DUNVELT_STANDIN_DRY_RUN", L"slow");
  const StandInSetting delay(L"DUNVELT_STANDIN_DELAY_MS", L"15000");
  const DoctorRun run = RunDoctor(L"slow-start", Quoted(install.folder));
  CHECK_FINDS_ID(run, L"WARNING", L"runtime.slow-start");
  CHECK_FINDS(run, L"WARNING", L" s to load the application, more than 10.0 s");
  CHECK(std::any_of(run.lines.begin(), run.lines.end(),
                    [](const std::wstring& line) {
                      return line.rfind(L"  still waiting for bin\\java.exe (dry run), ", 0) == 0 &&
                             line.find(L" s so far, at most 60 s") != std::wstring::npos;
                    }),
        L": no line that the doctor waits for the dry run");
  CHECK_FINDS_ID(run, L"OK", L"launch.runtime-runs");
  CheckCounts(run, 0, 2);  // and the window watch's, which cannot see this desktop
}

// The JVM's variable set in the doctor's console only, which a double-click never has: the
// probes run without it, as a launch does, and the doctor says where it is set.
void TellsTheConsolesJavaOptionsFromTheUsers() {
  const Install install(L"doctor-console-options");
  const StandInSetting option(L"_JAVA_OPTIONS", L"-XX:+StandInRefuses");
  const DoctorRun run = RunDoctor(L"console-options", Quoted(install.folder));
  CHECK_FINDS_ID(run, L"NOTE", L"runtime.console-option");
  CHECK_FINDS(run, L"NOTE", L"_JAVA_OPTIONS = \"-XX:+StandInRefuses\", set in this console only");
  CHECK(!Has(run, L"NOTE", L"set for this user, in every launch"),
        L": the console's taken as the user's");
  CHECK_FINDS_ID(run, L"OK", L"runtime.starts");
  CheckCounts(run, 0, 1);  // the window watch's, which cannot see this desktop
}

// Run with WINEDLLOVERRIDES=cmd.exe=d: the shell cannot start the interpreter at all.
void NamesAnInterpreterThatCannotStart() {
  const Install install(L"doctor-no-interpreter");
  const DoctorRun run = RunDoctor(L"no-interpreter", Quoted(install.folder));
  CHECK_FINDS_ID(run, L"PROBLEM", L"interpreter.not-started");
  CheckLaunchLeftOut(run, install, L"launch.left-out");
  CheckCounts(run, 1, 0);
}

// And asked not to start the launcher, it checks the rest and says that it left the launch out.
void RefusesWhatIsNoInstall() {
  const Install install(L"doctor-bad-input");
  const std::wstring empty = winetest::ScratchFolder() + L"\\doctor-bad-input\\bin";
  const std::pair<std::wstring, std::wstring> cases[] = {
      {Quoted(install.folder + L"\\nowhere"), L"There is no folder or file"},
      {Quoted(install.folder + L"\\bin\\java.exe"), L"is not Dunvelt.exe"},
      {Quoted(empty), L"There is no Dunvelt.exe in"},
      {L"--no-launch --frobnicate", L"There is no option --frobnicate."},
      {L"--no-launch a b", L"Too many arguments."}};
  const DoctorRun run = RunDoctor(L"bad-input", L"--no-launch " + Quoted(install.folder));
  CHECK_FINDS_ID(run, L"OK", L"runtime.starts");
  CheckLaunchLeftOut(run, install, L"launch.not-asked");
  CheckCounts(run, 0, 0);
  for (const auto& [argument, words] : cases) {
    const DoctorRun run = RunDoctor(L"bad-input", argument);
    CHECK(run.exitCode == 2, L"exit code " + std::to_wstring(run.exitCode) + L" for " + argument);
    CHECK(run.lines.size() == 1 && run.lines[0].find(words) != std::wstring::npos,
          L": one line that says " + words);
  }

  // Double-clicked in Explorer's view of a downloaded zip, the doctor runs alone in a temporary
  // folder: it says so, rather than that there is no launcher, and looks at nothing else.
  std::wstring zipView(MAX_PATH, L'\0');
  zipView.resize(GetTempPathW(MAX_PATH, zipView.data()));
  zipView += L"Temp1_orbisk-2.1.zip";
  CreateDirectoryW(zipView.c_str(), nullptr);
  zipView += L"\\orbisk";
  CreateDirectoryW(zipView.c_str(), nullptr);
  const DoctorRun inZip = RunDoctor(L"bad-input", Quoted(zipView));
  CHECK(inZip.exitCode == 1, L"exit code " + std::to_wstring(inZip.exitCode) + L" in a zip view");
  CHECK_FINDS_ID(inZip, L"PROBLEM", L"guards.zip-view");
  CHECK(inZip.output.find("[launch.starting]") == std::string::npos,
        L": nothing is started from a zip view");
}

// --- On the display ----------------------------------------------------------------------------

// A window of a program that is no part of the launch, this test's own, shown while the doctor
// watches the launch, as a reminder or a notification may be on a user's desktop. Its title is
// one that the X recorder knows.
class AnotherProgramsWindow {
 public:
  AnotherProgramsWindow() {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"DunveltAnotherProgram";
    RegisterClassW(&windowClass);
    window_ = CreateWindowExW(0, windowClass.lpszClassName, Title, WS_OVERLAPPEDWINDOW, 300, 20,
                              200, 100, nullptr, nullptr, windowClass.hInstance, nullptr);
  }
  AnotherProgramsWindow(const AnotherProgramsWindow&) = delete;
  AnotherProgramsWindow& operator=(const AnotherProgramsWindow&) = delete;
  ~AnotherProgramsWindow() { DestroyWindow(window_); }
  void Show() const { ShowWindow(window_, SW_SHOWNOACTIVATE); }
  static constexpr const wchar_t* Title = L"Dunvelt stand-in runtime: another program";

 private:
  HWND window_;
};

// Given the path of Dunvelt.exe rather than its folder. Another program's window, shown once the
// application runs, is named as a note, without its title, and is no problem.
void FindsNothingWrongWithAHealthyInstall() {
  const Install install(L"doctor-healthy");
  const AnotherProgramsWindow another;
  const DoctorRun run =
      RunDoctor(L"healthy", Quoted(install.folder + L"\\Dunvelt.exe"), [&](Launches& launches) {
        CHECK(launches.RuntimeStarted(), L": the doctor's launch must start the runtime");
        another.Show();
      });
  CHECK_FINDS_ID(run, L"OK", L"runtime.starts");
  CHECK_FINDS_ID(run, L"OK", L"runtime.archive-ok");
  CHECK_FINDS_ID(run, L"OK", L"interpreter.runs");
  CHECK_FINDS_ID(run, L"NOTE", L"launch.starting");
  CHECK_FINDS_ID(run, L"OK", L"launch.launcher-ends");
  CHECK_FINDS(run, L"OK", L"and is left running with the application's window");
  CHECK_FINDS(run, L"NOTE",
              L"Another program showed a window while the launch was watched: launch-tests.exe");
  CHECK_FINDS_ID(run, L"OK", L"launch.no-window");
  for (const std::wstring& line : run.lines)
    CHECK(line.find(L": another program") == std::wstring::npos, L": names a title: " + line);
  CheckCounts(run, 0, 0);
  CHECK(std::find(run.leftRunning.begin(), run.leftRunning.end(), L"java.exe") !=
            run.leftRunning.end(),
        L": the application must be left running");
  winetest::CheckSingleRuntimeRun(install.distribution);
}

void NamesAWindowShown() {
  const Install install(L"doctor-shown", winetest::StandIn().c_str(),
                        winetest::ModuleFolder() + L"\\Dunvelt-shown.exe");
  const DoctorRun run = RunDoctor(L"shown", Quoted(install.folder));
  CHECK_FINDS_ID(run, L"PROBLEM", L"launch.window-shown");
  CHECK_FINDS(run, L"PROBLEM", L"The command interpreter's console was shown");
  CheckCounts(run, 1, 0);
}

template <typename Interface>
struct Releaser {
  void operator()(Interface* object) const { object->Release(); }
};

// Shortcuts in the Start menu of this Windows, made with the shell's own link object, and removed
// again when the case ends.
class Shortcuts {
 public:
  Shortcuts() {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    wchar_t* programs = nullptr;
    SHGetKnownFolderPath(FOLDERID_Programs, 0, nullptr, &programs);
    folder_ = std::wstring(programs) + L"\\Dunvelt doctor test";
    CoTaskMemFree(programs);
    winetest::RemoveTree(folder_);
    CreateDirectoryW(folder_.c_str(), nullptr);
  }
  Shortcuts(const Shortcuts&) = delete;
  Shortcuts& operator=(const Shortcuts&) = delete;
  ~Shortcuts() {
    winetest::RemoveTree(folder_);
    CoUninitialize();
  }

  void Add(const std::wstring& name, const std::wstring& target, const std::wstring& startIn) {
    IShellLinkW* link = nullptr;
    IPersistFile* file = nullptr;
    CHECK(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                           reinterpret_cast<void**>(&link)) == S_OK);
    if (link == nullptr) return;
    const std::unique_ptr<IShellLinkW, Releaser<IShellLinkW>> owned(link);
    link->SetPath(target.c_str());
    link->SetWorkingDirectory(startIn.c_str());
    link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file));
    CHECK(file != nullptr && file->Save((folder_ + L"\\" + name).c_str(), TRUE) == S_OK, name);
    if (file != nullptr) file->Release();
  }

 private:
  std::wstring folder_;
};

// One shortcut with the right "Start in" folder, which must pass unnamed, one with a wrong one
// and one with none. And a wrong one to an install whose folder has a character that the code
// page cannot hold, which the doctor also warns of.
void NamesShortcutsThatStartElsewhere() {
  const Install install(L"doctor-shortcuts");
  const Install omega(L"doctor-shortcuts \u03a9");
  Shortcuts shortcuts;
  const std::wstring launcher = install.folder + L"\\Dunvelt.exe";
  shortcuts.Add(L"Dunvelt.lnk", launcher, install.folder);
  shortcuts.Add(L"Dunvelt from System32.lnk", launcher, L"C:\\windows\\system32");
  shortcuts.Add(L"Dunvelt started anywhere.lnk", launcher, L"");
  shortcuts.Add(L"Dunvelt omega.lnk", omega.folder + L"\\Dunvelt.exe", L"C:\\windows");
  DoctorRun run = RunDoctor(L"shortcuts", Quoted(install.folder));
  CHECK_FINDS(run, L"PROBLEM",
              L"Dunvelt from System32.lnk starts Dunvelt.exe in "
              L"\"C:\\windows\\system32\"");
  CHECK_FINDS(run, L"WARNING", L"Dunvelt started anywhere.lnk has no \"Start in\" folder");
  CHECK_FINDS_ID(run, L"WARNING", L"shortcuts.no-start-in");
  for (const std::wstring& line : run.lines) {
    CHECK(line.find(L"\\Dunvelt.lnk") == std::wstring::npos, L": names the right one: " + line);
    CHECK(line.find(L"omega") == std::wstring::npos, L": names another install's: " + line);
  }
  CheckCounts(run, 1, 1);

  run = RunDoctor(L"shortcuts-omega", Quoted(omega.folder));
  CHECK_FINDS(run, L"PROBLEM", L"Dunvelt omega.lnk starts Dunvelt.exe in \"C:\\windows\"");
  CHECK_FINDS_ID(run, L"WARNING", L"install.outside-code-page");
  CHECK_FINDS(run, L"WARNING", L"\"doctor-shortcuts \u03a9\"");
  CheckCounts(run, 1, 1);
}

// A registry value set for the case, and the one it replaced put back when the case ends.
class RegistryValue {
 public:
  RegistryValue(HKEY root, const wchar_t* key, const wchar_t* name, DWORD type, const void* data,
                DWORD bytes)
      : name_(name) {
    RegCreateKeyExW(root, key, 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key_,
                    nullptr);
    DWORD size = 0;
    had_ = RegQueryValueExW(key_, name, nullptr, &oldType_, nullptr, &size) == ERROR_SUCCESS;
    old_.resize(size);
    if (had_) RegQueryValueExW(key_, name, nullptr, &oldType_, old_.data(), &size);
    CHECK(
        RegSetValueExW(key_, name, 0, type, static_cast<const BYTE*>(data), bytes) == ERROR_SUCCESS,
        name);
  }
  RegistryValue(const RegistryValue&) = delete;
  RegistryValue& operator=(const RegistryValue&) = delete;
  ~RegistryValue() {
    if (had_)
      RegSetValueExW(key_, name_.c_str(), 0, oldType_, old_.data(),
                     static_cast<DWORD>(old_.size()));
    else
      RegDeleteValueW(key_, name_.c_str());
    RegCloseKey(key_);
  }

 private:
  std::wstring name_;
  HKEY key_ = nullptr;
  bool had_ = false;
  DWORD oldType_ = 0;
  std::vector<BYTE> old_;
};

RegistryValue Text(HKEY root, const wchar_t* key, const wchar_t* name, const std::wstring& text) {
  return RegistryValue(root, key, name, REG_SZ, text.c_str(),
                       static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

// Wine's interpreter ignores both, so that the probe passes: the doctor names them as warnings,
// as it must wherever the probe cannot show their effect.
void NamesAutoRunAndTheCommandPromptPolicy() {
  const Install install(L"doctor-registry");
  const wchar_t* const processor = L"Software\\Microsoft\\Command Processor";
  const RegistryValue machine =
      Text(HKEY_LOCAL_MACHINE, processor, L"AutoRun", L"echo for every machine's user");
  const RegistryValue user = Text(HKEY_CURRENT_USER, processor, L"AutoRun", L"cd /d %USERPROFILE%");
  const DWORD disabled = 1;
  const RegistryValue policy(HKEY_CURRENT_USER, L"Software\\Policies\\Microsoft\\Windows\\System",
                             L"DisableCMD", REG_DWORD, &disabled, sizeof disabled);
  const DoctorRun run = RunDoctor(L"registry", Quoted(install.folder));
  CHECK_FINDS(run, L"WARNING",
              L"AutoRun command \"echo for every machine's user\" "
              L"(HKLM\\Software\\Microsoft\\Command Processor)");
  CHECK_FINDS(run, L"WARNING",
              L"AutoRun command \"cd /d %USERPROFILE%\" "
              L"(HKCU\\Software\\Microsoft\\Command Processor)");
  // Wine's cmd.exe does not apply the policy: it runs, said once, with why.
  CHECK_FINDS(run, L"OK", L"the cmd.exe here does not apply it");
  CHECK(!Has(run, L"WARNING", Id(L"interpreter.disabled-by-policy")),
        L": both that cmd.exe runs and that it refuses every command");
  CheckCounts(run, 0, 2);

  // An interpreter that waits for input, as one whose AutoRun command does: a stand-in cmd.exe in
  // the install folder, where the shell looks first. The doctor ends it in time, and names the
  // AutoRun commands.
  const Install holding(L"doctor-registry-holds");
  CHECK(CopyFileW((winetest::ModuleFolder() + L"\\" + winetest::StandIn()).c_str(),
                  (holding.folder + L"\\cmd.exe").c_str(), FALSE));
  const DoctorRun held = RunDoctor(L"registry-holds", Quoted(holding.folder));
  CHECK_FINDS(held, L"PROBLEM",
              L"cmd.exe, started as the launcher starts it, did not run its"
              L" command within 60 s");
  CHECK_FINDS(held, L"PROBLEM", L"The doctor ended what was still running: cmd.exe");
  CHECK_FINDS(held, L"PROBLEM", L"\"cd /d %USERPROFILE%\" in HKCU");
  CHECK(held.leftRunning.empty(), L": the doctor left the interpreter running");
  // And the stand-in, named cmd.exe in the install folder, is what a launch would run.
  CHECK_FINDS_ID(held, L"PROBLEM", L"install.foreign-interpreter");
  CheckLaunchLeftOut(held, holding, L"launch.left-out");
  CheckCounts(held, 2, 0);
}

void WriteBytes(const std::wstring& path, const std::string& bytes) {
  std::ofstream out(path.c_str(), std::ios::binary);
  out << bytes;
  CHECK(out.good(), path);
}

// One byte of the image's code changed, as a broken copy or a program that writes to it would.
void ChangeAByte(const std::wstring& path) {
  constexpr std::streamoff InTheCode = 0x400;
  std::fstream file(path.c_str(), std::ios::in | std::ios::out | std::ios::binary);
  file.seekg(InTheCode);
  const int byte = file.get();
  file.seekp(InTheCode);
  file.put(static_cast<char>(byte ^ 0xFF));
  CHECK(file.good(), path);
}

// The throwaway signer's certificate in the machine's AuthRoot store, where Windows keeps the roots
// of Microsoft's Trusted Root Program, for as long as the case holds it.
class ProgramRoot {
 public:
  explicit ProgramRoot(const std::wstring& certificate) {
    std::ifstream in(certificate.c_str(), std::ios::binary);
    der_.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    // Written to the registry when the store closes, for the doctor to read.
    const HCERTSTORE store = Store();
    CHECK(store != nullptr &&
              CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, Bytes(),
                                               static_cast<DWORD>(der_.size()),
                                               CERT_STORE_ADD_REPLACE_EXISTING, nullptr),
          certificate);
    if (store != nullptr) CertCloseStore(store, 0);
  }
  ProgramRoot(const ProgramRoot&) = delete;
  ProgramRoot& operator=(const ProgramRoot&) = delete;
  // Deleted from the registry, where the store keeps it by its thumbprint, so that no later case
  // finds it.
  ~ProgramRoot() {
    const PCCERT_CONTEXT added =
        CertCreateCertificateContext(X509_ASN_ENCODING, Bytes(), static_cast<DWORD>(der_.size()));
    BYTE thumbprint[20];
    DWORD size = sizeof thumbprint;
    if (added == nullptr ||
        !CertGetCertificateContextProperty(added, CERT_SHA1_HASH_PROP_ID, thumbprint, &size)) {
      return;
    }
    CertFreeCertificateContext(added);
    std::wstring key = L"SOFTWARE\\Microsoft\\SystemCertificates\\AuthRoot\\Certificates\\";
    for (DWORD i = 0; i < size; ++i) {
      wchar_t digits[3];
      swprintf(digits, 3, L"%02X", thumbprint[i]);
      key += digits;
    }
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, key.c_str());
  }

 private:
  static HCERTSTORE Store() {
    return CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE,
                         L"AuthRoot");
  }
  const BYTE* Bytes() const { return reinterpret_cast<const BYTE*>(der_.data()); }
  std::string der_;
};

// Windows' own guards. Under Wine every signature's chain passes, Smart App Control is not there
// and neither is the list of Microsoft's Trusted Root Program: the case sets the first and puts
// the throwaway signer's root in the AuthRoot store, and runs a launcher and a runtime signed with
// it (tests/wine/sign_samples.sh), so that only these are in question: an unsigned DLL, one
// changed after it was signed, an unsigned one in lib\ that no start loads, and a jli.dll that is
// the signed launcher, whose strings are not OpenJDK's.
void NamesWhatWindowsBlocks() {
  const std::wstring module = winetest::ModuleFolder();
  const Install install(L"doctor-guards", L"java-standin-signed.exe",
                        module + L"\\Dunvelt-signed.exe");
  const std::wstring bin = install.folder + L"\\bin\\";
  CHECK(CopyFileW((module + L"\\" + winetest::StandIn()).c_str(), (bin + L"unsigned.dll").c_str(),
                  FALSE));
  CHECK(CopyFileW((module + L"\\Dunvelt-signed.exe").c_str(), (bin + L"jli.dll").c_str(), FALSE));
  const std::wstring altered = bin + L"altered.dll";
  CHECK(CopyFileW((module + L"\\java-standin-signed.exe").c_str(), altered.c_str(), FALSE));
  ChangeAByte(altered);
  CreateDirectoryW((install.folder + L"\\lib").c_str(), nullptr);
  CHECK(CopyFileW((module + L"\\" + winetest::StandIn()).c_str(),
                  (install.folder + L"\\lib\\helper.dll").c_str(), FALSE));
  const wchar_t* const policy = L"SYSTEM\\CurrentControlSet\\Control\\CI\\Policy";
  const wchar_t* const state = L"VerifiedAndReputablePolicyState";
  {
    const DWORD on = 1;
    const RegistryValue smartAppControl(HKEY_LOCAL_MACHINE, policy, state, REG_DWORD, &on,
                                        sizeof on);
    const ProgramRoot root(module + L"\\sample-signer.cer");
    const DoctorRun run = RunDoctor(L"guards-on", Quoted(install.folder));
    CHECK_FINDS(run, L"WARNING",
                L"Smart App Control is on and likely blocks bin\\unsigned.dll, which every start"
                L" loads: it is not signed.");
    CHECK_FINDS(run, L"NOTE",
                L"Smart App Control likely blocks lib\\helper.dll as well, but only if something"
                L" starts or loads them");
    CHECK_FINDS(run, L"PROBLEM",
                L"bin\\altered.dll was changed after it was signed (TRUST_E_BAD_DIGEST)");
    CHECK_FINDS(run, L"NOTE", L"checked the signatures of 6 programs and DLLs");
    CHECK(!Has(run, L"NOTE", Id(L"signatures.cannot-tell")), L": its root is the program's");
    // Signed, but where no filter of the rule holds: not under Program Files, and the launcher's
    // strings.
    CHECK_FINDS_ID(run, L"WARNING", L"detection.jli-side-loading");
    CHECK_FINDS(run, L"WARNING", L"\\doctor-guards\\bin\\jli.dll and it lies outside C:\\Program");
    CHECK_FINDS(run, L"WARNING", L"its version resource reads description \"Dunvelt\"");
    // Wine has none of these logs; a Windows that cannot read them must say so too.
    CHECK_FINDS_ID(run, L"NOTE", L"events.unread-logs");
    // What Smart App Control does with them only the launch shows.
    CHECK_FINDS(run, L"OK", L"Dunvelt.exe ended at once with code 0");
    CheckCounts(run, 1, 2);
  }
  {
    const DWORD off = 0;
    const RegistryValue smartAppControl(HKEY_LOCAL_MACHINE, policy, state, REG_DWORD, &off,
                                        sizeof off);
    // Off, it blocks nothing: the changed DLL is still a problem, but no reason not to launch.
    // Without the program's list or its root in the AuthRoot store, the doctor cannot tell
    // whether Smart App Control would accept the throwaway signer.
    const DoctorRun run = RunDoctor(L"guards-off", Quoted(install.folder));
    CHECK_FINDS_ID(run, L"WARNING", L"signatures.not-trusted");
    CHECK_FINDS(run, L"WARNING", L"2 of the 6 programs and DLLs of the install");
    CHECK_FINDS(run, L"WARNING", L"Smart App Control accepts them: bin\\unsigned.dll and lib");
    CHECK_FINDS(run, L"NOTE",
                L"Cannot tell whether Smart App Control accepts the signatures of"
                L" Dunvelt.exe (the list of Microsoft's Trusted Root Program");
    CHECK_FINDS(run, L"PROBLEM", L"bin\\altered.dll was changed after it was signed");
    CHECK_FINDS(run, L"OK", L"Dunvelt.exe ended at once with code 0");
    CheckCounts(run, 1, 2);
  }

  // A launcher downloaded from the Internet. Wine keeps a file's stream as a file of its name.
  const Install web(L"doctor-guards-web");
  // Written in the ANSI code page, as the attachment manager writes it.
  WriteBytes(web.folder + L"\\Dunvelt.exe:Zone.Identifier",
             "[ZoneTransfer]\r\nZoneId=3\r\nHostUrl=https://example.com/orbisk-\xE9.zip\r\n");
  std::array<wchar_t, 4> ansi{};
  MultiByteToWideChar(CP_ACP, 0, "\xE9", 1, ansi.data(), static_cast<int>(ansi.size()));
  DoctorRun run = RunDoctor(L"guards-web", L"--no-launch " + Quoted(web.folder));
  CHECK_FINDS_ID(run, L"WARNING", L"mark.internet");
  CHECK_FINDS(run, L"WARNING",
              L"zone 3, from https://example.com/orbisk-" + std::wstring(ansi.data()) + L".zip)");
  CHECK_FINDS(run, L"WARNING",
              L"Get-ChildItem -Recurse " + Quoted(web.folder) + L" | Unblock-File");
  CHECK_FINDS_ID(run, L"NOTE", L"signatures.not-trusted");
  CheckCounts(run, 0, 1);

  // Run from a zip that Explorer opened without extracting it, into the temporary folder.
  const Install zipped(L"Temp1_orbisk.zip\\orbisk");
  const std::wstring temporary = winetest::Variable(L"TMP");
  SetEnvironmentVariableW(L"TMP", winetest::ScratchFolder().c_str());
  run = RunDoctor(L"guards-zip", Quoted(zipped.folder));
  SetEnvironmentVariableW(L"TMP", temporary.empty() ? nullptr : temporary.c_str());
  CHECK_FINDS(run, L"PROBLEM", L"The install folder is inside \"Temp1_orbisk.zip\"");
  CheckLaunchLeftOut(run, zipped, L"launch.left-out");
  CheckCounts(run, 1, 0);
}

// The drive N: is made a network drive of this Windows for the case (wine.doctor.network-drive),
// and holds the folder "network-drive" of the scratch folder.
void WarnsOfANetworkDrive() {
  const Install install(L"network-drive\\Dunvelt");
  const DoctorRun run = RunDoctor(L"network-drive", L"N:\\Dunvelt");
  CHECK_FINDS(run, L"WARNING", L"The install folder N:\\Dunvelt is on the network drive N:");
  CHECK_FINDS_ID(run, L"WARNING", L"install.network-drive");
  CHECK_FINDS_ID(run, L"OK", L"launch.runtime-runs");
  CheckCounts(run, 0, 1);
}

// An install as a downloaded zip extracted by Explorer leaves it, the mark of the web on every
// file, reached through the drive S: that stands for its folder as subst makes one (made so for
// the case, wine.doctor.subst-drive.make), by a doctor started inside a job with UI limits, as a
// scheduled task or a build agent starts it. Then the same where that job lets its processes
// break away: the application the launch leaves running must not stay in it, to end with it.
void LaunchesAMarkedInstallFromInsideAJob() {
  const Install install(L"subst-drive\\Dunvelt");
  for (const wchar_t* file : {L"\\Dunvelt.exe", L"\\bin\\java.exe"}) {
    WriteBytes(install.folder + file + L":Zone.Identifier",
               "[ZoneTransfer]\r\nZoneId=3\r\nReferrerUrl=C:\\Users\\u\\Downloads\\orbisk.zip\r\n");
  }
  const auto noLaunchProblem = [](const DoctorRun& run) {
    for (const std::wstring& line : run.lines) {
      CHECK(!(line.rfind(L"PROBLEM: ", 0) == 0 && line.find(L"[launch.") != std::wstring::npos),
            L": " + line);
    }
  };
  const DoctorRun held = RunDoctor(L"in-a-job", L"S:\\Dunvelt", {}, nullptr,
                                   [](Launches& launches) { launches.LimitAsAScheduler(false); });
  CHECK_FINDS_ID(held, L"OK", L"launch.runtime-runs");
  noLaunchProblem(held);
  CHECK(install.distribution.Records().size() == 1, L": the launch must start the runtime once");

  const Install away(L"subst-drive\\Away");
  const DoctorRun freed = RunDoctor(L"in-a-job-breakaway", L"S:\\Away", {}, nullptr,
                                    [](Launches& launches) { launches.LimitAsAScheduler(true); });
  CHECK_FINDS_ID(freed, L"OK", L"launch.runtime-runs");
  noLaunchProblem(freed);
  CHECK(freed.leftRunning.empty(), L": the application left running must be out of the job");
}

// The doctor's helper switch starts whatever it names, so it serves the doctor alone: another
// caller gets one line and exit code 2, and nothing starts.
void RefusesItsHelperSwitchToAStranger() {
  const Install install(L"doctor-switch");
  const DoctorRun run =
      RunDoctor(L"switch", L"--dunvelt-doctor-shell-start 1 " + Quoted(install.folder) + L" " +
                               Quoted(install.folder + L"\\Dunvelt.exe"));
  CHECK(run.exitCode == 2, L"exit code " + std::to_wstring(run.exitCode));
  CHECK(run.lines.size() == 1 && run.lines[0].find(L"the doctor's own") != std::wstring::npos,
        L": one line that says why");
  CHECK(run.leftRunning.empty() && install.distribution.Records().empty(),
        L": nothing may be started");
}

// The report as data, and the facts saved with it: judged again with --judge, after the install
// is gone, a saved file gives the same JSON report byte for byte, and runs nothing. The reports
// stay in the scratch folder's "reports" for wine.doctor.report.schema, which validates them.
void ReportsAsDataAndJudgesSavedFactsAgain() {
  const std::wstring reports = winetest::ScratchFolder() + L"\\reports";
  winetest::RemoveTree(reports);
  CreateDirectoryW(reports.c_str(), nullptr);
  const std::wstring saved = reports + L"\\healthy-facts.json";
  DoctorRun live;
  {
    const Install healthy(L"doctor-report");
    live = RunDoctor(L"report", L"--json --save " + Quoted(saved) + L" " + Quoted(healthy.folder));
    CHECK(live.exitCode == 0, L"exit code " + std::to_wstring(live.exitCode));
    CHECK(healthy.distribution.Records().size() == 1, L": the launch must start the runtime once");
  }
  WriteBytes(reports + L"\\healthy.json", live.output);
  CHECK(live.output.find("\"id\": \"launch.runtime-runs\"") != std::string::npos,
        L": the launch's finding by its id");
  const DoctorRun again = RunDoctor(L"report-judged", L"--json --judge " + Quoted(saved));
  CHECK(again.exitCode == 0 && again.output == live.output,
        L": judged again, the saved facts must give the same report");
  CHECK(again.leftRunning.empty(), L": judging must start nothing");
  const DoctorRun text = RunDoctor(L"report-judged-text", L"--judge " + Quoted(saved));
  CHECK_FINDS_ID(text, L"OK", L"launch.runtime-runs");
  CheckCounts(text, 0, 0);

  // Two faults: a runtime without a class-data archive, and a cmd.exe of the install's own.
  const Install faulty(L"doctor-report-faults");
  CHECK(CopyFileW((winetest::ModuleFolder() + L"\\" + winetest::StandIn()).c_str(),
                  (faulty.folder + L"\\cmd.exe").c_str(), FALSE));
  {
    const StandInSetting setting(L"DUNVELT_STANDIN_SHARE", L"none");
    const DoctorRun two = RunDoctor(L"report-faults", L"--json " + Quoted(faulty.folder));
    CHECK(two.exitCode == 1, L"exit code " + std::to_wstring(two.exitCode));
    WriteBytes(reports + L"\\two-faults.json", two.output);
    for (const char* id :
         {"\"install.foreign-interpreter\"", "\"runtime.no-archive\"", "\"launch.left-out\""}) {
      CHECK(two.output.find(id) != std::string::npos, winetest::Wide(id));
    }
  }

  // What is no saved file gets one line and exit code 2, as a bad argument does.
  WriteBytes(reports + L"\\garbage.txt", "{\"format\": \"something else\"}");
  WriteBytes(reports + L"\\broken.txt", "{\"format\": \"dunvelt-doctor-facts\", \"ver");
  for (const std::wstring& file :
       {reports + L"\\garbage.txt", reports + L"\\broken.txt", reports + L"\\missing.json"}) {
    const DoctorRun refused = RunDoctor(L"report-refused", L"--judge " + Quoted(file));
    CHECK(refused.exitCode == 2 && refused.lines.size() == 1,
          L": one line and exit code 2 for " + file);
  }
  const DoctorRun unsaved =
      RunDoctor(L"report-unsaved", L"--no-launch --save " +
                                       Quoted(reports + L"\\no-such-folder\\facts.json") + L" " +
                                       Quoted(faulty.folder));
  CHECK(unsaved.exitCode == 2, L": a save that failed must not pass for one");
  CHECK_FINDS(unsaved, L"PROBLEM", Id(L"install.foreign-interpreter"));
}

// As a service or a remote shell runs it: on a window station of its own, whose desktop nobody
// sees. The doctor says so, and neither opens the application there nor reads the shortcuts.
void SaysWhereTheUserIsNot() {
  const Install install(L"doctor-away");
  HWINSTA station = CreateWindowStationW(L"DunveltDoctorAway", 0, GENERIC_ALL, nullptr);
  CHECK(station != nullptr, L": a window station of the test's own");
  const HWINSTA own = GetProcessWindowStation();
  SetProcessWindowStation(station);
  HDESK desktop = CreateDesktopW(L"Default", nullptr, nullptr, 0, GENERIC_ALL, nullptr);
  SetProcessWindowStation(own);
  const DoctorRun run =
      RunDoctor(L"away", Quoted(install.folder), {}, L"DunveltDoctorAway\\Default");
  CHECK_FINDS_ID(run, L"NOTE", L"user.not-the-user");
  CHECK_FINDS(run, L"NOTE", L"without a desktop that anybody sees");
  for (const std::wstring& line : run.lines) {
    CHECK(line.find(Id(L"launch.starting")) == std::wstring::npos &&
              line.find(Id(L"shortcuts.ok")) == std::wstring::npos,
          L": " + line);
  }
  CHECK_FINDS_ID(run, L"OK", L"runtime.starts");
  CHECK(install.distribution.Records().empty(), L": the application must not have been opened");
  CheckCounts(run, 0, 0);
  if (desktop != nullptr) CloseDesktop(desktop);
  if (station != nullptr) CloseWindowStation(station);
}
}  // namespace

std::vector<winetest::Case> DoctorCases() {
  return {{"doctor.no-runtime", NamesAMissingRuntime},
          {"doctor.runtime-garbage", NamesARuntimeThatIsNoProgram},
          {"doctor.runtime-locked", NamesARuntimeItCannotRead},
          {"doctor.runtime-x64", NamesARuntimeForAnotherMachine},
          {"doctor.no-module", NamesAMissingModule},
          {"doctor.runtime-heap", NamesAHeapTheRuntimeCannotHave},
          {"doctor.no-archive", WarnsOfARuntimeWithoutAnArchive},
          {"doctor.runtime-dies", NamesARuntimeThatEndsAtOnce},
          {"doctor.runtime-hangs", EndsARuntimeThatHangs},
          {"doctor.missing-dll", NamesARuntimeMissingADll},
          {"doctor.slow-start", WarnsOfASlowStart},
          {"doctor.console-options", TellsTheConsolesJavaOptionsFromTheUsers},
          {"doctor.no-interpreter", NamesAnInterpreterThatCannotStart},
          {"doctor.bad-input", RefusesWhatIsNoInstall},
          {"doctor.healthy", FindsNothingWrongWithAHealthyInstall},
          {"doctor.shown", NamesAWindowShown},
          {"doctor.shortcuts", NamesShortcutsThatStartElsewhere},
          {"doctor.registry", NamesAutoRunAndTheCommandPromptPolicy},
          {"doctor.network-drive", WarnsOfANetworkDrive},
          {"doctor.in-a-job", LaunchesAMarkedInstallFromInsideAJob},
          {"doctor.switch", RefusesItsHelperSwitchToAStranger},
          {"doctor.guards", NamesWhatWindowsBlocks},
          {"doctor.report", ReportsAsDataAndJudgesSavedFactsAgain},
          {"doctor.away", SaysWhereTheUserIsNot}};
}
