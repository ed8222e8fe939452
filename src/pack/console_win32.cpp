// Windows runs a console control handler on a thread of its own.
#include <windows.h>

#include <io.h>

#include <cstdio>

#include "pack/console.h"

namespace zrk {

namespace {

BOOL WINAPI on_control(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) {
    return FALSE;
  }
  remove_registered_paths();
  // The workers are wherever the interrupt found them, perhaps inside the C
  // runtime's locks: ExitProcess would run the DLLs' detach code with them
  // still running and may hang there. Nothing is left to flush by now.
  TerminateProcess(GetCurrentProcess(), 130);
  return TRUE;
}

}  // namespace

void install_interrupt_cleanup() { SetConsoleCtrlHandler(on_control, TRUE); }

bool stderr_is_terminal() { return _isatty(_fileno(stderr)) != 0; }

}  // namespace zrk
