// The zip folder's facts: the user's temporary folder, where Explorer and archivers put what they
// open from a zip.
#include <windows.h>

#include "archive_folder.h"
#include "paths.h"
#include "sized_text.h"

namespace dunvelt::doctor {

ArchiveFolderFacts ArchiveFolderCheck::Gather(const Install& install) {
  ArchiveFolderFacts facts;
  facts.installFolder = install.folder;
  const std::wstring temporary =
      SizedText([](wchar_t* buffer, DWORD capacity) { return GetTempPathW(capacity, buffer); });
  if (!temporary.empty()) facts.temporaryFolders = {temporary, CanonicalPath(temporary)};
  return facts;
}

}  // namespace dunvelt::doctor
