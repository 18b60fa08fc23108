#include "mark_of_the_web.h"

#include <algorithm>

#include "facts_json.h"
#include "text.h"

namespace dunvelt::doctor {

DUNVELT_FACTS_JSON(MarkFacts::File, path, hasStream, stream, text, codePage, readError)
DUNVELT_FACTS_JSON(MarkFacts, installFolder, files)

ZoneIdentifier ParseZoneIdentifier(std::string_view bytes) {
  return ParseZoneText(DecodedText(bytes));
}

ZoneIdentifier ParseZoneText(std::wstring_view text) {
  constexpr std::size_t LongestUrl = 2048;
  ZoneIdentifier zone;
  bool inZoneTransfer = false;
  bool hostSeen = false;
  bool referrerSeen = false;
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = std::min(text.find_first_of(L"\r\n", start), text.size());
    const std::wstring_view line = Trimmed(text.substr(start, end - start));
    start = end + 1;
    if (line.empty() || line.front() == L';' || line.front() == L'#') continue;
    if (line.front() == L'[') {
      const std::size_t close = line.find(L']');
      inZoneTransfer = close != std::wstring_view::npos &&
                       Lower(Trimmed(line.substr(1, close - 1))) == L"zonetransfer";
      continue;
    }
    const std::size_t equals = line.find(L'=');
    if (!inZoneTransfer || equals == std::wstring_view::npos) continue;
    const std::wstring key = Lower(Trimmed(line.substr(0, equals)));
    const std::wstring_view value = Trimmed(line.substr(equals + 1));
    // The first of each counts, as Windows reads an INI file.
    if (key == L"zoneid" && !zone.hasZone) {
      zone.hasZone = LeadingNumber(value, zone.zone);
    } else if (key == L"hosturl" && !hostSeen) {
      hostSeen = true;
      zone.hostUrl = value.substr(0, LongestUrl);
    } else if (key == L"referrerurl" && !referrerSeen) {
      referrerSeen = true;
      zone.referrerUrl = value.substr(0, LongestUrl);
    }
  }
  if (!zone.hasZone) zone.zone = 0;
  return zone;
}

namespace {

struct MarkGroups {
  std::vector<std::wstring> internet;
  std::vector<std::wstring> restricted;
  std::vector<std::wstring> unreadable;  // a stream that names no zone
  std::vector<std::wstring> unread;
  std::wstring fromInternet;  // the first address the marks name, of each zone
  std::wstring fromRestricted;
};

MarkGroups Grouped(const MarkFacts& facts) {
  MarkGroups groups;
  for (const MarkFacts::File& file : facts.files) {
    if (!file.readError.empty()) {
      groups.unread.push_back(file.path + L" (" + file.readError + L")");
      continue;
    }
    if (!file.hasStream) continue;
    const ZoneIdentifier zone =
        file.text.empty() ? ParseZoneIdentifier(file.stream.bytes) : ParseZoneText(file.text);
    if (!zone.hasZone) {
      groups.unreadable.push_back(file.path);
      continue;
    }
    if (zone.zone != ZoneInternet && zone.zone != ZoneRestricted) continue;
    const bool inInternet = zone.zone == ZoneInternet;
    (inInternet ? groups.internet : groups.restricted).push_back(file.path);
    std::wstring& from = inInternet ? groups.fromInternet : groups.fromRestricted;
    if (from.empty()) from = !zone.hostUrl.empty() ? zone.hostUrl : zone.referrerUrl;
  }
  return groups;
}

}  // namespace

CheckResult MarkOfTheWebCheck::Judge(const MarkFacts& facts) {
  CheckResult out;
  const MarkGroups groups = Grouped(facts);
  const std::vector<std::wstring>& internet = groups.internet;
  const std::vector<std::wstring>& restricted = groups.restricted;
  const std::vector<std::wstring>& unreadable = groups.unreadable;
  const std::vector<std::wstring>& unread = groups.unread;
  const std::wstring& fromInternet = groups.fromInternet;
  const std::wstring& fromRestricted = groups.fromRestricted;
  const auto source = [](const std::wstring& from) {
    return from.empty() ? std::wstring() : L", from " + Shortened(from);
  };
  const std::wstring unblock =
      L" Remove the mark: in each file's Properties, tick Unblock; or for the whole folder, in"
      L" PowerShell: Get-ChildItem -Recurse " +
      Quoted(facts.installFolder) +
      L" | Unblock-File. An installer leaves no such mark; a zip extracted by Explorer passes"
      L" it on to every file it holds.";
  // Only a shell start checks the zone: ShellExecuteEx's zone check is the one that
  // SEE_MASK_NOZONECHECKS turns off ("SHELLEXECUTEINFOW structure" on Microsoft Learn), and the
  // attachment manager it asks refuses a file from the restricted zone. CreateProcess and
  // LoadLibrary check no zone, so a marked runtime or DLL is started and loaded all the same.
  const bool launcherRestricted =
      std::any_of(restricted.begin(), restricted.end(),
                  [](const std::wstring& path) { return Lower(path) == Lower(LauncherName); });
  if (launcherRestricted) {
    out.findings.push_back(Problem(
        "mark.restricted",
        std::wstring(LauncherName) +
            L" is marked as coming from a restricted site (mark of the web, zone 4" +
            source(fromRestricted) +
            L"): Windows refuses to start a program so marked from Explorer, a shortcut or any"
            L" other shell start." +
            unblock,
        {{"file", std::wstring(LauncherName)}, {"zone", std::int64_t{ZoneRestricted}}}));
    out.stopsLaunch = true;
  }
  std::vector<std::wstring> others;
  for (const std::wstring& path : restricted) {
    if (Lower(path) != Lower(LauncherName)) others.push_back(path);
  }
  if (!others.empty()) {
    out.findings.push_back(Warning(
        "mark.restricted-files",
        Listed(others) + (others.size() == 1 ? L" is" : L" are") +
            L" marked as coming from a restricted site (mark of the web, zone 4" +
            source(fromRestricted) +
            L"). Only a shell start checks the zone, and Dunvelt.exe starts the runtime without"
            L" one, so the mark alone does not stop them; Smart App Control and programs that"
            L" honour the mark judge such files more strictly." +
            unblock,
        {{"file", others.front()}, {"zone", std::int64_t{ZoneRestricted}}}));
  }
  if (!internet.empty()) {
    out.findings.push_back(Warning(
        "mark.internet",
        Listed(internet) + (internet.size() == 1 ? L" is" : L" are") +
            L" marked as downloaded from the Internet (mark of the web, zone 3" +
            source(fromInternet) +
            L"): SmartScreen asks before it starts a program so marked, or blocks it where the"
            L" administrator says so; Smart App Control judges it more strictly; and programs that"
            L" honour the mark, as Office does, open what comes with it protected." +
            unblock,
        {{"file", internet.front()},
         {"zone", std::int64_t{ZoneInternet}},
         {"from", fromInternet}}));
  }
  if (!unreadable.empty()) {
    out.findings.push_back(Note(
        "mark.unreadable", Listed(unreadable) +
                               L" has a mark of the web (a Zone.Identifier stream) that names no"
                               L" zone the doctor can read: cannot tell what Windows makes of"
                               L" it." +
                               unblock));
  }
  if (!unread.empty()) {
    out.findings.push_back(
        Note("mark.unread",
             L"Cannot tell whether these files carry a mark of the web: " + Listed(unread) + L"."));
  }
  return out;
}

}  // namespace dunvelt::doctor
