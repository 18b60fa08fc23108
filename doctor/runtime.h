// The runtime, bin\java.exe: a program this Windows runs, that loads the application's module with
// the launcher's options, and maps a class-data archive with them. Portable; its facts are
// gathered in runtime_windows.cpp.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "facts_json_fwd.h"
#include "finding.h"
#include "install.h"

namespace dunvelt::doctor {

// The machine types of a PE header that a Java runtime is built for.
inline constexpr std::uint16_t MachineI386 = 0x014c;
inline constexpr std::uint16_t MachineArm = 0x01c4;
inline constexpr std::uint16_t MachineAmd64 = 0x8664;
inline constexpr std::uint16_t MachineArm64 = 0xaa64;

// "x86", "x64", "ARM64", "ARM", or the number.
std::wstring MachineName(std::uint16_t machine);

// The first Windows builds that changed which programs ARM64 Windows runs: Windows 11 emulates
// x64, and Windows 11 24H2 no longer runs ARM programs.
inline constexpr std::uint32_t BuildArm64RunsX64 = 22000;
inline constexpr std::uint32_t BuildArm64DropsArm = 26100;

// Whether a Windows on the native machine, of the build, runs a program built for the image's
// machine: x86 everywhere, x64 on x64 and on ARM64 from Windows 11, ARM64 on ARM64, and ARM on
// ARM and on ARM64 before Windows 11 24H2.
bool CanRun(std::uint16_t native, std::uint16_t image, std::uint32_t build);

// bin\java.exe as this Windows finds it.
struct RuntimeImageFacts {
  bool exists = false;  // false only when Windows said there is no such file or folder
  bool isFolder = false;
  std::uint32_t readError = 0;  // why it could not be looked at or read; 0 when it was read
  std::wstring readErrorText;   // the platform's words for it
  std::uint16_t machine = 0;    // from its PE header; 0 when it has none, or is too short for one
  std::uint16_t nativeMachine = MachineI386;
  std::uint32_t windowsBuild = 0;  // 0 when it could not be read
};

DUNVELT_FACTS_JSON_DECLARE(RuntimeImageFacts)

// bin\java.exe exists and is a program this Windows runs.
struct RuntimeImageCheck {
  static constexpr const char* Id = "runtime.image";
  static constexpr const wchar_t* Title = L"The runtime's program";
  using Facts = RuntimeImageFacts;
  static Facts Gather(const Install& install);
  static CheckResult Judge(const Facts& facts);
};

// The module the launcher's command starts: the name after "-m", before the main class.
std::string LaunchedModule();

// What the doctor has the runtime run: the launcher's own options and module, but only to create
// the virtual machine and load the main class, which takes what the launch takes up to the
// application's own code.
std::wstring DryRunArguments();

// What the doctor has the runtime run once more, after the dry run has passed: the same, but with
// -Xshare:on, with which the JVM refuses to start unless it maps a class-data archive, the JDK's
// own (lib\server\classes.jsa) or the one that the runtime image's options name. Without it, as
// in a launch, a runtime without a usable archive starts all the same, only slower.
std::wstring ArchiveRunArguments();

// The launcher's command as a user types it in a console opened in the install folder, to read
// what the runtime says.
std::wstring ConsoleCommand();

// How much sooner the application's window appears with an application class-data archive than
// with none, the runtime started with the launcher's options: 34 and 36 percent in two runs of
// bench/user-wait.sh (its README, "The user's wait").
inline constexpr int ArchiveSavesPercent = 35;

// A start of the runtime that takes longer than this, by the doctor's clock, is slow enough for a
// user to click again, although it succeeds.
inline constexpr std::uint32_t SlowStartMs = 10000;

// The JVM's environment variables that every launch picks up: set for the user, as a double-click
// has them, or set only in the console the doctor runs in.
struct JavaOption {
  std::wstring name;  // "JDK_JAVA_OPTIONS", "_JAVA_OPTIONS" or "JAVA_TOOL_OPTIONS"
  std::wstring value;
};

// One run of bin\java.exe, hidden, in the install folder.
struct RuntimeRun {
  bool started = false;
  std::wstring startError;
  bool ended = false;  // within the deadline
  std::uint32_t deadlineSeconds = 0;
  std::uint32_t exitCode = 0;
  std::wstring output;  // what it printed, output and errors together, up to the cap
  bool outputCut = false;
  std::vector<std::wstring> endedByDoctor;  // still running at the deadline: their images
  // From its start to its end by the doctor's clock: for the dry run, about what every start of
  // the application takes up to its own code.
  std::uint32_t tookMs = 0;
};

// bin\java.exe run on DryRunArguments(), then, only when that ended with 0, on
// ArchiveRunArguments().
struct RuntimeProbe : RuntimeRun {
  std::vector<JavaOption> javaOptions;  // the user's, which the probes run with, as a launch does
  // Where the doctor's console differs from the user's: its value, empty where the console has
  // taken the user's away. The probes run without these.
  std::vector<JavaOption> consoleOptions;
  RuntimeRun archive;
};

DUNVELT_FACTS_JSON_DECLARE(RuntimeProbe)

// bin\java.exe loads the application's module with the launcher's options, and maps a class-data
// archive with them.
struct RuntimeStartCheck {
  static constexpr const char* Id = "runtime.start";
  static constexpr const wchar_t* Title = L"The runtime's start";
  using Facts = RuntimeProbe;
  static Facts Gather(const Install& install);
  static CheckResult Judge(const Facts& facts);
};

}  // namespace dunvelt::doctor
