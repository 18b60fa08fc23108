// The facts of Windows' own guards, as the user's Windows holds them: each file's signature and
// Zone.Identifier stream, Smart App Control's and Defender's settings in the registry, the
// temporary folder, and the blocks that the event logs record. doctor/guards.cpp judges them.
#include <windows.h>
#include <softpub.h>
#include <wintrust.h>
#include <winevt.h>

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "checks.h"
#include "paths.h"
#include "platform_text.h"
#include "unique_handle.h"

namespace dunvelt::doctor {
namespace {

// The registry as 64-bit Windows keeps it: this 32-bit program would otherwise read the 32-bit
// view of SOFTWARE, where neither Defender nor its policies are. 32-bit Windows ignores it.
constexpr REGSAM NativeView = KEY_WOW64_64KEY;
constexpr std::size_t MostStreamBytes = 65536;
constexpr std::size_t MostMarkedDlls = 200;
constexpr std::size_t MostEventBytes = 65536;
constexpr DWORD EventWaitMs = 5000;

std::wstring Joined(const std::wstring& folder, const std::wstring& name) {
  return folder + (folder.empty() || folder.back() == L'\\' ? L"" : L"\\") + name;
}

bool HasExtension(const std::wstring& name, const wchar_t* extension) {
  const std::size_t length = wcslen(extension);
  return name.size() > length &&
         CompareStringOrdinal(name.c_str() + name.size() - length, static_cast<int>(length),
                              extension, static_cast<int>(length), TRUE) == CSTR_EQUAL;
}

bool IsNotThere(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

struct FindCloser {
  void operator()(HANDLE find) const {
    if (find != INVALID_HANDLE_VALUE) FindClose(find);
  }
};
using UniqueFind = std::unique_ptr<void, FindCloser>;

// Shared as Windows shares a program it starts, so that what keeps the doctor from reading a file
// keeps a launch from loading it too.
UniqueHandle OpenToRead(const std::wstring& path) {
  return UniqueHandle(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// --- Signatures ------------------------------------------------------------------------------

// The .exe and .dll files in the folder and the folders below it, by their paths relative to the
// install, up to the bound; past it they are counted. A folder that is not there holds none.
void AddProgramFiles(const std::wstring& install, const std::wstring& relative,
                     std::vector<std::wstring>& files, SignatureFacts& facts) {
  WIN32_FIND_DATAW entry;
  const UniqueFind find(FindFirstFileW(Joined(Joined(install, relative), L"*").c_str(), &entry));
  if (find.get() == INVALID_HANDLE_VALUE) {
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

// A value of the registry's native view as text: a string as it is, a number in decimal. Empty
// when it is not there; `error` says why it could not be read otherwise.
std::wstring ValueText(HKEY root, const wchar_t* key, const wchar_t* name, std::wstring& error) {
  HKEY opened = nullptr;
  LSTATUS status = RegOpenKeyExW(root, key, 0, KEY_QUERY_VALUE | NativeView, &opened);
  if (status != ERROR_SUCCESS) {
    if (!IsNotThere(static_cast<DWORD>(status))) error = ErrorText(static_cast<DWORD>(status));
    return {};
  }
  constexpr DWORD MostBytes = 65536;
  std::vector<BYTE> bytes(MostBytes);
  DWORD size = MostBytes - sizeof(wchar_t);
  DWORD type = 0;
  status = RegQueryValueExW(opened, name, nullptr, &type, bytes.data(), &size);
  RegCloseKey(opened);
  if (status != ERROR_SUCCESS) {
    if (!IsNotThere(static_cast<DWORD>(status))) error = ErrorText(static_cast<DWORD>(status));
    return {};
  }
  if (type == REG_DWORD && size == sizeof(DWORD)) {
    DWORD number = 0;
    std::copy(bytes.begin(), bytes.begin() + sizeof number, reinterpret_cast<BYTE*>(&number));
    return std::to_wstring(number);
  }
  if (type != REG_SZ && type != REG_EXPAND_SZ) {
    error = L"a value of registry type " + std::to_wstring(type) + L", not a number or a text";
    return {};
  }
  std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), size / sizeof(wchar_t));
  while (!text.empty() && text.back() == L'\0') text.pop_back();
  return text;
}

void ReadSmartAppControl(SignatureFacts& facts) {
  std::wstring error;
  const std::wstring value =
      ValueText(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\CI\\Policy",
                L"VerifiedAndReputablePolicyState", error);
  facts.smartAppControlError = error;
  if (value.empty()) return;
  facts.smartAppControlFound = true;
  wchar_t* end = nullptr;
  constexpr int Decimal = 10;
  facts.smartAppControl = static_cast<std::uint32_t>(std::wcstoul(value.c_str(), &end, Decimal));
  if (end == nullptr || *end != L'\0') {
    facts.smartAppControlError = L"\"" + value + L"\" is not a number";
  }
}

SignatureFacts ReadSignatures(const Install& install) {
  SignatureFacts facts;
  std::vector<std::wstring> files = {LauncherName};
  AddProgramFiles(install.folder, L"bin", files, facts);
  AddProgramFiles(install.folder, L"lib", files, facts);
  for (const std::wstring& relative : files) {
    const std::wstring path = Joined(install.folder, relative);
    const UniqueHandle file = OpenToRead(path);
    if (file.get() == INVALID_HANDLE_VALUE) {
      const DWORD error = GetLastError();
      // Gone since it was listed: there is nothing of it to start.
      if (!IsNotThere(error)) facts.files.push_back({relative, ErrorText(error), 0});
      continue;
    }
    facts.files.push_back({relative, L"", TrustResult(path, file.get())});
  }
  ReadSmartAppControl(facts);
  return facts;
}

// --- The mark of the web ---------------------------------------------------------------------

MarkFacts::File ReadMark(const std::wstring& install, const std::wstring& relative) {
  MarkFacts::File mark{relative, false, {}, {}};
  const UniqueHandle stream = OpenToRead(Joined(install, relative) + L":Zone.Identifier");
  if (stream.get() == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    // No stream; or a file system without streams, which keeps no mark.
    if (!IsNotThere(error) && error != ERROR_INVALID_NAME && error != ERROR_INVALID_PARAMETER) {
      mark.readError = ErrorText(error);
    }
    return mark;
  }
  mark.hasStream = true;
  mark.stream.resize(MostStreamBytes);
  DWORD read = 0;
  if (ReadFile(stream.get(), mark.stream.data(), static_cast<DWORD>(mark.stream.size()), &read,
               nullptr) == FALSE) {
    mark.readError = ErrorText(GetLastError());
    read = 0;
  }
  mark.stream.resize(read);
  return mark;
}

MarkFacts ReadMarks(const Install& install) {
  MarkFacts facts;
  facts.installFolder = install.folder;
  std::vector<std::wstring> files = {LauncherName, L"bin\\java.exe"};
  WIN32_FIND_DATAW entry;
  const UniqueFind find(FindFirstFileW(Joined(install.folder, L"bin\\*.dll").c_str(), &entry));
  if (find.get() != INVALID_HANDLE_VALUE) {
    do {
      if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
          HasExtension(entry.cFileName, L".dll")) {
        files.push_back(std::wstring(L"bin\\") + entry.cFileName);
      }
    } while (files.size() < MostMarkedDlls + 2 && FindNextFileW(find.get(), &entry) != FALSE);
  }
  for (const std::wstring& relative : files) {
    MarkFacts::File mark = ReadMark(install.folder, relative);
    if (mark.hasStream || !mark.readError.empty()) facts.files.push_back(std::move(mark));
  }
  return facts;
}

// --- The temporary folder --------------------------------------------------------------------

std::vector<std::wstring> TemporaryFolders() {
  std::wstring temporary(MAX_PATH + 1, L'\0');
  temporary.resize(GetTempPathW(static_cast<DWORD>(temporary.size()), temporary.data()));
  if (temporary.empty()) return {};
  return {temporary, CanonicalPath(temporary)};
}

// --- The event logs --------------------------------------------------------------------------

struct EventCloser {
  void operator()(EVT_HANDLE handle) const {
    if (handle != nullptr) EvtClose(handle);
  }
};
using UniqueEvent = std::unique_ptr<void, EventCloser>;

std::wstring RenderedXml(EVT_HANDLE event) {
  DWORD used = 0;
  DWORD properties = 0;
  EvtRender(nullptr, event, EvtRenderEventXml, 0, nullptr, &used, &properties);
  if (used == 0 || used > MostEventBytes) return {};
  std::wstring xml(used / sizeof(wchar_t) + 1, L'\0');
  const auto bytes = static_cast<DWORD>(xml.size()) * static_cast<DWORD>(sizeof(wchar_t));
  if (EvtRender(nullptr, event, EvtRenderEventXml, bytes, xml.data(), &used, &properties) ==
      FALSE) {
    return {};
  }
  xml.resize(used / sizeof(wchar_t));
  while (!xml.empty() && xml.back() == L'\0') xml.pop_back();
  return xml;
}

// The log's events of the given ids in the last days, newest first, up to the bound.
EventLogFacts::Log ReadLog(const wchar_t* channel, const std::vector<std::uint32_t>& ids) {
  EventLogFacts::Log log{channel, false, {}, {}};
  const std::wstring query = EventQuery(ids);
  const UniqueEvent results(
      EvtQuery(nullptr, channel, query.c_str(), EvtQueryChannelPath | EvtQueryReverseDirection));
  if (results == nullptr) {
    log.error = ErrorText(GetLastError());
    return log;
  }
  constexpr std::size_t Batch = 16;
  while (log.events.size() < MostEventsRead) {
    std::array<EVT_HANDLE, Batch> events{};
    DWORD returned = 0;
    if (EvtNext(results.get(), Batch, events.data(), EventWaitMs, 0, &returned) == FALSE) {
      const DWORD error = GetLastError();
      if (error != ERROR_NO_MORE_ITEMS) {
        log.error = ErrorText(error);
        return log;
      }
      break;
    }
    for (DWORD i = 0; i < returned && i < Batch; ++i) {
      const UniqueEvent event(events.at(i));
      if (log.events.size() < MostEventsRead) log.events.push_back(RenderedXml(event.get()));
    }
  }
  log.read = true;
  return log;
}

EventLogFacts ReadEventLogs(const Install& install) {
  EventLogFacts facts;
  facts.installFolder = CanonicalPath(install.folder);
  facts.logs = {
      ReadLog(L"Microsoft-Windows-CodeIntegrity/Operational",
              {CodeIntegrityBlocked, CodeIntegrityAudited, CodeIntegrityEnforced}),
      ReadLog(L"Microsoft-Windows-Windows Defender/Operational", {DefenderRuleBlocked}),
      ReadLog(L"Microsoft-Windows-AppLocker/EXE and DLL", {AppLockerBlocked, AppLockerPrevented}),
  };
  return facts;
}

// --- Defender's rule against programs of low prevalence --------------------------------------

PrevalenceFacts ReadPrevalenceRule() {
  const wchar_t* const policy =
      L"SOFTWARE\\Policies\\Microsoft\\Windows Defender\\Windows Defender Exploit Guard\\ASR";
  PrevalenceFacts facts;
  // What cannot be read here is read as not set: Defender's own settings are readable by every
  // user, and a policy that a user cannot read is rare enough not to name.
  std::wstring error;
  const std::wstring policySwitch =
      ValueText(HKEY_LOCAL_MACHINE, policy, L"ExploitGuard_ASR_Rules", error);
  facts.policySwitchFound = !policySwitch.empty();
  facts.policySwitch = policySwitch == L"0" ? 0 : 1;
  facts.policyValue = ValueText(HKEY_LOCAL_MACHINE, (std::wstring(policy) + L"\\Rules").c_str(),
                                PrevalenceRule, error);
  facts.managedList = ValueText(HKEY_LOCAL_MACHINE,
                                L"SOFTWARE\\Policies\\Microsoft\\Windows Defender\\Policy Manager",
                                L"ASRRules", error);
  facts.localValue = ValueText(
      HKEY_LOCAL_MACHINE,
      L"SOFTWARE\\Microsoft\\Windows Defender\\Windows Defender Exploit Guard\\ASR\\Rules",
      PrevalenceRule, error);
  return facts;
}

}  // namespace

GuardFindings CheckGuards(const Install& install) {
  GuardFacts facts;
  facts.installFolder = install.folder;
  facts.temporaryFolders = TemporaryFolders();
  facts.signatures = ReadSignatures(install);
  facts.marks = ReadMarks(install);
  facts.prevalence = ReadPrevalenceRule();
  facts.events = ReadEventLogs(install);
  return JudgeGuards(facts);
}

}  // namespace dunvelt::doctor
