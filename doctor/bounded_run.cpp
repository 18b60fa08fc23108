#include "bounded_run.h"

#include <windows.h>
#include <tlhelp32.h>

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

// "CancelIoEx function" on Microsoft Learn: the cancel is only asked for; the operation may
// still write into the OVERLAPPED and the buffer until it completes, so it is waited for.
void CancelAndWait(HANDLE file, OVERLAPPED& overlapped) {
  DWORD ignored = 0;
  if (CancelIoEx(file, &overlapped) != FALSE) {
    GetOverlappedResult(file, &overlapped, &ignored, TRUE);
  }
}

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
  const auto create = [&](DWORD extraFlags) {
    return CreateProcessW(
               application.empty() ? nullptr : application.c_str(), commandLine.data(), nullptr,
               nullptr, TRUE,
               creationFlags | extraFlags | CREATE_SUSPENDED | EXTENDED_STARTUPINFO_PRESENT,
               nullptr, folder.empty() ? nullptr : folder.c_str(), &startup.StartupInfo,
               &process) != FALSE;
  };
  // Started by a scheduled task or a build agent, the doctor is in a job of theirs: where it
  // allows, the program leaves it, so that it is held by the doctor's job alone and the
  // application a launch leaves running does not end with the task. "Job Objects" on Microsoft
  // Learn: a job that does not allow breakaway refuses CREATE_BREAKAWAY_FROM_JOB.
  BOOL inJob = FALSE;
  const bool breakAway =
      IsProcessInJob(GetCurrentProcess(), nullptr, &inJob) != FALSE && inJob != FALSE;
  if (!(breakAway && create(CREATE_BREAKAWAY_FROM_JOB)) && !create(0)) {
    failed(L"CreateProcessW");
    return;
  }
  program_.reset(process.hProcess);
  const UniqueHandle thread(process.hThread);
  // Inside the job before it runs a single instruction, so that nothing it starts escapes.
  // "AssignProcessToJobObject function" on Microsoft Learn: a process already in a job joins
  // another only where jobs nest (Windows 8 on) and neither has UI limits; else it runs without
  // the doctor's job, which the doctor says, rather than not at all.
  if (AssignProcessToJobObject(job_.get(), process.hProcess) == FALSE) withoutOwnJob_ = true;
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
  if (withoutOwnJob_ ||
      QueryInformationJobObject(job_.get(), JobObjectBasicAccountingInformation, &accounting,
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
  ReadJobList();
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
// A program that writes as fast as the doctor reads must not keep it here either: one call reads
// at most what a full pipe holds, and nothing once the deadline has passed.
void BoundedRun::ReadOutput() {
  std::array<char, ReadChunk> buffer{};
  DWORD available = 0;
  DWORD got = 0;
  constexpr std::size_t MostPerCall = 16 * ReadChunk;
  std::size_t read = 0;
  while (read < MostPerCall && (read == 0 || !DeadlinePassed()) &&
         PeekNamedPipe(reading_.get(), nullptr, 0, nullptr, &available, nullptr) != FALSE &&
         available > 0 &&
         ReadFile(reading_.get(), buffer.data(),
                  std::min<DWORD>(available, static_cast<DWORD>(buffer.size())), &got,
                  nullptr) != FALSE &&
         got > 0) {
    read += got;
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

// "JOBOBJECT_ASSOCIATE_COMPLETION_PORT structure" on Microsoft Learn: the job's messages are
// notices whose delivery is not guaranteed, so the job's own list of its processes is read too.
void BoundedRun::ReadJobList() {
  if (withoutOwnJob_) {
    ReadDescendants();
    return;
  }
  constexpr DWORD MostListed = 256;
  // The list's header and its ids, in storage aligned as the ids are.
  std::array<ULONG_PTR, MostListed + 2> storage{};
  auto* list = reinterpret_cast<JOBOBJECT_BASIC_PROCESS_ID_LIST*>(storage.data());
  list->NumberOfAssignedProcesses = MostListed;
  // Too many for the list fails with ERROR_MORE_DATA and still lists the first ones.
  if (QueryInformationJobObject(job_.get(), JobObjectBasicProcessIdList, list,
                                static_cast<DWORD>(sizeof storage), nullptr) == FALSE &&
      GetLastError() != ERROR_MORE_DATA) {
    return;
  }
  const DWORD listed = std::min(list->NumberOfProcessIdsInList, MostListed);
  const ULONG_PTR* ids = &list->ProcessIdList[0];
  for (DWORD i = 0; i < listed; ++i) Follow(static_cast<DWORD>(ids[i]));
}

// Without a job of its own, the doctor follows the program's descendants by the parent each was
// started by: an id of a followed process, whose handle the doctor holds, is no other's.
void BoundedRun::ReadDescendants() {
  const UniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return;
  std::vector<PROCESSENTRY32W> entries;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more != FALSE;
       more = Process32NextW(snapshot.get(), &entry)) {
    entries.push_back(entry);
  }
  const auto followed = [this](DWORD id) {
    return std::any_of(tree_.begin(), tree_.end(),
                       [&](const TreeProcess& process) { return process.id == id; });
  };
  // Until a pass adds nobody: a grandchild may be listed before its parent.
  for (bool added = true; added;) {
    added = false;
    for (const PROCESSENTRY32W& listed : entries) {
      if (!followed(listed.th32ProcessID) && followed(listed.th32ParentProcessID)) {
        Follow(listed.th32ProcessID);
        added = true;
      }
    }
  }
}

void BoundedRun::Follow(DWORD id) {
  if (std::any_of(tree_.begin(), tree_.end(),
                  [&](const TreeProcess& process) { return process.id == id; })) {
    return;
  }
  // Without the job to end them, the doctor ends what it followed one by one.
  const DWORD access =
      PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE | (withoutOwnJob_ ? PROCESS_TERMINATE : 0);
  TreeProcess process{id, {}, UniqueHandle(OpenProcess(access, FALSE, id))};
  if (!process.handle && withoutOwnJob_) {
    process.handle.reset(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, id));
  }
  if (process.handle && withoutOwnJob_) {
    process.image = ImageOf(process.handle.get());
  } else if (process.handle) {
    // An id read after its process ended may be another's by now: only one in the job counts.
    BOOL inJob = TRUE;
    if (IsProcessInJob(process.handle.get(), job_.get(), &inJob) != FALSE && inJob == FALSE) {
      return;
    }
    process.image = ImageOf(process.handle.get());
  }
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
  if (withoutOwnJob_) {
    for (const TreeProcess& process : tree_) {
      if (process.handle) TerminateProcess(process.handle.get(), 1);
    }
  } else {
    TerminateJobObject(job_.get(), 1);
  }
  const ULONGLONG until = GetTickCount64() + EndGraceMs;
  while (!TreeEnded() && GetTickCount64() < until) ReadAnnouncements(EndPollMs);
  ReadOutput();
  return ended;
}

void BoundedRun::LetGo() {
  // What the application starts from now on is its own business, outside the doctor's job.
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_SILENT_BREAKAWAY_OK;
  SetInformationJobObject(job_.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits);
  // "JOBOBJECT_ASSOCIATE_COMPLETION_PORT structure" on Microsoft Learn: no port (Windows 8 on)
  // ends the association, so that the application's job reports to nobody.
  JOBOBJECT_ASSOCIATE_COMPLETION_PORT none{nullptr, nullptr};
  SetInformationJobObject(job_.get(), JobObjectAssociateCompletionPortInformation, &none,
                          sizeof none);
  letGo_ = true;
}

}  // namespace dunvelt::doctor
