#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "archive_folder.h"
#include "check_table.h"
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
  facts.files = {{L"Dunvelt.exe",
                  true,
                  {"[ZoneTransfer]\nZoneId=3\nHostUrl=https://x.test/o.zip"},
                  L"",
                  0,
                  L""},
                 {L"bin\\java.exe", false, {}, L"", 0, L""},
                 {L"bin\\jli.dll", true, {"[ZoneTransfer]\nZoneId=2\n"}, L"", 0, L""}};
  CheckResult result = MarkOfTheWebCheck::Judge(facts);
  EXPECT_EQ(Outline(result), "WARNING mark.internet");
  EXPECT_EQ(Text(result, "mark.internet", "file"), L"Dunvelt.exe");
  EXPECT_EQ(Text(result, "mark.internet", "from"), L"https://x.test/o.zip");
  EXPECT_TRUE(
      Says(result, "mark.internet", L"Get-ChildItem -Recurse \"C:\\Orbisk\" | Unblock-File"));
  facts.files[1] = {L"bin\\java.exe", true, {"[ZoneTransfer]\r\nZoneId=4\r\n"}, L"", 0, L""};
  facts.files.push_back({L"bin\\awt.dll", true, {"garbage"}, L"", 0, L""});
  facts.files.push_back({L"bin\\net.dll", false, {}, L"", 0, L"Access is denied, error 5"});
  // CreateProcess and LoadLibrary check no zone: a runtime so marked starts all the same.
  result = MarkOfTheWebCheck::Judge(facts);
  EXPECT_EQ(Outline(result),
            "WARNING mark.restricted-files, WARNING mark.internet, NOTE mark.unreadable, NOTE "
            "mark.unread");
  EXPECT_EQ(Text(result, "mark.restricted-files", "file"), L"bin\\java.exe");
  EXPECT_EQ(Find(result, "mark.restricted-files")->text.find(L"refuses"), std::wstring::npos);
  facts.files[0].stream = {"[ZoneTransfer]\nZoneId=4\n"};
  result = MarkOfTheWebCheck::Judge(facts);
  EXPECT_EQ(Outline(result),
            "PROBLEM mark.restricted, WARNING mark.restricted-files, NOTE mark.unreadable, NOTE "
            "mark.unread; stops the launch");
  EXPECT_EQ(Text(result, "mark.restricted", "file"), L"Dunvelt.exe");
  EXPECT_EQ(Number(result, "mark.restricted", "zone"), 4);
  EXPECT_TRUE(Says(result, "mark.restricted", L"refuses to start a program so marked from"));
}

TEST(ArchiveFolder, KnowsExplorersAndTheArchiversTemporaryFolders) {
  const std::vector<std::wstring> temps = {L"C:\\Users\\ANA~1\\AppData\\Local\\Temp\\",
                                           L"C:\\Users\\ana\\AppData\\Local\\Temp"};
  const std::wstring temp = L"c:\\users\\ana\\appdata\\local\\temp\\";
  const auto in = [&](const std::wstring& folder) {
    return ArchiveTemporaryFolder(folder, temps).folder;
  };
  EXPECT_EQ(in(temp + L"Temp1_orbisk.zip\\orbisk"), L"Temp1_orbisk.zip");
  EXPECT_EQ(in(temp + L"Temp12_a b.zip"), L"Temp12_a b.zip");
  EXPECT_EQ(in(temp + L"Rar$EXa1234.5678\\orbisk"), L"Rar$EXa1234.5678");
  EXPECT_EQ(in(temp + L"7zO8A1F2B3C\\orbisk"), L"7zO8A1F2B3C");
  EXPECT_EQ(in(L"C:\\Users\\ANA~1\\AppData\\Local\\Temp\\Temp1_o.zip"), L"Temp1_o.zip");
  for (const std::wstring& elsewhere :
       {temp + L"orbisk", temp + L"Temp_orbisk.zip", temp + L"Temporary\\x", temp + L"Temp1x_a",
        temp + L"wzrd-setup", temp + L"wz", temp + L"Wizard\\orbisk",
        std::wstring(L"C:\\Temp1_orbisk.zip\\orbisk"), temp.substr(0, temp.size() - 1),
        std::wstring(L"C:\\Users\\ana\\AppData\\Local\\Temp1_orbisk.zip")}) {
    EXPECT_EQ(in(elsewhere), L"") << elsewhere;
  }
  EXPECT_EQ(ArchiveTemporaryFolder(temp + L"Temp1_a.zip", {L"", L"\\"}).folder, L"");
  CheckResult result = ArchiveFolderCheck::Judge({temp + L"Temp1_orbisk.zip\\orbisk", temps});
  EXPECT_EQ(Outline(result), "PROBLEM guards.zip-folder; stops the launch");
  EXPECT_EQ(Text(result, "guards.zip-folder", "folder"), L"Temp1_orbisk.zip");
  EXPECT_EQ(Outline(ArchiveFolderCheck::Judge({temp + L"orbisk", temps})), "");
  // WinZip's naming is nowhere documented: a folder named as it may be is only likely its.
  result = ArchiveFolderCheck::Judge({temp + L"wz4f21\\orbisk", temps});
  EXPECT_EQ(Outline(result), "WARNING guards.zip-folder");
  EXPECT_TRUE(Says(result, "guards.zip-folder", L"likely a temporary folder where WinZip"));
}

