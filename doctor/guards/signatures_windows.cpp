// The signatures' facts: WinVerifyTrust's answer for every program and DLL of the install, and
// Smart App Control's state.
#include <windows.h>
#include <softpub.h>
#include <wintrust.h>

#include <string>
#include <vector>

#include "files_windows.h"
#include "owners.h"
#include "platform_error.h"
#include "signatures.h"

namespace dunvelt::doctor {
namespace {

// The registry as 64-bit Windows keeps it: this 32-bit program would otherwise read the 32-bit
// view of SOFTWARE. 32-bit Windows ignores it.
constexpr REGSAM NativeView = KEY_WOW64_64KEY;

// The .exe and .dll files in the folder and the folders below it, by their paths relative to the
// install, up to the bound; past it they are counted. A folder that is not there holds none.
void AddProgramFiles(const std::wstring& install, const std::wstring& relative,
                     std::vector<std::wstring>& files, SignatureFacts& facts) {
  WIN32_FIND_DATAW entry;
  const UniqueFind find(FindFirstFileW(Joined(Joined(install, relative), L"*").c_str(), &entry));
  if (!find) {
    const DWORD error = GetLastError();
    if (!IsNotThere(error)) facts.unlistedFolders.push_back({relative, ErrorText(error)});
    return;
  }
  do {
    const std::wstring name = entry.cFileName;
    const std::wstring path = Joined(relative, name);
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      // A junction could lead back up the tree.
      if (name != L"." && name != L".." &&
          (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        AddProgramFiles(install, path, files, facts);
      }
    } else if (HasExtension(name, L".exe") || HasExtension(name, L".dll")) {
      if (files.size() < MostFilesChecked) {
        files.push_back(path);
      } else {
        ++facts.notChecked;
      }
    }
  } while (FindNextFileW(find.get(), &entry) != FALSE);
  const DWORD error = GetLastError();
  if (error != ERROR_NO_MORE_FILES) facts.unlistedFolders.push_back({relative, ErrorText(error)});
}

// WinVerifyTrust on the file's embedded signature, without a look at the network: a revocation
// check or a certificate fetch could hold the doctor for minutes on a machine offline.
std::uint32_t TrustResult(const std::wstring& path, HANDLE file) {
  WINTRUST_FILE_INFO fileInfo{};
  fileInfo.cbStruct = sizeof fileInfo;
  fileInfo.pcwszFilePath = path.c_str();
  fileInfo.hFile = file;
  WINTRUST_DATA data{};
  data.cbStruct = sizeof data;
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &fileInfo;
  data.dwStateAction = WTD_STATEACTION_VERIFY;
  data.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL;
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  const LONG result = WinVerifyTrust(nullptr, &action, &data);
  data.dwStateAction = WTD_STATEACTION_CLOSE;
  WinVerifyTrust(nullptr, &action, &data);
  return static_cast<std::uint32_t>(result);
}

}  // namespace

SignatureFacts SignaturesCheck::Gather(const Install& install) {
  SignatureFacts facts;
  std::vector<std::wstring> files = {LauncherName};
  AddProgramFiles(install.folder, L"bin", files, facts);
  AddProgramFiles(install.folder, L"lib", files, facts);
  for (const std::wstring& relative : files) {
    const std::wstring path = Joined(install.folder, relative);
    const UniqueFileHandle file = OpenToRead(path);
    if (!file) {
      const DWORD error = GetLastError();
      // Gone since it was listed: there is nothing of it to start.
      if (!IsNotThere(error)) facts.files.push_back({relative, ErrorText(error), 0});
      continue;
    }
    facts.files.push_back({relative, L"", TrustResult(path, file.get())});
  }
  facts.smartAppControl = ReadRegistryValue(HKEY_LOCAL_MACHINE, L"HKLM",
                                            L"SYSTEM\\CurrentControlSet\\Control\\CI\\Policy",
                                            L"VerifiedAndReputablePolicyState", NativeView);
  return facts;
}

}  // namespace dunvelt::doctor
