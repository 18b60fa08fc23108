#include "guards.h"

#include <algorithm>
#include <array>
#include <cwctype>
#include <map>
#include <utility>

namespace dunvelt::doctor {
namespace {

Finding Ok(std::wstring text) { return {Verdict::Ok, std::move(text)}; }
Finding Note(std::wstring text) { return {Verdict::Note, std::move(text)}; }
Finding Warning(std::wstring text) { return {Verdict::Warning, std::move(text)}; }
Finding Problem(std::wstring text) { return {Verdict::Problem, std::move(text)}; }

std::wstring Lower(std::wstring_view text) {
  std::wstring lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](wchar_t c) { return static_cast<wchar_t>(std::towlower(c)); });
  return lower;
}

bool StartsWithNoCase(std::wstring_view text, std::wstring_view start) {
  return text.size() >= start.size() && Lower(text.substr(0, start.size())) == Lower(start);
}

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n' || c == 0; }

std::wstring_view Trimmed(std::wstring_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

std::wstring Quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

// A text from a file or a log, kept short enough for one line of the doctor's.
std::wstring Shortened(std::wstring_view text) {
  constexpr std::size_t Longest = 200;
  if (text.size() <= Longest) return std::wstring(text);
  return std::wstring(text.substr(0, Longest)) + L"...";
}

// "a", "a and b", "a, b and c", and past `most` names "a, b and 7 more".
std::wstring Listed(const std::vector<std::wstring>& names, std::size_t most = MostEventsReported) {
  const std::size_t shown = std::min(names.size(), most);
  const std::size_t more = names.size() - shown;
  std::wstring list;
  for (std::size_t i = 0; i < shown; ++i) {
    if (i > 0) list += (i + 1 == shown && more == 0) ? L" and " : L", ";
    list += names[i];
  }
  if (more > 0) list += L" and " + std::to_wstring(more) + L" more";
  return list;
}

std::wstring Hex(std::uint32_t number) {
  constexpr int Digits = 8;
  constexpr int BitsPerDigit = 4;
  constexpr std::uint32_t DigitMask = 0xF;
  std::wstring text = L"0x";
  for (int shift = (Digits - 1) * BitsPerDigit; shift >= 0; shift -= BitsPerDigit) {
    text += L"0123456789ABCDEF"[(number >> static_cast<unsigned>(shift)) & DigitMask];
  }
  return text;
}

// Decimal digits at the start of the text, as a number; false when there are none or too many.
bool LeadingNumber(std::wstring_view text, std::uint32_t& number) {
  constexpr std::size_t MostDigits = 9;
  constexpr std::uint32_t Base = 10;
  std::size_t digits = 0;
  number = 0;
  while (digits < text.size() && text[digits] >= L'0' && text[digits] <= L'9') {
    if (digits == MostDigits) return false;
    number = number * Base + static_cast<std::uint32_t>(text[digits] - L'0');
    ++digits;
  }
  return digits > 0;
}

const std::wstring SignAdvice =
    L"sign them: scripts/sign-install.sh signs the whole install (docs/packaging.md, \"When"
    L" Windows blocks it\").";

// --- Text of files ---------------------------------------------------------------------------

constexpr char32_t Replacement = 0xFFFD;
constexpr char32_t Largest = 0x10FFFF;
// UTF-16 writes a character beyond the first plane as a high and a low surrogate, each holding
// ten of its bits.
constexpr char32_t HighStart = 0xD800;
constexpr char32_t LowStart = 0xDC00;
constexpr char32_t LowEnd = 0xDFFF;
constexpr char32_t Plane = 0x10000;
constexpr unsigned HalfBits = 10;
constexpr char32_t HalfMask = 0x3FF;

void Append(std::wstring& text, char32_t code) {
  if (code == 0 || code > Largest || (code >= HighStart && code <= LowEnd)) {
    code = Replacement;
  }
  if constexpr (sizeof(wchar_t) == 2) {
    if (code >= Plane) {
      code -= Plane;
      text += static_cast<wchar_t>(HighStart + (code >> HalfBits));
      text += static_cast<wchar_t>(LowStart + (code & HalfMask));
      return;
    }
  }
  text += static_cast<wchar_t>(code);
}

// UTF-8, where a byte that starts no valid sequence stands for itself as a replacement character.
std::wstring FromUtf8(std::string_view bytes) {
  constexpr unsigned char Continuation = 0x80;
  constexpr unsigned char ContinuationMask = 0xC0;
  constexpr unsigned char ContinuationBits = 0x3F;
  constexpr unsigned BitsPerContinuation = 6;
  struct Lead {
    unsigned char mask;
    unsigned char value;
    std::size_t length;
    char32_t smallest;
  };
  constexpr std::array<Lead, 3> Leads{
      {{0xE0, 0xC0, 2, 0x80}, {0xF0, 0xE0, 3, 0x800}, {0xF8, 0xF0, 4, 0x10000}}};
  std::wstring text;
  for (std::size_t i = 0; i < bytes.size();) {
    const auto byte = static_cast<unsigned char>(bytes[i]);
    if (byte < Continuation) {
      text += static_cast<wchar_t>(byte);
      ++i;
      continue;
    }
    bool decoded = false;
    for (const Lead& lead : Leads) {
      if ((byte & lead.mask) != lead.value || i + lead.length > bytes.size()) continue;
      char32_t code = byte & static_cast<unsigned char>(~lead.mask);
      bool valid = true;
      for (std::size_t k = 1; k < lead.length && valid; ++k) {
        const auto next = static_cast<unsigned char>(bytes[i + k]);
        valid = (next & ContinuationMask) == Continuation;
        code = (code << BitsPerContinuation) | (next & ContinuationBits);
      }
      if (valid && code >= lead.smallest) {
        Append(text, code);
        i += lead.length;
        decoded = true;
      }
      break;
    }
    if (!decoded) {
      Append(text, Replacement);
      ++i;
    }
  }
  return text;
}

std::wstring FromUtf16(std::string_view bytes) {
  constexpr unsigned BitsPerByte = 8;
  std::wstring text;
  const auto unit = [&](std::size_t i) {
    return static_cast<char32_t>(static_cast<unsigned char>(bytes[i]) |
                                 (static_cast<unsigned char>(bytes[i + 1]) << BitsPerByte));
  };
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const char32_t first = unit(i);
    if (first >= HighStart && first < LowStart && i + 3 < bytes.size()) {
      const char32_t second = unit(i + 2);
      if (second >= LowStart && second <= LowEnd) {
        Append(text, Plane + ((first - HighStart) << HalfBits) + (second - LowStart));
        i += 2;
        continue;
      }
    }
    Append(text, first);
  }
  return text;
}

