// zrk-update's entry on Windows: a GUI-subsystem program with no window.
#include <windows.h>

#include "driver/arguments_win32.h"
#include "driver/entry_retry_delay.h"
#include "driver/update_run.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  return zrk::run_update(zrk::utf8_arguments(GetCommandLineW()), zrk::entry_move_retry_delay());
}
