// libFuzzer target: an event rendered as XML, as the event logs hand it to the doctor, read and
// matched against an install. Each byte stands for one character, so that the fuzzer's ASCII
// mutations reach the markup.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "event_logs.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::wstring xml(data, data + size);
  const dunvelt::doctor::GuardEvent event = dunvelt::doctor::ParseEventXml(xml);
  // The bounds that keep a huge or hostile event from filling the doctor's report.
  if (event.fields.size() > 64) std::abort();
  for (const auto& field : event.fields) {
    if (field.value.size() > 4096) std::abort();
    dunvelt::doctor::NamesFileIn(
        field.value, {L"C:\\Program Files\\Orbisk", L"\\Device\\HarddiskVolume3", L"C:"});
    dunvelt::doctor::NamesFileIn(field.value, {L"\\\\server\\apps\\Orbisk", L"\\Device\\Mup", L""});
  }
  dunvelt::doctor::EventLogFacts facts;
  facts.installFolder = L"C:\\Orbisk";
  facts.volumeDevice = L"\\Device\\HarddiskVolume3";
  facts.systemDrive = L"C:";
  facts.logs = {
      {L"Microsoft-Windows-CodeIntegrity/Operational", true, L"", false, 2, false, {xml, xml}}};
  facts.files = {{L"bin\\java.exe", L"2024-05-01T10:22:13.1234567Z"}};
  const dunvelt::doctor::Findings findings = dunvelt::doctor::EventLogsCheck::Judge(facts).findings;
  if (findings.empty()) std::abort();
  return 0;
}
