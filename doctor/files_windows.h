// What the doctor's gatherers share when they read files, paths and settings on Windows.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "install.h"
#include "owners.h"
#include "registry_value.h"

namespace dunvelt::doctor {

// "The system cannot find the file specified" and "... the path specified": the file is not there.
bool IsNotThere(DWORD error);

// Opened to read, shared as Windows shares a program it starts, so that what keeps the doctor
// from reading a file keeps a launch from loading it too; however long its full path is.
UniqueFileHandle OpenToRead(const std::wstring& path);

// A UNC path, \\server\share\..., but not a device or long-path prefix.
bool IsNetworkPath(const std::wstring& path);

std::wstring FileName(const std::wstring& path);
bool HasExtension(const std::wstring& name, const wchar_t* extension);
std::wstring Joined(const std::wstring& folder, const std::wstring& name);

// The value of an environment variable of the doctor's; empty when it is not set.
std::wstring EnvironmentVariable(const wchar_t* name);

// Text in a code page, as a program that writes to a pipe writes it.
std::wstring FromCodePage(const std::string& bytes, UINT codePage);

// A registry value, raw: `rootName` names `root` in the facts ("HKLM"), and `view` is
// KEY_WOW64_32KEY, KEY_WOW64_64KEY or 0.
RegistryValue ReadRegistryValue(HKEY root, const wchar_t* rootName, const std::wstring& key,
                                const wchar_t* name, REGSAM view = 0);

// A value of cmd.exe's key, Software\Microsoft\Command Processor, everywhere the launcher's cmd.exe
// reads it: HKLM (on 64-bit Windows its 32-bit view, which the 32-bit launcher's cmd.exe reads, and
// its 64-bit view), then HKCU.
std::vector<RegistryValue> CommandProcessorValues(const wchar_t* name);

// The build of Windows, from the kernel itself: GetVersionEx gives what the manifest claims to
// know, not what runs. 0 when it cannot be read.
std::uint32_t WindowsBuild();

}  // namespace dunvelt::doctor
