// The shortcuts' facts: every .lnk file in the Start menu, on the desktop and in Startup, read
// with the shell's own link object, and those that point at this Dunvelt.exe.
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <array>
#include <set>
#include <string>

#include "files_windows.h"
#include "owners.h"
#include "paths.h"
#include "platform_error.h"
#include "shortcuts.h"
#include "sized_text.h"
#include "text.h"

namespace dunvelt::doctor {
namespace {

// A shortcut's texts are paths, which the shell keeps to MAX_PATH.
constexpr int LinkTextCapacity = MAX_PATH + 1;

std::wstring UpToNull(const std::wstring& text) { return text.substr(0, text.find(L'\0')); }

// The 64-bit Program Files folders, on a 64-bit Windows; empty on a 32-bit one.
struct NativeProgramFiles {
  std::wstring programFiles;
  std::wstring commonProgramFiles;
};

NativeProgramFiles FindNativeProgramFiles() {
  BOOL wow64 = FALSE;
  if (IsWow64Process(GetCurrentProcess(), &wow64) == FALSE || wow64 == FALSE) return {};
  return {EnvironmentVariable(L"ProgramW6432"), EnvironmentVariable(L"CommonProgramW6432")};
}

// A shortcut's stored path as the user's Windows reads it, not as this 32-bit program would.
std::wstring Expanded(const std::wstring& raw, const NativeProgramFiles& native) {
  const std::wstring text =
      WithNativeProgramFiles(raw, native.programFiles, native.commonProgramFiles);
  return SizedText([&](wchar_t* buffer, DWORD capacity) {
    return ExpandEnvironmentStringsW(text.c_str(), buffer, capacity);
  });
}

// The words for a COM error: the platform's, and the error's number as Windows shows it.
std::wstring ComErrorText(HRESULT result) {
  if (HRESULT_FACILITY(result) == FACILITY_WIN32) return ErrorText(HRESULT_CODE(result));
  const std::wstring text = ErrorText(static_cast<DWORD>(result));
  return text.substr(0, text.rfind(L"error ")) + L"error " +
         Hex(static_cast<std::uint32_t>(result));
}

// The shortcuts in the folder, and with `withSubfolders` in the folders below it: the Start menu
// shows those, while the desktop and Startup use only their own. A folder that is not there holds
// none; one that cannot be listed is named.
void AddLinks(const std::wstring& folder, bool withSubfolders, std::set<std::wstring>& links,
              ShortcutFacts& facts) {
  WIN32_FIND_DATAW entry;
  const UniqueFind find(FindFirstFileW((folder + L"\\*").c_str(), &entry));
  if (!find) {
    const DWORD error = GetLastError();
    if (!IsNotThere(error)) facts.unlistedFolders.push_back({folder, ErrorText(error)});
    return;
  }
  do {
    const std::wstring name = entry.cFileName;
    const std::wstring path = folder + L"\\" + name;
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      // A junction could lead back up the tree.
      if (withSubfolders && name != L"." && name != L".." &&
          (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        AddLinks(path, true, links, facts);
      }
    } else if (name.size() > 4 && CompareStringOrdinal(name.c_str() + name.size() - 4, 4, L".lnk",
                                                       4, TRUE) == CSTR_EQUAL) {
      links.insert(path);
    }
  } while (FindNextFileW(find.get(), &entry) != FALSE);
  const DWORD error = GetLastError();
  if (error != ERROR_NO_MORE_FILES) facts.unlistedFolders.push_back({folder, ErrorText(error)});
}

std::wstring KnownFolder(REFKNOWNFOLDERID id) {
  wchar_t* path = nullptr;
  const HRESULT result = SHGetKnownFolderPath(id, 0, nullptr, &path);
  const UniqueCoTaskMemory<wchar_t> owned(path);
  return result == S_OK ? std::wstring(path) : std::wstring();
}

// The file the shortcut's item list names, in full Unicode; empty when it names none.
std::wstring ItemListPath(IShellLinkW& shellLink) {
  PIDLIST_ABSOLUTE items = nullptr;
  const HRESULT result = shellLink.GetIDList(&items);
  const UniqueCoTaskMemory<ITEMIDLIST_ABSOLUTE> owned(items);
  if (result != S_OK || items == nullptr) return {};
  std::wstring path(LinkTextCapacity, L'\0');
  return SHGetPathFromIDListW(items, path.data()) != FALSE ? UpToNull(path) : std::wstring();
}

// The shortcut's target and "Start in" folder, expanded; else link.readError says why it could
// not be read.
void ReadLink(const std::wstring& path, const NativeProgramFiles& native,
              ShortcutFacts::Link& link) {
  link.path = path;
  IShellLinkW* shellLink = nullptr;
  HRESULT result = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                    reinterpret_cast<void**>(&shellLink));
  if (result < 0) {
    link.readError = L"the shell's shortcut object could not be made: " + ComErrorText(result);
    return;
  }
  const ComPointer<IShellLinkW> owned(shellLink);
  IPersistFile* file = nullptr;
  result = shellLink->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file));
  if (result < 0) {
    link.readError = ComErrorText(result);
    return;
  }
  const ComPointer<IPersistFile> persist(file);
  // Loaded only: resolving a link could rewrite it.
  result = persist->Load(path.c_str(), STGM_READ);
  if (result < 0) {
    link.readError = ComErrorText(result);
    return;
  }
  std::wstring raw(LinkTextCapacity, L'\0');
  result = shellLink->GetPath(raw.data(), LinkTextCapacity, nullptr, SLGP_RAWPATH);
  if (result < 0) {
    link.readError = ComErrorText(result);
    return;
  }
  raw = UpToNull(raw);
  // The path GetPath gives may come from the shortcut's code-page copy of it, where a name with
  // characters outside the code page reads as another; the item list keeps every character. A
  // path with variables is the shortcut's own text, which the item list merely resolved once.
  const std::wstring items = raw.find(L'%') == std::wstring::npos ? ItemListPath(*shellLink) : L"";
  link.target = items.empty() ? Expanded(raw, native) : items;
  std::wstring startIn(LinkTextCapacity, L'\0');
  shellLink->GetWorkingDirectory(startIn.data(), LinkTextCapacity);
  link.startIn = Expanded(UpToNull(startIn), native);
}

}  // namespace

