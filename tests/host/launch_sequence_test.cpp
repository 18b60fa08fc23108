#include "launch_sequence.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <string>
#include <vector>

// Counts the heap blocks alive while the launcher runs, so that the tests can see when its texts
// are released, and can make the Nth allocation fail.
namespace {
bool g_tracking = false;
int g_liveBlocks = 0;
int g_allocationsUntilFailure = -1;  // -1: never fail
}  // namespace

void* operator new(std::size_t size) {
  if (g_tracking) {
    if (g_allocationsUntilFailure == 0) throw std::bad_alloc();
    if (g_allocationsUntilFailure > 0) --g_allocationsUntilFailure;
    ++g_liveBlocks;
  }
  if (void* block = std::malloc(size != 0 ? size : 1)) return block;
  throw std::bad_alloc();
}
void operator delete(void* block) noexcept {
  if (block != nullptr && g_tracking) --g_liveBlocks;
  std::free(block);
}
void operator delete(void* block, std::size_t) noexcept { operator delete(block); }

namespace dunvelt {
namespace {

using ::testing::ElementsAre;

constexpr HResult S_OK_ = 0, S_FALSE_ = 1;
constexpr HResult E_FAIL_ = static_cast<HResult>(0x80004005);
constexpr HResult RPC_E_CHANGED_MODE_ = static_cast<HResult>(0x80010106);

// Records every platform call, and how many heap blocks were alive when it was made. It never
// allocates itself, so the block count is the launcher's alone.
class RecordingPlatform final : public Platform {
 public:
  struct Call {
    std::string name;
    int liveBlocks;
  };

  HResult oleResult = S_OK_;
  HResult comResult = S_OK_;
  ShellExecuteOutcome shellOutcome{42, 0};

  const char* calls[16] = {};
  int liveBlocksAt[16] = {};
  int callCount = 0;
  void* owner = reinterpret_cast<void*>(1);
  const char16_t* operation = u"unset";
  std::u16string file, parameters;
  const char16_t* directory = u"unset";
  int showCommand = -1;
  int quitCode = -1;
  std::uint32_t exitCode = 12345;

  HResult OleInitialize() override {
    Record("OleInitialize");
    return oleResult;
  }
  HResult CoInitialize() override {
    Record("CoInitialize");
    return comResult;
  }
  ShellExecuteOutcome ShellExecuteW(void* owner_, const char16_t* operation_, const char16_t* file_,
                                    const char16_t* parameters_, const char16_t* directory_,
                                    int showCommand_) override {
    Record("ShellExecuteW");
    owner = owner_, operation = operation_, directory = directory_, showCommand = showCommand_;
    g_tracking = false;  // the copies below belong to the test, not the launcher
    file = file_, parameters = parameters_;
    g_tracking = true;
    return shellOutcome;
  }
  void PostQuitMessage(int code) override {
    Record("PostQuitMessage");
    quitCode = code;
  }
  void OleUninitialize() override { Record("OleUninitialize"); }
  void CoUninitialize() override { Record("CoUninitialize"); }
  void ExitProcess(std::uint32_t code) override {
    Record("ExitProcess");
    exitCode = code;
  }

  std::vector<std::string> Calls() const { return {calls, calls + callCount}; }
  int LiveBlocksAt(const std::string& name) const {
    for (int i = 0; i < callCount; ++i)
      if (name == calls[i]) return liveBlocksAt[i];
    return -1;
  }

 private:
  void Record(const char* name) {
    if (callCount == 16) return;
    calls[callCount] = name;
    liveBlocksAt[callCount++] = g_liveBlocks;
  }
};

class LaunchSequence : public ::testing::Test {
 protected:
  void Run(int failingAllocation = -1) {
    g_liveBlocks = 0;
    g_allocationsUntilFailure = failingAllocation;
    g_tracking = true;
    RunLauncher(platform);
    g_tracking = false;
    g_allocationsUntilFailure = -1;
  }

