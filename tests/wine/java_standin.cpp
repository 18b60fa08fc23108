// Stands in for bin\java.exe. It writes what it received, its command line and its working
// directory, to java-record-<pid>.txt in that directory; shows a window, as the application would,
// when DUNVELT_STANDIN_WINDOW is set; then tells the test it has started and, when asked, holds on
// until the test releases it. Asked for --list-modules, as the doctor asks a runtime, it lists
// the modules DUNVELT_STANDIN_MODULES names, else java.base and orbisk, and records nothing.
#include <windows.h>

#include <string>

namespace {

std::wstring Variable(const wchar_t* name) {
  wchar_t value[256];
  const DWORD length = GetEnvironmentVariableW(name, value, 256);
  return length > 0 && length < 256 ? std::wstring(value, length) : std::wstring();
}

std::string Utf8(const std::wstring& text) {
  std::string bytes(text.size() * 4, '\0');
  bytes.resize(WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                   bytes.data(), static_cast<int>(bytes.size()), nullptr, nullptr));
  return bytes;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 2 && std::wstring(argv[1]) == L"--list-modules") {
    const std::wstring modules = Variable(L"DUNVELT_STANDIN_MODULES");
    const std::string listing = modules.empty() ? "java.base@17\r\norbisk\r\n" : Utf8(modules);
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), listing.data(), static_cast<DWORD>(listing.size()),
              &written, nullptr);
    return 0;
  }
  wchar_t directory[MAX_PATH * 4];
  GetCurrentDirectoryW(MAX_PATH * 4, directory);
  const std::string record = Utf8(GetCommandLineW()) + "\n" + Utf8(directory) + "\n";
  const std::wstring name = L"java-record-" + std::to_wstring(GetCurrentProcessId()) + L".txt";
  const HANDLE file = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD written = 0;
  const bool recorded =
      file != INVALID_HANDLE_VALUE &&
      WriteFile(file, record.data(), static_cast<DWORD>(record.size()), &written, nullptr) &&
      written == record.size();
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);

  HWND window = nullptr;
  if (!Variable(L"DUNVELT_STANDIN_WINDOW").empty()) {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"DunveltStandInRuntime";
    RegisterClassW(&windowClass);
    window = CreateWindowExW(0, windowClass.lpszClassName, L"Dunvelt stand-in runtime",
                             WS_OVERLAPPEDWINDOW, 20, 20, 240, 120, nullptr, nullptr,
                             windowClass.hInstance, nullptr);
    ShowWindow(window, SW_SHOWNORMAL);
  }

  const std::wstring started = Variable(L"DUNVELT_STANDIN_STARTED");
  if (HANDLE semaphore = started.empty()
                             ? nullptr
                             : OpenSemaphoreW(SEMAPHORE_MODIFY_STATE, FALSE, started.c_str())) {
    ReleaseSemaphore(semaphore, 1, nullptr);
    CloseHandle(semaphore);
  }
  const std::wstring hold = Variable(L"DUNVELT_STANDIN_HOLD");
  if (HANDLE release = hold.empty() ? nullptr : OpenEventW(SYNCHRONIZE, FALSE, hold.c_str())) {
    // Bounded, so that a failed test leaves nothing behind; the window is served meanwhile.
    const ULONGLONG deadline = GetTickCount64() + 300000;
    for (ULONGLONG now = GetTickCount64(); now < deadline; now = GetTickCount64()) {
      if (MsgWaitForMultipleObjects(1, &release, FALSE, static_cast<DWORD>(deadline - now),
                                    QS_ALLINPUT) != WAIT_OBJECT_0 + 1)
        break;
      for (MSG message; PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE);)
        DispatchMessageW(&message);
    }
    CloseHandle(release);
  }
  if (window != nullptr) DestroyWindow(window);
  return recorded ? 0 : 3;
}
