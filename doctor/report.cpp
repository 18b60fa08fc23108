#include "report.h"

#include <cstring>

#include "check_runner.h"
#include "facts_json.h"
#include "text.h"

namespace dunvelt::doctor {
namespace {

const char* StatusName(CheckStatus status) {
  switch (status) {
    case CheckStatus::Checked:
      return "checked";
    case CheckStatus::LeftOut:
      return "left-out";
    case CheckStatus::NotSaved:
      return "not-saved";
    case CheckStatus::Failed:
      break;
  }
  return "failed";
}

// As JSON spells it: "ok", "note", "warning", "problem".
std::string VerdictKey(Verdict verdict) { return Utf8(Lower(VerdictName(verdict))); }

nlohmann::json FindingJson(const Finding& finding) {
  nlohmann::json basis = nlohmann::json::object();
  for (const auto& [name, value] : finding.basis) {
    std::visit([&, name = name](const auto& v) { basis[name] = v; }, value);
  }
  return {{"id", finding.id},
          {"verdict", VerdictKey(finding.verdict)},
          {"text", finding.text},
          {"basis", basis}};
}

nlohmann::json RequestJson(const Request& request) {
  return {{"install", request.install}, {"noLaunch", request.noLaunch}};
}

}  // namespace

const char* DoctorVersion() { return DUNVELT_VERSION; }

Finding CheckFailed(const std::wstring& title, const std::wstring& failure) {
  return Note("doctor.check-failed",
              L"The doctor could not finish its check of " + Lower(title) + L" (" + failure +
                  L"), so it cannot tell what that check would have"
                  L" found; its other checks ran.",
              {{"check", title}});
}

Finding CheckNotSaved(const std::wstring& title) {
  return Note("doctor.not-saved",
              L"The saved facts hold nothing of " + Lower(title) +
                  L", which this doctor would check: run it on that"
                  L" computer again to check it.",
              {{"check", title}});
}

std::wstring FailureText(const std::exception& failure) {
  return FromUtf8(std::string_view(failure.what(), std::strlen(failure.what())));
}

Findings AllFindings(const Report& report) {
  Findings all;
  for (const CheckRun& check : report.checks) {
    all.insert(all.end(), check.result.findings.begin(), check.result.findings.end());
  }
  return all;
}

int ReportExitCode(const Report& report) { return ExitCode(AllFindings(report)); }

std::vector<std::wstring> CheckLines(const CheckRun& check) {
  std::vector<std::wstring> lines;
  for (const Finding& finding : check.result.findings) lines.push_back(Line(finding));
  return lines;
}

std::wstring TextReport(const Report& report) {
  std::wstring text;
  for (const CheckRun& check : report.checks) {
    for (const std::wstring& line : CheckLines(check)) text += line + L"\n";
  }
  return text + Summary(AllFindings(report)) + L"\n";
}

nlohmann::json JsonReport(const Report& report) {
  nlohmann::json checks = nlohmann::json::array();
  int problems = 0;
  int warnings = 0;
  for (const CheckRun& check : report.checks) {
    nlohmann::json findings = nlohmann::json::array();
    for (const Finding& finding : check.result.findings) {
      findings.push_back(FindingJson(finding));
      problems += finding.verdict == Verdict::Problem ? 1 : 0;
      warnings += finding.verdict == Verdict::Warning ? 1 : 0;
    }
    nlohmann::json entry{{"id", check.id},
                         {"title", check.title},
                         {"status", StatusName(check.status)},
                         {"stopsLaunch", check.result.stopsLaunch},
                         {"findings", findings}};
    if (!check.leftOutBy.empty()) entry["leftOutBy"] = check.leftOutBy;
    if (!check.failure.empty()) entry["failure"] = check.failure;
    if (!check.facts.is_null()) entry["facts"] = check.facts;
    checks.push_back(entry);
  }
  return {{"doctor", {{"version", DoctorVersion()}}},
          {"windows", {{"build", report.windowsBuild}}},
          {"request", RequestJson(report.request)},
          {"checks", checks},
          {"summary",
           {{"problems", problems}, {"warnings", warnings}, {"exitCode", ReportExitCode(report)}}}};
}

nlohmann::json SavedFacts(const Report& report) {
  nlohmann::json checks = nlohmann::json::object();
  for (const CheckRun& check : report.checks) {
    if (!check.failure.empty() && check.facts.is_null()) {
      checks[check.id] = {{"failure", check.failure}};
    } else if (!check.facts.is_null()) {
      checks[check.id] = {{"facts", check.facts}};
    }
  }
  return {{"format", SavedFormat},
          {"version", SavedVersion},
          {"doctor", DoctorVersion()},
          {"windowsBuild", report.windowsBuild},
          {"request", RequestJson(report.request)},
          {"checks", checks}};
}

Report JudgeSaved(const nlohmann::json& saved, RunObserver& observer) {
  if (!saved.is_object() || saved.value("format", std::string()) != SavedFormat) {
    throw std::runtime_error(std::string("it is not a file that the doctor's --save wrote"));
  }
  if (saved.value("version", 0) != SavedVersion) {
    throw std::runtime_error("it was saved in version " + saved.at("version").dump() +
                             " of the format, which this doctor does not read");
  }
  Request request;
  request.install = saved.at("request").at("install").get<Install>();
  request.noLaunch = saved.at("request").value("noLaunch", false);
  SavedSource source(saved);
  return RunChecks(request, saved.value("windowsBuild", std::uint32_t{0}), source, observer);
}

}  // namespace dunvelt::doctor
