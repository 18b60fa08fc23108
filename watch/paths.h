// Paths of files and of processes' images, in a form that compares: the watch tells the
// application's windows by their process's image, and the doctor finds the runtime's process and
// the shortcuts to the launcher the same way.
#pragma once

#include <windows.h>

#include <string>

namespace dunvelt {

// The full, long form of a path, so that two spellings of one file compare equal.
std::wstring CanonicalPath(const std::wstring& path);

// Whether two canonical paths name the same file: case does not matter on Windows.
bool SamePath(const std::wstring& left, const std::wstring& right);

// A file as the file system knows it, whatever the path that reaches it: a junction, a symbolic
// link or a drive letter made with subst spells one file in many ways, and Windows reports a
// process's image by the path it resolved.
struct FileIdentity {
  DWORD volume = 0;
  DWORD indexHigh = 0;
  DWORD indexLow = 0;
  bool known = false;  // false when the file could not be opened
};

FileIdentity IdentityOf(const std::wstring& path);

// Whether two identities are known and name one file.
bool SameFile(const FileIdentity& left, const FileIdentity& right);

// The full path of the process's executable, or empty when it cannot be read (the process has
// ended, or belongs to another user).
std::wstring ProcessImagePath(DWORD processId);
std::wstring ProcessImagePath(HANDLE process);

// The full path of this program's own executable.
std::wstring OwnPath();

}  // namespace dunvelt
