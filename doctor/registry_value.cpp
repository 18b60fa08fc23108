#include "registry_value.h"

#include "facts_json.h"
#include "text.h"

namespace dunvelt::doctor {

DUNVELT_FACTS_JSON(RegistryValue, key, name, found, type, data, error)

namespace {

constexpr unsigned BitsPerByte = 8;

std::wstring StringData(const RegistryValue& value) {
  const std::string& bytes = value.data.bytes;
  std::wstring text;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const auto unit =
        static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]) |
                             (static_cast<unsigned char>(bytes[i + 1]) << BitsPerByte));
    if (unit == L'\0') break;  // a stored string may or may not carry its null
    text += unit;
  }
  return text;
}

}  // namespace

RegistryValue StringValue(std::wstring_view text) {
  constexpr unsigned Low = 0xFF;
  RegistryValue value;
  value.found = true;
  value.type = RegistryString;
  for (const wchar_t unit : text) {
    const auto code = static_cast<std::uint32_t>(unit);  // NOLINT(bugprone-signed-char-misuse)
    value.data.bytes += static_cast<char>(code & Low);
    value.data.bytes += static_cast<char>((code >> BitsPerByte) & Low);
  }
  value.data.bytes.append(2, '\0');  // the string's null, as Windows stores it
  return value;
}

std::wstring ValueText(const RegistryValue& value) {
  if (!value.found) return {};
  if (value.type == RegistryString || value.type == RegistryExpandString) return StringData(value);
  if (const std::optional<std::uint32_t> number = ValueNumber(value)) {
    return std::to_wstring(*number);
  }
  return {};
}

std::optional<std::uint32_t> ValueNumber(const RegistryValue& value) {
  if (!value.found) return std::nullopt;
  if (value.type == RegistryNumber32 && value.data.bytes.size() == sizeof(std::uint32_t)) {
    std::uint32_t number = 0;
    for (std::size_t i = sizeof number; i-- > 0;) {
      number = (number << BitsPerByte) | static_cast<unsigned char>(value.data.bytes[i]);
    }
    return number;
  }
  if (value.type == RegistryString || value.type == RegistryExpandString) {
    const std::wstring text = StringData(value);
    const std::wstring_view digits = Trimmed(text);
    std::uint32_t number = 0;
    if (LeadingNumber(digits, number) &&
        digits.find_first_not_of(L"0123456789") == std::wstring_view::npos) {
      return number;
    }
  }
  return std::nullopt;
}

}  // namespace dunvelt::doctor
