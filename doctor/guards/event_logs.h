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

// Where the install is, as the events name it: its folder, the device name of its volume
// ("\Device\HarddiskVolume3", which Code Integrity writes instead of "C:") and the drive Windows
// runs from (which AppLocker writes as "%OSDRIVE%"); empty when unknown, and then such paths name
// nothing of the install.
struct InstallPlace {
  std::wstring folder;
  std::wstring volumeDevice;
  std::wstring systemDrive;  // "C:"
};

// The path relative to the install folder when a path from an event, "C:\...",
// "\Device\HarddiskVolume3\...", "%OSDRIVE%\..." or "\\?\...", names a file in it; else empty.
std::wstring RelativeIn(std::wstring_view path, const InstallPlace& place);
bool NamesFileIn(std::wstring_view path, const InstallPlace& place);

// What an event says it is about, by the names its log gives the fields.
struct EventSubject {
  std::wstring file;           // the file blocked, or that would have been
  std::wstring process;        // the process that started or loaded it; empty where not logged
  std::wstring parentCommand;  // the process's parent's command line, where Defender logs it
};
EventSubject SubjectOf(const GuardEvent& event);

// Whether the event is the install's: the file lies in the install folder, or the process is one
// of its programs, or it is a cmd.exe that one of them started.
bool IsTheInstalls(const EventSubject& subject, const InstallPlace& place);

// An event's time and a file's, "2021-12-27T19:58:05.0166515Z", in a form that sorts by time;
// empty for any other form.
std::wstring TimeKey(std::wstring_view time);

// How many events a log's query gives the doctor at most, and how many of them, the install's,
// it keeps.
inline constexpr std::size_t MostEventsScanned = 5000;
inline constexpr std::size_t MostEventsRead = 200;  // per log
inline constexpr std::uint32_t EventDays = 7;

// The events that name a block, or one that an audit policy would have made, by their logs.
inline constexpr std::uint32_t CodeIntegrityBlocked = 3033;
inline constexpr std::uint32_t CodeIntegrityWouldBlock = 3034;
inline constexpr std::uint32_t CodeIntegrityAudited = 3076;
inline constexpr std::uint32_t CodeIntegrityEnforced = 3077;
inline constexpr std::uint32_t DefenderRuleBlocked = 1121;
inline constexpr std::uint32_t DefenderRuleAudited = 1122;
inline constexpr std::uint32_t AppLockerAudited = 8003;
inline constexpr std::uint32_t AppLockerBlocked = 8004;
inline constexpr std::uint32_t AppLockerScriptAudited = 8006;
inline constexpr std::uint32_t AppLockerPrevented = 8007;

struct EventLogFacts {
  std::wstring installFolder;
  std::wstring volumeDevice;  // as InstallPlace
  std::wstring systemDrive;
  struct Log {
    std::wstring channel;  // "Microsoft-Windows-CodeIntegrity/Operational"
    bool read = false;
    std::wstring error;                // why it could not be read, or why the read stopped early
    bool cut = false;                  // the read stopped at a time-out, keeping what came before
    std::uint32_t scanned = 0;         // events of the query read
    bool bounded = false;              // the query had more than the doctor reads
    std::vector<std::wstring> events;  // the install's, rendered as XML, newest first
  };
  std::vector<Log> logs;
  // When the install's files that the events name were last written, as TimeKey reads them.
  struct FileTime {
    std::wstring path;  // relative to the install folder
    std::wstring written;
  };
  std::vector<FileTime> files;
};

DUNVELT_FACTS_JSON_DECLARE(EventLogFacts)

InstallPlace PlaceOf(const EventLogFacts& facts);

// Whether the gatherer keeps an event: whether it is the install's.
bool KeepsEvent(const std::wstring& xml, const InstallPlace& place);
// The install's files that the events name, relative to its folder, each once.
std::vector<std::wstring> FilesNamed(const EventLogFacts& facts);

// The XPath query of a log's events of the ids in the last EventDays days.
std::wstring EventQuery(const std::vector<std::uint32_t>& ids);

struct EventLogsCheck {
  static constexpr const char* Id = "guards.event-logs";
  static constexpr const wchar_t* Title = L"Blocks in the event logs";
  using Facts = EventLogFacts;
  static Facts Gather(const Install& install);
  static CheckResult Judge(const Facts& facts);
};

}  // namespace dunvelt::doctor
