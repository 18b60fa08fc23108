#include "diagnosis.h"

#include <gtest/gtest.h>

#include <string>

#include "printed.h"

namespace dunvelt::doctor {
namespace {

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
  RuntimeImage() {
    facts.exists = true;
    facts.machine = facts.nativeMachine = MachineI386;
    facts.windowsBuild = 19045;
  }
  RuntimeImageFacts facts;
};

TEST_F(RuntimeImage, NamesAReadErrorAndNoVerdictOnTheFile) {
  facts.machine = 0;
  facts.readError = 32;
  facts.readErrorText = L"Sharing violation, error 32";
  Findings findings = JudgeRuntimeImage(facts);
  EXPECT_TRUE(Says(findings,
                   L"PROBLEM: bin\\java.exe could not be read (Sharing violation, error"
                   L" 32), so the doctor cannot tell"));
  EXPECT_EQ(Summary(findings), L"1 problems, 0 warnings");

  facts.readError = 0;
  EXPECT_TRUE(Says(JudgeRuntimeImage(facts), L"PROBLEM: bin\\java.exe is not a Windows program"));
  facts.exists = false;
  EXPECT_TRUE(Says(JudgeRuntimeImage(facts), L"PROBLEM: There is no bin\\java.exe"));
}

TEST_F(RuntimeImage, SaysWhichBuildOfArm64WindowsItNeeds) {
  facts.nativeMachine = MachineArm64;
  facts.machine = MachineAmd64;
  EXPECT_TRUE(Says(JudgeRuntimeImage(facts),
                   L"PROBLEM: bin\\java.exe is built for x64, which this "
                   L"Windows (ARM64) cannot run:"
                   L" x64 programs run on ARM64 Windows from Windows 11 (build "
                   L"22000), and this is"
                   L" build 19045; ship a runtime built for ARM64.\n"));
  facts.windowsBuild = 0;
  const Findings unknown = JudgeRuntimeImage(facts);
  EXPECT_TRUE(Says(unknown, L"WARNING: Cannot tell whether this Windows (ARM64) runs"));
  EXPECT_EQ(ExitCode(unknown), 0);
  facts.windowsBuild = 22000;
  EXPECT_TRUE(Says(JudgeRuntimeImage(facts), L"OK: bin\\java.exe is a program for x64"));

  facts.nativeMachine = MachineI386;
  EXPECT_TRUE(Says(JudgeRuntimeImage(facts),
                   L"which this Windows (x86) cannot run: ship a runtime built for x86.\n"));
}

TEST(Folder, NamesAPathTooLongToStartInAndNamesOutsideTheCodePage) {
  FolderFacts folder;
  folder.path = L"C:\\" + std::wstring(255, L'a');  // 258 characters: the longest that works
  folder.codePage = 1252;
  EXPECT_TRUE(Says(JudgeFolder(folder), L"OK: The install folder C:\\aaa"));
  folder.path += L"a";
  EXPECT_TRUE(Says(JudgeFolder(folder),
                   L"PROBLEM: The install folder's path is 259 characters"
                   L" long; Windows starts no program in a folder of more"
                   L" than 258"));

  folder.path = L"D:\\installs\\shortcuts \u03a9";
  folder.outsideCodePage = L"shortcuts \u03a9";
  const Findings findings = JudgeFolder(folder);
  EXPECT_TRUE(Says(findings,
                   L"WARNING: The folder \"shortcuts \u03a9\" in the install folder's"
                   L" path has characters that this Windows' code page (1252) cannot"
                   L" hold"));
  EXPECT_EQ(Summary(findings), L"0 problems, 1 warnings");

  folder.networkPath = true;
  folder.path = L"\\\\server\\share\\Orbisk";
  EXPECT_EQ(Summary(JudgeFolder(folder)),
            L"1 problems, 0 warnings");  // and nothing beside
}

TEST(Shortcuts, JudgesEachToThisLauncherAndSaysWhatItCouldNotRead) {
  ShortcutFacts shortcuts;
  shortcuts.installFolder = LR"(C:\Orbisk)";
  EXPECT_TRUE(Says(JudgeShortcuts(shortcuts), L"OK: No shortcut in the Start menu"));
  ShortcutFacts::Link good{L"a.lnk", L"", LR"(C:\Orbisk\Dunvelt.exe)", LR"(C:\Orbisk)", true};
  shortcuts.links = {good, good};
  EXPECT_TRUE(Says(JudgeShortcuts(shortcuts), L"OK: 2 shortcuts to this Dunvelt.exe start it"));

  shortcuts.links.push_back({L"b.lnk", L"", good.target, LR"(C:\Windows)", false});
  shortcuts.links.push_back({L"c.lnk", L"Access is denied, error 5", L"", L"", false});
  shortcuts.unlistedFolders = {{LR"(C:\Users\ana\Desktop)", L"Access is denied, error 5"}};
  const Findings findings = JudgeShortcuts(shortcuts);
  EXPECT_TRUE(Says(findings, LR"(PROBLEM: The shortcut b.lnk starts Dunvelt.exe in "C:\Windows")"));
  EXPECT_TRUE(Says(findings,
                   L"WARNING: Cannot tell whether the shortcut c.lnk starts this"
                   L" Dunvelt.exe: it could not be read (Access is denied, error 5)."));
  EXPECT_TRUE(Says(findings, LR"(WARNING: Cannot tell whether the folder C:\Users\ana\Desktop)"));
  EXPECT_EQ(Summary(findings), L"1 problems, 2 warnings");
  EXPECT_FALSE(Says(findings, L"OK:"));
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
  RuntimeProbe probe;
};

TEST_F(RuntimeStart, AsksTheRuntimeWhatTheLaunchAsksIt) {
  EXPECT_EQ(LaunchedModule(), "orbisk");
  const std::wstring launch = ConsoleCommand();
  const std::wstring asked = DryRunArguments();
  EXPECT_EQ(asked.rfind(L"--dry-run -", 0), 0U);
  EXPECT_EQ(asked.substr(asked.find(L' ')), launch.substr(launch.find(L' ')));
  EXPECT_EQ(ArchiveRunArguments(), L"-Xshare:on " + asked);
  const Findings findings = JudgeRuntimeStart(probe);
  EXPECT_TRUE(Says(findings, L"OK: bin\\java.exe loads the application's module orbisk"));
  EXPECT_TRUE(Says(findings, L"OK: bin\\java.exe maps a class-data archive with the launcher's"));
  EXPECT_EQ(ExitCode(findings), 0);
}

// Without one the application still starts, only slower: a warning with the JVM's words, what a
// start costs here and what an archive saves, and the user's options that turn it off.
TEST_F(RuntimeStart, WarnsOfAStartWithoutAClassDataArchive) {
  probe.tookMs = 1960;
  probe.archive.exitCode = 1;
  probe.archive.output = L"Specified shared archive not found (lib/orbisk.jsa).\r\n";
  probe.javaOptions = {{L"JAVA_TOOL_OPTIONS", L"-Xmx2g"}};
  Findings findings = JudgeRuntimeStart(probe);
  EXPECT_EQ(Summary(findings), L"0 problems, 1 warnings");
  EXPECT_TRUE(Says(findings,
                   L"code 1: \"Specified shared archive not found (lib/orbisk.jsa).\". Without an"
                   L" archive, every start reads and links the runtime's and the application's"
                   L" classes afresh: the doctor's dry run took 1.9 s here, and in Dunvelt's"
                   L" measurements an application archive showed the application's window about " +
                       std::to_wstring(ArchiveSavesPercent) +
                       L" percent sooner. See docs/packaging.md, \"A faster start\".\n"));

  // _JAVA_OPTIONS come after the command line, so that the probe passes there without one.
  probe.archive.exitCode = 0;
  probe.javaOptions.push_back({L"_JAVA_OPTIONS", L"-Xshare:off"});
  EXPECT_TRUE(Says(JudgeRuntimeStart(probe),
                   L"WARNING: bin\\java.exe starts without a class-data archive in every launch."
                   L" The runtime also reads, set for this user: _JAVA_OPTIONS = \"-Xshare:off\"."
                   L" -Xshare:off there turns the archive off in every launch: remove it."));
}

TEST_F(RuntimeStart, CannotTellOfTheArchiveWhenItsRunHangsAndAsksNoneAfterAFailedDryRun) {
  probe.archive.ended = false;
  probe.archive.endedByDoctor = {L"java.exe"};
  EXPECT_TRUE(Says(JudgeRuntimeStart(probe),
                   L"NOTE: Cannot tell whether bin\\java.exe maps a class-data archive with the"
                   L" launcher's options: started once more with -Xshare:on"));
  probe.exitCode = 1;
  EXPECT_FALSE(Says(JudgeRuntimeStart(probe), L"archive"));
}

TEST_F(RuntimeStart, QuotesTheRefusalAndNamesTheHeapA32BitRuntimeCannotHave) {
  probe.exitCode = 1;
  probe.output =
      L"Error occurred during initialization of VM\r\n"
      L"Could not reserve enough space for 1048576KB object heap\r\n";
  Findings findings = JudgeRuntimeStart(probe);
  EXPECT_EQ(Summary(findings), L"1 problems, 0 warnings");
  EXPECT_TRUE(Says(findings,
                   L"refused it with code 1: \"Error occurred during initialization of VM\""
                   L" \"Could not reserve enough space for 1048576KB object heap\"."));
  EXPECT_TRUE(Says(findings, L"on 64-bit Windows, ship a 64-bit runtime"));

  probe.output =
      L"Error occurred during initialization of boot layer\r\n"
      L"java.lang.module.FindException: Module orbisk not found\r\n";
  findings = JudgeRuntimeStart(probe);
  EXPECT_TRUE(Says(findings, L"The runtime has no module orbisk, which the launcher starts"));
  EXPECT_TRUE(Says(findings, L"jlink --add-modules orbisk"));
  EXPECT_FALSE(Says(findings, L"heap"));
}

// They change every launch, so they are named, as a note when all is well and as a suspect when
// the runtime refuses; the JVM's own "Picked up" line is no reason to quote.
TEST_F(RuntimeStart, NamesTheJavaOptionsOfThisMachine) {
  probe.javaOptions = {{L"JDK_JAVA_OPTIONS", L"-Xmx4g"}, {L"_JAVA_OPTIONS", L"-Dx=1"}};
  Findings findings = JudgeRuntimeStart(probe);
  EXPECT_TRUE(Says(findings, L"NOTE: The runtime also reads JDK_JAVA_OPTIONS = \"-Xmx4g\""));
  EXPECT_EQ(Summary(findings), L"0 problems, 0 warnings");

  probe.exitCode = 1;
  probe.output = L"NOTE: Picked up JDK_JAVA_OPTIONS: -Xmx4g\nInvalid maximum heap size: -Xmx4g\n";
  findings = JudgeRuntimeStart(probe);
  ASSERT_EQ(findings.size(), 1U);
  EXPECT_TRUE(Says(findings, L"code 1: \"Invalid maximum heap size: -Xmx4g\"."));
  EXPECT_TRUE(Says(findings, L"JDK_JAVA_OPTIONS = \"-Xmx4g\"; _JAVA_OPTIONS = \"-Dx=1\""));
}

TEST_F(RuntimeStart, SaysWhatHungAndWhatTheDoctorEnded) {
  probe.ended = false;
  probe.endedByDoctor = {L"java.exe", L"java.exe"};
  probe.output = std::wstring(200000, L'x');
  const Findings findings = JudgeRuntimeStart(probe);
  EXPECT_TRUE(Says(findings, L"did not finish within 10 s"));
  EXPECT_TRUE(Says(findings, L"The doctor ended what was still running: java.exe, java.exe."));
  EXPECT_LT(Printed(findings).size(), 1000U);  // a flood is not copied into the report
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
    probe.installFolder = LR"(C:\Program Files\Orbisk)";
    probe.started = probe.answered = probe.ranInInstallFolder = true;
    probe.ranIn = probe.installFolder;
  }
  InterpreterProbe probe;
};

