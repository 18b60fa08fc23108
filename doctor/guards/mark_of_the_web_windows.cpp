// The marks' facts: the Zone.Identifier streams of the launcher, the runtime and its DLLs.
#include <windows.h>

#include <string>
#include <vector>

#include "files_windows.h"
#include "mark_of_the_web.h"
#include "owners.h"
#include "platform_error.h"
#include "text.h"

namespace dunvelt::doctor {
namespace {

constexpr std::size_t MostStreamBytes = 65536;
constexpr std::size_t MostMarkedDlls = 200;

// The stream's text as Windows reads an INI file: UTF-16LE after its byte order mark, anything
// else in the ANSI code page, in which the attachment manager and archivers write it.
std::wstring StreamText(const std::string& bytes) {
  if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE') return DecodedText(bytes);
  if (bytes.empty()) return {};
  const int size = static_cast<int>(bytes.size());
  const int length = MultiByteToWideChar(CP_ACP, 0, bytes.data(), size, nullptr, 0);
  if (length <= 0) return {};
  std::wstring text(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, bytes.data(), size, text.data(), length);
  return text;
}

MarkFacts::File ReadMark(const std::wstring& install, const std::wstring& relative) {
  MarkFacts::File mark{relative, false, {}, {}, 0, {}};
  const UniqueFileHandle stream = OpenToRead(Joined(install, relative) + L":Zone.Identifier");
  if (!stream) {
    const DWORD error = GetLastError();
    // No stream; or a file system without streams, which keeps no mark.
    if (!IsNotThere(error) && error != ERROR_INVALID_NAME && error != ERROR_INVALID_PARAMETER) {
      mark.readError = ErrorText(error);
    }
    return mark;
  }
  mark.hasStream = true;
  mark.stream.bytes.resize(MostStreamBytes);
  DWORD read = 0;
  if (ReadFile(stream.get(), mark.stream.bytes.data(), static_cast<DWORD>(mark.stream.bytes.size()),
               &read, nullptr) == FALSE) {
    mark.readError = ErrorText(GetLastError());
    read = 0;
  }
  mark.stream.bytes.resize(read);
  mark.text = StreamText(mark.stream.bytes);
  mark.codePage = GetACP();
  return mark;
}

}  // namespace

MarkFacts MarkOfTheWebCheck::Gather(const Install& install) {
  MarkFacts facts;
  facts.installFolder = install.folder;
  std::vector<std::wstring> files = {LauncherName, L"bin\\java.exe"};
  WIN32_FIND_DATAW entry;
  const UniqueFind find(FindFirstFileW(Joined(install.folder, L"bin\\*.dll").c_str(), &entry));
  if (find) {
    do {
      if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
          HasExtension(entry.cFileName, L".dll")) {
        files.push_back(std::wstring(L"bin\\") + entry.cFileName);
      }
    } while (files.size() < MostMarkedDlls + 2 && FindNextFileW(find.get(), &entry) != FALSE);
  }
  for (const std::wstring& relative : files) {
    MarkFacts::File mark = ReadMark(install.folder, relative);
    if (mark.hasStream || !mark.readError.empty()) facts.files.push_back(std::move(mark));
  }
  return facts;
}

}  // namespace dunvelt::doctor
