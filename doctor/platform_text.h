// Small Windows helpers that every check of the doctor uses: paths of the install, and the
// platform's words for an error.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "checks.h"

namespace dunvelt::doctor {

std::wstring Wide(std::u16string_view text);

// The install's bin\java.exe, in full.
std::wstring RuntimePath(const Install& install);

// A UNC path, \\server\share\..., but not a device or long-path prefix.
bool IsNetworkPath(const std::wstring& path);

// The platform's words for an error, and its number: "Access is denied, error 5".
std::wstring ErrorText(DWORD error);

std::wstring FileName(const std::wstring& path);

}  // namespace dunvelt::doctor
