/* Times how fast programs start, run by run and side by side, under Wine or Windows.
 *
 *   startup_timer.exe [options] FOLDER LABEL=PROGRAM[+runtime] ...
 *
 * Each round starts every program once, in an order shuffled afresh each round, so that machine
 * noise and any drift (caches, other load) fall on all of them alike, and so that no program
 * always follows the same other one. Per launch it measures, from just before CreateProcessW:
 *   exit      until the program's process has ended;
 *   runtime   until the runtime stand-in reports it has started (only for PROGRAM+runtime): the
 *             stand-in releases the semaphore named by DUNVELT_STANDIN_STARTED;
 *   settled   until every process of the launch (the program, the hidden interpreter, the
 *             runtime) has ended. The next launch only starts after that, so no launch runs
 *             alongside the leftovers of the one before.
 * Each program starts in FOLDER, inside a fresh job object, so that its descendants can be waited
 * for and, should anything hang, are ended with the job. After each launch the runtime records
 * (java-record-*.txt) in FOLDER are checked, one for a PROGRAM+runtime and none otherwise, and
 * removed.
 *
 * Before each launch it also waits until the processors have been nearly idle for a short
 * window. A process is reported as ended before the system has finished tearing it down, and
 * under Wine that teardown can keep a processor busy a while longer; a launch started at once
 * would pay for part of the one before. The wait is measured, not assumed, and bounded: on a
 * machine that never quiets down the launch goes ahead, and is counted as started busy.
 *
 * Options:
 *   --runs N      measured rounds (default 30)
 *   --warmup N    rounds run first and not counted (default 3)
 *   --ratio A/B   also report the per-round ratio of A's time to B's, for each metric both have
 *   --raw FILE    write every sample, one launch a line, as tab-separated text
 *   --no-quiet    start each launch as soon as the previous one has ended, without the wait
 *   --seed N      seed of the order shuffle (default 1), so that a run can be repeated
 * Output: tab-separated lines, "quiet WAITED-MEDIAN-MS STARTED-BUSY LAUNCHES",
 * "stat LABEL METRIC median p10 p90 n" and
 * "ratio A B METRIC median p10 p90 n ratio-of-medians difference-median difference-p10
 * difference-p90 median-low median-high", where the ratios and differences are taken round by
 * round (A's time less B's in the same round), and median-low to median-high is the 95 %
 * interval of the median ratio, by resampling the rounds. All times are in milliseconds. */
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

/* Far beyond any launch, even on a busy machine; only there so that a broken program fails the
 * benchmark instead of hanging it. */
#define DEADLINE_MS 60000

/* Quiet means: at most this share of all processors' time busy over one window. Wine reads the
 * processor times from /proc/stat, in 10 ms ticks, so the window spans a few ticks of each
 * processor; with 2 processors and 30 ms this accepts one busy tick out of six. */
#define QUIET_WINDOW_MS 30
#define QUIET_BUSY_PERCENT 20
#define QUIET_LIMIT_MS 2000

#define MAX_PROGRAMS 16
#define MAX_RATIOS 16

enum { METRIC_EXIT, METRIC_RUNTIME, METRIC_SETTLED, METRIC_COUNT };
static const char* const metric_names[METRIC_COUNT] = {"exit", "runtime", "settled"};

typedef struct {
  wchar_t label[64];
  wchar_t path[MAX_PATH * 2];
  int starts_runtime;
  double* samples[METRIC_COUNT]; /* one per measured round */
  int* positions;                /* where in its round it was started, from 0 */
} Program;

static Program programs[MAX_PROGRAMS];
static int program_count;
static int ratio_pairs[MAX_RATIOS][2];
static int ratio_count;
static LARGE_INTEGER frequency;
static HANDLE port, started;
static int quiet_enabled = 1, started_busy;
static double* quiet_waits;
static int quiet_wait_count;

static void fail(const char* what, const wchar_t* detail) {
  fprintf(stderr, "startup_timer: %s %ls (error %lu)\n", what, detail ? detail : L"",
          GetLastError());
  exit(1);
}

static double now_ms(void) {
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  return (double)counter.QuadPart * 1000.0 / (double)frequency.QuadPart;
}

static int find_label(const wchar_t* label) {
  for (int i = 0; i < program_count; ++i)
    if (wcscmp(programs[i].label, label) == 0) return i;
  return -1;
}

