// What security tools will say of a start: public detection rules that endpoint products and
// security teams run over Sysmon's records, judged on the runtime as it lies on the machine.
// Portable; its facts are gathered in detection_rules_windows.cpp.
#pragma once

#include <cstdint>
#include <string>

#include "facts_json_fwd.h"
#include "finding.h"
#include "install.h"

namespace dunvelt::doctor {

// The runtime's bin\jli.dll, which bin\java.exe loads on every start, as Sysmon records its load.
struct DetectionFacts {
  bool found = false;
  std::wstring path;              // its full path as Windows resolves it, links and drives undone
  std::wstring readError;         // why it could not be opened, in the platform's words; else empty
  std::uint32_t trustResult = 0;  // WinVerifyTrust's answer
  // Its version resource's strings, as Sysmon reads them; versionError says why there are none.
  std::wstring originalFileName;
  std::wstring fileDescription;
  std::wstring productName;
  std::wstring versionError;
};

DUNVELT_FACTS_JSON_DECLARE(DetectionFacts)

struct DetectionRulesCheck {
  static constexpr const char* Id = "guards.detection-rules";
  static constexpr const wchar_t* Title = L"What security tools' public rules say of a start";
  using Facts = DetectionFacts;
  static Facts Gather(const Install& install);
  static CheckResult Judge(const Facts& facts);
};

}  // namespace dunvelt::doctor
