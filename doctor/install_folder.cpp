#include "install_folder.h"

#include "facts_json.h"
#include "interpreter.h"
#include "launch_parameters.h"
#include "text.h"

namespace dunvelt::doctor {

DUNVELT_FACTS_JSON(FolderFacts, path, networkPath, remoteDrive, codePage, outsideCodePage,
                   uncChecks)
DUNVELT_FACTS_JSON(ForeignInterpreterFacts, found)

// "Maximum Path Length Limitation" on Microsoft Learn: relative paths are always limited to a
// total of MAX_PATH characters. The launcher's cmd.exe, which declares no long-path awareness,
// reaches the runtime by bin\java.exe, relative to the install folder; it is the launcher's one
// relative name.
std::size_t LongestFolderForRelativeNames() {
  const std::size_t longestName = JavaRuntimePath.size();
  return MaxPath - 1 - 1 - longestName;  // the terminating null, and the backslash between
}

CheckResult InstallFolderCheck::Judge(const FolderFacts& facts) {
  const FolderFacts& folder = facts;
  CheckResult result;
  Findings& findings = result.findings;
  const Basis path{{"path", folder.path}};
  const RegistryValue* uncAllowed = UncCheckDisabledBy(folder.uncChecks);
  if (folder.networkPath && uncAllowed != nullptr) {
    // The interpreter's check confirms that cmd.exe stays there.
    findings.push_back(Warning(
        "install.network-path-allowed",
        L"The install folder " + folder.path +
            L" is a network path. cmd.exe runs in one only because DisableUNCCheck is set (" +
            uncAllowed->key +
            L"), so the launch can work for this user while the share is reachable; without the"
            L" setting, as for most users, cmd.exe falls back to the Windows folder, and Windows"
            L" may ask before it starts a program from the network: install the application on a"
            L" local drive.",
        {{"path", folder.path}, {"key", uncAllowed->key}}));
  } else if (folder.networkPath) {
    findings.push_back(Problem("install.network-path",
                               L"The install folder " + folder.path +
                                   L" is a network path. cmd.exe cannot run in one and falls back"
                                   L" to the Windows folder, where there is no bin\\java.exe:"
                                   L" install the application on a local drive.",
                               path));
    result.stopsLaunch = true;
    return result;
  }
  if (folder.path.size() > LongestCurrentFolder) {
    const auto length = static_cast<std::int64_t>(folder.path.size());
    findings.push_back(
        Problem("install.path-too-long",
                L"The install folder's path is " + std::to_wstring(length) +
                    L" characters long; Windows starts no program in a folder of more than " +
                    std::to_wstring(LongestCurrentFolder) +
                    L", so Dunvelt.exe and cmd.exe run in another folder, where there is no"
                    L" bin\\java.exe: install the application in a folder with a shorter path.",
                {{"path", folder.path}, {"length", length}}));
    // Trying would only name the same cause twice more, and some platforms fail hard at it.
    findings.push_back(Note("install.probes-left-out",
                            L"Neither bin\\java.exe nor cmd.exe was started in the install"
                            L" folder: its path is too long for any program to start in."));
    result.stopsLaunch = true;
    result.leavesOut = {"runtime.start", "interpreter"};
  }
  const std::size_t reach = LongestFolderForRelativeNames();
  if (folder.path.size() > reach && folder.path.size() <= LongestCurrentFolder) {
    const auto length = static_cast<std::int64_t>(folder.path.size());
    findings.push_back(Problem(
        "install.runtime-path-too-long",
        L"The install folder's path is " + std::to_wstring(length) +
            L" characters long. cmd.exe can run in it, but reaches the runtime by the relative"
            L" bin\\java.exe, and Windows resolves a relative path only while the whole of it"
            L" fits in " +
            std::to_wstring(MaxPath - 1) + L" characters: here it is " +
            std::to_wstring(length + 1 + static_cast<std::int64_t>(JavaRuntimePath.size())) +
            L", so every launch fails to find bin\\java.exe. Install the application in a folder"
            L" of at most " +
            std::to_wstring(reach) + L" characters.",
        {{"path", folder.path},
         {"length", length},
         {"longest", static_cast<std::int64_t>(reach)}}));
    // Started by its full path, past MAX_PATH too, it would fail for the same cause, named twice.
    findings.push_back(Note("install.runtime-left-out",
                            L"bin\\java.exe was not started: its path, from the install folder,"
                            L" is longer than Windows starts a program by."));
    result.stopsLaunch = true;  // the launch could only fail on it
    result.leavesOut = {"runtime.start"};
  }
  if (folder.remoteDrive) {
    findings.push_back(Warning("install.network-drive",
                               L"The install folder " + folder.path + L" is on the network drive " +
                                   folder.path.substr(0, 2) +
                                   L". It works while the drive is connected, but Windows may ask"
                                   L" before it starts a program from the network, and the drive"
                                   L" may be missing when the user signs in: install the"
                                   L" application on a local drive.",
                               path));
  }
  if (!folder.outsideCodePage.empty()) {
    findings.push_back(Warning(
        "install.outside-code-page",
        L"The folder " + Quoted(folder.outsideCodePage) +
            L" in the install folder's path has characters that this Windows' code page (" +
            std::to_wstring(folder.codePage) +
            L") cannot hold. Programs that name files in the code page, as older Java runtimes"
            L" and some programs started by cmd.exe do, cannot reach them, so the runtime may not"
            L" find its own files: if the application fails to start, install it in a folder"
            L" whose path has none of them.",
        {{"name", folder.outsideCodePage}, {"codePage", std::int64_t{folder.codePage}}}));
  }
  if (findings.empty()) {
    findings.push_back(
        Ok("install.folder-ok",
           L"The install folder " + folder.path + L" holds Dunvelt.exe, on a local drive.", path));
  }
  return result;
}

CheckResult ForeignInterpreterCheck::Judge(const ForeignInterpreterFacts& facts) {
  if (facts.found.empty()) return {};
  // Windows looks for a program first in the folder of the program that starts it, then in the
  // current folder, and only then in its own folders: "CreateProcessW function", lpCommandLine,
  // on Microsoft Learn. The launcher asks the shell for a bare "cmd.exe", from the install folder.
  CheckResult result;
  result.findings.push_back(
      Problem("install.foreign-interpreter",
              L"The install folder holds " + Listed(facts.found) +
                  L": the launcher asks the shell for cmd.exe, and Windows takes the one in the"
                  L" launcher's own folder before its own command interpreter, so every launch runs"
                  L" this file instead. Remove it from the install folder; if an installer put it"
                  L" there, have a virus scanner check it.",
              {{"file", facts.found.front()}}));
  // Whatever it is, starting it again would run it again.
  result.stopsLaunch = true;
  return result;
}

}  // namespace dunvelt::doctor
