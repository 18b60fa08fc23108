// libFuzzer target: the values that Defender's attack surface reduction rules are set to, in
// group policy's form and device management's list of "GUID=value|...", read and judged. Each
// byte stands for one character.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "guards.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::wstring text(data, data + size);
  using dunvelt::doctor::RuleAction;
  const RuleAction listed =
      dunvelt::doctor::RuleActionInList(text, dunvelt::doctor::PrevalenceRule);
  const RuleAction single = dunvelt::doctor::ParseRuleAction(text);
  // Only blanks leave a value unset.
  const std::wstring blanks(L" \t\r\n\0", 5);
  if ((single == RuleAction::NotSet) != (text.find_first_not_of(blanks) == std::wstring::npos)) {
    std::abort();
  }
  dunvelt::doctor::PrevalenceFacts facts;
  facts.managedList = text;
  facts.policyValue = text;
  facts.localValue = text;
  const dunvelt::doctor::Findings findings = dunvelt::doctor::JudgePrevalenceRule(facts);
  // Only a rule that blocks or warns is a warning, and nothing here is a problem.
  for (const auto& finding : findings) {
    if (finding.verdict == dunvelt::doctor::Verdict::Problem) std::abort();
  }
  if (listed == RuleAction::Block && findings.empty()) std::abort();
  return 0;
}