std::wstring DecodedText(std::string_view bytes) {
  constexpr std::string_view Utf8Mark = "\xEF\xBB\xBF";
  constexpr std::string_view Utf16Mark = "\xFF\xFE";
  if (bytes.substr(0, Utf8Mark.size()) == Utf8Mark) return FromUtf8(bytes.substr(Utf8Mark.size()));
  if (bytes.substr(0, Utf16Mark.size()) == Utf16Mark) {
    return FromUtf16(bytes.substr(Utf16Mark.size()));
  }
  // Without a mark, an ASCII first character in UTF-16LE has a zero byte after it.
  if (bytes.size() >= 2 && bytes[0] != 0 && bytes[1] == 0) return FromUtf16(bytes);
  return FromUtf8(bytes);
}

// --- Paths in events -------------------------------------------------------------------------

// The path after its drive or volume, with its leading backslash: "C:\a" and
// "\Device\HarddiskVolume3\a" give "\a", "\\server\share\a" gives "\server\share\a", as does
// "\Device\Mup\server\share\a". False for a path of no such form.
bool AfterVolume(std::wstring_view path, std::wstring_view& tail) {
  for (const std::wstring_view prefix : {L"\\\\?\\UNC\\", L"\\??\\UNC\\"}) {
    if (StartsWithNoCase(path, prefix)) {
      tail = path.substr(prefix.size() - 1);
      return true;
    }
  }
  for (const std::wstring_view prefix : {L"\\\\?\\", L"\\??\\"}) {
    if (StartsWithNoCase(path, prefix)) path.remove_prefix(prefix.size());
  }
  if (StartsWithNoCase(path, L"%OSDRIVE%\\")) {
    tail = path.substr(std::wstring_view(L"%OSDRIVE%").size());
    return true;
  }
  if (StartsWithNoCase(path, L"\\Device\\")) {
    const std::size_t end = path.find(L'\\', std::wstring_view(L"\\Device\\").size());
    if (end == std::wstring_view::npos) return false;
    tail = path.substr(end);
    return true;
  }
  if (path.size() >= 3 && std::iswalpha(path[0]) != 0 && path[1] == L':' && path[2] == L'\\') {
    tail = path.substr(2);
    return true;
  }
  if (path.size() > 2 && path[0] == L'\\' && path[1] == L'\\') {
    tail = path.substr(1);
    return true;
  }
  return false;
}

