#include "event_logs.h"

#include <algorithm>
#include <cwctype>
#include <initializer_list>
#include <map>
#include <utility>

#include "facts_json.h"
#include "text.h"

namespace dunvelt::doctor {

DUNVELT_FACTS_JSON(EventLogFacts::Log, channel, read, error, cut, scanned, bounded, events)
DUNVELT_FACTS_JSON(EventLogFacts::FileTime, path, written)
DUNVELT_FACTS_JSON(EventLogFacts, installFolder, volumeDevice, systemDrive, logs, files)

namespace {

bool HasDrive(std::wstring_view path) {
  return path.size() >= 2 && std::iswalpha(path[0]) != 0 && path[1] == L':';
}

// The path as a Win32 path, "C:\a" or "\\server\share\a", from the forms that the logs write;
// empty where the doctor cannot tell which volume it is on.
std::wstring Win32Path(std::wstring_view path, const InstallPlace& place) {
  path = Trimmed(path);
  for (const std::wstring_view prefix : {L"\\\\?\\UNC\\", L"\\??\\UNC\\"}) {
    if (StartsWithNoCase(path, prefix)) return L"\\" + std::wstring(path.substr(prefix.size() - 1));
  }
  for (const std::wstring_view prefix : {L"\\\\?\\", L"\\??\\"}) {
    if (StartsWithNoCase(path, prefix)) path.remove_prefix(prefix.size());
  }
  // AppLocker names the drive Windows runs from so, and upper-cases the rest.
  constexpr std::wstring_view OsDrive = L"%OSDRIVE%\\";
  if (StartsWithNoCase(path, OsDrive)) {
    if (!HasDrive(place.systemDrive)) return {};
    return place.systemDrive.substr(0, 2) + std::wstring(path.substr(OsDrive.size() - 1));
  }
  constexpr std::wstring_view Mup = L"\\Device\\Mup\\";
  if (StartsWithNoCase(path, Mup)) return L"\\" + std::wstring(path.substr(Mup.size() - 1));
  constexpr std::wstring_view Device = L"\\Device\\";
  if (StartsWithNoCase(path, Device)) {
    // A volume's device names no drive: it is the install's drive only when it is the device
    // that the drive letter stands for.
    const std::size_t end = path.find(L'\\', Device.size());
    if (end == std::wstring_view::npos || place.volumeDevice.empty() || !HasDrive(place.folder) ||
        Lower(path.substr(0, end)) != Lower(place.volumeDevice)) {
      return {};
    }
    return place.folder.substr(0, 2) + std::wstring(path.substr(end));
  }
  if (path.size() >= 3 && HasDrive(path) && path[2] == L'\\') return std::wstring(path);
  if (path.size() > 2 && path[0] == L'\\' && path[1] == L'\\') return std::wstring(path);
  return {};
}

std::wstring FileNameOf(std::wstring_view path) {
  path = Trimmed(path);
  const std::size_t slash = path.find_last_of(L"\\/");
  return Lower(slash == std::wstring_view::npos ? path : path.substr(slash + 1));
}

std::wstring LocalName(std::wstring_view name) {
  const std::size_t colon = name.find(L':');
  return Lower(colon == std::wstring_view::npos ? name : name.substr(colon + 1));
}

// The character that "#123" or "#x7B" stands for.
bool CharacterReference(std::wstring_view entity, char32_t& code) {
  constexpr std::uint32_t Hexadecimal = 16;
  constexpr std::uint32_t Decimal = 10;
  constexpr std::uint32_t Largest = 0x10FFFF;
  if (entity.size() < 2 || entity[0] != L'#') return false;
  const bool hex = entity[1] == L'x' || entity[1] == L'X';
  const std::uint32_t base = hex ? Hexadecimal : Decimal;
  const std::wstring_view digits = entity.substr(hex ? 2 : 1);
  std::uint32_t value = 0;
  for (const wchar_t c : digits) {
    std::uint32_t digit = base;
    if (c >= L'0' && c <= L'9') digit = static_cast<std::uint32_t>(c - L'0');
    if (hex && c >= L'a' && c <= L'f') digit = static_cast<std::uint32_t>(c - L'a') + Decimal;
    if (hex && c >= L'A' && c <= L'F') digit = static_cast<std::uint32_t>(c - L'A') + Decimal;
    if (digit >= base || value > Largest) return false;
    value = value * base + digit;
  }
  code = value;
  return !digits.empty();
}

std::wstring Unescaped(std::wstring_view text) {
  constexpr std::size_t LongestEntity = 10;
  static const std::map<std::wstring_view, wchar_t> entities{
      {L"amp", L'&'}, {L"lt", L'<'}, {L"gt", L'>'}, {L"quot", L'"'}, {L"apos", L'\''}};
  std::wstring plain;
  for (std::size_t i = 0; i < text.size(); ++i) {
    // Looked for only as far as the longest entity reaches, so that a text of many '&' costs
    // no more than one of a few.
    const std::size_t semicolon =
        text[i] == L'&' ? text.substr(i, LongestEntity + 1).find(L';') : std::wstring_view::npos;
    const std::size_t end = semicolon == std::wstring_view::npos ? semicolon : i + semicolon;
    const std::wstring_view entity =
        end == std::wstring_view::npos ? std::wstring_view() : text.substr(i + 1, end - i - 1);
    char32_t code = 0;
    if (const auto named = entities.find(entity); !entity.empty() && named != entities.end()) {
      plain += named->second;
    } else if (CharacterReference(entity, code)) {
      AppendCharacter(plain, code);
    } else {
      plain += text[i];
      continue;
    }
    i = end;
  }
  return plain;
}

struct Element {
  std::wstring name;      // local name, in lower case
  std::wstring nameAttr;  // its Name attribute
};

// A start tag's name and attributes, from the text between '<' and '>'.
// An attribute's value from `i`, just past its '=', quoted or not; `i` moves past it.
std::wstring_view AttributeValue(std::wstring_view tag, std::size_t& i) {
  while (i < tag.size() && IsBlank(tag[i])) ++i;
  if (i < tag.size() && (tag[i] == L'"' || tag[i] == L'\'')) {
    const std::size_t stop = std::min(tag.find(tag[i], i + 1), tag.size());
    const std::wstring_view value = tag.substr(i + 1, stop - i - 1);
    i = stop + 1;
    return value;
  }
  const std::size_t start = i;
  while (i < tag.size() && !IsBlank(tag[i])) ++i;
  return tag.substr(start, i - start);
}

// A start tag's name and attributes, from the text between '<' and '>'.
Element ReadStartTag(std::wstring_view tag, std::wstring& systemTime) {
  std::size_t i = 0;
  while (i < tag.size() && !IsBlank(tag[i]) && tag[i] != L'/') ++i;
  Element element{LocalName(tag.substr(0, i)), {}};
  while (i < tag.size()) {
    while (i < tag.size() && (IsBlank(tag[i]) || tag[i] == L'/')) ++i;
    const std::size_t nameStart = i;
    while (i < tag.size() && tag[i] != L'=' && !IsBlank(tag[i])) ++i;
    const std::wstring name = LocalName(tag.substr(nameStart, i - nameStart));
    while (i < tag.size() && IsBlank(tag[i])) ++i;
    if (i >= tag.size() || tag[i] != L'=') continue;
    ++i;
    const std::wstring_view value = AttributeValue(tag, i);
    if (name == L"name") element.nameAttr = Unescaped(value);
    if (name == L"systemtime" && element.name == L"timecreated") systemTime = Unescaped(value);
  }
  return element;
}

void AddText(const std::vector<Element>& open, std::wstring_view raw, GuardEvent& event) {
  constexpr std::size_t MostFields = 64;
  constexpr std::size_t LongestValue = 4096;
  const std::wstring text = Unescaped(Trimmed(raw));
  if (text.empty() || open.empty()) return;
  const Element& element = open.back();
  const auto inside = [&](const wchar_t* name) {
    return std::any_of(open.begin(), open.end(), [&](const Element& e) { return e.name == name; });
  };
  if (element.name == L"eventid" && inside(L"system")) {
    std::uint32_t id = 0;
    if (!event.parsed && text.find_first_not_of(L"0123456789") == std::wstring::npos &&
        LeadingNumber(text, id)) {
      event.parsed = true;
      event.id = id;
    }
  } else if ((inside(L"eventdata") || inside(L"userdata")) && event.fields.size() < MostFields) {
    const std::wstring& name =
        element.name == L"data" && !element.nameAttr.empty() ? element.nameAttr : element.name;
    event.fields.push_back({name, text.substr(0, LongestValue)});
  }
}

std::wstring EventTime(const std::wstring& time) {
  // 2024-05-01T10:22:13.1234567Z
  constexpr std::size_t DateLength = 10;
  constexpr std::size_t SecondsEnd = 19;
  const bool usual = time.size() >= SecondsEnd && time[4] == L'-' && time[DateLength] == L'T' &&
                     time.back() == L'Z';
  if (!usual) return time.empty() ? L"At an unknown time" : L"On " + Shortened(time);
  return L"On " + time.substr(0, DateLength) + L" " +
         time.substr(DateLength + 1, SecondsEnd - DateLength - 1) + L" UTC";
}

struct EventMeaning {
  Verdict verdict;
  const char* id;
  std::wstring what;    // "Code Integrity blocked"
  std::wstring advice;  // what to do
};

EventMeaning MeaningOf(std::uint32_t id) {
  const std::wstring sign =
      L"sign the install: scripts/sign-install.sh (docs/packaging.md, \"When"
      L" Windows blocks it\").";
  const std::wstring exclude = L"ask the administrator for an exclusion of the install folder.";
  const std::wstring allow =
      L"ask the administrator to allow the install folder in AppLocker's rules.";
  // Each audit event is its block's twin: logged where the policy is set to audit, for what it
  // would block enforced ("Understanding Application Control event IDs", "Attack surface
  // reduction rules reference" and "Using Event Viewer with AppLocker" on Microsoft Learn).
  switch (id) {
    case CodeIntegrityBlocked:
      return {Verdict::Problem, "events.code-integrity-blocked",
              L"Code Integrity kept a file from loading, as it did not meet the signing level"
              L" Windows asks for (Smart App Control or an application control policy)",
              sign};
    case CodeIntegrityWouldBlock:
      return {Verdict::Warning, "events.code-integrity-audited",
              L"Code Integrity let a file load that does not meet the signing level Windows asks"
              L" for, only as its policy audits; enforced, it would be blocked",
              sign};
    case CodeIntegrityEnforced:
      return {Verdict::Problem, "events.policy-blocked",
              L"an application control policy blocked a file", sign};
    case CodeIntegrityAudited:
      return {Verdict::Warning, "events.policy-audited",
              L"an application control policy in audit mode would have blocked a file; enforced,"
              L" it will",
              sign};
    case DefenderRuleBlocked:
      return {Verdict::Problem, "events.asr-blocked",
              L"Defender's attack surface reduction blocked a file", exclude};
    case DefenderRuleAudited:
      return {Verdict::Warning, "events.asr-audited",
              L"Defender's attack surface reduction, in audit mode, would have blocked a file;"
              L" set to block, it will",
              exclude};
    case AppLockerBlocked:
    case AppLockerPrevented:
      return {Verdict::Problem, "events.applocker-blocked", L"AppLocker kept a file from running",
              allow};
    case AppLockerAudited:
    case AppLockerScriptAudited:
      return {Verdict::Warning, "events.applocker-audited",
              L"AppLocker, in audit mode, would have kept a file from running; enforced, it will",
              allow};
    default:
      return {Verdict::Warning, "events.other",
              L"an event " + std::to_wstring(id) + L" named a file",
              L"look it up in the Event Viewer."};
  }
}

// The first field of the names, in that order; empty when there is none.
std::wstring FieldOf(const GuardEvent& event, std::initializer_list<const wchar_t*> names) {
  for (const wchar_t* name : names) {
    for (const GuardEvent::Field& field : event.fields) {
      if (Lower(field.name) == name && !Trimmed(field.value).empty()) return field.value;
    }
  }
  return {};
}

// An event's file as the finding names it: relative to the install when it is one of its files.
std::wstring FileNamed(const std::wstring& path, const InstallPlace& place) {
  const std::wstring relative = RelativeIn(path, place);
  return relative.empty() ? Shortened(Trimmed(path)) : relative;
}

}  // namespace

namespace {

// Where the markup that starts at `lt` ends, for a comment, a processing instruction or a
// declaration; npos for an element's tag or CDATA.
std::size_t SkippedEnd(std::wstring_view xml, std::size_t lt) {
  const std::wstring_view rest = xml.substr(lt);
  if (rest.rfind(L"<![CDATA[", 0) == 0) return std::wstring_view::npos;
  std::wstring_view end;
  if (rest.rfind(L"<!--", 0) == 0) {
    end = L"-->";
  } else if (rest.rfind(L"<?", 0) == 0) {
    end = L"?>";
  } else if (rest.rfind(L"<!", 0) == 0) {
    end = L">";
  } else {
    return std::wstring_view::npos;
  }
  const std::size_t found = xml.find(end, lt + 1);
  return found == std::wstring_view::npos ? xml.size() : found + end.size();
}

// CDATA's text, taken as it is, with no entities in it; returns where it ends.
std::size_t ReadCdata(std::wstring_view xml, std::size_t lt, const std::vector<Element>& open,
                      GuardEvent& event) {
  const std::size_t start = lt + std::wstring_view(L"<![CDATA[").size();
  const std::size_t end = std::min(xml.find(L"]]>", start), xml.size());
  std::wstring escaped;
  for (const wchar_t c : xml.substr(start, end - start)) {
    escaped += c == L'&' ? std::wstring(L"&amp;") : std::wstring(1, c);
  }
  AddText(open, escaped, event);
  return std::min(end + std::wstring_view(L"]]>").size(), xml.size());
}

// A close tag closes its element, and any left open inside it; returns where it ends.
std::size_t ReadCloseTag(std::wstring_view xml, std::size_t lt, std::vector<Element>& open) {
  const std::size_t end = std::min(xml.find(L'>', lt), xml.size());
  const std::wstring name = LocalName(Trimmed(xml.substr(lt + 2, end - lt - 2)));
  const auto match =
      std::find_if(open.rbegin(), open.rend(), [&](const Element& e) { return e.name == name; });
  if (match != open.rend()) open.erase(std::next(match).base(), open.end());
  return std::min(end + 1, xml.size());
}

// A start tag, up to the first '>' outside quotes; returns where it ends.
std::size_t ReadOpenTag(std::wstring_view xml, std::size_t lt, std::vector<Element>& open,
                        std::wstring& systemTime) {
  constexpr std::size_t DeepestNesting = 64;
  std::size_t end = lt + 1;
  wchar_t quote = 0;
  for (; end < xml.size() && (quote != 0 || xml[end] != L'>'); ++end) {
    if (quote == 0 && (xml[end] == L'"' || xml[end] == L'\'')) {
      quote = xml[end];
    } else if (xml[end] == quote) {
      quote = 0;
    }
  }
  const std::wstring_view tag = xml.substr(lt + 1, end - lt - 1);
  if (!tag.empty()) {
    Element element = ReadStartTag(tag, systemTime);
    if (tag.back() != L'/' && open.size() < DeepestNesting) open.push_back(std::move(element));
  }
  return std::min(end + 1, xml.size());
}

}  // namespace

GuardEvent ParseEventXml(std::wstring_view xml) {
  GuardEvent event;
  std::vector<Element> open;
  std::wstring systemTime;
  std::size_t pos = 0;
  while (pos < xml.size()) {
    const std::size_t lt = xml.find(L'<', pos);
    AddText(open, xml.substr(pos, std::min(lt, xml.size()) - pos), event);
    if (lt == std::wstring_view::npos) break;
    if (const std::size_t skipped = SkippedEnd(xml, lt); skipped != std::wstring_view::npos) {
      pos = skipped;
    } else if (xml.substr(lt).rfind(L"<![CDATA[", 0) == 0) {
      pos = ReadCdata(xml, lt, open, event);
    } else if (xml.substr(lt).rfind(L"</", 0) == 0) {
      pos = ReadCloseTag(xml, lt, open);
    } else {
      pos = ReadOpenTag(xml, lt, open, systemTime);
    }
  }
  event.time = systemTime;
  return event;
}

std::wstring RelativeIn(std::wstring_view path, const InstallPlace& place) {
  const std::wstring full = Win32Path(path, place);
  std::wstring_view folder = place.folder;
  while (!folder.empty() && folder.back() == L'\\') folder.remove_suffix(1);
  if (full.empty() || folder.empty()) return {};
  const std::wstring start = std::wstring(folder) + L"\\";
  if (full.size() <= start.size() || !StartsWithNoCase(full, start)) return {};
  return full.substr(start.size());
}

bool NamesFileIn(std::wstring_view path, const InstallPlace& place) {
  return !RelativeIn(path, place).empty();
}

EventSubject SubjectOf(const GuardEvent& event) {
  // Code Integrity spells its fields "File Name" from version 5 of its events and
  // "FileNameBuffer" before; Defender names the blocked file "Path"; AppLocker writes
  // "FilePath" upper-cased and, on later Windows, "FullFilePath" as it is.
  return {FieldOf(event, {L"file name", L"filenamebuffer", L"path", L"fullfilepath", L"filepath"}),
          FieldOf(event, {L"process name", L"processnamebuffer"}),
          FieldOf(event, {L"parent commandline"})};
}

bool IsTheInstalls(const EventSubject& subject, const InstallPlace& place) {
  if (NamesFileIn(subject.file, place) || NamesFileIn(subject.process, place)) return true;
  // A cmd.exe is the install's only where what started it names the install: any other is some
  // other program's, as Word's is when an Office rule stops it.
  if (FileNameOf(subject.process) != L"cmd.exe" || subject.parentCommand.empty()) return false;
  std::wstring_view folder = place.folder;
  while (!folder.empty() && folder.back() == L'\\') folder.remove_suffix(1);
  return !folder.empty() &&
         Lower(subject.parentCommand).find(Lower(folder) + L"\\") != std::wstring::npos;
}

std::wstring TimeKey(std::wstring_view time) {
  // 2021-12-27T19:58:05.0166515Z, with from none to nine digits of the second.
  constexpr std::size_t DateLength = 10;
  constexpr std::size_t SecondsEnd = 19;
  constexpr std::size_t Digits = 7;
  time = Trimmed(time);
  if (time.size() < SecondsEnd + 1 || time.back() != L'Z' || time[4] != L'-' ||
      time[DateLength] != L'T') {
    return {};
  }
  std::wstring key(time.substr(0, SecondsEnd));
  std::wstring_view fraction = time.substr(SecondsEnd, time.size() - SecondsEnd - 1);
  if (!fraction.empty() && fraction.front() == L'.') fraction.remove_prefix(1);
  std::wstring digits(fraction.substr(0, Digits));
  if (digits.find_first_not_of(L"0123456789") != std::wstring::npos) return {};
  digits.resize(Digits, L'0');
  return key + L"." + digits;
}

InstallPlace PlaceOf(const EventLogFacts& facts) {
  return {facts.installFolder, facts.volumeDevice, facts.systemDrive};
}

std::wstring EventQuery(const std::vector<std::uint32_t>& ids) {
  constexpr std::uint64_t MsPerDay = 24ULL * 60 * 60 * 1000;
  std::wstring query = L"*[System[(";
  for (std::size_t i = 0; i < ids.size(); ++i) {
    query += (i == 0 ? L"" : L" or ") + std::wstring(L"EventID=") + std::to_wstring(ids[i]);
  }
  return query + L") and TimeCreated[timediff(@SystemTime) <= " +
         std::to_wstring(EventDays * MsPerDay) + L"]]]";
}

namespace {

// When the install's file was last written, as TimeKey reads it; empty when unknown.
std::wstring WrittenKey(const EventLogFacts& facts, const std::wstring& relative) {
  for (const EventLogFacts::FileTime& file : facts.files) {
    if (!relative.empty() && Lower(file.path) == Lower(relative)) return TimeKey(file.written);
  }
  return {};
}

std::wstring WrittenAt(const EventLogFacts& facts, const std::wstring& relative) {
  for (const EventLogFacts::FileTime& file : facts.files) {
    if (Lower(file.path) == Lower(relative)) return file.written;
  }
  return {};
}

// The event's finding when it is the install's. A block of a file that has been written since,
// as signing it again writes it, was of an earlier copy: history, not a block of the install as
// it is now.
bool EventFinding(const std::wstring& xml, const std::wstring& channel, const EventLogFacts& facts,
                  bool& parsed, bool& current, Finding& finding) {
  const InstallPlace place = PlaceOf(facts);
  const GuardEvent event = ParseEventXml(xml);
  parsed = event.parsed;
  if (!parsed) return false;
  const EventSubject subject = SubjectOf(event);
  if (!IsTheInstalls(subject, place)) return false;
  const std::wstring relative = RelativeIn(subject.file, place);
  std::wstring named = subject.file.empty() ? L"a file" : FileNamed(subject.file, place);
  if (relative.empty() && !subject.process.empty()) {
    named += L", for " + FileNamed(subject.process, place);
  }
  const EventMeaning meaning = MeaningOf(event.id);
  const std::wstring what = EventTime(event.time) + L", " + meaning.what + L": " + named +
                            L" (event " + std::to_wstring(event.id) + L" in " + channel + L").";
  const Basis basis{{"event", std::int64_t{event.id}}, {"file", named}};
  const std::wstring eventKey = TimeKey(event.time);
  const std::wstring writtenKey = WrittenKey(facts, relative);
  current = eventKey.empty() || writtenKey.empty() || !(eventKey < writtenKey);
  if (current) {
    finding = {meaning.id, meaning.verdict, what + L" If it happens again, " + meaning.advice,
               basis};
  } else {
    std::wstring written = EventTime(WrittenAt(facts, relative));
    written[0] = static_cast<wchar_t>(std::towlower(written[0]));
    finding = Note("events.history",
                   what + L" " + relative + L" has been written since, " + written +
                       L": the block was of an earlier copy, and says nothing of"
                       L" the file as it is now.",
                   basis);
  }
  return true;
}

// The logs that could not be read, by the error that stopped them: "A and B (error); C (error)".
std::wstring UnreadLogs(const EventLogFacts& facts) {
  std::vector<std::pair<std::wstring, std::vector<std::wstring>>> unread;
  for (const EventLogFacts::Log& log : facts.logs) {
    if (log.read) continue;
    auto same = std::find_if(unread.begin(), unread.end(),
                             [&](const auto& entry) { return entry.first == log.error; });
    if (same == unread.end()) same = unread.insert(unread.end(), {log.error, {}});
    same->second.push_back(log.channel);
  }
  std::wstring list;
  for (const auto& [error, channels] : unread) {
    list += (list.empty() ? L"" : L"; ") + Listed(channels) + L" (" + error + L")";
  }
  return list;
}

// What keeps the doctor from naming every event of the log: a time-out, or its bound.
void LogNotes(const EventLogFacts::Log& log, Findings& findings) {
  if (log.cut) {
    findings.push_back(
        Note("events.read-cut", L"The doctor stopped reading " + log.channel + L" after " +
                                    std::to_wstring(log.scanned) +
                                    L" events, as Windows kept it waiting (" + log.error +
                                    L"): older events of the install may not be named here."));
  } else if (log.bounded) {
    findings.push_back(Note(
        "events.bounded",
        log.channel + L" has more blocks and audits of the last " + std::to_wstring(EventDays) +
            L" days than the doctor reads: it read the newest " + std::to_wstring(log.scanned) +
            L", so older ones of the install may not be named here."));
  }
}

// How many of the install's events the findings name, how many more there are, and how many of
// them are of the install as it is now.
struct Counts {
  std::size_t reported = 0;
  std::size_t more = 0;
  std::size_t currents = 0;
};

// The log's findings: each event of the install's, up to the bound, and what kept the doctor
// from reading the others.
void LogFindings(const EventLogFacts& facts, const EventLogFacts::Log& log, Counts& counts,
                 Findings& findings) {
  std::size_t unparsed = 0;
  for (const std::wstring& xml : log.events) {
    bool parsed = false;
    bool current = false;
    Finding finding;
    if (EventFinding(xml, log.channel, facts, parsed, current, finding)) {
      counts.currents += current ? 1 : 0;
      if (counts.reported < MostNamed) {
        ++counts.reported;
        findings.push_back(finding);
      } else {
        ++counts.more;
      }
    }
    if (!parsed) ++unparsed;
  }
  if (unparsed > 0) {
    findings.push_back(Note("events.unparsed",
                            std::to_wstring(unparsed) + L" events of " + log.channel +
                                L" could not be read, so the doctor cannot tell what they name."));
  }
  LogNotes(log, findings);
}

}  // namespace

CheckResult EventLogsCheck::Judge(const EventLogFacts& facts) {
  CheckResult result;
  Findings& findings = result.findings;
  std::vector<std::wstring> readLogs;
  Counts counts;
  for (const EventLogFacts::Log& log : facts.logs) {
    if (!log.read) continue;
    readLogs.push_back(log.channel);
    LogFindings(facts, log, counts, findings);
  }
  const std::size_t more = counts.more;
  const std::size_t currents = counts.currents;
  if (more > 0) {
    findings.push_back(
        Note("events.more", std::to_wstring(more) + L" more such events of the last " +
                                std::to_wstring(EventDays) +
                                L" days are not named here: the Event Viewer shows them."));
  }
  if (currents == 0 && !readLogs.empty()) {
    findings.push_back(
        Ok("events.none", L"The event logs " + Listed(readLogs) +
                              L" name no block of the install's files as they are now, nor of a"
                              L" file its programs started or loaded, in the last " +
                              std::to_wstring(EventDays) + L" days."));
  }
  if (const std::wstring list = UnreadLogs(facts); !list.empty()) {
    findings.push_back(
        Note("events.unread-logs",
             L"Cannot tell what Windows blocked before: the doctor could not read the event"
             L" logs " +
                 list + L". Some of them need an administrator."));
  }
  return result;
}

bool KeepsEvent(const std::wstring& xml, const InstallPlace& place) {
  return IsTheInstalls(SubjectOf(ParseEventXml(xml)), place);
}

std::vector<std::wstring> FilesNamed(const EventLogFacts& facts) {
  const InstallPlace place = PlaceOf(facts);
  std::vector<std::wstring> files;
  for (const EventLogFacts::Log& log : facts.logs) {
    for (const std::wstring& xml : log.events) {
      const std::wstring relative = RelativeIn(SubjectOf(ParseEventXml(xml)).file, place);
      if (!relative.empty() && std::none_of(files.begin(), files.end(), [&](const std::wstring& f) {
            return Lower(f) == Lower(relative);
          })) {
        files.push_back(relative);
      }
    }
  }
  return files;
}

}  // namespace dunvelt::doctor
