#include "diagnosis.h"

#include <algorithm>
#include <array>
#include <cwctype>

#include "launch_parameters.h"

namespace dunvelt::doctor {
namespace {

Finding Ok(std::wstring text) { return {Verdict::Ok, std::move(text)}; }
Finding Warning(std::wstring text) { return {Verdict::Warning, std::move(text)}; }
Finding Problem(std::wstring text) { return {Verdict::Problem, std::move(text)}; }

std::wstring Quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

std::wstring Seconds(std::uint32_t ms) {
  constexpr std::uint32_t MsPerSecond = 1000;
  constexpr std::uint32_t Tenths = 100;
  return std::to_wstring(ms / MsPerSecond) + L"." + std::to_wstring(ms % MsPerSecond / Tenths) +
         L" s";
}

std::wstring Lower(std::wstring text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](wchar_t c) { return static_cast<wchar_t>(std::towlower(c)); });
  return text;
}

Finding Note(std::wstring text) { return {Verdict::Note, std::move(text)}; }

std::wstring Wide(std::string_view ascii) { return {ascii.begin(), ascii.end()}; }

std::wstring RuntimeName() { return {JavaRuntimePath.begin(), JavaRuntimePath.end()}; }

// The first lines a program printed, each quoted, leaving out the JVM's notes of the options it
// picked up, which the findings name on their own.
std::wstring FirstLines(const std::wstring& output) {
  constexpr int Wanted = 3;
  constexpr std::size_t LongestLine = 300;
  std::wstring lines;
  int count = 0;
  std::size_t start = 0;
  while (start < output.size() && count < Wanted) {
    const std::size_t end = std::min(output.find_first_of(L"\r\n", start), output.size());
    std::wstring line = output.substr(start, end - start);
    start = end + 1;
    while (!line.empty() && std::iswspace(line.back()) != 0) line.pop_back();
    if (line.empty() || line.rfind(L"Picked up ", 0) == 0 ||
        line.rfind(L"NOTE: Picked up ", 0) == 0) {
      continue;
    }
    if (line.size() > LongestLine) line = line.substr(0, LongestLine) + L"...";
    lines += (count++ == 0 ? L"" : L" ") + Quoted(line);
  }
  return count == 0 ? std::wstring(L"nothing") : lines;
}

std::wstring EndedByDoctor(const std::vector<std::wstring>& images) {
  if (images.empty()) return {};
  std::wstring list;
  for (const std::wstring& image : images) list += (list.empty() ? L"" : L", ") + image;
  return L" The doctor ended what was still running: " + list + L".";
}

// "NAME = "value"; ..." of the JVM's variables that `picked` picks.
template <typename Picked>
std::wstring OptionList(const std::vector<JavaOption>& options, Picked picked) {
  std::wstring named;
  for (const JavaOption& option : options) {
    if (!picked(option)) continue;
    named += (named.empty() ? L"" : L"; ") + option.name + L" = " + Quoted(option.value);
  }
  return named;
}

// The JVM's variables, named wherever the runtime fails, since they change every launch.
std::wstring OptionsSuspicion(const std::vector<JavaOption>& options) {
  const std::wstring named = OptionList(options, [](const JavaOption&) { return true; });
  if (named.empty()) return {};
  return L" The runtime also reads, set for this user: " + named +
         L". Options there can stop every launch: remove them, or fix them.";
}

std::wstring AutoRunList(const std::vector<AutoRun>& autoRuns) {
  std::wstring list;
  for (const AutoRun& autoRun : autoRuns) {
    if (!list.empty()) list += L"; ";
    list += Quoted(autoRun.command) + L" in " + autoRun.where;
  }
  return list;
}

constexpr std::uint32_t CmdDisabledWithScripts = 1;

// Which builds of ARM64 Windows run the image's machine; empty when every build does or none.
std::wstring Arm64BuildRule(std::uint16_t native, std::uint16_t image) {
  if (native != MachineArm64) return {};
  if (image == MachineAmd64) {
    return L"x64 programs run on ARM64 Windows from Windows 11 (build " +
           std::to_wstring(BuildArm64RunsX64) + L")";
  }
  if (image == MachineArm) {
    return L"ARM programs run on ARM64 Windows only before Windows 11 24H2 "
           L"(build " +
           std::to_wstring(BuildArm64DropsArm) + L")";
  }
  return {};
}

