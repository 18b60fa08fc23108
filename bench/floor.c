/* The floor: a GUI program that does nothing but end. Loading and ending a process is paid by any
 * program at all, so what the launcher takes beyond this is the cost of its own work.
 * No C runtime: entry() is the image's entry point, so nothing runs before it.
 *
 * Built with WITH_C_RUNTIME, it ends from wWinMain behind mingw-w64's usual start-up code
 * instead, which shows what that start-up code costs on its own. Built with IMPORT_MSVCRT, it
 * only imports the C library that start-up code uses, without running any of it, which tells
 * loading that library apart from the start-up work. */
#include <windows.h>

#ifdef IMPORT_MSVCRT
#include <process.h>
#endif

void WINAPI entry(void) {
#ifdef IMPORT_MSVCRT
  /* Never true, but the compiler cannot know, so the import stays. */
  if (!GetModuleHandleW(NULL)) _getpid();
#endif
  ExitProcess(0);
}

#ifdef WITH_C_RUNTIME
int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, PWSTR command_line, int show) {
  (void)instance, (void)previous, (void)command_line, (void)show;
  entry();
  return 0;
}
#endif
