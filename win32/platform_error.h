// A platform call that failed: the call's name and its error code, captured where it failed; the
// words come later, from one formatter.
#pragma once

#include <windows.h>

#include <string>

namespace dunvelt {

struct PlatformError {
  const wchar_t* call = nullptr;  // "CreateProcessW"
  DWORD code = 0;
};

// The calling thread's last error, named for the call that just failed.
PlatformError LastError(const wchar_t* call);

// The platform's words for an error, and its number: "Access is denied, error 5".
std::wstring ErrorText(DWORD code);

// The call and its error: "AssignProcessToJobObject: Access is denied, error 5".
std::wstring Describe(const PlatformError& error);

}  // namespace dunvelt
