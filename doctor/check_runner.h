// Runs the table of checks: in its order, each check's facts from a source (gathered on Windows, or
// read from a saved file), judged; a check that a finding before left out is not run, the launch
// not when a problem before stops it or when it was not asked for, and a check that fails becomes
// one note while the others still run. Portable.
#pragma once

#include <algorithm>
#include <exception>
#include <optional>
#include <string>
#include <tuple>
#include <type_traits>

#include "check_table.h"
#include "facts_json.h"
#include "report.h"

namespace dunvelt::doctor {

// Told of each check as it starts and once it is done, so that a user sees the findings as the
// doctor goes.
class RunObserver {
 public:
  RunObserver() = default;
  RunObserver(const RunObserver&) = delete;
  RunObserver& operator=(const RunObserver&) = delete;
  virtual ~RunObserver() = default;
  virtual void Announce(const Finding& /*finding*/) {}
  virtual void Done(const CheckRun& /*check*/) {}
};

// What a source answers for one check: its facts, or what kept it from gathering them; neither
// when a saved file has nothing of the check.
struct Gathered {
  std::optional<nlohmann::json> facts;
  std::wstring failure;
};

// The finding of a check that failed.
Finding CheckFailed(const std::wstring& title, const std::wstring& failure);
// The finding of a check that a saved file has no facts of.
Finding CheckNotSaved(const std::wstring& title);
std::wstring FailureText(const std::exception& failure);

namespace run_detail {

template <typename Check, typename = void>
struct StartsTheApplication : std::false_type {};
template <typename Check>
struct StartsTheApplication<Check, std::void_t<decltype(Check::StartsTheApplication)>>
    : std::bool_constant<Check::StartsTheApplication> {};

// Who left the check out: a check before whose result names it, or the request.
template <typename Check>
std::string LeftOutBy(const Report& report) {
  for (const CheckRun& earlier : report.checks) {
    const std::vector<std::string>& out = earlier.result.leavesOut;
    if (std::find(out.begin(), out.end(), Check::Id) != out.end()) return earlier.id;
  }
  return {};
}

template <typename Check, typename Source>
void RunOne(Report& report, Source& source, RunObserver& observer) {
  CheckRun run;
  run.id = Check::Id;
  run.title = Check::Title;
  run.leftOutBy = LeftOutBy<Check>(report);
  if constexpr (StartsTheApplication<Check>::value) {
    const bool stopped = std::any_of(report.checks.begin(), report.checks.end(),
                                     [](const CheckRun& c) { return c.result.stopsLaunch; });
    if (run.leftOutBy.empty() && (report.request.noLaunch || stopped)) {
      run.leftOutBy = report.request.noLaunch ? "request" : "stops-launch";
      run.result.findings.push_back(report.request.noLaunch ? LaunchNotAsked() : LaunchStopped());
    }
    if (run.leftOutBy.empty() && Source::Live) {
      run.announced = true;
      observer.Announce(Check::Announcement());
    }
  }
  if (!run.leftOutBy.empty()) {
    run.status = CheckStatus::LeftOut;
  } else {
    Gathered gathered = source.template Gather<Check>(report.request.install);
    if (!gathered.failure.empty()) {
      run.status = CheckStatus::Failed;
      run.failure = gathered.failure;
    } else if (!gathered.facts) {
      run.status = CheckStatus::NotSaved;
      run.result.findings.push_back(CheckNotSaved(run.title));
    } else {
      // Judged from the facts as read back from JSON, so that a saved file judged again gives
      // the same findings as the run that saved it.
      try {
        const auto facts = gathered.facts->template get<typename Check::Facts>();
        run.facts = facts;
        run.result = Check::Judge(facts);
      } catch (const std::exception& failure) {
        run.status = CheckStatus::Failed;
        run.failure = FailureText(failure);
        run.result = {};
      }
    }
    if (run.status == CheckStatus::Failed) {
      run.result.findings.push_back(CheckFailed(run.title, run.failure));
    }
  }
  observer.Done(run);
  report.checks.push_back(std::move(run));
}

}  // namespace run_detail

template <typename Source>
Report RunChecks(const Request& request, std::uint32_t windowsBuild, Source& source,
                 RunObserver& observer) {
  Report report;
  report.request = request;
  report.windowsBuild = windowsBuild;
  std::apply(
      [&](auto... check) { (run_detail::RunOne<decltype(check)>(report, source, observer), ...); },
      CheckTable{});
  return report;
}

// Facts read from a file that --save wrote.
class SavedSource {
 public:
  static constexpr bool Live = false;
  explicit SavedSource(const nlohmann::json& saved) : checks_(saved.at("checks")) {}

  template <typename Check>
  [[nodiscard]] Gathered Gather(const Install& /*install*/) const {
    const auto found = checks_.find(Check::Id);
    if (found == checks_.end()) return {};
    if (const auto failure = found->find("failure"); failure != found->end()) {
      return {std::nullopt, failure->template get<std::wstring>()};
    }
    return {found->at("facts"), {}};
  }

 private:
  const nlohmann::json& checks_;
};

// Reads a saved file's request and judges its facts; throws with what is wrong with the file.
Report JudgeSaved(const nlohmann::json& saved, RunObserver& observer);

}  // namespace dunvelt::doctor
