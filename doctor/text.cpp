#include "text.h"

#include <algorithm>
#include <array>
#include <cwctype>

namespace dunvelt::doctor {
namespace {

constexpr char32_t Replacement = 0xFFFD;
constexpr char32_t Largest = 0x10FFFF;
// UTF-16 writes a character beyond the first plane as a high and a low surrogate, each holding
// ten of its bits.
constexpr char32_t HighStart = 0xD800;
constexpr char32_t LowStart = 0xDC00;
constexpr char32_t LowEnd = 0xDFFF;
constexpr char32_t Plane = 0x10000;
constexpr unsigned HalfBits = 10;
constexpr char32_t HalfMask = 0x3FF;

std::wstring FromUtf16(std::string_view bytes) {
  constexpr unsigned BitsPerByte = 8;
  std::wstring text;
  const auto unit = [&](std::size_t i) {
    return static_cast<char32_t>(static_cast<unsigned char>(bytes[i]) |
                                 (static_cast<unsigned char>(bytes[i + 1]) << BitsPerByte));
  };
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const char32_t first = unit(i);
    if (first >= HighStart && first < LowStart && i + 3 < bytes.size()) {
      const char32_t second = unit(i + 2);
      if (second >= LowStart && second <= LowEnd) {
        AppendCharacter(text, Plane + ((first - HighStart) << HalfBits) + (second - LowStart));
        i += 2;
        continue;
      }
    }
    AppendCharacter(text, first);
  }
  return text;
}

}  // namespace

std::wstring Quoted(std::wstring_view text) { return L"\"" + std::wstring(text) + L"\""; }

std::wstring Lower(std::wstring_view text) {
  std::wstring lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](wchar_t c) { return static_cast<wchar_t>(std::towlower(c)); });
  return lower;
}

bool StartsWithNoCase(std::wstring_view text, std::wstring_view start) {
  return text.size() >= start.size() && Lower(text.substr(0, start.size())) == Lower(start);
}

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n' || c == 0; }

