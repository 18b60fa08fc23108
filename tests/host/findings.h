// The doctor's findings as it prints them, one line each, for the host tests to match words in.
#pragma once

#include <string>

#include "diagnosis.h"

namespace dunvelt::doctor {

inline std::wstring Printed(const Findings& findings) {
  std::wstring lines;
  for (const Finding& finding : findings) lines += Line(finding) + L"\n";
  return lines;
}

inline bool Says(const Findings& findings, const std::wstring& words) {
  return Printed(findings).find(words) != std::wstring::npos;
}

}  // namespace dunvelt::doctor
