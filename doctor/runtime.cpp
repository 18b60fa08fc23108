#include "runtime.h"

#include <algorithm>
#include <cwctype>

#include "facts_json.h"
#include "launch_parameters.h"
#include "text.h"

namespace dunvelt::doctor {

DUNVELT_FACTS_JSON(RuntimeImageFacts, exists, isFolder, readError, readErrorText, machine,
                   nativeMachine, windowsBuild)
DUNVELT_FACTS_JSON(JavaOption, name, value)
DUNVELT_FACTS_JSON(RuntimeRun, started, startError, ended, deadlineSeconds, exitCode, output,
                   outputCut, endedByDoctor, tookMs)
DUNVELT_FACTS_JSON(RuntimeProbe, started, startError, ended, deadlineSeconds, exitCode, output,
                   outputCut, endedByDoctor, tookMs, javaOptions, consoleOptions, archive)

namespace {

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

std::wstring ValueFor(const std::vector<JavaOption>& options, const std::wstring& name) {
  for (const JavaOption& option : options) {
    if (option.name == name) return option.value;
  }
  return {};
}

// Which builds of ARM64 Windows run the image's machine; empty when every build does or none.
std::wstring Arm64BuildRule(std::uint16_t native, std::uint16_t image) {
  if (native != MachineArm64) return {};
  if (image == MachineAmd64) {
    return L"x64 programs run on ARM64 Windows from Windows 11 (build " +
           std::to_wstring(BuildArm64RunsX64) + L")";
  }
  if (image == MachineArm) {
    return L"ARM programs run on ARM64 Windows only before Windows 11 24H2 (build " +
           std::to_wstring(BuildArm64DropsArm) + L")";
  }
  return {};
}

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

// The NTSTATUS codes that name a fault of the runtime's files rather than of its options.
constexpr std::uint32_t StatusDllNotFound = 0xC0000135;
constexpr std::uint32_t StatusInvalidImageFormat = 0xC000007B;
constexpr std::uint32_t StatusInvalidImageHash = 0xC0000428;
constexpr std::uint32_t StatusAccessViolation = 0xC0000005;

// A runtime that ended with an NTSTATUS: Windows ended it, mostly before the JVM could say why. The
// doctor's error mode, which its children inherit, makes such a start end at once instead of
// waiting on a message box that nobody sees.
Finding JudgeEndedByWindows(const RuntimeProbe& probe, const std::wstring& asked,
                            const std::wstring& options) {
  std::string id = "runtime.ended-by-windows";
  std::wstring why;
  switch (probe.exitCode) {
    case StatusDllNotFound:
      id = "runtime.dll-missing";
      why =
          L" Windows found no DLL that bin\\java.exe, or a DLL it loads, imports: most often one"
          L" of the runtime's own files in bin (jli.dll, vcruntime140.dll, an api-ms-win-*.dll)"
          L" that the install left out or a virus scanner quarantined. Ship the runtime whole,"
          L" and look in the scanner's quarantine.";
      break;
    case StatusInvalidImageFormat:
      id = "runtime.bad-image";
      why =
          L" A DLL of the runtime is built for another machine type than java.exe, or damaged:"
          L" ship the runtime whole, from one build.";
      break;
    case StatusInvalidImageHash:
      id = "runtime.image-hash-refused";
      why =
          L" Windows refused the signature of bin\\java.exe or of a DLL it loads, as Smart App"
          L" Control or an application control policy does: sign the runtime's files, or ask the"
          L" administrator to allow them.";
      break;
    case StatusAccessViolation:
      id = "runtime.crashed";
      why =
          L" The runtime crashed; a damaged file, or a DLL another program injects, can cause it.";
      break;
    default:
      why = L" Windows, not the runtime, chose that code.";
  }
  return Problem(
      id,
      asked + L" ended with code " + ExitCodeText(probe.exitCode) + L"." +
          (probe.output.empty() ? L"" : L" It printed: " + FirstLines(probe.output) + L".") + why +
          options,
      {{"exitCode", std::int64_t{probe.exitCode}}});
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
    return Ok("runtime.archive-ok",
              name + L" maps a class-data archive with the launcher's options.");
  }
  const std::wstring cannotTell =
      L"Cannot tell whether " + name + L" maps a class-data archive with the launcher's options: ";
  const std::wstring asked =
      L"started once more with -Xshare:on (java " + ArchiveRunArguments() + L")";
  if (!answered && !turnedOff) {
    if (!probe.started) {
      return Note("runtime.archive-unknown",
                  cannotTell + L"it could not be started once more, with -Xshare:on (" +
                      probe.startError + L").");
    }
    return Note(
        "runtime.archive-unknown",
        cannotTell + asked + L", it did not finish within " +
            std::to_wstring(probe.deadlineSeconds) + L" s." + EndedByDoctor(probe.endedByDoctor) +
            (probe.output.empty() ? L"" : L" It printed: " + FirstLines(probe.output) + L"."),
        {{"deadlineSeconds", std::int64_t{probe.deadlineSeconds}}});
  }
  std::wstring text = answered && probe.exitCode != 0
                          ? name + L" maps no class-data archive with the launcher's options:" +
                                L" started with -Xshare:on, which needs one (java " +
                                ArchiveRunArguments() + L"), it refused with code " +
                                ExitCodeText(probe.exitCode) + L": " + FirstLines(probe.output) +
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
  return Warning("runtime.no-archive", text,
                 {{"dryRunMs", std::int64_t{dryRun.tookMs}}, {"turnedOff", turnedOff}});
}

}  // namespace

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

