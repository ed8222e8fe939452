// Command lines: the input split at NUL bytes is the argument list.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "driver/options.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  std::vector<std::string> args(1);
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      args.emplace_back();
    } else {
      args.back().push_back(static_cast<char>(data[i]));
    }
  }
  zrk::UpdateOptions options;
  std::string error;
  const bool ok = zrk::parse_options(args, &options, &error);
  const bool sane = ok ? options.pid >= 1 && !options.install.empty() && !options.archive.empty() &&
                             !options.relaunch.empty()
                       : !error.empty();
  if (!sane) {
    std::fprintf(stderr, "options_fuzz: %s result breaks the contract\n",
                 ok ? "accepted" : "refused");
    std::abort();
  }
  return 0;
}