bool HasDrive(std::wstring_view path) {
  return path.size() >= 2 && std::iswalpha(path[0]) != 0 && path[1] == L':';
}

// The path relative to the install folder when it names a file in it; else empty. A path with a
// drive letter is compared whole; a volume's device path, which names no drive, by what follows.
std::wstring RelativeIn(std::wstring_view path, std::wstring_view folder) {
  path = Trimmed(path);
  std::wstring_view pathTail;
  std::wstring_view folderTail;
  if (!AfterVolume(path, pathTail) || !AfterVolume(folder, folderTail)) return {};
  while (!folderTail.empty() && folderTail.back() == L'\\') folderTail.remove_suffix(1);
  std::wstring_view plain = path;
  for (const std::wstring_view prefix : {L"\\\\?\\", L"\\??\\"}) {
    if (StartsWithNoCase(plain, prefix)) plain.remove_prefix(prefix.size());
  }
  if (HasDrive(plain) && HasDrive(folder) && std::towlower(plain[0]) != std::towlower(folder[0])) {
    return {};
  }
  const std::wstring start = std::wstring(folderTail) + L"\\";
  if (pathTail.size() <= start.size() || !StartsWithNoCase(pathTail, start)) return {};
  return std::wstring(pathTail.substr(start.size()));
}

bool LooksLikePath(std::wstring_view value) {
  std::wstring_view tail;
  return AfterVolume(Trimmed(value), tail);
}

bool IsCommandInterpreter(std::wstring_view path) {
  path = Trimmed(path);
  const std::size_t slash = path.find_last_of(L"\\/");
  return Lower(slash == std::wstring_view::npos ? path : path.substr(slash + 1)) == L"cmd.exe";
}

// --- XML -------------------------------------------------------------------------------------

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
      Append(plain, code);
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

// --- Words -----------------------------------------------------------------------------------

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
  std::wstring what;    // "Code Integrity blocked"
  std::wstring advice;  // what to do
};

EventMeaning MeaningOf(std::uint32_t id) {
  const std::wstring sign =
      L"sign the install: scripts/sign-install.sh (docs/packaging.md, \"When"
      L" Windows blocks it\").";
  switch (id) {
    case CodeIntegrityBlocked:
      return {Verdict::Problem,
              L"Code Integrity kept a file from loading, as it did not meet the signing level"
              L" Windows asks for (Smart App Control or an application control policy)",
              sign};
    case CodeIntegrityEnforced:
      return {Verdict::Problem, L"an application control policy blocked a file", sign};
    case CodeIntegrityAudited:
      return {Verdict::Warning,
              L"an application control policy in audit mode would have blocked a file; enforced,"
              L" it will",
              sign};
    case DefenderRuleBlocked:
      return {Verdict::Problem, L"Defender's attack surface reduction blocked a file",
              L"ask the administrator for an exclusion of the install folder."};
    case AppLockerBlocked:
    case AppLockerPrevented:
      return {Verdict::Problem, L"AppLocker kept a file from running",
              L"ask the administrator to allow the install folder in AppLocker's rules."};
    default:
      return {Verdict::Warning, L"an event " + std::to_wstring(id) + L" named a file",
              L"look it up in the Event Viewer."};
  }
}

// The field that names the file an event is about, by the names that the logs give it.
const GuardEvent::Field* FileField(const GuardEvent& event) {
  for (const wchar_t* name : {L"file name", L"path", L"fullfilepath", L"filepath"}) {
    for (const GuardEvent::Field& field : event.fields) {
      if (Lower(field.name) == name && LooksLikePath(field.value)) return &field;
    }
  }
  for (const GuardEvent::Field& field : event.fields) {
    if (LooksLikePath(field.value)) return &field;
  }
  return nullptr;
}

