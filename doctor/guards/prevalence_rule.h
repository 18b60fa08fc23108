// Defender's attack surface reduction rule against programs of low prevalence, which blocks a new
// program that few machines have run: a new Dunvelt.exe is one. Portable; its facts are gathered
// in prevalence_rule_windows.cpp.
#pragma once

#include <string_view>

#include "facts_json_fwd.h"
#include "finding.h"
#include "install.h"
#include "registry_value.h"

namespace dunvelt::doctor {

// "Block executable files from running unless they meet a prevalence, age, or trusted list
// criterion".
inline constexpr const wchar_t* PrevalenceRule = L"01443614-cd74-433a-b99e-2ecdc07bfc25";

enum class RuleAction { NotSet, Off, Block, Audit, NotConfigured, Warn, Unknown };

// A rule's value: "0" off, "1" block, "2" audit, "5" not configured, "6" warn; blanks around it
// allowed.
RuleAction ParseRuleAction(std::wstring_view value);

// The rule's value in a list of "GUID=value" separated by '|', as device management writes it, or
// one to a line, as an Intune profile shows it; NotSet when the list does not name the rule.
RuleAction RuleActionInList(std::wstring_view list, std::wstring_view rule);

struct PrevalenceFacts {
  // Group policy: its switch ExploitGuard_ASR_Rules, and the rule's value in its Rules key.
  RegistryValue policySwitch;
  RegistryValue policyValue;
  RegistryValue managedList;  // device management's ASRRules list
  RegistryValue localValue;   // Defender's own setting (Set-MpPreference)
};

DUNVELT_FACTS_JSON_DECLARE(PrevalenceFacts)

struct PrevalenceRuleCheck {
  static constexpr const char* Id = "guards.prevalence-rule";
  static constexpr const wchar_t* Title = L"Defender's rule against new programs";
  using Facts = PrevalenceFacts;
  static Facts Gather(const Install& install);
  static CheckResult Judge(const Facts& facts);
};

}  // namespace dunvelt::doctor