TEST_F(Interpreter, WarnsOfWhatItsInterpreterMayIgnoreWhenTheProbePasses) {
  probe.autoRuns = {{L"HKCU", L"cd /d %USERPROFILE%"}};
  probe.disableCmd = 1;
  const Findings findings = JudgeInterpreter(probe);
  EXPECT_EQ(Summary(findings), L"0 problems, 2 warnings");
  EXPECT_TRUE(Says(findings, L"WARNING: cmd.exe runs the AutoRun command \"cd /d %USERPROFILE%\""));
  EXPECT_TRUE(Says(findings, L"(DisableCMD = 1 in HKCU"));
  EXPECT_EQ(ExitCode(findings), 0);
}

TEST_F(Interpreter, NamesTheCauseWhenItRanElsewhere) {
  probe.ranInInstallFolder = false;
  probe.ranIn = LR"(C:\Users\ana)";
  probe.autoRuns = {{L"HKLM", L"cd /d %USERPROFILE%"}};
  Findings findings = JudgeInterpreter(probe);
  EXPECT_EQ(Summary(findings), L"1 problems, 0 warnings");
  EXPECT_TRUE(
      Says(findings, LR"(PROBLEM: cmd.exe ran in "C:\Users\ana", not in the install folder)"));
  EXPECT_TRUE(Says(findings, L"\"cd /d %USERPROFILE%\" in HKLM"));

  probe.autoRuns.clear();
  probe.networkPath = true;
  findings = JudgeInterpreter(probe);
  EXPECT_TRUE(Says(findings, L"cannot run in a network path (UNC)"));
  EXPECT_FALSE(Says(findings, L"AutoRun"));
}

