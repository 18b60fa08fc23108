#include "window_watch.h"

#include <windows.h>
#include <shellapi.h>
#include <timeapi.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cwchar>
#include <map>

#include "paths.h"
#include "owners.h"

namespace dunvelt {
namespace {

constexpr const wchar_t* CanarySwitch = L"--dunvelt-window-watch-canary";
constexpr const wchar_t* CanaryClass = L"DunveltWindowWatchCanary";
constexpr const wchar_t* CanaryTitle = L"Dunvelt window watch canary";

// Bounds, never speed targets: under emulation on a loaded machine, a process can take most of a
// minute to start. Once the canary is shown, a watch that polls every millisecond sees it at once.
constexpr DWORD CanaryStartDeadline = 120000;
constexpr DWORD CanarySightDeadline = 10000;
constexpr DWORD CanaryEndDeadline = 10000;
// The canary's own last bound; it ends with the watching process in any case.
constexpr DWORD CanaryHoldDeadline = 3600000;

constexpr int ClassNameCapacity = 257;  // a class name is at most 256 characters
constexpr int TitleCapacity = 512;      // enough to tell a window by; longer titles are cut

double NowMs() {
  LARGE_INTEGER counter;
  LARGE_INTEGER frequency;
  QueryPerformanceCounter(&counter);
  QueryPerformanceFrequency(&frequency);
  constexpr double MsPerSecond = 1000.0;
  return static_cast<double>(counter.QuadPart) * MsPerSecond /
         static_cast<double>(frequency.QuadPart);
}

// Raises the system timer resolution to a millisecond while it lives, so that a wait of 1 ms lasts
// about that long, and not a scheduler tick of 15 ms.
class TimerResolution {
 public:
  TimerResolution() : raised_(timeBeginPeriod(1) == TIMERR_NOERROR) {}
  TimerResolution(const TimerResolution&) = delete;
  TimerResolution& operator=(const TimerResolution&) = delete;
  ~TimerResolution() {
    if (raised_) timeEndPeriod(1);
  }

 private:
  bool raised_;
};

// Windows 8 and later keep some visible windows cloaked, drawn nowhere: a user cannot see them.
// dwmapi is loaded from the system folder only, and may be absent.
class Cloaking {
 public:
  Cloaking() {
    std::wstring path(MAX_PATH, L'\0');
    path.resize(GetSystemDirectoryW(path.data(), MAX_PATH));
    dwm_ = LoadLibraryW((path + L"\\dwmapi.dll").c_str());
    if (dwm_ != nullptr) {
      query_ = reinterpret_cast<Query>(
          reinterpret_cast<void*>(GetProcAddress(dwm_, "DwmGetWindowAttribute")));
    }
  }
  Cloaking(const Cloaking&) = delete;
  Cloaking& operator=(const Cloaking&) = delete;
  ~Cloaking() {
    if (dwm_ != nullptr) FreeLibrary(dwm_);
  }

  bool IsCloaked(HWND window) const {
    constexpr DWORD CloakedAttribute = 14;  // DWMWA_CLOAKED
    DWORD cloaked = 0;
    return query_ != nullptr &&
           query_(window, CloakedAttribute, &cloaked, sizeof cloaked) == S_OK && cloaked != 0;
  }

 private:
  using Query = HRESULT(WINAPI*)(HWND, DWORD, void*, DWORD);
  HMODULE dwm_ = nullptr;
  Query query_ = nullptr;
};

std::wstring ClassOf(HWND window) {
  std::wstring name(ClassNameCapacity, L'\0');
  name.resize(GetClassNameW(window, name.data(), ClassNameCapacity));
  return name;
}

BOOL CALLBACK AddWindow(HWND window, LPARAM windows) {
  // EnumWindows hands back the pointer it was given.
  // NOLINTNEXTLINE(performance-no-int-to-ptr)
  reinterpret_cast<std::vector<HWND>*>(windows)->push_back(window);
  return TRUE;
}

std::wstring TitleOf(HWND window) {
  // For another process's window this reads the text the system holds, without a message that a
  // hung window could leave unanswered.
  std::wstring title(TitleCapacity, L'\0');
  title.resize(GetWindowTextW(window, title.data(), TitleCapacity));
  return title;
}

}  // namespace

struct WindowWatch::State {
  explicit State(std::wstring application)
      : applicationImage(std::move(application)), applicationFile(IdentityOf(applicationImage)) {}

