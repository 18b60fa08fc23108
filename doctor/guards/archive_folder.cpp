#include "archive_folder.h"

#include "facts_json.h"
#include "text.h"

namespace dunvelt::doctor {

DUNVELT_FACTS_JSON(ArchiveFolderFacts, installFolder, temporaryFolders, launcherThere)

namespace {

bool AllOf(std::wstring_view text, std::wstring_view characters) {
  return !text.empty() && text.find_first_not_of(characters) == std::wstring_view::npos;
}

constexpr std::wstring_view Hexadecimal = L"0123456789abcdef";
constexpr std::wstring_view Digits = L"0123456789";

// Every check that needs an install, which a zip's view without one leaves out.
const std::vector<std::string>& InstallChecks() {
  static const std::vector<std::string> checks{"install.folder",
                                               "install.foreign-interpreter",
                                               "runtime.image",
                                               "runtime.start",
                                               "interpreter",
                                               "shortcuts",
                                               "guards.detection-rules",
                                               "guards.signatures",
                                               "guards.mark-of-the-web",
                                               "guards.prevalence-rule",
                                               "launch",
                                               "guards.event-logs"};
  return checks;
}

}  // namespace

ArchiveFolder ArchiveTemporaryFolder(const std::wstring& installFolder,
                                     const std::vector<std::wstring>& temporaryFolders) {
  for (std::wstring temporary : temporaryFolders) {
    while (!temporary.empty() && temporary.back() == L'\\') temporary.pop_back();
    if (temporary.empty()) continue;
    const std::wstring start = temporary + L"\\";
    if (installFolder.size() <= start.size() || !StartsWithNoCase(installFolder, start)) continue;
    const std::wstring_view rest = std::wstring_view(installFolder).substr(start.size());
    std::wstring folder(rest.substr(0, rest.find(L'\\')));
    const std::wstring lower = Lower(folder);
    const std::wstring_view name = lower;
    // Explorer numbers its folders for a zip: Temp1_orbisk.zip, Temp2_orbisk.zip, ...
    const std::size_t underscore = name.find(L'_');
    const bool explorer = name.rfind(L"temp", 0) == 0 && underscore != std::wstring_view::npos &&
                          AllOf(name.substr(4, underscore - 4), Digits) &&
                          underscore + 1 < name.size();
    const bool archiver = name.rfind(L"rar$ex", 0) == 0 || name.rfind(L"7zo", 0) == 0;
    const bool winzip = name.rfind(L"wz", 0) == 0 && AllOf(name.substr(2), Hexadecimal);
    if (explorer || archiver || winzip) return {folder, explorer, winzip};
  }
  return {};
}

CheckResult ArchiveFolderCheck::Judge(const ArchiveFolderFacts& facts) {
  const ArchiveFolder found = ArchiveTemporaryFolder(facts.installFolder, facts.temporaryFolders);
  const std::wstring& folder = found.folder;
  if (folder.empty()) return {};
  const std::wstring extract =
      L" Extract all first: in Explorer, right-click the zip and choose \"Extract All...\", then"
      L" run Dunvelt.exe from the extracted folder.";
  if (!facts.launcherThere) {
    // Explorer extracts only the file double-clicked in its view of a zip: the doctor alone.
    const std::wstring zip = found.explorer ? folder.substr(folder.find(L'_') + 1) : folder;
    return {{Problem("guards.zip-view",
                     L"The doctor runs from " +
                         std::wstring(found.explorer ? L"Explorer's view of the zip " : L"") +
                         Quoted(zip) + L" (the temporary folder " + Quoted(folder) +
                         L"), not from an install: only the doctor was taken out of the zip, so"
                         L" there is no Dunvelt.exe beside it to check." +
                         extract + L" The doctor is in the same folder.",
                     {{"folder", folder}})},
            true,
            InstallChecks()};
  }
  if (found.likely) {
    return {{Warning("guards.zip-folder",
                     L"The install folder is inside " + Quoted(folder) +
                         L", likely a temporary folder where WinZip puts what it opens from a"
                         L" zip without extracting it: the application's other files may not be"
                         L" there, and the folder goes when the zip is closed." +
                         extract,
                     {{"folder", folder}, {"likely", true}})},
            false,
            {}};
  }
  return {{Problem("guards.zip-folder",
                   L"The install folder is inside " + Quoted(folder) +
                       L", a temporary folder where Explorer or an archiver puts what it opens"
                       L" from a zip without extracting it: the application's other files may"
                       L" not be there, and the folder goes when the zip is closed." +
                       extract,
                   {{"folder", folder}})},
          true,
          {}};
}

}  // namespace dunvelt::doctor
