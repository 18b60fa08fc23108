// The prevalence rule's facts: its values in the registry, as group policy, device management and
// Defender's own settings write them.
#include <windows.h>

#include <string>

#include "files_windows.h"
#include "prevalence_rule.h"

namespace dunvelt::doctor {

PrevalenceFacts PrevalenceRuleCheck::Gather(const Install& /*install*/) {
  // The registry as 64-bit Windows keeps it: this 32-bit program would otherwise read the 32-bit
  // view of SOFTWARE, where neither Defender nor its policies are.
  constexpr REGSAM NativeView = KEY_WOW64_64KEY;
  const std::wstring policy =
      L"SOFTWARE\\Policies\\Microsoft\\Windows Defender\\Windows Defender Exploit Guard\\ASR";
  PrevalenceFacts facts;
  facts.policySwitch =
      ReadRegistryValue(HKEY_LOCAL_MACHINE, L"HKLM", policy, L"ExploitGuard_ASR_Rules", NativeView);
  facts.policyValue = ReadRegistryValue(HKEY_LOCAL_MACHINE, L"HKLM", policy + L"\\Rules",
                                        PrevalenceRule, NativeView);
  facts.managedList = ReadRegistryValue(
      HKEY_LOCAL_MACHINE, L"HKLM",
      L"SOFTWARE\\Policies\\Microsoft\\Windows Defender\\Policy Manager", L"ASRRules", NativeView);
  facts.localValue = ReadRegistryValue(
      HKEY_LOCAL_MACHINE, L"HKLM",
      L"SOFTWARE\\Microsoft\\Windows Defender\\Windows Defender Exploit Guard\\ASR\\Rules",
      PrevalenceRule, NativeView);
  return facts;
}

}  // namespace dunvelt::doctor
