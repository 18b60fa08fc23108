#include "windows_platform.h"

#include <windows.h>
#include <objbase.h>
#include <ole2.h>
#include <shellapi.h>

namespace dunvelt {
namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows text is UTF-16");
static_assert(ShowCommandHidden == SW_HIDE);

const wchar_t* Wide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }

}  // namespace

HResult WindowsPlatform::OleInitialize() { return ::OleInitialize(nullptr); }

HResult WindowsPlatform::CoInitialize() { return ::CoInitialize(nullptr); }

ShellExecuteOutcome WindowsPlatform::ShellExecuteW(void* owner, const char16_t* operation,
                                                   const char16_t* file, const char16_t* parameters,
                                                   const char16_t* directory, int showCommand) {
  const HINSTANCE instance = ::ShellExecuteW(static_cast<HWND>(owner), Wide(operation), Wide(file),
                                             Wide(parameters), Wide(directory), showCommand);
  const DWORD lastError = ::GetLastError();
  return {reinterpret_cast<std::intptr_t>(instance), lastError};
}

void WindowsPlatform::PostQuitMessage(int exitCode) { ::PostQuitMessage(exitCode); }

void WindowsPlatform::OleUninitialize() { ::OleUninitialize(); }

void WindowsPlatform::CoUninitialize() { ::CoUninitialize(); }

void WindowsPlatform::ExitProcess(std::uint32_t exitCode) { ::ExitProcess(exitCode); }

}  // namespace dunvelt
