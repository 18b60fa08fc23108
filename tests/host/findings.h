// What a check found, by its findings' ids and facts, for the host tests to match what a judge
// decided rather than how it words it; and registry values as Windows hands them over.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "finding.h"
#include "registry_value.h"

namespace dunvelt::doctor {

// The first finding with the id, or null.
inline const Finding* Find(const CheckResult& result, std::string_view id) {
  for (const Finding& finding : result.findings) {
    if (finding.id == id) return &finding;
  }
  return nullptr;
}

inline bool Has(const CheckResult& result, std::string_view id, Verdict verdict) {
  const Finding* finding = Find(result, id);
  return finding != nullptr && finding->verdict == verdict;
}

// The result in one line: its findings in order, by verdict and id, then whether it stops the
// launch and what it leaves out. "PROBLEM runtime.missing; stops the launch; leaves out
// runtime.start".
inline std::string Outline(const CheckResult& result) {
  std::string outline;
  for (const Finding& finding : result.findings) {
    const std::wstring verdict = VerdictName(finding.verdict);
    outline += (outline.empty() ? "" : ", ") + std::string(verdict.begin(), verdict.end()) + " " +
               finding.id;
  }
  if (result.stopsLaunch) outline += "; stops the launch";
  for (std::size_t i = 0; i < result.leavesOut.size(); ++i) {
    outline += (i == 0 ? "; leaves out " : ", ") + result.leavesOut[i];
  }
  return outline;
}

// The fact `name` of the first finding with the id; nothing when there is none of that type.
template <typename T>
std::optional<T> Fact(const CheckResult& result, std::string_view id, std::string_view name) {
  const Finding* finding = Find(result, id);
  for (const auto& [named, value] : finding ? finding->basis : Basis{}) {
    if (named == name && std::holds_alternative<T>(value)) return std::get<T>(value);
  }
  return std::nullopt;
}
inline auto Text = Fact<std::wstring>;
inline auto Number = Fact<std::int64_t>;

// Whether the text of the first finding with the id holds the words.
inline bool Says(const CheckResult& result, std::string_view id, std::wstring_view words) {
  const Finding* finding = Find(result, id);
  return finding != nullptr && finding->text.find(words) != std::wstring::npos;
}

// A REG_SZ value as Windows stores it: UTF-16LE with its null; and a REG_DWORD, lowest byte first.
inline RegistryValue RegSz(std::wstring_view text, std::wstring key = L"HKCU") {
  RegistryValue value{std::move(key), L"", true, RegistryString, {}, L""};
  for (const wchar_t unit : std::wstring(text) + L'\0') {
    value.data.bytes += {static_cast<char>(unit & 0xFF), static_cast<char>((unit >> 8) & 0xFF)};
  }
  return value;
}
inline RegistryValue RegDword(std::uint32_t number, std::wstring key = L"HKCU") {
  RegistryValue value{std::move(key), L"", true, RegistryNumber32, {}, L""};
  for (int shift = 0; shift < 32; shift += 8)
    value.data.bytes += static_cast<char>(number >> shift);
  return value;
}

}  // namespace dunvelt::doctor
