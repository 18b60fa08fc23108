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

// The folder of the temporary folder (one spelling of it each) that Explorer or an archiver made
// for a zip opened without extracting it, and that holds the install: "Temp1_orbisk.zip",
// "Rar$EXa1234.5678", "7zO1A2B3C4D" or "wz1234"; empty when it is not in one.
std::wstring ArchiveTemporaryFolder(const std::wstring& installFolder,
                                    const std::vector<std::wstring>& temporaryFolders);

struct ArchiveFolderFacts {
  std::wstring installFolder;
  std::vector<std::wstring> temporaryFolders;  // the user's, as Windows spells it, and in full
};

DUNVELT_FACTS_JSON_DECLARE(ArchiveFolderFacts)

struct ArchiveFolderCheck {
  static constexpr const char* Id = "guards.zip-folder";
  static constexpr const wchar_t* Title = L"A zip's temporary folder";
  using Facts = ArchiveFolderFacts;
  static Facts Gather(const Install& install);
  static CheckResult Judge(const Facts& facts);
};

}  // namespace dunvelt::doctor
