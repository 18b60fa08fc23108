#include "checks.h"

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <array>
#include <memory>
#include <set>
#include <vector>

#include "launch_parameters.h"
#include "paths.h"
#include "platform_text.h"
#include "unique_handle.h"

namespace dunvelt::doctor {
namespace {

// --- The runtime -----------------------------------------------------------------------------

// The machine a PE file is built for; 0 when the file is no PE image.
std::uint16_t ImageMachine(const std::wstring& path) {
  const UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file.get() == INVALID_HANDLE_VALUE) return 0;
  IMAGE_DOS_HEADER dos{};
  DWORD read = 0;
  if (ReadFile(file.get(), &dos, sizeof dos, &read, nullptr) == FALSE || read != sizeof dos ||
      dos.e_magic != IMAGE_DOS_SIGNATURE || dos.e_lfanew <= 0) {
    return 0;
  }
  struct {
    DWORD signature;
    IMAGE_FILE_HEADER header;
  } nt{};
  if (SetFilePointer(file.get(), dos.e_lfanew, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER ||
      ReadFile(file.get(), &nt, sizeof nt, &read, nullptr) == FALSE || read != sizeof nt ||
      nt.signature != IMAGE_NT_SIGNATURE) {
    return 0;
  }
  return nt.header.Machine;
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

std::wstring Expanded(const std::wstring& text) {
  std::wstring expanded(ExpandEnvironmentStringsW(text.c_str(), nullptr, 0), L'\0');
  expanded.resize(ExpandEnvironmentStringsW(text.c_str(), expanded.data(),
                                            static_cast<DWORD>(expanded.size())));
  while (!expanded.empty() && expanded.back() == L'\0') expanded.pop_back();
  return expanded;
}

// The shortcuts in the folder, and with `withSubfolders` in the folders below it: the Start menu
// shows those, while the desktop and Startup use only their own.
void AddLinks(const std::wstring& folder, bool withSubfolders, std::set<std::wstring>& links) {
  WIN32_FIND_DATAW entry;
  const HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    const std::wstring name = entry.cFileName;
    const std::wstring path = folder + L"\\" + name;
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      // A junction could lead back up the tree.
      if (withSubfolders && name != L"." && name != L".." &&
          (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        AddLinks(path, true, links);
      }
    } else if (name.size() > 4 && CompareStringOrdinal(name.c_str() + name.size() - 4, 4, L".lnk",
                                                       4, TRUE) == CSTR_EQUAL) {
      links.insert(path);
    }
  } while (FindNextFileW(find, &entry) != FALSE);
  FindClose(find);
}

std::wstring KnownFolder(REFKNOWNFOLDERID id) {
  wchar_t* path = nullptr;
  std::wstring folder;
  if (SHGetKnownFolderPath(id, 0, nullptr, &path) == S_OK) folder = path;
  CoTaskMemFree(path);
  return folder;
}

struct Link {
  std::wstring target;
  std::wstring startIn;
};

bool ReadLink(const std::wstring& path, Link& link) {
  IShellLinkW* shellLink = nullptr;
  if (CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                       reinterpret_cast<void**>(&shellLink)) < 0) {
    return false;
  }
  const ComPointer<IShellLinkW> owned(shellLink);
  IPersistFile* file = nullptr;
  if (shellLink->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)) < 0) {
    return false;
  }
  const ComPointer<IPersistFile> persist(file);
  // Loaded only: resolving a link could rewrite it.
  if (persist->Load(path.c_str(), STGM_READ) < 0) return false;
  std::wstring target(LinkTextCapacity, L'\0');
  if (shellLink->GetPath(target.data(), LinkTextCapacity, nullptr, SLGP_RAWPATH) != S_OK) {
    return false;
  }
  std::wstring startIn(LinkTextCapacity, L'\0');
  shellLink->GetWorkingDirectory(startIn.data(), LinkTextCapacity);
  link.target = Expanded(UpToNull(target));
  link.startIn = Expanded(UpToNull(startIn));
  return true;
}

}  // namespace

