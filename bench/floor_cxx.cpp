// The floor, built the way the launcher is built: C++ behind mingw-w64's start-up code, with
// libstdc++ and libgcc linked in statically. A string and an exception handler bring in the same
// library parts the launcher uses, and with them whatever those parts do when a program starts.
// Then it only ends, so its time less the floor's is what that start-up costs.
#include <windows.h>

#include <string>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR commandLine, int) {
  UINT exitCode = 0;
  try {
    // Built from the command line so that the compiler cannot fold it away.
    const std::u16string text(reinterpret_cast<const char16_t*>(commandLine));
    if (text.size() > 100000) exitCode = 2;
  } catch (...) {
    exitCode = 1;
  }
  ExitProcess(exitCode);
}