ShortcutFacts ShortcutsCheck::Gather(const Install& install) {
  const ComApartment apartment;
  ShortcutFacts facts;
  facts.installFolder = install.folder;
  std::set<std::wstring> links;
  const std::array<std::pair<const KNOWNFOLDERID*, bool>, 6> folders{{
      {&FOLDERID_Programs, true},
      {&FOLDERID_CommonPrograms, true},
      {&FOLDERID_Desktop, false},
      {&FOLDERID_PublicDesktop, false},
      {&FOLDERID_Startup, false},
      {&FOLDERID_CommonStartup, false},
  }};
  for (const auto& [id, withSubfolders] : folders) {
    const std::wstring path = KnownFolder(*id);
    if (!path.empty()) AddLinks(path, withSubfolders, links, facts);
  }
  const std::wstring launcher = CanonicalPath(install.launcher);
  const std::wstring folder = CanonicalPath(install.folder);
  const NativeProgramFiles native = FindNativeProgramFiles();
  for (const std::wstring& path : links) {
    ShortcutFacts::Link link;
    ReadLink(path, native, link);
    if (link.readError.empty() && !SamePath(CanonicalPath(link.target), launcher)) continue;
    link.startsInInstallFolder =
        !link.startIn.empty() && SamePath(CanonicalPath(link.startIn), folder);
    facts.links.push_back(link);
  }
  return facts;
}

}  // namespace dunvelt::doctor
