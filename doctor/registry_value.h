// A registry value as Windows handed it to the doctor: its type and bytes, kept raw so that a
// saved file can be judged again by a newer doctor's reading of them. Portable.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "facts_json_fwd.h"

namespace dunvelt::doctor {

inline constexpr std::uint32_t RegistryString = 1;        // REG_SZ
inline constexpr std::uint32_t RegistryExpandString = 2;  // REG_EXPAND_SZ
inline constexpr std::uint32_t RegistryNumber32 = 4;      // REG_DWORD

struct RegistryValue {
  std::wstring key;  // "HKLM\SOFTWARE\...", with the view it was read in when that matters
  std::wstring name;
  bool found = false;
  std::uint32_t type = 0;
  RawBytes data;
  std::wstring error;  // why it could not be read, other than its absence
};

DUNVELT_FACTS_JSON_DECLARE(RegistryValue)

// A string value (REG_SZ) of the text, as Windows stores it: UTF-16LE with its null.
RegistryValue StringValue(std::wstring_view text);

// A string value as its text, a number as its decimal digits; empty for anything else, and for a
// value that is not there.
std::wstring ValueText(const RegistryValue& value);

// A number value (REG_DWORD), or a string of decimal digits; nothing for anything else.
std::optional<std::uint32_t> ValueNumber(const RegistryValue& value);

}  // namespace dunvelt::doctor
