// The doctor's small text helpers, written once for every check: cases, blanks, lists, numbers
// and the decoding of the text files and streams it reads. Portable: no platform include.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace dunvelt::doctor {

std::wstring Quoted(std::wstring_view text);
std::wstring Lower(std::wstring_view text);
bool StartsWithNoCase(std::wstring_view text, std::wstring_view start);
bool IsBlank(wchar_t c);
std::wstring_view Trimmed(std::wstring_view text);

// A text from a file or a log, kept short enough for one line of the doctor's.
std::wstring Shortened(std::wstring_view text);

// How many names a list gives before it counts the rest.
inline constexpr std::size_t MostNamed = 10;

// "a", "a and b", "a, b and c", and past `most` names "a, b and 7 more".
std::wstring Listed(const std::vector<std::wstring>& names, std::size_t most = MostNamed);

// "2.5 s" of milliseconds.
std::wstring Seconds(std::uint32_t ms);

// "0x80092026", as Windows shows its error codes.
std::wstring Hex(std::uint32_t number);

// A program's exit code as a report names it: "7"; and one of the NTSTATUS codes with which Windows
// ends a program that could not load or that failed, in hex with its meaning:
// "0xC0000135 (STATUS_DLL_NOT_FOUND: a DLL that it needs was not found)".
std::wstring ExitCodeText(std::uint32_t code);

// Whether Windows, not the program, chose the exit code: an NTSTATUS of an error.
bool IsErrorStatus(std::uint32_t code);

// Decimal digits at the start of the text, as a number; false when there are none or too many.
bool LeadingNumber(std::wstring_view text, std::uint32_t& number);

// " The doctor ended what was still running: java.exe, cmd.exe." or nothing.
std::wstring EndedByDoctor(const std::vector<std::wstring>& images);

// Text of a file or a stream: UTF-8 or UTF-16LE, with or without a byte order mark. A byte that
// starts no valid sequence stands for itself as a replacement character.
std::wstring DecodedText(std::string_view bytes);
std::wstring FromUtf8(std::string_view bytes);

// Appends the character, as one or two UTF-16 units where wchar_t is 16 bits; a character that
// is none becomes the replacement character.
void AppendCharacter(std::wstring& text, char32_t code);

// The text in UTF-8, and an ASCII text widened.
std::string Utf8(std::wstring_view text);
std::wstring Widened(std::string_view ascii);

// The text that CommandLineToArgvW, and a C runtime's argv, read back as `argument` alone.
std::wstring QuotedArgument(const std::wstring& argument);

}  // namespace dunvelt::doctor
