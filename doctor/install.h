// The install the doctor checks: the folder that holds Dunvelt.exe and bin, as the user gave it or
// as the doctor found it. Portable.
#pragma once

#include <cstddef>
#include <string>

#include "facts_json_fwd.h"

namespace dunvelt::doctor {

// The launcher's file, which the doctor's argument may name.
inline constexpr const wchar_t* LauncherName = L"Dunvelt.exe";

struct Install {
  std::wstring folder;    // full path, without a closing backslash unless it is a drive's root
  std::wstring launcher;  // the Dunvelt.exe in it
};

DUNVELT_FACTS_JSON_DECLARE(Install)

// The install's bin\java.exe, in full.
std::wstring RuntimePath(const Install& install);

// The path of a file of the install, given relative to its folder.
std::wstring InInstall(const Install& install, const std::wstring& relative);

// MAX_PATH: the most characters of a path, its terminating null among them, that Windows takes
// from a program that does not declare itself long-path aware.
inline constexpr std::size_t MaxPath = 260;

// A full, normalised path as Windows reads it however long it is: beyond MAX_PATH, with the
// extended-length prefix (\\?\C:\..., \\?\UNC\server\share\...); shorter, as it is.
std::wstring ExtendedLengthPath(const std::wstring& full);

}  // namespace dunvelt::doctor
