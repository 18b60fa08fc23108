#include "checks.h"

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <algorithm>
#include <array>
#include <cwchar>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "paths.h"
#include "platform_text.h"
#include "unique_handle.h"

namespace dunvelt::doctor {
namespace {

// --- The install folder ----------------------------------------------------------------------

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

// --- The runtime -----------------------------------------------------------------------------

bool IsNotThere(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// The machine a PE file is built for, 0 when the file is no PE image; with the error that stopped
// its reading, if one did.
std::uint16_t ImageMachine(const std::wstring& path, DWORD& error) {
  // Shared as Windows shares a program it starts, so that what keeps the doctor from reading it
  // keeps a launch from starting it too.
  const UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file.get() == INVALID_HANDLE_VALUE) {
    error = GetLastError();
    return 0;
  }
  IMAGE_DOS_HEADER dos{};
  DWORD read = 0;
  if (ReadFile(file.get(), &dos, sizeof dos, &read, nullptr) == FALSE) {
    error = GetLastError();
    return 0;
  }
  if (read != sizeof dos || dos.e_magic != IMAGE_DOS_SIGNATURE || dos.e_lfanew <= 0) return 0;
  struct {
    DWORD signature;
    IMAGE_FILE_HEADER header;
  } nt{};
  if (SetFilePointer(file.get(), dos.e_lfanew, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER ||
      ReadFile(file.get(), &nt, sizeof nt, &read, nullptr) == FALSE) {
    error = GetLastError();
    return 0;
  }
  if (read != sizeof nt || nt.signature != IMAGE_NT_SIGNATURE) return 0;
  return nt.header.Machine;
}

// The build of Windows, from the kernel itself: GetVersionEx gives what the manifest claims to
// know, not what runs. 0 when it cannot be read.
std::uint32_t WindowsBuild() {
  using RtlGetVersionFunction = LONG(WINAPI*)(OSVERSIONINFOW*);
  const auto rtlGetVersion = reinterpret_cast<RtlGetVersionFunction>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion")));
  OSVERSIONINFOW version{};
  version.dwOSVersionInfoSize = sizeof version;
  if (rtlGetVersion == nullptr || rtlGetVersion(&version) != 0) return 0;
  return version.dwBuildNumber;
}

// The machine Windows itself runs on, whatever this 32-bit program runs as.
std::uint16_t NativeMachine() {
  using IsWow64Process2Function = BOOL(WINAPI*)(HANDLE, USHORT*, USHORT*);
  // Windows 10 1709 and later; it alone tells ARM64 that emulates x64.
  const auto isWow64Process2 = reinterpret_cast<IsWow64Process2Function>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "IsWow64Process2")));
  USHORT process = 0;
  USHORT native = 0;
  if (isWow64Process2 != nullptr && isWow64Process2(GetCurrentProcess(), &process, &native) != 0) {
    return native;
  }
  SYSTEM_INFO system{};
  GetNativeSystemInfo(&system);
  switch (system.wProcessorArchitecture) {
    case PROCESSOR_ARCHITECTURE_AMD64:
      return MachineAmd64;
    case PROCESSOR_ARCHITECTURE_ARM64:
      return MachineArm64;
    case PROCESSOR_ARCHITECTURE_ARM:
      return MachineArm;
    default:
      return MachineI386;
  }
}

// --- The shortcuts ---------------------------------------------------------------------------

template <typename Interface>
struct Releaser {
  void operator()(Interface* object) const { object->Release(); }
};
template <typename Interface>
using ComPointer = std::unique_ptr<Interface, Releaser<Interface>>;

// The thread's COM apartment, for the shell's link objects; released when it was made.
class ComApartment {
 public:
  ComApartment() : initialized_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED) >= 0) {}
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;
  ~ComApartment() {
    if (initialized_) CoUninitialize();
  }

 private:
  bool initialized_;
};

// A shortcut's texts are paths, which the shell keeps to MAX_PATH.
constexpr int LinkTextCapacity = MAX_PATH + 1;

std::wstring UpToNull(const std::wstring& text) { return text.substr(0, text.find(L'\0')); }

std::wstring Variable(const wchar_t* name) {
  std::wstring value(GetEnvironmentVariableW(name, nullptr, 0), L'\0');
  value.resize(GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size())));
  return value;
}

// The 64-bit Program Files folders, on a 64-bit Windows; empty on a 32-bit one.
struct NativeProgramFiles {
  std::wstring programFiles;
  std::wstring commonProgramFiles;
};