  // Called on the watch's thread only, by the poll and by the show events.
  void Observe(HWND window, bool visible, double now, bool baseline) {
    Track& track = tracks[window];
    track.seenInPoll = polls;
    if (!visible) {
      track.visible = false;
      return;
    }
    if (track.visible) {
      if (track.record != NoRecord) records[track.record].last = now;
      return;
    }
    track.visible = true;
    if (baseline) return;  // shown before the watch began: not the launch's doing
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    if (processId == GetCurrentProcessId()) return;
    if (track.record != NoRecord && records[track.record].window.processId == processId) {
      records[track.record].last = now;  // shown again
      return;
    }
    Record record;
    record.window.processId = processId;
    record.window.image = ProcessImagePath(processId);
    record.window.className = ClassOf(window);
    record.window.title = TitleOf(window);
    record.window.minimised = IsIconic(window) != FALSE;
    // By the file, not its spelling: Windows names the image by the path it resolved.
    record.window.application = SamePath(CanonicalPath(record.window.image), applicationImage) ||
                                SameFile(IdentityOf(record.window.image), applicationFile);
    record.first = record.last = now;
    track.record = records.size();
    if (record.window.application) SetEvent(applicationSeen.get());
    records.push_back(std::move(record));
    if (processId == canaryId) SetEvent(canarySeen.get());
  }

  void Poll(bool baseline) {
    const double now = NowMs();
    if (polls == 0) firstPoll = now;
    if (polls > 0) figures.longestGapMs = std::max(figures.longestGapMs, now - lastPoll);
    lastPoll = now;
    ++polls;
    std::vector<HWND> windows;
    EnumWindows(AddWindow, reinterpret_cast<LPARAM>(&windows));
    for (HWND window : windows) {
      Observe(window, IsWindowVisible(window) != FALSE && !cloaking.IsCloaked(window), now,
              baseline);
    }
    // A window that is gone is no longer visible; its handle may come back as a new window.
    for (auto& [window, track] : tracks) {
      if (track.seenInPoll != polls) track.visible = false;
    }
  }

  static constexpr std::size_t NoRecord = static_cast<std::size_t>(-1);
  struct Track {
    bool visible = false;
    unsigned seenInPoll = 0;
    std::size_t record = NoRecord;
  };
  struct Record {
    ShownWindow window;
    double first = 0;
    double last = 0;
  };