std::wstring_view Trimmed(std::wstring_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

std::wstring Shortened(std::wstring_view text) {
  constexpr std::size_t Longest = 200;
  if (text.size() <= Longest) return std::wstring(text);
  return std::wstring(text.substr(0, Longest)) + L"...";
}

std::wstring Listed(const std::vector<std::wstring>& names, std::size_t most) {
  const std::size_t shown = std::min(names.size(), most);
  const std::size_t more = names.size() - shown;
  std::wstring list;
  for (std::size_t i = 0; i < shown; ++i) {
    if (i > 0) list += (i + 1 == shown && more == 0) ? L" and " : L", ";
    list += names[i];
  }
  if (more > 0) list += L" and " + std::to_wstring(more) + L" more";
  return list;
}

std::wstring Seconds(std::uint32_t ms) {
  constexpr std::uint32_t MsPerSecond = 1000;
  constexpr std::uint32_t Tenths = 100;
  return std::to_wstring(ms / MsPerSecond) + L"." + std::to_wstring(ms % MsPerSecond / Tenths) +
         L" s";
}

std::wstring Hex(std::uint32_t number) {
  constexpr int Digits = 8;
  constexpr int BitsPerDigit = 4;
  constexpr std::uint32_t DigitMask = 0xF;
  std::wstring text = L"0x";
  for (int shift = (Digits - 1) * BitsPerDigit; shift >= 0; shift -= BitsPerDigit) {
    text += L"0123456789ABCDEF"[(number >> static_cast<unsigned>(shift)) & DigitMask];
  }
  return text;
}

namespace {

// "NTSTATUS Values" on Microsoft Learn ([MS-ERREF] 2.3.1): the codes a program ends with when the
// loader could not start it, or when it died of a fault it did not handle.
struct NamedStatus {
  std::uint32_t code;
  const wchar_t* name;
  const wchar_t* meaning;
};
constexpr std::array<NamedStatus, 12> NamedStatuses{{
    {0xC0000005, L"STATUS_ACCESS_VIOLATION", L"an access violation: it crashed"},
    {0xC0000017, L"STATUS_NO_MEMORY", L"it ran out of memory"},
    {0xC000001D, L"STATUS_ILLEGAL_INSTRUCTION",
     L"an instruction that this processor does not have: it is built for a newer one"},
    {0xC000007B, L"STATUS_INVALID_IMAGE_FORMAT",
     L"a bad image: one of its DLLs is built for another machine type, or damaged"},
    {0xC00000FD, L"STATUS_STACK_OVERFLOW", L"a stack overflow: it crashed"},
    {0xC0000135, L"STATUS_DLL_NOT_FOUND", L"a DLL that it needs was not found"},
    {0xC0000139, L"STATUS_ENTRYPOINT_NOT_FOUND",
     L"a DLL that it loads lacks a function it needs: a DLL of another version"},
    {0xC000013A, L"STATUS_CONTROL_C_EXIT", L"it was ended with Ctrl+C or its console closed"},
    {0xC0000142, L"STATUS_DLL_INIT_FAILED", L"a DLL that it loads failed to initialise"},
    {0xC0000409, L"STATUS_STACK_BUFFER_OVERRUN",
     L"it stopped itself at once on a fault it detected (a fail-fast)"},
    {0xC0000417, L"STATUS_INVALID_CRUNTIME_PARAMETER",
     L"its C runtime stopped it on an invalid parameter"},
    {0xC0000428, L"STATUS_INVALID_IMAGE_HASH",
     L"an invalid image hash: Windows refused the signature of it or of one of its DLLs"},
}};

}  // namespace

bool IsErrorStatus(std::uint32_t code) {
  constexpr std::uint32_t Severity = 0xC0000000;
  return (code & Severity) == Severity;
}

std::wstring ExitCodeText(std::uint32_t code) {
  for (const NamedStatus& status : NamedStatuses) {
    if (status.code == code) {
      return Hex(code) + L" (" + status.name + L": " + status.meaning + L")";
    }
  }
  if (IsErrorStatus(code)) return Hex(code) + L" (an NTSTATUS: Windows ended it on an error)";
  return std::to_wstring(code);
}

bool LeadingNumber(std::wstring_view text, std::uint32_t& number) {
  constexpr std::size_t MostDigits = 9;
  constexpr std::uint32_t Base = 10;
  std::size_t digits = 0;
  number = 0;
  while (digits < text.size() && text[digits] >= L'0' && text[digits] <= L'9') {
    if (digits == MostDigits) return false;
    number = number * Base + static_cast<std::uint32_t>(text[digits] - L'0');
    ++digits;
  }
  return digits > 0;
}

std::wstring EndedByDoctor(const std::vector<std::wstring>& images) {
  if (images.empty()) return {};
  std::wstring list;
  for (const std::wstring& image : images) list += (list.empty() ? L"" : L", ") + image;
  return L" The doctor ended what was still running: " + list + L".";
}

void AppendCharacter(std::wstring& text, char32_t code) {
  if (code == 0 || code > Largest || (code >= HighStart && code <= LowEnd)) {
    code = Replacement;
  }
  if constexpr (sizeof(wchar_t) == 2) {
    if (code >= Plane) {
      code -= Plane;
      text += static_cast<wchar_t>(HighStart + (code >> HalfBits));
      text += static_cast<wchar_t>(LowStart + (code & HalfMask));
      return;
    }
  }
  text += static_cast<wchar_t>(code);
}

std::wstring FromUtf8(std::string_view bytes) {
  constexpr unsigned char Continuation = 0x80;
  constexpr unsigned char ContinuationMask = 0xC0;
  constexpr unsigned char ContinuationBits = 0x3F;
  constexpr unsigned BitsPerContinuation = 6;
  struct Lead {
    unsigned char mask;
    unsigned char value;
    std::size_t length;
    char32_t smallest;
  };
  constexpr std::array<Lead, 3> Leads{
      {{0xE0, 0xC0, 2, 0x80}, {0xF0, 0xE0, 3, 0x800}, {0xF8, 0xF0, 4, 0x10000}}};
  std::wstring text;
  for (std::size_t i = 0; i < bytes.size();) {
    const auto byte = static_cast<unsigned char>(bytes[i]);
    if (byte < Continuation) {
      text += static_cast<wchar_t>(byte);
      ++i;
      continue;
    }
    bool decoded = false;
    for (const Lead& lead : Leads) {
      if ((byte & lead.mask) != lead.value || i + lead.length > bytes.size()) continue;
      char32_t code = byte & static_cast<unsigned char>(~lead.mask);
      bool valid = true;
      for (std::size_t k = 1; k < lead.length && valid; ++k) {
        const auto next = static_cast<unsigned char>(bytes[i + k]);
        valid = (next & ContinuationMask) == Continuation;
        code = (code << BitsPerContinuation) | (next & ContinuationBits);
      }
      if (valid && code >= lead.smallest) {
        AppendCharacter(text, code);
        i += lead.length;
        decoded = true;
      }
      break;
    }
    if (!decoded) {
      AppendCharacter(text, Replacement);
      ++i;
    }
  }
  return text;
}

std::wstring DecodedText(std::string_view bytes) {
  constexpr std::string_view Utf8Mark = "\xEF\xBB\xBF";
  constexpr std::string_view Utf16Mark = "\xFF\xFE";
  if (bytes.substr(0, Utf8Mark.size()) == Utf8Mark) return FromUtf8(bytes.substr(Utf8Mark.size()));
  if (bytes.substr(0, Utf16Mark.size()) == Utf16Mark) {
    return FromUtf16(bytes.substr(Utf16Mark.size()));
  }
  // Without a mark, an ASCII first character in UTF-16LE has a zero byte after it.
  if (bytes.size() >= 2 && bytes[0] != 0 && bytes[1] == 0) return FromUtf16(bytes);
  return FromUtf8(bytes);
}

std::string Utf8(std::wstring_view text) {
  constexpr char32_t OneByte = 0x80;
  constexpr char32_t TwoBytes = 0x800;
  constexpr unsigned Six = 6;
  constexpr unsigned char Continuation = 0x80;
  constexpr char32_t Low6 = 0x3F;
  // The first byte's mark of a sequence of two, three and four bytes.
  constexpr char32_t LeadOfTwo = 0xC0;
  constexpr char32_t LeadOfThree = 0xE0;
  constexpr char32_t LeadOfFour = 0xF0;
  std::string bytes;
  for (std::size_t i = 0; i < text.size(); ++i) {
    auto code = static_cast<char32_t>(text[i]);
    if constexpr (sizeof(wchar_t) == 2) {
      if (code >= HighStart && code < LowStart && i + 1 < text.size()) {
        const auto low = static_cast<char32_t>(text[i + 1]);
        if (low >= LowStart && low <= LowEnd) {
          code = Plane + ((code - HighStart) << HalfBits) + (low - LowStart);
          ++i;
        }
      }
    }
    if (code > Largest || (code >= HighStart && code <= LowEnd)) code = Replacement;
    if (code < OneByte) {
      bytes += static_cast<char>(code);
    } else if (code < TwoBytes) {
      bytes += static_cast<char>(LeadOfTwo | (code >> Six));
      bytes += static_cast<char>(Continuation | (code & Low6));
    } else if (code < Plane) {
      bytes += static_cast<char>(LeadOfThree | (code >> (2 * Six)));
      bytes += static_cast<char>(Continuation | ((code >> Six) & Low6));
      bytes += static_cast<char>(Continuation | (code & Low6));
    } else {
      bytes += static_cast<char>(LeadOfFour | (code >> (3 * Six)));
      bytes += static_cast<char>(Continuation | ((code >> (2 * Six)) & Low6));
      bytes += static_cast<char>(Continuation | ((code >> Six) & Low6));
      bytes += static_cast<char>(Continuation | (code & Low6));
    }
  }
  return bytes;
}

std::wstring Widened(std::string_view ascii) { return {ascii.begin(), ascii.end()}; }

std::wstring QuotedArgument(const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    return argument;
  }
  std::wstring quoted = L"\"";
  std::size_t backslashes = 0;
  for (const wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    // Backslashes count only before a quote: doubled there, and the quote escaped.
    quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, L'\\');  // before the closing quote
  return quoted + L"\"";
}

}  // namespace dunvelt::doctor