// Why cmd.exe did not run the command in the install folder, from what the machine holds.
std::wstring WhyNotInTheFolder(const InterpreterProbe& probe) {
  std::wstring why;
  if (probe.networkPath) {
    why +=
        L" cmd.exe cannot run in a network path (UNC) and falls back to the Windows folder:"
        L" install the application on a local drive.";
  }
  if (!probe.autoRuns.empty()) {
    why += L" cmd.exe runs an AutoRun command before every command, the launcher's too: " +
           AutoRunList(probe.autoRuns) +
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

std::wstring Line(const Finding& finding) {
  switch (finding.verdict) {
    case Verdict::Ok:
      return L"OK: " + finding.text;
    case Verdict::Note:
      return L"NOTE: " + finding.text;
    case Verdict::Warning:
      return L"WARNING: " + finding.text;
    case Verdict::Problem:
      break;
  }
  return L"PROBLEM: " + finding.text;
}

std::wstring Summary(const Findings& findings) {
  const auto count = [&](Verdict verdict) {
    return std::to_wstring(std::count_if(findings.begin(), findings.end(),
                                         [&](const Finding& f) { return f.verdict == verdict; }));
  };
  return count(Verdict::Problem) + L" problems, " + count(Verdict::Warning) + L" warnings";
}

int ExitCode(const Findings& findings) {
  return std::any_of(findings.begin(), findings.end(),
                     [](const Finding& f) { return f.verdict == Verdict::Problem; })
             ? 1
             : 0;
}

std::wstring MachineName(std::uint16_t machine) {
  switch (machine) {
    case MachineI386:
      return L"x86";
    case MachineAmd64:
      return L"x64";
    case MachineArm64:
      return L"ARM64";
    case MachineArm:
      return L"ARM";
    default:
      return L"machine type " + std::to_wstring(machine);
  }
}

bool CanRun(std::uint16_t native, std::uint16_t image, std::uint32_t build) {
  if (image == MachineI386) {
    return native == MachineI386 || native == MachineAmd64 || native == MachineArm64;
  }
  if (image == MachineAmd64) {
    return native == MachineAmd64 || (native == MachineArm64 && build >= BuildArm64RunsX64);
  }
  if (image == MachineArm64) return native == MachineArm64;
  if (image == MachineArm) {
    return native == MachineArm || (native == MachineArm64 && build < BuildArm64DropsArm);
  }
  return false;
}

std::string LaunchedModule() {
  constexpr std::u16string_view Switch = u" -m ";
  std::u16string_view module = JavaLaunchArguments.substr(JavaLaunchArguments.find(Switch));
  module.remove_prefix(Switch.size());
  module = module.substr(0, module.find(u'/'));
  return {module.begin(), module.end()};  // the module's name is ASCII
}

std::wstring ConsoleCommand() {
  const std::u16string command =
      QuoteForCommandLine(JavaRuntimePath, CommandLineQuote) + std::u16string(JavaLaunchArguments);
  return {command.begin(), command.end()};
}

std::wstring DryRunArguments() {
  return L"--dry-run" + std::wstring(JavaLaunchArguments.begin(), JavaLaunchArguments.end());
}

std::wstring ArchiveRunArguments() { return L"-Xshare:on " + DryRunArguments(); }

namespace {

// -Xshare:off in any of the variables leaves every launch without an archive, whatever the
// probe says: the JVM reads JDK_JAVA_OPTIONS and JAVA_TOOL_OPTIONS before the command line, whose
// -Xshare:on then wins, but _JAVA_OPTIONS after it, so that the probe passes there without
// mapping one.
bool TurnsArchiveOff(const JavaOption& option) {
  return option.value.find(L"-Xshare:off") != std::wstring::npos;
}

bool NamesArchive(const JavaOption& option) {
  return option.value.find(L"SharedArchiveFile") != std::wstring::npos;
}

// The user's variables that decide which archive the runtime maps, if any.
std::wstring ArchiveOptions(const std::vector<JavaOption>& options) {
  const std::wstring named = OptionList(options, [](const JavaOption& option) {
    return TurnsArchiveOff(option) || NamesArchive(option);
  });
  if (named.empty()) return {};
  const bool off = std::any_of(options.begin(), options.end(), TurnsArchiveOff);
  const bool other = std::any_of(options.begin(), options.end(), NamesArchive);
  return L" The runtime also reads, set for this user: " + named + L". " +
         (off ? L"-Xshare:off there turns the archive off in every launch" : L"") +
         (off && other ? L", and a"
          : other      ? L"A"
                       : L"") +
         (other ? L" SharedArchiveFile there takes the place of the runtime's own archive" : L"") +
         (off && other ? L": remove them." : L": remove it.");
}

// Run once the dry run has passed. A runtime without a usable archive still starts the
// application, only slower, so that this is at worst a warning, and never stops the launch check.
Finding JudgeArchive(const RuntimeProbe& dryRun) {
  const RuntimeRun& probe = dryRun.archive;
  const std::wstring name = RuntimeName();
  const std::vector<JavaOption>& options = dryRun.javaOptions;
  const bool turnedOff = std::any_of(options.begin(), options.end(), TurnsArchiveOff);
  const bool answered = probe.started && probe.ended;
  if (answered && probe.exitCode == 0 && !turnedOff) {
    return Ok(name + L" maps a class-data archive with the launcher's options.");
  }
  const std::wstring cannotTell =
      L"Cannot tell whether " + name + L" maps a class-data archive with the launcher's options: ";
  const std::wstring asked =
      L"started once more with -Xshare:on (java " + ArchiveRunArguments() + L")";
  if (!answered && !turnedOff) {
    if (!probe.started) {
      return Note(cannotTell + L"it could not be started once more, with -Xshare:on (" +
                  probe.startError + L").");
    }
    return Note(cannotTell + asked + L", it did not finish within " +
                std::to_wstring(probe.deadlineSeconds) + L" s." +
                EndedByDoctor(probe.endedByDoctor) +
                (probe.output.empty() ? L"" : L" It printed: " + FirstLines(probe.output) + L"."));
  }
  std::wstring text = answered && probe.exitCode != 0
                          ? name + L" maps no class-data archive with the launcher's options:" +
                                L" started with -Xshare:on, which needs one (java " +
                                ArchiveRunArguments() + L"), it refused with code " +
                                std::to_wstring(probe.exitCode) + L": " + FirstLines(probe.output) +
                                L"."
                          : name + L" starts without a class-data archive in every launch.";
  text += ArchiveOptions(options);
  text +=
      L" Without an archive, every start reads and links the runtime's and the application's"
      L" classes afresh: the doctor's dry run took " +
      Seconds(dryRun.tookMs) +
      L" here, and in Dunvelt's measurements an application archive showed the application's"
      L" window about " +
      std::to_wstring(ArchiveSavesPercent) +
      L" percent sooner. See docs/packaging.md, \"A faster start\".";
  return Warning(text);
}

}  // namespace

Findings JudgeRuntimeStart(const RuntimeProbe& probe) {
  const std::wstring name = RuntimeName();
  const std::wstring asked = name +
                             L", started with the launcher's options only to load the"
                             L" application (java " +
                             DryRunArguments() + L"),";
  const std::wstring options = OptionsSuspicion(probe.javaOptions);
  Findings findings;
  if (!probe.started) {
    findings.push_back(Problem(name + L" could not be started (" + probe.startError + L")."));
  } else if (!probe.ended) {
    findings.push_back(Problem(
        asked + L" did not finish within " + std::to_wstring(probe.deadlineSeconds) +
        L" s: it hangs before the application can start." + EndedByDoctor(probe.endedByDoctor) +
        (probe.output.empty() ? L"" : L" It printed: " + FirstLines(probe.output) + L"") +
        options));
  } else if (probe.exitCode != 0) {
    const std::wstring module = Wide(LaunchedModule());
    std::wstring why;
    if (probe.output.find(L"Module " + module + L" not found") != std::wstring::npos) {
      why = L" The runtime has no module " + module +
            L", which the launcher starts: build the runtime image with it (jlink --add-modules " +
            module + L", with the application on --module-path).";
    } else if (probe.output.find(L"Could not reserve enough space") != std::wstring::npos) {
      why =
          L" It cannot reserve the heap that the launcher asks for (-Xmx1g, 1 GiB), which a"
          L" 32-bit runtime often cannot have: on 64-bit Windows, ship a 64-bit runtime.";
    }
    findings.push_back(Problem(asked + L" refused it with code " + std::to_wstring(probe.exitCode) +
                               L": " + FirstLines(probe.output) + L"." + why + options));
  } else {
    findings.push_back(Ok(name + L" loads the application's module " + Wide(LaunchedModule()) +
                          L" with the launcher's options."));
    for (const JavaOption& option : probe.javaOptions) {
      findings.push_back(Note(L"The runtime also reads " + option.name + L" = " +
                              Quoted(option.value) +
                              L", set for this user, in every launch: the application runs"
                              L" with it."));
    }
    findings.push_back(JudgeArchive(probe));
  }
  return findings;
}

Findings JudgeFolder(const FolderFacts& folder) {
  if (folder.networkPath) {
    return {Problem(L"The install folder " + folder.path +
                    L" is a network path. cmd.exe cannot run in one and falls "
                    L"back to the Windows"
                    L" folder, where there is no bin\\java.exe: install the "
                    L"application on a"
                    L" local drive.")};
  }
  Findings findings;
  if (folder.path.size() > LongestCurrentFolder) {
    findings.push_back(
        Problem(L"The install folder's path is " + std::to_wstring(folder.path.size()) +
                L" characters long; Windows starts no program in a folder of more "
                L"than " +
                std::to_wstring(LongestCurrentFolder) +
                L", so Dunvelt.exe and cmd.exe run in another folder, where there is "
                L"no bin\\java.exe:"
                L" install the application in a folder with a shorter path."));
  }
  if (folder.remoteDrive) {
    findings.push_back(Warning(L"The install folder " + folder.path + L" is on the network drive " +
                               folder.path.substr(0, 2) +
                               L". It works while the drive is connected, but "
                               L"Windows may ask before it starts a program"
                               L" from the network, and the drive may be "
                               L"missing when the user signs in: install the"
                               L" application on a local drive."));
  }
  if (!folder.outsideCodePage.empty()) {
    findings.push_back(Warning(L"The folder " + Quoted(folder.outsideCodePage) +
                               L" in the install folder's path has characters "
                               L"that this Windows' code page (" +
                               std::to_wstring(folder.codePage) +
                               L") cannot hold. Programs that name files in "
                               L"the code page, as older Java runtimes and"
                               L" some programs started by cmd.exe do, cannot "
                               L"reach them, so the runtime may not find"
                               L" its own files: if the application fails to "
                               L"start, install it in a folder whose path"
                               L" has none of them."));
  }
  if (findings.empty()) {
    findings.push_back(
        Ok(L"The install folder " + folder.path + L" holds Dunvelt.exe, on a local drive."));
  }
  return findings;
}

Findings JudgeRuntimeImage(const RuntimeImageFacts& runtime) {
  const std::wstring name = RuntimeName();
  if (!runtime.exists) {
    return {Problem(L"There is no " + name +
                    L" in the install folder. The launcher starts the runtime "
                    L"by that path: ship"
                    L" the Java runtime with its " +
                    name + L" (jlink --strip-native-commands leaves it out).")};
  }
  if (runtime.readError != 0) {
    return {Problem(name + L" could not be read (" + runtime.readErrorText +
                    L"), so the doctor cannot tell whether it is a program "
                    L"this Windows runs, and the launch"
                    L" may fail on it the same way. A security program that "
                    L"holds it, missing rights, or a"
                    L" file kept online and not on this computer can cause "
                    L"this: let the scan end, give the"
                    L" user read access to the install folder, or keep its "
                    L"files on this computer, and run"
                    L" the doctor again.")};
  }
  if (runtime.isFolder || runtime.machine == 0) {
    return {Problem(name + L" is not a Windows program: replace it with the Java runtime's own"
                           L" java.exe.")};
  }
  const std::wstring image = MachineName(runtime.machine);
  const std::wstring native = MachineName(runtime.nativeMachine);
  const std::wstring rule = Arm64BuildRule(runtime.nativeMachine, runtime.machine);
  const std::wstring advice = L"ship a runtime built for " + native + L".";
  if (!rule.empty() && runtime.windowsBuild == 0) {
    return {Warning(L"Cannot tell whether this Windows (" + native + L") runs " + name +
                    L", built for " + image + L": " + rule +
                    L", and the doctor could not read this one's build. If the "
                    L"application does"
                    L" not start, " +
                    advice)};
  }
  if (!CanRun(runtime.nativeMachine, runtime.machine, runtime.windowsBuild)) {
    return {Problem(name + L" is built for " + image + L", which this Windows (" + native +
                    L") cannot run: " +
                    (rule.empty() ? advice
                                  : rule + L", and this is build " +
                                        std::to_wstring(runtime.windowsBuild) + L"; " + advice))};
  }
  return {
      Ok(name + L" is a program for " + image + L", which this Windows (" + native + L") runs.")};
}

Findings JudgeShortcuts(const ShortcutFacts& shortcuts) {
  Findings findings;
  int good = 0;
  for (const ShortcutFacts::Link& link : shortcuts.links) {
    if (!link.readError.empty()) {
      findings.push_back(Warning(L"Cannot tell whether the shortcut " + link.path +
                                 L" starts this Dunvelt.exe: it could not be read (" +
                                 link.readError + L")."));
    } else if (link.startIn.empty()) {
      findings.push_back(Warning(L"The shortcut " + link.path +
                                 L" has no \"Start in\" folder, so Windows chooses one: set it"
                                 L" to " +
                                 shortcuts.installFolder + L"."));
    } else if (!link.startsInInstallFolder) {
      findings.push_back(Problem(L"The shortcut " + link.path + L" starts Dunvelt.exe in " +
                                 Quoted(link.startIn) +
                                 L", where there is no bin\\java.exe: set its \"Start in\""
                                 L" folder to " +
                                 shortcuts.installFolder + L"."));
    } else {
      ++good;
    }
  }
  for (const ShortcutFacts::Unlisted& folder : shortcuts.unlistedFolders) {
    findings.push_back(Warning(L"Cannot tell whether the folder " + folder.folder +
                               L" holds shortcuts to this Dunvelt.exe: it could not be listed (" +
                               folder.error + L")."));
  }
  if (findings.empty()) {
    findings.push_back(Ok(good == 0 ? L"No shortcut in the Start menu, on the "
                                      L"desktop or in Startup points at"
                                      L" this Dunvelt.exe."
                                    : std::to_wstring(good) + L" shortcuts to this Dunvelt.exe "
                                                              L"start it in the install folder."));
  }
  return findings;
}

std::wstring WithNativeProgramFiles(const std::wstring& raw, const std::wstring& programFiles64,
                                    const std::wstring& commonProgramFiles64) {
  const std::array<std::pair<std::wstring, const std::wstring&>, 2> variables{
      {{L"%programfiles%", programFiles64}, {L"%commonprogramfiles%", commonProgramFiles64}}};
  for (const auto& [variable, folder] : variables) {
    if (!folder.empty() && Lower(raw.substr(0, variable.size())) == variable) {
      return folder + raw.substr(variable.size());
    }
  }
  return raw;
}

Findings JudgeInterpreter(const InterpreterProbe& probe) {
  Findings findings;
  const bool disabled = probe.disableCmd == CmdDisabledWithScripts;
  const std::wstring policy =
      L"the policy \"Prevent access to the command prompt\" (DisableCMD = " +
      std::to_wstring(probe.disableCmd) +
      L" in HKCU\\Software\\Policies\\Microsoft\\Windows\\System)";
  if (!probe.started) {
    findings.push_back(Problem(
        L"cmd.exe could not be started through the shell (" + probe.startError +
        L"). The launcher starts the runtime through it: if AppLocker, Windows Defender"
        L" Application Control or a software restriction policy blocks cmd.exe for this user,"
        L" ask the administrator to allow it."));
    return findings;
  }
  if (!probe.ended && !probe.answered) {
    findings.push_back(Problem(
        L"cmd.exe, started as the launcher starts it, did not run its command within " +
        std::to_wstring(probe.deadlineSeconds) +
        L" s, and would hold the launcher's the same way." + EndedByDoctor(probe.endedByDoctor) +
        (probe.autoRuns.empty()
             ? std::wstring(L" A security program may hold it.")
             : L" cmd.exe runs an AutoRun command first: " + AutoRunList(probe.autoRuns) +
                   L". One that waits for input or runs long holds every launch: remove it.")));
    return findings;
  }
  if (!probe.answered) {
    findings.push_back(Problem(
        L"cmd.exe started but did not run its command, so it cannot run the launcher's either." +
        (disabled
             ? L" The cause is " + policy + L": ask the administrator to lift it for this user."
             : std::wstring(L" A policy or a security program may stop it."))));
    return findings;
  }
  if (!probe.ranInInstallFolder) {
    findings.push_back(Problem(L"cmd.exe ran in " + Quoted(probe.ranIn) +
                               L", not in the install"
                               L" folder, so it cannot find bin\\java.exe there." +
                               WhyNotInTheFolder(probe)));
    return findings;
  }
  findings.push_back(Ok(L"cmd.exe runs hidden, through the shell, in the install folder."));
  // Some interpreters (Wine's, older builds) ignore these, so the probe passing does not mean
  // that the user's does.
  for (const AutoRun& autoRun : probe.autoRuns) {
    findings.push_back(Warning(L"cmd.exe runs the AutoRun command " + Quoted(autoRun.command) +
                               L" (" + autoRun.where +
                               L") before every command, the launcher's too: make sure that it"
                               L" neither changes the folder nor waits for input."));
  }
  if (probe.disableCmd != 0) {
    findings.push_back(Warning(
        L"The policy is set: " + policy +
        (disabled ? L". With 1, cmd.exe refuses every command, the launcher's too: ask the"
                    L" administrator to lift it for this user."
                  : L". With 2, scripts still run; if the application does not start, ask the"
                    L" administrator to lift it for this user.")));
  }
  return findings;
}

namespace {

// Each window shown during the launch, and whether the launch is to blame for it.
void JudgeWindows(const LaunchOutcome& launch, Findings& findings) {
  bool blamed = false;
  for (const LaunchOutcome::Window& window : launch.otherWindows) {
    const std::wstring image = Lower(window.imageName);
    const bool host =
        image == L"windowsterminal.exe" || image == L"openconsole.exe" || image == L"conhost.exe";
    if (!window.ofTheLaunch && !host) {
      // Anything else on a desktop may show a window meanwhile, a reminder or a notification:
      // named by its program only, since its title may be anybody's business.
      findings.push_back(Note(
          L"Another program showed a window while the launch was watched: " +
          (window.imageName.empty() ? std::wstring(L"a program that ended") : window.imageName) +
          L" (pid " + std::to_wstring(window.processId) + L"). It is no part of the launch."));
      continue;
    }
    blamed = true;
    std::wstring advice = L" The launch must show no window but the application's.";
    if (image == L"windowsterminal.exe" || image == L"openconsole.exe") {
      advice +=
          L" Windows Terminal showed the hidden console: set the default terminal"
          L" application to Windows Console Host (Windows Settings, For developers,"
          L" Terminal; or Windows Terminal's settings, Startup, Default terminal"
          L" application).";
    } else if (image == L"conhost.exe" || image == L"cmd.exe") {
      advice +=
          L" The command interpreter's console was shown: is this Dunvelt.exe the shipped"
          L" one? The verification kit checks it.";
    }
    findings.push_back(Problem(L"A window was shown: " + window.description + L"." + advice));
  }
  if (!blamed) {
    findings.push_back(Ok(L"The launch showed no window but the application's, watched for " +
                          Seconds(launch.watchedMs) + L"."));
  }
}

}  // namespace

Findings JudgeLaunch(const LaunchOutcome& launch) {
  Findings findings;
  if (!launch.started) {
    findings.push_back(Problem(L"Dunvelt.exe could not be started as a double-click starts it (" +
                               launch.startError +
                               L"): if a security program or policy blocks it, ask the"
                               L" administrator to allow it."));
    return findings;
  }

  if (!launch.ended) {
    findings.push_back(Problem(L"Dunvelt.exe did not end within " +
                               std::to_wstring(launch.endDeadlineSeconds) +
                               L" s; it must end at once. Is this Dunvelt.exe the shipped one?" +
                               EndedByDoctor(launch.endedByDoctor)));
  } else if (launch.exitCode != 0) {
    findings.push_back(Problem(L"Dunvelt.exe ended with code " + std::to_wstring(launch.exitCode) +
                               L" (" + launch.exitMeaning +
                               L"): the shell could not start cmd.exe. See the interpreter's"
                               L" findings above."));
  } else {
    findings.push_back(Ok(L"Dunvelt.exe ended at once with code 0."));
  }

  // The runtime's own message goes to the hidden console, where nobody reads it.
  const std::wstring consoleAdvice =
      L"open a console in the install folder and type: " + launch.runtimeCommand;
  if (!launch.runtimeStarted) {
    findings.push_back(Problem(L"No runtime started within " +
                               std::to_wstring(launch.runtimeDeadlineSeconds) +
                               L" s of the launch: the launcher's command did not reach"
                               L" bin\\java.exe. See the problems above; to read what the"
                               L" interpreter says, " +
                               consoleAdvice + EndedByDoctor(launch.endedByDoctor)));
  } else {
    const std::wstring started = L"The runtime started (bin\\java.exe, pid " +
                                 std::to_wstring(launch.runtimeId) + L") " +
                                 Seconds(launch.runtimeStartedAfterMs) + L" after the launch";
    if (!launch.runtimeEnded) {
      findings.push_back(Ok(started + L", and is left running" +
                            (launch.applicationShown ? L" with the application's window." : L".")));
    } else if (launch.runtimeExitCode != 0) {
      findings.push_back(Problem(started + L", but ended after " + Seconds(launch.runtimeLivedMs) +
                                 L" with code " + std::to_wstring(launch.runtimeExitCode) +
                                 L": it refused the command or could not start the application."
                                 L" To read why, " +
                                 consoleAdvice));
    } else {
      findings.push_back(
          Warning(started + L", and ended by itself after " + Seconds(launch.runtimeLivedMs) +
                  L" with code 0" +
                  (launch.applicationShown ? L"."
                                           : L", without a window. If the application did not"
                                             L" appear, " +
                                                 consoleAdvice)));
    }
  }

  if (!launch.watched) {
    findings.push_back(Warning(
        L"Cannot tell whether a window was shown: the window watch did not see its canary, a"
        L" window shown on purpose by another program, so it cannot see this desktop."));
    return findings;
  }
  JudgeWindows(launch, findings);
  return findings;
}

Finding LaunchAnnouncement() {
  return Note(L"Starting Dunvelt.exe: the application will open. The doctor leaves it running.");
}

std::wstring WhyNoLaunch(bool noLaunchAsked, bool problemBefore) {
  if (noLaunchAsked) return L"Dunvelt.exe was not started, as asked (--no-launch).";
  if (problemBefore) {
    return L"Dunvelt.exe was not started: the problems above stop every launch. Mend them, then"
           L" run the doctor again.";
  }
  return {};
}

std::wstring QuotedArgument(const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    return argument;
  }
  std::wstring quoted = L"\"";
  std::size_t backslashes = 0;
  for (const wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    // Backslashes count only before a quote: doubled there, and the quote escaped.
    quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, L'\\');  // before the closing quote
  return quoted + L"\"";
}

}  // namespace dunvelt::doctor