  std::wstring applicationImage;
  FileIdentity applicationFile;
  UniqueHandle stop{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  UniqueHandle ready{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  UniqueHandle canarySeen{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  UniqueHandle applicationSeen{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  UniqueHandle thread;
  std::atomic<DWORD> canaryId{0};
  // The canary's process, held until the watch ends: while it is open, its process id cannot be
  // given to another process, whose windows the watch would then leave out as the canary's.
  UniqueHandle canary;
  UniqueHandle canaryRelease;

  // The watch's thread owns these until Stop() has joined it.
  Cloaking cloaking;
  std::map<HWND, Track> tracks;
  std::vector<Record> records;
  WatchFigures figures;
  unsigned polls = 0;
  double firstPoll = 0;
  double lastPoll = 0;
};

namespace {

// Show events carry no context, and one watch runs at a time, on its own thread.
WindowWatch::State* g_watching = nullptr;

void CALLBACK OnShow(HWINEVENTHOOK /*hook*/, DWORD /*event*/, HWND window, LONG object, LONG child,
                     DWORD /*thread*/, DWORD /*time*/) {
  if (g_watching == nullptr || window == nullptr || object != OBJID_WINDOW ||
      child != CHILDID_SELF || GetAncestor(window, GA_PARENT) != GetDesktopWindow()) {
    return;
  }
  ++g_watching->figures.showEvents;
  // Seen shown, even if it is hidden again by the time the event arrives; but a cloaked window is
  // drawn nowhere, as the poll knows too.
  g_watching->Observe(window, !g_watching->cloaking.IsCloaked(window), NowMs(), false);
}

DWORD WINAPI Watch(void* parameter) {
  auto& state = *static_cast<WindowWatch::State*>(parameter);
  const TimerResolution resolution;
  g_watching = &state;
  const HWINEVENTHOOK hook = SetWinEventHook(EVENT_OBJECT_SHOW, EVENT_OBJECT_SHOW, nullptr, OnShow,
                                             0, 0, WINEVENT_OUTOFCONTEXT | WINEVENT_SKIPOWNPROCESS);
  state.Poll(true);
  SetEvent(state.ready.get());
  HANDLE stop = state.stop.get();
  while (MsgWaitForMultipleObjects(1, &stop, FALSE, 1, QS_ALLINPUT) != WAIT_OBJECT_0) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE) != FALSE) DispatchMessageW(&message);
    state.Poll(false);
  }
  state.Poll(false);
  if (hook != nullptr) UnhookWinEvent(hook);
  g_watching = nullptr;
  return 0;
}

// Has a second process, this same program, show the canary, and keep it shown until the watch
// ends: a window that stays can be told for the canary by anything else that watches the screen,
// such as a recorder that reads a window's title once it is mapped. True once the watch has seen
// it.
bool ShowCanary(WindowWatch::State& state) {
  const std::wstring name = L"dunvelt-window-watch-" + std::to_wstring(GetCurrentProcessId()) +
                            L"-" + std::to_wstring(GetTickCount64());
  const UniqueHandle shown(CreateEventW(nullptr, TRUE, FALSE, (name + L"-shown").c_str()));
  state.canaryRelease.reset(CreateEventW(nullptr, TRUE, FALSE, (name + L"-release").c_str()));
  const std::wstring self = OwnPath();
  std::wstring command = L"\"" + self + L"\" " + CanarySwitch + L" " + name + L" " +
                         std::to_wstring(GetCurrentProcessId());
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  // No console either: the canary is the only window it may show.
  if (!shown || !state.canaryRelease ||
      CreateProcessW(self.c_str(), command.data(), nullptr, nullptr, FALSE,
                     CREATE_SUSPENDED | CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                     &process) == FALSE) {
    return false;
  }
  state.canary.reset(process.hProcess);
  const UniqueHandle canaryThread(process.hThread);
  state.canaryId = process.dwProcessId;
  ResumeThread(process.hThread);

  // The canary signals once its window is shown, or ends when it cannot show one.
  const std::array<HANDLE, 2> started{shown.get(), state.canary.get()};
  return WaitForMultipleObjects(2, started.data(), FALSE, CanaryStartDeadline) == WAIT_OBJECT_0 &&
         WaitForSingleObject(state.canarySeen.get(), CanarySightDeadline) == WAIT_OBJECT_0;
}

// Lets the canary go, and waits for it, with a bound.
void EndCanary(WindowWatch::State& state) {
  if (!state.canary) return;
  SetEvent(state.canaryRelease.get());
  if (WaitForSingleObject(state.canary.get(), CanaryEndDeadline) != WAIT_OBJECT_0) {
    TerminateProcess(state.canary.get(), 1);
  }
  state.canary.reset();
}

// Shows the canary until the watch lets it go, or the watching process ends, whichever is first.
void HoldCanaryWindow(const std::wstring& name, DWORD watcherId) {
  const UniqueHandle shown(OpenEventW(EVENT_MODIFY_STATE, FALSE, (name + L"-shown").c_str()));
  const UniqueHandle release(OpenEventW(SYNCHRONIZE, FALSE, (name + L"-release").c_str()));
  const UniqueHandle watcher(OpenProcess(SYNCHRONIZE, FALSE, watcherId));
  if (!shown || !release || !watcher) return;
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = DefWindowProcW;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = CanaryClass;
  RegisterClassW(&windowClass);
  // One pixel in a corner, above other windows but never taking the focus or the taskbar.
  const HWND window =
      CreateWindowExW(WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE | WS_EX_TOPMOST, CanaryClass, CanaryTitle,
                      WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, windowClass.hInstance, nullptr);
  if (window == nullptr) return;
  ShowWindow(window, SW_SHOWNOACTIVATE);
  SetEvent(shown.get());
  const ULONGLONG deadline = GetTickCount64() + CanaryHoldDeadline;
  const std::array<HANDLE, 2> waits{release.get(), watcher.get()};
  for (ULONGLONG now = GetTickCount64(); now < deadline; now = GetTickCount64()) {
    if (MsgWaitForMultipleObjects(2, waits.data(), FALSE, static_cast<DWORD>(deadline - now),
                                  QS_ALLINPUT) != WAIT_OBJECT_0 + 2) {
      break;
    }
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE) != FALSE) DispatchMessageW(&message);
  }
  DestroyWindow(window);
}

}  // namespace

