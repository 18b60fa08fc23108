#include "paths.h"

#include "unique_handle.h"

namespace dunvelt {
namespace {

constexpr DWORD LongestPath = 32768;  // in characters

}  // namespace

std::wstring CanonicalPath(const std::wstring& path) {
  std::wstring full(LongestPath, L'\0');
  full.resize(GetFullPathNameW(path.c_str(), LongestPath, full.data(), nullptr));
  std::wstring longForm(LongestPath, L'\0');
  const DWORD length = GetLongPathNameW(full.c_str(), longForm.data(), LongestPath);
  if (length == 0 || length >= LongestPath) return full;
  longForm.resize(length);
  return longForm;
}

bool SamePath(const std::wstring& left, const std::wstring& right) {
  return !left.empty() &&
         CompareStringOrdinal(left.c_str(), -1, right.c_str(), -1, TRUE) == CSTR_EQUAL;
}

std::wstring ProcessImagePath(DWORD processId) {
  const UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
  if (!process) return {};
  std::wstring path(LongestPath, L'\0');
  DWORD size = LongestPath;
  if (QueryFullProcessImageNameW(process.get(), 0, path.data(), &size) == FALSE) return {};
  path.resize(size);
  return path;
}

}  // namespace dunvelt
