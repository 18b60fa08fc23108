// A zip opened without extracting it: Explorer and archivers run what a user double-clicks in
// one from a temporary folder that holds that one file, with no bin beside it. Portable; its
// facts are gathered in archive_folder_windows.cpp.
#pragma once

#include <string>
#include <vector>

#include "facts_json_fwd.h"
#include "finding.h"
#include "install.h"

namespace dunvelt::doctor {

// The temporary folder that Explorer or an archiver made for a zip opened without extracting it,
// and that holds the install: "Temp1_orbisk.zip" (Explorer), "Rar$EXa1234.5678" (WinRAR),
// "7zO1A2B3C4D" (7-Zip), or "wz" and hexadecimal digits, likely WinZip's, whose naming no
// documentation gives; an empty folder when it is in none.
struct ArchiveFolder {
  std::wstring folder;
  bool explorer = false;  // Explorer's view of a zip
  bool likely = false;    // named as an archiver's may be, not as it surely is
};
ArchiveFolder ArchiveTemporaryFolder(const std::wstring& installFolder,
                                     const std::vector<std::wstring>& temporaryFolders);

struct ArchiveFolderFacts {
  std::wstring installFolder;
  std::vector<std::wstring> temporaryFolders;  // the user's, as Windows spells it, and in full
  bool launcherThere = true;                   // the install folder holds Dunvelt.exe
};

DUNVELT_FACTS_JSON_DECLARE(ArchiveFolderFacts)

struct ArchiveFolderCheck {
  static constexpr const char* Id = "guards.zip-folder";
  static constexpr const wchar_t* Title = L"A zip's temporary folder";
  using Facts = ArchiveFolderFacts;
  static Facts Gather(const Install& install);
  static CheckResult Judge(const Facts& facts);
};

// Whether the folder lies in a zip's temporary folder of the user's: where the doctor itself was
// double-clicked in a zip's view, and so has no Dunvelt.exe beside it, the check says so. Windows
// only.
bool InArchiveTemporaryFolder(const std::wstring& folder);

}  // namespace dunvelt::doctor