std::wstring Describe(const ShownWindow& window) {
  std::wstring text = L"pid " + std::to_wstring(window.processId) + L" " +
                      (window.image.empty() ? L"(ended before it could be named)" : window.image) +
                      L", class \"" + window.className + L"\", title \"" + window.title +
                      L"\", visible for " + std::to_wstring(std::lround(window.visibleMs)) + L" ms";
  if (window.minimised) text += L", minimised";
  return text;
}

WindowWatch::WindowWatch(const std::wstring& applicationImage)
    : state_(std::make_unique<State>(CanonicalPath(applicationImage))) {}

WindowWatch::~WindowWatch() { Stop(); }

bool WindowWatch::Start() {
  if (state_->thread || !state_->stop || !state_->ready || !state_->canarySeen) return false;
  state_->thread.reset(CreateThread(nullptr, 0, Watch, state_.get(), 0, nullptr));
  if (!state_->thread) return false;
  const std::array<HANDLE, 2> started{state_->ready.get(), state_->thread.get()};
  if (WaitForMultipleObjects(2, started.data(), FALSE, INFINITE) != WAIT_OBJECT_0) return false;
  return ShowCanary(*state_);
}

std::vector<ShownWindow> WindowWatch::Stop() {
  std::vector<ShownWindow> shown;
  if (!state_->thread) return shown;
  SetEvent(state_->stop.get());
  WaitForSingleObject(state_->thread.get(), INFINITE);
  state_->thread.reset();
  EndCanary(*state_);
  state_->figures.polls = state_->polls;
  state_->figures.watchedMs = state_->lastPoll - state_->firstPoll;
  for (State::Record& record : state_->records) {
    if (record.window.processId == state_->canaryId) continue;
    record.window.visibleMs = record.last - record.first;
    shown.push_back(record.window);
  }
  return shown;
}

WatchFigures WindowWatch::Figures() const { return state_->figures; }

bool WindowWatch::WaitForApplication(DWORD timeoutMs) const {
  return WaitForSingleObject(state_->applicationSeen.get(), timeoutMs) == WAIT_OBJECT_0;
}

bool RunWindowWatchCanaryIfAsked() {
  int count = 0;
  LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  if (arguments == nullptr) return false;
  const bool asked = count == 4 && lstrcmpW(arguments[1], CanarySwitch) == 0;
  const std::wstring name = asked ? arguments[2] : L"";
  const DWORD watcher = asked ? static_cast<DWORD>(wcstoul(arguments[3], nullptr, 10)) : 0;
  LocalFree(arguments);
  if (asked) HoldCanaryWindow(name, watcher);
  return asked;
}

}  // namespace dunvelt
