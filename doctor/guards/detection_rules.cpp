#include "detection_rules.h"

#include <string_view>
#include <vector>

#include "facts_json.h"
#include "signatures.h"
#include "text.h"

namespace dunvelt::doctor {

DUNVELT_FACTS_JSON(DetectionFacts, found, path, readError, trustResult, originalFileName,
                   fileDescription, productName, versionError)

namespace {

// Sigma compares strings without regard to case.
bool SameNoCase(const std::wstring& a, const std::wstring& b) { return Lower(a) == Lower(b); }

// A path as Sysmon writes it: without the long-path prefix, a UNC path as \\server\share.
std::wstring ImagePath(const std::wstring& path) {
  constexpr std::wstring_view Unc = L"\\\\?\\UNC\\";
  constexpr std::wstring_view Long = L"\\\\?\\";
  if (StartsWithNoCase(path, Unc)) return L"\\\\" + path.substr(Unc.size());
  if (StartsWithNoCase(path, Long)) return path.substr(Long.size());
  return path;
}

// "a, or b, or c".
std::wstring Alternatives(const std::vector<std::wstring>& choices) {
  std::wstring text;
  for (const std::wstring& choice : choices) text += (text.empty() ? L"" : L", or ") + choice;
  return text;
}

}  // namespace

// SigmaHQ's rule "Potential JLI.dll Side-Loading" (7a3b6d1f-4a2b-4f8c-9d7e-e9f8cbf21a35, level
// high, rules/windows/image_load/image_load_side_load_jli.yml) fires on every load of a file whose
// path ends \jli.dll, unless all of its filter holds: the path starts C:\Program Files\ or
// C:\Program Files (x86)\, the description is "OpenJDK Platform binary", the original file name
// jli.dll, the product starts "OpenJDK Platform", and the file is signed; or the path starts
// C:\eclipse\plugins\.
CheckResult DetectionRulesCheck::Judge(const DetectionFacts& facts) {
  CheckResult out;
  if (!facts.found) {
    out.findings.push_back(Note("detection.jli-absent",
                                L"The runtime has no bin\\jli.dll, so the public rule on its"
                                L" loads (\"Potential JLI.dll Side-Loading\") has nothing to"
                                L" judge."));
    return out;
  }
  const std::wstring path = ImagePath(facts.path);
  if (StartsWithNoCase(path, L"C:\\eclipse\\plugins\\")) {
    out.findings.push_back(Ok("detection.jli-quiet",
                              L"SigmaHQ's rule \"Potential JLI.dll Side-Loading\" leaves " + path +
                                  L" alone: it lies under C:\\eclipse\\plugins\\.",
                              {{"path", path}}));
    return out;
  }
  std::vector<std::wstring> failing;
  std::vector<std::wstring> changes;
  if (!StartsWithNoCase(path, L"C:\\Program Files\\") &&
      !StartsWithNoCase(path, L"C:\\Program Files (x86)\\")) {
    failing.emplace_back(L"it lies outside C:\\Program Files\\ and C:\\Program Files (x86)\\");
    changes.emplace_back(
        L"install the application machine-wide under C:\\Program Files\\ (a"
        L" per-user, portable or zip distribution cannot avoid the rule)");
  }
  const bool signedFile = facts.readError.empty() && facts.trustResult == 0;
  if (!facts.readError.empty()) {
    failing.emplace_back(L"the doctor could not read it (" + facts.readError +
                         L"), so it cannot tell whether it is signed");
  } else if (!signedFile) {
    failing.emplace_back(L"it is not validly signed (" + TrustResultName(facts.trustResult) + L")");
    changes.emplace_back(L"ship the runtime's jli.dll as its vendor signed it, unchanged");
  }
  const bool strings = SameNoCase(facts.fileDescription, L"OpenJDK Platform binary") &&
                       SameNoCase(facts.originalFileName, L"jli.dll") &&
                       StartsWithNoCase(facts.productName, L"OpenJDK Platform");
  if (!facts.versionError.empty()) {
    failing.emplace_back(L"its version resource could not be read (" + facts.versionError + L")");
  } else if (facts.fileDescription.empty() && facts.originalFileName.empty() &&
             facts.productName.empty()) {
    failing.emplace_back(L"it has no version resource that names it");
  } else if (!strings) {
    failing.emplace_back(L"its version resource reads description " +
                         Quoted(facts.fileDescription) + L", original file name " +
                         Quoted(facts.originalFileName) + L" and product " +
                         Quoted(facts.productName) +
                         L", not \"OpenJDK Platform binary\", \"jli.dll\" and \"OpenJDK Platform"
                         L" ...\"");
  }
  if (!facts.versionError.empty() || !strings) {
    changes.emplace_back(
        L"use a runtime whose bin\\jli.dll reads description \"OpenJDK Platform"
        L" binary\" and product \"OpenJDK Platform ...\"");
  }
  const Basis basis{{"path", path},
                    {"rule", std::wstring(L"7a3b6d1f-4a2b-4f8c-9d7e-e9f8cbf21a35")},
                    {"signed", signedFile}};
  if (failing.empty()) {
    out.findings.push_back(Ok("detection.jli-quiet",
                              L"SigmaHQ's rule \"Potential JLI.dll Side-Loading\" leaves " + path +
                                  L" alone: it lies under Program Files on drive C, is signed and"
                                  L" reads as OpenJDK's.",
                              basis));
    return out;
  }
  changes.emplace_back(L"give the customer's security team the path " + path +
                       L" to filter from the rule");
  out.findings.push_back(Warning(
      "detection.jli-side-loading",
      L"Security tools that run SigmaHQ's public rules will raise \"Potential JLI.dll"
      L" Side-Loading\" (rule 7a3b6d1f-4a2b-4f8c-9d7e-e9f8cbf21a35, level high) on every start,"
      L" since bin\\java.exe loads " +
          path + L" and " + Listed(failing) + L". The packager can " + Alternatives(changes) + L".",
      basis));
  return out;
}

}  // namespace dunvelt::doctor
