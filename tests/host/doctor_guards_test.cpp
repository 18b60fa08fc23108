#include "guards.h"

#include <gtest/gtest.h>

#include <string>

#include "printed.h"

namespace dunvelt::doctor {
namespace {

// --- Signatures ------------------------------------------------------------------------------

class Signatures : public ::testing::Test {
 protected:
  Signatures() {
    facts.files = {{L"Dunvelt.exe", L"", 0},
                   {L"bin\\java.exe", L"", 0},
                   {L"bin\\unsigned.dll", L"", TrustNoSignature},
                   {L"bin\\altered.dll", L"", TrustBadDigest}};
  }
  void SmartAppControl(std::uint32_t state) {
    facts.smartAppControlFound = true;
    facts.smartAppControl = state;
  }
  SignatureFacts facts;
};

TEST_F(Signatures, ClassifiesWhatWinVerifyTrustSays) {
  EXPECT_EQ(SignatureOf(0), Signature::Valid);
  EXPECT_EQ(SignatureOf(0x800B0100), Signature::Unsigned);
  EXPECT_EQ(SignatureOf(0x800B0003), Signature::Unsigned);
  EXPECT_EQ(SignatureOf(0x80096010), Signature::Altered);
  EXPECT_EQ(SignatureOf(0x800B0109), Signature::Untrusted);
  EXPECT_EQ(SignatureOf(0x800B010A), Signature::Untrusted);
  EXPECT_EQ(SignatureOf(0x800B0101), Signature::Expired);
  EXPECT_EQ(SignatureOf(0x800B0001), Signature::Other);
  EXPECT_EQ(TrustResultName(0x800B0001), L"TRUST_E_PROVIDER_UNKNOWN");
  EXPECT_EQ(TrustResultName(0x80092026), L"0x80092026");
}

// With Smart App Control on, every file it blocks is a problem of its own, and no launch can
// start; an altered file is a problem whatever it is set to.
TEST_F(Signatures, SmartAppControlOnBlocksEachUnsignedFileAndStopsTheLaunch) {
  SmartAppControl(1);
  GuardFindings judged = JudgeSignatures(facts);
  EXPECT_TRUE(Says(judged.findings,
                   L"PROBLEM: Smart App Control is on and blocks bin\\unsigned.dll, which is not"
                   L" signed: sign it; scripts/sign-install.sh"));
  EXPECT_TRUE(Says(judged.findings,
                   L"PROBLEM: bin\\altered.dll was changed after it was signed"
                   L" (TRUST_E_BAD_DIGEST)"));
  EXPECT_EQ(Summary(judged.findings), L"2 problems, 0 warnings");
  EXPECT_TRUE(judged.stopsLaunch);

  SmartAppControl(0);
  judged = JudgeSignatures(facts);
  EXPECT_TRUE(Says(judged.findings,
                   L"WARNING: 1 of the 4 programs and DLLs of the install are not signed, or not"
                   L" so that Windows trusts them: bin\\unsigned.dll. Smart App Control is off"));
  EXPECT_EQ(Summary(judged.findings), L"1 problems, 1 warnings");
  EXPECT_FALSE(judged.stopsLaunch);

  SmartAppControl(2);
  judged = JudgeSignatures(facts);
  EXPECT_TRUE(Says(judged.findings, L"Smart App Control is in evaluation on this Windows"));
  EXPECT_EQ(Summary(judged.findings), L"1 problems, 1 warnings");
}

// As on Windows 10 and under every test install: unsigned, and nothing here that blocks it.
TEST_F(Signatures, UnsignedWhereThereIsNoSmartAppControlIsANote) {
  facts.files.pop_back();
  const GuardFindings judged = JudgeSignatures(facts);
  EXPECT_TRUE(Says(judged.findings, L"NOTE: 1 of the 3 programs and DLLs"));
  EXPECT_TRUE(Says(judged.findings, L"This Windows has no Smart App Control"));
  EXPECT_EQ(Summary(judged.findings), L"0 problems, 0 warnings");
  EXPECT_FALSE(judged.stopsLaunch);

  facts.files.pop_back();
  EXPECT_EQ(Printed(JudgeSignatures(facts).findings),
            L"OK: All 2 programs and DLLs of the install are signed.\n");
}

TEST_F(Signatures, NamesWhatItCannotTellAndBoundsWhatItLists) {
  facts.files = {{L"bin\\locked.dll", L"Sharing violation, error 32", 0},
                 {L"bin\\odd.dll", L"", 0x80092026},
                 {L"bin\\old.dll", L"", CertExpired},
                 {L"Dunvelt.exe", L"", 0}};
  facts.notChecked = 7;
  facts.unlistedFolders = {{L"lib\\secret", L"Access is denied, error 5"}};
  facts.smartAppControlError = L"Access is denied, error 5";
  const Findings findings = JudgeSignatures(facts).findings;
  EXPECT_TRUE(Says(findings, L"NOTE: Cannot tell whether Smart App Control is on"));
  EXPECT_TRUE(Says(findings,
                   L"WARNING: Cannot tell whether Windows trusts the signatures of"
                   L" bin\\odd.dll (0x80092026)"));
  EXPECT_TRUE(Says(findings,
                   L"bin\\old.dll (its certificate has expired and the signature has"
                   L" no timestamp, CERT_E_EXPIRED)"));
  EXPECT_TRUE(Says(findings, L"NOTE: The doctor could not read bin\\locked.dll (Sharing"));
  EXPECT_TRUE(Says(findings, L"NOTE: The doctor could not list the folder lib\\secret"));
  EXPECT_TRUE(Says(findings, L"NOTE: The install has 7 more programs and DLLs than the 5000"));
  EXPECT_FALSE(Says(findings, L"OK:"));

  facts = {};
  SmartAppControl(1);
  for (int i = 0; i < 12; ++i)
    facts.files.push_back({L"lib\\" + std::to_wstring(i), L"", 0x800B0100});
  const GuardFindings many = JudgeSignatures(facts);
  EXPECT_EQ(Summary(many.findings), L"11 problems, 0 warnings");
  EXPECT_TRUE(Says(many.findings, L"PROBLEM: 2 more programs and DLLs of the install"));
}

// --- The mark of the web ---------------------------------------------------------------------

TEST(Marks, ReadsTheZoneInEveryEncodingAndLineEnd) {
  ZoneIdentifier zone = ParseZoneIdentifier(
      "[ZoneTransfer]\r\nZoneId=3\r\nReferrerUrl=https://example.com/\r\n"
      "HostUrl=https://example.com/orbisk.zip\r\n");
  EXPECT_TRUE(zone.hasZone);
  EXPECT_EQ(zone.zone, 3U);
  EXPECT_EQ(zone.hostUrl, L"https://example.com/orbisk.zip");
  EXPECT_EQ(zone.referrerUrl, L"https://example.com/");

  const std::string utf16(
      "\xFF\xFE[\0Z\0o\0n\0e\0T\0r\0a\0n\0s\0f\0e\0r\0]\0\n\0Z\0o\0n\0e\0I\0d\0"
      "=\0004\0",
      50);
  zone = ParseZoneIdentifier(utf16);
  EXPECT_TRUE(zone.hasZone);
  EXPECT_EQ(zone.zone, 4U);

  zone = ParseZoneIdentifier("\xEF\xBB\xBF  [ zonetransfer ]\n zoneid = 3 \nZoneId=0\n");
  EXPECT_EQ(zone.zone, 3U);  // the first one counts
  EXPECT_FALSE(ParseZoneIdentifier("[Other]\nZoneId=3\n").hasZone);
  EXPECT_FALSE(ParseZoneIdentifier("ZoneId=3\n").hasZone);
  EXPECT_FALSE(ParseZoneIdentifier("[ZoneTransfer]\nZoneId=x3\n").hasZone);
  EXPECT_FALSE(ParseZoneIdentifier(std::string("\xFF\xFE\xFF", 3)).hasZone);
  EXPECT_EQ(ParseZoneIdentifier("[ZoneTransfer]\nHostUrl=http://\xC3\xA9\xFF\nZoneId=3").hostUrl,
            L"http://\u00e9\ufffd");
}

TEST(Marks, WarnsOfTheInternetZoneAndStopsTheLaunchInTheRestrictedOne) {
  MarkFacts facts;
  facts.installFolder = L"C:\\Orbisk";
  facts.files = {
      {L"Dunvelt.exe", true, "[ZoneTransfer]\nZoneId=3\nHostUrl=https://x.test/o.zip", L""},
      {L"bin\\java.exe", false, "", L""},
      {L"bin\\jli.dll", true, "[ZoneTransfer]\nZoneId=2\n", L""}};
  GuardFindings judged = JudgeMarks(facts);
  EXPECT_EQ(
      Printed(judged.findings)
          .rfind(L"WARNING: Dunvelt.exe is marked as downloaded from the Internet (mark of the"
                 L" web, zone 3, from https://x.test/o.zip): SmartScreen asks",
                 0),
      0U);
  EXPECT_TRUE(Says(judged.findings, L"Get-ChildItem -Recurse \"C:\\Orbisk\" | Unblock-File"));
  EXPECT_EQ(judged.findings.size(), 1U);
  EXPECT_FALSE(judged.stopsLaunch);

  facts.files[1] = {L"bin\\java.exe", true, "[ZoneTransfer]\r\nZoneId=4\r\n", L""};
  facts.files.push_back({L"bin\\awt.dll", true, "garbage", L""});
  facts.files.push_back({L"bin\\net.dll", false, "", L"Access is denied, error 5"});
  judged = JudgeMarks(facts);
  EXPECT_TRUE(Says(judged.findings,
                   L"PROBLEM: bin\\java.exe is marked as coming from a restricted"
                   L" site (mark of the web, zone 4)"));
  EXPECT_TRUE(Says(judged.findings, L"NOTE: bin\\awt.dll has a mark of the web"));
  EXPECT_TRUE(Says(judged.findings,
                   L"NOTE: Cannot tell whether these files carry a mark of the"
                   L" web: bin\\net.dll (Access is denied, error 5)."));
  EXPECT_TRUE(judged.stopsLaunch);
}

// --- A zip's temporary folder ----------------------------------------------------------------

TEST(ArchiveFolder, KnowsExplorersAndTheArchiversTemporaryFolders) {
  const std::vector<std::wstring> temps = {L"C:\\Users\\ANA~1\\AppData\\Local\\Temp\\",
                                           L"C:\\Users\\ana\\AppData\\Local\\Temp"};
  const std::wstring temp = L"c:\\users\\ana\\appdata\\local\\temp\\";
  EXPECT_EQ(ArchiveTemporaryFolder(temp + L"Temp1_orbisk.zip\\orbisk", temps), L"Temp1_orbisk.zip");
  EXPECT_EQ(ArchiveTemporaryFolder(temp + L"Temp12_a b.zip", temps), L"Temp12_a b.zip");
  EXPECT_EQ(ArchiveTemporaryFolder(temp + L"Rar$EXa1234.5678\\orbisk", temps), L"Rar$EXa1234.5678");
  EXPECT_EQ(ArchiveTemporaryFolder(temp + L"7zO8A1F2B3C\\orbisk", temps), L"7zO8A1F2B3C");
  EXPECT_EQ(ArchiveTemporaryFolder(temp + L"wz4f21\\orbisk", temps), L"wz4f21");
  EXPECT_EQ(ArchiveTemporaryFolder(L"C:\\Users\\ANA~1\\AppData\\Local\\Temp\\Temp1_o.zip", temps),
            L"Temp1_o.zip");
  for (const std::wstring& elsewhere :
       {temp + L"orbisk", temp + L"Temp_orbisk.zip", temp + L"Temporary\\x", temp + L"Temp1x_a",
        std::wstring(L"C:\\Temp1_orbisk.zip\\orbisk"), temp.substr(0, temp.size() - 1),
        std::wstring(L"C:\\Users\\ana\\AppData\\Local\\Temp1_orbisk.zip")}) {
    EXPECT_EQ(ArchiveTemporaryFolder(elsewhere, temps), L"") << elsewhere;
  }
  EXPECT_EQ(ArchiveTemporaryFolder(temp + L"Temp1_a.zip", {L"", L"\\"}), L"");

  const GuardFindings judged = JudgeArchiveFolder(temp + L"Temp1_orbisk.zip\\orbisk", temps);
  EXPECT_TRUE(Says(judged.findings, L"PROBLEM: The install folder is inside \"Temp1_orbisk.zip\""));
  EXPECT_TRUE(Says(judged.findings, L"Extract all first"));
  EXPECT_TRUE(judged.stopsLaunch);
  EXPECT_TRUE(JudgeArchiveFolder(temp + L"orbisk", temps).findings.empty());
}

// --- The event logs --------------------------------------------------------------------------

const wchar_t* const CodeIntegrityEvent =
    LR"(<Event xmlns='http://schemas.microsoft.com/win/2004/08/events/event'><System>)"
    LR"(<Provider Name='Microsoft-Windows-CodeIntegrity' Guid='{4ee76bd8}'/><EventID>3033</EventID>)"
    LR"(<TimeCreated SystemTime='2024-05-01T10:22:13.1234567Z'/></System><EventData>)"
    LR"(<Data Name='File NameLength'>52</Data>)"
    LR"(<Data Name='File Name'>\Device\HarddiskVolume3\Program Files\Orbisk\bin\jli.dll</Data>)"
    LR"(<Data Name='Process Name'>\Device\HarddiskVolume3\Program Files\Orbisk\bin\java.exe</Data>)"
    LR"(</EventData></Event>)";

TEST(EventLogs, ReadsTheTimeTheIdAndTheFilesOfAnEvent) {
  GuardEvent event = ParseEventXml(CodeIntegrityEvent);
  ASSERT_TRUE(event.parsed);
  EXPECT_EQ(event.id, 3033U);
  EXPECT_EQ(event.time, L"2024-05-01T10:22:13.1234567Z");
  ASSERT_EQ(event.fields.size(), 3U);
  EXPECT_EQ(event.fields[1].name, L"File Name");
  EXPECT_EQ(event.fields[1].value,
            L"\\Device\\HarddiskVolume3\\Program Files\\Orbisk\\bin\\jli.dll");

  // AppLocker's, in UserData; escaped, in CDATA, and after a comment.
  event = ParseEventXml(
      L"<?xml version='1.0'?><Event><System><EventID Qualifiers=\"0\">8004</EventID></System>"
      L"<UserData><RuleAndFileData xmlns=\"x\"><!-- <EventID>1</EventID> -->"
      L"<FilePath>%OSDRIVE%\\ORBISK\\DUNVELT.EXE</FilePath>"
      L"<FullFilePath>C:\\Orbisk\\R&amp;D &#x3A9;&#937;\\Dunvelt.exe</FullFilePath>"
      L"<Fqbn><![CDATA[O=A&B]]></Fqbn></RuleAndFileData></UserData></Event>");
  ASSERT_TRUE(event.parsed);
  EXPECT_EQ(event.id, 8004U);
  ASSERT_EQ(event.fields.size(), 3U);
  EXPECT_EQ(event.fields[0].name, L"filepath");
  EXPECT_EQ(event.fields[1].value, L"C:\\Orbisk\\R&D \u03a9\u03a9\\Dunvelt.exe");
  EXPECT_EQ(event.fields[2].value, L"O=A&B");

  EXPECT_FALSE(ParseEventXml(L"<Event><System><EventID>x</EventID></System></Event>").parsed);
  EXPECT_FALSE(ParseEventXml(L"<Event><EventData><EventID>5</EventID></EventData>").parsed);
  EXPECT_FALSE(ParseEventXml(L"<<<>>'\"</").parsed);
}

TEST(EventLogs, MatchesTheInstallsFilesInEveryFormOfTheirPath) {
  const std::wstring folder = L"C:\\Program Files\\Orbisk";
  EXPECT_TRUE(NamesFileIn(L"C:\\program files\\orbisk\\bin\\java.exe", folder));
  EXPECT_TRUE(
      NamesFileIn(L"\\Device\\HarddiskVolume3\\Program Files\\Orbisk\\Dunvelt.exe", folder));
  EXPECT_TRUE(NamesFileIn(L"\\\\?\\C:\\Program Files\\Orbisk\\bin\\jli.dll", folder));
  EXPECT_TRUE(NamesFileIn(L"%OSDRIVE%\\PROGRAM FILES\\ORBISK\\DUNVELT.EXE", folder));
  EXPECT_FALSE(NamesFileIn(L"D:\\Program Files\\Orbisk\\Dunvelt.exe", folder));
  EXPECT_FALSE(NamesFileIn(L"C:\\Program Files\\Orbisk2\\Dunvelt.exe", folder));
  EXPECT_FALSE(NamesFileIn(L"C:\\Program Files\\Orbisk", folder));
  EXPECT_FALSE(NamesFileIn(L"Dunvelt.exe", folder));
  EXPECT_TRUE(NamesFileIn(L"\\Device\\Mup\\server\\apps\\Orbisk\\bin\\java.exe",
                          L"\\\\server\\apps\\Orbisk"));
  EXPECT_TRUE(NamesFileIn(L"\\Device\\HarddiskVolume2\\Dunvelt.exe", L"E:\\"));
}

TEST(EventLogs, NamesEachBlockOfTheInstallAndEveryLogItCouldNotRead) {
  EventLogFacts facts;
  facts.installFolder = L"C:\\Program Files\\Orbisk";
  const std::wstring other =
      LR"(<Event><System><EventID>1121</EventID></System><EventData>)"
      LR"(<Data Name='Path'>C:\Tools\other.exe</Data></EventData></Event>)";
  const std::wstring cmd =
      LR"(<Event><System><EventID>1121</EventID><TimeCreated )"
      LR"(SystemTime="2024-05-02T08:00:00.5Z"/></System><EventData>)"
      LR"(<Data Name='Path'>C:\Windows\System32\cmd.exe</Data></EventData>)"
      LR"(</Event>)";
  const std::wstring loaded =
      LR"(<Event><System><EventID>3077</EventID></System><EventData><Data Name='File Name'>)"
      LR"(C:\Windows\System32\odd.dll</Data><Data Name='Process Name'>C:\Program Files\Orbisk\)"
      LR"(bin\java.exe</Data></EventData></Event>)";
  facts.logs = {{L"Microsoft-Windows-CodeIntegrity/Operational",
                 true,
                 L"",
                 {CodeIntegrityEvent, L"<broken", other, loaded}},
                {L"Microsoft-Windows-Windows Defender/Operational", true, L"", {cmd}},
                {L"Microsoft-Windows-AppLocker/EXE and DLL",
                 false,
                 L"The specified channel could not be found, error 15007",
                 {}}};
  Findings findings = JudgeEventLogs(facts);
  EXPECT_TRUE(Says(
      findings, L"PROBLEM: On 2024-05-01 10:22:13 UTC, Code Integrity kept a file from loading"));
  EXPECT_TRUE(Says(findings,
                   L": bin\\jli.dll (event 3033 in"
                   L" Microsoft-Windows-CodeIntegrity/Operational)"));
  EXPECT_TRUE(Says(findings,
                   L"PROBLEM: On 2024-05-02 08:00:00 UTC, Defender's attack surface"
                   L" reduction blocked a file: C:\\Windows\\System32\\cmd.exe"));
  EXPECT_TRUE(Says(findings,
                   L"NOTE: 1 events of Microsoft-Windows-CodeIntegrity/Operational"
                   L" could not be read"));
  EXPECT_TRUE(Says(findings,
                   L"NOTE: Cannot tell what Windows blocked before: the doctor could"
                   L" not read the event logs Microsoft-Windows-AppLocker/EXE and DLL"
                   L" (The specified channel could not be found, error 15007)."));
  EXPECT_TRUE(Says(findings,
                   L"PROBLEM: At an unknown time, an application control policy"
                   L" blocked a file: C:\\Windows\\System32\\odd.dll, for bin\\java.exe"));
  EXPECT_FALSE(Says(findings, L"other.exe"));
  EXPECT_EQ(Summary(findings), L"3 problems, 0 warnings");

  facts.logs[0].events.assign(11, CodeIntegrityEvent);
  facts.logs[1].events = {other};
  facts.logs[2] = {L"Microsoft-Windows-AppLocker/EXE and DLL",
                   false,
                   L"The specified channel could not be found, error 15007",
                   {}};
  findings = JudgeEventLogs(facts);
  EXPECT_EQ(Summary(findings), L"10 problems, 0 warnings");
  EXPECT_TRUE(Says(findings, L"NOTE: 1 more such events of the last 7 days"));

  facts.logs[0].events.clear();
  facts.logs[1].read = false;
  facts.logs[1].error = facts.logs[2].error;
  EXPECT_EQ(Printed(JudgeEventLogs(facts)),
            L"OK: The event logs Microsoft-Windows-CodeIntegrity/Operational name no block of the"
            L" install's files or of cmd.exe in the last 7 days.\n"
            L"NOTE: Cannot tell what Windows blocked before: the doctor could not read the event"
            L" logs Microsoft-Windows-Windows Defender/Operational and"
            L" Microsoft-Windows-AppLocker/EXE and DLL (The specified channel could not be found,"
            L" error 15007). Some of them need an administrator.\n");
}

TEST(EventLogs, AsksForTheLastSevenDaysOfTheGivenEvents) {
  EXPECT_EQ(EventQuery({3033, 3076, 3077}),
            L"*[System[(EventID=3033 or EventID=3076 or EventID=3077) and"
            L" TimeCreated[timediff(@SystemTime) <= 604800000]]]");
}

// --- Defender's rule against programs of low prevalence --------------------------------------

TEST(PrevalenceRule, ReadsTheRulesValueWhereverItIsSet) {
  EXPECT_EQ(ParseRuleAction(L""), RuleAction::NotSet);
  EXPECT_EQ(ParseRuleAction(L" 1 "), RuleAction::Block);
  EXPECT_EQ(ParseRuleAction(L"2"), RuleAction::Audit);
  EXPECT_EQ(ParseRuleAction(L"6"), RuleAction::Warn);
  EXPECT_EQ(ParseRuleAction(L"0"), RuleAction::Off);
  EXPECT_EQ(ParseRuleAction(L"5"), RuleAction::Unknown);
  EXPECT_EQ(ParseRuleAction(L"1x"), RuleAction::Unknown);
  const std::wstring list =
      L"75668c1f-73b5-4cf0-bb93-3ecf5cb7cc84=1| {01443614-CD74-433A-B99E-2ECDC07BFC25} = 6 |x";
  EXPECT_EQ(RuleActionInList(list, PrevalenceRule), RuleAction::Warn);
  EXPECT_EQ(RuleActionInList(L"75668c1f-73b5-4cf0-bb93-3ecf5cb7cc84=1", PrevalenceRule),
            RuleAction::NotSet);
  EXPECT_EQ(RuleActionInList(L"01443614-cd74-433a-b99e-2ecdc07bfc25=", PrevalenceRule),
            RuleAction::Unknown);

  PrevalenceFacts facts;
  EXPECT_TRUE(JudgePrevalenceRule(facts).empty());
  facts.policyValue = L"1";
  facts.localValue = L"2";
  EXPECT_TRUE(Says(JudgePrevalenceRule(facts),
                   L"WARNING: Defender's attack surface reduction rule against programs of low"
                   L" prevalence (01443614-cd74-433a-b99e-2ecdc07bfc25) is set to block by group"
                   L" policy: a new Dunvelt.exe"));
  // The policy's own switch turned off leaves the rule to Defender's settings.
  facts.policySwitchFound = true;
  EXPECT_TRUE(Says(JudgePrevalenceRule(facts), L"NOTE: Defender's attack surface reduction rule"));
  facts.managedList = L"01443614-cd74-433a-b99e-2ecdc07bfc25=6";
  EXPECT_TRUE(Says(JudgePrevalenceRule(facts), L"is set to warn by device management"));
}

TEST(Guards, StopTheLaunchOnlyForWhatBlocksTheLauncherOrTheRuntime) {
  GuardFacts facts;
  facts.installFolder = L"C:\\Orbisk";
  facts.signatures.files = {{L"Dunvelt.exe", L"", TrustNoSignature}};
  facts.prevalence.localValue = L"1";
  facts.events.logs = {{L"Microsoft-Windows-CodeIntegrity/Operational", false, L"error 50", {}}};
  GuardFindings judged = JudgeGuards(facts);
  EXPECT_EQ(Summary(judged.findings), L"0 problems, 1 warnings");
  EXPECT_FALSE(judged.stopsLaunch);
  facts.temporaryFolders = {L"C:\\"};
  facts.installFolder = L"C:\\Temp1_orbisk.zip";
  judged = JudgeGuards(facts);
  EXPECT_TRUE(judged.stopsLaunch);
  EXPECT_EQ(judged.findings.front().verdict, Verdict::Problem);
}

}  // namespace
}  // namespace dunvelt::doctor