TEST_F(Interpreter, NamesAnAutoRunThatHoldsIt) {
  probe.answered = probe.ended = false;
  probe.ranIn.clear();
  probe.deadlineSeconds = 5;
  probe.endedByDoctor = {L"cmd.exe", L"conhost.exe"};
  probe.autoRuns = {{L"HKCU", L"pause"}};
  const Findings findings = JudgeInterpreter(probe);
  ASSERT_EQ(findings.size(), 1U);
  EXPECT_TRUE(Says(findings, L"did not run its command within 5 s"));
  EXPECT_TRUE(Says(findings, L"ended what was still running: cmd.exe, conhost.exe."));
  EXPECT_TRUE(Says(findings, L"\"pause\" in HKCU. One that waits for input"));
}

TEST_F(Interpreter, BlamesThePolicyWhenItRanNothing) {
  probe.answered = false;
  probe.disableCmd = 1;
  const Findings findings = JudgeInterpreter(probe);
  ASSERT_EQ(findings.size(), 1U);
  EXPECT_TRUE(Says(findings, L"PROBLEM: cmd.exe started but did not run its command"));
  EXPECT_TRUE(Says(findings, L"The cause is the policy \"Prevent access to the command prompt\""));
}

class Launch : public ::testing::Test {
 protected:
  Launch() {
    outcome.started = outcome.ended = outcome.runtimeStarted = outcome.watched = true;
    outcome.runtimeCommand = L"\"bin\\java.exe\" -m orbisk/x.Main";
  }
  LaunchOutcome outcome;
};

