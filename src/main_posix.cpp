// zrk-update's entry on POSIX hosts.
#include "driver/arguments.h"
#include "driver/update_run.h"

int main(int argc, char** argv) { return zrk::run_update(zrk::utf8_arguments(argc, argv)); }