CheckResult RuntimeImageCheck::Judge(const RuntimeImageFacts& facts) {
  const RuntimeImageFacts& runtime = facts;
  const std::wstring name = RuntimeName();
  // A runtime that is missing or built for another machine cannot be started to ask it more.
  const auto stopped = [](Finding finding) {
    return CheckResult{{std::move(finding)}, true, {"runtime.start"}};
  };
  if (!runtime.exists) {
    return stopped(Problem("runtime.missing",
                           L"There is no " + name +
                               L" in the install folder. The launcher starts the runtime by that"
                               L" path: ship the Java runtime with its " +
                               name + L" (jlink --strip-native-commands leaves it out)."));
  }
  if (runtime.readError != 0) {
    return stopped(Problem(
        "runtime.unreadable",
        name + L" could not be read (" + runtime.readErrorText +
            L"), so the doctor cannot tell whether it is a program this Windows runs, and the"
            L" launch may fail on it the same way. A security program that holds it, missing"
            L" rights, or a file kept online and not on this computer can cause this: let the"
            L" scan end, give the user read access to the install folder, or keep its files on"
            L" this computer, and run the doctor again.",
        {{"error", std::int64_t{runtime.readError}}}));
  }
  if (runtime.isFolder || runtime.machine == 0) {
    return stopped(Problem("runtime.not-a-program",
                           name + L" is not a Windows program: replace it with the Java runtime's"
                                  L" own java.exe."));
  }
  const std::wstring image = MachineName(runtime.machine);
  const std::wstring native = MachineName(runtime.nativeMachine);
  const std::wstring rule = Arm64BuildRule(runtime.nativeMachine, runtime.machine);
  const std::wstring advice = L"ship a runtime built for " + native + L".";
  const Basis machines{{"machine", image}, {"windows", native}};
  if (!rule.empty() && runtime.windowsBuild == 0) {
    return {{Warning("runtime.machine-undecided",
                     L"Cannot tell whether this Windows (" + native + L") runs " + name +
                         L", built for " + image + L": " + rule +
                         L", and the doctor could not read this one's build. If the application"
                         L" does not start, " +
                         advice,
                     machines)},
            false,
            {}};
  }
  if (!CanRun(runtime.nativeMachine, runtime.machine, runtime.windowsBuild)) {
    return stopped(Problem(
        "runtime.wrong-machine",
        name + L" is built for " + image + L", which this Windows (" + native + L") cannot run: " +
            (rule.empty() ? advice
                          : rule + L", and this is build " + std::to_wstring(runtime.windowsBuild) +
                                L"; " + advice),
        machines));
  }
  return {
      {Ok("runtime.image-ok",
          name + L" is a program for " + image + L", which this Windows (" + native + L") runs.",
          machines)},
      false,
      {}};
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

CheckResult RuntimeStartCheck::Judge(const RuntimeProbe& facts) {
  const RuntimeProbe& probe = facts;
  const std::wstring name = RuntimeName();
  const std::wstring asked = name +
                             L", started with the launcher's options only to load the"
                             L" application (java " +
                             DryRunArguments() + L"),";
  const std::wstring options = OptionsSuspicion(probe.javaOptions);
  CheckResult result;
  Findings& findings = result.findings;
  result.stopsLaunch = true;
  if (!probe.started) {
    findings.push_back(Problem("runtime.not-started",
                               name + L" could not be started (" + probe.startError + L")."));
  } else if (!probe.ended) {
    findings.push_back(Problem(
        "runtime.hangs",
        asked + L" did not finish within " + std::to_wstring(probe.deadlineSeconds) +
            L" s, longer than a first start under a virus scanner takes: it likely hangs before"
            L" the application can start." +
            EndedByDoctor(probe.endedByDoctor) +
            (probe.output.empty() ? L"" : L" It printed: " + FirstLines(probe.output) + L"") +
            options,
        {{"deadlineSeconds", std::int64_t{probe.deadlineSeconds}}}));
  } else if (IsErrorStatus(probe.exitCode)) {
    findings.push_back(JudgeEndedByWindows(probe, asked, options));
  } else if (probe.exitCode != 0) {
    const std::wstring module = Widened(LaunchedModule());
    std::string id = "runtime.refused";
    std::wstring why;
    if (probe.output.find(L"Module " + module + L" not found") != std::wstring::npos) {
      id = "runtime.module-missing";
      why = L" The runtime has no module " + module +
            L", which the launcher starts: build the runtime image with it (jlink --add-modules " +
            module + L", with the application on --module-path).";
    } else if (probe.output.find(L"Could not reserve enough space") != std::wstring::npos) {
      id = "runtime.heap-refused";
      why =
          L" It cannot reserve the heap that the launcher asks for (-Xmx1g, 1 GiB), which a"
          L" 32-bit runtime often cannot have: on 64-bit Windows, ship a 64-bit runtime.";
    }
    findings.push_back(Problem(id,
                               asked + L" refused it with code " + std::to_wstring(probe.exitCode) +
                                   L": " + FirstLines(probe.output) + L"." + why + options,
                               {{"exitCode", std::int64_t{probe.exitCode}}}));
  } else {
    result.stopsLaunch = false;
    findings.push_back(Ok("runtime.starts",
                          name + L" loads the application's module " + Widened(LaunchedModule()) +
                              L" with the launcher's options.",
                          {{"dryRunMs", std::int64_t{probe.tookMs}}}));
    if (probe.tookMs > SlowStartMs) {
      findings.push_back(Warning(
          "runtime.slow-start",
          asked + L" took " + Seconds(probe.tookMs) + L" to load the application, more than " +
              Seconds(SlowStartMs) +
              L": it works, but every start may keep the user waiting as long before the"
              L" application's window appears, long enough to click again. A virus scanner that"
              L" checks the runtime's files, a slow or network disk, or a loaded computer slow a"
              L" first start most; if later starts stay as slow, have the scanner trust the"
              L" install folder.",
          {{"dryRunMs", std::int64_t{probe.tookMs}}}));
    }
    for (const JavaOption& option : probe.javaOptions) {
      findings.push_back(Note("runtime.user-option",
                              L"The runtime also reads " + option.name + L" = " +
                                  Quoted(option.value) +
                                  L", set for this user, in every launch: the application runs"
                                  L" with it.",
                              {{"variable", option.name}}));
    }
    findings.push_back(JudgeArchive(probe));
  }
  for (const JavaOption& option : probe.consoleOptions) {
    findings.push_back(Note(
        "runtime.console-option",
        (option.value.empty()
             ? L"The doctor's console has no " + option.name +
                   L", which is set for this user: a double-click passes it on"
             : L"The doctor's console has " + option.name + L" = " + Quoted(option.value) +
                   L", set in this console only: a double-click does not pass it on") +
            (ValueFor(probe.javaOptions, option.name).empty()
                 ? L", so the doctor started the runtime without it, as a launch does."
                 : L", so the doctor started the runtime with the user's value, as a launch does."),
        {{"variable", option.name}, {"value", option.value}}));
  }
  return result;
}

}  // namespace dunvelt::doctor
