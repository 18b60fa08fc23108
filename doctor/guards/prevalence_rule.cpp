#include "prevalence_rule.h"

#include <optional>

#include "facts_json.h"
#include "text.h"

namespace dunvelt::doctor {

DUNVELT_FACTS_JSON(PrevalenceFacts, policySwitch, policyValue, managedList, localValue)

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

CheckResult PrevalenceRuleCheck::Judge(const PrevalenceFacts& facts) {
  RuleAction action = RuleActionInList(ValueText(facts.managedList), PrevalenceRule);
  std::wstring by = L"device management";
  std::wstring value;
  const std::optional<std::uint32_t> policySwitch = ValueNumber(facts.policySwitch);
  if (action == RuleAction::NotSet && !(policySwitch && *policySwitch == 0)) {
    value = ValueText(facts.policyValue);
    action = ParseRuleAction(value);
    by = L"group policy";
  }
  if (action == RuleAction::NotSet) {
    value = ValueText(facts.localValue);
    action = ParseRuleAction(value);
    by = L"Defender's own settings";
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
      return {{Note("prevalence.audit",
                    rule + L" is set to audit by " + by +
                        L": it records the programs it would block, and blocks none.",
                    {{"by", by}})},
              false,
              {}};
    case RuleAction::Unknown:
      return {{Note("prevalence.unknown",
                    rule + L" has a value that the doctor does not know (" +
                        Quoted(Shortened(Trimmed(value))) + L", set by " + by +
                        L"): cannot tell whether it blocks Dunvelt.exe.",
                    {{"by", by}, {"value", value}})},
              false,
              {}};
    case RuleAction::Block:
    case RuleAction::Warn:
      break;
  }
  return {
      {Warning(
          "prevalence.blocks",
          rule + L" is set to " + (action == RuleAction::Block ? L"block" : L"warn") + L" by " +
              by +
              L": a new Dunvelt.exe, which few machines have run yet, has no prevalence, and"
              L" may be " +
              (action == RuleAction::Block ? L"blocked" : L"blocked unless the user allows it") +
              L". Ask the administrator for an exclusion of the install folder; signing the"
              L" install helps, but may not be enough until it has a reputation.",
          {{"by", by},
           {"action", std::wstring(action == RuleAction::Block ? L"block" : L"warn")}})},
      false,
      {}};
}

}  // namespace dunvelt::doctor
