#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "findings.h"
#include "install_folder.h"
#include "interpreter.h"
#include "launch.h"
#include "registry_value.h"
#include "runtime.h"
#include "shortcuts.h"
#include "text.h"
#include "user_session.h"

namespace dunvelt::doctor {
namespace {

// A stored string may or may not carry its null, and a number may be stored as its digits.
TEST(RegistryValue, ReadsStringsAndNumbersAsWindowsStoresThem) {
  RegistryValue bare = RegSz(L"cd /d C:\\"), expand = bare;
  bare.data.bytes.resize(bare.data.bytes.size() - 2);
  expand.type = RegistryExpandString;
  for (const RegistryValue& text : {RegSz(L"cd /d C:\\"), bare, expand}) {
    EXPECT_EQ(ValueText(text), L"cd /d C:\\");
    EXPECT_EQ(ValueNumber(text), std::nullopt);
  }
  EXPECT_EQ(ValueNumber(RegSz(L" 42 ")), 42U);
  EXPECT_EQ(ValueNumber(RegSz(L"4x")), std::nullopt);
  RegistryValue number = RegDword(0x01020304), binary = number, absent = number;
  EXPECT_EQ(ValueNumber(number), 0x01020304U);
  EXPECT_EQ(ValueText(number), L"16909060");
  binary.type = 3;  // REG_BINARY
  absent.found = false;
  for (const RegistryValue& other : {binary, absent}) {
    EXPECT_EQ(ValueNumber(other), std::nullopt);
    EXPECT_EQ(ValueText(other), L"");
  }
}

TEST(Runtime, RunsWhatThisWindowsCanRunAndNothingElse) {
  EXPECT_TRUE(CanRun(MachineAmd64, MachineI386, 0));  // 32-bit runtime on 64-bit Windows
  EXPECT_FALSE(CanRun(MachineI386, MachineAmd64, 22631));
  EXPECT_FALSE(CanRun(MachineAmd64, MachineArm64, 22631));
  EXPECT_FALSE(CanRun(MachineAmd64, 0x0200, 19045));  // Itanium
  EXPECT_EQ(MachineName(0x8664), L"x64");
}

// ARM64 Windows emulates x64 from Windows 11, and runs ARM programs only before Windows 11 24H2.
TEST(Runtime, KnowsWhichBuildsOfArm64WindowsRunX64AndArm) {
  EXPECT_FALSE(CanRun(MachineArm64, MachineAmd64, 21999));
  EXPECT_TRUE(CanRun(MachineArm64, MachineAmd64, 22000));
  EXPECT_TRUE(CanRun(MachineArm64, MachineArm, 26099));
  EXPECT_FALSE(CanRun(MachineArm64, MachineArm, 26100));
  EXPECT_TRUE(CanRun(MachineArm64, MachineI386, 26100));
  EXPECT_TRUE(CanRun(MachineArm, MachineArm, 26100));
}

class RuntimeImage : public ::testing::Test {
 protected:
  CheckResult Judged() const { return RuntimeImageCheck::Judge(facts); }
  RuntimeImageFacts facts{true, false, 0, L"", MachineI386, MachineI386, 19045};
  const std::string stopped = "; stops the launch; leaves out runtime.start";
};

// A runtime that is missing or cannot run here cannot be started to ask it more.
TEST_F(RuntimeImage, NamesAReadErrorAndNoVerdictOnTheFile) {
  facts.machine = 0;
  facts.readError = 32;
  facts.readErrorText = L"Sharing violation, error 32";
  EXPECT_EQ(Outline(Judged()), "PROBLEM runtime.unreadable" + stopped);
  EXPECT_EQ(Number(Judged(), "runtime.unreadable", "error"), 32);
  facts.readError = 0;
  EXPECT_EQ(Outline(Judged()), "PROBLEM runtime.not-a-program" + stopped);
  facts.exists = false;
  EXPECT_EQ(Outline(Judged()), "PROBLEM runtime.missing" + stopped);
}

TEST_F(RuntimeImage, JudgesX64OnArm64WindowsByItsBuild) {
  facts.nativeMachine = MachineArm64;
  facts.machine = MachineAmd64;
  EXPECT_EQ(Outline(Judged()), "PROBLEM runtime.wrong-machine" + stopped);
  EXPECT_EQ(Text(Judged(), "runtime.wrong-machine", "machine"), L"x64");
  facts.windowsBuild = 0;
  EXPECT_EQ(Outline(Judged()), "WARNING runtime.machine-undecided");
  facts.windowsBuild = 22000;
  EXPECT_EQ(Outline(Judged()), "OK runtime.image-ok");
  facts.nativeMachine = MachineI386;
  EXPECT_EQ(Outline(Judged()), "PROBLEM runtime.wrong-machine" + stopped);
  EXPECT_EQ(Text(Judged(), "runtime.wrong-machine", "windows"), L"x86");
}

TEST(Folder, NamesAPathTooLongToStartInAndNamesOutsideTheCodePage) {
  FolderFacts folder;
  folder.path = L"C:\\" + std::wstring(243, L'a');  // 246 characters: the longest that works
  folder.codePage = 1252;
  EXPECT_EQ(Outline(InstallFolderCheck::Judge(folder)), "OK install.folder-ok");
  // cmd.exe runs in it, but the relative bin\java.exe, 13 more with its backslash, is past
  // MAX_PATH.
  for (const std::size_t length : {247, 258}) {
    folder.path.resize(length, L'a');
    const CheckResult result = InstallFolderCheck::Judge(folder);
    EXPECT_EQ(Outline(result),
              "PROBLEM install.runtime-path-too-long, NOTE install.runtime-left-out; stops the "
              "launch; leaves out runtime.start");
    EXPECT_EQ(Number(result, "install.runtime-path-too-long", "longest"), 246);
    EXPECT_TRUE(Says(result, "install.runtime-path-too-long",
                     L"fits in 259 characters: here it is " + std::to_wstring(length + 13)));
  }
  folder.path += L"a";
  // Neither probe is started in it: both would only fail on the same cause.
  EXPECT_EQ(Outline(InstallFolderCheck::Judge(folder)),
            "PROBLEM install.path-too-long, NOTE install.probes-left-out; stops the launch; leaves "
            "out runtime.start, interpreter");
  EXPECT_EQ(Number(InstallFolderCheck::Judge(folder), "install.path-too-long", "length"), 259);
  folder.path = L"D:\\installs\\shortcuts \u03a9";
  folder.outsideCodePage = L"shortcuts \u03a9";
  const CheckResult result = InstallFolderCheck::Judge(folder);
  EXPECT_EQ(Outline(result), "WARNING install.outside-code-page");
  EXPECT_EQ(Text(result, "install.outside-code-page", "name"), L"shortcuts \u03a9");
  EXPECT_EQ(Number(result, "install.outside-code-page", "codePage"), 1252);
  folder.networkPath = true;
  folder.path = L"\\\\server\\share\\Orbisk";
  EXPECT_EQ(Outline(InstallFolderCheck::Judge(folder)),
            "PROBLEM install.network-path; stops the launch");  // and nothing beside
}

// Past MAX_PATH the doctor reads a file through the extended-length prefix, never taking a long
// path for a missing file; a short one stays as it is.
TEST(Folder, ReadsPathsOfAnyLength) {
  const std::wstring folder = L"C:\\" + std::wstring(250, L'a');
  EXPECT_EQ(ExtendedLengthPath(folder), folder);
  const std::wstring runtime = RuntimePath({folder, {}});
  EXPECT_EQ(ExtendedLengthPath(runtime), L"\\\\?\\" + runtime);
  EXPECT_EQ(ExtendedLengthPath(ExtendedLengthPath(runtime)), L"\\\\?\\" + runtime);
  const std::wstring share = L"\\\\server\\share\\" + std::wstring(250, L'a');
  EXPECT_EQ(ExtendedLengthPath(share), L"\\\\?\\UNC\\server\\share\\" + std::wstring(250, L'a'));
}

// The launcher asks the shell for a bare cmd.exe, which Windows looks for in its folder first.
TEST(Folder, StopsTheLaunchOnACommandInterpreterOfItsOwn) {
  ForeignInterpreterFacts facts;
  EXPECT_EQ(Outline(ForeignInterpreterCheck::Judge(facts)), "");
  facts.found = {L"CMD.EXE"};
  const CheckResult result = ForeignInterpreterCheck::Judge(facts);
  EXPECT_EQ(Outline(result), "PROBLEM install.foreign-interpreter; stops the launch");
  EXPECT_EQ(Text(result, "install.foreign-interpreter", "file"), L"CMD.EXE");
}

// The launch check starts in the install folder, so that no shortcut stops it.
TEST(Shortcuts, JudgesEachToThisLauncherAndSaysWhatItCouldNotRead) {
  ShortcutFacts shortcuts;
  shortcuts.installFolder = LR"(C:\Orbisk)";
  EXPECT_EQ(Number(ShortcutsCheck::Judge(shortcuts), "shortcuts.ok", "shortcuts"), 0);
  ShortcutFacts::Link good{L"a.lnk", L"", LR"(C:\Orbisk\Dunvelt.exe)", LR"(C:\Orbisk)", true};
  shortcuts.links = {good, good};
  EXPECT_EQ(Number(ShortcutsCheck::Judge(shortcuts), "shortcuts.ok", "shortcuts"), 2);
  shortcuts.links.push_back({L"b.lnk", L"", good.target, LR"(C:\Windows)", false});
  shortcuts.links.push_back({L"c.lnk", L"Access is denied, error 5", L"", L"", false});
  shortcuts.unlistedFolders = {{LR"(C:\Users\ana\Desktop)", L"Access is denied, error 5"}};
  const CheckResult result = ShortcutsCheck::Judge(shortcuts);
  EXPECT_EQ(Outline(result),
            "PROBLEM shortcuts.starts-elsewhere, WARNING shortcuts.unreadable, WARNING "
            "shortcuts.folder-unlisted");
  EXPECT_EQ(Text(result, "shortcuts.starts-elsewhere", "startIn"), LR"(C:\Windows)");
  EXPECT_EQ(Text(result, "shortcuts.unreadable", "shortcut"), L"c.lnk");
}

// A 32-bit program expands %ProgramFiles% to the 32-bit folder; a 64-bit installer meant the
// other.
TEST(Shortcuts, ReadsProgramFilesAtTheStartAsThe64BitFolder) {
  const std::wstring programs = L"C:\\Program Files";
  const std::wstring common = L"C:\\Program Files\\Common Files";
  EXPECT_EQ(WithNativeProgramFiles(L"%ProgramFiles%\\Orbisk", programs, common),
            L"C:\\Program Files\\Orbisk");
  EXPECT_EQ(WithNativeProgramFiles(L"%PROGRAMFILES%\\Orbisk", programs, common),
            L"C:\\Program Files\\Orbisk");
  EXPECT_EQ(WithNativeProgramFiles(L"%commonprogramfiles%\\x", programs, common),
            L"C:\\Program Files\\Common Files\\x");
  for (const wchar_t* kept : {L"%ProgramFiles(x86)%\\Orbisk", L"D:\\%ProgramFiles%\\Orbisk",
                              L"%ProgramFiles", L"", L"%USERPROFILE%\\Orbisk"}) {
    EXPECT_EQ(WithNativeProgramFiles(kept, programs, common), kept);
  }
  EXPECT_EQ(WithNativeProgramFiles(L"%ProgramFiles%\\Orbisk", L"", L""), L"%ProgramFiles%\\Orbisk");
}

class RuntimeStart : public ::testing::Test {
 protected:
  RuntimeStart() {
    probe.started = probe.ended = probe.archive.started = probe.archive.ended = true;
    probe.deadlineSeconds = probe.archive.deadlineSeconds = 10;
  }
  CheckResult Judged() const { return RuntimeStartCheck::Judge(probe); }
  RuntimeProbe probe;
};

TEST_F(RuntimeStart, AsksTheRuntimeWhatTheLaunchAsksIt) {
  EXPECT_EQ(LaunchedModule(), "orbisk");
  const std::wstring launch = ConsoleCommand();
  const std::wstring asked = DryRunArguments();
  EXPECT_EQ(asked.rfind(L"--dry-run -", 0), 0U);
  EXPECT_EQ(asked.substr(asked.find(L' ')), launch.substr(launch.find(L' ')));
  EXPECT_EQ(ArchiveRunArguments(), L"-Xshare:on " + asked);
  EXPECT_EQ(Outline(Judged()), "OK runtime.starts, OK runtime.archive-ok");
}

// Without one the application still starts, only slower: a warning with the JVM's words, what a
// start costs here, and the user's options that turn it off.
TEST_F(RuntimeStart, WarnsOfAStartWithoutAClassDataArchive) {
  probe.tookMs = 1960;
  probe.archive.exitCode = 1;
  probe.archive.output = L"Specified shared archive not found (lib/orbisk.jsa).\r\n";
  probe.javaOptions = {{L"JAVA_TOOL_OPTIONS", L"-Xmx2g"}};
  EXPECT_EQ(Outline(Judged()),
            "OK runtime.starts, NOTE runtime.user-option, WARNING runtime.no-archive");
  EXPECT_TRUE(Says(Judged(), "runtime.no-archive",
                   L"code 1: \"Specified shared archive not found (lib/orbisk.jsa).\". "));
  EXPECT_EQ(Number(Judged(), "runtime.no-archive", "dryRunMs"), 1960);
  EXPECT_EQ(Fact<bool>(Judged(), "runtime.no-archive", "turnedOff"), false);
  // _JAVA_OPTIONS come after the command line, so that the probe passes there without one.
  probe.archive.exitCode = 0;
  probe.javaOptions.push_back({L"_JAVA_OPTIONS", L"-Xshare:off"});
  EXPECT_EQ(Fact<bool>(Judged(), "runtime.no-archive", "turnedOff"), true);
}

TEST_F(RuntimeStart, CannotTellOfTheArchiveWhenItsRunHangsAndAsksNoneAfterAFailedDryRun) {
  probe.archive.ended = false;
  probe.archive.endedByDoctor = {L"java.exe"};
  EXPECT_EQ(Outline(Judged()), "OK runtime.starts, NOTE runtime.archive-unknown");
  EXPECT_EQ(Number(Judged(), "runtime.archive-unknown", "deadlineSeconds"), 10);
  probe.exitCode = 1;
  EXPECT_EQ(Outline(Judged()), "PROBLEM runtime.refused; stops the launch");
}

TEST_F(RuntimeStart, QuotesTheRefusalAndNamesTheHeapA32BitRuntimeCannotHave) {
  probe.exitCode = 1;
  probe.output =
      L"Error occurred during initialization of VM\r\n"
      L"Could not reserve enough space for 1048576KB object heap\r\n";
  EXPECT_EQ(Outline(Judged()), "PROBLEM runtime.heap-refused; stops the launch");
  EXPECT_EQ(Number(Judged(), "runtime.heap-refused", "exitCode"), 1);
  EXPECT_TRUE(Says(Judged(), "runtime.heap-refused",
                   L"refused it with code 1: \"Error occurred during initialization of VM\""
                   L" \"Could not reserve enough space for 1048576KB object heap\"."));
  probe.output =
      L"Error occurred during initialization of boot layer\r\n"
      L"java.lang.module.FindException: Module orbisk not found\r\n";
  EXPECT_EQ(Outline(Judged()), "PROBLEM runtime.module-missing; stops the launch");
}

// They change every launch, so they are named, as a note when all is well and as a suspect when
// the runtime refuses; the JVM's own "Picked up" line is no reason to quote.
TEST_F(RuntimeStart, NamesTheJavaOptionsOfThisMachine) {
  probe.javaOptions = {{L"JDK_JAVA_OPTIONS", L"-Xmx4g"}, {L"_JAVA_OPTIONS", L"-Dx=1"}};
  EXPECT_EQ(Outline(Judged()),
            "OK runtime.starts, NOTE runtime.user-option, NOTE runtime.user-option, OK "
            "runtime.archive-ok");
  EXPECT_EQ(Text(Judged(), "runtime.user-option", "variable"), L"JDK_JAVA_OPTIONS");
  probe.exitCode = 1;
  probe.output = L"NOTE: Picked up JDK_JAVA_OPTIONS: -Xmx4g\nInvalid maximum heap size: -Xmx4g\n";
  const CheckResult result = Judged();
  EXPECT_EQ(Outline(result), "PROBLEM runtime.refused; stops the launch");
  EXPECT_TRUE(Says(result, "runtime.refused", L"code 1: \"Invalid maximum heap size: -Xmx4g\"."));
  EXPECT_TRUE(
      Says(result, "runtime.refused", L"JDK_JAVA_OPTIONS = \"-Xmx4g\"; _JAVA_OPTIONS = \"-Dx=1\""));
}

TEST_F(RuntimeStart, SaysWhatHungAndWhatTheDoctorEnded) {
  probe.ended = false;
  probe.endedByDoctor = {L"java.exe", L"java.exe"};
  probe.output = std::wstring(200000, L'x');
  const CheckResult result = Judged();
  EXPECT_EQ(Outline(result), "PROBLEM runtime.hangs; stops the launch");
  EXPECT_EQ(Number(result, "runtime.hangs", "deadlineSeconds"), 10);
  EXPECT_TRUE(Says(result, "runtime.hangs", L"it likely hangs"));
  EXPECT_EQ(EndedByDoctor(probe.endedByDoctor),
            L" The doctor ended what was still running: java.exe, java.exe.");
  EXPECT_TRUE(Says(result, "runtime.hangs", EndedByDoctor(probe.endedByDoctor)));
  EXPECT_LT(result.findings[0].text.size(), 1000U);  // a flood is not copied into the report
}

// An NTSTATUS is Windows' verdict on the runtime's files, not the JVM's on its options: named in
// hex with what it means, where a plain code stays a number.
TEST_F(RuntimeStart, NamesTheCodesWithWhichWindowsEndsARuntime) {
  probe.exitCode = 0xC0000135;
  EXPECT_EQ(Outline(Judged()), "PROBLEM runtime.dll-missing; stops the launch");
  EXPECT_TRUE(Says(Judged(), "runtime.dll-missing",
                   L"ended with code 0xC0000135 (STATUS_DLL_NOT_FOUND: a DLL that it needs was"
                   L" not found)."));
  probe.exitCode = 0xC000007B;
  EXPECT_EQ(Outline(Judged()), "PROBLEM runtime.bad-image; stops the launch");
  probe.exitCode = 0xC0000428;
  EXPECT_EQ(Outline(Judged()), "PROBLEM runtime.image-hash-refused; stops the launch");
  probe.exitCode = 0xC0000005;
  EXPECT_EQ(Number(Judged(), "runtime.crashed", "exitCode"), 0xC0000005);
  probe.exitCode = 0xC0001234;
  EXPECT_EQ(Outline(Judged()), "PROBLEM runtime.ended-by-windows; stops the launch");
  EXPECT_EQ(ExitCodeText(0xC0000409).rfind(L"0xC0000409 (STATUS_STACK_BUFFER_OVERRUN: ", 0), 0U);
  EXPECT_EQ(ExitCodeText(0xC0000142).rfind(L"0xC0000142 (STATUS_DLL_INIT_FAILED: ", 0), 0U);
  EXPECT_EQ(ExitCodeText(1), L"1");
  EXPECT_EQ(ExitCodeText(0x80000003), L"2147483651");  // a warning status, rarely an exit code
}

// Slow is not hanging: a start that succeeds late is a warning with its time, and only what
// outlasts the deadline is called a hang.
TEST_F(RuntimeStart, WarnsOfASlowStartWithItsTime) {
  probe.tookMs = SlowStartMs;
  EXPECT_EQ(Outline(Judged()), "OK runtime.starts, OK runtime.archive-ok");
  probe.tookMs = 15140;
  EXPECT_EQ(Outline(Judged()),
            "OK runtime.starts, WARNING runtime.slow-start, OK runtime.archive-ok");
  EXPECT_EQ(Number(Judged(), "runtime.slow-start", "dryRunMs"), 15140);
  EXPECT_TRUE(Says(Judged(), "runtime.slow-start", L"took 15.1 s"));
}

// The probes run with the user's variables, as a double-click has them; the console's own are
// told apart, and never called the user's.
TEST_F(RuntimeStart, TellsTheConsolesJavaOptionsFromTheUsers) {
  probe.javaOptions = {{L"JAVA_TOOL_OPTIONS", L"-Xmx2g"}};
  probe.consoleOptions = {{L"_JAVA_OPTIONS", L"-Xshare:off"}, {L"JAVA_TOOL_OPTIONS", L""}};
  const CheckResult result = Judged();
  EXPECT_EQ(Outline(result),
            "OK runtime.starts, NOTE runtime.user-option, OK runtime.archive-ok, NOTE "
            "runtime.console-option, NOTE runtime.console-option");
  EXPECT_EQ(Text(result, "runtime.user-option", "variable"), L"JAVA_TOOL_OPTIONS");
  EXPECT_TRUE(Says(result, "runtime.console-option",
                   L"_JAVA_OPTIONS = \"-Xshare:off\", set in this console only"));
  EXPECT_TRUE(Says(result, "runtime.console-option", L"runtime without it"));
  EXPECT_NE(result.findings[4].text.find(L"has no JAVA_TOOL_OPTIONS, which is set for this user"),
            std::wstring::npos);
  // A console-only -Xshare:off is no reason to warn of the archive: a launch never has it.
  EXPECT_FALSE(Has(result, "runtime.no-archive", Verdict::Warning));
  probe.exitCode = 1;
  EXPECT_FALSE(Says(Judged(), "runtime.refused", L"-Xshare:off"));
}

TEST(CommandLine, QuotesWhatArgvReadsBackAsOneArgument) {
  EXPECT_EQ(QuotedArgument(L"cmd.exe"), L"cmd.exe");
  EXPECT_EQ(QuotedArgument(L""), L"\"\"");
  EXPECT_EQ(QuotedArgument(LR"(C:\Program Files\Orbisk)"), LR"("C:\Program Files\Orbisk")");
  EXPECT_EQ(QuotedArgument(LR"(C:\My App\)"), LR"("C:\My App\\")");
  EXPECT_EQ(QuotedArgument(LR"(a\"b c)"), LR"("a\\\"b c")");
  EXPECT_EQ(QuotedArgument(LR"(/U /C cd >\\.\pipe\x)"), LR"("/U /C cd >\\.\pipe\x")");
}

class Interpreter : public ::testing::Test {
 protected:
  Interpreter() {
    probe.ranIn = probe.installFolder = LR"(C:\Program Files\Orbisk)";
    probe.started = probe.answered = probe.ranInInstallFolder = true;
  }
  CheckResult Judged() const { return InterpreterCheck::Judge(probe); }
  InterpreterProbe probe;
};

// An AutoRun value that is not there, or empty, is none.
TEST_F(Interpreter, WarnsOfWhatItsInterpreterMayIgnoreWhenTheProbePasses) {
  const RegistryValue absent{L"HKLM", L"AutoRun", false, 0, {}, L""};
  probe.autoRuns = {RegSz(L"cd /d %USERPROFILE%"), absent, RegSz(L"")};
  probe.disableCmd = RegDword(2);
  const CheckResult result = Judged();
  EXPECT_EQ(
      Outline(result),
      "OK interpreter.runs, WARNING interpreter.autorun, WARNING interpreter.disabled-by-policy");
  EXPECT_EQ(Text(result, "interpreter.autorun", "command"), L"cd /d %USERPROFILE%");
  EXPECT_EQ(Text(result, "interpreter.autorun", "key"), L"HKCU");
  EXPECT_EQ(Number(result, "interpreter.disabled-by-policy", "disableCmd"), 2);
}

// With 1 the policy refuses every command; a cmd.exe that ran the probe all the same is the one
// the launcher starts, so the verdict is that it runs, and why the policy did not stop it.
TEST_F(Interpreter, SaysOnceThatItRunsWhereThePolicyDidNotStopIt) {
  probe.disableCmd = RegDword(1);
  const CheckResult result = Judged();
  EXPECT_EQ(Outline(result), "OK interpreter.runs");
  EXPECT_EQ(Number(result, "interpreter.runs", "disableCmd"), 1);
  EXPECT_TRUE(Says(result, "interpreter.runs", L"the cmd.exe here does not apply it"));
}

// DisableUNCCheck lets cmd.exe stay in a network path: a warning, and the interpreter's probe
// decides; without it the folder stops every launch.
TEST_F(Interpreter, HonoursDisableUncCheckInANetworkPath) {
  FolderFacts folder;
  folder.path = LR"(\\server\share\Orbisk)";
  folder.networkPath = true;
  folder.uncChecks = {RegDword(0, L"HKLM"), RegDword(1)};
  const CheckResult allowed = InstallFolderCheck::Judge(folder);
  EXPECT_EQ(Outline(allowed), "WARNING install.network-path-allowed");
  EXPECT_EQ(Text(allowed, "install.network-path-allowed", "key"), L"HKCU");
  folder.uncChecks = {RegDword(0, L"HKLM"), RegSz(L"")};
  EXPECT_EQ(Outline(InstallFolderCheck::Judge(folder)),
            "PROBLEM install.network-path; stops the launch");
  probe.networkPath = true;
  probe.ranInInstallFolder = false;
  probe.ranIn = LR"(C:\Windows)";
  EXPECT_TRUE(Says(Judged(), "interpreter.elsewhere", L"(UNC)"));
  probe.uncChecks = {RegDword(1, L"HKLM")};
  EXPECT_FALSE(Says(Judged(), "interpreter.elsewhere", L"(UNC)"));
}

TEST_F(Interpreter, NamesTheCauseWhenItRanElsewhere) {
  probe.ranInInstallFolder = false;
  probe.ranIn = LR"(C:\Users\ana)";
  probe.autoRuns = {RegSz(L"cd /d %USERPROFILE%", L"HKLM")};
  EXPECT_EQ(Outline(Judged()), "PROBLEM interpreter.elsewhere; stops the launch");
  EXPECT_EQ(Text(Judged(), "interpreter.elsewhere", "ranIn"), LR"(C:\Users\ana)");
  EXPECT_TRUE(Says(Judged(), "interpreter.elsewhere", L"\"cd /d %USERPROFILE%\" in HKLM"));
  probe.autoRuns.clear();
  probe.networkPath = true;
  EXPECT_TRUE(Says(Judged(), "interpreter.elsewhere", L"(UNC)"));
  EXPECT_FALSE(Says(Judged(), "interpreter.elsewhere", L"AutoRun"));
}

TEST_F(Interpreter, NamesAnAutoRunThatHoldsIt) {
  probe.answered = probe.ended = false;
  probe.ranIn.clear();
  probe.deadlineSeconds = 5;
  probe.endedByDoctor = {L"cmd.exe", L"conhost.exe"};
  probe.autoRuns = {RegSz(L"pause")};
  const CheckResult result = Judged();
  EXPECT_EQ(Outline(result), "PROBLEM interpreter.hangs; stops the launch");
  EXPECT_EQ(Number(result, "interpreter.hangs", "deadlineSeconds"), 5);
  EXPECT_TRUE(Says(result, "interpreter.hangs", EndedByDoctor(probe.endedByDoctor)));
  EXPECT_TRUE(Says(result, "interpreter.hangs", L"\"pause\" in HKCU."));
}

TEST_F(Interpreter, BlamesThePolicyWhenItRanNothing) {
  probe.answered = false;
  probe.disableCmd = RegSz(L"1");  // as a policy file may have written it
  EXPECT_EQ(Outline(Judged()), "PROBLEM interpreter.no-answer; stops the launch");
  EXPECT_EQ(Number(Judged(), "interpreter.no-answer", "disableCmd"), 1);
  // Without the policy, an AutoRun command that ends cmd.exe first is a suspect.
  probe.disableCmd = {};
  EXPECT_FALSE(Says(Judged(), "interpreter.no-answer", L"AutoRun"));
  probe.autoRuns = {RegSz(L"exit")};
  EXPECT_TRUE(
      Says(Judged(), "interpreter.no-answer", L"AutoRun command before it: \"exit\" in HKCU"));
}

// Fleet tools run scripts as SYSTEM, services run in session 0, and only WinSta0 has a desktop
// that a screen shows: there the launch would open where nobody sees it, and the shortcuts
// looked at would be another account's.
TEST(UserSession, LeavesOutTheUsersThingsWhereTheUserIsNot) {
  UserSessionFacts user{L"PC\\ana", L"S-1-5-21-1004336348-1001", true, 1, L"WinSta0", true, L""};
  EXPECT_EQ(Outline(UserSessionCheck::Judge(user)), "");
  UserSessionFacts system = user, service = user, station = user, hidden = user;
  system.sid = L"S-1-5-18";
  service.sessionId = 0;
  station.windowStation = L"Service-0x0-3e7$";
  hidden.stationVisible = false;
  for (const UserSessionFacts& facts : {system, service, station, hidden}) {
    const CheckResult result = UserSessionCheck::Judge(facts);
    EXPECT_EQ(Outline(result), "NOTE user.not-the-user; leaves out shortcuts, launch");
    EXPECT_EQ(Text(result, "user.not-the-user", "windowStation"), facts.windowStation);
  }
  user.windowStation = L"winsta0";
  EXPECT_EQ(Outline(UserSessionCheck::Judge(user)), "");
}

class Launch : public ::testing::Test {
 protected:
  Launch() {
    outcome.started = outcome.ended = outcome.runtimeStarted = outcome.watched = true;
    outcome.runtimeCommand = L"\"bin\\java.exe\" -m orbisk/x.Main";
  }
  CheckResult Judged() const { return LaunchCheck::Judge(outcome); }
  LaunchOutcome outcome;
  const std::string ran = "NOTE launch.starting, OK launch.launcher-ends, OK launch.runtime-runs, ";
};

// It opens the application, so that it says so first, and says why when it is left out.
TEST_F(Launch, IsAnnouncedAndLeftOutWhenAskedOrPointless) {
  EXPECT_EQ(Outline(Judged()), ran + "OK launch.no-window");
  outcome.started = false;
  EXPECT_EQ(Outline(Judged()), "NOTE launch.starting, PROBLEM launch.not-started");
  EXPECT_EQ(Outline({{LaunchNotAsked(), LaunchStopped()}, false, {}}),
            "NOTE launch.not-asked, NOTE launch.left-out");
}

TEST_F(Launch, PointsAtTheConsoleWhenTheRuntimeEndsWithAFailure) {
  outcome.runtimeEnded = true;
  outcome.runtimeExitCode = 1;
  outcome.runtimeLivedMs = 412;
  EXPECT_TRUE(Has(Judged(), "launch.runtime-failed", Verdict::Problem));
  EXPECT_TRUE(Says(Judged(), "launch.runtime-failed", L"type: " + outcome.runtimeCommand));
}

// A desktop shows other programs' windows too; only the launch's, and the console and terminal
// hosts that show its console, are its fault. Another's title stays out of the report.
TEST_F(Launch, BlamesOnlyTheLaunchForAWindow) {
  outcome.otherWindows = {
      {L"pid 9 outlook.exe \"Reminder: salary talk\"", L"outlook.exe", 9, false},
      {L"pid 12 cmd.exe ConsoleWindowClass", L"cmd.exe", 12, true},
      {L"pid 14 conhost.exe", L"conhost.exe", 14, false}};
  const CheckResult result = Judged();
  EXPECT_EQ(
      Outline(result),
      ran + "NOTE launch.other-window, PROBLEM launch.window-shown, PROBLEM launch.window-shown");
  EXPECT_TRUE(Says(result, "launch.other-window", L"outlook.exe (pid 9)"));
  for (const Finding& finding : result.findings) {
    EXPECT_EQ(finding.text.find(L"salary"), std::wstring::npos) << finding.id;
  }
  outcome.otherWindows.resize(1);
  EXPECT_TRUE(Has(Judged(), "launch.no-window", Verdict::Ok));
}

TEST_F(Launch, TellsWindowsTerminalApartAndNeverPassesWhatItCouldNotSee) {
  outcome.otherWindows = {{L"pid 7 WindowsTerminal.exe", L"WindowsTerminal.exe", 7, false}};
  EXPECT_EQ(Outline(Judged()), ran + "PROBLEM launch.window-shown");
  EXPECT_TRUE(Says(Judged(), "launch.window-shown", L"Windows Console Host"));
  outcome.otherWindows.clear();
  outcome.watched = false;
  EXPECT_EQ(Outline(Judged()), ran + "WARNING launch.not-watched");
}

// A start that works is no failure however long it takes; past 10 s it is a warning with its
// time, the window's when the watch saw it, else the runtime's.
TEST_F(Launch, WarnsOfASlowStartThatWorks) {
  outcome.runtimeStartedAfterMs = 9000;
  outcome.applicationShown = true;
  outcome.applicationShownAfterMs = 14200;
  EXPECT_EQ(Outline(Judged()), ran + "WARNING launch.slow, OK launch.no-window");
  EXPECT_TRUE(Says(Judged(), "launch.slow", L"14.2 s"));
  outcome.applicationShownAfterMs = 9800;
  EXPECT_EQ(Find(Judged(), "launch.slow"), nullptr);
  outcome.applicationShown = false;
  outcome.runtimeStartedAfterMs = 12000;
  EXPECT_TRUE(Says(Judged(), "launch.slow", L"The runtime started 12.0 s"));
  outcome.runtimeEnded = true;
  outcome.runtimeExitCode = 1;
  EXPECT_EQ(Find(Judged(), "launch.slow"), nullptr);
}

// The shell's security warning, in the doctor's helper, and SmartScreen's window ask the user
// before the start: neither another program's nor the launch's console, and a start they hold
// is said as such.
TEST_F(Launch, TellsAPromptBeforeTheStartApart) {
  outcome.otherWindows = {
      {L"pid 30 smartscreen.exe \"Windows protected your PC\"", L"smartscreen.exe", 30, false},
      {L"pid 4 Dunvelt-doctor.exe #32770 \"Open File - Security Warning\"", L"Dunvelt-doctor.exe",
       4, true, true}};
  EXPECT_EQ(Outline(Judged()),
            ran + "WARNING launch.prompt, WARNING launch.prompt, OK launch.no-window");
  outcome.started = false;
  outcome.shellHeld = true;
  outcome.endDeadlineSeconds = 60;
  EXPECT_EQ(Outline(Judged()), "NOTE launch.starting, PROBLEM launch.held-by-prompt");
  EXPECT_TRUE(Says(Judged(), "launch.held-by-prompt", L"SmartScreen's window"));
  outcome.otherWindows.clear();
  EXPECT_EQ(Outline(Judged()), "NOTE launch.starting, PROBLEM launch.not-started");
}

// Inside a job that keeps everything in it, the launch cannot be held whole; it is said, and the
// launch is still judged.
TEST_F(Launch, SaysWhatItCouldNotHoldInsideAnotherJob) {
  outcome.withoutOwnJob = true;
  EXPECT_EQ(Outline(Judged()),
            "NOTE launch.starting, NOTE launch.not-contained, OK launch.launcher-ends, OK "
            "launch.runtime-runs, OK launch.no-window");
}

}  // namespace
}  // namespace dunvelt::doctor
