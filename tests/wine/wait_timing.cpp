// What the hidden interpreter costs a user, on the Windows this runs on: a double-click on
// Dunvelt.exe against one on the floor program (bench/floor_start.cpp), which starts the same
// runtime with the same options itself, without the shell's interpreter and its console, timed up
// to the moment the stand-in runtime has started. The two take turns, round after round, so that a
// busy minute falls on both alike, and every figure pairs the two starts of one round. It prints
// the figures and judges only that every launch worked: how fast a machine is, no test can say.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "launch_harness.h"
#include "wait_timing.h"
#include "wine_test.h"

namespace {

using winetest::Distribution;
using winetest::Launches;

constexpr int Rounds = 20;
// The first starts of a program read it from the disk and warm the system's caches: not counted.
constexpr int WarmUpRounds = 1;
constexpr int Resamples = 2000;

double Quantile(std::vector<double> values, double fraction) {
  std::sort(values.begin(), values.end());
  const double place = fraction * static_cast<double>(values.size() - 1);
  const std::size_t low = static_cast<std::size_t>(place);
  const std::size_t high = std::min(low + 1, values.size() - 1);
  return values[low] + (values[high] - values[low]) * (place - static_cast<double>(low));
}

double Median(const std::vector<double>& values) { return Quantile(values, 0.5); }

struct Interval {
  double low, high;
};

// The 95 % interval of the median: the rounds drawn again with replacement, with a fixed seed so
// that the same samples always give the same interval.
Interval MedianInterval(const std::vector<double>& values) {
  std::mt19937 generator(1);
  std::uniform_int_distribution<std::size_t> pick(0, values.size() - 1);
  std::vector<double> medians, drawn(values.size());
  for (int i = 0; i < Resamples; ++i) {
    for (double& value : drawn) value = values[pick(generator)];
    medians.push_back(Median(drawn));
  }
  return {Quantile(medians, 0.025), Quantile(medians, 0.975)};
}

std::wstring FileName(const std::wstring& path) {
  return path.substr(path.find_last_of(L'\\') + 1);
}

// One double-click on the program, in the folder: the milliseconds from just before the start
// until the runtime has started. The launch must start the runtime once with the launcher's
// command, and every process of it must have ended before the next launch starts.
double TimedDoubleClick(const Distribution& distribution, const std::wstring& program) {
  Launches launches;
  LARGE_INTEGER frequency, begin, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&begin);
  const HANDLE shell = launches.StartCommand(distribution.folder, winetest::DoubleClick(program));
  const bool started = launches.RuntimeStarted();
  QueryPerformanceCounter(&end);
  CHECK(started, L": " + program + L" must start the runtime");
  CHECK(Launches::ExitCode(shell) == 0, L": " + program);
  CHECK(launches.AllEnded(), L": " + program);
  winetest::CheckSingleRuntimeRun(distribution);
  // Windows reuses process ids, and the stand-in never overwrites a record.
  for (const std::wstring& name : winetest::FolderEntries(distribution.folder))
    if (name.rfind(L"java-record-", 0) == 0)
      DeleteFileW((distribution.folder + L"\\" + name).c_str());
  return static_cast<double>(end.QuadPart - begin.QuadPart) * 1000.0 /
         static_cast<double>(frequency.QuadPart);
}

void PrintTimes(const std::wstring& program, const std::vector<double>& times) {
  std::printf("  %-18ls median %7.1f ms, p10-p90 %.1f-%.1f ms\n", FileName(program).c_str(),
              Median(times), Quantile(times, 0.1), Quantile(times, 0.9));
}

std::wstring WindowsVersion() {
  OSVERSIONINFOW version{};
  version.dwOSVersionInfoSize = sizeof version;
  // To a program whose manifest does not name it, GetVersionExW says 6.2 on every Windows since
  // 8; this says what runs.
  using Query = LONG(WINAPI*)(OSVERSIONINFOW*);
  const auto query = reinterpret_cast<Query>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion")));
  if (query == nullptr || query(&version) != 0) return L"?";
  return std::to_wstring(version.dwMajorVersion) + L"." + std::to_wstring(version.dwMinorVersion) +
         L"." + std::to_wstring(version.dwBuildNumber);
}

}  // namespace

void TimeTheWaitForTheRuntime() {
  const std::wstring launcher = winetest::LauncherPath(), floor = winetest::FloorProgramPath();
  CHECK(winetest::Exists(floor), L": no floor program at " + floor);
  if (!winetest::Exists(floor)) return;
  Distribution distribution(L"wait-timing");
  SYSTEM_INFO system;
  GetNativeSystemInfo(&system);
  // The programs by name only: the console's code page may not hold their folder's characters.
  std::printf(
      "Double-click to the runtime's start, %d rounds after %d warm-up, on Windows %ls with "
      "%lu processors:\n",
      Rounds, WarmUpRounds, WindowsVersion().c_str(), system.dwNumberOfProcessors);
  std::vector<double> launcherTimes, floorTimes;
  for (int round = 0; round < WarmUpRounds + Rounds && winetest::g_failures == 0; ++round) {
    // In turns: each program goes first in every other round.
    const bool launcherFirst = round % 2 == 0;
    const double first = TimedDoubleClick(distribution, launcherFirst ? launcher : floor);
    const double second = TimedDoubleClick(distribution, launcherFirst ? floor : launcher);
    if (round < WarmUpRounds) continue;
    launcherTimes.push_back(launcherFirst ? first : second);
    floorTimes.push_back(launcherFirst ? second : first);
  }
  if (winetest::g_failures != 0) return;  // no figure from launches that did not all work
  std::vector<double> ratios, differences;
  for (std::size_t i = 0; i < launcherTimes.size(); ++i) {
    ratios.push_back(launcherTimes[i] / floorTimes[i]);
    differences.push_back(launcherTimes[i] - floorTimes[i]);
  }
  PrintTimes(launcher, launcherTimes);
  PrintTimes(floor, floorTimes);
  const Interval ratio = MedianInterval(ratios), difference = MedianInterval(differences);
  std::printf("  %ls / %ls: %.3f, 95 %% interval %.3f-%.3f (the median of the per-round ratios)\n",
              FileName(launcher).c_str(), FileName(floor).c_str(), Median(ratios), ratio.low,
              ratio.high);
  std::printf(
      "  The hidden interpreter (cmd.exe and its console, started by the shell) costs "
      "%.1f ms a start, 95 %% interval %.1f-%.1f ms (the median of the per-round "
      "differences)\n",
      Median(differences), difference.low, difference.high);
}
