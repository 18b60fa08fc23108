#include "archive_folder.h"

#include "facts_json.h"
#include "text.h"

namespace dunvelt::doctor {

DUNVELT_FACTS_JSON(ArchiveFolderFacts, installFolder, temporaryFolders)

std::wstring ArchiveTemporaryFolder(const std::wstring& installFolder,
                                    const std::vector<std::wstring>& temporaryFolders) {
  for (std::wstring temporary : temporaryFolders) {
    while (!temporary.empty() && temporary.back() == L'\\') temporary.pop_back();
    if (temporary.empty()) continue;
    const std::wstring start = temporary + L"\\";
    if (installFolder.size() <= start.size() || !StartsWithNoCase(installFolder, start)) continue;
    const std::wstring_view rest = std::wstring_view(installFolder).substr(start.size());
    std::wstring folder(rest.substr(0, rest.find(L'\\')));
    const std::wstring lower = Lower(folder);
    // Explorer numbers its folders for a zip: Temp1_orbisk.zip, Temp2_orbisk.zip, ...
    std::uint32_t number = 0;
    const bool explorer = lower.rfind(L"temp", 0) == 0 &&
                          LeadingNumber(std::wstring_view(lower).substr(4), number) &&
                          lower.find(L'_') != std::wstring::npos &&
                          lower.find_first_not_of(L"0123456789", 4) == lower.find(L'_');
    const bool archiver = lower.rfind(L"rar$ex", 0) == 0 || lower.rfind(L"7zo", 0) == 0 ||
                          (lower.rfind(L"wz", 0) == 0 && lower.size() > 2);
    if (explorer || archiver) return folder;
  }
  return {};
}

CheckResult ArchiveFolderCheck::Judge(const ArchiveFolderFacts& facts) {
  const std::wstring folder = ArchiveTemporaryFolder(facts.installFolder, facts.temporaryFolders);
  if (folder.empty()) return {};
  return {{Problem("guards.zip-folder",
                   L"The install folder is inside " + Quoted(folder) +
                       L", a temporary folder where Explorer or an archiver puts what it opens"
                       L" from a zip without extracting it: the application's other files may"
                       L" not be there, and the folder goes when the zip is closed. Extract all"
                       L" first: in Explorer, right-click the zip and choose \"Extract All...\","
                       L" then run Dunvelt.exe from the extracted folder.",
                   {{"folder", folder}})},
          true,
          {}};
}

}  // namespace dunvelt::doctor
