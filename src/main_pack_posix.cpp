// zrk-pack's entry on POSIX hosts.
#include "driver/arguments.h"
#include "pack/pack_command.h"

int main(int argc, char** argv) { return zrk::run_pack(zrk::utf8_arguments(argc, argv)); }
