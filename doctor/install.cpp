#include "install.h"

#include "facts_json.h"
#include "launch_parameters.h"

namespace dunvelt::doctor {

DUNVELT_FACTS_JSON(Install, folder, launcher)

std::wstring InInstall(const Install& install, const std::wstring& relative) {
  const std::wstring& folder = install.folder;
  return folder + (folder.empty() || folder.back() == L'\\' ? L"" : L"\\") + relative;
}

std::wstring RuntimePath(const Install& install) {
  return InInstall(install, std::wstring(JavaRuntimePath.begin(), JavaRuntimePath.end()));
}

}  // namespace dunvelt::doctor
