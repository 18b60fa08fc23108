// What the doctor makes of Windows' own guards, which block a program without a word from it: the
// install's signatures and Smart App Control, the mark of the web, a zip's temporary folder, the
// blocks that the event logs record, and Defender's rule against programs of low prevalence. Pure
// text work with no platform include: doctor/guard_checks.cpp gathers the facts on Windows, and
// the host unit tests and the fuzz targets drive every parser here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "diagnosis.h"

namespace dunvelt::doctor {

// A guard's findings, and whether one of them blocks the launcher or the runtime, so that no
// launch can start the application.
struct GuardFindings {
  Findings findings;
  bool stopsLaunch = false;
};

// --- Signatures ------------------------------------------------------------------------------

// WinVerifyTrust's answers that the doctor tells apart.
inline constexpr std::uint32_t TrustProviderUnknown = 0x800B0001;  // TRUST_E_PROVIDER_UNKNOWN
inline constexpr std::uint32_t TrustSubjectFormUnknown =
    0x800B0003;                                                 // TRUST_E_SUBJECT_FORM_UNKNOWN
inline constexpr std::uint32_t TrustNoSignature = 0x800B0100;   // TRUST_E_NOSIGNATURE
inline constexpr std::uint32_t CertExpired = 0x800B0101;        // CERT_E_EXPIRED
inline constexpr std::uint32_t CertUntrustedRoot = 0x800B0109;  // CERT_E_UNTRUSTEDROOT
inline constexpr std::uint32_t CertChaining = 0x800B010A;       // CERT_E_CHAINING
inline constexpr std::uint32_t TrustBadDigest = 0x80096010;     // TRUST_E_BAD_DIGEST

enum class Signature { Valid, Unsigned, Altered, Untrusted, Expired, Other };

Signature SignatureOf(std::uint32_t trustResult);

// "TRUST_E_BAD_DIGEST", or the number as Windows shows it: "0x80092026".
std::wstring TrustResultName(std::uint32_t trustResult);

// The PE files that the doctor checks: Dunvelt.exe, and every .exe and .dll of bin\ and lib\.
inline constexpr std::size_t MostFilesChecked = 5000;

struct SignatureFacts {
  struct File {
    std::wstring path;       // relative to the install folder
    std::wstring readError;  // why it could not be opened, in the platform's words; else empty
    std::uint32_t trustResult = 0;
  };
  std::vector<File> files;
  std::size_t notChecked = 0;  // PE files past MostFilesChecked
  struct Unlisted {
    std::wstring folder;  // relative to the install folder
    std::wstring error;   // with the platform's words
  };
  std::vector<Unlisted> unlistedFolders;
  // Smart App Control's VerifiedAndReputablePolicyState: 0 off, 1 on, 2 evaluation.
  bool smartAppControlFound = false;  // false: this Windows has none
  std::uint32_t smartAppControl = 0;
  std::wstring smartAppControlError;  // why it could not be read, other than its absence
};

GuardFindings JudgeSignatures(const SignatureFacts& facts);

// --- The mark of the web ---------------------------------------------------------------------

// A file's Zone.Identifier stream, as its INI text says.
struct ZoneIdentifier {
  bool hasZone = false;
  std::uint32_t zone = 0;  // 0 this computer, 1 intranet, 2 trusted, 3 Internet, 4 restricted
  std::wstring hostUrl;
  std::wstring referrerUrl;
};

// The stream's bytes, in UTF-8 or UTF-16LE, with or without a byte order mark, CR LF or LF lines;
// what it cannot read it leaves out.
ZoneIdentifier ParseZoneIdentifier(std::string_view bytes);

inline constexpr std::uint32_t ZoneInternet = 3;
inline constexpr std::uint32_t ZoneRestricted = 4;

struct MarkFacts {
  std::wstring installFolder;
  struct File {
    std::wstring path;       // relative to the install folder
    bool hasStream = false;  // it has a Zone.Identifier stream
    std::string stream;      // its bytes, up to a bound
    std::wstring readError;  // why the stream could not be read, other than its absence
  };
  std::vector<File> files;
};

GuardFindings JudgeMarks(const MarkFacts& facts);

// --- A zip's temporary folder ----------------------------------------------------------------

// The folder of the temporary folder (one spelling of it each) that Explorer or an archiver made
// for a zip opened without extracting it, and that holds the install: "Temp1_orbisk.zip",
// "Rar$EXa1234.5678", "7zO1A2B3C4D" or "wz1234"; empty when it is not in one.
std::wstring ArchiveTemporaryFolder(const std::wstring& installFolder,
                                    const std::vector<std::wstring>& temporaryFolders);

GuardFindings JudgeArchiveFolder(const std::wstring& installFolder,
                                 const std::vector<std::wstring>& temporaryFolders);

// --- The event logs --------------------------------------------------------------------------

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
inline constexpr std::size_t MostEventsReported = 10;
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

// The XPath query of a log's blocks in the last EventDays days.
std::wstring EventQuery(const std::vector<std::uint32_t>& ids);

Findings JudgeEventLogs(const EventLogFacts& facts);

// --- Defender's rule against programs of low prevalence --------------------------------------

// "Block executable files from running unless they meet a prevalence, age, or trusted list
// criterion".
inline constexpr const wchar_t* PrevalenceRule = L"01443614-cd74-433a-b99e-2ecdc07bfc25";

enum class RuleAction { NotSet, Off, Block, Audit, Warn, Unknown };

// A rule's value: "0" off, "1" block, "2" audit, "6" warn; blanks around it allowed.
RuleAction ParseRuleAction(std::wstring_view value);

// The rule's value in a list of "GUID=value" separated by '|', as device management writes it;
// NotSet when the list does not name the rule.
RuleAction RuleActionInList(std::wstring_view list, std::wstring_view rule);

struct PrevalenceFacts {
  // Group policy: its switch ExploitGuard_ASR_Rules, and the rule's value in its Rules key.
  bool policySwitchFound = false;
  std::uint32_t policySwitch = 0;
  std::wstring policyValue;  // empty: not set
  std::wstring managedList;  // device management's ASRRules list; empty: none
  std::wstring localValue;   // Defender's own setting (Set-MpPreference); empty: not set
};

Findings JudgePrevalenceRule(const PrevalenceFacts& facts);

// --- All of them -----------------------------------------------------------------------------

struct GuardFacts {
  std::wstring installFolder;
  std::vector<std::wstring> temporaryFolders;
  SignatureFacts signatures;
  MarkFacts marks;
  PrevalenceFacts prevalence;
  EventLogFacts events;
};

GuardFindings JudgeGuards(const GuardFacts& facts);

}  // namespace dunvelt::doctor
