#include "files_windows.h"

#include "platform_error.h"
#include "sized_text.h"
#include "text.h"

namespace dunvelt::doctor {

bool IsNotThere(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

UniqueFileHandle OpenToRead(const std::wstring& path) {
  return UniqueFileHandle(CreateFileW(ExtendedLengthPath(path).c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
}

bool IsNetworkPath(const std::wstring& path) {
  return path.rfind(L"\\\\", 0) == 0 && path.rfind(L"\\\\?\\", 0) != 0 &&
         path.rfind(L"\\\\.\\", 0) != 0;
}

std::wstring FileName(const std::wstring& path) {
  return path.substr(path.find_last_of(L'\\') + 1);
}

bool HasExtension(const std::wstring& name, const wchar_t* extension) {
  const std::size_t length = wcslen(extension);
  return name.size() > length &&
         CompareStringOrdinal(name.c_str() + name.size() - length, static_cast<int>(length),
                              extension, static_cast<int>(length), TRUE) == CSTR_EQUAL;
}

std::wstring Joined(const std::wstring& folder, const std::wstring& name) {
  return folder + (folder.empty() || folder.back() == L'\\' ? L"" : L"\\") + name;
}

std::wstring EnvironmentVariable(const wchar_t* name) {
  return SizedText([&](wchar_t* buffer, DWORD capacity) {
    return GetEnvironmentVariableW(name, buffer, capacity);
  });
}

std::wstring FromCodePage(const std::string& bytes, UINT codePage) {
  std::wstring text(bytes.size(), L'\0');
  text.resize(MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()),
                                  text.data(), static_cast<int>(text.size())));
  return text;
}

RegistryValue ReadRegistryValue(HKEY root, const wchar_t* rootName, const std::wstring& key,
                                const wchar_t* name, REGSAM view) {
  RegistryValue value;
  value.key = std::wstring(rootName) + L"\\" + key;
  value.name = name;
  HKEY opened = nullptr;
  LSTATUS status = RegOpenKeyExW(root, key.c_str(), 0, KEY_QUERY_VALUE | view, &opened);
  const UniqueKey owned(status == ERROR_SUCCESS ? opened : nullptr);
  // A value of up to this many bytes, which is more than any setting the doctor reads.
  constexpr DWORD MostBytes = 65536;
  std::string bytes(MostBytes, '\0');
  DWORD size = MostBytes;
  DWORD type = 0;
  if (status == ERROR_SUCCESS) {
    status = RegQueryValueExW(opened, name, nullptr, &type, reinterpret_cast<BYTE*>(bytes.data()),
                              &size);
  }
  if (status != ERROR_SUCCESS) {
    if (!IsNotThere(static_cast<DWORD>(status))) {
      value.error = ErrorText(static_cast<DWORD>(status));
    }
    return value;
  }
  bytes.resize(size);
  value.found = true;
  value.type = type;
  value.data.bytes = std::move(bytes);
  return value;
}

std::vector<RegistryValue> CommandProcessorValues(const wchar_t* name) {
  const std::wstring key = L"Software\\Microsoft\\Command Processor";
  std::vector<RegistryValue> values;
  BOOL wow64 = FALSE;
  if (IsWow64Process(GetCurrentProcess(), &wow64) != FALSE && wow64 != FALSE) {
    values.push_back(ReadRegistryValue(HKEY_LOCAL_MACHINE, L"HKLM", key, name, KEY_WOW64_32KEY));
    values.back().key += L", 32-bit view, which the launcher's cmd.exe reads";
    values.push_back(ReadRegistryValue(HKEY_LOCAL_MACHINE, L"HKLM", key, name, KEY_WOW64_64KEY));
    values.back().key += L", 64-bit view, which 64-bit programs' cmd.exe reads";
  } else {
    values.push_back(ReadRegistryValue(HKEY_LOCAL_MACHINE, L"HKLM", key, name));
  }
  values.push_back(ReadRegistryValue(HKEY_CURRENT_USER, L"HKCU", key, name));
  return values;
}

std::uint32_t WindowsBuild() {
  using RtlGetVersionFunction = LONG(WINAPI*)(OSVERSIONINFOW*);
  const auto rtlGetVersion = reinterpret_cast<RtlGetVersionFunction>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion")));
  OSVERSIONINFOW version{};
  version.dwOSVersionInfoSize = sizeof version;
  if (rtlGetVersion == nullptr || rtlGetVersion(&version) != 0) return 0;
  return version.dwBuildNumber;
}

}  // namespace dunvelt::doctor