  RecordingPlatform platform;
};

TEST_F(LaunchSequence, MakesThePlatformCallsInOrder) {
  Run();
  EXPECT_THAT(platform.Calls(),
              ElementsAre("OleInitialize", "CoInitialize", "ShellExecuteW", "PostQuitMessage",
                          "OleUninitialize", "CoUninitialize", "ExitProcess"));
  EXPECT_EQ(platform.quitCode, 0);
  EXPECT_EQ(platform.exitCode, 0u);
}

TEST_F(LaunchSequence, AsksTheShellForTheHiddenInterpreterWithTheJavaCommand) {
  Run();
  EXPECT_EQ(platform.owner, nullptr);
  EXPECT_EQ(platform.operation, nullptr);
  EXPECT_EQ(platform.file, u"cmd.exe");
  EXPECT_EQ(platform.parameters,
            uR"(/C "bin\java.exe" -Dprism.order=sw -Dcom.sun.javafx.isEmbedded=true )"
            uR"(-Dcom.sun.javafx.touch=true -Dcom.sun.javafx.virtualKeyboard=none )"
            uR"(-XX:+UseG1GC -Xmx1g -Xms32m -m orbisk/com.varkelund.orbiskapp.Main)");
  EXPECT_EQ(platform.directory, nullptr) << "the interpreter must inherit the current directory";
  EXPECT_EQ(platform.showCommand, 0) << "SW_HIDE";
}

TEST_F(LaunchSequence, HoldsItsTextsUntilTheQuitMessageAndReleasesThemBeforeTheApartment) {
  Run();
  EXPECT_GE(platform.LiveBlocksAt("PostQuitMessage"), 2) << "runtime path and parameters";
  EXPECT_EQ(platform.LiveBlocksAt("OleUninitialize"), 0);
  EXPECT_EQ(platform.LiveBlocksAt("ExitProcess"), 0);
}

struct InitialisationResults {
  const char* name;
  HResult ole, com;
  bool releasesOle, releasesCom;
};

void PrintTo(const InitialisationResults& results, std::ostream* out) { *out << results.name; }

class ApartmentRelease : public LaunchSequence,
                         public ::testing::WithParamInterface<InitialisationResults> {};

TEST_P(ApartmentRelease, FollowsItsInitialisation) {
  platform.oleResult = GetParam().ole;
  platform.comResult = GetParam().com;
  Run();
  std::vector<std::string> expected{"OleInitialize", "CoInitialize", "ShellExecuteW",
                                    "PostQuitMessage"};
  if (GetParam().releasesOle) expected.push_back("OleUninitialize");
  if (GetParam().releasesCom) expected.push_back("CoUninitialize");
  expected.push_back("ExitProcess");
  EXPECT_EQ(platform.Calls(), expected);
  EXPECT_EQ(platform.exitCode, 0u) << "a failed initialisation does not stop the launch";
}

INSTANTIATE_TEST_SUITE_P(
    , ApartmentRelease,
    ::testing::Values(
        InitialisationResults{"BothSucceed", S_OK_, S_OK_, true, true},
        InitialisationResults{"BothAlreadyInitialised", S_FALSE_, S_FALSE_, true, true},
        InitialisationResults{"OleFails", E_FAIL_, S_OK_, false, true},
        InitialisationResults{"ComFindsOtherMode", S_OK_, RPC_E_CHANGED_MODE_, true, false},
        InitialisationResults{"BothFail", RPC_E_CHANGED_MODE_, E_FAIL_, false, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(LaunchSequence, EndsWithTheShellsErrorWhenTheInterpreterCannotStart) {
  platform.shellOutcome = {2, 2};  // SE_ERR_FNF, ERROR_FILE_NOT_FOUND
  Run();
  EXPECT_EQ(platform.exitCode, 2u);
  EXPECT_THAT(platform.Calls(),
              ElementsAre("OleInitialize", "CoInitialize", "ShellExecuteW", "PostQuitMessage",
                          "OleUninitialize", "CoUninitialize", "ExitProcess"));
}

TEST_F(LaunchSequence, TreatsThirtyTwoAndBelowAsFailureAndAboveAsSuccess) {
  const struct {
    std::intptr_t instance;
    std::uint32_t lastError, exitCode;
  } cases[] = {{32, 5, 5}, {0, 0, 1}, {31, 0, 1}, {33, 5, 0}, {42, 0, 0}, {33, 259, 0}};
  for (const auto& c : cases) {
    platform = RecordingPlatform();
    platform.shellOutcome = {c.instance, c.lastError};
    Run();
    EXPECT_EQ(platform.exitCode, c.exitCode) << "instance " << c.instance;
  }
}

// A waiting parent reads 259 as STILL_ACTIVE, so the launcher never ends with it; its neighbours
// are passed on as they are.
TEST_F(LaunchSequence, NeverEndsWithTheStillActiveCode) {
  const struct { std::uint32_t lastError, exitCode; } cases[] = {{259, 1}, {258, 258}, {260, 260}};
  for (const auto& c : cases) {
    platform = RecordingPlatform();
    platform.shellOutcome = {0, c.lastError};
    Run();
    EXPECT_EQ(platform.exitCode, c.exitCode) << "error " << c.lastError;
    EXPECT_THAT(platform.Calls(),
                ElementsAre("OleInitialize", "CoInitialize", "ShellExecuteW", "PostQuitMessage",
                            "OleUninitialize", "CoUninitialize", "ExitProcess"));
  }
}

TEST_F(LaunchSequence, ReleasesEverythingAndReportsFailureWhenAnyAllocationFails) {
  for (int failing = 0;; ++failing) {
    platform = RecordingPlatform();
    Run(failing);
    if (platform.exitCode == 0) {
      EXPECT_GT(failing, 0) << "the launcher allocates its texts";
      break;  // the run needed fewer allocations than that: every one has been failed once
    }
    SCOPED_TRACE("allocation " + std::to_string(failing) + " fails");
    EXPECT_EQ(platform.exitCode, GenericFailureExitCode);
    EXPECT_THAT(platform.Calls(), ElementsAre("OleInitialize", "CoInitialize", "OleUninitialize",
                                              "CoUninitialize", "ExitProcess"));
    EXPECT_EQ(platform.LiveBlocksAt("ExitProcess"), 0);
    ASSERT_LT(failing, 50);
  }
}

}  // namespace
}  // namespace dunvelt