// The doctor double-clicked in Explorer's view of a zip, which took out the doctor alone: no
// install to check, and the finding says where it runs.
TEST(ArchiveFolder, SaysTheDoctorRunsFromAZipViewAndLeavesOutTheInstallsChecks) {
  const std::wstring temp = L"C:\\Users\\ana\\AppData\\Local\\Temp";
  const CheckResult result =
      ArchiveFolderCheck::Judge({temp + L"\\Temp1_orbisk-2.1 (1).zip\\orbisk", {temp}, false});
  ASSERT_EQ(result.findings.size(), 1U);
  EXPECT_EQ(result.findings[0].id, "guards.zip-view");
  EXPECT_TRUE(Says(result, "guards.zip-view",
                   L"The doctor runs from Explorer's view of the zip \"orbisk-2.1 (1).zip\""));
  EXPECT_TRUE(result.stopsLaunch);
  // Every check but who runs the doctor, and this one, needs an install.
  EXPECT_EQ(result.leavesOut.size(), std::tuple_size_v<CheckTable> - 2);
  std::vector<std::string> ids;
  std::apply([&](auto... check) { (ids.emplace_back(check.Id), ...); }, CheckTable{});
  for (const std::string& id : result.leavesOut) {
    EXPECT_NE(std::find(ids.begin(), ids.end(), id), ids.end()) << id;
  }
}

