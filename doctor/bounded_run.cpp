#include "bounded_run.h"

#include <algorithm>
#include <array>
#include <memory>

#include "paths.h"

namespace dunvelt::doctor {
namespace {

constexpr std::size_t ReadChunk = 4096;
// How long the processes of a job may take to go once the job has ended them.
constexpr DWORD EndGraceMs = 2000;
constexpr DWORD EndPollMs = 10;

bool Ended(HANDLE process) { return WaitForSingleObject(process, 0) == WAIT_OBJECT_0; }

std::wstring ImageOf(HANDLE process) { return ProcessImagePath(process); }

WaitNotice waitNotice = nullptr;

struct AttributeListDeleter {
  void operator()(LPPROC_THREAD_ATTRIBUTE_LIST list) const {
    DeleteProcThreadAttributeList(list);
    HeapFree(GetProcessHeap(), 0, list);
  }
};

}  // namespace

BoundedRun::BoundedRun(const std::wstring& application, std::wstring commandLine,
                       const std::wstring& folder, DWORD creationFlags, ULONGLONG deadlineTick)
    : deadline_(deadlineTick),
      job_(CreateJobObjectW(nullptr, nullptr)),
      port_(CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1)) {
  const auto failed = [this](const wchar_t* call) { startError_ = LastError(call); };
  if (!job_) {
    failed(L"CreateJobObjectW");
    return;
  }
  if (!port_) {
    failed(L"CreateIoCompletionPort");
    return;
  }
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (SetInformationJobObject(job_.get(), JobObjectExtendedLimitInformation, &limits,
                              sizeof limits) == FALSE) {
    failed(L"SetInformationJobObject");
    return;
  }
  JOBOBJECT_ASSOCIATE_COMPLETION_PORT association{job_.get(), port_.get()};
  if (SetInformationJobObject(job_.get(), JobObjectAssociateCompletionPortInformation, &association,
                              sizeof association) == FALSE) {
    failed(L"SetInformationJobObject");
    return;
  }

  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  if (CreatePipe(&readEnd, &writeEnd, &inheritable, 0) == FALSE) {
    failed(L"CreatePipe");
    return;
  }
  reading_.reset(readEnd);
  const UniqueHandle writing(writeEnd);
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  // A program that reads its input finds it empty at once instead of waiting for a user.
  const UniqueFileHandle input(CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                           &inheritable, OPEN_EXISTING, 0, nullptr));
  if (!input) {
    failed(L"CreateFileW");
    return;
  }

  // Only the pipe and NUL are inherited, whatever else of the doctor's is inheritable.
  std::array<HANDLE, 2> inherited{writeEnd, input.get()};
  SIZE_T listBytes = 0;
  InitializeProcThreadAttributeList(nullptr, 1, 0, &listBytes);
  const std::unique_ptr<_PROC_THREAD_ATTRIBUTE_LIST, AttributeListDeleter> attributes(
      static_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(HeapAlloc(GetProcessHeap(), 0, listBytes)));
  if (!attributes) {
    failed(L"HeapAlloc");
    return;
  }
  if (InitializeProcThreadAttributeList(attributes.get(), 1, 0, &listBytes) == FALSE) {
    failed(L"InitializeProcThreadAttributeList");
    return;
  }
  if (UpdateProcThreadAttribute(attributes.get(), 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                                inherited.data(), sizeof inherited, nullptr, nullptr) == FALSE) {
    failed(L"UpdateProcThreadAttribute");
    return;
  }
  STARTUPINFOEXW startup{};
  startup.StartupInfo.cb = sizeof startup;
  startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  startup.StartupInfo.hStdInput = input.get();
  startup.StartupInfo.hStdOutput = writeEnd;
  startup.StartupInfo.hStdError = writeEnd;
  startup.lpAttributeList = attributes.get();
  PROCESS_INFORMATION process{};
  if (CreateProcessW(
          application.empty() ? nullptr : application.c_str(), commandLine.data(), nullptr, nullptr,
          TRUE, creationFlags | CREATE_SUSPENDED | EXTENDED_STARTUPINFO_PRESENT, nullptr,
          folder.empty() ? nullptr : folder.c_str(), &startup.StartupInfo, &process) == FALSE) {
    failed(L"CreateProcessW");
    return;
  }
  program_.reset(process.hProcess);
  const UniqueHandle thread(process.hThread);
  // Inside the job before it runs a single instruction, so that nothing it starts escapes.
  if (AssignProcessToJobObject(job_.get(), process.hProcess) == FALSE) {
    failed(L"AssignProcessToJobObject");
    TerminateProcess(process.hProcess, 1);
    program_.reset();
    return;
  }
  tree_.push_back({process.dwProcessId, ImageOf(process.hProcess), UniqueHandle()});
  if (HANDLE own = nullptr;
      DuplicateHandle(GetCurrentProcess(), process.hProcess, GetCurrentProcess(), &own, 0, FALSE,
                      DUPLICATE_SAME_ACCESS) != FALSE) {
    tree_.front().handle.reset(own);
  }
  ResumeThread(process.hThread);
  started_ = true;
}

BoundedRun::~BoundedRun() {
  if (started_ && !letGo_) EndTree();
}