// An event's file as the finding names it: relative to the install when it is one of its files.
std::wstring FileNamed(const std::wstring& path, const std::wstring& folder) {
  const std::wstring relative = RelativeIn(path, folder);
  return relative.empty() ? Shortened(Trimmed(path)) : relative;
}

std::wstring SmartAppControlName(std::uint32_t state) {
  switch (state) {
    case 0:
      return L"off";
    case 1:
      return L"on";
    case 2:
      return L"in evaluation";
    default:
      return L"in an unknown state (" + std::to_wstring(state) + L")";
  }
}

}  // namespace

// --- Signatures ------------------------------------------------------------------------------

Signature SignatureOf(std::uint32_t trustResult) {
  switch (trustResult) {
    case 0:
      return Signature::Valid;
    case TrustNoSignature:
    case TrustSubjectFormUnknown:  // no form that can carry a signature
      return Signature::Unsigned;
    case TrustBadDigest:
      return Signature::Altered;
    case CertUntrustedRoot:
    case CertChaining:
      return Signature::Untrusted;
    case CertExpired:
      return Signature::Expired;
    default:
      return Signature::Other;
  }
}

std::wstring TrustResultName(std::uint32_t trustResult) {
  static const std::map<std::uint32_t, const wchar_t*> names{
      {TrustProviderUnknown, L"TRUST_E_PROVIDER_UNKNOWN"},
      {TrustSubjectFormUnknown, L"TRUST_E_SUBJECT_FORM_UNKNOWN"},
      {TrustNoSignature, L"TRUST_E_NOSIGNATURE"},
      {CertExpired, L"CERT_E_EXPIRED"},
      {CertUntrustedRoot, L"CERT_E_UNTRUSTEDROOT"},
      {CertChaining, L"CERT_E_CHAINING"},
      {TrustBadDigest, L"TRUST_E_BAD_DIGEST"}};
  const auto name = names.find(trustResult);
  return name != names.end() ? name->second : Hex(trustResult);
}

