// Watches the screen while a launch runs: every top-level window of any process that becomes
// visible, named by its process, class and title, with how long it stayed visible. A user cannot
// see a console that flashes for 30 ms, and a packager cannot check a Windows version by eye; this
// can. Windows only.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

namespace dunvelt {

// A top-level window that became visible while the watch ran.
struct ShownWindow {
  DWORD processId = 0;
  std::wstring image;  // the process's executable, or empty when it ended before it could be read
  std::wstring className;
  std::wstring title;
  double visibleMs = 0;      // from its first sighting visible to its last
  bool minimised = false;    // shown in the taskbar only, as some terminals do with a console
  bool application = false;  // a window of the runtime's own process: what the user wants
};

// How closely the watch looked: a window shown for less than the longest gap between two polls
// can only have been seen through the platform's show events.
struct WatchFigures {
  unsigned polls = 0;
  double watchedMs = 0;
  double longestGapMs = 0;
  unsigned showEvents = 0;  // show events received; some platforms raise none
};

// One line naming the window: process id, image, class, title and time visible.
std::wstring Describe(const ShownWindow& window);

// Polls every top-level window of every process about once a millisecond, with the timer
// resolution raised, and listens for the platform's show events where it raises them. Windows
// visible before Start() are not reported unless they are hidden and shown again. One watch runs
// in a process at a time.
class WindowWatch {
 public:
  // Windows of processes that run `applicationImage`, a full path, are the application's.
  explicit WindowWatch(const std::wstring& applicationImage);
  WindowWatch(const WindowWatch&) = delete;
  WindowWatch& operator=(const WindowWatch&) = delete;
  ~WindowWatch();

  // Starts watching, then has a second process show a small canary window and waits, with a
  // deadline, until the watch has seen it. False when it did not: then no window can be seen
  // here (Wine without a display, a desktop the process cannot see), and silence proves nothing.
  // The canary stays shown, one pixel in a corner, until Stop().
  bool Start();

  // Ends the watch; every window that became visible while it ran, but the canary, in the order
  // they were first seen.
  std::vector<ShownWindow> Stop();

  [[nodiscard]] WatchFigures Figures() const;

  // Waits, at most the time given, until a window of the application has been seen.
  [[nodiscard]] bool WaitForApplication(DWORD timeoutMs) const;

  struct State;

 private:
  std::unique_ptr<State> state_;
};

// The canary's side. A program that runs a WindowWatch calls this first thing in its entry point:
// when the command line is the watch's request for a canary, it shows the canary window until the
// watch lets it go, and returns true; the program then ends.
bool RunWindowWatchCanaryIfAsked();

}  // namespace dunvelt
