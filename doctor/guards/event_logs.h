// The blocks that Windows' event logs record: Code Integrity (Smart App Control and application
// control policies), Defender's attack surface reduction and AppLocker. Portable; the logs are
// read in event_logs_windows.cpp, and the fuzz targets drive the XML reader here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "facts_json_fwd.h"
#include "finding.h"
#include "install.h"

namespace dunvelt::doctor {

// What the doctor reads of an event, rendered as XML.
struct GuardEvent {
  bool parsed = false;  // it had an event id
  std::uint32_t id = 0;
  std::wstring time;  // System/TimeCreated/@SystemTime, as written
  struct Field {
    std::wstring name;  // a Data element's Name, or the element's own name
    std::wstring value;
  };
  std::vector<Field> fields;  // those of EventData and UserData
};

GuardEvent ParseEventXml(std::wstring_view xml);

// Whether a path from an event, "C:\..." or "\Device\HarddiskVolume3\...", names a file in the
// install folder.
bool NamesFileIn(std::wstring_view path, std::wstring_view installFolder);

inline constexpr std::size_t MostEventsRead = 200;  // per log
inline constexpr std::uint32_t EventDays = 7;

// The events that name a block, or one that an audit policy would have made, by their logs.
inline constexpr std::uint32_t CodeIntegrityBlocked = 3033;
inline constexpr std::uint32_t CodeIntegrityAudited = 3076;
inline constexpr std::uint32_t CodeIntegrityEnforced = 3077;
inline constexpr std::uint32_t DefenderRuleBlocked = 1121;
inline constexpr std::uint32_t AppLockerBlocked = 8004;
inline constexpr std::uint32_t AppLockerPrevented = 8007;

struct EventLogFacts {
  std::wstring installFolder;
  struct Log {
    std::wstring channel;  // "Microsoft-Windows-CodeIntegrity/Operational"
    bool read = false;
    std::wstring error;                // why it could not be read, in the platform's words
    std::vector<std::wstring> events;  // rendered as XML, newest first, up to MostEventsRead
  };
  std::vector<Log> logs;
};

DUNVELT_FACTS_JSON_DECLARE(EventLogFacts)

// The XPath query of a log's blocks in the last EventDays days.
std::wstring EventQuery(const std::vector<std::uint32_t>& ids);

struct EventLogsCheck {
  static constexpr const char* Id = "guards.event-logs";
  static constexpr const wchar_t* Title = L"Blocks in the event logs";
  using Facts = EventLogFacts;
  static Facts Gather(const Install& install);
  static CheckResult Judge(const Facts& facts);
};

}  // namespace dunvelt::doctor
