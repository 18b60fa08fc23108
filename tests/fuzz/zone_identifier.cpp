// libFuzzer target: a Zone.Identifier stream, in whatever bytes a file's stream holds, read and
// judged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "mark_of_the_web.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(data, data + size);
  const dunvelt::doctor::ZoneIdentifier zone = dunvelt::doctor::ParseZoneIdentifier(bytes);
  if (!zone.hasZone && zone.zone != 0) std::abort();
  if (zone.hostUrl.size() > 2048 || zone.referrerUrl.size() > 2048) std::abort();
  dunvelt::doctor::MarkFacts facts;
  facts.installFolder = L"C:\\Orbisk";
  facts.files = {{L"Dunvelt.exe", true, {bytes}, L""}, {L"bin\\java.exe", true, {bytes}, L""}};
  const dunvelt::doctor::CheckResult judged = dunvelt::doctor::MarkOfTheWebCheck::Judge(facts);
  // A zone the doctor names is one it read.
  if (judged.stopsLaunch != (zone.hasZone && zone.zone == dunvelt::doctor::ZoneRestricted)) {
    std::abort();
  }
  return 0;
}
