#include "paths.h"

#include "owners.h"
#include "sized_text.h"

namespace dunvelt {

std::wstring CanonicalPath(const std::wstring& path) {
  const std::wstring full = SizedText([&](wchar_t* buffer, DWORD capacity) {
    return GetFullPathNameW(path.c_str(), capacity, buffer, nullptr);
  });
  const std::wstring longForm = SizedText([&](wchar_t* buffer, DWORD capacity) {
    return GetLongPathNameW(full.c_str(), buffer, capacity);
  });
  return longForm.empty() ? full : longForm;
}

bool SamePath(const std::wstring& left, const std::wstring& right) {
  return !left.empty() &&
         CompareStringOrdinal(left.c_str(), -1, right.c_str(), -1, TRUE) == CSTR_EQUAL;
}

std::wstring ProcessImagePath(HANDLE process) {
  return SizedText([&](wchar_t* buffer, DWORD capacity) {
    DWORD size = capacity;
    if (QueryFullProcessImageNameW(process, 0, buffer, &size) != FALSE) return size;
    return GetLastError() == ERROR_INSUFFICIENT_BUFFER ? capacity : DWORD{0};
  });
}

std::wstring ProcessImagePath(DWORD processId) {
  const UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
  return process ? ProcessImagePath(process.get()) : std::wstring();
}

std::wstring OwnPath() {
  return SizedText([](wchar_t* buffer, DWORD capacity) {
    return GetModuleFileNameW(nullptr, buffer, capacity);
  });
}

}  // namespace dunvelt
