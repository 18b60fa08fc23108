// The zip folder's facts: the user's temporary folder, where Explorer and archivers put what they
// open from a zip, and whether the install folder holds a launcher.
#include <windows.h>

#include "archive_folder.h"
#include "files_windows.h"
#include "paths.h"
#include "sized_text.h"

namespace dunvelt::doctor {
namespace {

std::vector<std::wstring> TemporaryFolders() {
  const std::wstring temporary =
      SizedText([](wchar_t* buffer, DWORD capacity) { return GetTempPathW(capacity, buffer); });
  if (temporary.empty()) return {};
  return {temporary, CanonicalPath(temporary)};
}

}  // namespace

ArchiveFolderFacts ArchiveFolderCheck::Gather(const Install& install) {
  ArchiveFolderFacts facts;
  facts.installFolder = install.folder;
  facts.temporaryFolders = TemporaryFolders();
  const DWORD attributes = GetFileAttributesW(Joined(install.folder, LauncherName).c_str());
  facts.launcherThere =
      attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
  return facts;
}

bool InArchiveTemporaryFolder(const std::wstring& folder) {
  return !ArchiveTemporaryFolder(folder, TemporaryFolders()).folder.empty();
}

}  // namespace dunvelt::doctor
