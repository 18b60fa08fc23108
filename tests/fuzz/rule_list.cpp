// libFuzzer target: the values that Defender's attack surface reduction rules are set to, in
// group policy's form and device management's list of "GUID=value|...", read and judged. Each
// byte stands for one character.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "prevalence_rule.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::wstring text(data, data + size);
  using dunvelt::doctor::RuleAction;
  const RuleAction single = dunvelt::doctor::ParseRuleAction(text);
  // Only blanks leave a value unset.
  const std::wstring blanks(L" \t\r\n\0", 5);
  if ((single == RuleAction::NotSet) != (text.find_first_not_of(blanks) == std::wstring::npos)) {
    std::abort();
  }
  dunvelt::doctor::PrevalenceFacts facts;
  facts.managedList = facts.policyValue = facts.localValue = dunvelt::doctor::StringValue(text);
  const dunvelt::doctor::Findings findings =
      dunvelt::doctor::PrevalenceRuleCheck::Judge(facts).findings;
  // Only a rule that blocks or warns is a warning, and nothing here is a problem.
  for (const auto& finding : findings) {
    if (finding.verdict == dunvelt::doctor::Verdict::Problem) std::abort();
  }
  // Windows reads a string value up to its first null, and so does the doctor.
  const RuleAction stored = dunvelt::doctor::RuleActionInList(text.substr(0, text.find(L'\0')),
                                                              dunvelt::doctor::PrevalenceRule);
  if (stored == RuleAction::Block && findings.empty()) std::abort();
  return 0;
}
