#include "diagnosis.h"

#include <gtest/gtest.h>

#include <string>

namespace dunvelt::doctor {
namespace {

// The findings as printed, one line each, for matching.
std::wstring Printed(const Findings& findings) {
  std::wstring lines;
  for (const Finding& finding : findings) lines += Line(finding) + L"\n";
  return lines;
}

bool Says(const Findings& findings, const std::wstring& words) {
  return Printed(findings).find(words) != std::wstring::npos;
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

TEST(Runtime, FindsTheLaunchedModuleByItsWholeName) {
  EXPECT_EQ(LaunchedModule(), "orbisk");
  EXPECT_TRUE(ListsModule("java.base@17.0.9\r\norbisk@1.0\r\n", "orbisk"));
  EXPECT_TRUE(ListsModule("java.base@17\norbisk file:///C:/App/modules/orbisk.jar\n", "orbisk"));
  EXPECT_TRUE(ListsModule("orbisk", "orbisk"));  // no line end after the last line
  EXPECT_FALSE(ListsModule("orbisk.tools@1.0\norbiskfx\njava.base@17\n", "orbisk"));
  EXPECT_FALSE(ListsModule("", "orbisk"));
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

TEST_F(Launch, TellsWindowsTerminalApartAndNeverPassesWhatItCouldNotSee) {
  outcome.otherWindows = {{L"pid 7 WindowsTerminal.exe", L"WindowsTerminal.exe"}};
  Findings findings = JudgeLaunch(outcome);
  EXPECT_TRUE(Says(findings, L"PROBLEM: A window was shown: pid 7 WindowsTerminal.exe."));
  EXPECT_TRUE(Says(findings, L"set the default terminal application to Windows Console Host"));

  outcome.otherWindows.clear();
  outcome.watched = false;
  findings = JudgeLaunch(outcome);
  EXPECT_TRUE(Says(findings, L"WARNING: Cannot tell whether a window was shown"));
  EXPECT_FALSE(Says(findings, L"No window was shown"));
}

}  // namespace
}  // namespace dunvelt::doctor
