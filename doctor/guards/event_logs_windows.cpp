// The event logs' facts: the blocks of the last days in Code Integrity's, Defender's and
// AppLocker's logs, each rendered as Windows renders it, in XML.
#include <windows.h>
#include <winevt.h>

#include <array>
#include <string>
#include <vector>

#include "event_logs.h"
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

// The log's events of the given ids in the last days, newest first, up to the bound.
EventLogFacts::Log ReadLog(const wchar_t* channel, const std::vector<std::uint32_t>& ids) {
  EventLogFacts::Log log{channel, false, {}, {}};
  const std::wstring query = EventQuery(ids);
  const UniqueEventLogHandle results(
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
      const UniqueEventLogHandle event(events.at(i));
      if (log.events.size() < MostEventsRead) log.events.push_back(RenderedXml(event.get()));
    }
  }
  log.read = true;
  return log;
}

}  // namespace

EventLogFacts EventLogsCheck::Gather(const Install& install) {
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

}  // namespace dunvelt::doctor
