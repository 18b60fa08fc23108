// The install folder: where it is, and what in it stands in the launcher's way. Portable; its facts
// are gathered in install_folder_windows.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "facts_json_fwd.h"
#include "finding.h"
#include "install.h"
#include "registry_value.h"

namespace dunvelt::doctor {

// The longest folder that a program can be started in, without the closing backslash that Windows
// adds: MAX_PATH less that backslash and the terminating null.
inline constexpr std::size_t LongestCurrentFolder = 258;

// The longest folder from which the launcher's relative names still reach their files: a relative
// path is resolved against the current folder, and the whole of it, backslash and terminating
// null among them, must fit in MAX_PATH.
std::size_t LongestFolderForRelativeNames();

struct FolderFacts {
  std::wstring path;
  bool networkPath = false;    // a UNC path
  bool remoteDrive = false;    // on a drive letter mapped to a network share
  std::uint32_t codePage = 0;  // the ANSI code page of this Windows
  // The first name on the path that the code page cannot hold; empty when all fit.
  std::wstring outsideCodePage;
  std::vector<RegistryValue> uncChecks;  // cmd.exe's DisableUNCCheck, read for a network path
};

DUNVELT_FACTS_JSON_DECLARE(FolderFacts)

// It holds Dunvelt.exe, on a local drive, in a folder a program can be started in.
struct InstallFolderCheck {
  static constexpr const char* Id = "install.folder";
  static constexpr const wchar_t* Title = L"The install folder";
  using Facts = FolderFacts;
  static Facts Gather(const Install& install);
  static CheckResult Judge(const Facts& facts);
};

// The programs in the install folder itself that the launcher's shell would take for Windows' own
// command interpreter.
struct ForeignInterpreterFacts {
  std::vector<std::wstring> found;  // their file names, as the folder lists them
};

DUNVELT_FACTS_JSON_DECLARE(ForeignInterpreterFacts)

// No cmd.exe of its own in the install folder.
struct ForeignInterpreterCheck {
  static constexpr const char* Id = "install.foreign-interpreter";
  static constexpr const wchar_t* Title = L"A command interpreter in the install folder";
  using Facts = ForeignInterpreterFacts;
  static Facts Gather(const Install& install);
  static CheckResult Judge(const Facts& facts);
};

}  // namespace dunvelt::doctor
