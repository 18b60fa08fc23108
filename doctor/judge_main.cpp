// dunvelt-doctor-judge: the doctor's judges on a computer that is not the user's, for a support
// desk that has a customer's saved facts (Dunvelt-doctor.exe --save FILE) and a newer doctor:
//   dunvelt-doctor-judge [--json] FILE
// It prints the report that Dunvelt-doctor.exe --judge FILE prints, and exits as it does: 0 with
// no problem, 1 with one, 2 when the file is no saved facts. Portable; built with the host tools.
#include <cstdio>
#include <exception>
#include <fstream>
#include <iterator>
#include <string>

#include "check_runner.h"
#include "facts_json.h"
#include "report.h"
#include "text.h"

namespace {

constexpr int CannotJudge = 2;

void Print(const std::wstring& text) {
  std::fputs(dunvelt::doctor::Utf8(text + L"\n").c_str(), stdout);
}

class Printer : public dunvelt::doctor::RunObserver {
 public:
  explicit Printer(bool quiet) : quiet_(quiet) {}
  void Done(const dunvelt::doctor::CheckRun& check) override {
    if (quiet_) return;
    for (const std::wstring& line : dunvelt::doctor::CheckLines(check)) Print(line);
  }

 private:
  bool quiet_;
};

}  // namespace

int main(int argc, char** argv) {
  using namespace dunvelt::doctor;
  const bool json = argc == 3 && std::string(argv[1]) == "--json";
  if (argc != (json ? 3 : 2)) {
    Print(
        L"Give the file that Dunvelt-doctor.exe --save wrote, and --json before it for a JSON"
        L" report.");
    return CannotJudge;
  }
  const std::string path = argv[argc - 1];
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    Print(L"The doctor could not read " + FromUtf8(path) + L".");
    return CannotJudge;
  }
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  try {
    Printer printer(json);
    const Report report = JudgeSaved(nlohmann::json::parse(bytes), printer);
    Print(json ? FromUtf8(JsonReport(report).dump(2)) : Summary(AllFindings(report)));
    return ReportExitCode(report);
  } catch (const std::exception& failure) {
    Print(L"The doctor cannot judge " + FromUtf8(path) + L": " + FailureText(failure) + L".");
    return CannotJudge;
  }
}
