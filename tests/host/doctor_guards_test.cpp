#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "archive_folder.h"
#include "detection_rules.h"
#include "event_logs.h"
#include "findings.h"
#include "mark_of_the_web.h"
#include "prevalence_rule.h"
#include "signatures.h"
#include "text.h"

namespace dunvelt::doctor {
namespace {

class Signatures : public ::testing::Test {
 protected:
  Signatures() {
    facts.files = {Signed(L"Dunvelt.exe"),
                   Signed(L"bin\\java.exe"),
                   {L"bin\\unsigned.dll", L"", TrustNoSignature},
                   {L"bin\\altered.dll", L"", TrustBadDigest}};
  }
  // Signed as a packager signs: RSA, from a root of Microsoft's Trusted Root Program.
  static SignatureFacts::File Signed(std::wstring path) {
    SignatureFacts::File file{std::move(path)};
    file.signerKey = L"1.2.840.113549.1.1.1";
    file.root = L"DF3C24F9BFD666761B268073FE06D1CC8D4F82A4";
    file.rootInProgram = true;
    return file;
  }
  CheckResult Judged() const { return SignaturesCheck::Judge(facts); }
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
  EXPECT_EQ(SignatureOf(0x800B010C), Signature::Revoked);
  EXPECT_EQ(SignatureOf(0x800B0001), Signature::Other);
  EXPECT_EQ(TrustResultName(0x800B0001), L"TRUST_E_PROVIDER_UNKNOWN");
  EXPECT_EQ(TrustResultName(0x80092026), L"0x80092026");
  // WTD_REVOCATION_CHECK_NONE and WTD_CACHE_ONLY_URL_RETRIEVAL, as wintrust.h numbers them.
  EXPECT_EQ(TrustProviderFlags, 0x1010U);
  EXPECT_TRUE(LoadedByAStart(L"Dunvelt.exe"));
  EXPECT_TRUE(LoadedByAStart(L"BIN\\Java.exe"));
  EXPECT_TRUE(LoadedByAStart(L"bin\\server\\jvm.dll"));
  EXPECT_FALSE(LoadedByAStart(L"bin\\keytool.exe"));
  EXPECT_FALSE(LoadedByAStart(L"lib\\helper.dll"));
}

// With Smart App Control on, an unsigned file that a start loads is likely blocked, not surely:
// the launch still runs and shows it. Unsigned files that no start loads are blocked only where
// something loads them. An altered file is a problem whatever it is set to.
TEST_F(Signatures, SmartAppControlOnLikelyBlocksWhatAStartLoadsAndLeavesTheLaunchToShowIt) {
  facts.files.push_back({L"lib\\helper.dll", L"", TrustNoSignature});
  facts.smartAppControl = RegDword(1);
  const CheckResult on = Judged();
  EXPECT_EQ(Outline(on),
            "PROBLEM signatures.altered, WARNING signatures.likely-blocked, NOTE "
            "signatures.blocked-if-loaded, NOTE signatures.checked");
  EXPECT_EQ(Text(on, "signatures.likely-blocked", "file"), L"bin\\unsigned.dll");
  EXPECT_TRUE(Says(on, "signatures.blocked-if-loaded", L"lib\\helper.dll"));
  EXPECT_EQ(Number(on, "signatures.checked", "checked"), 5);
  facts.smartAppControl = RegDword(0);
  EXPECT_EQ(Outline(Judged()), "PROBLEM signatures.altered, WARNING signatures.not-trusted");
  facts.smartAppControl = RegDword(2);  // in evaluation: it may turn itself on
  EXPECT_EQ(Outline(Judged()), "PROBLEM signatures.altered, WARNING signatures.not-trusted");
  facts.smartAppControl = RegDword(7);  // a state of a later Windows
  EXPECT_EQ(Outline(Judged()),
            "NOTE signatures.smart-app-control-unknown, PROBLEM signatures.altered, WARNING "
            "signatures.not-trusted");
  EXPECT_EQ(Text(Judged(), "signatures.smart-app-control-unknown", "state"), L"7");
}

// Signed is not enough: only RSA signatures from roots of Microsoft's Trusted Root Program; a
// revoked certificate counts as none; a catalog's signature counts as the file's.
TEST_F(Signatures, JudgesSignaturesAsSmartAppControlDoes) {
  facts.smartAppControl = RegDword(1);
  facts.files.pop_back();
  facts.files.pop_back();
  EXPECT_EQ(Outline(Judged()), "OK signatures.ok");
  SignatureFacts::File& runtime = facts.files[1];
  runtime.signerKey = EcdsaKey;
  EXPECT_EQ(Outline(Judged()), "WARNING signatures.likely-blocked, NOTE signatures.checked");
  EXPECT_TRUE(Says(Judged(), "signatures.likely-blocked", L"ECDSA"));
  runtime = Signed(L"bin\\java.exe");
  runtime.rootInProgram = false;  // trusted only because someone added its root here
  EXPECT_TRUE(Says(Judged(), "signatures.likely-blocked", L"was added on this Windows"));
  facts.rootListError = L"File not found, error 2";  // then it may still be the program's
  EXPECT_EQ(Outline(Judged()), "NOTE signatures.cannot-tell, NOTE signatures.checked");
  runtime = {L"bin\\java.exe", L"", CertRevoked};
  EXPECT_TRUE(Says(Judged(), "signatures.likely-blocked", L"CERT_E_REVOKED"));
  // Without fetching, Windows may not complete a good chain.
  runtime.trustResult = CertUntrustedRoot;
  EXPECT_EQ(Outline(Judged()), "NOTE signatures.cannot-tell, NOTE signatures.checked");
  // Windows' own files and drivers are signed through a catalog.
  runtime = Signed(L"bin\\java.exe");
  runtime.trustResult = TrustNoSignature;
  runtime.catalog = L"C:\\Windows\\System32\\CatRoot\\{F750E6C3}\\runtime.cat";
  EXPECT_EQ(Outline(Judged()), "OK signatures.ok");
  runtime.catalogResult = TrustBadDigest;
  EXPECT_EQ(Outline(Judged()), "PROBLEM signatures.altered, NOTE signatures.checked");
}

// As on Windows 10 and under every test install: unsigned, and nothing here that blocks it.
TEST_F(Signatures, UnsignedWhereThereIsNoSmartAppControlIsANote) {
  facts.files.pop_back();
  EXPECT_EQ(Outline(Judged()), "NOTE signatures.not-trusted");
  facts.files.pop_back();
  EXPECT_EQ(Outline(Judged()), "OK signatures.ok");
  EXPECT_EQ(Number(Judged(), "signatures.ok", "checked"), 2);
}

TEST_F(Signatures, NamesWhatItCannotTellAndBoundsWhatItLists) {
  facts.files = {{L"bin\\locked.dll", L"Sharing violation, error 32", 0},
                 {L"bin\\odd.dll", L"", 0x80092026},
                 {L"bin\\old.dll", L"", CertExpired},
                 Signed(L"Dunvelt.exe")};
  facts.notChecked = 7;
  facts.unlistedFolders = {{L"lib\\secret", L"Access is denied, error 5"}};
  facts.smartAppControl.error = L"Access is denied, error 5";
  // Unread, Smart App Control may be on, and block old.dll.
  EXPECT_EQ(Outline(Judged()),
            "NOTE signatures.smart-app-control-unread, WARNING signatures.not-trusted, WARNING "
            "signatures.unknown, NOTE signatures.unread, NOTE signatures.folder-unlisted, NOTE "
            "signatures.too-many");
  facts = {};
  facts.smartAppControl = RegDword(1);
  for (int i = 0; i < 12; ++i)
    facts.files.push_back({L"bin\\" + std::to_wstring(i) + L".dll", L"", 0x800B0100});
  const CheckResult many = Judged();
  EXPECT_EQ(many.findings[9].id, "signatures.likely-blocked");
  EXPECT_EQ(many.findings[10].id, "signatures.more-likely-blocked");
  EXPECT_EQ(Summary(many.findings), L"0 problems, 11 warnings");
  EXPECT_FALSE(many.stopsLaunch);
}

// SigmaHQ's "Potential JLI.dll Side-Loading" stays quiet only for a signed OpenJDK jli.dll under
// Program Files on drive C; anywhere else, and for any other vendor's strings, every start trips
// it.
TEST(DetectionRules, SaysWhereThePublicJliRuleFires) {
  DetectionFacts jli{true,
                     LR"(C:\Program Files\Orbisk\bin\jli.dll)",
                     L"",
                     0,
                     L"jli.dll",
                     L"OpenJDK Platform binary",
                     L"OpenJDK Platform 21.0.5",
                     L""};
  EXPECT_EQ(Outline(DetectionRulesCheck::Judge(jli)), "OK detection.jli-quiet");
  jli.path = LR"(\\?\c:\program files (x86)\Orbisk\bin\JLI.DLL)";
  EXPECT_EQ(Outline(DetectionRulesCheck::Judge(jli)), "OK detection.jli-quiet");
  const auto fires = [](const DetectionFacts& facts, std::wstring_view because) {
    const CheckResult result = DetectionRulesCheck::Judge(facts);
    EXPECT_EQ(Outline(result), "WARNING detection.jli-side-loading") << Utf8(facts.path);
    EXPECT_TRUE(Says(result, "detection.jli-side-loading", because)) << Utf8(because);
    EXPECT_TRUE(
        Says(result, "detection.jli-side-loading", L"7a3b6d1f-4a2b-4f8c-9d7e-e9f8cbf21a35"));
  };
  for (const wchar_t* folder :
       {LR"(C:\Users\ana\AppData\Local\Programs\Orbisk)", LR"(D:\Program Files\Orbisk)",
        LR"(C:\Users\ana\Downloads\Orbisk)",
        LR"(C:\Users\ana\AppData\Local\Temp\Temp1_Orbisk-1.0.zip\Orbisk)"}) {
    DetectionFacts elsewhere = jli;
    elsewhere.path = folder + std::wstring(LR"(\bin\jli.dll)");
    fires(elsewhere, L"install the application machine-wide under C:\\Program Files\\");
  }
  DetectionFacts shared = jli;  // on a file server, as Sysmon names it
  shared.path = LR"(\\?\UNC\fs\apps\Orbisk\bin\jli.dll)";
  fires(shared, LR"(loads \\fs\apps\Orbisk\bin\jli.dll and it lies outside)");
  DetectionFacts unsignedJli = jli;
  unsignedJli.trustResult = TrustNoSignature;
  fires(unsignedJli, L"not validly signed (TRUST_E_NOSIGNATURE)");
  unsignedJli.originalFileName = unsignedJli.fileDescription = unsignedJli.productName = L"";
  fires(unsignedJli, L"it has no version resource that names it");
  DetectionFacts oracle = jli;
  oracle.fileDescription = L"Java(TM) Platform SE binary";
  oracle.productName = L"Java(TM) Platform SE 21.0.5";
  fires(oracle, L"description \"Java(TM) Platform SE binary\"");
  DetectionFacts described = jli;  // the product reads OpenJDK's, the description not exactly
  described.fileDescription = L"OpenJDK Platform launcher";
  fires(described, L"description \"OpenJDK Platform launcher\"");
  DetectionFacts eclipse = oracle;
  eclipse.path = LR"(C:\eclipse\plugins\jre\bin\jli.dll)";
  EXPECT_EQ(Outline(DetectionRulesCheck::Judge(eclipse)), "OK detection.jli-quiet");
  EXPECT_EQ(Outline(DetectionRulesCheck::Judge({})), "NOTE detection.jli-absent");
}

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
      {L"Dunvelt.exe", true, {"[ZoneTransfer]\nZoneId=3\nHostUrl=https://x.test/o.zip"}, L""},
      {L"bin\\java.exe", false, {}, L""},
      {L"bin\\jli.dll", true, {"[ZoneTransfer]\nZoneId=2\n"}, L""}};
  CheckResult result = MarkOfTheWebCheck::Judge(facts);
  EXPECT_EQ(Outline(result), "WARNING mark.internet");
  EXPECT_EQ(Text(result, "mark.internet", "file"), L"Dunvelt.exe");
  EXPECT_EQ(Text(result, "mark.internet", "from"), L"https://x.test/o.zip");
  EXPECT_TRUE(
      Says(result, "mark.internet", L"Get-ChildItem -Recurse \"C:\\Orbisk\" | Unblock-File"));
  facts.files[1] = {L"bin\\java.exe", true, {"[ZoneTransfer]\r\nZoneId=4\r\n"}, L""};
  facts.files.push_back({L"bin\\awt.dll", true, {"garbage"}, L""});
  facts.files.push_back({L"bin\\net.dll", false, {}, L"Access is denied, error 5"});
  result = MarkOfTheWebCheck::Judge(facts);
  EXPECT_EQ(Outline(result),
            "PROBLEM mark.restricted, WARNING mark.internet, NOTE mark.unreadable, NOTE "
            "mark.unread; stops the launch");
  EXPECT_EQ(Text(result, "mark.restricted", "file"), L"bin\\java.exe");
  EXPECT_EQ(Number(result, "mark.restricted", "zone"), 4);
}

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
  const CheckResult result = ArchiveFolderCheck::Judge({temp + L"Temp1_orbisk.zip\\orbisk", temps});
  EXPECT_EQ(Outline(result), "PROBLEM guards.zip-folder; stops the launch");
  EXPECT_EQ(Text(result, "guards.zip-folder", "folder"), L"Temp1_orbisk.zip");
  EXPECT_EQ(Outline(ArchiveFolderCheck::Judge({temp + L"orbisk", temps})), "");
}

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
  const std::wstring unfound = L"The specified channel could not be found, error 15007";
  const std::vector<std::wstring> integrity{CodeIntegrityEvent, L"<broken", other, loaded};
  facts.logs = {{L"Microsoft-Windows-CodeIntegrity/Operational", true, L"", integrity},
                {L"Microsoft-Windows-Windows Defender/Operational", true, L"", {cmd}},
                {L"Microsoft-Windows-AppLocker/EXE and DLL", false, unfound, {}}};
  CheckResult result = EventLogsCheck::Judge(facts);
  // Nothing of other.exe; and blocks before stop no launch: the launch check shows any now.
  EXPECT_EQ(Outline(result),
            "PROBLEM events.code-integrity-blocked, PROBLEM events.policy-blocked, NOTE "
            "events.unparsed, PROBLEM events.asr-blocked, NOTE events.unread-logs");
  EXPECT_EQ(Text(result, "events.code-integrity-blocked", "file"), L"bin\\jli.dll");
  EXPECT_EQ(Number(result, "events.code-integrity-blocked", "event"), 3033);
  EXPECT_EQ(
      Find(result, "events.code-integrity-blocked")->text.rfind(L"On 2024-05-01 10:22:13 UTC", 0),
      0U);
  EXPECT_EQ(Text(result, "events.asr-blocked", "file"), L"C:\\Windows\\System32\\cmd.exe");
  EXPECT_EQ(Text(result, "events.policy-blocked", "file"),
            L"C:\\Windows\\System32\\odd.dll, for bin\\java.exe");
  facts.logs[0].events.assign(11, CodeIntegrityEvent);
  facts.logs[1].events = {other};
  result = EventLogsCheck::Judge(facts);
  EXPECT_EQ(Summary(result.findings), L"10 problems, 0 warnings");
  EXPECT_TRUE(Has(result, "events.more", Verdict::Note));
  facts.logs[0].events.clear();
  facts.logs[1].read = false;
  facts.logs[1].error = unfound;
  EXPECT_EQ(Outline(EventLogsCheck::Judge(facts)), "OK events.none, NOTE events.unread-logs");
}