bool BoundedRun::DeadlinePassed() const { return GetTickCount64() >= deadline_; }

DWORD BoundedRun::MsLeft() const {
  const ULONGLONG now = GetTickCount64();
  return now >= deadline_ ? 0 : static_cast<DWORD>(deadline_ - now);
}

bool BoundedRun::ProgramEnded() const { return started_ && Ended(program_.get()); }

DWORD BoundedRun::ProgramExitCode() const {
  DWORD code = STILL_ACTIVE;
  if (started_) GetExitCodeProcess(program_.get(), &code);
  return code;
}

bool BoundedRun::TreeEnded() const {
  if (!started_) return true;
  JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting{};
  if (QueryInformationJobObject(job_.get(), JobObjectBasicAccountingInformation, &accounting,
                                sizeof accounting, nullptr) == FALSE) {
    // Without the job's count, the processes it announced tell.
    return std::all_of(tree_.begin(), tree_.end(), [](const TreeProcess& process) {
      return !process.handle || Ended(process.handle.get());
    });
  }
  return accounting.ActiveProcesses == 0;
}

void BoundedRun::Poll(DWORD waitMs) {
  if (!started_) return;
  ReadAnnouncements(std::min(waitMs, MsLeft()));
  ReadOutput();
  // A process announced the moment it was made may not tell its image yet.
  for (TreeProcess& process : tree_) {
    if (process.image.empty() && process.handle) process.image = ImageOf(process.handle.get());
  }
  NoticeWait();
}

void SetWaitNotice(WaitNotice notice) { waitNotice = notice; }

void BoundedRun::NoticeWait() {
  const ULONGLONG now = GetTickCount64();
  if (waitNotice == nullptr || now < nextNotice_ || now >= deadline_ || TreeEnded()) return;
  nextNotice_ = now + WaitNoticeEveryMs;
  const std::wstring& image = tree_.front().image;
  waitNotice(what_.empty() ? image.substr(image.find_last_of(L'\\') + 1) : what_,
             static_cast<DWORD>(now - startTick_), static_cast<DWORD>(deadline_ - startTick_));
}

bool BoundedRun::WaitForProgram() {
  constexpr DWORD PollMs = 10;
  while (started_ && !ProgramEnded() && !DeadlinePassed()) Poll(PollMs);
  Poll(0);
  return ProgramEnded();
}

bool BoundedRun::WaitForTree() {
  constexpr DWORD PollMs = 10;
  while (started_ && !TreeEnded() && !DeadlinePassed()) Poll(PollMs);
  Poll(0);
  return TreeEnded();
}

// Only what the pipe holds is read, never waited for: a process of the job that holds the pipe
// open must not keep the doctor, and the doctor's thread is never left inside a read.
void BoundedRun::ReadOutput() {
  std::array<char, ReadChunk> buffer{};
  DWORD available = 0;
  DWORD got = 0;
  while (PeekNamedPipe(reading_.get(), nullptr, 0, nullptr, &available, nullptr) != FALSE &&
         available > 0 &&
         ReadFile(reading_.get(), buffer.data(),
                  std::min<DWORD>(available, static_cast<DWORD>(buffer.size())), &got,
                  nullptr) != FALSE &&
         got > 0) {
    const std::size_t kept = std::min<std::size_t>(got, OutputCap - output_.size());
    output_.append(buffer.data(), kept);
    // Read on and dropped, so that a flooding program is not stopped by a full pipe.
    if (kept < got) outputCut_ = true;
  }
}

void BoundedRun::ReadAnnouncements(DWORD waitMs) {
  DWORD message = 0;
  ULONG_PTR key = 0;
  LPOVERLAPPED data = nullptr;
  while (GetQueuedCompletionStatus(port_.get(), &message, &key, &data, waitMs) != FALSE) {
    if (message == JOB_OBJECT_MSG_NEW_PROCESS) {
      Follow(static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(data)));
    }
    waitMs = 0;
  }
}

void BoundedRun::Follow(DWORD id) {
  if (std::any_of(tree_.begin(), tree_.end(),
                  [&](const TreeProcess& process) { return process.id == id; })) {
    return;
  }
  TreeProcess process{
      id,
      {},
      UniqueHandle(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, id))};
  if (process.handle) process.image = ImageOf(process.handle.get());
  tree_.push_back(std::move(process));
}

std::vector<std::wstring> BoundedRun::EndTree() {
  std::vector<std::wstring> ended;
  if (!started_) return ended;
  Poll(0);
  for (const TreeProcess& process : tree_) {
    if (process.handle && !Ended(process.handle.get())) {
      const std::wstring& image = process.image;
      ended.push_back(image.empty() ? L"pid " + std::to_wstring(process.id)
                                    : image.substr(image.find_last_of(L'\\') + 1));
    }
  }
  TerminateJobObject(job_.get(), 1);
  const ULONGLONG until = GetTickCount64() + EndGraceMs;
  while (!TreeEnded() && GetTickCount64() < until) ReadAnnouncements(EndPollMs);
  ReadOutput();
  return ended;
}

void BoundedRun::LetGo() {
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  SetInformationJobObject(job_.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits);
  letGo_ = true;
}

}  // namespace dunvelt::doctor
