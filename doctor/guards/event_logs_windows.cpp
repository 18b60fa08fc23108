// The event logs' facts: the blocks of the last days in Code Integrity's, Defender's and
// AppLocker's logs, each rendered as Windows renders it, in XML.
#include <windows.h>
#include <winevt.h>

#include <array>
#include <cstdint>
#include <cwchar>
#include <string>
#include <vector>

#include "event_logs.h"
#include "files_windows.h"
#include "owners.h"
#include "paths.h"
#include "platform_error.h"

namespace dunvelt::doctor {
namespace {

constexpr std::size_t MostEventBytes = 65536;
constexpr DWORD EventWaitMs = 5000;

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

// The log's events of the given ids in the last days, newest first: of the first MostEventsScanned,
// those of the install, up to MostEventsRead. A time-out keeps what came before it.
EventLogFacts::Log ReadLog(const wchar_t* channel, const std::vector<std::uint32_t>& ids,
                           const InstallPlace& place) {
  EventLogFacts::Log log{channel, false, {}, false, 0, false, {}};
  const std::wstring query = EventQuery(ids);
  const UniqueEventLogHandle results(
      EvtQuery(nullptr, channel, query.c_str(), EvtQueryChannelPath | EvtQueryReverseDirection));
  if (results == nullptr) {
    log.error = ErrorText(GetLastError());
    return log;
  }
  log.read = true;
  constexpr std::size_t Batch = 16;
  while (true) {
    if (log.scanned >= MostEventsScanned || log.events.size() >= MostEventsRead) {
      log.bounded = true;
      break;
    }
    std::array<EVT_HANDLE, Batch> events{};
    DWORD returned = 0;
    if (EvtNext(results.get(), Batch, events.data(), EventWaitMs, 0, &returned) == FALSE) {
      const DWORD error = GetLastError();
      if (error != ERROR_NO_MORE_ITEMS) {
        log.error = ErrorText(error);
        log.cut = true;
      }
      break;
    }
    for (DWORD i = 0; i < returned && i < Batch; ++i) {
      const UniqueEventLogHandle event(events.at(i));
      ++log.scanned;
      std::wstring xml = RenderedXml(event.get());
      if (log.events.size() < MostEventsRead && KeepsEvent(xml, place)) {
        log.events.push_back(std::move(xml));
      }
    }
  }
  return log;
}

// "2021-12-27T19:58:05.0166515Z", as the events write their times.
std::wstring TimeText(const FILETIME& time) {
  constexpr std::uint64_t TicksPerSecond = 10000000;
  constexpr std::size_t Longest = 40;
  SYSTEMTIME utc{};
  if (FileTimeToSystemTime(&time, &utc) == FALSE) return {};
  const std::uint64_t ticks =
      (static_cast<std::uint64_t>(time.dwHighDateTime) << 32U) | time.dwLowDateTime;
  std::array<wchar_t, Longest> text{};
  swprintf(text.data(), text.size(), L"%04u-%02u-%02uT%02u:%02u:%02u.%07uZ", utc.wYear, utc.wMonth,
           utc.wDay, utc.wHour, utc.wMinute, utc.wSecond,
           static_cast<unsigned>(ticks % TicksPerSecond));
  return text.data();
}

// The device that the install's drive letter stands for, "\Device\HarddiskVolume3"; for a share,
// the redirector's.
std::wstring VolumeDevice(const std::wstring& folder) {
  if (folder.size() > 2 && folder[0] == L'\\' && folder[1] == L'\\') return L"\\Device\\Mup";
  if (folder.size() < 2 || folder[1] != L':') return {};
  const std::wstring drive = folder.substr(0, 2);
  std::array<wchar_t, MAX_PATH> target{};
  if (QueryDosDeviceW(drive.c_str(), target.data(), static_cast<DWORD>(target.size())) == 0) {
    return {};
  }
  return target.data();
}

}  // namespace

EventLogFacts EventLogsCheck::Gather(const Install& install) {
  EventLogFacts facts;
  facts.installFolder = CanonicalPath(install.folder);
  facts.volumeDevice = VolumeDevice(facts.installFolder);
  std::array<wchar_t, MAX_PATH> windows{};
  const UINT length = GetWindowsDirectoryW(windows.data(), static_cast<UINT>(windows.size()));
  if (length >= 2 && length < windows.size() && windows[1] == L':') {
    facts.systemDrive = std::wstring(windows.data(), 2);
  }
  const InstallPlace place = PlaceOf(facts);
  // AppLocker logs scripts and installers apart from programs and DLLs: 8006 and 8007 are the
  // "MSI and Script" log's ("Using Event Viewer with AppLocker" on Microsoft Learn).
  facts.logs = {
      ReadLog(L"Microsoft-Windows-CodeIntegrity/Operational",
              {CodeIntegrityBlocked, CodeIntegrityWouldBlock, CodeIntegrityAudited,
               CodeIntegrityEnforced},
              place),
      ReadLog(L"Microsoft-Windows-Windows Defender/Operational",
              {DefenderRuleBlocked, DefenderRuleAudited}, place),
      ReadLog(L"Microsoft-Windows-AppLocker/EXE and DLL", {AppLockerAudited, AppLockerBlocked},
              place),
      ReadLog(L"Microsoft-Windows-AppLocker/MSI and Script",
              {AppLockerScriptAudited, AppLockerPrevented}, place),
  };
  for (const std::wstring& relative : FilesNamed(facts)) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (GetFileAttributesExW(Joined(facts.installFolder, relative).c_str(), GetFileExInfoStandard,
                             &data) != FALSE) {
      facts.files.push_back({relative, TimeText(data.ftLastWriteTime)});
    }
  }
  return facts;
}

}  // namespace dunvelt::doctor