// Streams that browsers, Explorer, a chat program and a Store app wrote.
std::string RealStream(const std::string& name) {
  std::ifstream in(std::string(DUNVELT_TEST_DATA) + "/windows/zone-identifier/" + name,
                   std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(Marks, ReadsTheStreamsRealProgramsWrote) {
  for (const char* name :
       {"browser-host-only.Zone.Identifier", "browser-query-with-equals.Zone.Identifier",
        "browser-referrer-and-host.Zone.Identifier", "chat-discord-attachment.Zone.Identifier",
        "edge-download-crlf.Zone.Identifier", "explorer-zip-extract.Zone.Identifier",
        "explorer-zip-extract-space-in-name.Zone.Identifier",
        "explorer-zip-extract-ansi-cp936.Zone.Identifier",
        "store-app-lastwriter-first.Zone.Identifier"}) {
    const ZoneIdentifier zone = ParseZoneIdentifier(RealStream(name));
    EXPECT_TRUE(zone.hasZone) << name;
    EXPECT_EQ(zone.zone, ZoneInternet) << name;
  }
  EXPECT_FALSE(ParseZoneIdentifier(RealStream("edge-download.SmartScreen")).hasZone);
  // A value split at its first '=' only.
  const ZoneIdentifier query =
      ParseZoneIdentifier(RealStream("browser-query-with-equals.Zone.Identifier"));
  EXPECT_NE(query.hostUrl.find(L"skipencode=1&file="), std::wstring::npos) << Utf8(query.hostUrl);
  // What the ANSI code page's bytes stand for is Windows' to say: the gatherer's text, in the
  // code page 936 the stream was written in, names the zip as Windows does.
  const std::string gbk = RealStream("explorer-zip-extract-ansi-cp936.Zone.Identifier");
  std::wstring windows = FromUtf8(gbk.substr(0, gbk.find("\xD7\xC0\xC3\xE6"))) + L"\u684c\u9762" +
                         FromUtf8(gbk.substr(gbk.find("\xD7\xC0\xC3\xE6") + 4));
  MarkFacts facts{L"D:\\Orbisk", {{L"Dunvelt.exe", true, {gbk}, windows, 936, L""}}};
  const CheckResult result = MarkOfTheWebCheck::Judge(facts);
  EXPECT_EQ(Text(result, "mark.internet", "from"),
            L"D:\\All Data\\OneDrive - sjtu.edu.cn\\\u684c\u9762\\ITensor-3.zip");
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

// A record as real Windows wrote it, from tests/data/windows/events.
std::wstring RealEvent(const std::string& name) {
  std::ifstream in(std::string(DUNVELT_TEST_DATA) + "/windows/events/" + name, std::ios::binary);
  return FromUtf8(
      std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
}

// AppLocker's 8003 as Winlogbeat kept it, put back into the XML that Windows renders: its fields
// as elements of their own namespace in UserData.
std::wstring AppLockerXml(bool withFullPath) {
  const nlohmann::json saved =
      nlohmann::json::parse(Utf8(RealEvent("applocker-8003-winlogbeat.json")));
  const nlohmann::json& record = saved.at("events").at(0).at("winlog");
  std::wstring xml = L"<Event><System><EventID>8003</EventID><TimeCreated SystemTime='" +
                     FromUtf8(record.at("time_created").get<std::string>()) +
                     L"'/></System><UserData><RuleAndFileData xmlns='http://schemas.microsoft.com/"
                     L"schemas/event/Microsoft.Windows/1.0.0.0'>";
  for (const auto& [name, value] : record.at("user_data").items()) {
    if (name == "FullFilePath" && !withFullPath) continue;
    const std::wstring tag = FromUtf8(name);
    xml += L"<" + tag + L">" +
           FromUtf8(value.is_string() ? value.get<std::string>() : value.dump()) + L"</" + tag +
           L">";
  }
  return xml + L"</RuleAndFileData></UserData></Event>";
}

TEST(EventLogs, FindsTheFileAndTheProcessInEachRealRecord) {
  // Code Integrity's field names differ by version: "FileNameBuffer" in 3033, "File Name" in 3077.
  for (const char* name : {"ci-3033-regsvr32-scrobj.xml", "ci-3077-v5-regsvr32-scrobj.xml"}) {
    const EventSubject ci = SubjectOf(ParseEventXml(RealEvent(name)));
    EXPECT_EQ(ci.file, L"\\Device\\HarddiskVolume3\\Windows\\System32\\scrobj.dll") << name;
    EXPECT_EQ(ci.process, L"\\Device\\HarddiskVolume3\\Windows\\System32\\regsvr32.exe") << name;
  }
  const EventSubject uv =
      SubjectOf(ParseEventXml(RealEvent("defender-1121-prevalence-cmd-uv.xml")));
  EXPECT_EQ(uv.file, L"C:\\Users\\***\\.local\\bin\\uv.exe");
  EXPECT_EQ(uv.process, L"C:\\Windows\\System32\\cmd.exe");
  EXPECT_EQ(uv.parentCommand, L"\"C:\\WINDOWS\\system32\\cmd.exe\"");
  const EventSubject lsass =
      SubjectOf(ParseEventXml(RealEvent("defender-1121-lsass-googleupdate.xml")));
  EXPECT_EQ(lsass.file, L"C:\\Windows\\System32\\lsass.exe");
  const GuardEvent applocker = ParseEventXml(AppLockerXml(true));
  EXPECT_EQ(applocker.id, 8003U);
  EXPECT_EQ(SubjectOf(applocker).file,
            L"C:\\Users\\TOPSY\\AppData\\Local\\GitHubDesktop\\app-3.1.2\\resources\\app\\git\\"
            L"mingw64\\bin\\git.exe");
  // Without the full path, only the upper-cased one with %OSDRIVE%, which Windows' drive names.
  const EventSubject upper = SubjectOf(ParseEventXml(AppLockerXml(false)));
  const InstallPlace git{L"C:\\Users\\topsy\\AppData\\Local\\GitHubDesktop", L"", L"C:"};
  EXPECT_EQ(RelativeIn(upper.file, git), L"APP-3.1.2\\RESOURCES\\APP\\GIT\\MINGW64\\BIN\\GIT.EXE");
  EXPECT_FALSE(NamesFileIn(upper.file, {git.folder, L"", L"D:"}));
  EXPECT_FALSE(NamesFileIn(upper.file, {git.folder, L"", L""}));
}

TEST(EventLogs, MatchesPathsOnTheInstallsOwnVolumeOnly) {
  const InstallPlace place{L"C:\\Program Files\\Orbisk", L"\\Device\\HarddiskVolume3", L"C:"};
  EXPECT_TRUE(NamesFileIn(L"C:\\program files\\orbisk\\bin\\java.exe", place));
  EXPECT_TRUE(NamesFileIn(L"\\Device\\HarddiskVolume3\\Program Files\\Orbisk\\Dunvelt.exe", place));
  EXPECT_FALSE(
      NamesFileIn(L"\\Device\\HarddiskVolume9\\Program Files\\Orbisk\\Dunvelt.exe", place));
  EXPECT_FALSE(NamesFileIn(L"\\Device\\HarddiskVolume3\\Program Files\\Orbisk\\x.dll",
                           {place.folder, L"", L"C:"}));
  EXPECT_TRUE(NamesFileIn(L"\\\\?\\C:\\Program Files\\Orbisk\\bin\\jli.dll", place));
  EXPECT_TRUE(NamesFileIn(L"%OSDRIVE%\\PROGRAM FILES\\ORBISK\\DUNVELT.EXE", place));
  EXPECT_FALSE(NamesFileIn(L"D:\\Program Files\\Orbisk\\Dunvelt.exe", place));
  EXPECT_FALSE(NamesFileIn(L"C:\\Program Files\\Orbisk2\\Dunvelt.exe", place));
  EXPECT_FALSE(NamesFileIn(L"C:\\Program Files\\Orbisk", place));
  EXPECT_FALSE(NamesFileIn(L"Dunvelt.exe", place));
  EXPECT_TRUE(NamesFileIn(L"\\Device\\Mup\\server\\apps\\Orbisk\\bin\\java.exe",
                          {L"\\\\server\\apps\\Orbisk", L"\\Device\\Mup", L"C:"}));
  // An install at the root of a drive holds what that drive's volume holds, and no other's.
  const InstallPlace root{L"E:\\", L"\\Device\\HarddiskVolume9", L"C:"};
  EXPECT_TRUE(NamesFileIn(L"\\Device\\HarddiskVolume9\\Dunvelt.exe", root));
  EXPECT_FALSE(NamesFileIn(L"\\Device\\HarddiskVolume2\\Dunvelt.exe", root));
  EXPECT_FALSE(NamesFileIn(L"%OSDRIVE%\\DUNVELT.EXE", root));
  EXPECT_EQ(TimeKey(L"2019-07-29T12:13:55.890328700Z"), L"2019-07-29T12:13:55.8903287");
  EXPECT_EQ(TimeKey(L"2024-05-01T10:22:13Z"), L"2024-05-01T10:22:13.0000000");
  EXPECT_EQ(TimeKey(L"yesterday"), L"");
}

// A Defender 1121 of the rule, the program it blocked and the one that started it.
std::wstring DefenderEvent(const std::wstring& path, const std::wstring& process,
                           const std::wstring& parent = L"") {
  return L"<Event><System><EventID>1121</EventID><TimeCreated SystemTime='2024-05-02T08:00:00.5Z'/>"
         L"</System><EventData><Data Name='Path'>" +
         path + L"</Data><Data Name='Process Name'>" + process +
         L"</Data><Data Name='Parent Commandline'>" + parent + L"</Data></EventData></Event>";
}

TEST(EventLogs, NamesTheInstallsBlocksAndNoOtherProgramsOnes) {
  const std::wstring cmd = L"C:\\Windows\\System32\\cmd.exe";
  EventLogFacts facts;
  facts.installFolder = L"C:\\Program Files\\Orbisk";
  facts.volumeDevice = L"\\Device\\HarddiskVolume3";
  facts.systemDrive = L"C:";
  const std::wstring word = DefenderEvent(cmd,
                                          L"C:\\Program Files\\Microsoft Office\\root\\"
                                          L"Office16\\WINWORD.EXE");
  const std::wstring vendor =
      LR"(<Event><System><EventID>3033</EventID></System><EventData><Data Name='File Name'>)"
      LR"(C:\Vendor\hook.dll</Data><Data Name='Process Name'>C:\Windows\System32\cmd.exe</Data>)"
      LR"(</EventData></Event>)";
  const std::wstring ours =
      DefenderEvent(cmd, cmd, L"\"C:\\Program Files\\Orbisk\\Dunvelt.exe\" --open x");
  const std::wstring loaded =
      LR"(<Event><System><EventID>3077</EventID></System><EventData><Data Name='File Name'>)"
      LR"(C:\Windows\System32\odd.dll</Data><Data Name='Process Name'>\Device\HarddiskVolume3\)"
      LR"(Program Files\Orbisk\bin\java.exe</Data></EventData></Event>)";
  const std::wstring audited =
      LR"(<Event><System><EventID>1122</EventID></System><EventData><Data Name='Path'>)"
      LR"(C:\Program Files\Orbisk\Dunvelt.exe</Data></EventData></Event>)";
  const std::wstring unfound = L"The specified channel could not be found, error 15007";
  facts.logs = {
      {L"Microsoft-Windows-CodeIntegrity/Operational",
       true,
       L"",
       false,
       4,
       false,
       {CodeIntegrityEvent, L"<broken", vendor, loaded}},
      {L"Microsoft-Windows-Windows Defender/Operational",
       true,
       L"This operation returned because the timeout period expired, error 1460",
       true,
       48,
       false,
       {word, ours, audited}},
      {L"Microsoft-Windows-AppLocker/EXE and DLL", true, L"", false, 5000, true, {}},
      {L"Microsoft-Windows-AppLocker/MSI and Script", false, unfound, false, 0, false, {}}};
  CheckResult result = EventLogsCheck::Judge(facts);
  // Word's cmd.exe and a DLL refused in some cmd.exe are no part of the install.
  EXPECT_EQ(Outline(result),
            "PROBLEM events.code-integrity-blocked, PROBLEM events.policy-blocked, NOTE "
            "events.unparsed, PROBLEM events.asr-blocked, WARNING events.asr-audited, NOTE "
            "events.read-cut, NOTE events.bounded, NOTE events.unread-logs");
  EXPECT_EQ(Text(result, "events.code-integrity-blocked", "file"), L"bin\\jli.dll");
  EXPECT_EQ(Text(result, "events.asr-blocked", "file"), cmd + L", for " + cmd);
  EXPECT_EQ(Text(result, "events.policy-blocked", "file"),
            L"C:\\Windows\\System32\\odd.dll, for bin\\java.exe");
  EXPECT_TRUE(Says(result, "events.read-cut", L"after 48 events"));
  // Written since it was blocked (signed again), jli.dll's block is history.
  facts.files = {{L"bin\\JLI.dll", L"2024-05-01T10:22:13.2Z"}};
  result = EventLogsCheck::Judge(facts);
  EXPECT_TRUE(Has(result, "events.history", Verdict::Note));
  EXPECT_FALSE(Has(result, "events.code-integrity-blocked", Verdict::Problem));
  EXPECT_TRUE(Says(result, "events.history", L"written since, on 2024-05-01 10:22:13 UTC"));
  facts.files = {{L"bin\\jli.dll", L"2024-05-01T10:22:13.1234567Z"}};
  EXPECT_TRUE(Has(EventLogsCheck::Judge(facts), "events.code-integrity-blocked", Verdict::Problem));
  facts.logs[0].events.assign(11, CodeIntegrityEvent);
  facts.logs[1] = {
      L"Microsoft-Windows-Windows Defender/Operational", true, L"", false, 1, false, {word}};
  result = EventLogsCheck::Judge(facts);
  EXPECT_EQ(Summary(result.findings), L"10 problems, 0 warnings");
  EXPECT_TRUE(Has(result, "events.more", Verdict::Note));
  facts.logs[0].events = {vendor};
  EXPECT_EQ(Outline(EventLogsCheck::Judge(facts)),
            "NOTE events.bounded, OK events.none, NOTE events.unread-logs");
  EXPECT_TRUE(KeepsEvent(ours, PlaceOf(facts)));
  EXPECT_FALSE(KeepsEvent(word, PlaceOf(facts)));
}

TEST(EventLogs, AsksForTheLastSevenDaysOfTheGivenEvents) {
  EXPECT_EQ(EventQuery({3033, 3076, 3077}),
            L"*[System[(EventID=3033 or EventID=3076 or EventID=3077) and"
            L" TimeCreated[timediff(@SystemTime) <= 604800000]]]");
}

std::wstring RealAsrForm(const std::string& name) {
  std::ifstream in(std::string(DUNVELT_TEST_DATA) + "/windows/asr/" + name, std::ios::binary);
  return FromUtf8(
      std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
}

TEST(PrevalenceRule, ReadsTheRulesValueInEachFormWindowsWrites) {
  EXPECT_EQ(ParseRuleAction(L""), RuleAction::NotSet);
  EXPECT_EQ(ParseRuleAction(L" 1 "), RuleAction::Block);
  EXPECT_EQ(ParseRuleAction(L"2"), RuleAction::Audit);
  EXPECT_EQ(ParseRuleAction(L"6"), RuleAction::Warn);
  EXPECT_EQ(ParseRuleAction(L"0"), RuleAction::Off);
  EXPECT_EQ(ParseRuleAction(L"5"), RuleAction::NotConfigured);
  EXPECT_EQ(ParseRuleAction(L"1x"), RuleAction::Unknown);
  const std::wstring list =
      L"75668c1f-73b5-4cf0-bb93-3ecf5cb7cc84=1| {01443614-CD74-433A-B99E-2ECDC07BFC25} = 6 |x";
  EXPECT_EQ(RuleActionInList(list, PrevalenceRule), RuleAction::Warn);
  EXPECT_EQ(RuleActionInList(L"01443614-cd74-433a-b99e-2ecdc07bfc25=", PrevalenceRule),
            RuleAction::Unknown);
  // The CSP's value as Microsoft's page gives it, and the same one to a line as Intune shows it.
  for (const char* name :
       {"csp-attacksurfacereductionrules-pipe.txt", "intune-custom-profile-lines.txt"}) {
    const std::wstring real = RealAsrForm(name);
    EXPECT_EQ(RuleActionInList(real, L"5beb7efe-fd9a-4556-801d-275e5ffc04cc"), RuleAction::Off);
    EXPECT_EQ(RuleActionInList(real, L"d4f940ab-401b-4efc-aadc-ad5f3c50688a"), RuleAction::Audit);
    EXPECT_EQ(RuleActionInList(real, L"be9ba2d9-53ea-4cdc-84e5-9b1eeee46550"), RuleAction::Block);
    EXPECT_EQ(RuleActionInList(real, PrevalenceRule), RuleAction::NotSet);
    EXPECT_EQ(RuleActionInList(real + L"\n" + PrevalenceRule + L"=5", PrevalenceRule),
              RuleAction::NotConfigured);
  }
}

TEST(PrevalenceRule, GroupPolicyWinsAndTheRestIsCannotTellWhereTheyDiffer) {
  PrevalenceFacts facts;
  EXPECT_TRUE(PrevalenceRuleCheck::Judge(facts).findings.empty());
  // Management off, group policy block: group policy wins.
  facts.managedList = RegSz(L"01443614-cd74-433a-b99e-2ecdc07bfc25=0");
  facts.policyValue = RegSz(L"1");
  CheckResult result = PrevalenceRuleCheck::Judge(facts);
  EXPECT_EQ(Outline(result), "WARNING prevalence.blocks");
  EXPECT_EQ(Text(result, "prevalence.blocks", "by"), L"group policy");
  EXPECT_EQ(Text(result, "prevalence.blocks", "action"), L"block");
  facts.policyValue = RegDword(1);
  EXPECT_EQ(Text(PrevalenceRuleCheck::Judge(facts), "prevalence.blocks", "by"), L"group policy");
  // Not configured by group policy, or its switch turned off, leaves it to the others.
  facts.policyValue = RegSz(L"5");
  EXPECT_EQ(Outline(PrevalenceRuleCheck::Judge(facts)), "");
  facts.localValue = RegSz(L"6");
  result = PrevalenceRuleCheck::Judge(facts);
  EXPECT_EQ(Outline(result), "WARNING prevalence.cannot-tell");
  EXPECT_EQ(Text(result, "prevalence.cannot-tell", "local"), L"warn");
  facts.managedList = RegSz(L"01443614-cd74-433a-b99e-2ecdc07bfc25=2");
  facts.localValue = RegSz(L"0");
  EXPECT_EQ(Outline(PrevalenceRuleCheck::Judge(facts)), "NOTE prevalence.cannot-tell");
  facts.localValue = RegSz(L"2");
  EXPECT_EQ(Text(PrevalenceRuleCheck::Judge(facts), "prevalence.audit", "by"),
            L"device management");
  facts.policySwitch = RegDword(0);
  facts.policyValue = RegSz(L"1");
  facts.managedList = {};
  facts.localValue = RegSz(L"6");
  EXPECT_EQ(Text(PrevalenceRuleCheck::Judge(facts), "prevalence.blocks", "by"),
            L"Defender's own settings");
}

}  // namespace
}  // namespace dunvelt::doctor
