// The install folder's facts, as Windows holds them.
#include <windows.h>

#include <algorithm>

#include "files_windows.h"
#include "install_folder.h"
#include "owners.h"

namespace dunvelt::doctor {
namespace {

// Whether the code page holds every character of the text as itself, not as a look-alike.
bool CodePageHolds(UINT codePage, const std::wstring& text) {
  // UTF-8 holds every character, and WideCharToMultiByte refuses to be asked about it.
  if (codePage == CP_UTF8 || text.empty()) return true;
  std::string bytes(text.size() * 4, '\0');
  BOOL usedDefault = FALSE;
  const int length = WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, text.data(),
                                         static_cast<int>(text.size()), bytes.data(),
                                         static_cast<int>(bytes.size()), nullptr, &usedDefault);
  // A code page that cannot be asked this way is one of the few that hold every character.
  return length == 0 || usedDefault == FALSE;
}

// The first name on the path that the code page cannot hold, or an empty text.
std::wstring FirstNameOutside(UINT codePage, const std::wstring& path) {
  for (std::size_t start = 0; start < path.size();) {
    const std::size_t end = std::min(path.find(L'\\', start), path.size());
    std::wstring name = path.substr(start, end - start);
    if (!CodePageHolds(codePage, name)) return name;
    start = end + 1;
  }
  return {};
}

}  // namespace

FolderFacts InstallFolderCheck::Gather(const Install& install) {
  FolderFacts facts;
  facts.path = install.folder;
  facts.networkPath = IsNetworkPath(install.folder);
  if (facts.networkPath) facts.uncChecks = CommandProcessorValues(L"DisableUNCCheck");
  facts.remoteDrive =
      !facts.networkPath && GetDriveTypeW(install.folder.substr(0, 3).c_str()) == DRIVE_REMOTE;
  facts.codePage = GetACP();
  facts.outsideCodePage = FirstNameOutside(facts.codePage, install.folder);
  return facts;
}

ForeignInterpreterFacts ForeignInterpreterCheck::Gather(const Install& install) {
  ForeignInterpreterFacts facts;
  WIN32_FIND_DATAW entry;
  const UniqueFind find(
      FindFirstFileW(ExtendedLengthPath(Joined(install.folder, L"cmd.exe")).c_str(), &entry));
  if (find && (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    facts.found.emplace_back(entry.cFileName);
  }
  return facts;
}

}  // namespace dunvelt::doctor
