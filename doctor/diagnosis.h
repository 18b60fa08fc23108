// What the doctor makes of what it found on a user's machine: each finding's verdict and its
// words, what was found and what to do. Pure text work with no platform include, so that the host
// unit tests can drive every combination; doctor/checks.cpp and doctor/install_checks.cpp gather
// the facts on Windows.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace dunvelt::doctor {

// A note tells what the doctor did or saw beside the checks; it counts as neither.
enum class Verdict { Ok, Note, Warning, Problem };

struct Finding {
  Verdict verdict;
  std::wstring text;
};

using Findings = std::vector<Finding>;

// The finding as the doctor prints it: "OK: ...", "NOTE: ...", "WARNING: ..." or "PROBLEM: ...".
std::wstring Line(const Finding& finding);

// The closing line: "N problems, N warnings".
std::wstring Summary(const Findings& findings);

// 0 when no finding is a problem, else 1.
int ExitCode(const Findings& findings);

// --- The runtime -----------------------------------------------------------------------------

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

// The module the launcher's command starts: the name after "-m", before the main class.
std::string LaunchedModule();

// What the doctor has the runtime run: the launcher's own options and module, but only to create
// the virtual machine and load the main class, which takes what the launch takes up to the
// application's own code.
std::wstring DryRunArguments();

// The JVM's environment variables set for the user, which every launch also picks up.
struct JavaOption {
  std::wstring name;  // "JDK_JAVA_OPTIONS", "_JAVA_OPTIONS" or "JAVA_TOOL_OPTIONS"
  std::wstring value;
};

// What the doctor has the runtime run once more, after the dry run has passed: the same, but with
// -Xshare:on, with which the JVM refuses to start unless it maps a class-data archive, the JDK's
// own (lib\server\classes.jsa) or the one that the runtime image's options name. Without it, as
// in a launch, a runtime without a usable archive starts all the same, only slower.
std::wstring ArchiveRunArguments();

// How much sooner the application's window appears with an application class-data archive than
// with none, the runtime started with the launcher's options: 34 and 36 percent in two runs of
// bench/user-wait.sh (its README, "The user's wait").
inline constexpr int ArchiveSavesPercent = 35;

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
  std::vector<JavaOption> javaOptions;
  RuntimeRun archive;
};

// The dry run's verdict and, once it has passed, whether the runtime maps a class-data archive.
Findings JudgeRuntimeStart(const RuntimeProbe& probe);

// The launcher's command as a user types it in a console opened in the install folder, to read
// what the runtime says.
std::wstring ConsoleCommand();

// --- The install's files ---------------------------------------------------------------------

// The longest folder that a program can be started in, without the closing backslash that Windows
// adds: MAX_PATH less that backslash and the terminating null.
inline constexpr std::size_t LongestCurrentFolder = 258;

struct FolderFacts {
  std::wstring path;
  bool networkPath = false;    // a UNC path
  bool remoteDrive = false;    // on a drive letter mapped to a network share
  std::uint32_t codePage = 0;  // the ANSI code page of this Windows
  // The first name on the path that the code page cannot hold; empty when all fit.
  std::wstring outsideCodePage;
};

Findings JudgeFolder(const FolderFacts& folder);

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

Findings JudgeRuntimeImage(const RuntimeImageFacts& runtime);

// The shortcuts in the Start menu, on the desktop and in Startup, as far as they concern this
// Dunvelt.exe.
struct ShortcutFacts {
  std::wstring installFolder;
  struct Link {
    std::wstring path;       // of the .lnk file
    std::wstring readError;  // why it could not be read, in the platform's words; else empty
    std::wstring target;     // with its environment variables expanded
    std::wstring startIn;    // likewise; empty when it has none
    bool startsInInstallFolder = false;
  };
  // Those that point at this Dunvelt.exe, and those that could not be read, which might.
  std::vector<Link> links;
  struct Unlisted {
    std::wstring folder;
    std::wstring error;  // with the platform's words
  };
  std::vector<Unlisted> unlistedFolders;
};

