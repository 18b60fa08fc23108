// A small harness for the tests that run the real launcher under Wine: each case is a function,
// picked by name on the command line, so that CTest lists and runs them one by one.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace winetest {

inline int g_failures = 0;

inline void Check(bool condition, const char* text, int line, const std::wstring& detail = {}) {
  if (condition) return;
  ++g_failures;
  std::fprintf(stderr, "line %d: CHECK failed: %s %ls\n", line, text, detail.c_str());
}
#define CHECK(condition, ...) ::winetest::Check((condition), #condition, __LINE__, ##__VA_ARGS__)

// Generous bounds, none of them a speed target: they only stop a hung test. Emulated, beside a
// second whole suite, one short Wine program has taken close to 50 s from start to end.
inline constexpr DWORD Deadline = 120000;

inline std::wstring ModuleFolder() {
  wchar_t path[MAX_PATH * 4];
  std::wstring folder(path, GetModuleFileNameW(nullptr, path, MAX_PATH * 4));
  return folder.substr(0, folder.find_last_of(L'\\'));
}

// The value of an environment variable, or an empty text when it is not set.
inline std::wstring Variable(const wchar_t* name) {
  std::wstring value(GetEnvironmentVariableW(name, nullptr, 0), L'\0');
  value.resize(GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size())));
  return value;
}

inline bool Exists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The launcher under test: the one DUNVELT_LAUNCHER names, else the one beside the test programs
// (the verification kit), else the build's own, two folders above them.
inline std::wstring LauncherPath() {
  std::wstring launcher = Variable(L"DUNVELT_LAUNCHER");
  if (launcher.empty()) launcher = ModuleFolder() + L"\\Dunvelt.exe";
  if (!Exists(launcher)) launcher = ModuleFolder() + L"\\..\\..\\Dunvelt.exe";
  wchar_t path[MAX_PATH * 4];
  GetFullPathNameW(launcher.c_str(), MAX_PATH * 4, path, nullptr);
  return path;
}

// The floor program of the timing (bench/floor_start.cpp): the one beside the test programs (the
// verification kit), else the build's own.
inline std::wstring FloorProgramPath() {
  std::wstring floor = ModuleFolder() + L"\\floor-start.exe";
  if (!Exists(floor)) floor = ModuleFolder() + L"\\..\\..\\bench\\floor-start.exe";
  wchar_t path[MAX_PATH * 4];
  GetFullPathNameW(floor.c_str(), MAX_PATH * 4, path, nullptr);
  return path;
}

// Where the tests lay out their sample folders: DUNVELT_SCRATCH (the kit points it into %TEMP%),
// else a folder beside the test programs, one for 32-bit Windows and one for 64-bit Windows, whose
// tests of the same name may run at the same time.
inline std::wstring ScratchFolder() {
  const std::wstring scratch = Variable(L"DUNVELT_SCRATCH");
  BOOL wow64 = FALSE;
  IsWow64Process(GetCurrentProcess(), &wow64);
  return !scratch.empty() ? scratch : ModuleFolder() + (wow64 ? L"\\work-wow64" : L"\\work");
}

// Calls visit(entry) for each file and folder directly inside the folder.
template <typename Visit>
void ForEachEntry(const std::wstring& folder, Visit visit) {
  WIN32_FIND_DATAW entry;
  const HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    const std::wstring name = entry.cFileName;
    if (name != L"." && name != L"..") visit(entry);
  } while (FindNextFileW(find, &entry));
  FindClose(find);
}

inline bool IsFolder(const WIN32_FIND_DATAW& entry) {
  return (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

inline void RemoveTree(const std::wstring& folder) {
  ForEachEntry(folder, [&](const WIN32_FIND_DATAW& entry) {
    const std::wstring path = folder + L"\\" + entry.cFileName;
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (IsFolder(entry))
      RemoveTree(path);
    else
      DeleteFileW(path.c_str());
  });
  SetFileAttributesW(folder.c_str(), FILE_ATTRIBUTE_NORMAL);
  RemoveDirectoryW(folder.c_str());
}

inline std::vector<std::wstring> FolderEntries(const std::wstring& folder) {
  std::vector<std::wstring> names;
  ForEachEntry(folder, [&](const WIN32_FIND_DATAW& entry) { names.push_back(entry.cFileName); });
  return names;
}

// Every file and folder below the folder, with sizes, sorted: a picture to compare.
inline std::vector<std::wstring> TreeEntries(const std::wstring& folder,
                                             const std::wstring& prefix = L"") {
  std::vector<std::wstring> entries;
  ForEachEntry(folder, [&](const WIN32_FIND_DATAW& entry) {
    const std::wstring name = entry.cFileName;
    entries.push_back(prefix + name + L" " + std::to_wstring(entry.nFileSizeLow));
    if (IsFolder(entry))
      for (const std::wstring& below : TreeEntries(folder + L"\\" + name, prefix + name + L"\\"))
        entries.push_back(below);
  });
  std::sort(entries.begin(), entries.end());
  return entries;
}

struct Case {
  const char* name;
  void (*run)();
};

inline int Main(int argc, char** argv, const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    if (argc != 2 || c.name != std::string(argv[1])) continue;
    c.run();
    std::printf("%s: %s\n", c.name, g_failures == 0 ? "passed" : "FAILED");
    return g_failures == 0 ? 0 : 1;
  }
  std::fprintf(stderr, "usage: %s CASE\n", argv[0]);
  return 2;
}

}  // namespace winetest