/* Waits until the job has no process left. The count is checked first, so a message that was
 * posted before the wait began is not needed. */
static int wait_job_empty(HANDLE job, ULONG_PTR key, DWORD deadline_tick) {
  for (;;) {
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting;
    memset(&accounting, 0, sizeof accounting);
    if (!QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &accounting,
                                   sizeof accounting, NULL))
      return 0;
    if (accounting.ActiveProcesses == 0) return 1;
    const DWORD tick = GetTickCount();
    if ((LONG)(deadline_tick - tick) <= 0) return 0;
    DWORD message;
    ULONG_PTR message_key;
    LPOVERLAPPED data;
    if (!GetQueuedCompletionStatus(port, &message, &message_key, &data, deadline_tick - tick) &&
        GetLastError() == WAIT_TIMEOUT)
      return 0;
    if (message_key == key && message == JOB_OBJECT_MSG_ACTIVE_PROCESS_ZERO) return 1;
  }
}

static ULONGLONG ticks_of(FILETIME time) {
  return ((ULONGLONG)time.dwHighDateTime << 32) | time.dwLowDateTime;
}

/* Waits until one window of QUIET_WINDOW_MS has seen the processors at most QUIET_BUSY_PERCENT
 * busy; returns 0 when that did not happen within QUIET_LIMIT_MS. */
static int wait_until_quiet(void) {
  const DWORD start = GetTickCount();
  FILETIME idle, kernel, user;
  GetSystemTimes(&idle, &kernel, &user);
  ULONGLONG last_idle = ticks_of(idle), last_total = ticks_of(kernel) + ticks_of(user);
  for (;;) {
    Sleep(QUIET_WINDOW_MS);
    GetSystemTimes(&idle, &kernel, &user);
    /* Kernel time includes idle time. */
    const ULONGLONG now_idle = ticks_of(idle), now_total = ticks_of(kernel) + ticks_of(user);
    const ULONGLONG total = now_total - last_total, idle_part = now_idle - last_idle;
    const ULONGLONG busy = total > idle_part ? total - idle_part : 0;
    if (total > 0 && busy * 100 <= total * QUIET_BUSY_PERCENT) return 1;
    if (GetTickCount() - start >= QUIET_LIMIT_MS) return 0;
    last_idle = now_idle;
    last_total = now_total;
  }
}

/* Removes the runtime records the stand-in left in folder and returns how many there were. They
 * go after every launch: the stand-in names them by process id, and Wine soon reuses ids, so a
 * record left behind would make a later stand-in fail to write its own. */
static int remove_records(const wchar_t* folder) {
  wchar_t pattern[MAX_PATH * 2 + 32], path[MAX_PATH * 2 + MAX_PATH];
  swprintf(pattern, sizeof pattern / sizeof *pattern, L"%ls\\java-record-*.txt", folder);
  WIN32_FIND_DATAW entry;
  const HANDLE find = FindFirstFileW(pattern, &entry);
  if (find == INVALID_HANDLE_VALUE) return 0;
  int count = 0;
  do {
    swprintf(path, sizeof path / sizeof *path, L"%ls\\%ls", folder, entry.cFileName);
    if (!DeleteFileW(path)) fail("cannot remove", path);
    ++count;
  } while (FindNextFileW(find, &entry));
  FindClose(find);
  return count;
}

