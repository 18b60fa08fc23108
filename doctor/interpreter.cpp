#include "interpreter.h"

#include "facts_json.h"
#include "text.h"

namespace dunvelt::doctor {

DUNVELT_FACTS_JSON(InterpreterProbe, installFolder, networkPath, started, startError, ended,
                   deadlineSeconds, endedByDoctor, answered, ranIn, ranInInstallFolder, autoRuns,
                   disableCmd, uncChecks)

namespace {

constexpr std::uint32_t CmdDisabledWithScripts = 1;

// A command that cmd.exe runs before every other, the launcher's too.
struct AutoRun {
  std::wstring where;  // the registry key that holds it, with its view
  std::wstring command;
};

std::vector<AutoRun> AutoRunsOf(const InterpreterProbe& probe) {
  std::vector<AutoRun> autoRuns;
  for (const RegistryValue& value : probe.autoRuns) {
    const std::wstring command = ValueText(value);
    if (!command.empty()) autoRuns.push_back({value.key, command});
  }
  return autoRuns;
}

std::wstring AutoRunList(const std::vector<AutoRun>& autoRuns) {
  std::wstring list;
  for (const AutoRun& autoRun : autoRuns) {
    if (!list.empty()) list += L"; ";
    list += Quoted(autoRun.command) + L" in " + autoRun.where;
  }
  return list;
}

// Why cmd.exe did not run the command in the install folder, from what the machine holds.
std::wstring WhyNotInTheFolder(const InterpreterProbe& probe,
                               const std::vector<AutoRun>& autoRuns) {
  std::wstring why;
  if (probe.networkPath && UncCheckDisabledBy(probe.uncChecks) == nullptr) {
    why +=
        L" cmd.exe cannot run in a network path (UNC) and falls back to the Windows folder:"
        L" install the application on a local drive.";
  }
  if (!autoRuns.empty()) {
    why += L" cmd.exe runs an AutoRun command before every command, the launcher's too: " +
           AutoRunList(autoRuns) +
           L". One that changes the folder breaks the launch: remove it, or make it keep the"
           L" folder.";
  }
  if (why.empty()) {
    why =
        L" Neither of the usual causes is there: the folder is no network path, and cmd.exe has"
        L" no AutoRun command.";
  }
  return why;
}

}  // namespace

// "CMD.EXE does not support UNC names as the current directory" (Microsoft Support, KB 156276):
// started in a network path, cmd.exe says so and runs in the Windows folder, unless the DWORD
// DisableUNCCheck under HKCU or HKLM\Software\Microsoft\Command Processor is 1.
const RegistryValue* UncCheckDisabledBy(const std::vector<RegistryValue>& values) {
  for (const RegistryValue& value : values) {
    if (ValueNumber(value).value_or(0) != 0) return &value;
  }
  return nullptr;
}

CheckResult InterpreterCheck::Judge(const InterpreterProbe& facts) {
  const InterpreterProbe& probe = facts;
  CheckResult result;
  Findings& findings = result.findings;
  result.stopsLaunch = true;
  const std::vector<AutoRun> autoRuns = AutoRunsOf(probe);
  const std::uint32_t disableCmd = ValueNumber(probe.disableCmd).value_or(0);
  const bool disabled = disableCmd == CmdDisabledWithScripts;
  const std::wstring policy =
      L"the policy \"Prevent access to the command prompt\" (DisableCMD = " +
      std::to_wstring(disableCmd) + L" in HKCU\\Software\\Policies\\Microsoft\\Windows\\System)";
  if (!probe.started) {
    findings.push_back(Problem(
        "interpreter.not-started",
        L"cmd.exe could not be started through the shell (" + probe.startError +
            L"). The launcher starts the runtime through it: if AppLocker, Windows Defender"
            L" Application Control or a software restriction policy blocks cmd.exe for this user,"
            L" ask the administrator to allow it."));
    return result;
  }
  if (!probe.ended && !probe.answered) {
    findings.push_back(Problem(
        "interpreter.hangs",
        L"cmd.exe, started as the launcher starts it, did not run its command within " +
            std::to_wstring(probe.deadlineSeconds) +
            L" s, and would hold the launcher's the same way." +
            EndedByDoctor(probe.endedByDoctor) +
            (autoRuns.empty()
                 ? std::wstring(L" A security program may hold it.")
                 : L" cmd.exe runs an AutoRun command first: " + AutoRunList(autoRuns) +
                       L". One that waits for input or runs long holds every launch: remove it."),
        {{"deadlineSeconds", std::int64_t{probe.deadlineSeconds}}}));
    return result;
  }
  if (!probe.answered) {
    findings.push_back(Problem(
        "interpreter.no-answer",
        L"cmd.exe started but did not run its command, so it cannot run the launcher's either." +
            (disabled
                 ? L" The cause is " + policy + L": ask the administrator to lift it for this user."
             : autoRuns.empty()
                 ? std::wstring(L" A policy or a security program may stop it.")
                 : L" cmd.exe runs an AutoRun command before it: " + AutoRunList(autoRuns) +
                       L". One that ends cmd.exe (exit), or fails, may be why: remove it, and run"
                       L" the doctor again; otherwise a policy or a security program may stop it."),
        {{"disableCmd", std::int64_t{disableCmd}}}));
    return result;
  }
  if (!probe.ranInInstallFolder) {
    findings.push_back(Problem("interpreter.elsewhere",
                               L"cmd.exe ran in " + Quoted(probe.ranIn) +
                                   L", not in the install folder, so it cannot find bin\\java.exe"
                                   L" there." +
                                   WhyNotInTheFolder(probe, autoRuns),
                               {{"ranIn", probe.ranIn}}));
    return result;
  }
  result.stopsLaunch = false;
  // With 1 the policy should have stopped the probe; that it ran tells that this cmd.exe does not
  // apply it, and the launcher's is the same program.
  findings.push_back(
      Ok("interpreter.runs",
         L"cmd.exe runs hidden, through the shell, in the install folder." +
             (disabled ? L" It runs although " + policy +
                             L" is set to stop it: the cmd.exe here does not apply it, and it is"
                             L" the one the launcher starts."
                       : std::wstring()),
         {{"disableCmd", std::int64_t{disableCmd}}}));
  // Some interpreters (Wine's, older builds) ignore these, so the probe passing does not mean
  // that the user's does.
  for (const AutoRun& autoRun : autoRuns) {
    findings.push_back(Warning("interpreter.autorun",
                               L"cmd.exe runs the AutoRun command " + Quoted(autoRun.command) +
                                   L" (" + autoRun.where +
                                   L") before every command, the launcher's too: make sure that"
                                   L" it neither changes the folder nor waits for input.",
                               {{"key", autoRun.where}, {"command", autoRun.command}}));
  }
  if (disableCmd != 0 && !disabled) {
    findings.push_back(
        Warning("interpreter.disabled-by-policy",
                L"The policy is set: " + policy +
                    L". With 2, scripts still run; if the application does not start, ask the"
                    L" administrator to lift it for this user.",
                {{"disableCmd", std::int64_t{disableCmd}}}));
  }
  return result;
}

}  // namespace dunvelt::doctor
