#include "platform_error.h"

#include "owners.h"

namespace dunvelt {

PlatformError LastError(const wchar_t* call) { return {call, GetLastError()}; }

std::wstring ErrorText(DWORD code) {
  wchar_t* buffer = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  const UniqueLocalMemory<wchar_t> owned(buffer);
  std::wstring words = length > 0 ? std::wstring(buffer, length) : std::wstring();
  while (!words.empty() && (words.back() == L'\n' || words.back() == L'\r' ||
                            words.back() == L' ' || words.back() == L'.')) {
    words.pop_back();
  }
  return (words.empty() ? L"" : words + L", ") + L"error " + std::to_wstring(code);
}

std::wstring Describe(const PlatformError& error) {
  return std::wstring(error.call != nullptr ? error.call : L"a call") + L": " +
         ErrorText(error.code);
}

}  // namespace dunvelt