/* One launch of one program; stores its times in slot (or nowhere for a warm-up round). */
static void launch(Program* program, const wchar_t* folder, ULONG_PTR key, int slot, int position) {
  if (quiet_enabled) {
    const double before = now_ms();
    const int quiet = wait_until_quiet();
    if (slot >= 0) {
      quiet_waits[quiet_wait_count++] = now_ms() - before;
      started_busy += !quiet;
    }
  }
  HANDLE job = CreateJobObjectW(NULL, NULL);
  if (!job) fail("cannot create a job object", NULL);
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits;
  memset(&limits, 0, sizeof limits);
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
  JOBOBJECT_ASSOCIATE_COMPLETION_PORT association = {(PVOID)key, port};
  if (!SetInformationJobObject(job, JobObjectAssociateCompletionPortInformation, &association,
                               sizeof association))
    fail("cannot watch the job of", program->label);

  wchar_t command_line[MAX_PATH * 2 + 3];
  swprintf(command_line, sizeof command_line / sizeof *command_line, L"\"%ls\"", program->path);
  STARTUPINFOW startup;
  memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process;

  /* Suspended until it is in the job, so that no descendant can escape the job. Every program
   * pays the same for it. */
  const double start = now_ms();
  if (!CreateProcessW(program->path, command_line, NULL, NULL, FALSE, CREATE_SUSPENDED, NULL,
                      folder, &startup, &process))
    fail("cannot start", program->path);
  if (!AssignProcessToJobObject(job, process.hProcess)) fail("cannot add to a job", program->path);
  ResumeThread(process.hThread);
  CloseHandle(process.hThread);

  const DWORD deadline_tick = GetTickCount() + DEADLINE_MS;
  double times[METRIC_COUNT] = {0, 0, 0};
  HANDLE waits[2] = {process.hProcess, started};
  int exited = 0, runtime_started = !program->starts_runtime;
  while (!exited || !runtime_started) {
    HANDLE pending[2];
    int count = 0;
    if (!exited) pending[count++] = waits[0];
    if (!runtime_started) pending[count++] = waits[1];
    const DWORD tick = GetTickCount();
    const DWORD left = (LONG)(deadline_tick - tick) > 0 ? deadline_tick - tick : 0;
    const DWORD result = WaitForMultipleObjects(count, pending, FALSE, left);
    const double when = now_ms();
    if (result >= WAIT_OBJECT_0 + (DWORD)count) {
      fail(exited ? "the runtime never started for" : "did not end in time:", program->path);
    }
    if (pending[result - WAIT_OBJECT_0] == process.hProcess) {
      exited = 1;
      times[METRIC_EXIT] = when - start;
    } else {
      runtime_started = 1;
      times[METRIC_RUNTIME] = when - start;
    }
  }
  if (!wait_job_empty(job, key, deadline_tick))
    fail("processes still running after the launch of", program->path);
  times[METRIC_SETTLED] = now_ms() - start;

  DWORD exit_code = STILL_ACTIVE;
  GetExitCodeProcess(process.hProcess, &exit_code);
  if (exit_code != 0) {
    fprintf(stderr, "startup_timer: %ls exited with code %lu\n", program->path, exit_code);
    exit(1);
  }
  /* A program that is not expected to start the runtime must not have done so either; a stray
   * release would shift every later runtime figure by one launch. And each runtime start must
   * have left its record, which shows the stand-in ran as bin\java.exe in the folder. */
  if (!program->starts_runtime && WaitForSingleObject(started, 0) == WAIT_OBJECT_0)
    fail("the runtime started although it should not have, for", program->path);
  const int records = remove_records(folder);
  if (records != program->starts_runtime) {
    fprintf(stderr, "startup_timer: %d runtime records after a launch of %ls, expected %d\n",
            records, program->path, program->starts_runtime);
    exit(1);
  }

  CloseHandle(process.hProcess);
  CloseHandle(job);
  if (slot >= 0) {
    for (int m = 0; m < METRIC_COUNT; ++m) program->samples[m][slot] = times[m];
    program->positions[slot] = position;
  }
}

/* A small generator of its own, so that the order of a run depends only on SEED. */
static unsigned next_random(unsigned* state) {
  *state = *state * 1103515245u + 12345u;
  return *state >> 16;
}

static int compare_doubles(const void* a, const void* b) {
  const double x = *(const double*)a, y = *(const double*)b;
  return x < y ? -1 : x > y;
}

/* Median, and the 10th and 90th percentiles by nearest rank, of n values (sorted in place). */
static void summarize(double* values, int n, double* median, double* p10, double* p90) {
  qsort(values, n, sizeof *values, compare_doubles);
  *median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
  int low = (n * 10 + 99) / 100, high = (n * 90 + 99) / 100;
  *p10 = values[(low > 0 ? low : 1) - 1];
  *p90 = values[(high > 0 ? high : 1) - 1];
}

/* The 95 % interval of the median of n values, by bootstrap: the rounds are drawn again with
 * replacement, many times, with a fixed seed so that the same samples give the same interval. */
static void median_interval(const double* values, int n, double* low, double* high) {
  enum { RESAMPLES = 2000 };
  double* medians = calloc(RESAMPLES, sizeof(double));
  double* drawn = calloc(n, sizeof(double));
  unsigned state = 1;
  for (int r = 0; r < RESAMPLES; ++r) {
    for (int i = 0; i < n; ++i) drawn[i] = values[next_random(&state) % (unsigned)n];
    double ignored;
    summarize(drawn, n, &medians[r], &ignored, &ignored);
  }
  qsort(medians, RESAMPLES, sizeof *medians, compare_doubles);
  *low = medians[RESAMPLES * 25 / 1000];
  *high = medians[RESAMPLES * 975 / 1000 - 1];
  free(drawn);
  free(medians);
}

