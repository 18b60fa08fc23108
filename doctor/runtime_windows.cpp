// The runtime's facts: its PE header, as Windows reads it, and its answers when the doctor runs
// it as a launch would.
#include <windows.h>
#include <userenv.h>

#include <array>
#include <optional>
#include <vector>

#include "bounded_run.h"
#include "files_windows.h"
#include "owners.h"
#include "platform_error.h"
#include "runtime.h"
#include "text.h"

namespace dunvelt::doctor {
namespace {

// Bounds, not expectations: a first start under a virus scanner that checks every file of the
// runtime, from a slow disk, takes tens of seconds, and only what outlasts that is a hang.
constexpr DWORD RuntimeDeadlineMs = 60000;
constexpr DWORD MsPerSecond = 1000;

// The machine a PE file is built for, 0 when the file is no PE image; with the error that stopped
// its reading, if one did.
std::uint16_t ImageMachine(const std::wstring& path, DWORD& error) {
  const UniqueFileHandle file = OpenToRead(path);
  if (!file) {
    error = GetLastError();
    return 0;
  }
  IMAGE_DOS_HEADER dos{};
  DWORD read = 0;
  if (ReadFile(file.get(), &dos, sizeof dos, &read, nullptr) == FALSE) {
    error = GetLastError();
    return 0;
  }
  if (read != sizeof dos || dos.e_magic != IMAGE_DOS_SIGNATURE || dos.e_lfanew <= 0) return 0;
  struct {
    DWORD signature;
    IMAGE_FILE_HEADER header;
  } nt{};
  if (SetFilePointer(file.get(), dos.e_lfanew, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER ||
      ReadFile(file.get(), &nt, sizeof nt, &read, nullptr) == FALSE) {
    error = GetLastError();
    return 0;
  }
  if (read != sizeof nt || nt.signature != IMAGE_NT_SIGNATURE) return 0;
  return nt.header.Machine;
}

// The machine Windows itself runs on, whatever this 32-bit program runs as.
std::uint16_t NativeMachine() {
  using IsWow64Process2Function = BOOL(WINAPI*)(HANDLE, USHORT*, USHORT*);
  // Windows 10 1709 and later; it alone tells ARM64 that emulates x64.
  const auto isWow64Process2 = reinterpret_cast<IsWow64Process2Function>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "IsWow64Process2")));
  USHORT process = 0;
  USHORT native = 0;
  if (isWow64Process2 != nullptr && isWow64Process2(GetCurrentProcess(), &process, &native) != 0) {
    return native;
  }
  SYSTEM_INFO system{};
  GetNativeSystemInfo(&system);
  switch (system.wProcessorArchitecture) {
    case PROCESSOR_ARCHITECTURE_AMD64:
      return MachineAmd64;
    case PROCESSOR_ARCHITECTURE_ARM64:
      return MachineArm64;
    case PROCESSOR_ARCHITECTURE_ARM:
      return MachineArm;
    default:
      return MachineI386;
  }
}

constexpr std::array<const wchar_t*, 3> JavaVariables{L"JDK_JAVA_OPTIONS", L"_JAVA_OPTIONS",
                                                      L"JAVA_TOOL_OPTIONS"};

// The JVM's variables as a double-click passes them on. Explorer's environment is built from the
// user's and the system's settings in the registry, whatever the console that the doctor runs in
// has set: "CreateEnvironmentBlock function" on Microsoft Learn, with bInherit FALSE, gives that
// environment without the calling process's. Nothing when it cannot be built.
std::optional<std::vector<JavaOption>> UsersJavaOptions() {
  HANDLE token = nullptr;
  if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE, &token) == FALSE) {
    return std::nullopt;
  }
  const UniqueHandle owned(token);
  void* block = nullptr;
  if (CreateEnvironmentBlock(&block, token, FALSE) == FALSE) return std::nullopt;
  std::vector<JavaOption> options;
  for (const auto* entry = static_cast<const wchar_t*>(block); *entry != L'\0';
       entry += wcslen(entry) + 1) {
    const std::wstring variable(entry);
    const std::size_t equals = variable.find(L'=', 1);
    if (equals == std::wstring::npos || equals + 1 == variable.size()) continue;
    for (const wchar_t* name : JavaVariables) {
      if (CompareStringOrdinal(variable.c_str(), static_cast<int>(equals), name, -1, TRUE) ==
          CSTR_EQUAL) {
        options.push_back({name, variable.substr(equals + 1)});
      }
    }
  }
  DestroyEnvironmentBlock(block);
  return options;
}

std::wstring ValueOf(const std::vector<JavaOption>& options, const wchar_t* name) {
  for (const JavaOption& option : options) {
    if (option.name == name) return option.value;
  }
  return {};
}

