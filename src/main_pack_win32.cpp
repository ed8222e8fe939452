// zrk-pack's entry on Windows: a console program; its arguments come from the
// wide command line, converted to UTF-8, and its output is UTF-8 too.
#include <windows.h>

#include "driver/arguments_win32.h"
#include "pack/pack_command.h"

int main() {
  SetConsoleOutputCP(CP_UTF8);
  return zrk::run_pack(zrk::utf8_arguments(GetCommandLineW()));
}
