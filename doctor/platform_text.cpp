#include "platform_text.h"

#include "launch_parameters.h"

namespace dunvelt::doctor {

std::wstring Wide(std::u16string_view text) { return {text.begin(), text.end()}; }

std::wstring RuntimePath(const Install& install) {
  return install.folder + (install.folder.back() == L'\\' ? L"" : L"\\") + Wide(JavaRuntimePath);
}

bool IsNetworkPath(const std::wstring& path) {
  return path.rfind(L"\\\\", 0) == 0 && path.rfind(L"\\\\?\\", 0) != 0 &&
         path.rfind(L"\\\\.\\", 0) != 0;
}

// The platform's words for an error, and its number.
std::wstring ErrorText(DWORD error) {
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring words = length > 0 ? std::wstring(text, length) : std::wstring();
  LocalFree(text);
  while (!words.empty() && (words.back() == L'\n' || words.back() == L'\r' ||
                            words.back() == L' ' || words.back() == L'.')) {
    words.pop_back();
  }
  return (words.empty() ? L"" : words + L", ") + L"error " + std::to_wstring(error);
}

std::wstring FileName(const std::wstring& path) {
  return path.substr(path.find_last_of(L'\\') + 1);
}
}  // namespace dunvelt::doctor
