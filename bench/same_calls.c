/* The reference for the launcher: the very platform calls Dunvelt.exe makes, in the same order
 * and with the same arguments, and nothing else. No C runtime and no C++ library: entry() is the
 * image's entry point. If the launcher is within noise of this program, it adds nothing
 * measurable to the work the platform must do anyway. */
#include <windows.h>
#include <objbase.h>
#include <ole2.h>
#include <shellapi.h>

/* The launcher's command text, character for character. */
static const wchar_t parameters[] =
    L"/C \"bin\\java.exe\""
    L" -Dprism.order=sw"
    L" -Dcom.sun.javafx.isEmbedded=true"
    L" -Dcom.sun.javafx.touch=true"
    L" -Dcom.sun.javafx.virtualKeyboard=none"
    L" -XX:+UseG1GC"
    L" -Xmx1g"
    L" -Xms32m"
    L" -m orbisk/com.varkelund.orbiskapp.Main";

void WINAPI entry(void) {
  /* Released only when set up, OLE before COM, as the launcher does. */
  const HRESULT ole = OleInitialize(NULL);
  const HRESULT com = CoInitialize(NULL);
  const HINSTANCE instance = ShellExecuteW(NULL, NULL, L"cmd.exe", parameters, NULL, SW_HIDE);
  /* The launcher reads the error straight after the call, whether it needs it or not. */
  const DWORD error = GetLastError();
  PostQuitMessage(0);
  if (SUCCEEDED(ole)) OleUninitialize();
  if (SUCCEEDED(com)) CoUninitialize();
  ExitProcess((INT_PTR)instance > 32 ? 0 : error != 0 ? error : 1);
}
