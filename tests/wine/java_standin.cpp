// Stands in for bin\java.exe. It writes what it received, its command line and its working
// directory, to java-record-<pid>.txt in that directory; shows a window, as the application would,
// when DUNVELT_STANDIN_WINDOW is set; then tells the test it has started and, when asked, holds on
// until the test releases it; or, given DUNVELT_STANDIN_EXIT_CODE, ends at once with it. Given a
// heap (-Xmx) larger than DUNVELT_STANDIN_HEAP_MB, it refuses
// as a 32-bit JVM does. Asked for --dry-run, as the doctor asks a runtime, it checks that it got
// the launcher's options and records nothing; then, as DUNVELT_STANDIN_DRY_RUN says, it ends at
// once, "hang"s with a child of its own, or "flood"s its output; without the module orbisk in
// DUNVELT_STANDIN_MODULES, when that is set, it says what the JVM says; given -Xshare:on with
// DUNVELT_STANDIN_SHARE=none, it refuses as a JVM without a class-data archive does; "slow", it
// answers after DUNVELT_STANDIN_DELAY_MS, as a first start under a virus scanner does, and only
// without -Xshare:on, the second start. It refuses an option -XX:+StandInRefuses in the JVM's
// variables as a JVM refuses one it does not know. Named cmd.exe, it waits for input that never
// comes. Built with DUNVELT_STANDIN_NEEDS_DLL, it imports a DLL that no install has.
#include <windows.h>

#include <cwctype>
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

void Write(DWORD stream, const std::string& text) {
  DWORD written = 0;
  WriteFile(GetStdHandle(stream), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

void Say(const std::string& text) { Write(STD_ERROR_HANDLE, text); }

// Bounded, so that a stand-in nobody ends leaves nothing behind for long.
constexpr DWORD LongestStay = 300000;

bool Has(int argc, wchar_t** argv, const wchar_t* argument) {
  for (int i = 1; i < argc; ++i)
    if (std::wstring(argv[i]) == argument) return true;
  return false;
}

// The -Xmx given, in MiB; 0 without one.
unsigned long long HeapMb(int argc, wchar_t** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::wstring argument = argv[i];
    if (argument.rfind(L"-Xmx", 0) != 0) continue;
    wchar_t* unit = nullptr;
    const unsigned long long size = std::wcstoull(argument.c_str() + 4, &unit, 10);
    const wchar_t u = static_cast<wchar_t>(std::towlower(*unit));
    return u == L'g' ? size * 1024 : u == L'k' ? size / 1024 : u == L'm' ? size : size >> 20;
  }
  return 0;
}

#ifdef DUNVELT_STANDIN_NEEDS_DLL
extern "C" __declspec(dllimport) int DunveltStandInNeeds();
#endif

// As the JVM reads its variables before its command line.
bool VariablesRefuse() {
  for (const wchar_t* name : {L"JDK_JAVA_OPTIONS", L"_JAVA_OPTIONS", L"JAVA_TOOL_OPTIONS"}) {
    const std::wstring value = Variable(name);
    if (value.empty()) continue;
    Say("Picked up " + Utf8(name) + ": " + Utf8(value) + "\r\n");
    if (value.find(L"-XX:+StandInRefuses") != std::wstring::npos) {
      Say("Unrecognized VM option 'StandInRefuses'\r\n"
          "Error: Could not create the Java Virtual Machine.\r\n");
      return true;
    }
  }
  return false;
}

int DryRun(int argc, wchar_t** argv) {
  if (VariablesRefuse()) return 1;
  if (!Has(argc, argv, L"-Xmx1g") || !Has(argc, argv, L"-Dprism.order=sw") ||
      !Has(argc, argv, L"orbisk/com.varkelund.orbiskapp.Main")) {
    Say("Error: the stand-in was not given the launcher's options\r\n");
    return 2;
  }
  const std::wstring modules = Variable(L"DUNVELT_STANDIN_MODULES");
  if (!modules.empty() && (L"\n" + modules).find(L"\norbisk") == std::wstring::npos) {
    Say("Error occurred during initialization of boot layer\r\n"
        "java.lang.module.FindException: Module orbisk not found\r\n");
    return 1;
  }
  if (Has(argc, argv, L"-Xshare:on") && Variable(L"DUNVELT_STANDIN_SHARE") == L"none") {
    Write(STD_OUTPUT_HANDLE,
          "An error has occurred while processing the shared archive file.\r\n"
          "Specified shared archive not found (lib/orbisk.jsa).\r\n");
    Say("Error occurred during initialization of VM\r\n"
        "Unable to use shared archive.\r\n");
    return 1;
  }
  const std::wstring mode = Variable(L"DUNVELT_STANDIN_DRY_RUN");
  if (mode == L"hang") {
    wchar_t self[MAX_PATH * 4];
    GetModuleFileNameW(nullptr, self, MAX_PATH * 4);
    std::wstring command = L"java.exe --stand-in-sleep";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child{};
    if (CreateProcessW(self, command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                       nullptr, &startup, &child)) {
      CloseHandle(child.hThread);
      CloseHandle(child.hProcess);
    }
    Sleep(LongestStay);
  } else if (mode == L"slow" && !Has(argc, argv, L"-Xshare:on")) {
    Sleep(std::wcstoul(Variable(L"DUNVELT_STANDIN_DELAY_MS").c_str(), nullptr, 10));
  } else if (mode == L"flood") {
    const std::string line(1000, 'x');
    for (const ULONGLONG end = GetTickCount64() + LongestStay; GetTickCount64() < end;)
      Say(line + "\r\n");
  }
  return 0;
}

}  // namespace

// Named cmd.exe, it stands in for an interpreter held by an AutoRun command that waits for input.
bool IsInterpreter() {
  wchar_t self[MAX_PATH * 4];
  const std::wstring path(self, GetModuleFileNameW(nullptr, self, MAX_PATH * 4));
  return path.size() >= 8 && lstrcmpiW(path.c_str() + path.size() - 8, L"\\cmd.exe") == 0;
}

int wmain(int argc, wchar_t** argv) {
#ifdef DUNVELT_STANDIN_NEEDS_DLL
  if (argc < 0) return DunveltStandInNeeds();  // never called: the import alone is the point
#endif
  if (IsInterpreter()) {
    char key = 0;
    DWORD got = 0;
    while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), &key, 1, &got, nullptr) && got == 1) {
    }
    Sleep(LongestStay);  // where there is no input to wait for
    return 0;
  }
  if (Has(argc, argv, L"--stand-in-sleep")) {
    Sleep(LongestStay);
    return 0;
  }
  const std::wstring heap = Variable(L"DUNVELT_STANDIN_HEAP_MB");
  if (!heap.empty() && HeapMb(argc, argv) > std::wcstoull(heap.c_str(), nullptr, 10)) {
    Say("Error occurred during initialization of VM\r\n"
        "Could not reserve enough space for " +
        std::to_string(HeapMb(argc, argv) * 1024) + "KB object heap\r\n");
    return 1;
  }
  if (Has(argc, argv, L"--dry-run")) return DryRun(argc, argv);
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

  // As a runtime that fails at once in a launch, after the doctor's probe has passed.
  const std::wstring dies = Variable(L"DUNVELT_STANDIN_EXIT_CODE");
  if (!dies.empty()) return static_cast<int>(std::wcstoul(dies.c_str(), nullptr, 10));

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
    const ULONGLONG deadline = GetTickCount64() + LongestStay;
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