TEST_F(Launch, PointsAtTheConsoleWhenTheRuntimeEndsWithAFailure) {
  outcome.runtimeEnded = true;
  outcome.runtimeExitCode = 1;
  outcome.runtimeLivedMs = 412;
  const Findings findings = JudgeLaunch(outcome);
  EXPECT_TRUE(Says(findings, L"but ended after 0.4 s with code 1"));
  EXPECT_TRUE(Says(findings, L"type: \"bin\\java.exe\" -m orbisk/x.Main\n"));
  EXPECT_EQ(ExitCode(findings), 1);
}

// A desktop shows other programs' windows too; only the launch's, and the console and terminal
// hosts that show its console, are its fault. Another's title stays out of the report.
TEST_F(Launch, BlamesOnlyTheLaunchForAWindow) {
  outcome.otherWindows = {
      {L"pid 9 outlook.exe \"Reminder: salary talk\"", L"outlook.exe", 9, false},
      {L"pid 12 cmd.exe ConsoleWindowClass", L"cmd.exe", 12, true},
      {L"pid 14 conhost.exe", L"conhost.exe", 14, false}};
  Findings findings = JudgeLaunch(outcome);
  EXPECT_EQ(Summary(findings), L"2 problems, 0 warnings");
  EXPECT_TRUE(Says(findings,
                   L"NOTE: Another program showed a window while the launch was"
                   L" watched: outlook.exe (pid 9)."));
  EXPECT_FALSE(Says(findings, L"salary"));
  EXPECT_TRUE(Says(findings, L"PROBLEM: A window was shown: pid 12 cmd.exe"));
  EXPECT_TRUE(Says(findings, L"PROBLEM: A window was shown: pid 14 conhost.exe"));

  outcome.otherWindows.erase(outcome.otherWindows.begin() + 1, outcome.otherWindows.end());
  findings = JudgeLaunch(outcome);
  EXPECT_TRUE(Says(findings, L"OK: The launch showed no window but the application's"));
}

TEST(LaunchCheck, IsAnnouncedAndLeftOutWhenAskedOrPointless) {
  EXPECT_EQ(
      Line(LaunchAnnouncement()).rfind(L"NOTE: Starting Dunvelt.exe: the application will open", 0),
      0U);
  EXPECT_EQ(WhyNoLaunch(false, false), L"");
  EXPECT_NE(WhyNoLaunch(true, false).find(L"--no-launch"), std::wstring::npos);
  EXPECT_NE(WhyNoLaunch(false, true).find(L"the problems above stop every launch"),
            std::wstring::npos);
}

TEST_F(Launch, TellsWindowsTerminalApartAndNeverPassesWhatItCouldNotSee) {
  outcome.otherWindows = {{L"pid 7 WindowsTerminal.exe", L"WindowsTerminal.exe", 7, false}};
  Findings findings = JudgeLaunch(outcome);
  EXPECT_TRUE(Says(findings, L"PROBLEM: A window was shown: pid 7 WindowsTerminal.exe."));
  EXPECT_TRUE(Says(findings, L"set the default terminal application to Windows Console Host"));

  outcome.otherWindows.clear();
  outcome.watched = false;
  findings = JudgeLaunch(outcome);
  EXPECT_TRUE(Says(findings, L"WARNING: Cannot tell whether a window was shown"));
  EXPECT_FALSE(Says(findings, L"no window"));
}

}  // namespace
}  // namespace dunvelt::doctor