Findings JudgeShortcuts(const ShortcutFacts& shortcuts);

// A shortcut's stored path with %ProgramFiles% or %CommonProgramFiles% at its start read as the
// 64-bit folders, which a 64-bit installer meant: a 32-bit program that expands them gets the
// 32-bit ones. Empty 64-bit folders (a 32-bit Windows) leave the path as it is.
std::wstring WithNativeProgramFiles(const std::wstring& raw, const std::wstring& programFiles64,
                                    const std::wstring& commonProgramFiles64);

// --- The interpreter -------------------------------------------------------------------------

// A command that cmd.exe runs before every other, the launcher's too.
struct AutoRun {
  std::wstring where;  // the registry key that holds it, with its view
  std::wstring command;
};

// cmd.exe started as the launcher starts it, on a command that prints its current folder.
struct InterpreterProbe {
  std::wstring installFolder;
  bool networkPath = false;  // the install folder is a UNC path
  bool started = false;
  std::wstring startError;  // why the shell could not start it
  bool ended = true;        // it ended within the deadline
  std::uint32_t deadlineSeconds = 0;
  std::vector<std::wstring> endedByDoctor;  // still running at the deadline: their images
  bool answered = false;                    // it ran the command and printed a folder
  std::wstring ranIn;                       // the folder it printed
  bool ranInInstallFolder = false;
  std::vector<AutoRun> autoRuns;
  std::uint32_t disableCmd = 0;  // the "Prevent access to the command prompt" policy; 0: not set
};

Findings JudgeInterpreter(const InterpreterProbe& probe);

// --- The launch ------------------------------------------------------------------------------

// Dunvelt.exe started as a double-click starts it, under the window watch.
struct LaunchOutcome {
  bool started = false;
  std::wstring startError;
  bool ended = false;  // within the deadline
  std::uint32_t exitCode = 0;
  std::wstring exitMeaning;  // the platform's words for a non-zero exit code
  std::uint32_t endDeadlineSeconds = 0;

  bool runtimeStarted = false;  // a new process ran the install's bin\java.exe
  std::uint32_t runtimeId = 0;
  std::uint32_t runtimeStartedAfterMs = 0;
  bool runtimeEnded = false;
  std::uint32_t runtimeExitCode = 0;
  std::uint32_t runtimeLivedMs = 0;
  std::uint32_t runtimeDeadlineSeconds = 0;
  std::wstring
      runtimeCommand;  // the launcher's command, to type in a console in the install folder

  bool watched = false;  // the window watch saw its canary
  struct Window {
    std::wstring description;  // process, image, class, title and time visible
    std::wstring imageName;    // the file name of the process's image, "conhost.exe" say
    std::uint32_t processId = 0;
    bool ofTheLaunch = false;  // its process is the launcher or one that the launch started
  };
  // Shown, and not the application's: those of the launch, of the console and terminal hosts,
  // and of any other program that happened to show one meanwhile.
  std::vector<Window> otherWindows;
  bool applicationShown = false;
  std::uint32_t watchedMs = 0;
  std::vector<std::wstring> endedByDoctor;  // what the launch left running when nothing came of it
};

Findings JudgeLaunch(const LaunchOutcome& launch);

// Said before the launch check, which opens the application as a double-click would.
Finding LaunchAnnouncement();

// Why the launch check is left out, when it is: asked not to (--no-launch), or a problem found
// before already stops every launch. Empty text when the launch is to be tried.
std::wstring WhyNoLaunch(bool noLaunchAsked, bool problemBefore);

// --- Command lines ---------------------------------------------------------------------------

// The text that CommandLineToArgvW, and a C runtime's argv, read back as `argument` alone.
std::wstring QuotedArgument(const std::wstring& argument);

}  // namespace dunvelt::doctor
