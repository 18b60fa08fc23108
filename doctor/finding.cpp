#include "finding.h"

#include <algorithm>

namespace dunvelt::doctor {

const wchar_t* VerdictName(Verdict verdict) {
  switch (verdict) {
    case Verdict::Ok:
      return L"OK";
    case Verdict::Note:
      return L"NOTE";
    case Verdict::Warning:
      return L"WARNING";
    case Verdict::Problem:
      break;
  }
  return L"PROBLEM";
}

Finding Ok(std::string id, std::wstring text, Basis basis) {
  return {std::move(id), Verdict::Ok, std::move(text), std::move(basis)};
}
Finding Note(std::string id, std::wstring text, Basis basis) {
  return {std::move(id), Verdict::Note, std::move(text), std::move(basis)};
}
Finding Warning(std::string id, std::wstring text, Basis basis) {
  return {std::move(id), Verdict::Warning, std::move(text), std::move(basis)};
}
Finding Problem(std::string id, std::wstring text, Basis basis) {
  return {std::move(id), Verdict::Problem, std::move(text), std::move(basis)};
}

std::wstring Line(const Finding& finding) {
  return std::wstring(VerdictName(finding.verdict)) + L": " + finding.text + L" [" +
         std::wstring(finding.id.begin(), finding.id.end()) + L"]";
}

std::wstring Summary(const Findings& findings) {
  const auto count = [&](Verdict verdict) {
    return std::to_wstring(std::count_if(findings.begin(), findings.end(),
                                         [&](const Finding& f) { return f.verdict == verdict; }));
  };
  return count(Verdict::Problem) + L" problems, " + count(Verdict::Warning) + L" warnings";
}

bool HasProblem(const Findings& findings) {
  return std::any_of(findings.begin(), findings.end(),
                     [](const Finding& f) { return f.verdict == Verdict::Problem; });
}

int ExitCode(const Findings& findings) { return HasProblem(findings) ? 1 : 0; }

}  // namespace dunvelt::doctor
