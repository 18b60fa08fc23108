#include "paths.h"

#include "owners.h"
#include "sized_text.h"

namespace dunvelt {

std::wstring CanonicalPath(const std::wstring& path) {
  const std::wstring full = SizedText([&](wchar_t* buffer, DWORD capacity) {
    return GetFullPathNameW(path.c_str(), capacity, buffer, nullptr);
  });
  const std::wstring longForm = SizedText([&](wchar_t* buffer, DWORD capacity) {
    return GetLongPathNameW(full.c_str(), buffer, capacity);
  });
  return longForm.empty() ? full : longForm;
}

bool SamePath(const std::wstring& left, const std::wstring& right) {
  return !left.empty() &&
         CompareStringOrdinal(left.c_str(), -1, right.c_str(), -1, TRUE) == CSTR_EQUAL;
}

// "GetFileInformationByHandle function" on Microsoft Learn: the volume serial number and the file
// index together identify a file on one computer, while the file stays open.
FileIdentity IdentityOf(const std::wstring& path) {
  FileIdentity identity;
  // Opened for no access, so that a file the doctor may not read, or one in use, still answers;
  // a folder needs backup semantics to be opened at all.
  const UniqueFileHandle file(
      CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  BY_HANDLE_FILE_INFORMATION information{};
  if (file && GetFileInformationByHandle(file.get(), &information) != FALSE) {
    identity = {information.dwVolumeSerialNumber, information.nFileIndexHigh,
                information.nFileIndexLow, true};
  }
  return identity;
}

bool SameFile(const FileIdentity& left, const FileIdentity& right) {
  return left.known && right.known && left.volume == right.volume &&
         left.indexHigh == right.indexHigh && left.indexLow == right.indexLow;
}

std::wstring ProcessImagePath(HANDLE process) {
  return SizedText([&](wchar_t* buffer, DWORD capacity) {
    DWORD size = capacity;
    if (QueryFullProcessImageNameW(process, 0, buffer, &size) != FALSE) return size;
    return GetLastError() == ERROR_INSUFFICIENT_BUFFER ? capacity : DWORD{0};
  });
}

std::wstring ProcessImagePath(DWORD processId) {
  const UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
  return process ? ProcessImagePath(process.get()) : std::wstring();
}

std::wstring OwnPath() {
  return SizedText([](wchar_t* buffer, DWORD capacity) {
    return GetModuleFileNameW(nullptr, buffer, capacity);
  });
}

}  // namespace dunvelt
