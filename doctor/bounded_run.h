// Every program the doctor starts runs through here, so that none can hold the doctor or outlive
// it by accident: it is created suspended inside a job object that ends every process of the job
// when the doctor lets go of it, it inherits only the handles it is given, it has one deadline
// for everything the doctor waits on it for, and what it prints is kept up to a cap. Windows only.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "owners.h"
#include "platform_error.h"

namespace dunvelt::doctor {

// Kept of what a program prints: enough for any message a runtime gives, little enough for a
// 32-bit doctor whatever a program floods it with.
inline constexpr std::size_t OutputCap = 64 * 1024;

// A process of the job: the program started, or one that it, or its descendants, started.
struct TreeProcess {
  DWORD id = 0;
  std::wstring image;   // its executable's full path; empty when it ended before it could be read
  UniqueHandle handle;  // open from its announcement on, so that its id cannot pass to another
};

// The GetTickCount64() value `ms` from now, and the milliseconds since one.
inline ULONGLONG DeadlineIn(DWORD ms) { return GetTickCount64() + ms; }
inline DWORD ElapsedMs(ULONGLONG since) { return static_cast<DWORD>(GetTickCount64() - since); }

// Told, while a wait on a program goes on, what the doctor waits for, how long it has waited and
// how long it waits at most, so that a slow start does not look like a hang to the user.
using WaitNotice = void (*)(const std::wstring& what, DWORD waitedMs, DWORD boundMs);
void SetWaitNotice(WaitNotice notice);
inline constexpr DWORD FirstWaitNoticeMs = 5000;
inline constexpr DWORD WaitNoticeEveryMs = 10000;

// Cancels the file's pending operation and waits until it has completed: only then are its
// OVERLAPPED and buffer free to go.
void CancelAndWait(HANDLE file, OVERLAPPED& overlapped);

class BoundedRun {
 public:
  // Starts the command line (its program in `application`, a full path, or searched for when
  // that is empty) in `folder`, with `creationFlags` (CREATE_NO_WINDOW, DETACHED_PROCESS), its
  // output and errors into one pipe and its input from NUL. `deadlineTick` is the
  // GetTickCount64() value after which nothing more is waited for.
  BoundedRun(const std::wstring& application, std::wstring commandLine, const std::wstring& folder,
             DWORD creationFlags, ULONGLONG deadlineTick);
  BoundedRun(const BoundedRun&) = delete;
  BoundedRun& operator=(const BoundedRun&) = delete;
  // Ends every process of the job that is still running, unless LetGo() was called.
  ~BoundedRun();

  [[nodiscard]] bool Started() const { return started_; }
  // The doctor runs inside a job that neither lets the program break away nor takes a job
  // inside it: the program runs without the doctor's job, and what it starts is followed by
  // the parent each was started by, and ended one by one, where the doctor may.
  [[nodiscard]] bool WithoutOwnJob() const { return withoutOwnJob_; }
  [[nodiscard]] const PlatformError& StartError() const { return startError_; }

  // Takes in what happened, waiting at most `waitMs` and never past the deadline for the first
  // news: the job's announcements of new processes, and what is in the pipe.
  void Poll(DWORD waitMs);
  // Polls until the program itself has ended, or the deadline; true when it ended.
  bool WaitForProgram();
  // Polls until every process of the job has ended, or the deadline; true when they have.
  bool WaitForTree();

  [[nodiscard]] bool DeadlinePassed() const;
  [[nodiscard]] DWORD MsLeft() const;
  [[nodiscard]] bool ProgramEnded() const;
  [[nodiscard]] DWORD ProgramExitCode() const;
  [[nodiscard]] bool TreeEnded() const;

  [[nodiscard]] const std::string& Output() const { return output_; }
  // Whether it printed more than OutputCap, of which only the first OutputCap were kept.
  [[nodiscard]] bool OutputCut() const { return outputCut_; }

  // Every process of the job so far, the program first.
  [[nodiscard]] const std::vector<TreeProcess>& Tree() const { return tree_; }

  // Ends every process of the job, and waits briefly until they are gone; the image names of
  // those that were still running, which the doctor ended.
  std::vector<std::wstring> EndTree();

  // Leaves what runs now running when the doctor ends: the application a launch check started.
  // Its job no longer reports to the doctor, and what it starts from now on leaves the job.
  void LetGo();

  // How the wait notices name this program; its image's name when not given.
  void NameInNotices(std::wstring what) { what_ = std::move(what); }

 private:
  void ReadOutput();
  void ReadAnnouncements(DWORD waitMs);
  void ReadJobList();
  void ReadDescendants();
  void Follow(DWORD id);

  ULONGLONG deadline_;
  UniqueHandle job_;
  UniqueHandle port_;
  UniqueHandle reading_;
  UniqueHandle program_;
  bool started_ = false;
  bool withoutOwnJob_ = false;
  PlatformError startError_;
  bool letGo_ = false;
  std::string output_;
  bool outputCut_ = false;
  std::vector<TreeProcess> tree_;
  void NoticeWait();
  std::wstring what_;
  ULONGLONG startTick_ = GetTickCount64();
  ULONGLONG nextNotice_ = startTick_ + FirstWaitNoticeMs;
};

}  // namespace dunvelt::doctor
