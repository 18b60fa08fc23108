#include "install.h"

#include <string_view>

#include "facts_json.h"
#include "launch_parameters.h"

namespace dunvelt::doctor {

DUNVELT_FACTS_JSON(Install, folder, launcher)

std::wstring InInstall(const Install& install, const std::wstring& relative) {
  const std::wstring& folder = install.folder;
  return folder + (folder.empty() || folder.back() == L'\\' ? L"" : L"\\") + relative;
}

// "Maximum Path Length Limitation" on Microsoft Learn: the prefix \\?\ turns off the limit of
// MAX_PATH, and with it every normalisation of the path, which must therefore be full already.
std::wstring ExtendedLengthPath(const std::wstring& full) {
  constexpr std::wstring_view Prefix = L"\\\\?\\";
  constexpr std::wstring_view Unc = L"\\\\";
  constexpr std::wstring_view Device = L"\\\\.\\";
  if (full.size() < MaxPath || full.rfind(Prefix, 0) == 0 || full.rfind(Device, 0) == 0) {
    return full;
  }
  if (full.rfind(Unc, 0) == 0) return std::wstring(Prefix) + L"UNC" + full.substr(1);
  return std::wstring(Prefix) + full;
}

std::wstring RuntimePath(const Install& install) {
  return InInstall(install, std::wstring(JavaRuntimePath.begin(), JavaRuntimePath.end()));
}

}  // namespace dunvelt::doctor
