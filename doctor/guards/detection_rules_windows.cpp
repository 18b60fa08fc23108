// The detection rules' facts: the runtime's bin\jli.dll, its full path, its signature and its
// version resource.
#include <windows.h>
#include <softpub.h>
#include <wintrust.h>

#include <string>
#include <string_view>
#include <vector>

#include "detection_rules.h"
#include "files_windows.h"
#include "owners.h"
#include "platform_error.h"
#include "signatures.h"

namespace dunvelt::doctor {
namespace {

// The path as Windows resolves the open file: junctions, links and substituted drives undone, as
// Sysmon records an image's load.
std::wstring FinalPath(HANDLE file, const std::wstring& path) {
  std::wstring final(MAX_PATH, L'\0');
  for (int tries = 0; tries < 2; ++tries) {
    const DWORD length =
        GetFinalPathNameByHandleW(file, final.data(), static_cast<DWORD>(final.size()),
                                  FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0) break;
    if (length < final.size()) {
      final.resize(length);
      return final;
    }
    final.assign(length, L'\0');
  }
  constexpr DWORD LongestPath = 32768;  // in characters, with the long-path prefix
  std::wstring full(LongestPath, L'\0');
  const DWORD length =
      GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
  if (length == 0 || length >= full.size()) return path;
  full.resize(length);
  return full;
}

std::uint32_t TrustResult(const std::wstring& path, HANDLE file) {
  WINTRUST_FILE_INFO fileInfo{};
  fileInfo.cbStruct = sizeof fileInfo;
  fileInfo.pcwszFilePath = path.c_str();
  fileInfo.hFile = file;
  WINTRUST_DATA data{};
  data.cbStruct = sizeof data;
  data.dwUIChoice = WTD_UI_NONE;
  // "WINTRUST_DATA structure" on Microsoft Learn: revocation is off only with
  // WTD_REVOCATION_CHECK_NONE in dwProvFlags, and nothing is fetched with the cache-only flag.
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwProvFlags = TrustProviderFlags;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &fileInfo;
  data.dwStateAction = WTD_STATEACTION_VERIFY;
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  const LONG result = WinVerifyTrust(nullptr, &action, &data);
  data.dwStateAction = WTD_STATEACTION_CLOSE;
  WinVerifyTrust(nullptr, &action, &data);
  return static_cast<std::uint32_t>(result);
}

// "0409", as a version resource names its languages and code pages.
std::wstring HexWord(WORD word) {
  constexpr std::wstring_view Digits = L"0123456789ABCDEF";
  constexpr int Nibble = 4;
  constexpr WORD LowNibble = 0x0F;
  std::wstring text;
  for (int shift = 3 * Nibble; shift >= 0; shift -= Nibble) {
    text += Digits[(word >> shift) & LowNibble];
  }
  return text;
}

// The version resource's strings in its first language, as Explorer and Sysmon read them.
void ReadVersion(const std::wstring& path, DetectionFacts& facts) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
  std::vector<BYTE> block(size);
  if (size == 0 || GetFileVersionInfoW(path.c_str(), 0, size, block.data()) == FALSE) {
    // None at all leaves its strings empty.
    const DWORD error = GetLastError();
    if (error != 0 && error != ERROR_RESOURCE_DATA_NOT_FOUND &&
        error != ERROR_RESOURCE_TYPE_NOT_FOUND && error != ERROR_RESOURCE_NAME_NOT_FOUND) {
      facts.versionError = ErrorText(error);
    }
    return;
  }
  struct Translation {
    WORD language;
    WORD codePage;
  };
  Translation* translation = nullptr;
  UINT length = 0;
  std::wstring language = L"040904B0";
  if (VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation",
                     reinterpret_cast<void**>(&translation), &length) != FALSE &&
      length >= sizeof(Translation)) {
    language = HexWord(translation->language) + HexWord(translation->codePage);
  }
  const auto read = [&](const wchar_t* name) {
    wchar_t* value = nullptr;
    UINT chars = 0;
    const std::wstring query = L"\\StringFileInfo\\" + language + L"\\" + name;
    if (VerQueryValueW(block.data(), query.c_str(), reinterpret_cast<void**>(&value), &chars) ==
            FALSE ||
        value == nullptr) {
      return std::wstring();
    }
    std::wstring text(value, chars);
    while (!text.empty() && text.back() == L'\0') text.pop_back();
    return text;
  };
  facts.originalFileName = read(L"OriginalFilename");
  facts.fileDescription = read(L"FileDescription");
  facts.productName = read(L"ProductName");
}

}  // namespace

DetectionFacts DetectionRulesCheck::Gather(const Install& install) {
  DetectionFacts facts;
  const std::wstring path = Joined(install.folder, L"bin\\jli.dll");
  const UniqueFileHandle file = OpenToRead(path);
  if (!file) {
    const DWORD error = GetLastError();
    if (IsNotThere(error)) return facts;
    facts.found = true;
    facts.path = path;
    facts.readError = ErrorText(error);
    return facts;
  }
  facts.found = true;
  facts.path = FinalPath(file.get(), path);
  facts.trustResult = TrustResult(path, file.get());
  ReadVersion(path, facts);
  return facts;
}

}  // namespace dunvelt::doctor