TEST(EventLogs, AsksForTheLastSevenDaysOfTheGivenEvents) {
  EXPECT_EQ(EventQuery({3033, 3076, 3077}),
            L"*[System[(EventID=3033 or EventID=3076 or EventID=3077) and"
            L" TimeCreated[timediff(@SystemTime) <= 604800000]]]");
}

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
  EXPECT_TRUE(PrevalenceRuleCheck::Judge(facts).findings.empty());
  facts.policyValue = RegSz(L"1");
  facts.localValue = RegSz(L"2");
  // It may block a new Dunvelt.exe or not: the launch check shows which.
  CheckResult result = PrevalenceRuleCheck::Judge(facts);
  EXPECT_EQ(Outline(result), "WARNING prevalence.blocks");
  EXPECT_EQ(Text(result, "prevalence.blocks", "by"), L"group policy");
  EXPECT_EQ(Text(result, "prevalence.blocks", "action"), L"block");
  // The policy's own switch turned off leaves the rule to Defender's settings.
  facts.policySwitch = RegDword(0);
  EXPECT_EQ(Text(PrevalenceRuleCheck::Judge(facts), "prevalence.audit", "by"),
            L"Defender's own settings");
  facts.managedList = RegSz(L"01443614-cd74-433a-b99e-2ecdc07bfc25=6");
  result = PrevalenceRuleCheck::Judge(facts);
  EXPECT_EQ(Text(result, "prevalence.blocks", "action"), L"warn");
  EXPECT_EQ(Text(result, "prevalence.blocks", "by"), L"device management");
}

}  // namespace
}  // namespace dunvelt::doctor