namespace {

// The install's files by what their signatures say, each named for a finding.
struct SignatureGroups {
  std::vector<std::wstring> unsignedFiles;
  std::vector<std::wstring> altered;
  std::vector<std::wstring> distrusted;  // signed, but not so that Windows trusts it
  std::vector<std::wstring> unknown;
  std::vector<std::wstring> unread;
  std::size_t checked = 0;
};

SignatureGroups Grouped(const SignatureFacts& facts) {
  SignatureGroups groups;
  for (const SignatureFacts::File& file : facts.files) {
    if (!file.readError.empty()) {
      groups.unread.push_back(file.path + L" (" + file.readError + L")");
      continue;
    }
    ++groups.checked;
    const std::wstring code = TrustResultName(file.trustResult);
    switch (SignatureOf(file.trustResult)) {
      case Signature::Valid:
        break;
      case Signature::Unsigned:
        groups.unsignedFiles.push_back(file.path);
        break;
      case Signature::Altered:
        groups.altered.push_back(file.path);
        break;
      case Signature::Untrusted:
        groups.distrusted.push_back(
            file.path + L" (its certificate is not trusted on this Windows, " + code + L")");
        break;
      case Signature::Expired:
        groups.distrusted.push_back(file.path +
                                    L" (its certificate has expired and the signature has no"
                                    L" timestamp, " +
                                    code + L")");
        break;
      case Signature::Other:
        groups.unknown.push_back(file.path + L" (" + code + L")");
        break;
    }
  }
  return groups;
}

enum class SmartAppControlState { Absent, Off, On, Evaluation, Unknown };

SmartAppControlState StateOf(const SignatureFacts& facts) {
  if (!facts.smartAppControlError.empty()) return SmartAppControlState::Unknown;
  if (!facts.smartAppControlFound) return SmartAppControlState::Absent;
  switch (facts.smartAppControl) {
    case 0:
      return SmartAppControlState::Off;
    case 1:
      return SmartAppControlState::On;
    case 2:
      return SmartAppControlState::Evaluation;
    default:
      return SmartAppControlState::Unknown;
  }
}

// With Smart App Control on, each file it blocks, up to a bound.
void AddBlocked(const SignatureGroups& groups, Findings& findings) {
  std::size_t shown = 0;
  for (const std::wstring& path : groups.unsignedFiles) {
    if (shown++ == MostEventsReported) break;
    findings.push_back(Problem(L"Smart App Control is on and blocks " + path +
                               L", which is not signed: sign it; scripts/sign-install.sh signs"
                               L" the whole install (docs/packaging.md, \"When Windows blocks"
                               L" it\")."));
  }
  for (const std::wstring& path : groups.distrusted) {
    if (shown++ == MostEventsReported) break;
    findings.push_back(Problem(L"Smart App Control is on and blocks " + path +
                               L": sign it with a certificate that Windows trusts, with a"
                               L" timestamp; scripts/sign-install.sh signs the whole install"
                               L" (docs/packaging.md, \"When Windows blocks it\")."));
  }
  const std::size_t blocked = groups.unsignedFiles.size() + groups.distrusted.size();
  if (blocked > MostEventsReported) {
    findings.push_back(Problem(std::to_wstring(blocked - MostEventsReported) +
                               L" more programs and DLLs of the install that Smart App Control"
                               L" blocks are not named here: " +
                               SignAdvice));
  }
}

// Where Smart App Control is not on: what the files that it would block mean here.
Finding NotTrusted(const SignatureGroups& groups, SmartAppControlState state) {
  std::vector<std::wstring> files = groups.unsignedFiles;
  files.insert(files.end(), groups.distrusted.begin(), groups.distrusted.end());
  const std::wstring count = std::to_wstring(files.size()) + L" of the " +
                             std::to_wstring(groups.checked) +
                             L" programs and DLLs of the install are not signed, or not so that"
                             L" Windows trusts them: " +
                             Listed(files) + L". ";
  const std::wstring trust =
      L"SmartScreen and virus scanners trust unsigned programs less, and may ask before they"
      L" start or block them; " +
      SignAdvice;
  switch (state) {
    case SmartAppControlState::Evaluation:
      return Warning(count +
                     L"Smart App Control is in evaluation on this Windows: it blocks nothing"
                     L" yet, but may turn itself on, and then blocks them. " +
                     trust);
    case SmartAppControlState::Off:
      return Warning(count +
                     L"Smart App Control is off on this Windows, so it does not block them here,"
                     L" but does where it is on. " +
                     trust);
    case SmartAppControlState::Absent:
      return Note(count + L"This Windows has no Smart App Control, which would block them. " +
                  trust);
    case SmartAppControlState::On:
    case SmartAppControlState::Unknown:
      break;
  }
  return Warning(count + L"Smart App Control may block them. " + trust);
}

}  // namespace

GuardFindings JudgeSignatures(const SignatureFacts& facts) {
  GuardFindings out;
  Findings& findings = out.findings;
  const SignatureGroups groups = Grouped(facts);
  const SmartAppControlState state = StateOf(facts);
  if (!facts.smartAppControlError.empty()) {
    findings.push_back(
        Note(L"Cannot tell whether Smart App Control is on: its setting could not"
             L" be read (" +
             facts.smartAppControlError + L")."));
  } else if (state == SmartAppControlState::Unknown) {
    findings.push_back(Note(L"Smart App Control is " + SmartAppControlName(facts.smartAppControl) +
                            L", which the doctor does not know: it judges the signatures as if"
                            L" Smart App Control might block."));
  }
  for (const std::wstring& path : groups.altered) {
    findings.push_back(Problem(
        path +
        L" was changed after it was signed (TRUST_E_BAD_DIGEST): its signature no longer"
        L" matches it, so Windows trusts it less than an unsigned file, Smart App Control and"
        L" application control policies block it, and virus scanners may take it for"
        L" tampering. A broken download or copy, or a program that wrote to it, does this:"
        L" install the application again from its package, and sign after every change."));
  }
  const bool notTrusted = !groups.unsignedFiles.empty() || !groups.distrusted.empty();
  if (state == SmartAppControlState::On) {
    AddBlocked(groups, findings);
    out.stopsLaunch = notTrusted || !groups.altered.empty();
  } else if (notTrusted) {
    findings.push_back(NotTrusted(groups, state));
  }
  if (!groups.unknown.empty()) {
    findings.push_back(Warning(L"Cannot tell whether Windows trusts the signatures of " +
                               Listed(groups.unknown) +
                               L": checking them failed. If the application does not start,"
                               L" look for these codes in Windows' documentation of"
                               L" WinVerifyTrust."));
  }
  if (!groups.unread.empty()) {
    findings.push_back(Note(L"The doctor could not read " + Listed(groups.unread) +
                            L" to check its signature, so it cannot tell whether Windows lets it"
                            L" run."));
  }
  for (const SignatureFacts::Unlisted& folder : facts.unlistedFolders) {
    findings.push_back(Note(L"The doctor could not list the folder " + folder.folder + L" (" +
                            folder.error +
                            L"), so the signatures of its files were not"
                            L" checked."));
  }
  if (facts.notChecked > 0) {
    findings.push_back(Note(L"The install has " + std::to_wstring(facts.notChecked) +
                            L" more programs and DLLs than the " +
                            std::to_wstring(MostFilesChecked) +
                            L" whose signatures the doctor checks: those were not checked."));
  }
  if (groups.altered.empty() && !notTrusted && groups.unknown.empty() && groups.checked > 0) {
    const bool everything =
        groups.unread.empty() && facts.notChecked == 0 && facts.unlistedFolders.empty();
    findings.insert(findings.begin(),
                    Ok(L"All " + std::to_wstring(groups.checked) +
                       (everything ? L" programs and DLLs of the install are signed."
                                   : L" programs and DLLs that the doctor checked are signed.")));
  }
  return out;
}

