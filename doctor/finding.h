// What every check of the doctor says: its findings, each with a stable id that support desks and
// fleet tools can group by, a verdict, the sentence a user reads, and the few facts it rests on.
// Portable: no platform include.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace dunvelt::doctor {

// A note tells what the doctor did or saw beside the checks; it counts as neither.
enum class Verdict { Ok, Note, Warning, Problem };

// "OK", "NOTE", "WARNING" or "PROBLEM".
const wchar_t* VerdictName(Verdict verdict);

// One fact a finding rests on: a text, a number or a yes/no.
using BasisValue = std::variant<std::wstring, std::int64_t, bool>;
using Basis = std::vector<std::pair<std::string, BasisValue>>;

struct Finding {
  std::string id;  // "runtime.heap-refused": never reworded, so that it can be searched for
  Verdict verdict = Verdict::Note;
  std::wstring text;
  Basis basis;
};

using Findings = std::vector<Finding>;

Finding Ok(std::string id, std::wstring text, Basis basis = {});
Finding Note(std::string id, std::wstring text, Basis basis = {});
Finding Warning(std::string id, std::wstring text, Basis basis = {});
Finding Problem(std::string id, std::wstring text, Basis basis = {});

// What one check found, and whether it stops the launch check: a problem that no launch can get
// past, so that starting the application would only fail again. A check may also leave out later
// checks that its finding makes pointless, by their ids; it says why in its own findings.
struct CheckResult {
  Findings findings;
  bool stopsLaunch = false;
  std::vector<std::string> leavesOut;
};

// The finding as the text report prints it: "PROBLEM: ... [runtime.heap-refused]".
std::wstring Line(const Finding& finding);

// The closing line: "N problems, N warnings".
std::wstring Summary(const Findings& findings);

// 0 when no finding is a problem, else 1.
int ExitCode(const Findings& findings);

// Whether any finding is a problem.
bool HasProblem(const Findings& findings);

}  // namespace dunvelt::doctor
