#include "facts_json.h"

#include <string_view>

namespace dunvelt::doctor {
namespace {

// The JSON library's own numbers for its errors; this one is the doctor's.
constexpr int NotHexadecimal = 501;

}  // namespace

void to_json(nlohmann::json& json, const RawBytes& raw) {
  constexpr std::string_view Digits = "0123456789abcdef";
  constexpr unsigned HighNibble = 4;
  constexpr unsigned Nibble = 0xF;
  std::string hex;
  hex.reserve(raw.bytes.size() * 2);
  for (const char c : raw.bytes) {
    const auto byte = static_cast<unsigned char>(c);
    hex += Digits[byte >> HighNibble];
    hex += Digits[byte & Nibble];
  }
  json = hex;
}

void from_json(const nlohmann::json& json, RawBytes& raw) {
  const auto& hex = json.get_ref<const std::string&>();
  const auto value = [&](char c) -> int {
    constexpr int Ten = 10;
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + Ten;
    if (c >= 'A' && c <= 'F') return c - 'A' + Ten;
    throw nlohmann::json::other_error::create(NotHexadecimal, "not hexadecimal: " + hex, &json);
  };
  if (hex.size() % 2 != 0) {
    throw nlohmann::json::other_error::create(NotHexadecimal, "odd number of hexadecimal digits",
                                              &json);
  }
  constexpr int HighNibble = 4;
  raw.bytes.clear();
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    raw.bytes += static_cast<char>((value(hex[i]) << HighNibble) | value(hex[i + 1]));
  }
}

}  // namespace dunvelt::doctor
