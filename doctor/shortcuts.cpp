#include "shortcuts.h"

#include <array>

#include "facts_json.h"
#include "text.h"

namespace dunvelt::doctor {

DUNVELT_FACTS_JSON(ShortcutFacts::Link, path, readError, target, startIn, startsInInstallFolder)
DUNVELT_FACTS_JSON(ShortcutFacts::Unlisted, folder, error)
DUNVELT_FACTS_JSON(ShortcutFacts, installFolder, links, unlistedFolders)

// A shortcut's problem is its own: the launch check starts in the install folder, so none stops
// it.
CheckResult ShortcutsCheck::Judge(const ShortcutFacts& facts) {
  const ShortcutFacts& shortcuts = facts;
  CheckResult result;
  Findings& findings = result.findings;
  int good = 0;
  for (const ShortcutFacts::Link& link : shortcuts.links) {
    const Basis basis{{"shortcut", link.path}, {"startIn", link.startIn}};
    if (!link.readError.empty()) {
      findings.push_back(Warning("shortcuts.unreadable",
                                 L"Cannot tell whether the shortcut " + link.path +
                                     L" starts this Dunvelt.exe: it could not be read (" +
                                     link.readError + L").",
                                 {{"shortcut", link.path}}));
    } else if (link.startIn.empty()) {
      findings.push_back(Warning("shortcuts.no-start-in",
                                 L"The shortcut " + link.path +
                                     L" has no \"Start in\" folder, so Windows chooses one: set it"
                                     L" to " +
                                     shortcuts.installFolder + L".",
                                 basis));
    } else if (!link.startsInInstallFolder) {
      findings.push_back(Problem("shortcuts.starts-elsewhere",
                                 L"The shortcut " + link.path + L" starts Dunvelt.exe in " +
                                     Quoted(link.startIn) +
                                     L", where there is no bin\\java.exe: set its \"Start in\""
                                     L" folder to " +
                                     shortcuts.installFolder + L".",
                                 basis));
    } else {
      ++good;
    }
  }
  for (const ShortcutFacts::Unlisted& folder : shortcuts.unlistedFolders) {
    findings.push_back(Warning("shortcuts.folder-unlisted",
                               L"Cannot tell whether the folder " + folder.folder +
                                   L" holds shortcuts to this Dunvelt.exe: it could not be listed"
                                   L" (" +
                                   folder.error + L").",
                               {{"folder", folder.folder}}));
  }
  if (findings.empty()) {
    findings.push_back(Ok("shortcuts.ok",
                          good == 0 ? L"No shortcut in the Start menu, on the desktop or in"
                                      L" Startup points at this Dunvelt.exe."
                                    : std::to_wstring(good) +
                                          L" shortcuts to this Dunvelt.exe start it in the"
                                          L" install folder.",
                          {{"shortcuts", std::int64_t{good}}}));
  }
  return result;
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

}  // namespace dunvelt::doctor
