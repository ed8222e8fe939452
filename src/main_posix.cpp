// zrk-update's entry on POSIX hosts.
#include "driver/arguments.h"
#include "driver/entry_retry_delay.h"
#include "driver/update_run.h"

int main(int argc, char** argv) {
  return zrk::run_update(zrk::utf8_arguments(argc, argv), zrk::entry_move_retry_delay());
}
