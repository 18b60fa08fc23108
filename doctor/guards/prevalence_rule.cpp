#include "prevalence_rule.h"

#include <optional>

#include "facts_json.h"
#include "text.h"

namespace dunvelt::doctor {

DUNVELT_FACTS_JSON(PrevalenceFacts, policySwitch, policyValue, managedList, localValue)

RuleAction ParseRuleAction(std::wstring_view value) {
  constexpr std::uint32_t NotConfiguredValue = 5;
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
    case NotConfiguredValue:
      return RuleAction::NotConfigured;
    case WarnValue:
      return RuleAction::Warn;
    default:
      return RuleAction::Unknown;
  }
}

RuleAction RuleActionInList(std::wstring_view list, std::wstring_view rule) {
  const std::wstring wanted = Lower(Trimmed(rule));
  for (std::size_t start = 0; start <= list.size();) {
    const std::size_t end = std::min(list.find_first_of(L"|\r\n", start), list.size());
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

namespace {

bool Decides(RuleAction action) {
  return action != RuleAction::NotSet && action != RuleAction::NotConfigured;
}

const wchar_t* ActionName(RuleAction action) {
  switch (action) {
    case RuleAction::Off:
      return L"off";
    case RuleAction::Block:
      return L"block";
    case RuleAction::Audit:
      return L"audit";
    case RuleAction::Warn:
      return L"warn";
    case RuleAction::NotSet:
    case RuleAction::NotConfigured:
    case RuleAction::Unknown:
      break;
  }
  return L"a value the doctor does not know";
}

bool MayBlock(RuleAction action) {
  return action == RuleAction::Block || action == RuleAction::Warn;
}

const std::wstring& RuleName() {
  static const std::wstring name = std::wstring(
                                       L"Defender's attack surface reduction rule against"
                                       L" programs of low prevalence (") +
                                   PrevalenceRule + L")";
  return name;
}

}  // namespace

CheckResult PrevalenceRuleCheck::Judge(const PrevalenceFacts& facts) {
  // Group policy first: where it and device management set a rule differently, "the setting
  // applied from Group Policy takes precedence" ("Enable attack surface reduction rules", Policy
  // conflicts, on Microsoft Learn). Its rules count only while its switch is not turned off; a
  // rule it leaves "not configured" (5) is left to the others.
  const std::optional<std::uint32_t> policySwitch = ValueNumber(facts.policySwitch);
  const RuleAction policy = policySwitch && *policySwitch == 0
                                ? RuleAction::NotSet
                                : ParseRuleAction(ValueText(facts.policyValue));
  const RuleAction managed = RuleActionInList(ValueText(facts.managedList), PrevalenceRule);
  const RuleAction local = ParseRuleAction(ValueText(facts.localValue));
  RuleAction action = RuleAction::NotSet;
  std::wstring by;
  std::wstring value;
  if (Decides(policy)) {
    action = policy;
    by = L"group policy";
    value = ValueText(facts.policyValue);
  } else if (Decides(managed) && Decides(local) && managed != local) {
    // Microsoft documents no order between the Defender CSP and Defender's own settings: which of
    // them Defender follows, only Defender knows.
    const std::wstring says = std::wstring(L"device management sets it to ") + ActionName(managed) +
                              L", Defender's own settings to " + ActionName(local);
    const Basis basis{{"managed", std::wstring(ActionName(managed))},
                      {"local", std::wstring(ActionName(local))}};
    if (MayBlock(managed) || MayBlock(local)) {
      return {{Warning("prevalence.cannot-tell",
                       RuleName() + L": " + says +
                           L", and cannot tell which Defender follows; if it blocks, a new"
                           L" Dunvelt.exe, which few machines have run yet, may be blocked. The"
                           L" launch shows whether it is; ask the administrator for an exclusion"
                           L" of the install folder.",
                       basis)},
              false,
              {}};
    }
    return {{Note("prevalence.cannot-tell",
                  RuleName() + L": " + says +
                      L"; cannot tell which Defender follows, but neither blocks.",
                  basis)},
            false,
            {}};
  } else if (Decides(managed)) {
    action = managed;
    by = L"device management";
    value = ValueText(facts.managedList);
  } else if (Decides(local)) {
    action = local;
    by = L"Defender's own settings";
    value = ValueText(facts.localValue);
  }
  const std::wstring& rule = RuleName();
  switch (action) {
    case RuleAction::NotSet:
    case RuleAction::NotConfigured:
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
