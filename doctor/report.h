// A run of the doctor's checks as data: what each gathered, what it found, and what was left out
// and why; the text report a user reads, the JSON report fleet tools parse, and the saved facts
// that a newer doctor can judge again. Portable.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>
#include <vector>

#include "finding.h"
#include "install.h"

namespace dunvelt::doctor {

// The doctor's version, as its version resource gives it.
const char* DoctorVersion();

// What the doctor was asked to check.
struct Request {
  Install install;
  bool noLaunch = false;
};

enum class CheckStatus {
  Checked,   // gathered and judged
  LeftOut,   // a finding before made it pointless, or the doctor was asked not to
  NotSaved,  // judged again from a saved file that lacks its facts
  Failed,    // its gatherer or its judge failed; the others still ran
};

// Its implicit members may throw only where memory runs out, which the doctor's entry point
// catches.
struct CheckRun {  // NOLINT(bugprone-exception-escape)
  std::string id;
  std::wstring title;
  CheckStatus status = CheckStatus::Checked;
  std::string leftOutBy;  // the id of the check that left it out, or "request"
  nlohmann::json facts;   // as its judge read them; null when there are none
  std::wstring failure;   // what failed, when it did
  CheckResult result;
  bool announced = false;  // its first finding was said before it ran
};

struct Report {
  Request request;
  std::uint32_t windowsBuild = 0;  // 0 when it could not be read
  std::vector<CheckRun> checks;
};

// Every finding of every check, in order.
Findings AllFindings(const Report& report);

// 0 when no finding is a problem, 1 when one is.
int ReportExitCode(const Report& report);

// The report's lines, without the closing summary.
std::vector<std::wstring> CheckLines(const CheckRun& check);

// The text report: a line a finding, then "N problems, N warnings".
std::wstring TextReport(const Report& report);

// The JSON report, docs/doctor-report.schema.json.
nlohmann::json JsonReport(const Report& report);

// What --save writes: every check's facts as gathered, with the request, judged again by
// --judge.
nlohmann::json SavedFacts(const Report& report);

// The saved file's format and version; a file of another format is refused.
inline constexpr const char* SavedFormat = "dunvelt-doctor-facts";
inline constexpr int SavedVersion = 1;

}  // namespace dunvelt::doctor