// --- The mark of the web ---------------------------------------------------------------------

ZoneIdentifier ParseZoneIdentifier(std::string_view bytes) {
  constexpr std::size_t LongestUrl = 2048;
  const std::wstring text = DecodedText(bytes);
  ZoneIdentifier zone;
  bool inZoneTransfer = false;
  bool hostSeen = false;
  bool referrerSeen = false;
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = std::min(text.find_first_of(L"\r\n", start), text.size());
    const std::wstring_view line = Trimmed(std::wstring_view(text).substr(start, end - start));
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
    const ZoneIdentifier zone = ParseZoneIdentifier(file.stream);
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

GuardFindings JudgeMarks(const MarkFacts& facts) {
  GuardFindings out;
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
  if (!restricted.empty()) {
    out.findings.push_back(Problem(
        Listed(restricted) + (restricted.size() == 1 ? L" is" : L" are") +
        L" marked as coming from a restricted site (mark of the web, zone 4" +
        source(fromRestricted) +
        L"): Windows refuses to start programs so marked, and to load such DLLs." + unblock));
    out.stopsLaunch = true;
  }
  if (!internet.empty()) {
    out.findings.push_back(Warning(
        Listed(internet) + (internet.size() == 1 ? L" is" : L" are") +
        L" marked as downloaded from the Internet (mark of the web, zone 3" + source(fromInternet) +
        L"): SmartScreen asks before it starts a program so marked, or blocks it where the"
        L" administrator says so; Smart App Control judges it more strictly; and programs that"
        L" honour the mark, as Office does, open what comes with it protected." +
        unblock));
  }
  if (!unreadable.empty()) {
    out.findings.push_back(Note(Listed(unreadable) +
                                L" has a mark of the web (a Zone.Identifier stream) that names no"
                                L" zone the doctor can read: cannot tell what Windows makes of"
                                L" it." +
                                unblock));
  }
  if (!unread.empty()) {
    out.findings.push_back(
        Note(L"Cannot tell whether these files carry a mark of the web: " + Listed(unread) + L"."));
  }
  return out;
}

// --- A zip's temporary folder ----------------------------------------------------------------

std::wstring ArchiveTemporaryFolder(const std::wstring& installFolder,
                                    const std::vector<std::wstring>& temporaryFolders) {
  for (std::wstring temporary : temporaryFolders) {
    while (!temporary.empty() && temporary.back() == L'\\') temporary.pop_back();
    if (temporary.empty()) continue;
    const std::wstring start = temporary + L"\\";
    if (installFolder.size() <= start.size() || !StartsWithNoCase(installFolder, start)) continue;
    const std::wstring_view rest = std::wstring_view(installFolder).substr(start.size());
    std::wstring folder(rest.substr(0, rest.find(L'\\')));
    const std::wstring lower = Lower(folder);
    // Explorer numbers its folders for a zip: Temp1_orbisk.zip, Temp2_orbisk.zip, ...
    std::uint32_t number = 0;
    const bool explorer = lower.rfind(L"temp", 0) == 0 &&
                          LeadingNumber(std::wstring_view(lower).substr(4), number) &&
                          lower.find(L'_') != std::wstring::npos &&
                          lower.find_first_not_of(L"0123456789", 4) == lower.find(L'_');
    const bool archiver = lower.rfind(L"rar$ex", 0) == 0 || lower.rfind(L"7zo", 0) == 0 ||
                          (lower.rfind(L"wz", 0) == 0 && lower.size() > 2);
    if (explorer || archiver) return folder;
  }
  return {};
}

GuardFindings JudgeArchiveFolder(const std::wstring& installFolder,
                                 const std::vector<std::wstring>& temporaryFolders) {
  const std::wstring folder = ArchiveTemporaryFolder(installFolder, temporaryFolders);
  if (folder.empty()) return {};
  return {{Problem(L"The install folder is inside " + Quoted(folder) +
                   L", a temporary folder where Explorer or an archiver puts what it opens from"
                   L" a zip without extracting it: the application's other files may not be"
                   L" there, and the folder goes when the zip is closed. Extract all first: in"
                   L" Explorer, right-click the zip and choose \"Extract All...\", then run"
                   L" Dunvelt.exe from the extracted folder.")},
          true};
}

// --- The event logs --------------------------------------------------------------------------

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

bool NamesFileIn(std::wstring_view path, std::wstring_view installFolder) {
  return !RelativeIn(path, installFolder).empty();
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

// The event's finding when it names a file of the install or cmd.exe.
bool EventFinding(const std::wstring& xml, const std::wstring& channel, const std::wstring& folder,
                  bool& parsed, Finding& finding) {
  const GuardEvent event = ParseEventXml(xml);
  parsed = event.parsed;
  if (!parsed) return false;
  const auto matched =
      std::find_if(event.fields.begin(), event.fields.end(), [&](const GuardEvent::Field& field) {
        return LooksLikePath(field.value) &&
               (NamesFileIn(field.value, folder) || IsCommandInterpreter(field.value));
      });
  if (matched == event.fields.end()) return false;
  const GuardEvent::Field* file = FileField(event);
  std::wstring named = FileNamed(file->value, folder);
  if (file != &*matched) named += L", for " + FileNamed(matched->value, folder);
  const EventMeaning meaning = MeaningOf(event.id);
  finding = {meaning.verdict, EventTime(event.time) + L", " + meaning.what + L": " + named +
                                  L" (event " + std::to_wstring(event.id) + L" in " + channel +
                                  L"). If it happens again, " + meaning.advice};
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

}  // namespace

Findings JudgeEventLogs(const EventLogFacts& facts) {
  Findings findings;
  std::vector<std::wstring> readLogs;
  std::size_t reported = 0;
  std::size_t more = 0;
  for (const EventLogFacts::Log& log : facts.logs) {
    if (!log.read) continue;
    readLogs.push_back(log.channel);
    std::size_t unparsed = 0;
    for (const std::wstring& xml : log.events) {
      bool parsed = false;
      Finding finding{Verdict::Note, {}};
      if (EventFinding(xml, log.channel, facts.installFolder, parsed, finding)) {
        if (reported < MostEventsReported) {
          ++reported;
          findings.push_back(finding);
        } else {
          ++more;
        }
      }
      if (!parsed) ++unparsed;
    }
    if (unparsed > 0) {
      findings.push_back(Note(std::to_wstring(unparsed) + L" events of " + log.channel +
                              L" could not be read, so the doctor cannot tell what they name."));
    }
  }
  if (more > 0) {
    findings.push_back(Note(std::to_wstring(more) + L" more such events of the last " +
                            std::to_wstring(EventDays) +
                            L" days are not named here: the Event Viewer shows them."));
  }
  if (reported == 0 && !readLogs.empty()) {
    findings.push_back(Ok(L"The event logs " + Listed(readLogs) +
                          L" name no block of the install's files or of cmd.exe in the last " +
                          std::to_wstring(EventDays) + L" days."));
  }
  if (const std::wstring list = UnreadLogs(facts); !list.empty()) {
    findings.push_back(
        Note(L"Cannot tell what Windows blocked before: the doctor could not read"
             L" the event logs " +
             list + L". Some of them need an administrator."));
  }
  return findings;
}

// --- Defender's rule against programs of low prevalence --------------------------------------

RuleAction ParseRuleAction(std::wstring_view value) {
  constexpr std::uint32_t WarnValue = 6;
  value = Trimmed(value);
  if (value.empty()) return RuleAction::NotSet;
  std::uint32_t number = 0;
  if (!LeadingNumber(value, number) ||
      value.find_first_not_of(L"0123456789") != std::wstring_view::npos) {
    return RuleAction::Unknown;
  }
  switch (number) {
    case 0:
      return RuleAction::Off;
    case 1:
      return RuleAction::Block;
    case 2:
      return RuleAction::Audit;
    case WarnValue:
      return RuleAction::Warn;
    default:
      return RuleAction::Unknown;
  }
}

RuleAction RuleActionInList(std::wstring_view list, std::wstring_view rule) {
  const std::wstring wanted = Lower(Trimmed(rule));
  for (std::size_t start = 0; start <= list.size();) {
    const std::size_t end = std::min(list.find(L'|', start), list.size());
    const std::wstring_view entry = list.substr(start, end - start);
    start = end + 1;
    const std::size_t equals = entry.find(L'=');
    if (equals == std::wstring_view::npos) continue;
    std::wstring_view name = Trimmed(entry.substr(0, equals));
    if (name.size() > 2 && name.front() == L'{' && name.back() == L'}') {
      name = name.substr(1, name.size() - 2);
    }
    if (Lower(name) == wanted) {
      const RuleAction action = ParseRuleAction(entry.substr(equals + 1));
      return action == RuleAction::NotSet ? RuleAction::Unknown : action;
    }
  }
  return RuleAction::NotSet;
}

Findings JudgePrevalenceRule(const PrevalenceFacts& facts) {
  RuleAction action = RuleActionInList(facts.managedList, PrevalenceRule);
  std::wstring by = L"device management";
  std::wstring value;
  if (action == RuleAction::NotSet && !(facts.policySwitchFound && facts.policySwitch == 0)) {
    action = ParseRuleAction(facts.policyValue);
    by = L"group policy";
    value = facts.policyValue;
  }
  if (action == RuleAction::NotSet) {
    action = ParseRuleAction(facts.localValue);
    by = L"Defender's own settings";
    value = facts.localValue;
  }
  const std::wstring rule = std::wstring(
                                L"Defender's attack surface reduction rule against"
                                L" programs of low prevalence (") +
                            PrevalenceRule + L")";
  switch (action) {
    case RuleAction::NotSet:
    case RuleAction::Off:
      return {};
    case RuleAction::Audit:
      return {Note(rule + L" is set to audit by " + by +
                   L": it records the programs it would block, and blocks none.")};
    case RuleAction::Unknown:
      return {Note(rule + L" has a value that the doctor does not know (" +
                   Quoted(Shortened(Trimmed(value))) + L", set by " + by +
                   L"): cannot tell whether it blocks Dunvelt.exe.")};
    case RuleAction::Block:
    case RuleAction::Warn:
      break;
  }
  return {Warning(
      rule + L" is set to " + (action == RuleAction::Block ? L"block" : L"warn") + L" by " + by +
      L": a new Dunvelt.exe, which few machines have run yet, has no prevalence, and"
      L" may be " +
      (action == RuleAction::Block ? L"blocked" : L"blocked unless the user allows it") +
      L". Ask the administrator for an exclusion of the install folder; signing the"
      L" install helps, but may not be enough until it has a reputation.")};
}

// --- All of them -----------------------------------------------------------------------------

GuardFindings JudgeGuards(const GuardFacts& facts) {
  GuardFindings all = JudgeArchiveFolder(facts.installFolder, facts.temporaryFolders);
  const auto add = [&](const Findings& findings) {
    all.findings.insert(all.findings.end(), findings.begin(), findings.end());
  };
  for (const GuardFindings& part : {JudgeSignatures(facts.signatures), JudgeMarks(facts.marks)}) {
    add(part.findings);
    all.stopsLaunch = all.stopsLaunch || part.stopsLaunch;
  }
  add(JudgePrevalenceRule(facts.prevalence));
  add(JudgeEventLogs(facts.events));
  return all;
}

}  // namespace dunvelt::doctor
