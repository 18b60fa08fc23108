// Windows' "ask the size, allocate, call again" written once: most calls that return a text write
// it into the caller's buffer and, when it is too small, say how large it must be.
#pragma once

#include <windows.h>

#include <algorithm>
#include <string>

namespace dunvelt {

// The text that `fill(buffer, capacity)` writes. It returns the length written when the text fit,
// or at least the capacity when it did not: the capacity needed, with its null, as
// GetEnvironmentVariableW, GetFullPathNameW or ExpandEnvironmentStringsW say it, or the capacity
// itself, as GetModuleFileNameW does when it cuts the text; and 0 when it failed. Empty on
// failure, or past the longest path Windows has.
template <typename Fill>
std::wstring SizedText(Fill fill, DWORD capacity = MAX_PATH) {
  constexpr DWORD Largest = 65536;  // characters; a long path is at most 32767
  std::wstring text;
  while (capacity <= Largest) {
    text.assign(capacity, L'\0');
    const DWORD result = fill(text.data(), capacity);
    if (result == 0) return {};
    if (result < capacity) {
      text.resize(result);
      while (!text.empty() && text.back() == L'\0') text.pop_back();
      return text;
    }
    capacity = std::max(result, capacity * 2);
  }
  return {};
}

}  // namespace dunvelt