static int metric_applies(const Program* program, int metric) {
  return metric != METRIC_RUNTIME || program->starts_runtime;
}

static void usage(void) {
  fprintf(stderr,
          "usage: startup_timer [--runs N] [--warmup N] [--ratio A/B]... [--raw FILE] "
          "[--no-quiet] [--seed N] FOLDER LABEL=PROGRAM[+runtime]...\n");
  exit(2);
}

int wmain(int argc, wchar_t** argv) {
  int runs = 30, warmup = 3, arg = 1;
  unsigned seed = 1;
  const wchar_t* raw_path = NULL;
  wchar_t ratio_text[MAX_RATIOS][130];
  int ratio_texts = 0;
  for (; arg < argc && wcsncmp(argv[arg], L"--", 2) == 0; arg += 2) {
    if (wcscmp(argv[arg], L"--no-quiet") == 0) {
      quiet_enabled = 0;
      --arg;
      continue;
    }
    if (arg + 1 >= argc) usage();
    if (wcscmp(argv[arg], L"--runs") == 0)
      runs = _wtoi(argv[arg + 1]);
    else if (wcscmp(argv[arg], L"--warmup") == 0)
      warmup = _wtoi(argv[arg + 1]);
    else if (wcscmp(argv[arg], L"--seed") == 0)
      seed = (unsigned)_wtoi(argv[arg + 1]);
    else if (wcscmp(argv[arg], L"--raw") == 0)
      raw_path = argv[arg + 1];
    else if (wcscmp(argv[arg], L"--ratio") == 0 && ratio_texts < MAX_RATIOS)
      wcsncpy(ratio_text[ratio_texts++], argv[arg + 1], 129);
    else
      usage();
  }
  if (runs < 1 || warmup < 0 || argc - arg < 2) usage();

  wchar_t folder[MAX_PATH * 2];
  if (!GetFullPathNameW(argv[arg++], MAX_PATH * 2, folder, NULL)) fail("bad folder", NULL);
  for (; arg < argc; ++arg) {
    if (program_count == MAX_PROGRAMS) usage();
    Program* program = &programs[program_count++];
    const wchar_t* equals = wcschr(argv[arg], L'=');
    if (!equals || equals == argv[arg] || equals - argv[arg] >= 64) usage();
    wcsncpy(program->label, argv[arg], equals - argv[arg]);
    wchar_t path[MAX_PATH * 2];
    wcsncpy(path, equals + 1, MAX_PATH * 2 - 1);
    path[MAX_PATH * 2 - 1] = 0;
    const size_t length = wcslen(path);
    if (length > 8 && wcscmp(path + length - 8, L"+runtime") == 0) {
      program->starts_runtime = 1;
      path[length - 8] = 0;
    }
    if (!GetFullPathNameW(path, MAX_PATH * 2, program->path, NULL)) fail("bad path", path);
    if (GetFileAttributesW(program->path) == INVALID_FILE_ATTRIBUTES)
      fail("no such program:", program->path);
    for (int m = 0; m < METRIC_COUNT; ++m) program->samples[m] = calloc(runs, sizeof(double));
    program->positions = calloc(runs, sizeof(int));
  }
  for (int r = 0; r < ratio_texts; ++r) {
    wchar_t* slash = wcschr(ratio_text[r], L'/');
    if (!slash) usage();
    *slash = 0;
    const int a = find_label(ratio_text[r]), b = find_label(slash + 1);
    if (a < 0 || b < 0) usage();
    ratio_pairs[ratio_count][0] = a;
    ratio_pairs[ratio_count++][1] = b;
  }

  /* Joins the desktop and stays on it until the end. Wine runs the desktop in a process of its
   * own that ends about a second after the last program on the desktop has, and starts it again
   * for the next one: that start, or that end landing on a launch, would add tens of
   * milliseconds to some launches and not others. On Windows the desktop is always there. */
  if (!GetDesktopWindow()) fail("cannot join the desktop", NULL);

  QueryPerformanceFrequency(&frequency);
  /* The name is unique to this run, so that a stand-in left over from anything else cannot
   * release it. The programs inherit the variable through this process's environment. */
  wchar_t started_name[64];
  swprintf(started_name, 64, L"dunvelt-bench-%lu-started", GetCurrentProcessId());
  started = CreateSemaphoreW(NULL, 0, 1000, started_name);
  port = CreateIoCompletionPort(INVALID_HANDLE_VALUE, NULL, 0, 1);
  if (!started || !port) fail("cannot create the semaphore or the completion port", NULL);
  SetEnvironmentVariableW(L"DUNVELT_STANDIN_STARTED", started_name);

  remove_records(folder);
  quiet_waits = calloc((size_t)runs * program_count, sizeof(double));
  ULONG_PTR key = 0;
  int order[MAX_PROGRAMS];
  for (int round = -warmup; round < runs; ++round) {
    for (int i = 0; i < program_count; ++i) order[i] = i;
    for (int i = program_count - 1; i > 0; --i) {
      const int j = (int)(next_random(&seed) % (unsigned)(i + 1)), kept = order[i];
      order[i] = order[j];
      order[j] = kept;
    }
    for (int i = 0; i < program_count; ++i) launch(&programs[order[i]], folder, ++key, round, i);
  }

  if (raw_path) {
    FILE* raw = _wfopen(raw_path, L"w");
    if (!raw) fail("cannot write", raw_path);
    fprintf(raw, "round\tposition\tlabel\texit_ms\truntime_ms\tsettled_ms\n");
    for (int round = 0; round < runs; ++round)
      for (int i = 0; i < program_count; ++i)
        fprintf(raw, "%d\t%d\t%ls\t%.3f\t%.3f\t%.3f\n", round, programs[i].positions[round],
                programs[i].label, programs[i].samples[METRIC_EXIT][round],
                programs[i].samples[METRIC_RUNTIME][round],
                programs[i].samples[METRIC_SETTLED][round]);
    fclose(raw);
  }

  if (quiet_enabled) {
    double median, ignored;
    summarize(quiet_waits, quiet_wait_count, &median, &ignored, &ignored);
    printf("quiet\t%.1f\t%d\t%d\n", median, started_busy, quiet_wait_count);
  }

  /* Ratios first: summarizing sorts the samples, which would break the pairing by round. */
  double* scratch = calloc(runs, sizeof(double));
  for (int r = 0; r < ratio_count; ++r) {
    const Program *a = &programs[ratio_pairs[r][0]], *b = &programs[ratio_pairs[r][1]];
    for (int m = 0; m < METRIC_COUNT; ++m) {
      if (!metric_applies(a, m) || !metric_applies(b, m)) continue;
      for (int round = 0; round < runs; ++round)
        scratch[round] = a->samples[m][round] / b->samples[m][round];
      double median, p10, p90, median_a, median_b, difference, difference_p10, difference_p90, low,
          high, ignored;
      median_interval(scratch, runs, &low, &high);
      summarize(scratch, runs, &median, &p10, &p90);
      for (int round = 0; round < runs; ++round)
        scratch[round] = a->samples[m][round] - b->samples[m][round];
      summarize(scratch, runs, &difference, &difference_p10, &difference_p90);
      memcpy(scratch, a->samples[m], runs * sizeof(double));
      summarize(scratch, runs, &median_a, &ignored, &ignored);
      memcpy(scratch, b->samples[m], runs * sizeof(double));
      summarize(scratch, runs, &median_b, &ignored, &ignored);
      printf("ratio\t%ls\t%ls\t%s\t%.3f\t%.3f\t%.3f\t%d\t%.3f\t%.2f\t%.2f\t%.2f\t%.3f\t%.3f\n",
             a->label, b->label, metric_names[m], median, p10, p90, runs, median_a / median_b,
             difference, difference_p10, difference_p90, low, high);
    }
  }
  for (int i = 0; i < program_count; ++i) {
    for (int m = 0; m < METRIC_COUNT; ++m) {
      if (!metric_applies(&programs[i], m)) continue;
      double median, p10, p90;
      summarize(programs[i].samples[m], runs, &median, &p10, &p90);
      printf("stat\t%ls\t%s\t%.2f\t%.2f\t%.2f\t%d\n", programs[i].label, metric_names[m], median,
             p10, p90, runs);
    }
  }
  return 0;
}