// For as long as it lives, the doctor's own JVM variables, which its probes inherit, are the
// user's; and back to the console's after.
class UsersJavaVariables {
 public:
  explicit UsersJavaVariables(const std::vector<JavaOption>& users) {
    for (std::size_t i = 0; i < JavaVariables.size(); ++i) {
      console_[i] = EnvironmentVariable(JavaVariables[i]);
      const std::wstring value = ValueOf(users, JavaVariables[i]);
      SetEnvironmentVariableW(JavaVariables[i], value.empty() ? nullptr : value.c_str());
    }
  }
  UsersJavaVariables(const UsersJavaVariables&) = delete;
  UsersJavaVariables& operator=(const UsersJavaVariables&) = delete;
  ~UsersJavaVariables() {
    for (std::size_t i = 0; i < JavaVariables.size(); ++i) {
      SetEnvironmentVariableW(JavaVariables[i],
                              console_[i].empty() ? nullptr : console_[i].c_str());
    }
  }

 private:
  std::array<std::wstring, JavaVariables.size()> console_;
};

// The runtime started as the interpreter starts it, hidden, in the install folder, on the
// arguments.
void RunRuntime(const Install& install, const std::wstring& arguments, const wchar_t* what,
                RuntimeRun& probe) {
  probe.deadlineSeconds = RuntimeDeadlineMs / MsPerSecond;
  const std::wstring runtime = RuntimePath(install);
  const ULONGLONG start = GetTickCount64();
  BoundedRun run(runtime, QuotedArgument(runtime) + L" " + arguments, install.folder,
                 CREATE_NO_WINDOW, DeadlineIn(RuntimeDeadlineMs));
  run.NameInNotices(std::wstring(L"bin\\java.exe (") + what + L")");
  probe.started = run.Started();
  if (!probe.started) {
    probe.startError = ErrorText(run.StartError().code);
    return;
  }
  probe.ended = run.WaitForProgram();
  probe.tookMs = ElapsedMs(start);
  probe.exitCode = run.ProgramExitCode();
  const std::vector<std::wstring> left = run.EndTree();
  if (!probe.ended) probe.endedByDoctor = left;
  // The JVM writes its messages in the ANSI code page when they do not go to a console.
  probe.output = FromCodePage(run.Output(), CP_ACP);
  probe.outputCut = run.OutputCut();
}

}  // namespace

RuntimeImageFacts RuntimeImageCheck::Gather(const Install& install) {
  const std::wstring runtime = RuntimePath(install);
  RuntimeImageFacts facts;
  // Read as Windows reads it however long the path is, so that a long one is never taken for a
  // missing file; the install folder's check judges the length.
  const DWORD attributes = GetFileAttributesW(ExtendedLengthPath(runtime).c_str());
  DWORD error = attributes == INVALID_FILE_ATTRIBUTES ? GetLastError() : ERROR_SUCCESS;
  facts.exists = !IsNotThere(error);
  facts.isFolder =
      attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  if (attributes != INVALID_FILE_ATTRIBUTES && !facts.isFolder) {
    facts.machine = ImageMachine(runtime, error);
    // Found a moment ago, gone now: it is not there either way.
    if (IsNotThere(error)) facts.exists = false;
  }
  if (facts.exists && error != ERROR_SUCCESS) {
    facts.readError = error;
    facts.readErrorText = ErrorText(error);
  }
  facts.nativeMachine = NativeMachine();
  facts.windowsBuild = WindowsBuild();
  return facts;
}

RuntimeProbe RuntimeStartCheck::Gather(const Install& install) {
  RuntimeProbe probe;
  std::vector<JavaOption> console;
  for (const wchar_t* name : JavaVariables) {
    std::wstring value = EnvironmentVariable(name);
    if (!value.empty()) console.push_back({name, std::move(value)});
  }
  const std::optional<std::vector<JavaOption>> users = UsersJavaOptions();
  probe.javaOptions = users.value_or(console);
  for (const wchar_t* name : JavaVariables) {
    const std::wstring mine = ValueOf(console, name);
    if (mine != ValueOf(probe.javaOptions, name)) probe.consoleOptions.push_back({name, mine});
  }
  const UsersJavaVariables asADoubleClick(probe.javaOptions);
  RunRuntime(install, DryRunArguments(), L"dry run", probe);
  // Only a runtime that starts can be asked whether it starts with an archive.
  if (probe.started && probe.ended && probe.exitCode == 0) {
    RunRuntime(install, ArchiveRunArguments(), L"class-data archive", probe.archive);
  }
  return probe;
}

}  // namespace dunvelt::doctor
