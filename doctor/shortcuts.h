// The shortcuts to this Dunvelt.exe in the Start menu, on the desktop and in Startup: each must
// start it in the install folder. Portable; its facts are gathered in shortcuts_windows.cpp.
#pragma once

#include <string>
#include <vector>

#include "facts_json_fwd.h"
#include "finding.h"
#include "install.h"

namespace dunvelt::doctor {

struct ShortcutFacts {
  std::wstring installFolder;
  struct Link {
    std::wstring path;       // of the .lnk file
    std::wstring readError;  // why it could not be read, in the platform's words; else empty
    std::wstring target;     // with its environment variables expanded
    std::wstring startIn;    // likewise; empty when it has none
    bool startsInInstallFolder = false;
  };
  // Those that point at this Dunvelt.exe, and those that could not be read, which might.
  std::vector<Link> links;
  struct Unlisted {
    std::wstring folder;
    std::wstring error;  // with the platform's words
  };
  std::vector<Unlisted> unlistedFolders;
};

DUNVELT_FACTS_JSON_DECLARE(ShortcutFacts)

struct ShortcutsCheck {
  static constexpr const char* Id = "shortcuts";
  static constexpr const wchar_t* Title = L"The shortcuts";
  using Facts = ShortcutFacts;
  static Facts Gather(const Install& install);
  static CheckResult Judge(const Facts& facts);
};

// A shortcut's stored path with %ProgramFiles% or %CommonProgramFiles% at its start read as the
// 64-bit folders, which a 64-bit installer meant: a 32-bit program that expands them gets the
// 32-bit ones. Empty 64-bit folders (a 32-bit Windows) leave the path as it is.
std::wstring WithNativeProgramFiles(const std::wstring& raw, const std::wstring& programFiles64,
                                    const std::wstring& commonProgramFiles64);

}  // namespace dunvelt::doctor