Findings CheckFolder(const Install& install) {
  if (IsNetworkPath(install.folder)) {
    return {{Verdict::Problem,
             L"The install folder " + install.folder +
                 L" is a network path. cmd.exe cannot run in one and falls back to the Windows"
                 L" folder, where there is no bin\\java.exe: install the application on a local"
                 L" drive."}};
  }
  const std::wstring root = install.folder.substr(0, 3);
  if (GetDriveTypeW(root.c_str()) == DRIVE_REMOTE) {
    return {{Verdict::Warning,
             L"The install folder " + install.folder + L" is on the network drive " +
                 root.substr(0, 2) +
                 L". It works while the drive is connected, but Windows may ask before it starts"
                 L" a program from the network, and the drive may be missing when the user signs"
                 L" in: install the application on a local drive."}};
  }
  return {{Verdict::Ok, L"The install folder " + install.folder + L" holds " + LauncherName +
                            L", on a local drive."}};
}

Findings CheckRuntimeImage(const Install& install) {
  const std::wstring runtime = RuntimePath(install);
  const std::wstring name = Wide(JavaRuntimePath);
  const DWORD attributes = GetFileAttributesW(runtime.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    return {{Verdict::Problem, L"There is no " + name +
                                   L" in the install folder. The launcher starts the runtime"
                                   L" by that path: ship the Java runtime with its " +
                                   name + L" (jlink --strip-native-commands leaves it out)."}};
  }
  const std::uint16_t machine =
      (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? 0 : ImageMachine(runtime);
  if (machine == 0) {
    return {{Verdict::Problem, name + L" is not a Windows program: replace it with the Java"
                                      L" runtime's own java.exe."}};
  }
  const std::uint16_t native = NativeMachine();
  if (!CanRun(native, machine)) {
    return {{Verdict::Problem, name + L" is built for " + MachineName(machine) +
                                   L", which this Windows (" + MachineName(native) +
                                   L") cannot run: ship a runtime built for " +
                                   MachineName(native) + L"."}};
  }
  Findings findings{{Verdict::Ok, name + L" is a program for " + MachineName(machine) +
                                      L", which this Windows (" + MachineName(native) +
                                      L") runs."}};
  return findings;
}

Findings CheckShortcuts(const Install& install) {
  const ComApartment apartment;
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
    if (!path.empty()) AddLinks(path, withSubfolders, links);
  }
  const std::wstring launcher = CanonicalPath(install.launcher);
  const std::wstring folder = CanonicalPath(install.folder);
  Findings findings;
  int good = 0;
  for (const std::wstring& path : links) {
    Link link;
    if (!ReadLink(path, link) || !SamePath(CanonicalPath(link.target), launcher)) continue;
    if (link.startIn.empty()) {
      findings.push_back({Verdict::Warning, L"The shortcut " + path +
                                                L" has no \"Start in\" folder, so Windows"
                                                L" chooses one: set it to " +
                                                install.folder + L"."});
    } else if (!SamePath(CanonicalPath(link.startIn), folder)) {
      findings.push_back({Verdict::Problem, L"The shortcut " + path + L" starts Dunvelt.exe in \"" +
                                                link.startIn +
                                                L"\", where there is no bin\\java.exe: set its"
                                                L" \"Start in\" folder to " +
                                                install.folder + L"."});
    } else {
      ++good;
    }
  }
  if (findings.empty()) {
    findings.push_back(
        {Verdict::Ok, good == 0 ? L"No shortcut in the Start menu, on the desktop or in Startup"
                                  L" points at this Dunvelt.exe."
                                : std::to_wstring(good) + L" shortcuts to this Dunvelt.exe start"
                                                          L" it in the install folder."});
  }
  return findings;
}

}  // namespace dunvelt::doctor