NativeProgramFiles FindNativeProgramFiles() {
  BOOL wow64 = FALSE;
  if (IsWow64Process(GetCurrentProcess(), &wow64) == FALSE || wow64 == FALSE) return {};
  return {Variable(L"ProgramW6432"), Variable(L"CommonProgramW6432")};
}

// A shortcut's stored path as the user's Windows reads it, not as this 32-bit program would.
std::wstring Expanded(const std::wstring& raw, const NativeProgramFiles& native) {
  const std::wstring text =
      WithNativeProgramFiles(raw, native.programFiles, native.commonProgramFiles);
  std::wstring expanded(ExpandEnvironmentStringsW(text.c_str(), nullptr, 0), L'\0');
  expanded.resize(ExpandEnvironmentStringsW(text.c_str(), expanded.data(),
                                            static_cast<DWORD>(expanded.size())));
  while (!expanded.empty() && expanded.back() == L'\0') expanded.pop_back();
  return expanded;
}

// The words for a COM error: the platform's, and the error's number as Windows shows it.
std::wstring ComErrorText(HRESULT result) {
  if (HRESULT_FACILITY(result) == FACILITY_WIN32) return ErrorText(HRESULT_CODE(result));
  constexpr std::size_t HexDigits = 8;
  std::array<wchar_t, HexDigits + 3> number{};  // "0x", the digits and the null
  swprintf(number.data(), number.size(), L"0x%08lX", static_cast<unsigned long>(result));
  std::wstring text = ErrorText(static_cast<DWORD>(result));
  return text.substr(0, text.rfind(L"error ")) + L"error " + number.data();
}

struct FindCloser {
  void operator()(HANDLE find) const {
    if (find != INVALID_HANDLE_VALUE) FindClose(find);
  }
};

// The shortcuts in the folder, and with `withSubfolders` in the folders below it: the Start menu
// shows those, while the desktop and Startup use only their own. A folder that is not there holds
// none; one that cannot be listed is named.
void AddLinks(const std::wstring& folder, bool withSubfolders, std::set<std::wstring>& links,
              ShortcutFacts& facts) {
  WIN32_FIND_DATAW entry;
  const std::unique_ptr<void, FindCloser> find(FindFirstFileW((folder + L"\\*").c_str(), &entry));
  if (find.get() == INVALID_HANDLE_VALUE) {
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
  std::wstring folder;
  if (SHGetKnownFolderPath(id, 0, nullptr, &path) == S_OK) folder = path;
  CoTaskMemFree(path);
  return folder;
}

// The file the shortcut's item list names, in full Unicode; empty when it names none.
std::wstring ItemListPath(IShellLinkW& shellLink) {
  PIDLIST_ABSOLUTE items = nullptr;
  if (shellLink.GetIDList(&items) != S_OK || items == nullptr) return {};
  std::wstring path(LinkTextCapacity, L'\0');
  const bool named = SHGetPathFromIDListW(items, path.data()) != FALSE;
  CoTaskMemFree(items);
  return named ? UpToNull(path) : std::wstring();
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

Findings CheckFolder(const Install& install) {
  FolderFacts facts;
  facts.path = install.folder;
  facts.networkPath = IsNetworkPath(install.folder);
  facts.remoteDrive =
      !facts.networkPath && GetDriveTypeW(install.folder.substr(0, 3).c_str()) == DRIVE_REMOTE;
  facts.codePage = GetACP();
  facts.outsideCodePage = FirstNameOutside(facts.codePage, install.folder);
  return JudgeFolder(facts);
}

Findings CheckRuntimeImage(const Install& install) {
  const std::wstring runtime = RuntimePath(install);
  RuntimeImageFacts facts;
  const DWORD attributes = GetFileAttributesW(runtime.c_str());
  DWORD error = attributes == INVALID_FILE_ATTRIBUTES ? GetLastError() : ERROR_SUCCESS;
  facts.exists = !IsNotThere(error);
  facts.isFolder =
      attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  if (attributes != INVALID_FILE_ATTRIBUTES && !facts.isFolder) {
    facts.machine = ImageMachine(runtime, error);
    // Found a moment ago, gone now: it is not there either way.
    if (IsNotThere(error)) facts.exists = false;
  }
  if (facts.exists && error != ERROR_SUCCESS) {
    facts.readError = error;
    facts.readErrorText = ErrorText(error);
  }
  facts.nativeMachine = NativeMachine();
  facts.windowsBuild = WindowsBuild();
  return JudgeRuntimeImage(facts);
}

Findings CheckShortcuts(const Install& install) {
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
  return JudgeShortcuts(facts);
}

}  // namespace dunvelt::doctor
