// The table of checks as the runner reads it, and the report as data: a saved file from a healthy
// install, recorded under Wine by the doctor tests, judged again; the gating of the checks and the
// launch; a check that fails; and the golden text report, which guards the wording.
#include "report.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "check_runner.h"

namespace dunvelt::doctor {
namespace {

std::string ReadData(const std::string& name) {
  std::ifstream in(std::string(DUNVELT_TEST_DATA) + "/doctor/" + name, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class SavedFacts : public ::testing::Test {
 protected:
  SavedFacts() : saved(nlohmann::json::parse(ReadData("healthy.facts.json"))) {}
  Report Judged() {
    RunObserver quiet;
    return JudgeSaved(saved, quiet);
  }
  static const CheckRun& Check(const Report& report, const std::string& id) {
    for (const CheckRun& check : report.checks) {
      if (check.id == id) return check;
    }
    throw std::runtime_error("no check " + id);
  }
  nlohmann::json& Facts(const std::string& id) { return saved["checks"][id]["facts"]; }
  nlohmann::json saved;
};

// The wording's one guard: every check of a healthy install, as a user reads it.
TEST_F(SavedFacts, JudgesAHealthyInstallAsTheGoldenReportSays) {
  const Report report = Judged();
  EXPECT_EQ(Utf8(TextReport(report)), ReadData("healthy.txt"));
  EXPECT_EQ(ReportExitCode(report), 0);
  std::vector<std::string> table;
  std::apply([&](auto... check) { (table.emplace_back(check.Id), ...); }, CheckTable{});
  std::vector<std::string> ran;
  for (const CheckRun& check : report.checks) ran.push_back(check.id);
  EXPECT_EQ(ran, table);
}

// What --save writes of a report is what it was judged from, so a saved file judged again, and
// saved again, stays the same, and so does its JSON report.
TEST_F(SavedFacts, SaveAndJudgeAgainGiveTheSameReport) {
  const Report first = Judged();
  const nlohmann::json resaved = dunvelt::doctor::SavedFacts(first);
  EXPECT_EQ(resaved, saved);
  RunObserver quiet;
  EXPECT_EQ(JsonReport(JudgeSaved(resaved, quiet)).dump(2), JsonReport(first).dump(2));
  const nlohmann::json json = JsonReport(first);
  EXPECT_EQ(json["summary"]["exitCode"], 0);
  EXPECT_EQ(json["checks"].back()["id"], "guards.event-logs");
  EXPECT_EQ(json["checks"][json["checks"].size() - 2]["findings"][1]["id"], "launch.launcher-ends");
}

TEST_F(SavedFacts, RefusesWhatIsNoSavedFile) {
  RunObserver quiet;
  for (const char* text : {R"({"format": "other"})", R"([1, 2])",
                           R"({"format": "dunvelt-doctor-facts", "version": 9})",
                           R"({"format": "dunvelt-doctor-facts", "version": 1})"}) {
    EXPECT_ANY_THROW(JudgeSaved(nlohmann::json::parse(text), quiet)) << text;
  }
}

// A runtime that is missing leaves out its start, and stops the launch, which says so.
TEST_F(SavedFacts, ReadsWhatStopsAndWhatLeavesOutFromTheResults) {
  Facts("runtime.image")["exists"] = false;
  const Report report = Judged();
  EXPECT_EQ(Check(report, "runtime.start").status, CheckStatus::LeftOut);
  EXPECT_EQ(Check(report, "runtime.start").leftOutBy, "runtime.image");
  EXPECT_TRUE(Check(report, "runtime.start").result.findings.empty());
  const CheckRun& launch = Check(report, "launch");
  EXPECT_EQ(launch.leftOutBy, "stops-launch");
  // The logs are read after the launch, left out or not.
  EXPECT_EQ(Check(report, "guards.event-logs").status, CheckStatus::Checked);
  ASSERT_EQ(launch.result.findings.size(), 1U);
  EXPECT_EQ(launch.result.findings[0].id, "launch.left-out");
  EXPECT_EQ(ReportExitCode(report), 1);

  saved["request"]["noLaunch"] = true;
  Facts("runtime.image")["exists"] = true;
  EXPECT_EQ(Check(Judged(), "launch").result.findings.at(0).id, "launch.not-asked");
}

// Fleet tools run the doctor as SYSTEM: it says so, and neither reads that account's shortcuts
// nor opens the application where nobody sees it.
TEST_F(SavedFacts, LeavesOutWhatConcernsTheUserWhereTheUserIsNot) {
  Facts("user.session")["sid"] = "S-1-5-18";
  Facts("user.session")["account"] = "NT AUTHORITY\\SYSTEM";
  Facts("user.session")["sessionId"] = 0;
  const Report report = Judged();
  const CheckRun& session = Check(report, "user.session");
  ASSERT_EQ(session.result.findings.size(), 1U);
  EXPECT_EQ(session.result.findings[0].id, "user.not-the-user");
  for (const char* id : {"shortcuts", "launch"}) {
    EXPECT_EQ(Check(report, id).status, CheckStatus::LeftOut) << id;
    EXPECT_EQ(Check(report, id).leftOutBy, "user.session") << id;
  }
  EXPECT_EQ(Check(report, "interpreter").status, CheckStatus::Checked);
  EXPECT_EQ(ReportExitCode(report), 0);
}

// One check whose facts are broken, or whose gatherer failed, is one note; the others still run
// and the summary still counts them.
TEST_F(SavedFacts, ContainsACheckThatFails) {
  Facts("runtime.image")["machine"] = "x86";
  saved["checks"]["shortcuts"] = {{"failure", "CoCreateInstance: Class not registered"}};
  saved["checks"].erase("guards.signatures");
  const Report report = Judged();
  const CheckRun& image = Check(report, "runtime.image");
  EXPECT_EQ(image.status, CheckStatus::Failed);
  ASSERT_EQ(image.result.findings.size(), 1U);
  EXPECT_EQ(image.result.findings[0].id, "doctor.check-failed");
  EXPECT_EQ(Check(report, "shortcuts").failure, L"CoCreateInstance: Class not registered");
  EXPECT_EQ(Check(report, "guards.signatures").status, CheckStatus::NotSaved);
  EXPECT_EQ(Check(report, "guards.signatures").result.findings.at(0).id, "doctor.not-saved");
  EXPECT_EQ(Check(report, "launch").status, CheckStatus::Checked);
  EXPECT_EQ(report.checks.size(), std::tuple_size_v<CheckTable>);
  EXPECT_EQ(Summary(AllFindings(report)), L"0 problems, 0 warnings");
  // Saved again, the failures stay failures and the file judges the same.
  const nlohmann::json resaved = dunvelt::doctor::SavedFacts(report);
  EXPECT_EQ(resaved["checks"]["shortcuts"]["failure"], "CoCreateInstance: Class not registered");
  RunObserver quiet;
  EXPECT_EQ(TextReport(JudgeSaved(resaved, quiet)), TextReport(report));
}

// Texts survive the round trip in any script, and raw bytes of any value.
TEST(FactsJson, KeepsTextAndBytesAsTheyWere) {
  const RawBytes bytes{std::string("\0\xFF[ZoneTransfer]\r\n", 18)};
  const nlohmann::json json = bytes;
  EXPECT_EQ(json, "00ff5b5a6f6e655472616e736665725d0d0a");
  EXPECT_EQ(json.get<RawBytes>(), bytes);
  EXPECT_ANY_THROW(nlohmann::json("0g").get<RawBytes>());
  EXPECT_ANY_THROW(nlohmann::json("abc").get<RawBytes>());
  const std::wstring text = L"C:\\\u00c9t\u00e9\\\u03a9\\\U0001F600";
  EXPECT_EQ(nlohmann::json(text).get<std::wstring>(), text);
  EXPECT_EQ(nlohmann::json(text).get<std::string>(),
            "C:\\\xC3\x89t\xC3\xA9\\\xCE\xA9\\\xF0\x9F\x98\x80");
}

}  // namespace
}  // namespace dunvelt::doctor
